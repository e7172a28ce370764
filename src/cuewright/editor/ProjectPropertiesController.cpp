#include "cuewright/editor/ProjectPropertiesController.h"

#include "cuewright/controls/ActionableLabelDivider.h"
#include "cuewright/controls/LabelButton.h"
#include "cuewright/controls/LabeledDivider.h"
#include "cuewright/controls/PrompterColorWell.h"
#include "cuewright/controls/RangeSlider.h"
#include "cuewright/controls/TimeControl.h"
#include "cuewright/editor/SegmentedControl.h"
#include "cuewright/editor/SidebarPaneLayout.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/model/TimeFormat.h"
#include "cuewright/model/UserDefaults.h"
#include "platform/ui/FontPanel.h"

#include "base/Log.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QFontDatabase>
#include <QFontDialog>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>

#include <array>
#include <cmath>

namespace cw::editor {

namespace {

using Pane = ProjectPropertiesController;

constexpr std::array<PaneAction<Pane>, 19> actions{{
    {"resetTextcolor:", &Pane::resetTextColor},
    {"changeBackgroundColor:", &Pane::changeBackgroundColor},
    {"resetBackgroundColor:", &Pane::resetBackgroundColor},
    {"changeTextAlignment:", &Pane::changeTextAlignment},
    {"selectFont:", &Pane::selectFont},
    {"resetFont:", &Pane::resetFont},
    {"syncPropertiesToProject:", &Pane::syncAllPropertiesToProject},
    {"changeSpeed:", &Pane::changeSpeed},
    {"changeSpeedRange:", &Pane::changeSpeedRange},
    {"resetScrollSpeed:", &Pane::resetScrollSpeed},
    {"resetPrompterMargin:", &Pane::resetPrompterMargin},
    {"resetWordCountFactor:", &Pane::resetWordCountFactor},
    {"changeRuntimeByStepper:", &Pane::changeRuntimeByStepper},
    {"changeSpeedUnit:", &Pane::changeSpeedUnit},
    {"changeSpeedUnitDown:", &Pane::changeSpeedUnitDown},
    {"updateSpeedStats:", &Pane::updateSpeedStats},
    {"speedUnitDidChange:", &Pane::speedUnitDidChange},
    {"controlTextDidEndEditing:", &Pane::runtimeDidEndEditing},
    {"changeTextColor:", nullptr}, // the text colour well only shows the typing colour
}};

// The texts of one unit: the section title, the speed, and the range.
struct UnitTexts {
    const char* title;
    const char* speed;
    const char* range;
};

UnitTexts unitTexts(ScrollingSpeedUnit unit) {
    switch (unit) {
    case ScrollingSpeedUnit::linesPerSecond:
        return {QT_TR_NOOP("Scroll Speed (Lines/Sec)"), QT_TR_NOOP("%.2f Lines/Sec"),
                QT_TR_NOOP("%.2f - %.2f Lines/Sec")};
    case ScrollingSpeedUnit::linesPerMinute:
        return {QT_TR_NOOP("Scroll Speed (Lines/Min)"), QT_TR_NOOP("%.2f Lines/Min"),
                QT_TR_NOOP("%.2f - %.2f Lines/Min")};
    case ScrollingSpeedUnit::wordsPerSecond:
        return {QT_TR_NOOP("Scroll Speed (Words/Sec)"), QT_TR_NOOP("~%.2f Words/Sec"),
                QT_TR_NOOP("~%.2f - %.2f Words/Sec")};
    case ScrollingSpeedUnit::wordsPerMinute:
        return {QT_TR_NOOP("Scroll Speed (Words/Min)"), QT_TR_NOOP("~%.2f Words/Min"),
                QT_TR_NOOP("~%.2f - %.2f Words/Min")};
    }
    return unitTexts(ScrollingSpeedUnit::linesPerSecond);
}

QString localized(const char* english) {
    return ProjectPropertiesController::tr(english);
}

// `format` (a printf pattern of doubles) filled in.
template <class... Doubles> QString formatted(const QString& format, Doubles... values) {
    return QString::asprintf(format.toUtf8().constData(), values...);
}

QLabel* valueLabel(QWidget* parent, Qt::Alignment alignment) {
    QLabel* label = paneform::caption(QString(), parent);
    label->setAlignment(alignment | Qt::AlignVCenter);
    return label;
}

// Three labels under a slider: low end, value, high end.
void addScale(QBoxLayout* column, QLabel* low, QLabel* middle, QLabel* high) {
    QBoxLayout* r = paneform::row(column);
    r->addWidget(low, 1);
    r->addWidget(middle, 2);
    r->addWidget(high, 1);
}

int percentOf(double fraction) {
    return int(std::lround(fraction * 100.0));
}

} // namespace

ProjectPropertiesController::ProjectPropertiesController(std::shared_ptr<Project> project,
                                                         platform::Defaults& defaults,
                                                         platform::NotificationCenter& center)
    : project_(std::move(project))
    , defaults_(&defaults)
    , center_(&center)
    , updateSpeedTimer_(new QTimer(this)) {
    if (!project_)
        base::fatal("use init(project:) instead!");
    updateSpeedTimer_->setInterval(1000);
    connect(updateSpeedTimer_, &QTimer::timeout, this, [this] { updateSpeedStats(); });
}

ProjectPropertiesController::~ProjectPropertiesController() {
    center_->removeObserver(this);
    if (registered_)
        project_->unregisterEventListener(static_cast<const ProjectEventListener*>(this));
    updateSpeedTimer_->stop();
}

QWidget* ProjectPropertiesController::makeView() {
    auto* pane = new QWidget;
    pane->setObjectName(QStringLiteral("ProjectPropertiesController"));
    Controls& c = controls_;
    QBoxLayout* column = paneform::column(pane);
    const auto reset = [&](std::string_view action) { return paneform::resetButton(this, action, pane); };

    paneform::addHeader(column, paneform::divider(tr("Colors & Font"), pane));
    c.backgroundColorWell = new controls::PrompterColorWell(pane);
    c.backgroundColorWell->action = {this, "changeBackgroundColor:"};
    QBoxLayout* r = paneform::row(column, tr("Background"));
    r->addWidget(c.backgroundColorWell);
    r->addStretch(1);
    r->addWidget(reset("resetBackgroundColor:"), 0, Qt::AlignVCenter);

    c.textColorWell = new controls::ColorWell(pane);
    c.textColorWell->setAttribute(Qt::WA_TransparentForMouseEvents);
    c.textColorWell->setFocusPolicy(Qt::NoFocus);
    c.textColorWell->setToolTip(tr("The colour new text is typed in"));
    r = paneform::row(column, tr("Text"));
    r->addWidget(c.textColorWell);
    r->addStretch(1);
    r->addWidget(reset("resetTextcolor:"), 0, Qt::AlignVCenter);

    c.fontButton = new QPushButton(pane);
    c.fontButton->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    connect(c.fontButton, &QPushButton::clicked, this, [this] { selectFont(); });
    r = paneform::row(column, tr("Font"));
    r->addWidget(c.fontButton, 1);
    r->addWidget(reset("resetFont:"), 0, Qt::AlignVCenter);

    c.alignmentSelector = new SegmentedControl({tr("Left"), tr("Center"), tr("Right")}, pane);
    connect(c.alignmentSelector, &SegmentedControl::segmentClicked, this, [this] { changeTextAlignment(); });
    paneform::row(column, tr("Alignment"))->addWidget(c.alignmentSelector, 1);

    c.flipHorizontalChecker = new QCheckBox(tr("Flip horizontally"), pane);
    c.flipVerticalChecker = new QCheckBox(tr("Flip vertically"), pane);
    r = paneform::row(column, tr("Mirror"));
    auto* flips = new QVBoxLayout;
    flips->setSpacing(2);
    flips->addWidget(c.flipHorizontalChecker);
    flips->addWidget(c.flipVerticalChecker);
    r->addLayout(flips, 1);
    for (QCheckBox* box : {c.flipHorizontalChecker, c.flipVerticalChecker})
        connect(box, &QCheckBox::clicked, this, [this, box] { syncPropertiesToProject(box); });

    auto* const margins = paneform::divider(tr("Margins"), pane);
    paneform::addHeader(column, margins, reset("resetPrompterMargin:"));
    c.prompterMarginSlider =
        paneform::slider(0, percentOf(Document::ScriptProperties::maxPrompterMargin), pane);
    c.prompterMarginAlignmentSlider = paneform::slider(-100, 100, pane);
    paneform::row(column, tr("Width"))->addWidget(c.prompterMarginSlider);
    paneform::row(column, tr("Position"))->addWidget(c.prompterMarginAlignmentSlider);

    auto* const wordsPerLine = paneform::divider(tr("Words per Line"), pane);
    paneform::addHeader(column, wordsPerLine, reset("resetWordCountFactor:"));
    c.wordCountSlider = paneform::slider(0, 100, pane);
    column->addWidget(c.wordCountSlider);
    c.wordsPerLineLabel = valueLabel(pane, Qt::AlignHCenter);
    column->addWidget(c.wordsPerLineLabel);
    for (QSlider* s : {c.prompterMarginSlider, c.prompterMarginAlignmentSlider, c.wordCountSlider})
        connect(s, &QSlider::valueChanged, this, [this, s] { syncPropertiesToProject(s); });

    c.speedUnitLabelDivider = new controls::ActionableLabelDivider(pane);
    c.speedUnitLabelDivider->setActionBinding({this, "changeSpeedUnit:"});
    c.speedUnitLabelDivider->setRightAction("changeSpeedUnitDown:");
    c.speedUnitLabelDivider->setToolTip(tr("Click to change the unit"));
    paneform::addHeader(column, c.speedUnitLabelDivider, reset("resetScrollSpeed:"));
    c.scrollSpeedSlider = paneform::slider(0, 100, pane);
    connect(c.scrollSpeedSlider, &QSlider::valueChanged, this, [this] { changeSpeed(); });
    column->addWidget(c.scrollSpeedSlider);
    c.scrollSpeedLinesPerSecMinLabel = valueLabel(pane, Qt::AlignLeft);
    c.scrollSpeedLinesPerSecLabel = valueLabel(pane, Qt::AlignHCenter);
    c.scrollSpeedLinesPerSecMaxLabel = valueLabel(pane, Qt::AlignRight);
    addScale(column, c.scrollSpeedLinesPerSecMinLabel, c.scrollSpeedLinesPerSecLabel,
             c.scrollSpeedLinesPerSecMaxLabel);

    paneform::addHeader(column, paneform::divider(tr("Speed Range"), pane));
    c.speedRangeSlider = new controls::RangeSlider(pane);
    column->addWidget(c.speedRangeSlider);
    c.speedRangeSliderMinLabel = valueLabel(pane, Qt::AlignLeft);
    c.speedRangeSliderLabel = valueLabel(pane, Qt::AlignHCenter);
    c.speedRangeSliderMaxLabel = valueLabel(pane, Qt::AlignRight);
    addScale(column, c.speedRangeSliderMinLabel, c.speedRangeSliderLabel, c.speedRangeSliderMaxLabel);

    paneform::addHeader(column, paneform::divider(tr("Running Time"), pane));
    c.runtimePicker = new controls::TimeControl(pane);
    c.runtimeStepper = new QSpinBox(pane);
    // Only its arrows show: the picker itself shows the value being stepped.
    c.runtimeStepper->setFixedSize(20, c.runtimePicker->sizeHint().height() - 4);
    c.runtimePicker->setStepper(c.runtimeStepper);
    connect(c.runtimePicker, &controls::TimeControl::valueEdited, this, [this] { runtimeDidEndEditing(); });
    connect(c.runtimeStepper, &QSpinBox::valueChanged, this, [this] { changeRuntimeByStepper(); });
    r = paneform::row(column);
    r->addWidget(c.runtimePicker);
    r->addWidget(c.runtimeStepper);
    r->addStretch(1);
    return pane;
}

void ProjectPropertiesController::viewDidLoad() {
    project_->registerEventListener(shared_from_this());
    registered_ = true;
    controls_.backgroundColorWell->setExclusive(true);
    controls_.speedRangeSlider->setRange(0, rangeSliderMax);
    controls_.speedRangeSlider->setTickMarks(10);
    controls_.speedRangeSlider->setAction(this, "changeSpeedRange:");
    center_->addObserver(this, std::string(notifications::scrollingSpeedUnitDidChange),
                         [this](const platform::Notification&) { speedUnitDidChange(); });
    refreshFromProject();
    // Once more after the first layout, when the editor has reported its line metrics.
    QTimer::singleShot(0, this, [this] { refreshFromProject(); });
}

// --- Refresh ----------------------------------------------------------------------------------

void ProjectPropertiesController::refreshFromProject() {
    if (!isViewLoaded())
        return;
    if (project_->transportState().transportStatus == TransportState::TransportStatus::playing &&
        !letNextProjectStateUpdateThrough_)
        return;
    letNextProjectStateUpdateThrough_ = false;

    const Controls& c = controls_;
    const Document& document = project_->document();
    const Document::ScriptProperties& p = document.scriptProperties;
    const Document::SpeedProperties& speed = document.speedProperties;
    // Filling the controls is not a user's change: none of their signals may reach the project.
    const QSignalBlocker blockers[] = {QSignalBlocker(c.alignmentSelector),
                                       QSignalBlocker(c.flipHorizontalChecker),
                                       QSignalBlocker(c.flipVerticalChecker),
                                       QSignalBlocker(c.prompterMarginSlider),
                                       QSignalBlocker(c.prompterMarginAlignmentSlider),
                                       QSignalBlocker(c.wordCountSlider),
                                       QSignalBlocker(c.scrollSpeedSlider),
                                       QSignalBlocker(c.runtimeStepper)};

    c.backgroundColorWell->setColor(p.backgroundColor.toQColor());
    refreshTypingAttributes();
    c.alignmentSelector->setSelectedSegment(base::menuIndex(p.textAlignment));
    c.flipVerticalChecker->setChecked(p.flipVertical);
    c.flipHorizontalChecker->setChecked(p.flipHorizontal);
    c.prompterMarginSlider->setValue(percentOf(p.prompterMargin));
    c.prompterMarginAlignmentSlider->setValue(percentOf(p.prompterMarginAlignment));
    c.wordCountSlider->setValue(percentOf(p.prompterWordCountFactor));
    c.scrollSpeedSlider->setRange(0, 100);
    c.scrollSpeedSlider->setValue(int(std::lround(speed.scrollSpeedPerc)));
    c.speedRangeSlider->setValues(speed.minScrollSpeedLPS, speed.maxScrollSpeedLPS);
    projectAverageWordsPerLineDidChange(*project_);
    projectLineCountDidChange(*project_);
}

// The layout's figures are shown at once, also while playing, so that the running time and the
// speeds in words agree with the status bar's and the prompter's.
void ProjectPropertiesController::projectLineCountDidChange(Project&) {
    if (!isViewLoaded())
        return;
    showRunningTime();
}

void ProjectPropertiesController::projectAverageWordsPerLineDidChange(Project&) {
    if (!isViewLoaded())
        return;
    controls_.wordsPerLineLabel->setText(formatted(tr("~%.2f Words/Line"), project_->averageWordsPerLine()));
    updateSpeedUnitLabels();
}

void ProjectPropertiesController::refreshTypingAttributes() {
    if (!isViewLoaded())
        return;
    controls_.textColorWell->setColor(project_->editor().typingAttributes.textColor.toQColor());
    controls_.fontButton->setText(fontTitle());
}

QString ProjectPropertiesController::fontTitle() const {
    const platform::Font& font = project_->editor().typingAttributes.font;
    QString name = font.family;
    if (name.isEmpty())
        name = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    if (name.isEmpty())
        name = tr("Default");
    return name + QChar(0x2026);
}

ScrollingSpeedUnit ProjectPropertiesController::speedUnit() const {
    return defaultScrollingSpeedUnit(*defaults_);
}

double ProjectPropertiesController::inUnit(double linesPerSecond, ScrollingSpeedUnit unit) const {
    switch (unit) {
    case ScrollingSpeedUnit::linesPerSecond:
        return linesPerSecond;
    case ScrollingSpeedUnit::linesPerMinute:
        return linesPerSecond * 60;
    case ScrollingSpeedUnit::wordsPerSecond:
        return linesPerSecond * project_->averageWordsPerLine();
    case ScrollingSpeedUnit::wordsPerMinute:
        return linesPerSecond * 60 * project_->averageWordsPerLine();
    }
    return linesPerSecond;
}

void ProjectPropertiesController::updateSpeedUnitLabels() {
    if (!isViewLoaded())
        return;
    const Controls& c = controls_;
    const ScrollingSpeedUnit unit = speedUnit();
    const UnitTexts texts = unitTexts(unit);
    const Document::SpeedProperties& speed = project_->document().speedProperties;
    const auto shown = [&](double lps) { return inUnit(lps, unit); };
    c.speedUnitLabelDivider->setTitle(localized(texts.title));
    c.scrollSpeedLinesPerSecLabel->setText(formatted(localized(texts.speed), shown(speed.linesPerSecond())));
    c.scrollSpeedLinesPerSecMinLabel->setText(QString::asprintf("%.2f", shown(speed.minScrollSpeedLPS)));
    c.scrollSpeedLinesPerSecMaxLabel->setText(QString::asprintf("%.2f", shown(speed.maxScrollSpeedLPS)));
    c.speedRangeSliderLabel->setText(
        formatted(localized(texts.range), shown(speed.minScrollSpeedLPS), shown(speed.maxScrollSpeedLPS)));
    c.speedRangeSliderMinLabel->setText(QString::asprintf("%.2f", shown(c.speedRangeSlider->minValue())));
    c.speedRangeSliderMaxLabel->setText(QString::asprintf("%.2f", shown(c.speedRangeSlider->maxValue())));
}

// --- Colours and font -------------------------------------------------------------------------

void ProjectPropertiesController::resetTextColor() {
    letNextUpdateThrough();
    project_->applyDefaultTextColor();
}

void ProjectPropertiesController::changeBackgroundColor() {
    // Only the well being edited speaks for the script: a panel left open for another well does not.
    if (!isViewLoaded() || !controls_.backgroundColorWell->isActive())
        return;
    letNextUpdateThrough();
    Document::ScriptProperties p = project_->document().scriptProperties;
    p.backgroundColor = platform::Color::fromQColor(controls_.backgroundColorWell->color());
    project_->setScriptProperties(p);
}

void ProjectPropertiesController::resetBackgroundColor() {
    letNextUpdateThrough();
    Document::ScriptProperties p = project_->document().scriptProperties;
    p.backgroundColor = defaultBackgroundColor(*defaults_);
    project_->setScriptProperties(p);
}

void ProjectPropertiesController::changeTextAlignment() {
    if (!isViewLoaded())
        return;
    letNextUpdateThrough();
    const int segment = controls_.alignmentSelector->selectedSegment();
    if (segment < 0 || segment > 2)
        return;
    Document::ScriptProperties p = project_->document().scriptProperties;
    p.textAlignment = base::fromMenuIndex<TextAlignment>(segment);
    project_->setScriptProperties(p);
}

void ProjectPropertiesController::selectFont() {
    letNextUpdateThrough();
    // A panel of its own, so that its choices reach only this script.
    auto* panel = platform::FontPanel::make(project_->editor().typingAttributes.font, view());
    panel->setAttribute(Qt::WA_DeleteOnClose);
    connect(panel, &QFontDialog::currentFontChanged, this, [this](const QFont& font) { changeFont(font); });
    panel->show();
}

void ProjectPropertiesController::changeFont(const QFont& chosen) {
    letNextUpdateThrough();
    Editor editor = project_->editor();
    const platform::Font picked = platform::FontPanel::picked(chosen, editor.typingAttributes.font.pointSize);
    // The script's size is the editor's line height, whatever size was picked.
    const double size = editor.lineHeight > 0 ? editor.lineHeight : editor.typingAttributes.font.pointSize;
    editor.typingAttributes.font = picked.withPointSize(size);
    project_->setEditor(std::move(editor));
}

void ProjectPropertiesController::resetFont() {
    letNextUpdateThrough();
    project_->applyDefaultFont();
}

// --- Mirroring, margins, factor ---------------------------------------------------------------

void ProjectPropertiesController::syncPropertiesToProject(const QObject* control) {
    if (!isViewLoaded())
        return;
    letNextUpdateThrough();
    const Controls& c = controls_;
    const auto takes = [control](const QObject* source) { return !control || control == source; };
    Document::ScriptProperties p = project_->document().scriptProperties;
    if (takes(c.flipHorizontalChecker))
        p.flipHorizontal = c.flipHorizontalChecker->isChecked();
    if (takes(c.flipVerticalChecker))
        p.flipVertical = c.flipVerticalChecker->isChecked();
    if (takes(c.prompterMarginSlider))
        p.prompterMargin = float(c.prompterMarginSlider->value() / 100.0);
    if (takes(c.prompterMarginAlignmentSlider))
        p.prompterMarginAlignment = float(c.prompterMarginAlignmentSlider->value() / 100.0);
    if (takes(c.wordCountSlider))
        p.prompterWordCountFactor = float(c.wordCountSlider->value() / 100.0);
    project_->setScriptProperties(p);
}

void ProjectPropertiesController::resetPrompterMargin() {
    letNextUpdateThrough();
    Document::ScriptProperties p = project_->document().scriptProperties;
    p.prompterMargin = defaultMargin;
    p.prompterMarginAlignment = defaultMarginAlignment;
    project_->setScriptProperties(p);
}

void ProjectPropertiesController::resetWordCountFactor() {
    letNextUpdateThrough();
    Document::ScriptProperties p = project_->document().scriptProperties;
    p.prompterWordCountFactor = defaultWordCountFactor;
    project_->setScriptProperties(p);
}

// --- Speed ------------------------------------------------------------------------------------

void ProjectPropertiesController::changeSpeed() {
    if (!isViewLoaded())
        return;
    letNextUpdateThrough();
    const Document::SpeedProperties speed = project_->document().speedProperties;
    project_->setScrollSpeed(controls_.scrollSpeedSlider->value(), speed.minScrollSpeedLPS,
                             speed.maxScrollSpeedLPS);
}

void ProjectPropertiesController::changeSpeedRange() {
    if (!isViewLoaded())
        return;
    letNextUpdateThrough();
    const controls::RangeSlider& range = *controls_.speedRangeSlider;
    const double span = range.maxValue() - range.minValue();
    project_->setScrollSpeed(project_->document().speedProperties.scrollSpeedPerc,
                             range.minValue() + span * range.leftValue(),
                             range.minValue() + span * range.rightValue());
}

void ProjectPropertiesController::resetScrollSpeed() {
    letNextUpdateThrough();
    project_->setScrollSpeed(defaultSpeedPercent, defaultMinSpeed, defaultMaxSpeed);
}

void ProjectPropertiesController::changeSpeedUnit() {
    stepSpeedUnit(1);
}

void ProjectPropertiesController::changeSpeedUnitDown() {
    stepSpeedUnit(-1);
}

void ProjectPropertiesController::stepSpeedUnit(int step) {
    const int index = (base::menuIndex(speedUnit()) + step + 4) % 4;
    setDefaultScrollingSpeedUnit(base::fromMenuIndex<ScrollingSpeedUnit>(index), *defaults_, *center_);
    letNextUpdateThrough();
    refreshFromProject();
}

void ProjectPropertiesController::speedUnitDidChange() {
    updateSpeedUnitLabels();
}

void ProjectPropertiesController::updateSpeedStats() {
    if (!isViewLoaded())
        return;
    const double percent = project_->document().speedProperties.scrollSpeedPerc;
    if (controls_.scrollSpeedSlider->value() == int(std::lround(percent)))
        return;
    {
        const QSignalBlocker blocker(controls_.scrollSpeedSlider);
        controls_.scrollSpeedSlider->setValue(int(std::lround(percent)));
    }
    updateSpeedUnitLabels();
    showRunningTime();
}

bool ProjectPropertiesController::isSpeedTimerRunning() const {
    return updateSpeedTimer_->isActive();
}

void ProjectPropertiesController::projectDidStartPlayback(Project&) {
    updateSpeedTimer_->start();
}

void ProjectPropertiesController::projectDidStopPlayback(Project&) {
    refreshFromProject();
    updateSpeedTimer_->stop();
}

// --- Running time -----------------------------------------------------------------------------

void ProjectPropertiesController::showRunningTime() {
    const SplitDuration split = splitDuration(project_->runningTime());
    controls_.runtimePicker->setTime(split.hours, split.minutes, split.seconds);
}

void ProjectPropertiesController::applyRuntime() {
    if (!isViewLoaded())
        return;
    project_->setTotalRuntime(controls_.runtimePicker->totalSeconds());
}

void ProjectPropertiesController::changeRuntimeByStepper() {
    if (!isViewLoaded())
        return;
    letNextUpdateThrough();
    controls::TimeControl& picker = *controls_.runtimePicker;
    picker.setValue(picker.selected(), controls_.runtimeStepper->value());
    applyRuntime();
}

void ProjectPropertiesController::runtimeDidEndEditing() {
    // The running time taken back as it shows, in whole seconds, asks for no other speed: taken
    // as the new running time it would drop the fraction of a second and change the script.
    if (isViewLoaded()) {
        const controls::TimeControl& picker = *controls_.runtimePicker;
        if (SplitDuration{picker.hour(), picker.minute(), picker.second()} ==
            splitDuration(project_->runningTime()))
            return;
    }
    letNextUpdateThrough();
    applyRuntime();
}

// --- Actions by name --------------------------------------------------------------------------

bool ProjectPropertiesController::respondsToAction(std::string_view action) const {
    return findPaneAction(actions, action) != nullptr;
}

void ProjectPropertiesController::performAction(std::string_view action, QObject*) {
    const auto* entry = findPaneAction(actions, action);
    if (entry && entry->perform)
        (this->*entry->perform)();
}

} // namespace cw::editor

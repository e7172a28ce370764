#include "cuewright/settings/GeneralSettingsViewController.h"

#include "base/EnumTable.h"
#include "cuewright/model/UserDefaults.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace cw {

namespace {

constexpr double kMinSensitivity = 0.01;
constexpr double kMaxSensitivity = 3.0;

QComboBox* taggedPopUp(QWidget* parent, std::initializer_list<QString> titles) {
    auto* box = new QComboBox(parent);
    int tag = 1;
    for (const QString& title : titles)
        box->addItem(title, tag++);
    return box;
}

// The selected item's tag; 0 when nothing is selected.
int selectedTag(const QComboBox* box) {
    return box->currentIndex() < 0 ? 0 : box->currentData().toInt();
}

void selectTag(QComboBox* box, int tag) {
    box->setCurrentIndex(box->findData(tag));
}

QSlider* slider(QWidget* parent, int minimum, int maximum, int tickInterval) {
    auto* s = new QSlider(Qt::Horizontal, parent);
    s->setRange(minimum, maximum);
    s->setTickInterval(tickInterval);
    s->setTickPosition(QSlider::TicksBelow);
    s->setPageStep(tickInterval);
    s->setFixedWidth(220);
    return s;
}

QLayout* sliderRow(QSlider* s, QLabel* label) {
    auto* row = new QHBoxLayout;
    row->addWidget(s);
    row->addSpacing(10);
    label->setMinimumWidth(120);
    row->addWidget(label);
    row->addStretch(1);
    return row;
}

int toSlider(double value) {
    return static_cast<int>(std::lround(value * GeneralSettingsViewController::sliderScale));
}

double fromSlider(const QSlider* s) {
    return s->value() / double(GeneralSettingsViewController::sliderScale);
}

} // namespace

GeneralSettingsViewController::GeneralSettingsViewController(platform::Defaults& defaults,
                                                             platform::NotificationCenter& center,
                                                             QObject* parent)
    : SettingsPane(HelpPage::settingsGeneral, defaults, center, parent) {}

QString GeneralSettingsViewController::durationText(double seconds) {
    if (seconds == 0.0)
        return tr("instant");
    return QString::asprintf("%.2fs / line", seconds);
}

QString GeneralSettingsViewController::lineCountText(long long count) {
    return count < 2 ? QString::asprintf("%lli line / key press", count)
                     : QString::asprintf("%lli lines / key press", count);
}

QString GeneralSettingsViewController::sensitivityText(double factor) {
    return QString::asprintf("x %.2f", factor);
}

QWidget* GeneralSettingsViewController::makeView() {
    auto* view = new QWidget;
    Controls& c = controls_;
    SettingsForm form(view, this);

    c.startupMode =
        taggedPopUp(view, {tr("Create a new script"), tr("Open the most recent script"), tr("Do nothing")});
    form.addRow(tr("At start-up"), c.startupMode);
    c.userInterfaceStyle = taggedPopUp(view, {tr("Follow the system"), tr("Light"), tr("Dark")});
    form.addRow(tr("Appearance"), c.userInterfaceStyle);
    form.addSeparator();

    c.autospawn = new QCheckBox(tr("Open a prompter window when prompting starts"), view);
    form.addRow(tr("Prompter"), c.autospawn);
    c.lockEditor = new QCheckBox(tr("Lock the editor while prompting"), view);
    form.addRow(tr("Editor"), c.lockEditor);
    c.syncEditorAndPrompter = new QCheckBox(tr("Scroll the prompter with the editor"), view);
    form.addRow({}, c.syncEditorAndPrompter);
    c.autoscrollEditor = new QCheckBox(tr("Scroll the editor along while prompting"), view);
    form.addRow({}, c.autoscrollEditor);
    c.scrollingSpeedUnit = new QComboBox(view);
    c.scrollingSpeedUnit->addItems(
        {tr("Lines per second"), tr("Lines per minute"), tr("Words per second"), tr("Words per minute")});
    form.addRow(tr("Show speed in"), c.scrollingSpeedUnit);
    form.addSeparator();

    c.manualScroll = new QCheckBox(tr("Step line by line with the arrow keys"), view);
    form.addRow(tr("Line steps"), c.manualScroll);
    c.manualScrollDuration = slider(view, 0, 5 * sliderScale, sliderScale / 2); // 11 tick marks
    c.manualScrollLabel = new QLabel(view);
    form.addRow(tr("Step duration"), sliderRow(c.manualScrollDuration, c.manualScrollLabel));
    c.manualScrollLineCount = slider(view, 1, 10, 1);
    c.manualScrollLineCountLabel = new QLabel(view);
    form.addRow(tr("Step length"), sliderRow(c.manualScrollLineCount, c.manualScrollLineCountLabel));
    form.addSeparator();

    c.scrollWheelChangesSpeed = new QCheckBox(tr("The scroll wheel changes the speed"), view);
    form.addRow(tr("Prompter window"), c.scrollWheelChangesSpeed);
    c.invertScrollWheel = new QCheckBox(tr("Invert the scroll wheel"), view);
    form.addRow({}, c.invertScrollWheel);
    c.oneClickPrompting = new QCheckBox(tr("A click starts and stops prompting"), view);
    form.addRow({}, c.oneClickPrompting);
    c.speedSliderSensitivity =
        slider(view, toSlider(kMinSensitivity), toSlider(kMaxSensitivity), sliderScale / 2);
    c.speedSliderSensitivityLabel = new QLabel(view);
    form.addRow(tr("Wheel sensitivity"), sliderRow(c.speedSliderSensitivity, c.speedSliderSensitivityLabel));
    form.finish();

    // Only what the user does writes: activated and clicked are not sent for programmatic
    // changes, and loadSettings() blocks the sliders' valueChanged.
    connect(c.startupMode, &QComboBox::activated, this, &GeneralSettingsViewController::saveStartupMode);
    connect(c.userInterfaceStyle, &QComboBox::activated, this, &GeneralSettingsViewController::saveUIMode);
    connect(c.autospawn, &QCheckBox::clicked, this, &GeneralSettingsViewController::saveAutospawn);
    for (QCheckBox* box : {c.lockEditor, c.syncEditorAndPrompter, c.autoscrollEditor})
        connect(box, &QCheckBox::clicked, this, &GeneralSettingsViewController::saveEditorSettings);
    connect(c.scrollingSpeedUnit, &QComboBox::activated, this,
            &GeneralSettingsViewController::saveScrollingSpeedUnitState);
    connect(c.manualScroll, &QCheckBox::clicked, this, &GeneralSettingsViewController::saveManualScrollState);
    connect(c.manualScrollDuration, &QSlider::valueChanged, this,
            &GeneralSettingsViewController::saveManualScrollState);
    connect(c.manualScrollLineCount, &QSlider::valueChanged, this,
            &GeneralSettingsViewController::saveManualScrollLineCount);
    connect(c.invertScrollWheel, &QCheckBox::clicked, this,
            &GeneralSettingsViewController::saveInvertScrollWheelState);
    connect(c.scrollWheelChangesSpeed, &QCheckBox::clicked, this,
            &GeneralSettingsViewController::saveScrollWheelControlSpeed);
    connect(c.oneClickPrompting, &QCheckBox::clicked, this,
            &GeneralSettingsViewController::saveOneClickPromptingState);
    connect(c.speedSliderSensitivity, &QSlider::valueChanged, this,
            &GeneralSettingsViewController::saveSpeedSliderSensitivity);
    return view;
}

void GeneralSettingsViewController::viewDidLoad() {
    attachToView();
    loadSettings();
}

void GeneralSettingsViewController::loadSettings() {
    view();
    Controls& c = controls_;
    const QSignalBlocker blockDuration(c.manualScrollDuration);
    const QSignalBlocker blockCount(c.manualScrollLineCount);
    const QSignalBlocker blockSensitivity(c.speedSliderSensitivity);
    namespace k = settings;
    const auto check = [this](QCheckBox* box, std::string_view key) {
        box->setChecked(defaults_.boolForKey(key));
    };
    check(c.autospawn, k::autospawnPrompterWindow);
    check(c.lockEditor, k::lockEditorDuringPrompting);
    check(c.syncEditorAndPrompter, k::syncTeleprompterWindowToEditorScrolling);
    check(c.autoscrollEditor, k::autoscrollEditorDuringPrompting);
    check(c.manualScroll, k::manualScrollingEnabled);
    check(c.invertScrollWheel, k::invertScrollWheelInTeleprompterView);
    check(c.scrollWheelChangesSpeed, k::scrollWheelChangesSpeed);
    check(c.oneClickPrompting, k::isOneClickPromptingEnabled);

    c.manualScrollDuration->setValue(toSlider(defaults_.doubleForKey(k::manualScrollingDuration)));
    c.manualScrollLineCount->setValue(static_cast<int>(defaults_.integerForKey(k::manualScrollingLineCount)));
    updateManualScrollLabels();

    selectTag(c.startupMode, startupMode(defaults_.stringForKey(k::startupMode).value_or("DoNothing")) + 1);
    selectTag(c.userInterfaceStyle,
              userInterfaceStyle(
                  defaults_.stringForKey(k::userInterfaceStyle).value_or("UserInterfaceStyleSystemDefault")) +
                  1);
    selectSpeedUnit();

    const double factor =
        std::clamp(defaults_.doubleForKey(k::speedSliderSensitivityFactor), kMinSensitivity, kMaxSensitivity);
    c.speedSliderSensitivity->setValue(toSlider(factor));
    c.speedSliderSensitivityLabel->setText(sensitivityText(factor));
}

void GeneralSettingsViewController::selectSpeedUnit() {
    controls_.scrollingSpeedUnit->setCurrentIndex(base::menuIndex(defaultScrollingSpeedUnit(defaults_)));
}

void GeneralSettingsViewController::updateManualScrollLabels() {
    const Controls& c = controls_;
    c.manualScrollLabel->setText(durationText(defaults_.doubleForKey(settings::manualScrollingDuration)));
    c.manualScrollDuration->setEnabled(defaults_.boolForKey(settings::manualScrollingEnabled));
    c.manualScrollLineCountLabel->setText(
        lineCountText(defaults_.integerForKey(settings::manualScrollingLineCount)));
}

void GeneralSettingsViewController::viewDidAppear() {
    loadSettings();
    center_.removeObserver(this);
    center_.addObserver(this, std::string(notifications::scrollingSpeedUnitDidChange),
                        [this](const platform::Notification&) { selectSpeedUnit(); });
}

void GeneralSettingsViewController::viewWillDisappear() {
    center_.removeObserver(this);
    if (!isViewLoaded())
        return;
    saveUIMode();
    saveAutospawn();
    saveManualScrollState();
    saveEditorSettings();
    saveScrollingSpeedUnitState();
    saveScrollWheelControlSpeed();
}

void GeneralSettingsViewController::saveStartupMode() {
    const int tag = selectedTag(controls().startupMode);
    if (tag < 1 || tag > 3)
        return;
    defaults_.set(settings::startupMode,
                  std::string(base::rawValue(base::fromMenuIndex<StartupMode>(tag - 1))));
}

void GeneralSettingsViewController::saveUIMode() {
    const int tag = selectedTag(controls().userInterfaceStyle);
    if (tag < 1 || tag > 3)
        return;
    setUserInterfaceStyle(tag - 1, defaults_, center_);
}

void GeneralSettingsViewController::saveAutospawn() {
    defaults_.set(settings::autospawnPrompterWindow, controls().autospawn->isChecked());
}

void GeneralSettingsViewController::saveEditorSettings() {
    const Controls& c = controls();
    defaults_.set(settings::lockEditorDuringPrompting, c.lockEditor->isChecked());
    defaults_.set(settings::syncTeleprompterWindowToEditorScrolling, c.syncEditorAndPrompter->isChecked());
    setAutoscrollEditorDuringPrompting(c.autoscrollEditor->isChecked(), defaults_, center_);
}

void GeneralSettingsViewController::saveScrollingSpeedUnitState() {
    setDefaultScrollingSpeedUnit(
        base::fromMenuIndex<ScrollingSpeedUnit>(controls().scrollingSpeedUnit->currentIndex()), defaults_,
        center_);
}

void GeneralSettingsViewController::saveManualScrollState() {
    const Controls& c = controls();
    defaults_.set(settings::manualScrollingEnabled, c.manualScroll->isChecked());
    defaults_.set(settings::manualScrollingDuration, fromSlider(c.manualScrollDuration));
    updateManualScrollLabels();
}

void GeneralSettingsViewController::saveManualScrollLineCount() {
    defaults_.set(settings::manualScrollingLineCount,
                  static_cast<std::int64_t>(controls().manualScrollLineCount->value()));
    updateManualScrollLabels();
}

void GeneralSettingsViewController::saveInvertScrollWheelState() {
    defaults_.set(settings::invertScrollWheelInTeleprompterView, controls().invertScrollWheel->isChecked());
}

void GeneralSettingsViewController::saveScrollWheelControlSpeed() {
    defaults_.set(settings::scrollWheelChangesSpeed, controls().scrollWheelChangesSpeed->isChecked());
}

void GeneralSettingsViewController::saveOneClickPromptingState() {
    defaults_.set(settings::isOneClickPromptingEnabled, controls().oneClickPrompting->isChecked());
}

void GeneralSettingsViewController::saveSpeedSliderSensitivity() {
    const Controls& c = controls();
    defaults_.set(settings::speedSliderSensitivityFactor, fromSlider(c.speedSliderSensitivity));
    const double stored = defaults_.doubleForKey(settings::speedSliderSensitivityFactor);
    c.speedSliderSensitivityLabel->setText(
        sensitivityText(std::clamp(stored, kMinSensitivity, kMaxSensitivity)));
}

} // namespace cw

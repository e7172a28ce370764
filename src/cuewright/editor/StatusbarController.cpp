#include "cuewright/editor/StatusbarController.h"

#include "base/Log.h"
#include "cuewright/controls/ClickableControl.h"
#include "cuewright/controls/NormalSlider.h"
#include "cuewright/editor/TransportController.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/model/TimeFormat.h"
#include "cuewright/model/UserDefaults.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/defaults/Defaults.h"
#include "platform/defaults/NotificationCenter.h"
#include "platform/ui/Appearance.h"
#include "platform/ui/WindowFocus.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>

namespace cw::editor {

// --- StatusbarView -------------------------------------------------------------------------------

StatusbarView::StatusbarView(QWidget* parent)
    : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
}

bool StatusbarView::event(QEvent* event) {
    platform::redrawOnWindowChange(this, event);
    return QWidget::event(event);
}

void StatusbarView::paintEvent(QPaintEvent*) {
    if (!platform::isInWindow(this))
        return;
    QPainter painter(this);
    const QRectF bounds(rect());
    if (platform::isWindowMain(this)) {
        // From black at the bottom edge to grey at the top.
        QLinearGradient gradient(bounds.bottomLeft(), bounds.topLeft());
        gradient.setColorAt(0, QColor(0, 0, 0, 51));
        gradient.setColorAt(1,
                            platform::isDarkMode(this) ? QColor(64, 64, 64, 51) : QColor(170, 170, 170, 64));
        painter.fillRect(bounds, gradient);
    }
    const double width = bounds.width();
    painter.fillRect(QRectF(0, 0, width, 1), QColor(0, 0, 0, 51));
    painter.fillRect(QRectF(0, 1, width, 1), QColor(255, 255, 255, 51));
}

// --- StatusbarController --------------------------------------------------------------------------

struct StatusbarController::Parts {
    controls::NormalSlider* slider = nullptr;
    QLabel* speed = nullptr;
    QLabel* speedMin = nullptr;
    QLabel* speedMax = nullptr;
    QLabel* timestamp = nullptr;
    QLabel* divider = nullptr;
    QLabel* runtime = nullptr;
    QLabel* lineCount = nullptr;
    QWidget* transportAnchor = nullptr;
};

namespace {

struct UnitFormat {
    const char* format;
    bool perMinute;
    bool inWords;
};

UnitFormat unitFormat(ScrollingSpeedUnit unit) {
    switch (unit) {
    case ScrollingSpeedUnit::linesPerSecond:
        return {"%.2f Lines/Sec", false, false};
    case ScrollingSpeedUnit::linesPerMinute:
        return {"%.2f Lines/Min", true, false};
    case ScrollingSpeedUnit::wordsPerSecond:
        return {"~%.2f Words/Sec", false, true};
    case ScrollingSpeedUnit::wordsPerMinute:
        return {"~%.2f Words/Min", true, true};
    }
    return {"%.2f Lines/Sec", false, false};
}

QLabel* makeLabel(QWidget* parent, Qt::Alignment alignment) {
    auto* label = new QLabel(parent);
    label->setAlignment(alignment | Qt::AlignVCenter);
    QFont font = label->font();
    font.setPixelSize(11);
    label->setFont(font);
    return label;
}

} // namespace

std::shared_ptr<StatusbarController> StatusbarController::create(std::shared_ptr<Project> project) {
    return create(std::move(project), platform::Defaults::standard(),
                  platform::NotificationCenter::defaultCenter());
}

std::shared_ptr<StatusbarController> StatusbarController::create(std::shared_ptr<Project> project,
                                                                 platform::Defaults& defaults,
                                                                 platform::NotificationCenter& center) {
    return std::make_shared<StatusbarController>(PrivateTag{}, std::move(project), defaults, center);
}

StatusbarController::StatusbarController(PrivateTag, std::shared_ptr<Project> project,
                                         platform::Defaults& defaults, platform::NotificationCenter& center)
    : project_(std::move(project))
    , defaults_(&defaults)
    , center_(&center) {
    CW_DCHECK_MAIN_THREAD();
    if (!project_)
        base::fatal(missingProjectMessage);
}

StatusbarController::~StatusbarController() {
    center_->removeObserver(this);
    project_->unregisterEventListener(static_cast<const ProjectEventListener*>(this));
}

QWidget* StatusbarController::makeView() {
    auto* strip = new StatusbarView;
    parts_ = std::make_unique<Parts>();
    Parts& p = *parts_;
    p.speedMin = makeLabel(strip, Qt::AlignRight);
    p.slider = new controls::NormalSlider(strip);
    p.slider->setFixedWidth(140);
    p.speedMax = makeLabel(strip, Qt::AlignLeft);
    // Each label asks for the room its text takes (words per minute run into the thousands), no
    // more: room held for the largest figures would push the range's ends out of an 800-point
    // window.
    p.speed = makeLabel(strip, Qt::AlignLeft);
    p.speed->setCursor(Qt::PointingHandCursor);
    p.transportAnchor = new QWidget(strip);
    p.transportAnchor->setFixedSize(212, 26);
    p.timestamp = makeLabel(strip, Qt::AlignRight);
    p.divider = makeLabel(strip, Qt::AlignHCenter);
    p.divider->setText(QStringLiteral("/"));
    p.runtime = makeLabel(strip, Qt::AlignLeft);
    p.lineCount = makeLabel(strip, Qt::AlignRight);

    auto* row = new QHBoxLayout(strip);
    row->setContentsMargins(10, 3, 10, 1);
    row->setSpacing(4);
    row->addWidget(p.speedMin);
    row->addWidget(p.slider);
    row->addWidget(p.speedMax);
    row->addSpacing(6);
    row->addWidget(p.speed);
    row->addStretch(1);
    row->addWidget(p.transportAnchor);
    row->addStretch(1);
    row->addWidget(p.timestamp);
    row->addWidget(p.divider);
    row->addWidget(p.runtime);
    row->addSpacing(12);
    row->addWidget(p.lineCount);
    strip->setMinimumHeight(30);
    return strip;
}

void StatusbarController::fitToWidth() {
    // In a narrow window the parts that matter least give way, so that no two overlap: first the
    // ends of the speed range, then the line count, then the slider.
    Parts& p = *parts_;
    QWidget* const droppable[] = {p.speedMin, p.speedMax, p.lineCount, p.slider};
    for (QWidget* part : droppable)
        part->setVisible(true);
    QLayout* row = view()->layout();
    for (QWidget* part : droppable) {
        row->invalidate();
        if (row->minimumSize().width() <= view()->width())
            break;
        part->setVisible(false);
    }
}

void StatusbarController::viewDidLoad() {
    Parts& p = *parts_;
    project_->registerEventListener(shared_from_this());

    transportController_ = TransportController::create(project_);
    transportController_->embedIn(p.transportAnchor);

    updateTimeLabels();
    updateLineCountLabel();
    // Filled at once rather than waiting for the first speed change.
    updateSpeedLabels(*project_);

    p.slider->setTickMarks(0);
    p.slider->setSnapsToTicks(false);
    p.slider->setAction(this, std::string(changeSpeedAction));
    p.slider->setValue(project_->document().speedProperties.scrollSpeedPerc / 100.0);

    p.speed->installEventFilter(this);
    view()->installEventFilter(this);
    center_->addObserver(this, std::string(notifications::scrollingSpeedUnitDidChange),
                         [this](const platform::Notification&) { updateSpeedLabels(*project_); });
    followWindowFocus();
}

bool StatusbarController::eventFilter(QObject* watched, QEvent* event) {
    if (parts_ && watched == parts_->speed && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        changeSpeedUnit();
        return true;
    }
    const QEvent::Type type = event->type();
    const bool windowChange =
        type == QEvent::WindowActivate || type == QEvent::WindowDeactivate || type == QEvent::ParentChange;
    if (isViewLoaded() && watched == view() && (windowChange || controls::changesLook(*event)))
        followWindowFocus();
    if (isViewLoaded() && watched == view() && type == QEvent::Resize)
        fitToWidth();
    return QObject::eventFilter(watched, event);
}

StatusbarController::Parts& StatusbarController::parts() {
    view();
    return *parts_;
}

controls::NormalSlider& StatusbarController::speedSlider() {
    return *parts().slider;
}
QLabel& StatusbarController::scrollSpeedLabel() {
    return *parts().speed;
}
QLabel& StatusbarController::scrollSpeedMinLabel() {
    return *parts().speedMin;
}
QLabel& StatusbarController::scrollSpeedMaxLabel() {
    return *parts().speedMax;
}
QLabel& StatusbarController::timestampLabel() {
    return *parts().timestamp;
}
QLabel& StatusbarController::timeDividerLabel() {
    return *parts().divider;
}
QLabel& StatusbarController::runtimeLabel() {
    return *parts().runtime;
}
QLabel& StatusbarController::lineCountLabel() {
    return *parts().lineCount;
}
QWidget& StatusbarController::transportAnchorView() {
    return *parts().transportAnchor;
}

void StatusbarController::changeSpeed() {
    if (!parts_)
        return;
    const Document::SpeedProperties& speed = project_->document().speedProperties;
    project_->setScrollSpeed(parts_->slider->value() * 100.0, speed.minScrollSpeedLPS,
                             speed.maxScrollSpeedLPS);
}

void StatusbarController::changeSpeedUnit() {
    const int next = (base::menuIndex(defaultScrollingSpeedUnit(*defaults_)) + 1) % 4;
    setDefaultScrollingSpeedUnit(base::fromMenuIndex<ScrollingSpeedUnit>(next), *defaults_, *center_);
}

void StatusbarController::updateTimeLabels() {
    if (!parts_)
        return;
    parts_->timestamp->setText(QString::fromStdString(formatTimestamp(project_->currentTimestamp())));
    parts_->runtime->setText(QString::fromStdString(formatTimestamp(project_->runningTime())));
}

void StatusbarController::updateLineCountLabel() {
    if (!parts_)
        return;
    const int lineCount = project_->editor().lineCount;
    const double progress = project_->transportState().progress;
    const int line = std::min(static_cast<int>(std::trunc(lineCount * progress - 0.15)) + 1, lineCount);
    if (line == cachedLine_ && lineCount == cachedLineCount_)
        return;
    QLabel* const label = parts_->lineCount;
    if (lineCount != cachedLineCount_) {
        // Room for the last line's number from the first, so that the transport row between the
        // stretches does not shift under the pointer as the number grows.
        const QString widest = QStringLiteral("%1 / %1 %2").arg(lineCount).arg(tr("Lines"));
        label->setMinimumWidth(label->fontMetrics().horizontalAdvance(widest));
    }
    cachedLine_ = line;
    cachedLineCount_ = lineCount;
    label->setText(QStringLiteral("%1 / %2 %3").arg(line).arg(lineCount).arg(tr("Lines")));
}

void StatusbarController::updateSpeedLabels(const Project& project) {
    if (!parts_)
        return;
    const Document::SpeedProperties& speed = project.document().speedProperties;
    const UnitFormat unit = unitFormat(defaultScrollingSpeedUnit(*defaults_));
    const double scale = (unit.perMinute ? 60.0 : 1.0) * (unit.inWords ? project.averageWordsPerLine() : 1.0);
    parts_->speed->setText(QString::asprintf(unit.format, speed.linesPerSecond() * scale));
    parts_->speedMin->setText(QString::asprintf("%.2f", speed.minScrollSpeedLPS * scale));
    parts_->speedMax->setText(QString::asprintf("%.2f", speed.maxScrollSpeedLPS * scale));
}

void StatusbarController::updateLabelColors(const QColor& color) {
    if (!parts_)
        return;
    for (QLabel* label : {parts_->timestamp, parts_->divider, parts_->runtime, parts_->lineCount}) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, color);
        label->setPalette(palette);
    }
}

void StatusbarController::followWindowFocus() {
    QColor color = view()->palette().color(QPalette::WindowText);
    if (!platform::isWindowMain(view()))
        color.setAlphaF(0.5f);
    updateLabelColors(color);
}

void StatusbarController::projectSpeedDidChange(Project& project) {
    if (!parts_)
        return;
    parts_->slider->setValue(project.document().speedProperties.scrollSpeedPerc / 100.0);
    parts_->slider->update();
    updateSpeedLabels(project);
    // The running time depends on the speed: without this it stays stale until the next tick.
    updateTimeLabels();
}

void StatusbarController::projectTransportStateDidChange(Project&) {
    updateTimeLabels();
    updateLineCountLabel();
}

void StatusbarController::projectLineCountDidChange(Project&) {
    updateLineCountLabel();
    updateTimeLabels();
}

} // namespace cw::editor

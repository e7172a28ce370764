#include "platform/ui/LiveResizeWatcher.h"

#include "dispatch/MainThreadChecker.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

namespace platform {

LiveResizeWatcher::LiveResizeWatcher(QWidget* widget, std::chrono::milliseconds quietPeriod)
    : QObject(widget)
    , widget_(widget)
    , timer_(new QTimer(this)) {
    CW_DCHECK_MAIN_THREAD();
    timer_->setSingleShot(true);
    timer_->setInterval(quietPeriod);
    connect(timer_, &QTimer::timeout, this, &LiveResizeWatcher::liveResizeEnded);
    widget->installEventFilter(this);
}

std::chrono::milliseconds LiveResizeWatcher::quietPeriod() const {
    return timer_->intervalAsDuration();
}

bool LiveResizeWatcher::isResizing() const {
    return timer_->isActive();
}

void LiveResizeWatcher::finishNow() {
    CW_DCHECK_MAIN_THREAD();
    if (!timer_->isActive()) {
        return;
    }
    timer_->stop();
    emit liveResizeEnded();
}

bool LiveResizeWatcher::eventFilter(QObject* watched, QEvent* event) {
    if (watched == widget_ && event->type() == QEvent::Resize && widget_->isVisible()) {
        timer_->start();
    }
    return QObject::eventFilter(watched, event);
}

} // namespace platform

#include "platform/ui/CursorHider.h"

#include "dispatch/MainThreadChecker.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

namespace platform {

CursorHider::CursorHider(QWidget* widget, std::chrono::milliseconds delay)
    : QObject(widget)
    , widget_(widget)
    , timer_(new QTimer(this))
    , delay_(delay) {
    CW_DCHECK_MAIN_THREAD();
    timer_->setSingleShot(true);
    timer_->setInterval(delay_);
    connect(timer_, &QTimer::timeout, this, &CursorHider::countdownElapsed);
    widget->setMouseTracking(true);
    widget->installEventFilter(this);
}

void CursorHider::setAutoHide(bool on) {
    CW_DCHECK_MAIN_THREAD();
    if (autoHide_ == on) {
        return;
    }
    autoHide_ = on;
    if (!on) {
        timer_->stop();
    }
}

bool CursorHider::isCountdownRunning() const {
    return timer_->isActive();
}

void CursorHider::hideUntilMouseMoves() {
    CW_DCHECK_MAIN_THREAD();
    timer_->stop();
    hide();
}

void CursorHider::showCursor() {
    CW_DCHECK_MAIN_THREAD();
    timer_->stop();
    if (!hidden_) {
        return;
    }
    hidden_ = false;
    if (!widget_) {
        return;
    }
    if (hadOwnCursor_) {
        widget_->setCursor(savedCursor_);
    } else {
        widget_->unsetCursor();
    }
}

void CursorHider::mouseMoved() {
    CW_DCHECK_MAIN_THREAD();
    showCursor();
    if (autoHide_) {
        timer_->start();
    }
}

void CursorHider::countdownElapsed() {
    CW_DCHECK_MAIN_THREAD();
    timer_->stop();
    hide();
}

void CursorHider::hide() {
    if (hidden_ || !widget_) {
        return;
    }
    hidden_ = true;
    hadOwnCursor_ = widget_->testAttribute(Qt::WA_SetCursor);
    savedCursor_ = widget_->cursor();
    widget_->setCursor(Qt::BlankCursor);
}

bool CursorHider::eventFilter(QObject* watched, QEvent* event) {
    if (watched == widget_ && event->type() == QEvent::MouseMove) {
        mouseMoved();
    }
    return QObject::eventFilter(watched, event);
}

} // namespace platform

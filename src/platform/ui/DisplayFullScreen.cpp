#include "platform/ui/DisplayFullScreen.h"

#include "dispatch/MainThreadChecker.h"
#include "platform/ui/WindowScreenKeeper.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <utility>

#include <algorithm>

namespace platform {

QRect fullScreenFrame(const QRect& screenGeometry) {
    return screenGeometry;
}

QRect fitFrameIntoArea(const QRect& frame, const QRect& area) {
    if (area.isEmpty()) {
        return frame;
    }
    QRect fitted = frame;
    fitted.setWidth(std::min(frame.width(), area.width()));
    fitted.setHeight(std::min(frame.height(), area.height()));
    fitted.moveLeft(std::clamp(fitted.left(), area.left(), area.right() - fitted.width() + 1));
    fitted.moveTop(std::clamp(fitted.top(), area.top(), area.bottom() - fitted.height() + 1));
    return fitted;
}

DisplayFullScreen::DisplayFullScreen(QWidget* window)
    : QObject(window)
    , window_(window) {
    CW_DCHECK_MAIN_THREAD();
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, &DisplayFullScreen::screenRemoved);
}

void DisplayFullScreen::enter(QScreen* screen) {
    CW_DCHECK_MAIN_THREAD();
    if (!window_ || screen == nullptr) {
        return;
    }
    if (!isFullScreen()) {
        normalFrame_ = window_->geometry();
    }
    screen_ = screen;
    if (window_->screen() != screen) {
        // Another X screen (not a sibling of the same desktop) means a new native window, which
        // Qt leaves unmapped while the widget believes itself shown: hide first, show after.
        const bool separateScreen =
            !window_->screen() || !window_->screen()->virtualSiblings().contains(screen);
        if (separateScreen && window_->isVisible()) {
            window_->hide();
        }
        window_->setScreen(screen);
    }
    window_->setGeometry(fullScreenFrame(screen->geometry()));
    window_->showFullScreen();
}

void DisplayFullScreen::exit() {
    CW_DCHECK_MAIN_THREAD();
    if (!window_ || !isFullScreen()) {
        screen_ = nullptr;
        return;
    }
    screen_ = nullptr;
    window_->showNormal();
    QScreen* now = window_->screen();
    const QRect area = now != nullptr ? now->availableGeometry() : QRect();
    if (normalFrame_.isValid()) {
        window_->setGeometry(fitFrameIntoArea(std::exchange(normalFrame_, QRect()), area));
    }
}

bool DisplayFullScreen::isFullScreen() const {
    return window_ && window_->isFullScreen();
}

QRect DisplayFullScreen::normalFrame() const {
    if (!window_) {
        return {};
    }
    if (isFullScreen() && normalFrame_.isValid()) {
        return normalFrame_;
    }
    if (!isFullScreen() && !window_->isMaximized()) {
        return window_->geometry();
    }
    // Maximised, or full screen by the window manager's hand, not through enter().
    const QRect normal = window_->normalGeometry();
    return normal.isValid() ? normal : window_->geometry();
}

void DisplayFullScreen::screenRemoved(QScreen* screen) {
    CW_DCHECK_MAIN_THREAD();
    if (screen == nullptr || screen != screen_ || !window_) {
        return;
    }
    screen_ = nullptr;
    emit displayLost();
    if (!window_ || !window_->isVisible()) {
        return;
    }
    window_->showNormal();
    if (normalFrame_.isValid()) {
        window_->setGeometry(std::exchange(normalFrame_, QRect()));
    }
    moveWindowToScreen(window_, screenInPlaceOf(screen, window_));
}

} // namespace platform

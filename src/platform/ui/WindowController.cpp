#include "platform/ui/WindowController.h"

#include "base/Log.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/ui/WindowFocus.h"
#include "platform/ui/WindowFrame.h"
#include "platform/ui/WindowScreenKeeper.h"

#include <QCloseEvent>
#include <QEvent>
#include <QScreen>
#include <QWidget>
#include <QWindowStateChangeEvent>

namespace platform {

WindowController::WindowController(QObject* parent)
    : QObject(parent) {}

WindowController::~WindowController() {
    if (!window_) {
        return;
    }
    window_->removeEventFilter(this);
    if (*eventDepth_ > 0) {
        // Deleting a widget inside its own event handling would pull it from under Qt.
        window_->hide();
        window_->deleteLater();
        return;
    }
    delete window_.data();
}

QWidget* WindowController::window() {
    CW_DCHECK_MAIN_THREAD();
    if (window_) {
        return window_;
    }
    if (loading_) {
        base::fatal("WindowController::window() called while the window is being made");
    }
    loading_ = true;
    windowWillLoad();
    QWidget* made = makeWindow();
    if (made == nullptr) {
        base::fatal("WindowController::makeWindow() gave no window");
    }
    made->setAttribute(Qt::WA_DeleteOnClose, false);
    if (!made->isWindow()) {
        made->setWindowFlag(Qt::Window, true);
    }
    made->installEventFilter(this);
    // On the display the user works on; a subclass may choose another from windowDidLoad on.
    if (QScreen* screen = workingScreen(); screen != nullptr && !made->testAttribute(Qt::WA_WState_Created)) {
        made->setScreen(screen);
    }
    window_ = made;
    loading_ = false;
    windowDidLoad();
    return window_;
}

QWidget* WindowController::makeWindow() {
    return new QWidget;
}

void WindowController::showWindow() {
    CW_DCHECK_MAIN_THREAD();
    QWidget* w = window();
    if (keepsInWorkArea_ && !w->isVisible()) {
        placeInWorkArea(w, shownOnce_ ? WorkAreaPlacement::keptInPlace : WorkAreaPlacement::centred);
    }
    shownOnce_ = true;
    bringForward(w);
}

bool WindowController::close() {
    CW_DCHECK_MAIN_THREAD();
    if (!window_) {
        return false;
    }
    return window_->close();
}

QRect WindowController::frame() const {
    return window_ ? window_->geometry() : QRect();
}

void WindowController::setFrame(const QRect& frame) {
    CW_DCHECK_MAIN_THREAD();
    if (window_) {
        window_->setGeometry(frame);
    }
}

QString WindowController::frameString() const {
    return window_ ? frameToString(window_->geometry()) : QString();
}

bool WindowController::setFrameFromString(const QString& text) {
    CW_DCHECK_MAIN_THREAD();
    const QRectF rect = frameFromString(text);
    if (!window_ || !isUsableFrame(rect)) {
        return false;
    }
    applyKeptFrame(window_, rect.toRect());
    return true;
}

bool WindowController::eventFilter(QObject* watched, QEvent* event) {
    if (watched != window_) {
        return QObject::eventFilter(watched, event);
    }
    // Shared, so that it outlives a controller destroyed from one of the hooks below.
    struct Depth {
        std::shared_ptr<int> depth;
        explicit Depth(std::shared_ptr<int> d)
            : depth(std::move(d)) {
            ++*depth;
        }
        ~Depth() { --*depth; }
    } depth(eventDepth_);
    QPointer<WindowController> self(this);

    switch (event->type()) {
    case QEvent::Close:
        if (!windowShouldClose()) {
            event->ignore();
            return true;
        }
        windowWillClose();
        if (self) {
            emit windowDidClose();
        }
        return false;
    case QEvent::WindowActivate:
        windowDidBecomeMain();
        return false;
    case QEvent::WindowDeactivate:
        windowDidResignMain();
        return false;
    case QEvent::WindowStateChange: {
        const auto* change = static_cast<QWindowStateChangeEvent*>(event);
        const bool was = change->oldState().testFlag(Qt::WindowFullScreen);
        const bool is = window_->windowState().testFlag(Qt::WindowFullScreen);
        if (was != is) {
            windowFullScreenDidChange(is);
        }
        return false;
    }
    default:
        return false;
    }
}

} // namespace platform

#include "platform/ui/WindowLevel.h"

#include <QWidget>

namespace platform {

WindowLevel windowLevel(const QWidget* window) {
    return window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) ? WindowLevel::floating
                                                                    : WindowLevel::normal;
}

void setWindowLevel(QWidget* window, WindowLevel level) {
    if (windowLevel(window) == level) {
        return;
    }
    const QRect geometry = window->geometry();
    const Qt::WindowStates state = window->windowState();
    const bool visible = window->isVisible();
    window->setWindowFlag(Qt::WindowStaysOnTopHint, level == WindowLevel::floating);
    window->setGeometry(geometry);
    window->setWindowState(state);
    if (visible) {
        window->show();
    }
}

} // namespace platform

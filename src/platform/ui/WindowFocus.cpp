#include "platform/ui/WindowFocus.h"

#include "base/OutsideInput.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/ui/Appearance.h"

#include <QEvent>
#include <QWidget>

namespace platform {

bool isInWindow(const QWidget* widget) {
    if (widget == nullptr) {
        return false;
    }
    if (!widget->isWindow()) {
        return true;
    }
    return widget->windowHandle() != nullptr || Appearance::hasOwnAppearance(widget);
}

bool isWindowMain(const QWidget* widget) {
    return isInWindow(widget) && widget->isActiveWindow();
}

void redrawOnWindowChange(QWidget* widget, const QEvent* event) {
    switch (event->type()) {
    case QEvent::ActivationChange:
    case QEvent::WindowActivate:
    case QEvent::WindowDeactivate:
    case QEvent::PaletteChange:
    case QEvent::ParentChange:
        widget->update();
        break;
    default:
        break;
    }
}

void bringForward(QWidget* window) {
    CW_DCHECK_MAIN_THREAD();
    if (window == nullptr) {
        return;
    }
    const bool fromOutside = base::OutsideInputScope::isOpen();
    // A window mapped with this asks the window manager not to focus it.
    window->setAttribute(Qt::WA_ShowWithoutActivating, fromOutside);
    window->show();
    window->raise();
    if (!fromOutside) {
        window->activateWindow();
    }
}

} // namespace platform

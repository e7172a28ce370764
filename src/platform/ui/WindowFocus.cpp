#include "platform/ui/WindowFocus.h"

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

} // namespace platform

#include "platform/ui/ContextMenuKey.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QWidget>
#include <QWindow>

namespace platform {

ContextMenuKey::ContextMenuKey(QObject* parent)
    : QObject(parent) {
    if (QCoreApplication* application = QCoreApplication::instance()) {
        application->installEventFilter(this);
    }
}

bool ContextMenuKey::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) {
        return QObject::eventFilter(watched, event);
    }
    const auto* key = static_cast<QKeyEvent*>(event);
    auto* widget = static_cast<QWidget*>(watched);
    // A key nobody claimed goes up to the window last.
    if (key->key() != Qt::Key_F10 || (key->modifiers() & ~Qt::KeypadModifier) != Qt::ShiftModifier ||
        !widget->isWindow() || widget->windowHandle() == nullptr) {
        return QObject::eventFilter(watched, event);
    }
    // The window hands it to its focus widget at the insertion point, as it does the Menu key's.
    QContextMenuEvent menu(QContextMenuEvent::Keyboard, QPoint(), QPoint(), key->modifiers());
    QCoreApplication::sendEvent(widget->windowHandle(), &menu);
    return true;
}

} // namespace platform

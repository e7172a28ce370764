#include "platform/ui/ActionRoute.h"

#include "dispatch/MainThreadChecker.h"

#include <QApplication>
#include <QMenuBar>
#include <QWidget>

#include <algorithm>
#include <utility>
#include <vector>

namespace platform {

namespace {

struct Attached {
    QPointer<QWidget> widget;
    ActionResponder* responder;
};

std::vector<Attached>& attachments() {
    static std::vector<Attached> list;
    return list;
}

ActionResponder* applicationResponder = nullptr;

ActionResponder* attachedTo(const QObject* object) {
    for (const Attached& a : attachments())
        if (a.widget && a.widget.data() == object)
            return a.responder;
    return nullptr;
}

// The object itself when it is a responder, else the controller attached to it, when either
// handles the action.
ActionResponder* responderOf(QObject* object, std::string_view action) {
    if (auto* self = dynamic_cast<ActionResponder*>(object); self && self->respondsToAction(action))
        return self;
    if (auto* attached = attachedTo(object); attached && attached->respondsToAction(action))
        return attached;
    return nullptr;
}

bool isPopup(const QWidget* window) {
    return window && window->windowType() == Qt::Popup;
}

// Menus take the keyboard while they are worked from the keyboard: the bar the focus of its
// window, an open menu the activation. Actions are for what had the keyboard before.
bool isMenu(const QWidget* widget) {
    return qobject_cast<const QMenuBar*>(widget) != nullptr || isPopup(widget->window());
}

// The widget that last had the keyboard, menus aside.
QPointer<QWidget>& lastFocus() {
    static QPointer<QWidget> focus;
    static const bool following = [] {
        if (auto* application = qobject_cast<QApplication*>(QCoreApplication::instance()))
            QObject::connect(application, &QApplication::focusChanged, application,
                             [](QWidget*, QWidget* now) {
                                 if (now && !isMenu(now))
                                     focus = now;
                             });
        return true;
    }();
    (void)following;
    return focus;
}

} // namespace

QWidget* actionWindow(QObject* sender) {
    CW_DCHECK_MAIN_THREAD();
    const QPointer<QWidget>& last = lastFocus();
    QWidget* window = QApplication::activeWindow();
    if (window && !isPopup(window))
        return window;
    // While a menu is open (also between two menus of a bar, as the pointer or an arrow key moves
    // on) there may be no active window, or the menu is it: the menu acts for the window it was
    // opened from.
    if (QApplication::activePopupWidget() && last && last->window()->isVisible())
        return last->window();
    if (auto* widget = qobject_cast<QWidget*>(sender); widget && !isPopup(widget->window()))
        return widget->window();
    return nullptr;
}

QWidget* focusWidgetIn(QWidget* window) {
    if (!window)
        return nullptr;
    QWidget* focus = window->focusWidget();
    if (focus && isMenu(focus)) {
        const QPointer<QWidget>& last = lastFocus();
        focus = last && last->window() == window ? last.data() : nullptr;
    }
    return focus;
}

QWidget* firstTabStop(QWidget& area) {
    QWidget* window = area.window();
    for (QWidget* w = window->nextInFocusChain(); w != window; w = w->nextInFocusChain()) {
        if (area.isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(window) &&
            w->isEnabled())
            return w;
    }
    return nullptr;
}

QWidget* actionFocusWidget(QObject* sender) {
    QWidget* window = actionWindow(sender);
    QWidget* focus = focusWidgetIn(window);
    return focus ? focus : window;
}

ActionResponder* responderForAction(std::string_view action, QObject* target, QObject* sender) {
    CW_DCHECK_MAIN_THREAD();
    if (action.empty())
        return nullptr;
    if (target)
        if (ActionResponder* responder = responderOf(target, action))
            return responder;
    for (QWidget* widget = actionFocusWidget(sender); widget; widget = widget->parentWidget())
        if (ActionResponder* responder = responderOf(widget, action))
            return responder;
    if (applicationResponder && applicationResponder->respondsToAction(action))
        return applicationResponder;
    return nullptr;
}

bool sendAction(std::string_view action, QObject* target, QObject* sender) {
    ActionResponder* responder = responderForAction(action, target, sender);
    if (!responder)
        return false;
    responder->performAction(action, sender);
    return true;
}

void setApplicationResponder(ActionResponder* responder) {
    CW_DCHECK_MAIN_THREAD();
    applicationResponder = responder;
}

ResponderAttachment::ResponderAttachment(QWidget* widget, ActionResponder* responder)
    : widget_(widget)
    , responder_(responder) {
    CW_DCHECK_MAIN_THREAD();
    attachments().push_back({widget, responder});
}

ResponderAttachment::~ResponderAttachment() {
    if (!responder_)
        return;
    auto& list = attachments();
    // Drop this attachment, and any whose widget is gone.
    list.erase(std::remove_if(list.begin(), list.end(),
                              [this](const Attached& a) {
                                  return !a.widget || (a.responder == responder_ && a.widget == widget_);
                              }),
               list.end());
}

} // namespace platform

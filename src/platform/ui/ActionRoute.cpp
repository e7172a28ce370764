#include "platform/ui/ActionRoute.h"

#include "dispatch/MainThreadChecker.h"

#include <QApplication>
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

QWidget* chainStart(QObject* sender) {
    QWidget* window = QApplication::activeWindow();
    if (!window) {
        if (auto* widget = qobject_cast<QWidget*>(sender))
            window = widget->window();
    }
    if (!window)
        return nullptr;
    QWidget* focus = window->focusWidget();
    return focus ? focus : window;
}

} // namespace

ActionResponder* responderForAction(std::string_view action, QObject* target, QObject* sender) {
    CW_DCHECK_MAIN_THREAD();
    if (action.empty())
        return nullptr;
    if (target)
        if (ActionResponder* responder = responderOf(target, action))
            return responder;
    for (QWidget* widget = chainStart(sender); widget; widget = widget->parentWidget())
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

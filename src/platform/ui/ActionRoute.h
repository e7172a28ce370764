// Named actions sent by controls to a target, or along the chain of responders.
#pragma once

#include <QPointer>
#include <QString>

#include <optional>
#include <string>
#include <string_view>

class QObject;
class QWidget;

namespace platform {

// Something that performs named actions ("play:", "changeBackgroundColor:"). Widgets implement
// it directly; controllers that own a widget attach themselves to it (ResponderAttachment).
class ActionResponder {
public:
    virtual ~ActionResponder() = default;
    // Whether this responder handles `action` at all; the chain skips those that do not.
    virtual bool respondsToAction(std::string_view action) const = 0;
    // Performs `action` for `sender` (the control, a menu item, or null).
    virtual void performAction(std::string_view action, QObject* sender) = 0;
    // Whether a menu item or control for `action` is enabled now; by default when it responds.
    virtual bool validateAction(std::string_view action) const { return respondsToAction(action); }
    // The title a menu item for `action` shows now ("Undo Typing", "Delete Bookmark"); nullopt
    // keeps the item's own title.
    virtual std::optional<QString> titleForAction(std::string_view /*action*/,
                                                  const QObject* /*sender*/) const {
        return std::nullopt;
    }
};

// A control's target and action: the target is held weakly; once it is gone (or when none was
// set) the action travels along the responder chain instead.
struct ActionBinding {
    QPointer<QObject> target;
    std::string action;
    bool isSet() const { return !action.empty(); }
};

// The window actions are for: the active window; while a menu is open, the window that was
// active before it (a popup may take the activation, and between two menus of a bar there is
// none); else the sender's window, when the sender is a widget outside a menu. Null when there is
// none. Main thread only.
QWidget* actionWindow(QObject* sender);
// The widget of `window` that has the keyboard, menus aside: while the menu bar holds the focus
// (menus worked from the keyboard), the widget that had it before. Null when none has.
QWidget* focusWidgetIn(QWidget* window);
// The first control inside `area` that Tab stops at, in its window's Tab order; null when none is.
QWidget* firstTabStop(QWidget& area);
// That of actionWindow() (the window itself when nothing in it has the focus); null without a
// window. Unlike QApplication::focusWidget(), never a menu.
QWidget* actionFocusWidget(QObject* sender);

// Sends `action` with `sender`. A target that is an ActionResponder (or has one attached) gets it
// when it responds; otherwise the chain is asked: the focus widget of the action window (see
// actionWindow()) and each of its parents, each widget before the
// responder attached to it, and last the application's responder. Returns whether someone
// performed it; an empty action sends nothing. Main thread only.
bool sendAction(std::string_view action, QObject* target, QObject* sender);
inline bool sendAction(const ActionBinding& binding, QObject* sender) {
    return binding.isSet() && sendAction(binding.action, binding.target.data(), sender);
}

// The responder that would perform `action` for `target`/`sender`, as sendAction chooses it;
// null when there is none. Menus use it to validate their items.
ActionResponder* responderForAction(std::string_view action, QObject* target, QObject* sender);

// The last link of the chain (the application controller); null removes it.
void setApplicationResponder(ActionResponder* responder);

// Attaches a controller to the widget it owns for as long as both live: the chain asks it right
// after the widget itself. Destroying the attachment detaches it.
class ResponderAttachment {
public:
    ResponderAttachment() = default;
    ResponderAttachment(QWidget* widget, ActionResponder* responder);
    ~ResponderAttachment();
    ResponderAttachment(const ResponderAttachment&) = delete;
    ResponderAttachment& operator=(const ResponderAttachment&) = delete;

private:
    QPointer<QWidget> widget_;
    ActionResponder* responder_ = nullptr;
};

} // namespace platform

// One window's key events on their way to the user's bindings: translation, matching, shortcut
// overrides and the end of held keys, shared by the prompter and the editor.
#pragma once

#include "cuewright/model/BindingActions.h"
#include "platform/keys/KeyEventTranslator.h"

#include <functional>
#include <optional>
#include <vector>

class QEvent;
class QKeyEvent;

namespace platform {
class Defaults;
}

namespace cw {

// Whether a key press may be a binding where text is typed: held with Ctrl, Alt or Super, or an
// F-key, and not one of the standard editing keys (copy, undo, word moves, ...).
bool mayBindWhileTyping(const platform::KeyEvent& event);

// Translates a widget's Qt key events (without X11's auto-repeat releases) and hands each to
// `sink`, which asks keyDown()/keyUp() whether the event is a binding's and runs what they decide.
// The bindings and "PerformCustomBindingActionOnKeyDown" are read from `defaults` at every event;
// `mayBind` says which presses may be bindings at all in this place (empty: every key).
// An auto-repeat belongs to the press it repeats, whatever modifiers went up or down since, so the
// key's release always finds the press and a held action ends (see BindingKeys).
// Main thread only; `defaults` must outlive the object.
class BindingKeyInput {
public:
    using MayBind = std::function<bool(const platform::KeyEvent&)>;

    BindingKeyInput(BindingContext context, platform::KeyEventTranslator::Sink sink,
                    platform::Defaults& defaults, MayBind mayBind = {});
    BindingKeyInput(const BindingKeyInput&) = delete;
    BindingKeyInput& operator=(const BindingKeyInput&) = delete;

    void setDefaults(platform::Defaults& defaults) { defaults_ = &defaults; }
    platform::Defaults& defaults() const { return *defaults_; }

    // Whether the event was taken (see KeyEventTranslator::translate).
    bool translate(const QKeyEvent& event) { return translator_.translate(event); }

    // nullopt: the event belongs to no binding here and goes on.
    std::optional<BindingKeys::Decision> keyDown(const platform::KeyEvent& event);
    std::optional<BindingKeys::Decision> keyUp(const platform::KeyEvent& event);
    // Hands a translated event to keyDown() or keyUp() and, when its decision runs, to `act` with
    // the event as the binding knows it and the edge. Whether the event was the binding's: true
    // also when its action runs on the other edge; `act`'s answer when it ran.
    bool dispatch(const platform::KeyEvent& event,
                  const std::function<bool(const platform::KeyEvent&, bool isKeyDown)>& act);
    // The action the key's binding has, as this place matches it.
    std::optional<KeyBindings::Action> boundAction(const platform::KeyEvent& event) const;

    // Whether the key press a shortcut override stands for belongs to a binding: one that matches,
    // or a repeat of a key whose binding's press is still down. Such a key is kept from the
    // window's shortcuts (the menus') for the press that follows.
    bool isBinding(const QKeyEvent& shortcutOverride) const;
    // Whether a key release goes up from a press that matched a binding here. Any other release
    // belongs to the widget it reaches, untouched (a button clicks on Space's release).
    bool ownsRelease(const QKeyEvent& release) const;

    // An event filter's part: takes a key event sent to a control whose keys are the bindings'
    // here (`watched`, asked only for a binding's keys): a shortcut override of a binding's key
    // (kept from the window's shortcuts) and a binding's press, accepted; and the release of a
    // press taken here, whatever it is sent to (a menu opened while the key was held has the
    // keyboard then). Any other key reaches the control as it came. Whether the event was taken.
    bool takeKeyEvent(QEvent& event, const std::function<bool()>& watched);

    // A key event reached a control whose keys are the bindings' here, though not handed over.
    void noteKeyEvent(const QKeyEvent& event) { translator_.noteKeyEvent(event); }

    // The focus went elsewhere, where the held keys' releases will not be seen: a release still
    // held back is handed to the sink first, then the held actions whose keys are still down end
    // as BindingKeys::endHeld says; the caller runs the decisions returned.
    std::vector<BindingKeys::Decision> endHeld();

private:
    bool actsOnKeyDown() const;

    platform::Defaults* defaults_;
    MayBind mayBind_;
    BindingKeys keys_;
    platform::KeyEventTranslator translator_;
};

} // namespace cw

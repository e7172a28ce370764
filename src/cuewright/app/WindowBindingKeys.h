// The user's key bindings in the application's windows that have no key handling of their own.
#pragma once

#include "cuewright/model/BindingKeyInput.h"

#include <QObject>

#include <functional>

class QWidget;

namespace platform {
class Defaults;
}

namespace cw {

// With "listenToShortcutsInBackground" on, the bindings act in every application, so they act in
// every window of ours too: this takes them in the windows that do not run them themselves (the
// settings, the help windows, the remote control, the start window); the editor and prompter
// windows do (`runsOwnBindings`). A key well that is recording keeps its key, a control that types
// text keeps the plain keys it types (as in the editor), and menus and modal questions keep
// theirs. What a key decides goes to `perform` with the action and the edge; a held action ends
// when its key goes up, or when the keyboard goes to another window, where its key-up would not
// come here. Installed on the application as an event filter. Main thread only; `defaults` must
// outlive it.
class WindowBindingKeys final : public QObject {
    Q_OBJECT

public:
    using RunsOwnBindings = std::function<bool(const QWidget& window)>;
    using Perform = std::function<void(KeyBindings::Action action, bool isDown)>;

    WindowBindingKeys(platform::Defaults& defaults, RunsOwnBindings runsOwnBindings, Perform perform);
    ~WindowBindingKeys() override;
    WindowBindingKeys(const WindowBindingKeys&) = delete;
    WindowBindingKeys& operator=(const WindowBindingKeys&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Whether key events sent to `watched` are ours: it has the keyboard in a window of that kind.
    bool watches(const QObject* watched) const;
    void endHeldKeys();

    RunsOwnBindings runsOwnBindings_;
    Perform perform_;
    BindingKeyInput input_;
};

} // namespace cw

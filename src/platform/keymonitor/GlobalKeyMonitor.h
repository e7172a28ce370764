// Key events of every application, seen through the X11 RECORD extension.
#pragma once

#include "platform/keys/KeyEvent.h"

#include <functional>
#include <memory>
#include <string>

namespace platform {

// Watches the key presses and releases the X server receives, whichever client has the focus,
// and hands each to the handler as a KeyEvent (through the one X11 key translation), on the main
// thread. A press is dropped when the X input focus is on one of our own windows at that moment,
// as that window gets it already: the server's focus, not the application's own idea of being
// active, which stays behind when its window closes and the window manager hands the keyboard to
// another client. Releases are all handed over: whatever the focus did between a key's press and
// its release, only its release ends what its press began (the handler tells presses it saw).
//
// It records on two connections of its own (RECORD needs one for control and one for data);
// the data connection's descriptor is watched by a dispatch read source on the main queue.
// Without an X display, on Wayland or without RECORD the monitor is still made but receives
// nothing (isTrusted() says which). Destroying it stops the recording; no handler call begins
// after that, even when the handler itself destroys the monitor. Main thread only.
class GlobalKeyMonitor {
public:
    using Handler = std::function<void(const KeyEvent& event)>;

    struct Options {
        std::string display; // "" : $DISPLAY
        // Whether the X window (the focus or one of its ancestors) is ours; unset: one of the
        // application's QWindows.
        std::function<bool(unsigned long window)> isOwnWindow;
    };

    // Whether other applications' keys can be seen: an X11 session (not Wayland) whose display
    // offers RECORD. The counterpart of being trusted for accessibility.
    static bool isTrusted(const std::string& display = {});

    static std::unique_ptr<GlobalKeyMonitor> install(Handler handler, Options options = {});
    ~GlobalKeyMonitor();
    GlobalKeyMonitor(const GlobalKeyMonitor&) = delete;
    GlobalKeyMonitor& operator=(const GlobalKeyMonitor&) = delete;

    // Whether events are being recorded.
    bool isRecording() const;

    struct State;

private:
    explicit GlobalKeyMonitor(std::shared_ptr<State> state);
    std::shared_ptr<State> state_;
};

} // namespace platform

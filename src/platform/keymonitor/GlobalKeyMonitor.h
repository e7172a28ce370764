// Key events of every application, seen through the X11 RECORD extension.
#pragma once

#include "platform/keys/KeyEvent.h"

#include <functional>
#include <memory>
#include <string>

namespace platform {

// Watches the key presses and releases the X server receives, whichever client has the focus,
// and hands each to the handler as a KeyEvent (through the one X11 key translation), on the main
// thread. Events are dropped while our own application is active, as its windows get them
// already, but for the release of a key pressed while another application was in front: its
// press reached none of our windows, so only the monitor can end what the press began.
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
        std::string display;                          // "" : $DISPLAY
        std::function<bool()> isOwnApplicationActive; // unset: Qt's application state is active
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

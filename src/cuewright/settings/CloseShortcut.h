// The desktop's "close window" keys for the settings and help windows.
#pragma once

namespace platform {
class WindowController;
}

namespace cw {

// Ctrl+W (and whatever the platform binds to closing) closes the controller's window as its
// close button does. Call once the window is made. A key well that is recording takes the keys
// first, so the combination can still be recorded.
void addCloseShortcut(platform::WindowController& controller);

} // namespace cw

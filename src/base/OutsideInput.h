// Telling work started from outside the application's windows from the person's own actions.
#pragma once

namespace base {

// Marks, while it lives, that what runs on the main thread was started from outside the
// application's windows: a network or Bluetooth remote, a key pressed in another application, a
// game controller. Windows may then come forward and show, but never take the keyboard from the
// application the person is in. Scopes nest. Main thread only (the mark is the main thread's).
class OutsideInputScope {
public:
    OutsideInputScope();
    ~OutsideInputScope();
    OutsideInputScope(const OutsideInputScope&) = delete;
    OutsideInputScope& operator=(const OutsideInputScope&) = delete;

    // Whether a scope is open now.
    static bool isOpen();
};

} // namespace base

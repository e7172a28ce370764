// Shortcuts for the standard commands that also work where the platform theme names none.
#pragma once

#include <QKeySequence>

namespace platform {

// The platform theme's first key for `key`; where the theme has none (plain X11 without a
// desktop's theme has no Save As or Full Screen key), the key the Linux desktops use.
QKeySequence standardShortcut(QKeySequence::StandardKey key);

} // namespace platform

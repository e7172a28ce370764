// Shortcuts for the standard commands that also work where the platform theme names none.
#pragma once

#include <QKeySequence>

namespace platform {

// The first key of `key` in the standard keys' table (see platform/keys/StandardKeys.h), whatever
// the platform theme says; empty for a command the table does not hold.
QKeySequence standardShortcut(QKeySequence::StandardKey key);

} // namespace platform

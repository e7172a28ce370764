// The desktop's standard commands and their keys: the one table that menus, the script editor and
// the Keys pane all read, so that they agree on every platform plugin.
#pragma once

#include <QKeyCombination>
#include <QKeySequence>
#include <QList>

#include <optional>

namespace platform {

// The keys of `command` as the Linux desktops bind them, the one a menu shows first; empty for a
// command the table does not hold. Unlike QKeySequence::keyBindings, the same under every platform
// theme (plain X11 has no Ctrl+Y for Redo, GNOME, KDE and the offscreen plugin do).
QList<QKeySequence> standardKeys(QKeySequence::StandardKey command);

// The command whose key `key` is; nullopt when it is none of the table's.
std::optional<QKeySequence::StandardKey> standardCommandOfKey(QKeyCombination key);

// Whether `command` belongs to the text being edited (copy, undo, moving by word, bold, ...)
// rather than to a menu of the application (save, quit, ...).
bool isEditingCommand(QKeySequence::StandardKey command);

} // namespace platform

// What keys type and how they are named on screen.
#pragma once

#include "platform/keys/KeyCodes.h"
#include "platform/keys/ModifierFlags.h"

#include <optional>
#include <string>

namespace platform {

// The keyboard layout that characters and names come from. It is the US layout until one of these
// is called, so results stay the same on every machine. Main thread only.
// Returns false (keeping the previous layout) when the layout cannot be compiled.
bool setKeyboardLayout(const std::string& layout, const std::string& variant = {});
// The X server's current layout (its _XKB_RULES_NAMES); false without a display or that property.
bool useCurrentKeyboardLayout();

// UTF-8 text the key types under the layout with Shift and Caps Lock as given, no other modifier.
// Keys that type control characters or nothing (F-keys, arrows, Return, ...) give "".
std::string typedCharacters(keycode::KeyCode code, bool shift = false, bool capsLock = false);

// Keys are named as Linux desktops and Qt's menus name them, never with the other platform's
// glyphs: this is the one place that makes the text of a key wherever one is shown.

// The name of a key that types nothing or is named apart from what it types ("Space",
// "Backspace", "Up", "PgUp", "F5", keypad keys "Num 3", "Num +" ...); nullopt for the others.
std::optional<std::string> specialKeyName(keycode::KeyCode code);

// The text that names a key: its special name, else what it types unshifted, upper-cased
// ("" when it types nothing).
std::string keyDisplayName(keycode::KeyCode code);

// The short symbol printed on PC keycaps, for controls too small for a name: arrows "↑",
// Backspace "⟵", Return "↵", Tab "↹"; keyDisplayName for every other key.
std::string keySymbol(keycode::KeyCode code);

// The names of the device-independent modifiers in `flags`, each followed by "+", in the order
// "Ctrl+Alt+Shift+Super+". Stored flags keep the other platform's meaning: command is Ctrl,
// option is Alt, control is Super.
std::string modifierNames(ModifierFlags flags);

// A key with its modifiers as shown to the user: "Ctrl+F7", "Shift+Super+Num 3".
std::string keyText(keycode::KeyCode code, ModifierFlags flags);

} // namespace platform

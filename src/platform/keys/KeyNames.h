// What keys type and how they are named on screen.
#pragma once

#include "platform/keys/KeyCodes.h"

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

// The glyph or name shown for special keys (Return "⏎", Space "␣", arrows, F1-F15, keypad keys
// "0(NUM)" ...); nullopt for keys named by what they type.
std::optional<std::string> specialKeyName(keycode::KeyCode code);

// The text that names a key: its special name, else what it types unshifted, upper-cased
// ("" when it types nothing).
std::string keyDisplayName(keycode::KeyCode code);

} // namespace platform

// The key event of the application: codes and flags of the platform our bindings come from.
#pragma once

#include "platform/keys/KeyCodes.h"
#include "platform/keys/ModifierFlags.h"

#include <cstdint>
#include <string>

namespace platform {

// A plain value made by the translations in KeyTranslation.h. `keyCode` is a keycode:: constant,
// `modifierFlags` uses the modifier:: bits. The strings are UTF-8: `characters` is what the key
// types with the modifiers held, `charactersIgnoringModifiers` what it types with Shift alone
// taken into account (both empty for modifier keys and flags changes).
struct KeyEvent {
    enum class Type { keyDown, keyUp, flagsChanged };

    Type type = Type::keyDown;
    keycode::KeyCode keyCode = 0;
    ModifierFlags modifierFlags = 0;
    std::string characters;
    std::string charactersIgnoringModifiers;
    bool isARepeat = false;

    ModifierFlags deviceIndependentModifierFlags() const { return deviceIndependent(modifierFlags); }

    bool operator==(const KeyEvent&) const = default;
};

} // namespace platform

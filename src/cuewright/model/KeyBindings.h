// The user's own keys for the eleven transport actions: storage, matching and display.
#pragma once

#include "platform/defaults/Value.h"
#include "platform/keys/KeyEvent.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {
class Defaults;
class NotificationCenter;
} // namespace platform

namespace cw {

// A plain value, stored under settings::customKeyBindings. Nothing is cached: load() reads the
// store every time, so a change saved by the settings takes effect at the next key event.
// Main thread only.
struct KeyBindings {
    struct Key {
        std::uint16_t keyCode = 0;
        platform::ModifierFlags modifiers = 0; // as recorded; only bits 16 to 31 but Caps Lock count
        bool operator==(const Key&) const = default;
    };

    // In field order; the stored form names each by its field.
    enum class Action {
        playPause,
        rewind,
        incSpeed,
        decSpeed,
        reverse,
        scrollLineUp,
        scrollLineDown,
        jumpNextBookmark,
        jumpPrevBookmark,
        ffwd,
        bbwd
    };
    static constexpr int actionCount = 11;

    // Keys with a fixed meaning in the prompter: Space, Delete, Up Arrow, Down Arrow (0 to 3).
    enum class FixedKey { space, deleteKey, upArrow, downArrow };

    static constexpr std::string_view defaultName = "Custom Bindings";

    std::string name{defaultName};
    std::optional<Key> playPause;
    std::optional<Key> rewind;
    std::optional<Key> incSpeed;
    std::optional<Key> decSpeed;
    std::optional<Key> reverse;
    std::optional<Key> scrollLineUp;
    std::optional<Key> scrollLineDown;
    std::optional<Key> jumpNextBookmark;
    std::optional<Key> jumpPrevBookmark;
    std::optional<Key> ffwd;
    std::optional<Key> bbwd;

    bool operator==(const KeyBindings&) const = default;

    std::optional<Key>& key(Action action);
    const std::optional<Key>& key(Action action) const;
    // The field's name, which is also its key in the stored dictionary ("playPause", ...).
    static std::string_view actionName(Action action);
    static platform::keycode::KeyCode fixedKeyCode(FixedKey key);

    // The stored bindings from Defaults::standard() (or the given store); the defaults (name
    // "Custom Bindings", nothing assigned) when nothing or no dictionary is stored.
    static KeyBindings load();
    static KeyBindings load(const platform::Defaults& defaults);
    // Decoding never fails: unreadable entries are unassigned, and a number that is not a
    // non-negative whole number in range (a Boolean is not a number) reads as 0.
    static KeyBindings fromStoredValue(const platform::Value& value);
    platform::Dictionary storedValue() const;

    // Stores under "CustomKeyBindings" in Defaults::standard() (or the given store), then posts
    // "KeyBindingsDidChange" without an object on the default centre (or the given one).
    void save() const;
    void save(platform::Defaults& defaults, platform::NotificationCenter& center) const;

    // The first action in field order whose key code equals the event's and whose modifiers equal
    // the event's in the device-independent bits, Caps Lock left out on both sides (see
    // platform::bindingModifiers); nullopt when none does and for flags changes.
    // The static form loads the bindings afresh.
    static std::optional<Action> action(const platform::KeyEvent& event);
    static std::optional<Action> action(const platform::KeyEvent& event, const platform::Defaults& defaults);
    std::optional<Action> matchingAction(const platform::KeyEvent& event) const;

    // True when any assigned action uses the fixed key's code, whatever its modifiers.
    bool isFixedKeyBound(FixedKey key) const;

    // The names of the modifiers set in `flags` as Linux shows them, each followed by "+"
    // ("Ctrl+Shift+"; platform::modifierNames).
    static std::string modifierSymbols(platform::ModifierFlags flags);
    // The key's name: its special name, else the character it types, upper-cased.
    static std::string keyString(std::uint16_t keyCode);
    // modifierSymbols of the binding modifiers followed by keyString ("Ctrl+F7").
    static std::string keyText(const Key& key);
};

} // namespace cw

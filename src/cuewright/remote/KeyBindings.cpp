#include "cuewright/remote/KeyBindings.h"

#include "cuewright/remote/SettingsStorage.h"
#include "platform/keys/KeyNames.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>
#include <utility>

namespace cw {

namespace {

using Action = KeyBindings::Action;

constexpr std::string_view actionNames[KeyBindings::actionCount] = {
    "playPause",      "rewind",           "incSpeed",         "decSpeed", "reverse", "scrollLineUp",
    "scrollLineDown", "jumpNextBookmark", "jumpPrevBookmark", "ffwd",     "bbwd"};

constexpr Action allActions[KeyBindings::actionCount] = {Action::playPause,
                                                         Action::rewind,
                                                         Action::incSpeed,
                                                         Action::decSpeed,
                                                         Action::reverse,
                                                         Action::scrollLineUp,
                                                         Action::scrollLineDown,
                                                         Action::jumpNextBookmark,
                                                         Action::jumpPrevBookmark,
                                                         Action::ffwd,
                                                         Action::bbwd};

// A stored number as an unsigned integer no larger than `max`; 0 for anything else (negative,
// fractional, too large, not a number).
std::uint64_t readUnsigned(const nlohmann::json& value, std::uint64_t max) {
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        return number <= max ? number : 0;
    }
    if (value.is_number_integer()) {
        const auto number = value.get<std::int64_t>();
        return number >= 0 && static_cast<std::uint64_t>(number) <= max ? static_cast<std::uint64_t>(number)
                                                                        : 0;
    }
    if (value.is_number_float()) {
        const double number = value.get<double>();
        // 2^64 itself is not representable; compare below it.
        if (number >= 0 && number == std::floor(number) && number < 18446744073709551616.0 &&
            static_cast<std::uint64_t>(number) <= max)
            return static_cast<std::uint64_t>(number);
    }
    return 0;
}

} // namespace

std::optional<KeyBindings::Key>& KeyBindings::key(Action action) {
    return const_cast<std::optional<Key>&>(std::as_const(*this).key(action));
}

const std::optional<KeyBindings::Key>& KeyBindings::key(Action action) const {
    switch (action) {
    case Action::playPause:
        return playPause;
    case Action::rewind:
        return rewind;
    case Action::incSpeed:
        return incSpeed;
    case Action::decSpeed:
        return decSpeed;
    case Action::reverse:
        return reverse;
    case Action::scrollLineUp:
        return scrollLineUp;
    case Action::scrollLineDown:
        return scrollLineDown;
    case Action::jumpNextBookmark:
        return jumpNextBookmark;
    case Action::jumpPrevBookmark:
        return jumpPrevBookmark;
    case Action::ffwd:
        return ffwd;
    case Action::bbwd:
        return bbwd;
    }
    return playPause; // not reached: every case returns
}

std::string_view KeyBindings::actionName(Action action) {
    return actionNames[static_cast<int>(action)];
}

platform::keycode::KeyCode KeyBindings::fixedKeyCode(FixedKey key) {
    switch (key) {
    case FixedKey::space:
        return platform::keycode::space;
    case FixedKey::deleteKey:
        return platform::keycode::deleteKey;
    case FixedKey::upArrow:
        return platform::keycode::upArrow;
    case FixedKey::downArrow:
        return platform::keycode::downArrow;
    }
    return platform::keycode::space; // not reached
}

KeyBindings KeyBindings::load() {
    return load(settingsStorage());
}

KeyBindings KeyBindings::load(const SettingsStorage& storage) {
    return fromStoredValue(storage.value(std::string(customKeyBindingsKey)));
}

KeyBindings KeyBindings::fromStoredValue(const nlohmann::json& value) {
    if (!value.is_object())
        return KeyBindings{};
    KeyBindings bindings;
    const auto name = value.find("name");
    bindings.name = name != value.end() && name->is_string() ? name->get<std::string>() : std::string();
    for (Action action : allActions) {
        const auto entry = value.find(std::string(actionName(action)));
        if (entry == value.end() || !entry->is_object())
            continue;
        Key key;
        if (const auto code = entry->find("keyCode"); code != entry->end())
            key.keyCode =
                static_cast<std::uint16_t>(readUnsigned(*code, std::numeric_limits<std::uint16_t>::max()));
        if (const auto flags = entry->find("modifiers"); flags != entry->end())
            key.modifiers = readUnsigned(*flags, std::numeric_limits<std::uint64_t>::max());
        bindings.key(action) = key;
    }
    return bindings;
}

nlohmann::json KeyBindings::storedValue() const {
    nlohmann::json value = nlohmann::json::object();
    value["name"] = name;
    for (Action action : allActions) {
        if (const auto& bound = key(action))
            value[std::string(actionName(action))] = {{"keyCode", bound->keyCode},
                                                      {"modifiers", bound->modifiers}};
    }
    return value;
}

void KeyBindings::save() const {
    save(settingsStorage());
}

void KeyBindings::save(SettingsStorage& storage) const {
    storage.setValue(std::string(customKeyBindingsKey), storedValue());
    storage.postNotification(std::string(keyBindingsDidChangeNotification));
}

std::optional<Action> KeyBindings::action(const platform::KeyEvent& event) {
    return load().matchingAction(event);
}

std::optional<Action> KeyBindings::matchingAction(const platform::KeyEvent& event) const {
    // Pressing a modifier key alone is not a key press.
    if (event.type == platform::KeyEvent::Type::flagsChanged)
        return std::nullopt;
    const platform::ModifierFlags eventFlags = platform::deviceIndependent(event.modifierFlags);
    for (Action action : allActions) {
        const auto& bound = key(action);
        // Both sides masked: a binding stored with device-dependent bits still matches its key.
        if (bound && bound->keyCode == event.keyCode &&
            platform::deviceIndependent(bound->modifiers) == eventFlags)
            return action;
    }
    return std::nullopt;
}

bool KeyBindings::isFixedKeyBound(FixedKey fixed) const {
    const auto code = fixedKeyCode(fixed);
    for (Action action : allActions) {
        if (const auto& bound = key(action); bound && bound->keyCode == code)
            return true;
    }
    return false;
}

std::string KeyBindings::modifierSymbols(platform::ModifierFlags flags) {
    namespace mod = platform::modifier;
    std::string symbols;
    if (flags & mod::option)
        symbols += "\u2325";
    if (flags & mod::shift)
        symbols += "\u21E7";
    if (flags & mod::control)
        symbols += "\u2303";
    if (flags & mod::command)
        symbols += "\u2318";
    return symbols;
}

std::string KeyBindings::keyString(std::uint16_t keyCode) {
    return platform::keyDisplayName(keyCode);
}

std::string KeyBindings::keyText(const Key& key) {
    return modifierSymbols(platform::deviceIndependent(key.modifiers)) + keyString(key.keyCode);
}

} // namespace cw

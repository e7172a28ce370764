#include "cuewright/model/KeyBindings.h"

#include "cuewright/model/SettingsKeys.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/defaults/Defaults.h"
#include "platform/defaults/NotificationCenter.h"
#include "platform/keys/KeyNames.h"

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

// 2^64, the first double above every unsigned 64-bit integer.
constexpr double twoToThe64 = 18446744073709551616.0;

// A stored number as an unsigned integer no larger than `max`; 0 for anything else (negative,
// fractional, too large, a Boolean, not a number).
std::uint64_t readUnsigned(const platform::Value& value, std::uint64_t max) {
    if (const auto* integer = value.integer())
        return *integer >= 0 && static_cast<std::uint64_t>(*integer) <= max
                   ? static_cast<std::uint64_t>(*integer)
                   : 0;
    double number = 0;
    if (const auto* real = value.real())
        number = *real;
    else if (const auto* floating = value.floating())
        number = *floating;
    else
        return 0;
    if (number >= 0 && number == std::floor(number) && number < twoToThe64 &&
        static_cast<std::uint64_t>(number) <= max)
        return static_cast<std::uint64_t>(number);
    return 0;
}

// The store keeps signed 64-bit integers; a mask with bit 63 set (the platform sets none that
// high) is kept as the nearest double, which reads back as a whole number.
platform::Value storedUnsigned(std::uint64_t number) {
    if (number <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return platform::Value(static_cast<long long>(number));
    return platform::Value(static_cast<double>(number));
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
    return load(platform::Defaults::standard());
}

KeyBindings KeyBindings::load(const platform::Defaults& defaults) {
    CW_DCHECK_MAIN_THREAD();
    const auto stored = defaults.object(settings::customKeyBindings);
    return stored ? fromStoredValue(*stored) : KeyBindings{};
}

KeyBindings KeyBindings::fromStoredValue(const platform::Value& value) {
    const platform::Dictionary* stored = value.dictionary();
    if (!stored)
        return KeyBindings{};
    KeyBindings bindings;
    const auto name = stored->find("name");
    const std::string* storedName = name != stored->end() ? name->second.string() : nullptr;
    bindings.name = storedName ? *storedName : std::string();
    for (Action action : allActions) {
        const auto entry = stored->find(actionName(action));
        const platform::Dictionary* fields = entry != stored->end() ? entry->second.dictionary() : nullptr;
        if (!fields)
            continue;
        Key key;
        if (const auto code = fields->find("keyCode"); code != fields->end())
            key.keyCode = static_cast<std::uint16_t>(
                readUnsigned(code->second, std::numeric_limits<std::uint16_t>::max()));
        if (const auto flags = fields->find("modifiers"); flags != fields->end())
            key.modifiers = readUnsigned(flags->second, std::numeric_limits<std::uint64_t>::max());
        bindings.key(action) = key;
    }
    return bindings;
}

platform::Dictionary KeyBindings::storedValue() const {
    // Unassigned bindings have no entry.
    platform::Dictionary value{{"name", name}};
    for (Action action : allActions) {
        if (const auto& bound = key(action))
            value.emplace(std::string(actionName(action)),
                          platform::Dictionary{{"keyCode", static_cast<int>(bound->keyCode)},
                                               {"modifiers", storedUnsigned(bound->modifiers)}});
    }
    return value;
}

void KeyBindings::save() const {
    save(platform::Defaults::standard(), platform::NotificationCenter::defaultCenter());
}

void KeyBindings::save(platform::Defaults& defaults, platform::NotificationCenter& center) const {
    CW_DCHECK_MAIN_THREAD();
    defaults.set(settings::customKeyBindings, storedValue());
    center.post(std::string(notifications::keyBindingsDidChange));
}

std::optional<Action> KeyBindings::action(const platform::KeyEvent& event) {
    return action(event, platform::Defaults::standard());
}

std::optional<Action> KeyBindings::action(const platform::KeyEvent& event,
                                          const platform::Defaults& defaults) {
    return load(defaults).matchingAction(event);
}

std::optional<Action> KeyBindings::matchingAction(const platform::KeyEvent& event) const {
    // Pressing a modifier key alone is not a key press.
    if (event.type == platform::KeyEvent::Type::flagsChanged)
        return std::nullopt;
    const platform::ModifierFlags eventFlags = platform::bindingModifiers(event.modifierFlags);
    for (Action action : allActions) {
        const auto& bound = key(action);
        // Both sides masked: a binding stored with device-dependent bits, or recorded while Caps
        // Lock was on, still matches its key, with the lock on or off.
        if (bound && bound->keyCode == event.keyCode &&
            platform::bindingModifiers(bound->modifiers) == eventFlags)
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
    return platform::modifierNames(flags);
}

std::string KeyBindings::keyString(std::uint16_t keyCode) {
    return platform::keyDisplayName(keyCode);
}

std::string KeyBindings::keyText(const Key& key) {
    return platform::keyText(key.keyCode, platform::bindingModifiers(key.modifiers));
}

} // namespace cw

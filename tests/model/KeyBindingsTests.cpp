#include "cuewright/model/KeyBindings.h"

#include "platform/defaults/Defaults.h"
#include "platform/defaults/NotificationCenter.h"
#include "platform/keys/KeyTranslation.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <linux/input-event-codes.h>

namespace cw {
namespace {

namespace kc = platform::keycode;
namespace mod = platform::modifier;
using Action = KeyBindings::Action;
using FixedKey = KeyBindings::FixedKey;
using platform::Dictionary;
using platform::Value;
using namespace std::chrono_literals;

platform::KeyEvent keyDown(std::uint16_t code, platform::ModifierFlags flags) {
    platform::KeyEvent event;
    event.keyCode = code;
    event.modifierFlags = flags;
    return event;
}

// A private store in a fresh folder and a private centre that records what was posted.
class KeyBindingsStorage : public ::testing::Test {
protected:
    KeyBindingsStorage()
        : defaults(platform::Defaults::Options{dir / "defaults.json", 1h, {}}) {
        center.addObserver("", [this](const platform::Notification& n) {
            EXPECT_EQ(n.object, nullptr);
            posted.push_back(n.name);
        });
    }

    void store(Value value) { defaults.set("CustomKeyBindings", std::move(value)); }
    Dictionary stored() const {
        return defaults.dictionaryForKey("CustomKeyBindings").value_or(Dictionary{});
    }
    KeyBindings load() const { return KeyBindings::load(defaults); }
    void save(const KeyBindings& bindings) { bindings.save(defaults, center); }
    std::optional<Action> action(const platform::KeyEvent& event) const {
        return KeyBindings::action(event, defaults);
    }

    testsupport::TempDir dir;
    platform::Defaults defaults;
    platform::NotificationCenter center;
    std::vector<std::string> posted;
};

// Nothing stored, or a value that is no dictionary, gives the defaults: nothing bound.
TEST_F(KeyBindingsStorage, NothingStoredOrNoDictionaryGivesTheDefaults) {
    const KeyBindings bindings = load();
    EXPECT_EQ(bindings.name, "Custom Bindings");
    for (int i = 0; i < KeyBindings::actionCount; ++i)
        EXPECT_FALSE(bindings.key(static_cast<Action>(i)));
    EXPECT_FALSE(action(keyDown(kc::space, 0x100)));
    EXPECT_FALSE(action(keyDown(0, 0)));
    for (const Value& value :
         {Value(3), Value("text"), Value(platform::Array{1, 2}), Value(true), Value(platform::Data{1, 2})}) {
        store(value);
        EXPECT_EQ(load(), KeyBindings{}) << static_cast<int>(value.type());
    }
}

TEST_F(KeyBindingsStorage, SaveAndLoadRoundTrip) {
    KeyBindings bindings;
    bindings.name = "Stage";
    bindings.playPause = KeyBindings::Key{kc::space, mod::command};
    bindings.scrollLineUp = KeyBindings::Key{kc::upArrow, mod::numericPad | mod::function | mod::option};
    bindings.bbwd = KeyBindings::Key{kc::f5, mod::function};
    save(bindings);

    EXPECT_EQ(load(), bindings);
    EXPECT_EQ(posted, std::vector<std::string>{"KeyBindingsDidChange"});

    const Dictionary value = stored();
    EXPECT_EQ(value.at("name"), Value("Stage"));
    EXPECT_EQ(value.at("playPause"), Value(Dictionary{{"keyCode", 49}, {"modifiers", 0x100000}}));
    EXPECT_FALSE(value.contains("rewind"));
    EXPECT_EQ(value.size(), 4u);
}

// Also through the file, with key codes and modifiers at their limits; an unassigned binding
// has no entry, and matching reads the store afresh.
TEST_F(KeyBindingsStorage, SavedBindingsSurviveTheFileAndUnassignedOnesLeaveIt) {
    KeyBindings bindings;
    bindings.name = "Booth";
    bindings.decSpeed = KeyBindings::Key{kc::downArrow, mod::numericPad | mod::function | mod::shift | 0x102};
    bindings.ffwd = KeyBindings::Key{65535, 0};
    bindings.rewind = KeyBindings::Key{kc::r, mod::control};
    save(bindings);
    ASSERT_TRUE(defaults.synchronize());
    EXPECT_EQ(KeyBindings::load(platform::Defaults({dir / "defaults.json", 1h, {}})), bindings);
    EXPECT_EQ(action(keyDown(kc::r, mod::control | 0x100)), Action::rewind);

    bindings.rewind.reset();
    save(bindings);
    EXPECT_FALSE(stored().contains("rewind"));
    EXPECT_FALSE(load().rewind);
    EXPECT_FALSE(action(keyDown(kc::r, mod::control | 0x100)));
    EXPECT_EQ(posted.size(), 2u);
}

TEST_F(KeyBindingsStorage, DecodingIsLenient) {
    store(Dictionary{{"playPause", Dictionary{}},
                     {"rewind", Dictionary{{"keyCode", -1}, {"modifiers", "x"}}},
                     {"incSpeed", Dictionary{{"keyCode", 70000}, {"modifiers", 0x80000}}},
                     {"decSpeed", Dictionary{{"keyCode", 13.0}, {"modifiers", 2.5}}},
                     {"reverse", "not a dictionary"},
                     {"ffwd", Dictionary{{"keyCode", true}}},
                     {"bbwd", Dictionary{{"keyCode", 7.0f}, {"modifiers", -0x80000}}}});
    const KeyBindings bindings = load();
    EXPECT_EQ(bindings.name, ""); // a stored dictionary without a name
    EXPECT_EQ(bindings.playPause, (KeyBindings::Key{0, 0}));
    EXPECT_EQ(bindings.rewind, (KeyBindings::Key{0, 0}));
    EXPECT_EQ(bindings.incSpeed, (KeyBindings::Key{0, 0x80000}));
    EXPECT_EQ(bindings.decSpeed, (KeyBindings::Key{13, 0}));
    EXPECT_FALSE(bindings.reverse);
    EXPECT_EQ(bindings.ffwd, (KeyBindings::Key{0, 0}));
    EXPECT_EQ(bindings.bbwd, (KeyBindings::Key{7, 0}));
    // {"playPause": {}} binds key code 0 (A) without modifiers.
    EXPECT_EQ(action(keyDown(kc::a, 0x100)), Action::playPause);
}

// Only the device-independent bits below bit 32 count, also of a stored binding, and Caps Lock
// not at all: a binding recorded with its light on or off matches with it either way; arrows
// carry the flags translated arrow keys have; the earlier field wins; modifier presses never
// match, key-up events do.
TEST(KeyBindingsMatching, ComparesOnlyDeviceIndependentBitsWithoutCapsLock) {
    KeyBindings bindings;
    bindings.playPause = KeyBindings::Key{kc::p, mod::command};
    bindings.rewind = KeyBindings::Key{kc::r, mod::option | 0x120};
    bindings.scrollLineDown = KeyBindings::Key{kc::downArrow, mod::numericPad | mod::function | mod::option};
    bindings.scrollLineUp = KeyBindings::Key{kc::upArrow, mod::option}; // lacks the arrow bits
    bindings.bbwd = KeyBindings::Key{kc::b, 0};
    bindings.reverse = KeyBindings::Key{kc::b, 0};
    bindings.ffwd = KeyBindings::Key{kc::shift, mod::shift};
    bindings.incSpeed = KeyBindings::Key{kc::f, mod::control};
    bindings.jumpNextBookmark = KeyBindings::Key{kc::n, mod::shift | mod::capsLock}; // recorded with it on
    const auto press = [](std::uint16_t code, platform::ModifierFlags flags,
                          platform::KeyEvent::Type type = platform::KeyEvent::Type::keyDown) {
        platform::KeyEvent event = keyDown(code, flags);
        event.type = type;
        return event;
    };
    const auto translated = [](int key, std::uint32_t state = 8 /*Mod1 = Alt*/) {
        return *platform::translateX11KeyEvent(key + 8, state, platform::KeyEvent::Type::keyDown);
    };
    constexpr std::uint32_t lock = 2, numLock = 0x10; // LockMask, Mod2
    const std::pair<platform::KeyEvent, std::optional<Action>> cases[] = {
        {press(kc::p, mod::command | 0x100 | 0x8), Action::playPause},
        {press(kc::p, mod::command | mod::capsLock | 0x100), Action::playPause},
        {press(kc::n, mod::shift | 0x100), Action::jumpNextBookmark},
        {press(kc::n, mod::shift | mod::capsLock | 0x100), Action::jumpNextBookmark},
        {press(kc::n, mod::capsLock | 0x100), std::nullopt},
        {translated(KEY_DOWN, 8 | lock | numLock), Action::scrollLineDown},
        {translated(KEY_R, 8 | lock), Action::rewind},
        {press(kc::p, mod::command | mod::shift), std::nullopt},
        {press(kc::p, 0x100), std::nullopt},
        {press(kc::o, mod::command), std::nullopt},
        {press(kc::p, mod::command | (1ull << 40)), Action::playPause},
        {press(kc::r, mod::option | 0x100), Action::rewind},
        {translated(KEY_DOWN), Action::scrollLineDown},
        {translated(KEY_UP), std::nullopt},
        {press(kc::b, 0x100), Action::reverse},
        {press(kc::shift, mod::shift | 0x100, platform::KeyEvent::Type::flagsChanged), std::nullopt},
        {press(kc::f, mod::control | 0x100, platform::KeyEvent::Type::keyUp), Action::incSpeed},
    };
    for (const auto& [event, expected] : cases) {
        EXPECT_EQ(bindings.matchingAction(event), expected)
            << event.keyCode << " " << event.modifierFlags << " " << static_cast<int>(event.type);
    }
}

TEST(KeyBindingsFixedKeys, CodesAndBoundTest) {
    EXPECT_EQ(KeyBindings::fixedKeyCode(FixedKey::space), 0x31);
    EXPECT_EQ(KeyBindings::fixedKeyCode(FixedKey::deleteKey), 0x33);
    EXPECT_EQ(KeyBindings::fixedKeyCode(FixedKey::upArrow), 0x7E);
    EXPECT_EQ(KeyBindings::fixedKeyCode(FixedKey::downArrow), 0x7D);

    KeyBindings bindings;
    EXPECT_FALSE(bindings.isFixedKeyBound(FixedKey::space));
    bindings.jumpPrevBookmark = KeyBindings::Key{kc::space, mod::shift | mod::command};
    bindings.decSpeed = KeyBindings::Key{kc::downArrow, mod::numericPad | mod::function};
    EXPECT_TRUE(bindings.isFixedKeyBound(FixedKey::space));
    EXPECT_TRUE(bindings.isFixedKeyBound(FixedKey::downArrow));
    EXPECT_FALSE(bindings.isFixedKeyBound(FixedKey::upArrow));
    EXPECT_FALSE(bindings.isFixedKeyBound(FixedKey::deleteKey));
}

// The key text is the one the platform's key names make (table-tested there).
TEST(KeyBindingsDisplay, KeyTextIsModifierNamesThenKeyName) {
    EXPECT_EQ(KeyBindings::modifierSymbols(0), "");
    EXPECT_EQ(KeyBindings::modifierSymbols(mod::command | mod::shift | mod::capsLock | 0x100), "Ctrl+Shift+");
    EXPECT_EQ(KeyBindings::keyString(kc::space), "Space");
    EXPECT_EQ(KeyBindings::keyText({kc::f7, mod::command | mod::function | 0x100}), "Ctrl+F7");
    EXPECT_EQ(KeyBindings::keyText({kc::upArrow, mod::numericPad | mod::function | mod::option | 0x100}),
              "Alt+Up");
}

TEST(KeyBindingsActions, NamesFollowFieldOrder) {
    const char* names[] = {
        "playPause",      "rewind",           "incSpeed",         "decSpeed", "reverse", "scrollLineUp",
        "scrollLineDown", "jumpNextBookmark", "jumpPrevBookmark", "ffwd",     "bbwd"};
    for (int i = 0; i < KeyBindings::actionCount; ++i)
        EXPECT_EQ(KeyBindings::actionName(static_cast<Action>(i)), names[i]);
    EXPECT_EQ(static_cast<int>(Action::bbwd), 10);
    KeyBindings bindings;
    bindings.key(Action::jumpPrevBookmark) = KeyBindings::Key{1, 2};
    EXPECT_EQ(bindings.jumpPrevBookmark, (KeyBindings::Key{1, 2}));
}

} // namespace
} // namespace cw

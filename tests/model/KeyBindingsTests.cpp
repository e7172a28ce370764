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

TEST_F(KeyBindingsStorage, NothingStoredGivesTheDefaults) {
    const KeyBindings bindings = load();
    EXPECT_EQ(bindings.name, "Custom Bindings");
    for (int i = 0; i < KeyBindings::actionCount; ++i)
        EXPECT_FALSE(bindings.key(static_cast<Action>(i)));
    EXPECT_FALSE(action(keyDown(kc::space, 0x100)));
    EXPECT_FALSE(action(keyDown(0, 0)));
}

TEST_F(KeyBindingsStorage, ValuesThatAreNoDictionaryGiveTheDefaults) {
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

TEST_F(KeyBindingsStorage, SavedBindingsSurviveTheFile) {
    KeyBindings bindings;
    bindings.name = "Booth";
    bindings.decSpeed = KeyBindings::Key{kc::downArrow, mod::numericPad | mod::function | mod::shift | 0x102};
    bindings.ffwd = KeyBindings::Key{65535, 0};
    save(bindings);
    ASSERT_TRUE(defaults.synchronize());

    const platform::Defaults reread(platform::Defaults::Options{dir / "defaults.json", 1h, {}});
    EXPECT_EQ(KeyBindings::load(reread), bindings);
}

TEST_F(KeyBindingsStorage, SavingAnUnassignedBindingRemovesItsEntry) {
    KeyBindings bindings;
    bindings.rewind = KeyBindings::Key{kc::r, mod::control};
    save(bindings);
    bindings.rewind.reset();
    save(bindings);
    EXPECT_FALSE(stored().contains("rewind"));
    EXPECT_FALSE(load().rewind);
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

TEST_F(KeyBindingsStorage, MatchingReadsTheStoreAfresh) {
    KeyBindings bindings;
    bindings.jumpNextBookmark = KeyBindings::Key{kc::n, mod::control};
    save(bindings);
    EXPECT_EQ(action(keyDown(kc::n, mod::control | 0x100)), Action::jumpNextBookmark);
    bindings.jumpNextBookmark.reset();
    save(bindings);
    EXPECT_FALSE(action(keyDown(kc::n, mod::control | 0x100)));
}

TEST(KeyBindingsMatching, ComparesOnlyDeviceIndependentBits) {
    KeyBindings bindings;
    bindings.playPause = KeyBindings::Key{kc::p, mod::command};
    EXPECT_EQ(bindings.matchingAction(keyDown(kc::p, mod::command | 0x100 | 0x8)), Action::playPause);
    EXPECT_FALSE(bindings.matchingAction(keyDown(kc::p, mod::command | mod::capsLock | 0x100)));
    EXPECT_FALSE(bindings.matchingAction(keyDown(kc::p, mod::command | mod::shift)));
    EXPECT_FALSE(bindings.matchingAction(keyDown(kc::p, 0x100)));
    EXPECT_FALSE(bindings.matchingAction(keyDown(kc::o, mod::command)));
    // Bits above 31 are ignored.
    EXPECT_EQ(bindings.matchingAction(keyDown(kc::p, mod::command | (1ull << 40))), Action::playPause);
}

TEST(KeyBindingsMatching, ABindingStoredWithDeviceDependentBitsStillMatches) {
    KeyBindings bindings;
    bindings.rewind = KeyBindings::Key{kc::r, mod::option | 0x120};
    EXPECT_EQ(bindings.matchingAction(keyDown(kc::r, mod::option | 0x100)), Action::rewind);
}

TEST(KeyBindingsMatching, ArrowBindingsCarryTheFlagsTranslatedArrowsHave) {
    KeyBindings bindings;
    bindings.scrollLineDown = KeyBindings::Key{kc::downArrow, mod::numericPad | mod::function | mod::option};
    bindings.scrollLineUp = KeyBindings::Key{kc::upArrow, mod::option}; // lacks the arrow bits
    const auto down =
        platform::translateX11KeyEvent(KEY_DOWN + 8, 8 /*Mod1 = Alt*/, platform::KeyEvent::Type::keyDown);
    const auto up = platform::translateX11KeyEvent(KEY_UP + 8, 8, platform::KeyEvent::Type::keyDown);
    ASSERT_TRUE(down && up);
    EXPECT_EQ(bindings.matchingAction(*down), Action::scrollLineDown);
    EXPECT_FALSE(bindings.matchingAction(*up));
}

TEST(KeyBindingsMatching, TheEarlierFieldWinsAndModifierPressesNeverMatch) {
    KeyBindings bindings;
    bindings.bbwd = KeyBindings::Key{kc::b, 0};
    bindings.rewind = KeyBindings::Key{kc::b, 0};
    bindings.reverse = KeyBindings::Key{kc::b, 0};
    EXPECT_EQ(bindings.matchingAction(keyDown(kc::b, 0x100)), Action::rewind);

    bindings.ffwd = KeyBindings::Key{kc::shift, mod::shift};
    auto shiftPress = keyDown(kc::shift, mod::shift | 0x100);
    shiftPress.type = platform::KeyEvent::Type::flagsChanged;
    EXPECT_FALSE(bindings.matchingAction(shiftPress));
}

TEST(KeyBindingsMatching, KeyUpEventsMatchToo) {
    KeyBindings bindings;
    bindings.ffwd = KeyBindings::Key{kc::f, mod::control};
    auto up = keyDown(kc::f, mod::control | 0x100);
    up.type = platform::KeyEvent::Type::keyUp;
    EXPECT_EQ(bindings.matchingAction(up), Action::ffwd);
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

#include "platform/keys/KeyNames.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

namespace kc = keycode;

// Keys are named as Linux desktops and Qt's menus name them, never with the other platform's glyphs;
// printable keys by their US character upper-cased.
TEST(KeyNames, KeysAreNamedTheLinuxWay) {
    const struct {
        kc::KeyCode code;
        const char* name;
    } cases[] = {{kc::space, "Space"},
                 {kc::returnKey, "Return"},
                 {kc::tab, "Tab"},
                 {kc::deleteKey, "Backspace"},
                 {kc::escape, "Esc"},
                 {kc::forwardDelete, "Del"},
                 {kc::pageUp, "PgUp"},
                 {kc::pageDown, "PgDown"},
                 {kc::home, "Home"},
                 {kc::end, "End"},
                 {kc::help, "Ins"},
                 {kc::leftArrow, "Left"},
                 {kc::rightArrow, "Right"},
                 {kc::downArrow, "Down"},
                 {kc::upArrow, "Up"},
                 {kc::keypadClear, "NumLock"},
                 {kc::keypadPlus, "Num +"},
                 {kc::keypadMinus, "Num -"},
                 {kc::keypad7, "Num 7"},
                 {kc::keypadEnter, "Num Enter"},
                 {kc::a, "A"},
                 {kc::w, "W"},
                 {kc::z, "Z"},
                 {kc::digit5, "5"},
                 {kc::slash, "/"},
                 {kc::grave, "`"},
                 {kc::quote, "'"},
                 {kc::shift, ""},
                 {0x7F, ""},
                 {kc::f16, ""}};
    for (const auto& c : cases)
        EXPECT_EQ(keyDisplayName(c.code), c.name) << c.name;
    const kc::KeyCode fKeys[] = {kc::f1, kc::f2,  kc::f3,  kc::f4,  kc::f5,  kc::f6,  kc::f7, kc::f8,
                                 kc::f9, kc::f10, kc::f11, kc::f12, kc::f13, kc::f14, kc::f15};
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(keyDisplayName(fKeys[i]), "F" + std::to_string(i + 1));
}

// Small controls draw the keycap symbol where a PC keyboard has one, else the name.
TEST(KeyNames, KeycapSymbols) {
    const struct {
        kc::KeyCode code;
        const char* symbol;
    } cases[] = {{kc::upArrow, "↑"},   {kc::downArrow, "↓"}, {kc::leftArrow, "←"}, {kc::rightArrow, "→"},
                 {kc::deleteKey, "⟵"}, {kc::returnKey, "↵"}, {kc::tab, "↹"},       {kc::space, "Space"},
                 {kc::f5, "F5"},       {kc::w, "W"}};
    for (const auto& c : cases)
        EXPECT_EQ(keySymbol(c.code), c.symbol) << c.symbol;
}

// Stored flags keep the other platform's bits: command is shown as Ctrl, option as Alt, control
// as Super; Caps Lock and the device-dependent bits are not shown.
TEST(KeyNames, KeysWithModifiersAsLinuxShowsThem) {
    namespace mod = modifier;
    const struct {
        kc::KeyCode code;
        ModifierFlags flags;
        const char* text;
    } cases[] = {
        {kc::f7, mod::command | mod::function, "Ctrl+F7"},
        {kc::f6, mod::shift | mod::function | mod::nonCoalesced, "Shift+F6"},
        {kc::p, mod::option, "Alt+P"},
        {kc::k, mod::control, "Super+K"},
        {kc::k, mod::control | mod::shift | mod::option | mod::command, "Ctrl+Alt+Shift+Super+K"},
        {kc::upArrow, mod::option | mod::numericPad | mod::function, "Alt+Up"},
        {kc::space, mod::capsLock, "Space"},
        {kc::deleteKey, mod::command | mod::shift, "Ctrl+Shift+Backspace"},
        {kc::keypad3, mod::numericPad | mod::control | mod::shift, "Shift+Super+Num 3"},
        {kc::j, 0, "J"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(keyText(c.code, c.flags), c.text) << c.text;
        EXPECT_EQ(keyText(c.code, c.flags), modifierNames(c.flags) + keyDisplayName(c.code)) << c.text;
    }
}

TEST(KeyNames, TypedCharactersHonourShiftAndCapsLock) {
    EXPECT_EQ(typedCharacters(kc::a), "a");
    EXPECT_EQ(typedCharacters(kc::a, /*shift=*/true), "A");
    EXPECT_EQ(typedCharacters(kc::a, /*shift=*/false, /*capsLock=*/true), "A");
    EXPECT_EQ(typedCharacters(kc::digit2, /*shift=*/true), "@");
    EXPECT_EQ(typedCharacters(kc::digit2, /*shift=*/false, /*capsLock=*/true), "2");
    EXPECT_EQ(typedCharacters(kc::keypad4), "4");
    EXPECT_EQ(typedCharacters(kc::returnKey), "");
    EXPECT_EQ(typedCharacters(kc::escape), "");
}

TEST(KeyNames, AnotherLayoutChangesPrintableNamesOnly) {
    ASSERT_TRUE(setKeyboardLayout("de"));
    EXPECT_EQ(keyDisplayName(kc::y), "Z"); // German keyboards swap Y and Z
    EXPECT_EQ(keyDisplayName(kc::semicolon), "Ö");
    EXPECT_EQ(keyDisplayName(kc::space), "Space");
    EXPECT_FALSE(setKeyboardLayout("no-such-layout"));
    EXPECT_EQ(keyDisplayName(kc::y), "Z"); // the previous layout stays
    ASSERT_TRUE(setKeyboardLayout("us"));
    EXPECT_EQ(keyDisplayName(kc::y), "Y");
}

} // namespace
} // namespace platform

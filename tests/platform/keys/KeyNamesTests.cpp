#include "platform/keys/KeyNames.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

namespace kc = keycode;

TEST(KeyNames, SpecialKeysUseTheirGlyphs) {
    EXPECT_EQ(keyDisplayName(kc::space), "␣");
    EXPECT_EQ(keyDisplayName(kc::returnKey), "⏎");
    EXPECT_EQ(keyDisplayName(kc::tab), "⇥");
    EXPECT_EQ(keyDisplayName(kc::deleteKey), "⌫");
    EXPECT_EQ(keyDisplayName(kc::escape), "⎋");
    EXPECT_EQ(keyDisplayName(kc::forwardDelete), "⌦");
    EXPECT_EQ(keyDisplayName(kc::pageUp), "⇞");
    EXPECT_EQ(keyDisplayName(kc::pageDown), "⇟");
    EXPECT_EQ(keyDisplayName(kc::home), "↖");
    EXPECT_EQ(keyDisplayName(kc::end), "↘");
    EXPECT_EQ(keyDisplayName(kc::help), "?");
    EXPECT_EQ(keyDisplayName(kc::leftArrow), "←");
    EXPECT_EQ(keyDisplayName(kc::rightArrow), "→");
    EXPECT_EQ(keyDisplayName(kc::downArrow), "↓");
    EXPECT_EQ(keyDisplayName(kc::upArrow), "↑");
    EXPECT_EQ(keyDisplayName(kc::keypadClear), "⌧");
    EXPECT_EQ(keyDisplayName(kc::keypadEnter), "⌤");
}

TEST(KeyNames, FunctionKeysOneToFifteen) {
    const kc::KeyCode fKeys[] = {kc::f1, kc::f2,  kc::f3,  kc::f4,  kc::f5,  kc::f6,  kc::f7, kc::f8,
                                 kc::f9, kc::f10, kc::f11, kc::f12, kc::f13, kc::f14, kc::f15};
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(keyDisplayName(fKeys[i]), "F" + std::to_string(i + 1));
    EXPECT_EQ(keyDisplayName(kc::f16), "");
}

TEST(KeyNames, KeypadKeysAreMarked) {
    EXPECT_EQ(keyDisplayName(kc::keypad0), "0(NUM)");
    EXPECT_EQ(keyDisplayName(kc::keypad7), "7(NUM)");
    EXPECT_EQ(keyDisplayName(kc::keypad8), "8(NUM)");
    EXPECT_EQ(keyDisplayName(kc::keypad9), "9(NUM)");
    EXPECT_EQ(keyDisplayName(kc::keypadDivide), "/(NUM)");
    EXPECT_EQ(keyDisplayName(kc::keypadMultiply), "*(NUM)");
    EXPECT_EQ(keyDisplayName(kc::keypadMinus), "-(NUM)");
    EXPECT_EQ(keyDisplayName(kc::keypadPlus), "+(NUM)");
    EXPECT_EQ(keyDisplayName(kc::keypadDecimal), ".(NUM)");
}

TEST(KeyNames, PrintableKeysShowTheirUsCharacterUpperCased) {
    EXPECT_EQ(keyDisplayName(kc::a), "A");
    EXPECT_EQ(keyDisplayName(kc::w), "W");
    EXPECT_EQ(keyDisplayName(kc::z), "Z");
    EXPECT_EQ(keyDisplayName(kc::digit5), "5");
    EXPECT_EQ(keyDisplayName(kc::slash), "/");
    EXPECT_EQ(keyDisplayName(kc::grave), "`");
    EXPECT_EQ(keyDisplayName(kc::quote), "'");
    EXPECT_EQ(keyDisplayName(kc::keypadEquals), "=");
    EXPECT_EQ(keyDisplayName(kc::shift), "");
    EXPECT_EQ(keyDisplayName(0x7F), "");
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
    EXPECT_EQ(keyDisplayName(kc::space), "␣");
    EXPECT_FALSE(setKeyboardLayout("no-such-layout"));
    EXPECT_EQ(keyDisplayName(kc::y), "Z"); // the previous layout stays
    ASSERT_TRUE(setKeyboardLayout("us"));
    EXPECT_EQ(keyDisplayName(kc::y), "Y");
}

} // namespace
} // namespace platform

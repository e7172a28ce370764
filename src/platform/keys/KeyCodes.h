// Virtual key codes of the key events we stand in for (the ANSI keyboard of the other platform).
// Stored bindings and every key constant of the application are in these codes.
#pragma once

#include <cstdint>

namespace platform::keycode {

using KeyCode = std::uint16_t;

// Letters, digits and punctuation: the position on a US ANSI keyboard.
inline constexpr KeyCode a = 0x00;
inline constexpr KeyCode s = 0x01;
inline constexpr KeyCode d = 0x02;
inline constexpr KeyCode f = 0x03;
inline constexpr KeyCode h = 0x04;
inline constexpr KeyCode g = 0x05;
inline constexpr KeyCode z = 0x06;
inline constexpr KeyCode x = 0x07;
inline constexpr KeyCode c = 0x08;
inline constexpr KeyCode v = 0x09;
inline constexpr KeyCode isoSection = 0x0A; // the extra key left of Z on ISO keyboards
inline constexpr KeyCode b = 0x0B;
inline constexpr KeyCode q = 0x0C;
inline constexpr KeyCode w = 0x0D;
inline constexpr KeyCode e = 0x0E;
inline constexpr KeyCode r = 0x0F;
inline constexpr KeyCode y = 0x10;
inline constexpr KeyCode t = 0x11;
inline constexpr KeyCode digit1 = 0x12;
inline constexpr KeyCode digit2 = 0x13;
inline constexpr KeyCode digit3 = 0x14;
inline constexpr KeyCode digit4 = 0x15;
inline constexpr KeyCode digit6 = 0x16;
inline constexpr KeyCode digit5 = 0x17;
inline constexpr KeyCode equal = 0x18;
inline constexpr KeyCode digit9 = 0x19;
inline constexpr KeyCode digit7 = 0x1A;
inline constexpr KeyCode minus = 0x1B;
inline constexpr KeyCode digit8 = 0x1C;
inline constexpr KeyCode digit0 = 0x1D;
inline constexpr KeyCode rightBracket = 0x1E;
inline constexpr KeyCode o = 0x1F;
inline constexpr KeyCode u = 0x20;
inline constexpr KeyCode leftBracket = 0x21;
inline constexpr KeyCode i = 0x22;
inline constexpr KeyCode p = 0x23;
inline constexpr KeyCode returnKey = 0x24;
inline constexpr KeyCode l = 0x25;
inline constexpr KeyCode j = 0x26;
inline constexpr KeyCode quote = 0x27;
inline constexpr KeyCode k = 0x28;
inline constexpr KeyCode semicolon = 0x29;
inline constexpr KeyCode backslash = 0x2A;
inline constexpr KeyCode comma = 0x2B;
inline constexpr KeyCode slash = 0x2C;
inline constexpr KeyCode n = 0x2D;
inline constexpr KeyCode m = 0x2E;
inline constexpr KeyCode period = 0x2F;
inline constexpr KeyCode tab = 0x30;
inline constexpr KeyCode space = 0x31;
inline constexpr KeyCode grave = 0x32;
inline constexpr KeyCode deleteKey = 0x33; // backspace
inline constexpr KeyCode escape = 0x35;

// Modifier keys.
inline constexpr KeyCode rightCommand = 0x36;
inline constexpr KeyCode command = 0x37;
inline constexpr KeyCode shift = 0x38;
inline constexpr KeyCode capsLock = 0x39;
inline constexpr KeyCode option = 0x3A;
inline constexpr KeyCode control = 0x3B;
inline constexpr KeyCode rightShift = 0x3C;
inline constexpr KeyCode rightOption = 0x3D;
inline constexpr KeyCode rightControl = 0x3E;
inline constexpr KeyCode function = 0x3F;

// Keypad.
inline constexpr KeyCode keypadDecimal = 0x41;
inline constexpr KeyCode keypadMultiply = 0x43;
inline constexpr KeyCode keypadPlus = 0x45;
inline constexpr KeyCode keypadClear = 0x47;
inline constexpr KeyCode keypadDivide = 0x4B;
inline constexpr KeyCode keypadEnter = 0x4C;
inline constexpr KeyCode keypadMinus = 0x4E;
inline constexpr KeyCode keypadEquals = 0x51;
inline constexpr KeyCode keypad0 = 0x52;
inline constexpr KeyCode keypad1 = 0x53;
inline constexpr KeyCode keypad2 = 0x54;
inline constexpr KeyCode keypad3 = 0x55;
inline constexpr KeyCode keypad4 = 0x56;
inline constexpr KeyCode keypad5 = 0x57;
inline constexpr KeyCode keypad6 = 0x58;
inline constexpr KeyCode keypad7 = 0x59;
inline constexpr KeyCode keypad8 = 0x5B;
inline constexpr KeyCode keypad9 = 0x5C;
inline constexpr KeyCode keypadComma = 0x5F; // JIS keyboards

// Sound keys.
inline constexpr KeyCode volumeUp = 0x48;
inline constexpr KeyCode volumeDown = 0x49;
inline constexpr KeyCode mute = 0x4A;

// JIS keyboards.
inline constexpr KeyCode jisYen = 0x5D;
inline constexpr KeyCode jisUnderscore = 0x5E;
inline constexpr KeyCode jisEisu = 0x66;
inline constexpr KeyCode jisKana = 0x68;

// Function keys.
inline constexpr KeyCode f1 = 0x7A;
inline constexpr KeyCode f2 = 0x78;
inline constexpr KeyCode f3 = 0x63;
inline constexpr KeyCode f4 = 0x76;
inline constexpr KeyCode f5 = 0x60;
inline constexpr KeyCode f6 = 0x61;
inline constexpr KeyCode f7 = 0x62;
inline constexpr KeyCode f8 = 0x64;
inline constexpr KeyCode f9 = 0x65;
inline constexpr KeyCode f10 = 0x6D;
inline constexpr KeyCode f11 = 0x67;
inline constexpr KeyCode f12 = 0x6F;
inline constexpr KeyCode f13 = 0x69;
inline constexpr KeyCode f14 = 0x6B;
inline constexpr KeyCode f15 = 0x71;
inline constexpr KeyCode f16 = 0x6A;
inline constexpr KeyCode f17 = 0x40;
inline constexpr KeyCode f18 = 0x4F;
inline constexpr KeyCode f19 = 0x50;
inline constexpr KeyCode f20 = 0x5A;

// Navigation.
inline constexpr KeyCode help = 0x72; // where PC keyboards have Insert
inline constexpr KeyCode home = 0x73;
inline constexpr KeyCode pageUp = 0x74;
inline constexpr KeyCode forwardDelete = 0x75;
inline constexpr KeyCode end = 0x77;
inline constexpr KeyCode pageDown = 0x79;
inline constexpr KeyCode leftArrow = 0x7B;
inline constexpr KeyCode rightArrow = 0x7C;
inline constexpr KeyCode downArrow = 0x7D;
inline constexpr KeyCode upArrow = 0x7E;

} // namespace platform::keycode

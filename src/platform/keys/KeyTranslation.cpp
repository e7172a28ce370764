#include "platform/keys/KeyTranslation.h"
#include "platform/keys/StandardKeys.h"

#include "platform/keys/KeyNames.h"

#include <QKeyEvent>
#include <QKeySequence>

#include <linux/input-event-codes.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <utility>

namespace platform {

namespace kc = keycode;

namespace {

struct EvdevEntry {
    std::uint16_t evdev;
    kc::KeyCode code;
};

// By position on the keyboard. PC-only keys take the place the other platform gives them on a PC
// keyboard: Insert is Help, Num Lock is the keypad's Clear, Print/Scroll Lock/Pause are F13-F15.
constexpr EvdevEntry evdevTable[] = {
    {KEY_ESC, kc::escape},
    {KEY_1, kc::digit1},
    {KEY_2, kc::digit2},
    {KEY_3, kc::digit3},
    {KEY_4, kc::digit4},
    {KEY_5, kc::digit5},
    {KEY_6, kc::digit6},
    {KEY_7, kc::digit7},
    {KEY_8, kc::digit8},
    {KEY_9, kc::digit9},
    {KEY_0, kc::digit0},
    {KEY_MINUS, kc::minus},
    {KEY_EQUAL, kc::equal},
    {KEY_BACKSPACE, kc::deleteKey},
    {KEY_TAB, kc::tab},
    {KEY_Q, kc::q},
    {KEY_W, kc::w},
    {KEY_E, kc::e},
    {KEY_R, kc::r},
    {KEY_T, kc::t},
    {KEY_Y, kc::y},
    {KEY_U, kc::u},
    {KEY_I, kc::i},
    {KEY_O, kc::o},
    {KEY_P, kc::p},
    {KEY_LEFTBRACE, kc::leftBracket},
    {KEY_RIGHTBRACE, kc::rightBracket},
    {KEY_ENTER, kc::returnKey},
    {KEY_LEFTCTRL, kc::command},
    {KEY_A, kc::a},
    {KEY_S, kc::s},
    {KEY_D, kc::d},
    {KEY_F, kc::f},
    {KEY_G, kc::g},
    {KEY_H, kc::h},
    {KEY_J, kc::j},
    {KEY_K, kc::k},
    {KEY_L, kc::l},
    {KEY_SEMICOLON, kc::semicolon},
    {KEY_APOSTROPHE, kc::quote},
    {KEY_GRAVE, kc::grave},
    {KEY_LEFTSHIFT, kc::shift},
    {KEY_BACKSLASH, kc::backslash},
    {KEY_Z, kc::z},
    {KEY_X, kc::x},
    {KEY_C, kc::c},
    {KEY_V, kc::v},
    {KEY_B, kc::b},
    {KEY_N, kc::n},
    {KEY_M, kc::m},
    {KEY_COMMA, kc::comma},
    {KEY_DOT, kc::period},
    {KEY_SLASH, kc::slash},
    {KEY_RIGHTSHIFT, kc::rightShift},
    {KEY_KPASTERISK, kc::keypadMultiply},
    {KEY_LEFTALT, kc::option},
    {KEY_SPACE, kc::space},
    {KEY_CAPSLOCK, kc::capsLock},
    {KEY_F1, kc::f1},
    {KEY_F2, kc::f2},
    {KEY_F3, kc::f3},
    {KEY_F4, kc::f4},
    {KEY_F5, kc::f5},
    {KEY_F6, kc::f6},
    {KEY_F7, kc::f7},
    {KEY_F8, kc::f8},
    {KEY_F9, kc::f9},
    {KEY_F10, kc::f10},
    {KEY_NUMLOCK, kc::keypadClear},
    {KEY_SCROLLLOCK, kc::f14},
    {KEY_KP7, kc::keypad7},
    {KEY_KP8, kc::keypad8},
    {KEY_KP9, kc::keypad9},
    {KEY_KPMINUS, kc::keypadMinus},
    {KEY_KP4, kc::keypad4},
    {KEY_KP5, kc::keypad5},
    {KEY_KP6, kc::keypad6},
    {KEY_KPPLUS, kc::keypadPlus},
    {KEY_KP1, kc::keypad1},
    {KEY_KP2, kc::keypad2},
    {KEY_KP3, kc::keypad3},
    {KEY_KP0, kc::keypad0},
    {KEY_KPDOT, kc::keypadDecimal},
    {KEY_102ND, kc::isoSection},
    {KEY_F11, kc::f11},
    {KEY_F12, kc::f12},
    {KEY_RO, kc::jisUnderscore},
    {KEY_HENKAN, kc::jisKana},
    {KEY_MUHENKAN, kc::jisEisu},
    {KEY_KPENTER, kc::keypadEnter},
    {KEY_RIGHTCTRL, kc::rightCommand},
    {KEY_KPSLASH, kc::keypadDivide},
    {KEY_SYSRQ, kc::f13},
    {KEY_RIGHTALT, kc::rightOption},
    {KEY_HOME, kc::home},
    {KEY_UP, kc::upArrow},
    {KEY_PAGEUP, kc::pageUp},
    {KEY_LEFT, kc::leftArrow},
    {KEY_RIGHT, kc::rightArrow},
    {KEY_END, kc::end},
    {KEY_DOWN, kc::downArrow},
    {KEY_PAGEDOWN, kc::pageDown},
    {KEY_INSERT, kc::help},
    {KEY_DELETE, kc::forwardDelete},
    {KEY_MUTE, kc::mute},
    {KEY_VOLUMEDOWN, kc::volumeDown},
    {KEY_VOLUMEUP, kc::volumeUp},
    {KEY_KPEQUAL, kc::keypadEquals},
    {KEY_PAUSE, kc::f15},
    {KEY_KPCOMMA, kc::keypadComma},
    {KEY_YEN, kc::jisYen},
    {KEY_LEFTMETA, kc::control},
    {KEY_RIGHTMETA, kc::rightControl},
    {KEY_HELP, kc::help},
    {KEY_F13, kc::f13},
    {KEY_F14, kc::f14},
    {KEY_F15, kc::f15},
    {KEY_F16, kc::f16},
    {KEY_F17, kc::f17},
    {KEY_F18, kc::f18},
    {KEY_F19, kc::f19},
    {KEY_F20, kc::f20},
};

constexpr std::uint16_t noCode = 0xFFFF;

// Dense lookups both ways. Where two evdev codes share a key code (Insert and Help, Print and F13,
// ...), the reverse lookup keeps the first, the key a PC keyboard has.
struct Lookups {
    std::array<std::uint16_t, 256> fromEvdev{};
    std::array<std::uint16_t, 128> toEvdev{};
};

constexpr Lookups makeLookups() {
    Lookups lookups;
    for (auto& entry : lookups.fromEvdev)
        entry = noCode;
    for (auto& entry : lookups.toEvdev)
        entry = noCode;
    for (const auto& entry : evdevTable) {
        lookups.fromEvdev[entry.evdev] = entry.code;
        if (lookups.toEvdev[entry.code] == noCode)
            lookups.toEvdev[entry.code] = entry.evdev;
    }
    return lookups;
}

constexpr Lookups lookups = makeLookups();

struct QtEntry {
    int qtKey;
    kc::KeyCode code;
};

// Qt::Key to the key that types it on a US keyboard (shifted symbols included).
constexpr QtEntry qtTable[] = {
    {Qt::Key_A, kc::a},
    {Qt::Key_B, kc::b},
    {Qt::Key_C, kc::c},
    {Qt::Key_D, kc::d},
    {Qt::Key_E, kc::e},
    {Qt::Key_F, kc::f},
    {Qt::Key_G, kc::g},
    {Qt::Key_H, kc::h},
    {Qt::Key_I, kc::i},
    {Qt::Key_J, kc::j},
    {Qt::Key_K, kc::k},
    {Qt::Key_L, kc::l},
    {Qt::Key_M, kc::m},
    {Qt::Key_N, kc::n},
    {Qt::Key_O, kc::o},
    {Qt::Key_P, kc::p},
    {Qt::Key_Q, kc::q},
    {Qt::Key_R, kc::r},
    {Qt::Key_S, kc::s},
    {Qt::Key_T, kc::t},
    {Qt::Key_U, kc::u},
    {Qt::Key_V, kc::v},
    {Qt::Key_W, kc::w},
    {Qt::Key_X, kc::x},
    {Qt::Key_Y, kc::y},
    {Qt::Key_Z, kc::z},
    {Qt::Key_0, kc::digit0},
    {Qt::Key_1, kc::digit1},
    {Qt::Key_2, kc::digit2},
    {Qt::Key_3, kc::digit3},
    {Qt::Key_4, kc::digit4},
    {Qt::Key_5, kc::digit5},
    {Qt::Key_6, kc::digit6},
    {Qt::Key_7, kc::digit7},
    {Qt::Key_8, kc::digit8},
    {Qt::Key_9, kc::digit9},
    {Qt::Key_ParenRight, kc::digit0},
    {Qt::Key_Exclam, kc::digit1},
    {Qt::Key_At, kc::digit2},
    {Qt::Key_NumberSign, kc::digit3},
    {Qt::Key_Dollar, kc::digit4},
    {Qt::Key_Percent, kc::digit5},
    {Qt::Key_AsciiCircum, kc::digit6},
    {Qt::Key_Ampersand, kc::digit7},
    {Qt::Key_Asterisk, kc::digit8},
    {Qt::Key_ParenLeft, kc::digit9},
    {Qt::Key_Minus, kc::minus},
    {Qt::Key_Underscore, kc::minus},
    {Qt::Key_Equal, kc::equal},
    {Qt::Key_Plus, kc::equal},
    {Qt::Key_BracketLeft, kc::leftBracket},
    {Qt::Key_BraceLeft, kc::leftBracket},
    {Qt::Key_BracketRight, kc::rightBracket},
    {Qt::Key_BraceRight, kc::rightBracket},
    {Qt::Key_Backslash, kc::backslash},
    {Qt::Key_Bar, kc::backslash},
    {Qt::Key_Semicolon, kc::semicolon},
    {Qt::Key_Colon, kc::semicolon},
    {Qt::Key_Apostrophe, kc::quote},
    {Qt::Key_QuoteDbl, kc::quote},
    {Qt::Key_QuoteLeft, kc::grave},
    {Qt::Key_AsciiTilde, kc::grave},
    {Qt::Key_Comma, kc::comma},
    {Qt::Key_Less, kc::comma},
    {Qt::Key_Period, kc::period},
    {Qt::Key_Greater, kc::period},
    {Qt::Key_Slash, kc::slash},
    {Qt::Key_Question, kc::slash},
    {Qt::Key_Space, kc::space},
    {Qt::Key_Return, kc::returnKey},
    {Qt::Key_Enter, kc::keypadEnter},
    {Qt::Key_Tab, kc::tab},
    {Qt::Key_Backtab, kc::tab},
    {Qt::Key_Backspace, kc::deleteKey},
    {Qt::Key_Escape, kc::escape},
    {Qt::Key_Delete, kc::forwardDelete},
    {Qt::Key_Insert, kc::help},
    {Qt::Key_Help, kc::help},
    {Qt::Key_Home, kc::home},
    {Qt::Key_End, kc::end},
    {Qt::Key_PageUp, kc::pageUp},
    {Qt::Key_PageDown, kc::pageDown},
    {Qt::Key_Left, kc::leftArrow},
    {Qt::Key_Right, kc::rightArrow},
    {Qt::Key_Up, kc::upArrow},
    {Qt::Key_Down, kc::downArrow},
    {Qt::Key_F1, kc::f1},
    {Qt::Key_F2, kc::f2},
    {Qt::Key_F3, kc::f3},
    {Qt::Key_F4, kc::f4},
    {Qt::Key_F5, kc::f5},
    {Qt::Key_F6, kc::f6},
    {Qt::Key_F7, kc::f7},
    {Qt::Key_F8, kc::f8},
    {Qt::Key_F9, kc::f9},
    {Qt::Key_F10, kc::f10},
    {Qt::Key_F11, kc::f11},
    {Qt::Key_F12, kc::f12},
    {Qt::Key_F13, kc::f13},
    {Qt::Key_F14, kc::f14},
    {Qt::Key_F15, kc::f15},
    {Qt::Key_F16, kc::f16},
    {Qt::Key_F17, kc::f17},
    {Qt::Key_F18, kc::f18},
    {Qt::Key_F19, kc::f19},
    {Qt::Key_F20, kc::f20},
    {Qt::Key_Print, kc::f13},
    {Qt::Key_ScrollLock, kc::f14},
    {Qt::Key_Pause, kc::f15},
    {Qt::Key_Shift, kc::shift},
    {Qt::Key_Control, kc::command},
    {Qt::Key_Meta, kc::control},
    {Qt::Key_Super_L, kc::control},
    {Qt::Key_Super_R, kc::rightControl},
    {Qt::Key_Alt, kc::option},
    {Qt::Key_AltGr, kc::rightOption},
    {Qt::Key_CapsLock, kc::capsLock},
    {Qt::Key_NumLock, kc::keypadClear},
    {Qt::Key_Clear, kc::keypadClear},
    {Qt::Key_VolumeUp, kc::volumeUp},
    {Qt::Key_VolumeDown, kc::volumeDown},
    {Qt::Key_VolumeMute, kc::mute},
    {Qt::Key_yen, kc::jisYen},
};

// Keys Qt flags with the keypad modifier: digits and operators, and with Num Lock off the
// navigation keys printed on the same keys.
constexpr QtEntry qtKeypadTable[] = {
    {Qt::Key_0, kc::keypad0},
    {Qt::Key_1, kc::keypad1},
    {Qt::Key_2, kc::keypad2},
    {Qt::Key_3, kc::keypad3},
    {Qt::Key_4, kc::keypad4},
    {Qt::Key_5, kc::keypad5},
    {Qt::Key_6, kc::keypad6},
    {Qt::Key_7, kc::keypad7},
    {Qt::Key_8, kc::keypad8},
    {Qt::Key_9, kc::keypad9},
    {Qt::Key_Insert, kc::keypad0},
    {Qt::Key_End, kc::keypad1},
    {Qt::Key_Down, kc::keypad2},
    {Qt::Key_PageDown, kc::keypad3},
    {Qt::Key_Left, kc::keypad4},
    {Qt::Key_Clear, kc::keypad5},
    {Qt::Key_Right, kc::keypad6},
    {Qt::Key_Home, kc::keypad7},
    {Qt::Key_Up, kc::keypad8},
    {Qt::Key_PageUp, kc::keypad9},
    {Qt::Key_Period, kc::keypadDecimal},
    {Qt::Key_Delete, kc::keypadDecimal},
    {Qt::Key_Comma, kc::keypadComma},
    {Qt::Key_Asterisk, kc::keypadMultiply},
    {Qt::Key_Plus, kc::keypadPlus},
    {Qt::Key_Minus, kc::keypadMinus},
    {Qt::Key_Slash, kc::keypadDivide},
    {Qt::Key_Equal, kc::keypadEquals},
    {Qt::Key_Enter, kc::keypadEnter},
    {Qt::Key_Return, kc::keypadEnter},
};

template <std::size_t N> std::optional<kc::KeyCode> findQt(const QtEntry (&table)[N], int qtKey) {
    for (const auto& entry : table) {
        if (entry.qtKey == qtKey)
            return entry.code;
    }
    return std::nullopt;
}

// X11 core modifier masks (X.h), spelled out so this file needs no Xlib header.
constexpr std::uint32_t x11Shift = 1u << 0;
constexpr std::uint32_t x11Lock = 1u << 1;
constexpr std::uint32_t x11Control = 1u << 2;
constexpr std::uint32_t x11Mod1 = 1u << 3; // Alt
constexpr std::uint32_t x11Mod4 = 1u << 6; // Super

// The flag a modifier key stands for; 0 for other keys.
ModifierFlags ownModifierFlag(kc::KeyCode code) {
    switch (code) {
    case kc::shift:
    case kc::rightShift:
        return modifier::shift;
    case kc::control:
    case kc::rightControl:
        return modifier::control;
    case kc::option:
    case kc::rightOption:
        return modifier::option;
    case kc::command:
    case kc::rightCommand:
        return modifier::command;
    case kc::capsLock:
        return modifier::capsLock;
    case kc::function:
        return modifier::function;
    default:
        return 0;
    }
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// What the other platform reports as the characters of keys that type no text: control
// characters for Return, Tab, Delete, Escape and Enter, private-use function-key characters for
// arrows, F-keys and navigation keys. nullopt for keys that type text.
std::optional<std::string> functionKeyCharacters(kc::KeyCode code) {
    char32_t c = 0;
    switch (code) {
    case kc::returnKey:
        c = U'\r';
        break;
    case kc::tab:
        c = U'\t';
        break;
    case kc::deleteKey:
        c = 0x7F;
        break;
    case kc::escape:
        c = 0x1B;
        break;
    case kc::keypadEnter:
        c = 0x03;
        break;
    case kc::upArrow:
        c = 0xF700;
        break;
    case kc::downArrow:
        c = 0xF701;
        break;
    case kc::leftArrow:
        c = 0xF702;
        break;
    case kc::rightArrow:
        c = 0xF703;
        break;
    case kc::f1:
        c = 0xF704;
        break;
    case kc::f2:
        c = 0xF705;
        break;
    case kc::f3:
        c = 0xF706;
        break;
    case kc::f4:
        c = 0xF707;
        break;
    case kc::f5:
        c = 0xF708;
        break;
    case kc::f6:
        c = 0xF709;
        break;
    case kc::f7:
        c = 0xF70A;
        break;
    case kc::f8:
        c = 0xF70B;
        break;
    case kc::f9:
        c = 0xF70C;
        break;
    case kc::f10:
        c = 0xF70D;
        break;
    case kc::f11:
        c = 0xF70E;
        break;
    case kc::f12:
        c = 0xF70F;
        break;
    case kc::f13:
        c = 0xF710;
        break;
    case kc::f14:
        c = 0xF711;
        break;
    case kc::f15:
        c = 0xF712;
        break;
    case kc::f16:
        c = 0xF713;
        break;
    case kc::f17:
        c = 0xF714;
        break;
    case kc::f18:
        c = 0xF715;
        break;
    case kc::f19:
        c = 0xF716;
        break;
    case kc::f20:
        c = 0xF717;
        break;
    case kc::forwardDelete:
        c = 0xF728;
        break;
    case kc::home:
        c = 0xF729;
        break;
    case kc::end:
        c = 0xF72B;
        break;
    case kc::pageUp:
        c = 0xF72C;
        break;
    case kc::pageDown:
        c = 0xF72D;
        break;
    case kc::keypadClear:
        c = 0xF739;
        break;
    case kc::help:
        c = 0xF746;
        break;
    default:
        return std::nullopt;
    }
    std::string text;
    appendUtf8(text, c);
    return text;
}

// Flags for a modifier key's own event: its bit set while it goes down, cleared when it comes up.
// Caps Lock keeps whatever lock state was reported, but a press that engages it shows the bit.
ModifierFlags applyOwnFlag(ModifierFlags flags, kc::KeyCode code, KeyEvent::Type type) {
    const ModifierFlags own = ownModifierFlag(code);
    if (code == kc::capsLock)
        return type == KeyEvent::Type::keyDown ? flags | own : flags;
    return type == KeyEvent::Type::keyDown ? flags | own : flags & ~own;
}

// Fills in type, flags and characters common to both translations.
KeyEvent makeEvent(kc::KeyCode code, ModifierFlags modifiers, KeyEvent::Type type, bool isRepeat) {
    KeyEvent event;
    event.keyCode = code;
    event.isARepeat = isRepeat;
    if (isModifierKey(code)) {
        event.type = KeyEvent::Type::flagsChanged;
        event.modifierFlags = applyOwnFlag(modifiers, code, type) | modifier::nonCoalesced;
        event.isARepeat = false;
        return event;
    }
    event.type = type;
    event.modifierFlags = modifiers | keyKindFlags(code) | modifier::nonCoalesced;
    if (auto special = functionKeyCharacters(code)) {
        event.characters = *special;
        event.charactersIgnoringModifiers = *special;
        return event;
    }
    const bool shift = modifiers & modifier::shift;
    event.charactersIgnoringModifiers = typedCharacters(code, shift, /*capsLock=*/false);
    // Caps lock upper-cases letters whatever Shift says (X would lower-case them again with Shift).
    event.characters = event.charactersIgnoringModifiers;
    if (modifiers & modifier::capsLock)
        event.characters = QString::fromStdString(event.characters).toUpper().toStdString();
    return event;
}

bool isPrintable(const QString& text) {
    if (text.isEmpty())
        return false;
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return false;
    }
    return true;
}

} // namespace

std::optional<kc::KeyCode> keyCodeFromEvdev(std::uint32_t evdevCode) {
    if (evdevCode >= lookups.fromEvdev.size() || lookups.fromEvdev[evdevCode] == noCode)
        return std::nullopt;
    return lookups.fromEvdev[evdevCode];
}

std::optional<kc::KeyCode> keyCodeFromX11Keycode(std::uint32_t x11Keycode) {
    if (x11Keycode < 8)
        return std::nullopt;
    return keyCodeFromEvdev(x11Keycode - 8);
}

std::optional<std::uint32_t> evdevFromKeyCode(kc::KeyCode code) {
    if (code >= lookups.toEvdev.size() || lookups.toEvdev[code] == noCode)
        return std::nullopt;
    return lookups.toEvdev[code];
}

std::optional<kc::KeyCode> keyCodeFromQtKey(int qtKey, bool keypad) {
    if (keypad) {
        if (auto code = findQt(qtKeypadTable, qtKey))
            return code;
    }
    // Qt reports letters as upper case key values; other Latin-1 letters are not on the US keyboard.
    return findQt(qtTable, qtKey);
}

ModifierFlags keyKindFlags(kc::KeyCode code) {
    switch (code) {
    case kc::leftArrow:
    case kc::rightArrow:
    case kc::downArrow:
    case kc::upArrow:
        return modifier::numericPad | modifier::function;
    case kc::keypadDecimal:
    case kc::keypadMultiply:
    case kc::keypadPlus:
    case kc::keypadClear:
    case kc::keypadDivide:
    case kc::keypadEnter:
    case kc::keypadMinus:
    case kc::keypadEquals:
    case kc::keypadComma:
    case kc::keypad0:
    case kc::keypad1:
    case kc::keypad2:
    case kc::keypad3:
    case kc::keypad4:
    case kc::keypad5:
    case kc::keypad6:
    case kc::keypad7:
    case kc::keypad8:
    case kc::keypad9:
        return modifier::numericPad;
    case kc::f1:
    case kc::f2:
    case kc::f3:
    case kc::f4:
    case kc::f5:
    case kc::f6:
    case kc::f7:
    case kc::f8:
    case kc::f9:
    case kc::f10:
    case kc::f11:
    case kc::f12:
    case kc::f13:
    case kc::f14:
    case kc::f15:
    case kc::f16:
    case kc::f17:
    case kc::f18:
    case kc::f19:
    case kc::f20:
    case kc::home:
    case kc::end:
    case kc::pageUp:
    case kc::pageDown:
    case kc::forwardDelete:
        return modifier::function;
    case kc::help:
        return modifier::help | modifier::function;
    default:
        return 0;
    }
}

bool isModifierKey(kc::KeyCode code) {
    return ownModifierFlag(code) != 0;
}

bool isFunctionKey(kc::KeyCode code) {
    static constexpr kc::KeyCode fKeys[] = {kc::f1,  kc::f2,  kc::f3,  kc::f4,  kc::f5,  kc::f6,  kc::f7,
                                            kc::f8,  kc::f9,  kc::f10, kc::f11, kc::f12, kc::f13, kc::f14,
                                            kc::f15, kc::f16, kc::f17, kc::f18, kc::f19, kc::f20};
    return std::find(std::begin(fKeys), std::end(fKeys), code) != std::end(fKeys);
}

std::optional<QKeyCombination> qtKeyCombination(kc::KeyCode code, ModifierFlags flags) {
    // The unshifted Qt key of the code: the first row of the table that names it.
    const auto row = std::find_if(std::begin(qtTable), std::end(qtTable),
                                  [code](const QtEntry& entry) { return entry.code == code; });
    if (row == std::end(qtTable)) {
        return std::nullopt;
    }
    Qt::KeyboardModifiers modifiers;
    modifiers.setFlag(Qt::ShiftModifier, (flags & modifier::shift) != 0);
    modifiers.setFlag(Qt::ControlModifier, (flags & modifier::command) != 0);
    modifiers.setFlag(Qt::AltModifier, (flags & modifier::option) != 0);
    modifiers.setFlag(Qt::MetaModifier, (flags & modifier::control) != 0);
    return QKeyCombination(modifiers, static_cast<Qt::Key>(row->qtKey));
}

bool isStandardEditingKey(kc::KeyCode code, ModifierFlags flags) {
    const auto key = qtKeyCombination(code, flags);
    const auto command = key ? standardCommandOfKey(*key) : std::nullopt;
    return command && isEditingCommand(*command);
}

ModifierFlags modifierFlagsFromX11State(std::uint32_t state) {
    ModifierFlags flags = 0;
    if (state & x11Shift)
        flags |= modifier::shift;
    if (state & x11Lock)
        flags |= modifier::capsLock;
    if (state & x11Control)
        flags |= modifier::command;
    if (state & x11Mod1)
        flags |= modifier::option;
    if (state & x11Mod4)
        flags |= modifier::control;
    return flags;
}

std::optional<KeyEvent> translateKeyEvent(const QKeyEvent& event) {
    KeyEvent::Type type;
    if (event.type() == QEvent::KeyPress)
        type = KeyEvent::Type::keyDown;
    else if (event.type() == QEvent::KeyRelease)
        type = KeyEvent::Type::keyUp;
    else
        return std::nullopt;
    if (type == KeyEvent::Type::keyUp && event.isAutoRepeat())
        return std::nullopt;

    const Qt::KeyboardModifiers qtModifiers = event.modifiers();
    std::optional<kc::KeyCode> code;
    const bool native = event.nativeScanCode() != 0;
    if (native)
        code = keyCodeFromX11Keycode(event.nativeScanCode());
    if (!code)
        code = keyCodeFromQtKey(event.key(), qtModifiers.testFlag(Qt::KeypadModifier));
    if (!code)
        return std::nullopt;

    ModifierFlags flags = 0;
    if (qtModifiers.testFlag(Qt::ShiftModifier))
        flags |= modifier::shift;
    if (qtModifiers.testFlag(Qt::ControlModifier))
        flags |= modifier::command;
    if (qtModifiers.testFlag(Qt::AltModifier))
        flags |= modifier::option;
    if (qtModifiers.testFlag(Qt::MetaModifier))
        flags |= modifier::control;
    if (native && (event.nativeModifiers() & x11Lock))
        flags |= modifier::capsLock;

    KeyEvent result = makeEvent(*code, flags, type, event.isAutoRepeat());
    // Qt's text follows the real layout and dead keys; keep it when it is text. With Ctrl held it
    // is a control character, where the other platform's Command leaves the typed character.
    const QString text = event.text();
    if (result.type != KeyEvent::Type::flagsChanged && !functionKeyCharacters(*code) && isPrintable(text))
        result.characters = text.toStdString();
    return result;
}

std::optional<KeyEvent> translateX11KeyEvent(std::uint32_t x11Keycode, std::uint32_t x11State,
                                             KeyEvent::Type type, bool isRepeat) {
    const auto code = keyCodeFromX11Keycode(x11Keycode);
    if (!code)
        return std::nullopt;
    return makeEvent(*code, modifierFlagsFromX11State(x11State), type,
                     isRepeat && type == KeyEvent::Type::keyDown);
}

} // namespace platform

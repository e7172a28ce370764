#include "platform/keys/KeyTranslation.h"

#include "platform/keys/KeyEventTranslator.h"

#include <gtest/gtest.h>

#include <QKeyEvent>

#include <linux/input-event-codes.h>

#include <utility>
#include <vector>

namespace platform {
namespace {

namespace kc = keycode;
namespace mod = modifier;

// X11 keycodes are evdev codes + 8.
constexpr std::uint32_t x11(std::uint32_t evdev) {
    return evdev + 8;
}

constexpr std::uint32_t x11Shift = 1, x11Lock = 2, x11Control = 4, x11Alt = 8, x11NumLock = 16, x11Super = 64;

QKeyEvent nativeEvent(QEvent::Type type, int qtKey, Qt::KeyboardModifiers modifiers, std::uint32_t evdev,
                      std::uint32_t nativeModifiers = 0, const QString& text = {}, bool autoRepeat = false) {
    return QKeyEvent(type, qtKey, modifiers, x11(evdev), 0, nativeModifiers, text, autoRepeat);
}

std::optional<KeyEvent> press(int qtKey, std::uint32_t evdev,
                              Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                              std::uint32_t nativeModifiers = 0, const QString& text = {}) {
    return translateKeyEvent(nativeEvent(QEvent::KeyPress, qtKey, modifiers, evdev, nativeModifiers, text));
}

QKeyEvent qtOnlyEvent(QEvent::Type type, int qtKey, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    return QKeyEvent(type, qtKey, modifiers);
}

const auto functionPad = mod::numericPad | mod::function;

// Keys the prompter and the bindings compare, with the flags the other platform gives them.
const struct {
    std::uint32_t evdev;
    int qtKey;
    kc::KeyCode code;
    ModifierFlags kind;
} codeCases[] = {{KEY_A, Qt::Key_A, 0x00, 0},
                 {KEY_S, Qt::Key_S, 0x01, 0},
                 {KEY_B, Qt::Key_B, 0x0B, 0},
                 {KEY_W, Qt::Key_W, 0x0D, 0},
                 {KEY_U, Qt::Key_U, 0x20, 0},
                 {KEY_J, Qt::Key_J, 0x26, 0},
                 {KEY_Z, Qt::Key_Z, 0x06, 0},
                 {KEY_1, Qt::Key_1, 0x12, 0},
                 {KEY_5, Qt::Key_5, 0x17, 0},
                 {KEY_0, Qt::Key_0, 0x1D, 0},
                 {KEY_SPACE, Qt::Key_Space, 0x31, 0},
                 {KEY_BACKSPACE, Qt::Key_Backspace, 0x33, 0},
                 {KEY_ENTER, Qt::Key_Return, 0x24, 0},
                 {KEY_TAB, Qt::Key_Tab, 0x30, 0},
                 {KEY_ESC, Qt::Key_Escape, 0x35, 0},
                 {KEY_LEFT, Qt::Key_Left, 0x7B, functionPad},
                 {KEY_RIGHT, Qt::Key_Right, 0x7C, functionPad},
                 {KEY_DOWN, Qt::Key_Down, 0x7D, functionPad},
                 {KEY_UP, Qt::Key_Up, 0x7E, functionPad},
                 {KEY_F1, Qt::Key_F1, 0x7A, mod::function},
                 {KEY_F5, Qt::Key_F5, 0x60, mod::function},
                 {KEY_F12, Qt::Key_F12, 0x6F, mod::function},
                 {KEY_PAGEUP, Qt::Key_PageUp, 0x74, mod::function},
                 {KEY_PAGEDOWN, Qt::Key_PageDown, 0x79, mod::function},
                 {KEY_HOME, Qt::Key_Home, 0x73, mod::function},
                 {KEY_END, Qt::Key_End, 0x77, mod::function},
                 {KEY_DELETE, Qt::Key_Delete, 0x75, mod::function}};

// Presses by scan code, releases known only by their Qt key and X11 key events give the same code,
// kind flags and modifier flags, with the ordinary low bit.
TEST(KeyTranslation, CodesKindFlagsAndModifiersFromScanCodeQtKeyOrX11) {
    const struct {
        Qt::KeyboardModifiers qt;
        std::uint32_t x11State;
        ModifierFlags flags;
    } modifiers[] = {{Qt::NoModifier, 0, 0},
                     {Qt::ControlModifier, x11Control, mod::command},
                     {Qt::AltModifier, x11Alt, mod::option},
                     {Qt::MetaModifier, x11Super, mod::control},
                     {Qt::ShiftModifier, x11Shift, mod::shift},
                     {Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier | Qt::ShiftModifier,
                      x11Control | x11Alt | x11Super | x11Shift,
                      mod::command | mod::option | mod::control | mod::shift}};
    for (const auto& m : modifiers) {
        for (const auto& c : codeCases) {
            SCOPED_TRACE(testing::Message() << "evdev " << c.evdev << " flags " << m.flags);
            const auto down = press(c.qtKey, c.evdev, m.qt);
            const auto up = translateKeyEvent(qtOnlyEvent(QEvent::KeyRelease, c.qtKey, m.qt));
            const auto x = translateX11KeyEvent(x11(c.evdev), m.x11State, KeyEvent::Type::keyUp);
            for (const auto& [event, type] :
                 {std::pair(down, KeyEvent::Type::keyDown), std::pair(up, KeyEvent::Type::keyUp),
                  std::pair(x, KeyEvent::Type::keyUp)}) {
                ASSERT_TRUE(event);
                EXPECT_EQ(event->type, type);
                EXPECT_EQ(event->keyCode, c.code);
                EXPECT_EQ(event->modifierFlags, m.flags | c.kind | mod::nonCoalesced);
            }
        }
    }
}

// The exact values that fixed and presenter keys compare, and the characters of function keys.
TEST(KeyTranslation, ExactFlagsAndFunctionKeyCharacters) {
    const struct {
        std::uint32_t evdev;
        int qtKey;
        const char* text;
        ModifierFlags flags;
        const char* characters;
    } cases[] = {{KEY_SPACE, Qt::Key_Space, " ", 0x100u, " "},
                 {KEY_F5, Qt::Key_F5, "", 0x800100u, "\uF708"},
                 {KEY_PAGEDOWN, Qt::Key_PageDown, "", 0x800100u, "\uF72D"},
                 {KEY_UP, Qt::Key_Up, "", 0xA00100u, "\uF700"},
                 {KEY_DOWN, Qt::Key_Down, "", 0xA00100u, "\uF701"},
                 {KEY_BACKSPACE, Qt::Key_Backspace, "\b", 0x100u, "\x7F"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.evdev);
        const auto event = press(c.qtKey, c.evdev, Qt::NoModifier, 0, c.text);
        EXPECT_EQ(event->modifierFlags, c.flags);
        EXPECT_EQ(event->characters, c.characters);
        EXPECT_EQ(event->charactersIgnoringModifiers, c.characters);
    }
}

TEST(KeyTranslation, ScanCodeWinsOverQtKeyAndUnknownScanCodesFallBack) {
    // A French layout types 'q' on the key where US has 'a': the binding stays on the position.
    const auto event = press(Qt::Key_Q, KEY_A, Qt::NoModifier, 0, "q");
    ASSERT_TRUE(event);
    EXPECT_EQ(event->keyCode, kc::a);
    EXPECT_EQ(event->characters, "q");
    const auto unknown =
        translateKeyEvent(QKeyEvent(QEvent::KeyPress, Qt::Key_B, Qt::NoModifier, 255 + 8, 0, 0));
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->keyCode, kc::b);
    EXPECT_FALSE(translateKeyEvent(qtOnlyEvent(QEvent::KeyPress, Qt::Key_LaunchMail)));
    EXPECT_FALSE(translateKeyEvent(qtOnlyEvent(QEvent::ShortcutOverride, Qt::Key_A)));
}

TEST(KeyTranslation, KeypadKeysCarryTheNumericPadBit) {
    const std::pair<std::uint32_t, kc::KeyCode> keypad[] = {
        {KEY_KP0, kc::keypad0},         {KEY_KP1, kc::keypad1},       {KEY_KP5, kc::keypad5},
        {KEY_KP7, kc::keypad7},         {KEY_KP8, kc::keypad8},       {KEY_KP9, kc::keypad9},
        {KEY_KPENTER, kc::keypadEnter}, {KEY_KPPLUS, kc::keypadPlus}, {KEY_KPDOT, kc::keypadDecimal}};
    for (const auto& [evdev, code] : keypad) {
        SCOPED_TRACE(evdev);
        const auto event = press(Qt::Key_1, evdev, Qt::KeypadModifier, x11NumLock);
        ASSERT_TRUE(event);
        EXPECT_EQ(event->keyCode, code);
        EXPECT_EQ(event->modifierFlags, mod::numericPad | mod::nonCoalesced);
    }
    EXPECT_EQ(press(Qt::Key_1, KEY_KP1, Qt::KeypadModifier)->characters, "1");

    // Without a scan code the keypad modifier picks the keypad's codes.
    const auto qtOnly = [](int key, Qt::KeyboardModifiers modifiers) {
        return translateKeyEvent(qtOnlyEvent(QEvent::KeyPress, key, modifiers))->keyCode;
    };
    EXPECT_EQ(qtOnly(Qt::Key_3, Qt::KeypadModifier), kc::keypad3);
    EXPECT_EQ(qtOnly(Qt::Key_3, Qt::NoModifier), kc::digit3);
    EXPECT_EQ(qtOnly(Qt::Key_Enter, Qt::KeypadModifier), kc::keypadEnter);
    // Num Lock off: the keypad's 8 reports Up.
    const auto up = translateKeyEvent(qtOnlyEvent(QEvent::KeyPress, Qt::Key_Up, Qt::KeypadModifier));
    EXPECT_EQ(up->keyCode, kc::keypad8);
    EXPECT_EQ(up->modifierFlags, mod::numericPad | mod::nonCoalesced);
}

TEST(KeyTranslation, CapsLockShiftAndCommandCharacters) {
    auto event = press(Qt::Key_A, KEY_A, Qt::ControlModifier, x11Lock | x11Control, "\x01");
    ASSERT_TRUE(event);
    EXPECT_EQ(event->modifierFlags, mod::command | mod::capsLock | mod::nonCoalesced);
    // Command leaves the typed character, not Ctrl's control character.
    EXPECT_EQ(event->characters, "A");
    EXPECT_EQ(event->charactersIgnoringModifiers, "a");
    // Without a native event there is nothing to read caps lock from.
    event = translateKeyEvent(qtOnlyEvent(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier));
    EXPECT_EQ(event->modifierFlags, mod::command | mod::nonCoalesced);

    event = press(Qt::Key_Exclam, KEY_1, Qt::ShiftModifier, x11Shift, "!");
    EXPECT_EQ(event->keyCode, kc::digit1);
    EXPECT_EQ(event->characters, "!");
    EXPECT_EQ(event->charactersIgnoringModifiers, "!");
}

// Modifier keys become flagsChanged with their own bit applied (X reports the state before the event).
TEST(KeyTranslation, ModifierKeysBecomeFlagsChanged) {
    const struct {
        std::optional<KeyEvent> event;
        kc::KeyCode code;
        ModifierFlags flags;
    } cases[] = {
        {press(Qt::Key_Control, KEY_LEFTCTRL), kc::command, mod::command},
        {translateKeyEvent(
             nativeEvent(QEvent::KeyRelease, Qt::Key_Control, Qt::ControlModifier, KEY_LEFTCTRL, x11Control)),
         kc::command, 0},
        {press(Qt::Key_Super_L, KEY_LEFTMETA), kc::control, mod::control},
        {translateX11KeyEvent(x11(KEY_LEFTSHIFT), 0, KeyEvent::Type::keyDown), kc::shift, mod::shift},
        {translateX11KeyEvent(x11(KEY_RIGHTSHIFT), x11Shift | x11Control, KeyEvent::Type::keyUp),
         kc::rightShift, mod::command}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        ASSERT_TRUE(c.event);
        EXPECT_EQ(c.event->type, KeyEvent::Type::flagsChanged);
        EXPECT_EQ(c.event->keyCode, c.code);
        EXPECT_EQ(c.event->deviceIndependentModifierFlags(), c.flags);
    }
}

TEST(KeyTranslation, AutoRepeatReleasesAreDroppedPressesMarked) {
    EXPECT_FALSE(
        translateKeyEvent(nativeEvent(QEvent::KeyRelease, Qt::Key_W, Qt::NoModifier, KEY_W, 0, "w", true)));
    const auto repeat =
        translateKeyEvent(nativeEvent(QEvent::KeyPress, Qt::Key_W, Qt::NoModifier, KEY_W, 0, "w", true));
    ASSERT_TRUE(repeat);
    EXPECT_TRUE(repeat->isARepeat);
    const auto release = translateKeyEvent(nativeEvent(QEvent::KeyRelease, Qt::Key_W, Qt::NoModifier, KEY_W));
    ASSERT_TRUE(release);
    EXPECT_EQ(release->type, KeyEvent::Type::keyUp);
    EXPECT_FALSE(release->isARepeat);
}

TEST(KeyTranslation, UnmarkedX11RepeatReleasesAreDropped) {
    using T = KeyEvent::Type;
    using Seen = std::vector<std::pair<T, bool>>;
    Seen seen;
    KeyEventTranslator translator([&](const KeyEvent& e) {
        seen.emplace_back(e.type, e.isARepeat);
        return true;
    });
    const auto feed = [&](QEvent::Type type, int qtKey, std::uint32_t evdev, quint64 time,
                          bool marked = false) {
        QKeyEvent event = nativeEvent(type, qtKey, Qt::NoModifier, evdev, 0, {}, marked);
        event.setTimestamp(time);
        return translator.translate(event);
    };
    const auto taken = [&] { return std::exchange(seen, {}); };
    feed(QEvent::KeyPress, Qt::Key_Space, KEY_SPACE, 100);
    // Release and press at the same time: the release goes, the press is a repeat.
    EXPECT_TRUE(feed(QEvent::KeyRelease, Qt::Key_Space, KEY_SPACE, 600));
    EXPECT_TRUE(translator.isHoldingRelease());
    feed(QEvent::KeyPress, Qt::Key_Space, KEY_SPACE, 600);
    EXPECT_EQ(taken(), (Seen{{T::keyDown, false}, {T::keyDown, true}}));
    // A real release waits for the next event, and comes before it when that is another key...
    feed(QEvent::KeyRelease, Qt::Key_Space, KEY_SPACE, 700);
    EXPECT_TRUE(taken().empty());
    feed(QEvent::KeyPress, Qt::Key_W, KEY_W, 700);
    EXPECT_EQ(taken(), (Seen{{T::keyUp, false}, {T::keyDown, false}}));
    // ... or the same key pressed again later, or the grace timer.
    feed(QEvent::KeyRelease, Qt::Key_W, KEY_W, 800);
    feed(QEvent::KeyPress, Qt::Key_W, KEY_W, 900);
    EXPECT_EQ(taken(), (Seen{{T::keyUp, false}, {T::keyDown, false}}));
    feed(QEvent::KeyRelease, Qt::Key_W, KEY_W, 1000);
    translator.deliverHeldRelease();
    EXPECT_FALSE(translator.isHoldingRelease());
    EXPECT_EQ(taken(), (Seen{{T::keyUp, false}}));
    // Without a time stamp nothing is held.
    feed(QEvent::KeyRelease, Qt::Key_W, KEY_W, 0);
    EXPECT_EQ(taken(), (Seen{{T::keyUp, false}}));
    // Qt's repeat mark stands right after the key's own release here; a key whose hold ended in
    // another application comes back still marked, and is a new press.
    EXPECT_TRUE(feed(QEvent::KeyRelease, Qt::Key_W, KEY_W, 1100, true));
    feed(QEvent::KeyPress, Qt::Key_W, KEY_W, 1100, true);
    EXPECT_EQ(taken(), (Seen{{T::keyDown, true}}));
    feed(QEvent::KeyPress, Qt::Key_W, KEY_W, 5000, true);
    EXPECT_EQ(taken(), (Seen{{T::keyDown, false}}));
}

TEST(X11KeyTranslation, CapsLockAndUnknownKeycodes) {
    auto event =
        translateX11KeyEvent(x11(KEY_P), x11Super | x11Shift | x11Lock | x11NumLock, KeyEvent::Type::keyDown);
    EXPECT_EQ(event->keyCode, kc::p);
    EXPECT_EQ(event->deviceIndependentModifierFlags(), mod::control | mod::shift | mod::capsLock);
    EXPECT_EQ(event->characters, "P");
    EXPECT_EQ(event->charactersIgnoringModifiers, "P");

    event = translateX11KeyEvent(x11(KEY_P), x11Lock, KeyEvent::Type::keyDown);
    EXPECT_EQ(event->characters, "P");
    EXPECT_EQ(event->charactersIgnoringModifiers, "p");

    EXPECT_FALSE(translateX11KeyEvent(3, 0, KeyEvent::Type::keyDown));
    EXPECT_FALSE(translateX11KeyEvent(x11(KEY_PROG1), 0, KeyEvent::Type::keyDown));
}

TEST(KeyCodeTables, EvdevRoundTripsForEveryMappedKey) {
    for (std::uint32_t evdev = 0; evdev < 256; ++evdev) {
        const auto code = keyCodeFromEvdev(evdev);
        if (!code)
            continue;
        const auto back = evdevFromKeyCode(*code);
        ASSERT_TRUE(back) << evdev;
        EXPECT_EQ(keyCodeFromEvdev(*back), code) << evdev;
    }
    EXPECT_FALSE(keyCodeFromEvdev(100000));
    EXPECT_FALSE(evdevFromKeyCode(0x7F));
    EXPECT_FALSE(evdevFromKeyCode(0xFFFF));
    EXPECT_FALSE(keyCodeFromX11Keycode(0));
}

} // namespace
} // namespace platform

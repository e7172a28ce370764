// One translation of keyboard input into KeyEvent, shared by every window and the global monitor.
#pragma once

#include "platform/keys/KeyEvent.h"

#include <QKeyCombination>

#include <cstdint>
#include <optional>

class QKeyEvent;

namespace platform {

// Key codes by position, as on a US ANSI keyboard: Linux evdev codes (KEY_*), X11/XKB keycodes
// (evdev + 8) and back. Ctrl sits where Command does, Super where Control does. nullopt for keys
// the other platform has no code for.
std::optional<keycode::KeyCode> keyCodeFromEvdev(std::uint32_t evdevCode);
std::optional<keycode::KeyCode> keyCodeFromX11Keycode(std::uint32_t x11Keycode);
std::optional<std::uint32_t> evdevFromKeyCode(keycode::KeyCode code);

// The code for a Qt::Key value; `keypad` is whether Qt flagged the key as a keypad key.
std::optional<keycode::KeyCode> keyCodeFromQtKey(int qtKey, bool keypad);

// The flags a key carries by its kind: numeric pad for keypad keys, numeric pad and function for
// arrows, function for F-keys and navigation keys, help and function for Help; 0 for the rest.
ModifierFlags keyKindFlags(keycode::KeyCode code);

// True for Shift, Control, Option, Command (either side), Caps Lock and Fn.
bool isModifierKey(keycode::KeyCode code);

// True for F1 to F20.
bool isFunctionKey(keycode::KeyCode code);

// The Qt key of a code with these modifiers (its unshifted key: Shift stays a modifier); nullopt
// for a code without one.
std::optional<QKeyCombination> qtKeyCombination(keycode::KeyCode code, ModifierFlags flags);

// Whether the key with these modifiers is one of the standard text-editing keys of the standard
// keys' table (see StandardKeys.h): copy, cut, paste, undo, redo, select all, bold, italic,
// underline, and moving, selecting or deleting by word or to the ends of the text (Ctrl+C,
// Shift+Insert, Ctrl+Y, Ctrl+Left, Ctrl+Backspace, ...).
bool isStandardEditingKey(keycode::KeyCode code, ModifierFlags flags);

// X11 core modifier state (ShiftMask, LockMask, ControlMask, Mod1 = Alt, Mod4 = Super) to flags:
// Ctrl -> command, Alt -> option, Super -> control, Shift -> shift, Lock -> caps lock.
ModifierFlags modifierFlagsFromX11State(std::uint32_t state);

// A Qt key event as a KeyEvent. The code comes from the native scan code (an XKB keycode) when the
// event has one we know, else from Qt::Key. Modifier keys become flagsChanged events. Caps lock is
// read from the native modifiers of native events. Returns nullopt for auto-repeated releases, for
// event types other than KeyPress and KeyRelease, and for keys without a code.
std::optional<KeyEvent> translateKeyEvent(const QKeyEvent& event);

// A raw X11 key event (keycode, state before the event as X reports it), as the global monitor sees
// it. `type` is keyDown or keyUp; modifier keys become flagsChanged with their own bit applied.
// Returns nullopt for keys without a code.
std::optional<KeyEvent> translateX11KeyEvent(std::uint32_t x11Keycode, std::uint32_t x11State,
                                             KeyEvent::Type type, bool isRepeat = false);

} // namespace platform

#include "platform/keys/KeyNames.h"

#include "platform/keys/KeyTranslation.h"

#include "base/Log.h"
#include "dispatch/MainThreadChecker.h"

#include <QString>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <xkbcommon/xkbcommon.h>

#include <memory>
#include <mutex>
#include <vector>

namespace platform {

namespace kc = keycode;

namespace {

struct ContextDeleter {
    void operator()(xkb_context* context) const { xkb_context_unref(context); }
};
struct KeymapDeleter {
    void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
};
struct StateDeleter {
    void operator()(xkb_state* state) const { xkb_state_unref(state); }
};

// The compiled layout and one state to query it with. Queries set the state's modifiers each time.
class Layout {
public:
    bool load(const std::string& rules, const std::string& model, const std::string& layout,
              const std::string& variant, const std::string& options) {
        if (!context_) {
            // No environment names: the layout is what we are told, never $XKB_DEFAULT_LAYOUT.
            context_.reset(xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
            if (!context_)
                return false;
            xkb_context_set_log_level(context_.get(), XKB_LOG_LEVEL_CRITICAL);
        }
        xkb_rule_names names{};
        names.rules = rules.c_str();
        names.model = model.c_str();
        names.layout = layout.c_str();
        names.variant = variant.c_str();
        names.options = options.c_str();
        std::unique_ptr<xkb_keymap, KeymapDeleter> keymap(
            xkb_keymap_new_from_names(context_.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
        if (!keymap)
            return false;
        std::unique_ptr<xkb_state, StateDeleter> state(xkb_state_new(keymap.get()));
        if (!state)
            return false;
        shiftMask_ = maskOf(keymap.get(), XKB_MOD_NAME_SHIFT);
        lockMask_ = maskOf(keymap.get(), XKB_MOD_NAME_CAPS);
        numLockMask_ = maskOf(keymap.get(), XKB_MOD_NAME_NUM);
        state_ = std::move(state);
        keymap_ = std::move(keymap);
        return true;
    }

    bool isLoaded() const { return state_ != nullptr; }

    std::string utf8(std::uint32_t xkbKeycode, bool shift, bool capsLock) {
        // Num Lock stays on: keypad keys type their digits, as they always do on the other platform.
        const xkb_mod_mask_t locked = numLockMask_ | (capsLock ? lockMask_ : 0);
        xkb_state_update_mask(state_.get(), shift ? shiftMask_ : 0, 0, locked, 0, 0, 0);
        const int size = xkb_state_key_get_utf8(state_.get(), xkbKeycode, nullptr, 0);
        if (size <= 0)
            return {};
        std::vector<char> buffer(static_cast<std::size_t>(size) + 1);
        xkb_state_key_get_utf8(state_.get(), xkbKeycode, buffer.data(), buffer.size());
        return std::string(buffer.data(), static_cast<std::size_t>(size));
    }

private:
    static xkb_mod_mask_t maskOf(xkb_keymap* keymap, const char* name) {
        const xkb_mod_index_t index = xkb_keymap_mod_get_index(keymap, name);
        return index == XKB_MOD_INVALID ? 0 : xkb_mod_mask_t{1} << index;
    }

    std::unique_ptr<xkb_context, ContextDeleter> context_;
    std::unique_ptr<xkb_keymap, KeymapDeleter> keymap_;
    std::unique_ptr<xkb_state, StateDeleter> state_;
    xkb_mod_mask_t shiftMask_ = 0;
    xkb_mod_mask_t lockMask_ = 0;
    xkb_mod_mask_t numLockMask_ = 0;
};

std::mutex layoutMutex;

// Called with layoutMutex held. Compiles the US layout on first use.
Layout& currentLayout() {
    static Layout layout;
    static bool tried = false;
    if (!tried) {
        tried = true;
        if (!layout.load("evdev", "pc105", "us", "", ""))
            base::log("keyboard layout \"us\" could not be compiled; using the built-in US table");
    }
    return layout;
}

struct AsciiEntry {
    kc::KeyCode code;
    char plain;
    char shifted;
};

// The US layout for when no XKB data is installed.
constexpr AsciiEntry usTable[] = {
    {kc::a, 'a', 'A'},
    {kc::s, 's', 'S'},
    {kc::d, 'd', 'D'},
    {kc::f, 'f', 'F'},
    {kc::h, 'h', 'H'},
    {kc::g, 'g', 'G'},
    {kc::z, 'z', 'Z'},
    {kc::x, 'x', 'X'},
    {kc::c, 'c', 'C'},
    {kc::v, 'v', 'V'},
    {kc::b, 'b', 'B'},
    {kc::q, 'q', 'Q'},
    {kc::w, 'w', 'W'},
    {kc::e, 'e', 'E'},
    {kc::r, 'r', 'R'},
    {kc::y, 'y', 'Y'},
    {kc::t, 't', 'T'},
    {kc::digit1, '1', '!'},
    {kc::digit2, '2', '@'},
    {kc::digit3, '3', '#'},
    {kc::digit4, '4', '$'},
    {kc::digit6, '6', '^'},
    {kc::digit5, '5', '%'},
    {kc::equal, '=', '+'},
    {kc::digit9, '9', '('},
    {kc::digit7, '7', '&'},
    {kc::minus, '-', '_'},
    {kc::digit8, '8', '*'},
    {kc::digit0, '0', ')'},
    {kc::rightBracket, ']', '}'},
    {kc::o, 'o', 'O'},
    {kc::u, 'u', 'U'},
    {kc::leftBracket, '[', '{'},
    {kc::i, 'i', 'I'},
    {kc::p, 'p', 'P'},
    {kc::l, 'l', 'L'},
    {kc::j, 'j', 'J'},
    {kc::quote, '\'', '"'},
    {kc::k, 'k', 'K'},
    {kc::semicolon, ';', ':'},
    {kc::backslash, '\\', '|'},
    {kc::comma, ',', '<'},
    {kc::slash, '/', '?'},
    {kc::n, 'n', 'N'},
    {kc::m, 'm', 'M'},
    {kc::period, '.', '>'},
    {kc::space, ' ', ' '},
    {kc::grave, '`', '~'},
    {kc::keypadDecimal, '.', '.'},
    {kc::keypadMultiply, '*', '*'},
    {kc::keypadPlus, '+', '+'},
    {kc::keypadDivide, '/', '/'},
    {kc::keypadMinus, '-', '-'},
    {kc::keypadEquals, '=', '='},
    {kc::keypad0, '0', '0'},
    {kc::keypad1, '1', '1'},
    {kc::keypad2, '2', '2'},
    {kc::keypad3, '3', '3'},
    {kc::keypad4, '4', '4'},
    {kc::keypad5, '5', '5'},
    {kc::keypad6, '6', '6'},
    {kc::keypad7, '7', '7'},
    {kc::keypad8, '8', '8'},
    {kc::keypad9, '9', '9'},
};

std::string builtInCharacters(kc::KeyCode code, bool shift, bool capsLock) {
    for (const auto& entry : usTable) {
        if (entry.code != code)
            continue;
        const bool letter = entry.plain >= 'a' && entry.plain <= 'z';
        const bool upper = letter ? shift != capsLock : shift;
        return std::string(1, upper ? entry.shifted : entry.plain);
    }
    return {};
}

bool hasControlCharacter(const std::string& text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F)
            return true;
    }
    return false;
}

struct NameEntry {
    kc::KeyCode code;
    const char* name;
};

constexpr NameEntry specialNames[] = {
    {kc::returnKey, "Return"},
    {kc::tab, "Tab"},
    {kc::space, "Space"},
    {kc::deleteKey, "Backspace"},
    {kc::escape, "Esc"},
    {kc::pageUp, "PgUp"},
    {kc::pageDown, "PgDown"},
    {kc::help, "Ins"}, // the Insert key of a PC keyboard
    {kc::home, "Home"},
    {kc::end, "End"},
    {kc::forwardDelete, "Del"},
    {kc::leftArrow, "Left"},
    {kc::rightArrow, "Right"},
    {kc::downArrow, "Down"},
    {kc::upArrow, "Up"},
    {kc::f1, "F1"},
    {kc::f2, "F2"},
    {kc::f3, "F3"},
    {kc::f4, "F4"},
    {kc::f5, "F5"},
    {kc::f6, "F6"},
    {kc::f7, "F7"},
    {kc::f8, "F8"},
    {kc::f9, "F9"},
    {kc::f10, "F10"},
    {kc::f11, "F11"},
    {kc::f12, "F12"},
    {kc::f13, "F13"},
    {kc::f14, "F14"},
    {kc::f15, "F15"},
    {kc::keypadClear, "NumLock"}, // the keypad's Clear is Num Lock on a PC keyboard
    {kc::keypadEnter, "Num Enter"},
    {kc::keypadDivide, "Num /"},
    {kc::keypadMultiply, "Num *"},
    {kc::keypadMinus, "Num -"},
    {kc::keypadPlus, "Num +"},
    {kc::keypadDecimal, "Num ."},
    {kc::keypadEquals, "Num ="},
    {kc::keypad0, "Num 0"},
    {kc::keypad1, "Num 1"},
    {kc::keypad2, "Num 2"},
    {kc::keypad3, "Num 3"},
    {kc::keypad4, "Num 4"},
    {kc::keypad5, "Num 5"},
    {kc::keypad6, "Num 6"},
    {kc::keypad7, "Num 7"},
    {kc::keypad8, "Num 8"},
    {kc::keypad9, "Num 9"},
};

constexpr NameEntry keycapSymbols[] = {
    {kc::upArrow, "\u2191"},    {kc::downArrow, "\u2193"}, {kc::leftArrow, "\u2190"},
    {kc::rightArrow, "\u2192"}, {kc::deleteKey, "\u27F5"}, {kc::returnKey, "\u21B5"},
    {kc::tab, "\u21B9"},
};

template <std::size_t N> std::optional<std::string> lookUp(const NameEntry (&table)[N], kc::KeyCode code) {
    for (const auto& entry : table) {
        if (entry.code == code)
            return std::string(entry.name);
    }
    return std::nullopt;
}

struct ModifierEntry {
    ModifierFlags flag;
    const char* name;
};

// Qt's order on Linux, so that our keys read like the menus' shortcuts.
constexpr ModifierEntry modifierOrder[] = {
    {modifier::command, "Ctrl+"},
    {modifier::option, "Alt+"},
    {modifier::shift, "Shift+"},
    {modifier::control, "Super+"},
};

std::optional<std::string> readX11RulesNames(std::string& rules, std::string& model, std::string& layout,
                                             std::string& variant, std::string& options) {
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return std::nullopt;
    const Atom property = XInternAtom(display, "_XKB_RULES_NAMES", True);
    std::optional<std::string> result;
    if (property != None) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long remaining = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display, DefaultRootWindow(display), property, 0, 1024, False, XA_STRING,
                               &type, &format, &count, &remaining, &data) == Success &&
            data && type == XA_STRING && format == 8) {
            result = std::string(reinterpret_cast<const char*>(data), count);
        }
        if (data)
            XFree(data);
    }
    XCloseDisplay(display);
    if (!result)
        return std::nullopt;
    // Five NUL-separated fields: rules, model, layout, variant, options.
    std::string* fields[] = {&rules, &model, &layout, &variant, &options};
    std::size_t start = 0;
    for (std::string* field : fields) {
        if (start > result->size())
            break;
        const std::size_t end = result->find('\0', start);
        *field = result->substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return result;
}

} // namespace

bool setKeyboardLayout(const std::string& layout, const std::string& variant) {
    CW_DCHECK_MAIN_THREAD();
    std::lock_guard lock(layoutMutex);
    if (currentLayout().load("evdev", "pc105", layout, variant, ""))
        return true;
    base::log("keyboard layout \"" + layout + "\" could not be compiled");
    return false;
}

bool useCurrentKeyboardLayout() {
    CW_DCHECK_MAIN_THREAD();
    std::string rules, model, layout, variant, options;
    if (!readX11RulesNames(rules, model, layout, variant, options) || layout.empty())
        return false;
    if (rules.empty())
        rules = "evdev";
    std::lock_guard lock(layoutMutex);
    return currentLayout().load(rules, model, layout, variant, options);
}

std::string typedCharacters(kc::KeyCode code, bool shift, bool capsLock) {
    std::string text;
    {
        std::lock_guard lock(layoutMutex);
        Layout& layout = currentLayout();
        if (!layout.isLoaded())
            return builtInCharacters(code, shift, capsLock);
        const auto evdev = evdevFromKeyCode(code);
        if (!evdev)
            return {};
        text = layout.utf8(*evdev + 8, shift, capsLock);
    }
    if (hasControlCharacter(text))
        return {};
    return text;
}

std::optional<std::string> specialKeyName(kc::KeyCode code) {
    return lookUp(specialNames, code);
}

std::string keyDisplayName(kc::KeyCode code) {
    if (auto name = specialKeyName(code))
        return *name;
    return QString::fromStdString(typedCharacters(code)).toUpper().toStdString();
}

std::string keySymbol(kc::KeyCode code) {
    return lookUp(keycapSymbols, code).value_or(keyDisplayName(code));
}

std::string modifierNames(ModifierFlags flags) {
    std::string names;
    for (const auto& [flag, name] : modifierOrder) {
        if (flags & flag)
            names += name;
    }
    return names;
}

std::string keyText(kc::KeyCode code, ModifierFlags flags) {
    return modifierNames(flags) + keyDisplayName(code);
}

} // namespace platform

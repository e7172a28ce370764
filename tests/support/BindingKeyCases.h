// Every binding action's key as a person uses it, and what must run at each event: one table
// that each place taking keys (editor, prompter, global key monitor) runs through its own input.
#pragma once

#include "cuewright/model/KeyBindings.h"
#include "platform/keys/KeyCodes.h"
#include "platform/keys/ModifierFlags.h"

#include <Qt>

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace bindingcases {

using Action = cw::KeyBindings::Action;
namespace kc = platform::keycode;

// Each action bound to its own letter with Alt (the bindings' option).
struct Case {
    Action action;
    kc::KeyCode key;
    Qt::Key qtKey;
    // The key pressed and auto-repeated with Alt; then it repeats again, with Alt or after Alt
    // went up; then it is released (Alt after it, unless it went up before the second repeat):
    // what ran at each of the four, "D" the action as a press, "U" as a release, "." nothing (the
    // event is the binding's all the same), with "PerformCustomBindingActionOnKeyDown" on and off.
    const char* onKeyDown;
    const char* onKeyUp;
};

inline constexpr platform::ModifierFlags modifier = platform::modifier::option;

// Where a one-shot action runs once per press (the editor, the global key monitor).
inline constexpr std::array<Case, cw::KeyBindings::actionCount> cases{{
    {Action::playPause, kc::a, Qt::Key_A, "D...", "...U"},
    {Action::rewind, kc::s, Qt::Key_S, "D...", "...U"},
    {Action::incSpeed, kc::d, Qt::Key_D, "DDD.", "DDD."},
    {Action::decSpeed, kc::f, Qt::Key_F, "DDD.", "DDD."},
    {Action::reverse, kc::g, Qt::Key_G, "D...", "...U"},
    {Action::scrollLineUp, kc::h, Qt::Key_H, "D...", "...U"},
    {Action::scrollLineDown, kc::j, Qt::Key_J, "D...", "...U"},
    {Action::jumpNextBookmark, kc::k, Qt::Key_K, "D...", "...U"},
    {Action::jumpPrevBookmark, kc::l, Qt::Key_L, "D...", "...U"},
    {Action::ffwd, kc::z, Qt::Key_Z, "D..U", "D..U"},
    {Action::bbwd, kc::x, Qt::Key_X, "D..U", "D..U"},
}};

// The prompter runs a one-shot action again at each auto-repeat, as it does its fixed keys.
inline std::string inPrompter(const std::string& expected) {
    return expected == "D..." ? "DDD." : expected;
}

// Calls `check(case, onKeyDown, altFirst)` for every case, with the setting on and off and Alt
// released before the second repeat or after the key; a failure names the three.
template <typename Check> void forEachCase(const Check& check) {
    for (const Case& c : cases) {
        for (const bool onKeyDown : {true, false}) {
            for (const bool altFirst : {true, false}) {
                SCOPED_TRACE(testing::Message()
                             << cw::KeyBindings::actionName(c.action)
                             << (onKeyDown ? " on key-down" : " on key-up")
                             << (altFirst ? ", Alt released before a repeat" : ", Alt released last"));
                check(c, onKeyDown, altFirst);
            }
        }
    }
}

inline cw::KeyBindings allBound() {
    cw::KeyBindings bindings;
    for (const Case& c : cases) {
        bindings.key(c.action) = cw::KeyBindings::Key{c.key, modifier};
    }
    return bindings;
}

} // namespace bindingcases

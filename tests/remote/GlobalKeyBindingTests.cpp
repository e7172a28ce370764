// The global key monitor's handling of the bound keys it is handed, without an X server: every
// action's key pressed, repeated and released, its modifier going up before or after it.
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/remote/GlobalKeyMonitoring.h"

#include "remote/InputTestSupport.h"
#include "support/BindingKeyCases.h"

#include <gtest/gtest.h>

namespace {

using platform::KeyEvent;

KeyEvent key(KeyEvent::Type type, platform::keycode::KeyCode code, platform::ModifierFlags flags,
             bool repeat = false) {
    KeyEvent event;
    event.type = type;
    event.keyCode = code;
    event.modifierFlags = flags;
    event.isARepeat = repeat;
    return event;
}

TEST(GlobalKeyBindings, EveryActionRunsAsTheActionTableSays) {
    inputtest::ScriptWorkspace scripts;
    scripts.activeScript();
    scripts.defaults.set(cw::settings::listenToShortcutsInBackground, true);
    scripts.defaults.set(cw::settings::customKeyBindings, bindingcases::allBound().storedValue());
    const auto performer = std::make_shared<inputtest::RecordingPerformer>();
    cw::GlobalKeyMonitoring monitoring(scripts.workspace, performer, {&scripts.defaults, {}});
    const platform::ModifierFlags alt = bindingcases::modifier;
    bindingcases::forEachCase([&](const bindingcases::Case& c, bool onKeyDown, bool altFirst) {
        scripts.defaults.set(cw::settings::performCustomBindingActionOnKeyDown, onKeyDown);
        std::string seen;
        const auto step = [&](std::initializer_list<KeyEvent> events) {
            performer->calls.clear();
            for (const KeyEvent& event : events) {
                monitoring.handleGlobalKeyEvent(event);
            }
            for (const inputtest::PerformedAction& call : performer->calls) {
                seen += call.action == c.action && call.depth == 0 ? (call.isDown ? "D" : "U") : "?";
            }
            seen += performer->calls.empty() ? "." : "";
        };
        const KeyEvent altUp = key(KeyEvent::Type::flagsChanged, platform::keycode::option, 0);
        step({key(KeyEvent::Type::keyDown, c.key, alt)});
        step({key(KeyEvent::Type::keyDown, c.key, alt, /*repeat=*/true)});
        if (altFirst) {
            step({altUp, key(KeyEvent::Type::keyDown, c.key, 0, /*repeat=*/true)});
            step({key(KeyEvent::Type::keyUp, c.key, 0)});
        } else {
            step({key(KeyEvent::Type::keyDown, c.key, alt, /*repeat=*/true)});
            step({key(KeyEvent::Type::keyUp, c.key, alt), altUp});
        }
        EXPECT_EQ(seen, onKeyDown ? c.onKeyDown : c.onKeyUp);
    });
}

} // namespace

// The key bindings while another X client has the focus, seen through RECORD under an Xvfb of
// the test's own (run_under_xvfb.sh); keys are typed with XTEST. With CW_XVFB_NO_RECORD set the
// server runs without RECORD and only the untrusted case runs.
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/remote/GlobalKeyMonitoring.h"
#include "platform/defaults/NotificationCenter.h"
#include "platform/keys/KeyTranslation.h"

#include "remote/InputTestSupport.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <cstdlib>

namespace {

using inputtest::PerformedAction;
using Action = cw::KeyBindings::Action;
namespace keycode = platform::keycode;
// Fast wind on and off: what F pressed and let go does.
const std::vector<PerformedAction> wind{{Action::ffwd, true, 0}, {Action::ffwd, false, 0}};

bool withoutRecord() {
    return std::getenv("CW_XVFB_NO_RECORD") != nullptr;
}

class KeyMonitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (withoutRecord()) {
            GTEST_SKIP() << "the server runs without RECORD";
        }
        // Another client with a window of its own, which gets the focus and the typed keys, and a
        // window that stands for one of ours.
        other = XOpenDisplay(nullptr);
        ASSERT_NE(other, nullptr);
        otherWindow = XCreateSimpleWindow(other, DefaultRootWindow(other), 0, 0, 200, 100, 0, 0, 0);
        ownWindow = XCreateSimpleWindow(other, DefaultRootWindow(other), 200, 0, 200, 100, 0, 0, 0);
        XMapRaised(other, otherWindow);
        XMapRaised(other, ownWindow);
        focus(otherWindow);

        auto& defaults = scripts.defaults;
        defaults.set(cw::settings::listenToShortcutsInBackground, true);
        defaults.set(cw::settings::performCustomBindingActionOnKeyDown, true);
        cw::KeyBindings bindings;
        bindings.ffwd = cw::KeyBindings::Key{keycode::f, 0};
        bindings.incSpeed = cw::KeyBindings::Key{keycode::i, 0};
        bindings.playPause = cw::KeyBindings::Key{keycode::p, 0};
        bindings.bbwd = cw::KeyBindings::Key{keycode::b, 0};
        bindings.reverse = cw::KeyBindings::Key{keycode::r, platform::modifier::command};
        bindings.save(defaults, center);
        project = scripts.activeScript();
        monitoring.install();
    }
    void TearDown() override {
        if (other != nullptr) {
            XCloseDisplay(other);
        }
    }

    void focus(Window window) {
        XSync(other, False);
        XSetInputFocus(other, window, RevertToParent, CurrentTime);
        XSync(other, False);
    }
    void type(keycode::KeyCode code, bool press) {
        const auto evdev = platform::evdevFromKeyCode(code);
        ASSERT_TRUE(evdev);
        XTestFakeKeyEvent(other, *evdev + 8, press ? True : False, CurrentTime);
        XSync(other, False);
    }
    void tap(keycode::KeyCode code) {
        type(code, true);
        type(code, false);
    }
    // What the keys typed so far did: a bound key tapped last marks where they end.
    std::vector<PerformedAction> performed() {
        tap(keycode::b);
        const std::vector<PerformedAction> marker{{Action::bbwd, true, 0}, {Action::bbwd, false, 0}};
        EXPECT_TRUE(inputtest::waitUntil([&] {
            const auto& calls = performer->calls;
            return calls.size() >= 2 && std::equal(marker.begin(), marker.end(), calls.end() - 2);
        }));
        auto calls = performer->calls;
        calls.resize(calls.size() >= 2 ? calls.size() - 2 : 0);
        performer->calls.clear();
        return calls;
    }

    Display* other = nullptr;
    Window otherWindow = 0;
    Window ownWindow = 0;
    int focusChecks = 0; // one at each press the monitor has looked at
    inputtest::ScriptWorkspace scripts;
    platform::NotificationCenter center;
    std::shared_ptr<cw::Project> project;
    std::shared_ptr<inputtest::RecordingPerformer> performer =
        std::make_shared<inputtest::RecordingPerformer>();
    cw::GlobalKeyMonitoring monitoring{
        scripts.workspace, performer, {&scripts.defaults, {{}, [this](unsigned long window) {
                                                               ++focusChecks;
                                                               return window == ownWindow;
                                                           }}}};
};

TEST_F(KeyMonitorTest, BoundKeysOfAnotherClientReachTheActions) {
    struct Case {
        const char* name;
        keycode::KeyCode key;
        bool onKeyDown;
        std::vector<PerformedAction> performed;
        bool commandHeld = false;
    };
    const Case cases[] = {
        {"fast wind acts on press and release", keycode::f, true, wind},
        {"speed up on press only", keycode::i, true, {{Action::incSpeed, true, 0}}},
        {"speed up on press only, whatever the setting", keycode::i, false, {{Action::incSpeed, true, 0}}},
        {"play/pause on press", keycode::p, true, {{Action::playPause, true, 0}}},
        {"play/pause on release", keycode::p, false, {{Action::playPause, false, 0}}},
        {"an unbound key does nothing", keycode::q, true, {}},
        {"reverse is bound with command (Ctrl) only", keycode::r, true, {}},
        {"reverse with command", keycode::r, true, {{Action::reverse, true, 0}}, true},
    };
    EXPECT_TRUE(monitoring.isInstalled());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        scripts.defaults.set(cw::settings::performCustomBindingActionOnKeyDown, c.onKeyDown);
        if (c.commandHeld) {
            type(keycode::command, true);
        }
        tap(c.key);
        if (c.commandHeld) {
            type(keycode::command, false);
        }
        EXPECT_EQ(performed(), c.performed);
    }
}

// Alt+F held winds fast; letting go ends it whichever of the two keys goes up first, and the
// script runs forwards at normal speed again (what the remote status reports).
TEST_F(KeyMonitorTest, FastWindEndsWhicheverKeyGoesUpFirst) {
    cw::KeyBindings bindings = cw::KeyBindings::load(scripts.defaults);
    bindings.ffwd = cw::KeyBindings::Key{keycode::f, platform::modifier::option};
    bindings.save(scripts.defaults, center);
    performer->acts = true;
    const auto factor = [&] { return project->transportState().ffwdFactor; };
    for (const bool altFirst : {true, false}) {
        SCOPED_TRACE(altFirst ? "Alt released first" : "F released first");
        type(keycode::option, true);
        type(keycode::f, true);
        ASSERT_TRUE(inputtest::waitUntil([&] { return factor() == 5.0; }));
        type(altFirst ? keycode::option : keycode::f, false);
        type(altFirst ? keycode::f : keycode::option, false);
        // A speed step typed after them arrives after their releases.
        tap(keycode::i);
        ASSERT_TRUE(inputtest::waitUntil(
            [&] { return !performer->calls.empty() && performer->calls.back().action == Action::incSpeed; }));
        EXPECT_EQ(factor(), 1.0);
        performer->calls.pop_back();
        EXPECT_EQ(performer->calls, wind);
        performer->calls.clear();
    }
}

// Keys typed while one of our windows has the X input focus are that window's own, however the
// focus came there or went from it; but the release of a key pressed elsewhere ends its fast wind
// wherever the focus is by then, also when the settings stored background listening (still on)
// in between, as recording a key or leaving the Keys pane does; switching listening off ends it.
TEST_F(KeyMonitorTest, PressesGoToTheWindowWithTheFocusAndReleasesEndWhatTheirPressesBegan) {
    const struct {
        bool ownAtPress, ownAtRelease, storedBetween;
        std::vector<PerformedAction> performed;
    } cases[] = {
        {true, true, false, {}},     {true, false, false, {}},  {false, true, false, wind},
        {false, false, false, wind}, {false, true, true, wind}, {false, false, true, wind},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.ownAtPress << c.ownAtRelease << c.storedBetween);
        focus(c.ownAtPress ? ownWindow : otherWindow);
        const int checks = focusChecks;
        type(keycode::f, true);
        ASSERT_TRUE(inputtest::waitUntil([&] { return focusChecks > checks; }));
        if (c.storedBetween) {
            monitoring.backgroundListeningDidChange();
        }
        focus(c.ownAtRelease ? ownWindow : otherWindow);
        type(keycode::f, false);
        // An unbound key after it: once its press is looked at, so is the release.
        const int released = focusChecks;
        tap(keycode::q);
        ASSERT_TRUE(inputtest::waitUntil([&] { return focusChecks > released; }));
        focus(otherWindow);
        EXPECT_EQ(performed(), c.performed);
    }

    // Listening switched off meanwhile, the release goes unseen: the wind ends there and then.
    type(keycode::f, true);
    ASSERT_TRUE(inputtest::waitUntil([&] { return !performer->calls.empty(); }));
    scripts.defaults.set(cw::settings::listenToShortcutsInBackground, false);
    monitoring.backgroundListeningDidChange();
    EXPECT_FALSE(monitoring.isInstalled());
    type(keycode::f, false);
    scripts.defaults.set(cw::settings::listenToShortcutsInBackground, true);
    monitoring.backgroundListeningDidChange();
    EXPECT_EQ(performed(), wind);
}

TEST_F(KeyMonitorTest, WithoutActiveProjectOnlyLogs) {
    testsupport::LogCapture log;
    scripts.workspace.setActiveProject(nullptr);
    tap(keycode::f);
    EXPECT_TRUE(inputtest::waitUntil([&] {
        const auto lines = log.lines();
        return std::count(lines.begin(), lines.end(), cw::GlobalKeyMonitoring::noActiveProject) == 2;
    }));
    EXPECT_TRUE(performer->calls.empty());
}

TEST(KeyMonitorTrustTest, WithoutRecordIsUntrustedButInstalled) {
    if (!withoutRecord()) {
        EXPECT_TRUE(platform::GlobalKeyMonitor::isTrusted());
        return;
    }
    inputtest::ScriptWorkspace scripts;
    testsupport::LogCapture log;
    cw::GlobalKeyMonitoring monitoring(scripts.workspace, {}, {&scripts.defaults, {}});
    EXPECT_FALSE(platform::GlobalKeyMonitor::isTrusted());
    monitoring.install();
    EXPECT_TRUE(monitoring.isInstalled());
    const auto lines = log.lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), cw::GlobalKeyMonitoring::notTrustedWarning), lines.end());
}

} // namespace

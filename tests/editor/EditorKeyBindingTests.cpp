// Custom key bindings typed in the script editor: what reaches the delegate, what the project does.
#include "cuewright/editor/EditorController.h"
#include "cuewright/editor/ScriptTextView.h"
#include "cuewright/model/BindingActions.h"
#include "cuewright/model/KeyBindings.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/SettingsKeys.h"
#include "platform/defaults/Defaults.h"

#include "support/BindingKeyCases.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QTest>

#include <string>

using namespace std::chrono_literals;
using cw::KeyBindings;
namespace kc = platform::keycode;
namespace mod = platform::modifier;

namespace {

struct Recorder : cw::editor::ScriptTextViewKeyEventDelegate {
    bool handleKeyEvent(const platform::KeyEvent&, bool isKeyDown) override {
        calls += isKeyDown ? "d" : "u";
        return true;
    }
    std::string calls;
};

class EditorKeyBindingTest : public ::testing::Test {
protected:
    EditorKeyBindingTest()
        : defaults(platform::Defaults::Options{dir / "defaults.json", 1h, {}}) {
        KeyBindings bindings;
        bindings.playPause = KeyBindings::Key{kc::p, mod::option};
        bindings.rewind = KeyBindings::Key{kc::q, 0};                      // no modifier: typed
        bindings.reverse = KeyBindings::Key{kc::e, mod::command};          // Ctrl: a binding
        bindings.jumpNextBookmark = KeyBindings::Key{kc::c, mod::command}; // Ctrl+C: copying
        bindings.jumpPrevBookmark = KeyBindings::Key{kc::f7, mod::function};
        bindings.incSpeed = KeyBindings::Key{kc::w, mod::option};
        bindings.decSpeed = KeyBindings::Key{kc::s, mod::option};
        bindings.scrollLineDown = KeyBindings::Key{kc::j, mod::option};
        bindings.ffwd = KeyBindings::Key{kc::f, mod::control};
        bindings.bbwd = KeyBindings::Key{kc::b, mod::option};
        defaults.set(cw::settings::customKeyBindings, bindings.storedValue());
        view.resize(400, 200);
        view.show();
    }
    void setOnKeyDown(bool on) { defaults.set(cw::settings::performCustomBindingActionOnKeyDown, on); }

    testsupport::TempDir dir;
    platform::Defaults defaults;
    cw::editor::ScriptTextView view;
};

TEST_F(EditorKeyBindingTest, KeysWithModifiersOrFKeysReachTheDelegateOthersAreTypedOrEdit) {
    struct Row {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        bool onKeyDown;
        std::string calls; // d = key down, u = key up handed to the delegate
        QString typed;
    };
    const Row rows[] = {
        {Qt::Key_P, Qt::AltModifier, true, "d", ""},   // one-shot on the key-down, key-up swallowed
        {Qt::Key_P, Qt::AltModifier, false, "u", ""},  // key-down swallowed, acts on the key-up
        {Qt::Key_F, Qt::MetaModifier, true, "du", ""}, // winding starts and ends
        {Qt::Key_F, Qt::MetaModifier, false, "du", ""},
        {Qt::Key_W, Qt::AltModifier, false, "d", ""},    // speed steps on the key-down only
        {Qt::Key_Q, Qt::NoModifier, true, "", "q"},      // bound without modifiers: typing
        {Qt::Key_E, Qt::ControlModifier, true, "d", ""}, // Ctrl acts as in the prompter
        {Qt::Key_C, Qt::ControlModifier, true, "", ""},  // but copying stays copying
        {Qt::Key_F7, Qt::NoModifier, true, "d", ""},     // an F-key types nothing: a binding
        {Qt::Key_X, Qt::NoModifier, true, "", "x"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(QTest::toString(QKeySequence(row.key | row.modifiers)));
        Recorder recorder;
        view.clear();
        view.setKeyEventDelegate(&recorder, &defaults);
        setOnKeyDown(row.onKeyDown);
        QTest::keyClick(&view, row.key, row.modifiers);
        EXPECT_EQ(recorder.calls, row.calls);
        EXPECT_EQ(view.toPlainText(), row.typed);
        view.setKeyEventDelegate(nullptr);
    }
}

// A release belongs to its press: a wind held here ends when the focus goes (its key-up will
// reach another window), and a key-up whose press was no binding's is nobody's.
TEST_F(EditorKeyBindingTest, AHeldWindEndsWithTheFocusAndAReleaseBelongsToItsPress) {
    Recorder recorder;
    view.setKeyEventDelegate(&recorder, &defaults);
    QTest::keyPress(&view, Qt::Key_F, Qt::MetaModifier);
    QFocusEvent focusOut(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QCoreApplication::sendEvent(&view, &focusOut);
    EXPECT_EQ(recorder.calls, "du") << "the wind did not end with the focus";
    QTest::keyRelease(&view, Qt::Key_F, Qt::MetaModifier);
    EXPECT_EQ(recorder.calls, "du") << "the late release acted again";

    recorder.calls.clear();
    QTest::keyPress(&view, Qt::Key_B, Qt::NoModifier); // types "b": no binding
    QTest::keyPress(&view, Qt::Key_Alt, Qt::AltModifier);
    QTest::keyRelease(&view, Qt::Key_B, Qt::AltModifier); // Alt+B is bound to fast backward
    QTest::keyRelease(&view, Qt::Key_Alt, Qt::NoModifier);
    EXPECT_EQ(recorder.calls, "") << "B's release acted as Alt+B's";
    view.setKeyEventDelegate(nullptr);
}

// Every action's key, pressed and repeated (a one-shot acts once), with Alt going up before a
// second repeat or after the key's release.
TEST_F(EditorKeyBindingTest, EveryActionRunsAsTheActionTableSays) {
    defaults.set(cw::settings::customKeyBindings, bindingcases::allBound().storedValue());
    struct ActionRecorder : cw::editor::ScriptTextViewKeyEventDelegate {
        bool handleKeyEvent(const platform::KeyEvent& event, bool isKeyDown) override {
            // The delegate matches the event itself: a release carries its press's modifiers.
            runs += KeyBindings::action(event, *defaults) == expected ? (isKeyDown ? "D" : "U") : "?";
            return true;
        }
        platform::Defaults* defaults = nullptr;
        KeyBindings::Action expected{};
        std::string runs;
    } recorder;
    recorder.defaults = &defaults;
    view.setKeyEventDelegate(&recorder, &defaults);
    bindingcases::forEachCase([&](const bindingcases::Case& c, bool onKeyDown, bool altFirst) {
        setOnKeyDown(onKeyDown);
        recorder.expected = c.action;
        std::string seen;
        const auto step = [&](const auto& send) {
            recorder.runs.clear();
            send();
            seen += recorder.runs.empty() ? "." : recorder.runs;
        };
        // A letter's repeat carries its text, as a held key's does.
        const auto repeat = [&](Qt::KeyboardModifiers modifiers) {
            const bool letter = c.qtKey >= Qt::Key_A && c.qtKey <= Qt::Key_Z;
            QKeyEvent event(QEvent::KeyPress, c.qtKey, modifiers,
                            letter ? QString(QChar(c.qtKey)).toLower() : QString(), /*autorep=*/true);
            QCoreApplication::sendEvent(&view, &event);
        };
        step([&] { QTest::keyPress(&view, c.qtKey, Qt::AltModifier); });
        step([&] { repeat(Qt::AltModifier); });
        step([&] {
            if (altFirst) {
                QTest::keyRelease(&view, Qt::Key_Alt, Qt::NoModifier);
            }
            repeat(altFirst ? Qt::NoModifier : Qt::AltModifier);
        });
        step([&] {
            QTest::keyRelease(&view, c.qtKey, altFirst ? Qt::NoModifier : Qt::AltModifier);
            if (!altFirst) {
                QTest::keyRelease(&view, Qt::Key_Alt, Qt::NoModifier);
            }
        });
        EXPECT_EQ(seen, onKeyDown ? c.onKeyDown : c.onKeyUp);
        EXPECT_EQ(view.toPlainText(), QString()) << "a binding's keys are never typed";
    });
    view.setKeyEventDelegate(nullptr);
}

TEST_F(EditorKeyBindingTest, ControllerRunsTheBoundTransportActionOnItsProject) {
    auto project = cw::Project::create(defaults);
    auto controller = std::make_shared<cw::editor::EditorController>(project, view, defaults);
    controller->load();
    EXPECT_EQ(view.keyEventDelegate(), controller.get());
    setOnKeyDown(true);
    const auto speed = [&] { return project->document().speedProperties.scrollSpeedPerc; };
    const auto factor = [&] { return project->transportState().ffwdFactor; };

    QTest::keyClick(&view, Qt::Key_P, Qt::AltModifier);
    EXPECT_TRUE(project->transportState().isPlaying());
    QTest::keyClick(&view, Qt::Key_P, Qt::AltModifier);
    EXPECT_FALSE(project->transportState().isPlaying());

    project->setScrollSpeed(97, 0.5, 2.0);
    QTest::keyClick(&view, Qt::Key_W, Qt::AltModifier);
    EXPECT_EQ(speed(), 100.0) << "held at most 100";
    EXPECT_EQ(project->document().speedProperties.minScrollSpeedLPS, 0.5);
    project->setScrollSpeed(3, 0.5, 2.0);
    QTest::keyClick(&view, Qt::Key_S, Qt::AltModifier);
    EXPECT_EQ(speed(), 0.0) << "held at least 0";

    QTest::keyPress(&view, Qt::Key_B, Qt::AltModifier);
    EXPECT_EQ(factor(), -5.0);
    QTest::keyRelease(&view, Qt::Key_B, Qt::AltModifier);
    EXPECT_EQ(factor(), 1.0);
    QTest::keyPress(&view, Qt::Key_B, Qt::AltModifier);
    QTest::keyRelease(&view, Qt::Key_B, Qt::NoModifier);
    EXPECT_EQ(factor(), 1.0) << "Option released before the key still ends the winding";
    setOnKeyDown(false);
    QTest::keyPress(&view, Qt::Key_F, Qt::MetaModifier);
    EXPECT_EQ(factor(), 5.0) << "whatever the key-down setting";
    QTest::keyRelease(&view, Qt::Key_F, Qt::MetaModifier);
    EXPECT_EQ(factor(), 1.0);

    // Line steps belong to the prompter windows; the application runs them.
    struct StepRecorder final : cw::BindingActionPerformer {
        bool performBindingAction(cw::Project& p, KeyBindings::Action action, bool down, int depth) override {
            steps += &p == project && action == KeyBindings::Action::scrollLineDown && depth == 0
                         ? (down ? "d" : "u")
                         : "?";
            return true;
        }
        cw::Project* project = nullptr;
        std::string steps;
    };
    const auto performer = std::make_shared<StepRecorder>();
    performer->project = project.get();
    QTest::keyClick(&view, Qt::Key_J, Qt::AltModifier);
    controller->setBindingActionPerformer(performer);
    QTest::keyClick(&view, Qt::Key_J, Qt::AltModifier);
    EXPECT_EQ(performer->steps, "u") << "a one-shot action, on the key-up while the setting is off";

    controller->close();
    EXPECT_EQ(view.keyEventDelegate(), nullptr);
    QTest::keyClick(&view, Qt::Key_P, Qt::AltModifier);
    EXPECT_FALSE(project->transportState().isPlaying());
}

} // namespace

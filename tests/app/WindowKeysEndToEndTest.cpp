// The application's keys from its small windows, in the real binary under openbox, typed with
// xdotool: Ctrl+N and Ctrl+Q (after the usual question) from the settings window, Ctrl+W closing
// the Remote Control window, and Ctrl+W in the start window, which quits as its close button does.
#include <gtest/gtest.h>

// Xlib's macros after gtest, which uses the same names.
#include "EndToEndSupport.h"

namespace fs = std::filesystem;
using namespace endtoend;

namespace {

class WindowKeysEndToEnd : public AppTest {
protected:
    // Starts on a script with an unsaved letter typed into it; its editor window, active.
    std::optional<Window> startEdited() {
        script = makeScript("keys.cwr", QStringLiteral("Good evening.\n"));
        app = &start({pathArg(script)});
        const std::optional<Window> editor = waitForWindow(*app, "keys.cwr");
        if (!editor || !activate(*editor) || !xdotool({"type", "x"}) || !waitForWindow(*app, "keys.cwr*")) {
            return std::nullopt;
        }
        return editor;
    }
    bool endedWell() const {
        return app->state() == QProcess::NotRunning && app->exitStatus() == QProcess::NormalExit &&
               app->exitCode() == 0;
    }

    fs::path script;
    QProcess* app = nullptr;
};

TEST_F(WindowKeysEndToEnd, CtrlNAndCtrlQWorkFromTheSettingsWindow) {
    ASSERT_TRUE(startEdited()) << "no edited script window";
    ASSERT_TRUE(xdotool({"key", "ctrl+comma"}));
    const std::optional<Window> settings = waitForNamed(*app, "General");
    ASSERT_TRUE(settings) << "Ctrl+, opened no settings window";
    ASSERT_TRUE(activate(*settings));
    ASSERT_TRUE(xdotool({"key", "ctrl+n"}));
    EXPECT_TRUE(waitForWindow(*app, "Untitled")) << "Ctrl+N in the settings window opened no script";

    ASSERT_TRUE(activate(*settings));
    ASSERT_TRUE(xdotool({"key", "ctrl+q"}));
    const std::optional<Window> question = waitForAlert(*app);
    ASSERT_TRUE(question) << "Ctrl+Q in the settings window asked nothing about the edited script";
    app->waitForFinished(500); // let it paint: the picture is for people, not for the test
    screenshot("settings-ctrl-q-question.png");
    ASSERT_TRUE(activate(*question));
    ASSERT_TRUE(xdotool({"key", "Tab", "Tab", "space"})); // Save, Cancel, Don't Save
    EXPECT_TRUE(app->waitForFinished(60000) && endedWell()) << "the application did not quit";
    EXPECT_EQ(scriptText(script), QStringLiteral("Good evening.\n")) << "Don't Save saved";
}

TEST_F(WindowKeysEndToEnd, CtrlWClosesTheRemoteControlWindow) {
    const std::optional<Window> editor = startEdited();
    ASSERT_TRUE(editor) << "no edited script window";
    // Cuewright ▸ Remote Control…: past New Script, Open…, Open Recent and Settings….
    ASSERT_TRUE(xdotool({"key", "--delay", "150", "alt+c", "Down", "Down", "Down", "Down", "Return"}));
    const std::optional<Window> remote = waitForNamed(*app, "Remote Control");
    ASSERT_TRUE(remote) << "the menu opened no Remote Control window";
    ASSERT_TRUE(activate(*remote));
    ASSERT_TRUE(xdotool({"key", "ctrl+w"}));
    EXPECT_TRUE(waitGone(*app, *remote)) << "Ctrl+W left the Remote Control window open";
    EXPECT_TRUE(activate(*editor));
    app->kill();
}

TEST_F(WindowKeysEndToEnd, CtrlWInTheStartWindowQuits) {
    app = &start({});
    // A start without a script opens a new one; once it is closed, the start window shows.
    const std::optional<Window> untitled = waitForWindow(*app, "Untitled");
    ASSERT_TRUE(untitled && activate(*untitled)) << "no new script window";
    ASSERT_TRUE(xdotool({"key", "ctrl+w"}));
    const std::optional<Window> startWindow = waitForAlert(*app); // named as the application
    ASSERT_TRUE(startWindow) << "no start window";
    ASSERT_TRUE(activate(*startWindow));
    ASSERT_TRUE(xdotool({"key", "ctrl+w"}));
    EXPECT_TRUE(app->waitForFinished(60000) && endedWell()) << "Ctrl+W left the start window open";
}

} // namespace

CW_END_TO_END_MAIN()

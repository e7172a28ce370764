// The real cuewright binary under a window manager, driven with xdotool: what marks a script
// edited, and what does not. Screenshots go to test-output/app/.
#include <gtest/gtest.h>

// Xlib's macros after gtest, which uses the same names.
#include "EndToEndSupport.h"

namespace fs = std::filesystem;
using namespace endtoend;

namespace {

class EditMarksEndToEnd : public AppTest {
public: // the table's steps reach in
    void SetUp() override {
        AppTest::SetUp();
        if (setUpDone()) {
            XAutoRepeatOff(display); // a loaded machine must not repeat a held key
            XFlush(display);
        }
    }

    // Starts the application on `script` and waits for its editor, active and unmarked.
    std::optional<Window> open(const fs::path& script) {
        app = &start({pathArg(script)});
        const std::optional<Window> editor = waitForNamed(*app, script.filename().string());
        EXPECT_TRUE(editor && activate(*editor)) << "no editor window for " << script;
        return editor;
    }
    // Clicks at `x`, `y` of the window's client area, counted from its top-right corner when `x`
    // is negative: the sidebar keeps its width whatever the window's.
    bool click(Window window, int x, int y) {
        const QRect client = rootGeometry(display, window);
        const int left = x < 0 ? client.right() + x : client.left() + x;
        return xdotool({"mousemove", QString::number(left), QString::number(client.top() + y), "click", "1"});
    }
    // Ctrl+Q: true when the application quit at once, asking nothing (nothing was edited).
    bool quitsUnasked(Window window) {
        if (!activate(window) || !xdotool({"key", "ctrl+q"})) {
            return false;
        }
        if (waitForAlert(*app)) {
            screenshot("edit-marks-asked-on-quit.png");
            return false;
        }
        // Waiting for the alert ends with the process when nothing asks.
        const bool ended = app->state() == QProcess::NotRunning || app->waitForFinished(60000);
        return ended && app->exitStatus() == QProcess::NormalExit && app->exitCode() == 0;
    }

    QProcess* app = nullptr;
};

// Running Time's seconds entered and left by a click, or walked through with Shift+Tab from the
// text (the stepper, seconds, minutes, hours and on), then the text clicked: the title stays
// unmarked, quitting asks nothing, and the script file, its speed with it, stays byte for byte.
TEST_F(EditMarksEndToEnd, RunningTimeEnteredAndLeftChangesNothing) {
    QString text;
    for (int i = 1; i <= 40; ++i) {
        text += QStringLiteral("Line number %1 of the script with some words\n").arg(i);
    }
    const struct {
        const char* way;
        std::function<bool(EditMarksEndToEnd&, Window)> enterAndLeave;
    } ways[] = {
        {"click",
         [](EditMarksEndToEnd& t, Window w) {
             // The seconds of Running Time, at the foot of the Script pane; then the text.
             return t.click(w, -222, 642) && t.click(w, 350, 350);
         }},
        {"tab",
         [](EditMarksEndToEnd& t, Window w) {
             return t.click(w, 350, 350) &&
                    xdotool({"key", "--delay", "100", "shift+Tab", "shift+Tab", "shift+Tab", "shift+Tab",
                             "shift+Tab", "shift+Tab"}) &&
                    t.click(w, 350, 350);
         }},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.way);
        const fs::path script = makeScript(std::string("marks-") + way.way + ".cwr", text);
        const std::string saved = fileBytes(script);
        const std::optional<Window> editor = open(script);
        ASSERT_TRUE(editor);
        ASSERT_TRUE(way.enterAndLeave(*this, *editor));
        screenshot(std::string("edit-marks-running-time-") + way.way + ".png");
        EXPECT_FALSE(findWindow(display, root, script.filename().string() + "*")) << "the title is marked";
        EXPECT_TRUE(quitsUnasked(*editor)) << "quitting asked about an edit";
        EXPECT_EQ(fileBytes(script), saved) << "the script file changed";
    }
}

// Ctrl+End, Ctrl+D in a script ending in a line break bookmarks its last line; Ctrl+Z takes it
// back and with it the edited mark; Ctrl+D and Ctrl+S save the bookmark on the last line. The
// script is in another font: Ctrl+A, then Reset beside Font in the Script pane is an edit like any
// font change, so the title is marked (the prompters and the recovery copy have the text) and the
// script saved is in the default font.
TEST_F(EditMarksEndToEnd, ABookmarkAfterTheLastLineBreakMarksTheLastLineAndUndoAndAFontResetAreEdits) {
    platform::Attributes serif;
    serif.font = platform::Font{QStringLiteral("DejaVu Serif"), 40, true, false};
    const fs::path script =
        makeScript("hello.cwr", platform::AttributedString(QStringLiteral("One.\nTwo.\n"), serif));
    const std::optional<Window> editor = open(script);
    ASSERT_TRUE(editor);
    ASSERT_TRUE(click(*editor, 350, 350));
    ASSERT_TRUE(xdotool({"key", "ctrl+End", "ctrl+d"}));
    ASSERT_TRUE(waitForNamed(*app, "hello.cwr*")) << "the bookmark did not mark the script edited";
    ASSERT_TRUE(xdotool({"key", "ctrl+z"}));
    EXPECT_TRUE(waitForNamed(*app, "hello.cwr")) << "undone to the saved text, the title stays marked";
    ASSERT_TRUE(xdotool({"key", "ctrl+End", "ctrl+d", "ctrl+s"}));
    std::vector<int> marked;
    ASSERT_TRUE(waitFor(*app, [&] { return !(marked = savedBookmarks(script)).empty(); }))
        << "no bookmark saved";
    EXPECT_EQ(marked, std::vector<int>{5}) << "not on the last line, \"Two.\"";
    screenshot("edit-marks-bookmark-last-line.png");

    ASSERT_TRUE(click(*editor, 350, 350) && xdotool({"key", "ctrl+a"}) && click(*editor, -28, 199));
    ASSERT_TRUE(waitForNamed(*app, "hello.cwr*")) << "the reset did not reach the script";
    screenshot("edit-marks-font-reset.png");
    ASSERT_TRUE(xdotool({"key", "ctrl+s"}) && waitForNamed(*app, "hello.cwr"));
    EXPECT_NE(cw::ScriptDocumentFile::open(script).text.attributes(0).font.value_or(*serif.font).family,
              serif.font->family);
    EXPECT_TRUE(quitsUnasked(*editor));
}

// Typing after an undo goes where the undone step was: after Ctrl+B, Ctrl+Z on the last word and
// after Ctrl+D, Ctrl+Z on line 21, both in the saved script.
TEST_F(EditMarksEndToEnd, TypingAfterAnUndoLandsAtTheUndoneChange) {
    QStringList lines;
    for (int i = 1; i <= 60; ++i) {
        lines << QStringLiteral("Line %1").arg(i);
    }
    const fs::path script = makeScript("undo.cwr", lines.join(u'\n'));
    const std::optional<Window> editor = open(script);
    ASSERT_TRUE(editor);
    ASSERT_TRUE(click(*editor, 350, 350));
    QStringList toLine21{"ctrl+Home"};
    for (int i = 1; i < 21; ++i) {
        toLine21 << "Down";
    }
    const struct {
        const char* step;
        QStringList keys; // then the letter is typed
        const char* letter;
        int line; // from 1
    } steps[] = {{"bold on the last word", {"ctrl+End", "ctrl+shift+Left", "ctrl+b", "ctrl+z"}, "q", 60},
                 {"a bookmark on line 21", toLine21 + QStringList{"ctrl+d", "ctrl+z"}, "j", 21}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.step);
        ASSERT_TRUE(
            xdotool(QStringList{"key", "--delay", "100"} + step.keys + QStringList{step.letter, "ctrl+s"}));
        QStringList saved;
        ASSERT_TRUE(waitFor(*app, [&] {
            saved = scriptText(script).split(u'\n');
            return saved.join(QString()).contains(QLatin1String(step.letter));
        })) << "nothing typed was saved";
        screenshot((std::string("edit-marks-undo-") + step.letter + ".png").c_str());
        ASSERT_EQ(saved.size(), lines.size());
        EXPECT_TRUE(saved[step.line - 1].contains(QLatin1String(step.letter)))
            << saved.join(u'|').toStdString();
    }
    EXPECT_TRUE(quitsUnasked(*editor));
}

} // namespace

CW_END_TO_END_MAIN()

// The real cuewright binary under a window manager, typed into with xdotool: typed text survives
// the session ending or killing the application, pipes named like documents are refused while it
// goes on, quitting ends the process, and a display's switch shows a prompter on the second X
// screen. Screenshots go to test-output/app/.
#include "cuewright/model/RecoveryStore.h"

#include <gtest/gtest.h>

// Xlib's macros after gtest, which uses the same names.
#include "EndToEndSupport.h"

#include <algorithm>
#include <csignal>

#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace endtoend;

namespace {

const QString savedText = QStringLiteral("The words of the sample as saved.");

bool holdsTyped(const QString& text, const QString& typed) {
    return sameCharacters(text, savedText + typed);
}

class SessionEndToEnd : public AppTest {
protected:
    bool dismissAlert(QProcess& app) {
        const std::optional<Window> alert = waitForAlert(app);
        return alert && activate(*alert) && xdotool({"key", "Return"}) &&
               waitFor(app, [&] { return !findWindow(display, root, isAlert).has_value(); });
    }
    static bool isAlert(const std::string& name) { return name == "Cuewright"; }

    // The recovery copies in the application's folder, as read now.
    std::vector<QString> copies() const {
        std::vector<QString> texts;
        std::error_code error;
        for (const auto& item :
             fs::directory_iterator(work / "data" / cw::RecoveryStore::folderName, error)) {
            if (item.path().extension() == ".cwr") {
                texts.push_back(scriptText(item.path()));
            }
        }
        return texts;
    }
    bool copyHolds(const QString& word) const {
        const std::vector<QString> texts = copies();
        return std::any_of(texts.begin(), texts.end(),
                           [&](const QString& text) { return holdsTyped(text, word); });
    }

    // Opens the script, types `word` into it and waits until the script counts as edited.
    QProcess& typeIntoScript(const fs::path& script, const QString& word) {
        QProcess& app = start({pathArg(script)});
        const std::string name = script.filename().string();
        const std::optional<Window> editor = waitForWindow(app, name);
        EXPECT_TRUE(editor) << "no editor window";
        if (editor) {
            EXPECT_TRUE(activate(*editor));
            EXPECT_TRUE(xdotool({"type", "--delay", "30", word}));
        }
        EXPECT_TRUE(waitForWindow(app, name + "*")) << "the typing did not mark the script edited";
        return app;
    }

    // Whether SIGTERM ends the application as a quit does, not killed by the signal.
    static bool quitsOnSigterm(QProcess& app) {
        ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
        return app.waitForFinished(60000) && app.exitStatus() == QProcess::NormalExit && app.exitCode() == 0;
    }

    // Whether X has the keyboard in `window` or a window inside it.
    bool hasKeyboard(Window window) {
        Window focus = 0, top = 0, parent = 0, *children = nullptr;
        int revert = 0;
        unsigned count = 0;
        XGetInputFocus(display, &focus, &revert);
        for (; focus > PointerRoot && focus != window &&
               XQueryTree(display, focus, &top, &parent, &children, &count);
             focus = parent) {
            XFree(children);
        }
        return focus == window;
    }

    // A new start shows the script edited, with messages that in turn take the `keys` answering
    // them, unclicked; the file is untouched until the user saves, and saving puts the typed word
    // in it and removes the copy.
    void expectTypedWordBack(const fs::path& script, const std::string& savedBytes, const QString& word,
                             const char* shot, const QStringList& keys = {"Return"}) {
        QProcess& app = start({pathArg(script)});
        const std::string name = script.filename().string();
        for (const QString& answer : keys) {
            const std::optional<Window> alert = waitForAlert(app);
            ASSERT_TRUE(alert && waitFor(app, [&] { return hasKeyboard(*alert); })) << answer.toStdString();
            screenshot(shot);
            ASSERT_TRUE(xdotool(QStringList{"key"} + answer.split(' ')) && waitGone(app, *alert));
        }
        const std::optional<Window> editor = waitForWindow(app, name + "*");
        ASSERT_TRUE(editor) << "the script is not shown as edited";
        EXPECT_EQ(fileBytes(script), savedBytes) << "the script's own file was written without a save";

        ASSERT_TRUE(activate(*editor) && xdotool({"key", "ctrl+s"}));
        EXPECT_TRUE(waitFor(app, [&] { return holdsTyped(scriptText(script), word); }))
            << "the brought-back text is not what was typed";
        EXPECT_TRUE(waitFor(app, [&] { return copies().empty(); })) << "the copy stayed after the save";
        EXPECT_TRUE(quit(app, *editor));
    }
};

TEST_F(SessionEndToEnd, TheSessionEndingQuitsAtOnceAndTheTypedTextComesBack) {
    const fs::path script = makeScript("sample.cwr", savedText);
    const std::string savedBytes = fileBytes(script);
    QProcess& app = typeIntoScript(script, "zebra");
    ASSERT_FALSE(HasFailure());
    ASSERT_TRUE(quitsOnSigterm(app));
    EXPECT_EQ(fileBytes(script), savedBytes);

    // A copy that cannot be read is asked about at the same start, after the brought-back edits.
    std::ofstream(work / "data" / cw::RecoveryStore::folderName / "0123abcd.cwr") << "not a script";
    expectTypedWordBack(script, savedBytes, "zebra", "session-sigterm-recovered.png",
                        {"Return", "Tab space"});
}

TEST_F(SessionEndToEnd, AKillSecondsAfterTypingLosesNothing) {
    const fs::path script = makeScript("sample.cwr", savedText);
    const std::string savedBytes = fileBytes(script);
    QProcess& app = typeIntoScript(script, "kiwi");
    ASSERT_FALSE(HasFailure());
    ASSERT_TRUE(waitFor(app, [&] { return copyHolds("kiwi"); })) << "no copy of the typed text was kept";

    app.kill();
    ASSERT_TRUE(app.waitForFinished(60000));
    EXPECT_EQ(fileBytes(script), savedBytes);

    expectTypedWordBack(script, savedBytes, "kiwi", "session-kill-recovered.png");
}

TEST_F(SessionEndToEnd, APipeNamedLikeADocumentIsRefusedAndTheApplicationGoesOn) {
    const std::string cwrPipe = (work / "pipe.cwr").string();
    const std::string pdfPipe = (work / "pipe.pdf").string();
    ASSERT_EQ(::mkfifo(cwrPipe.c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(pdfPipe.c_str(), 0600), 0);

    // The start goes on while the alert waits beside it: the text named after the pipe opens and
    // the remote control answers.
    enableRemote();
    std::ofstream(work / "talk.txt") << "Good evening.";
    QProcess& app = start({pathArg(cwrPipe), pathArg(work / "talk.txt")});
    ASSERT_TRUE(waitForAlert(app)) << "opening the pipe showed no error";
    EXPECT_TRUE(waitForWindow(app, "Untitled")) << "the text after the pipe waited for the alert";
    EXPECT_EQ(askStatus(waitForRemote(app).value_or(0))["filename"], "Untitled");
    app.waitForFinished(1000); // let it paint
    screenshot("session-pipe-refused.png");
    ASSERT_TRUE(dismissAlert(app));

    // A second start hands the other pipe over; the running one refuses it and still answers.
    QProcess& second = start({pathArg(pdfPipe)});
    ASSERT_TRUE(second.waitForFinished(60000));
    EXPECT_EQ(second.exitCode(), 0);
    ASSERT_TRUE(waitForAlert(app)) << "the handed-over pipe showed no error";
    ASSERT_TRUE(dismissAlert(app));

    const std::optional<Window> editor = waitForWindow(app, "Untitled");
    ASSERT_TRUE(editor);
    EXPECT_TRUE(quit(app, *editor)) << "the application stopped answering";
}

TEST_F(SessionEndToEnd, TheSessionEndingDuringAStartUpMessageQuitsToo) {
    const std::string cwrPipe = (work / "pipe.cwr").string();
    ASSERT_EQ(::mkfifo(cwrPipe.c_str(), 0600), 0);
    QProcess& app = start({pathArg(cwrPipe)});
    ASSERT_TRUE(waitForAlert(app)) << "opening the pipe showed no error";
    EXPECT_TRUE(quitsOnSigterm(app)) << "the signal ended the message but not the application";
}

// Quitting while a prompter window is open, after the close question is answered "Don't Save":
// every window goes and the process ends, the script's file as it was.
TEST_F(SessionEndToEnd, QuittingWithAPrompterOpenEndsAfterDontSave) {
    const fs::path script = makeScript("sample.cwr", savedText);
    const std::string savedBytes = fileBytes(script);
    QProcess& app = typeIntoScript(script, QStringLiteral("x"));
    const std::optional<Window> editor = waitForWindow(app, "sample.cwr");
    ASSERT_TRUE(editor);
    ASSERT_TRUE(activate(*editor) && xdotool({"key", "ctrl+shift+p"}));
    ASSERT_TRUE(waitForWindow(app, "Prompter Window")) << "Ctrl+Shift+P opened no prompter window";

    ASSERT_TRUE(activate(*editor) && xdotool({"key", "ctrl+q"}));
    const std::optional<Window> question = waitForAlert(app);
    ASSERT_TRUE(question) << "quitting asked nothing about the edited script";
    screenshot("quit-question.png");
    // Save, Cancel, Don't Save: the third button, reached from the default one.
    ASSERT_TRUE(activate(*question) && xdotool({"key", "Tab", "Tab", "space"}));
    EXPECT_TRUE(app.waitForFinished(60000)) << "the windows closed but the process did not end";
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_EQ(fileBytes(script), savedBytes) << "Don't Save wrote the script";
}

// The session ending while quitting asks about the edited script answers nothing: neither Save
// nor Don't Save, and the typed text comes back at the next start.
TEST_F(SessionEndToEnd, TheSessionEndingUnderTheQuitQuestionSavesAndDiscardsNothing) {
    const fs::path script = makeScript("sample.cwr", savedText);
    const std::string savedBytes = fileBytes(script);
    QProcess& app = typeIntoScript(script, "walrus");
    const std::optional<Window> editor = waitForWindow(app, "sample.cwr*");
    ASSERT_TRUE(editor);
    ASSERT_TRUE(activate(*editor) && xdotool({"key", "ctrl+q"}));
    ASSERT_TRUE(waitForAlert(app)) << "quitting asked nothing about the edited script";
    screenshot("quit-question-before-sigterm.png");

    ASSERT_TRUE(quitsOnSigterm(app)) << "SIGTERM under the question did not end the application";
    EXPECT_EQ(fileBytes(script), savedBytes) << "the signal answered Save";
    EXPECT_TRUE(copyHolds("walrus")) << "the signal answered Don't Save: no copy of the edits";

    expectTypedWordBack(script, savedBytes, "walrus", "session-quit-question-sigterm-recovered.png");
}

// Ticking the second display's row in the Displays pane shows a full-screen prompter there, as X
// sees it: mapped, viewable, the size of that screen.
TEST_F(SessionEndToEnd, ADisplaysSwitchShowsAPrompterOnTheSecondScreen) {
    if (ScreenCount(display) < 2) {
        GTEST_SKIP() << "the X server has " << ScreenCount(display) << " screen(s), not two";
    }
    const QSize second(DisplayWidth(display, 1), DisplayHeight(display, 1));
    const fs::path script = makeScript("sample.cwr", savedText);
    QProcess& app = start({pathArg(script)});
    const std::optional<Window> editor = waitForWindow(app, "sample.cwr");
    ASSERT_TRUE(editor);
    ASSERT_TRUE(activate(*editor) && xdotool({"key", "ctrl+alt+3"})); // the Displays pane
    app.waitForFinished(1000);                   // let it lay the rows out
    // The first row is the second screen's; its switch sits at the row's top left, a fixed way
    // in from the window's right edge (the sidebar keeps its width).
    const QRect client = rootGeometry(display, *editor);
    const QPoint box(client.right() - 275, client.top() + 124);
    ASSERT_TRUE(xdotool({"mousemove", QString::number(box.x()), QString::number(box.y()), "click", "1"}));
    std::optional<QSize> shown;
    EXPECT_TRUE(waitFor(app, [&] {
        return (shown = viewableOnScreen(display, 1, "Prompter Window")).has_value();
    })) << "no viewable prompter window on the second screen";
    screenshot("displays-pane-switched-on.png");
    if (shown) {
        EXPECT_EQ(*shown, second);
    }
    EXPECT_TRUE(quit(app, *editor));
}

} // namespace

CW_END_TO_END_MAIN()

// The real cuewright binary under a window manager, typed into with xdotool: steady typing is
// kept and comes back after a kill; a signal during Replace All keeps the text from before it; a
// Recovery folder that cannot be used is named in a notice
// line of the window (read back in pixels) and quitting on a signal then asks first; a second
// instance keeps its own copies, which the next start brings back. Screenshots go to
// test-output/app/.
#include "cuewright/editor/EditorWindowController.h"
#include "cuewright/model/RecoveryStore.h"

#include <gtest/gtest.h>

// Xlib's macros after gtest, which uses the same names.
#include "EndToEndSupport.h"

#include <csignal>
#include <map>

namespace fs = std::filesystem;
using namespace endtoend;

namespace {

const QString savedText = QStringLiteral("The words of the sample as saved.");

// Whether `text` is the saved text with the first characters of `typed` added, at least one.
bool holdsTypedStart(const QString& text, const QString& typed) {
    for (qsizetype count = 1; count <= typed.size(); ++count) {
        if (sameCharacters(text, savedText + typed.left(count))) {
            return true;
        }
    }
    return false;
}

class RecoveryEndToEnd : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        if (setUpDone()) {
            script = makeScript("sample.cwr", savedText);
        }
    }

    fs::path recoveryFolder() const { return work / "data" / cw::RecoveryStore::folderName; }

    QProcess& startApp(const std::optional<QProcessEnvironment>& env = {}) {
        return start({pathArg(script)}, env);
    }

    std::optional<Window> waitForEditor(QProcess& app, const std::string& title = "sample.cwr") {
        return waitForWindow(app, [&](const std::string& name) { return name.starts_with(title); });
    }
    // A window is shown before the activation its start asked for arrives; keys typed before
    // then may land in another script's window when the focus moves.
    bool waitActive(QProcess& app, Window window) {
        return waitFor(app, [&] { return activeWindow(display) == window; });
    }

    // Whether a copy under the Recovery folder (private ones included) holds some of `typed`.
    bool copyHoldsTyped(const QString& typed) const {
        std::error_code error;
        for (const auto& item : fs::recursive_directory_iterator(recoveryFolder(), error)) {
            if (item.path().extension() == ".cwr" && holdsTypedStart(scriptText(item.path()), typed)) {
                return true;
            }
        }
        return false;
    }

    // A new start brings the edits back with a message; saving puts them in the script.
    void expectTypedBack(const QString& typed, const char* shot) {
        QProcess& app = startApp();
        const std::optional<Window> alert = waitForAlert(app);
        ASSERT_TRUE(alert) << "no message about the brought-back edits";
        ASSERT_TRUE(activate(*alert) && xdotool({"key", "Return"}));
        const std::optional<Window> editor = waitForEditor(app, "sample.cwr*");
        ASSERT_TRUE(editor) << "the script is not shown as edited";
        screenshot(shot);
        ASSERT_TRUE(activate(*editor));
        ASSERT_TRUE(xdotool({"key", "ctrl+s"}));
        EXPECT_TRUE(waitFor(app, [&] { return holdsTypedStart(scriptText(script), typed); }))
            << "the brought-back text is not what was typed";
    }

    // How many pixels of the window, as the screen shows it, have the notice line's colour.
    int noticePixels(Window window) {
        return pixelsOfColor(display, window, cw::editor::EditorWindowController::noticeColor);
    }

    fs::path script;
};

// Keys 120 ms apart for 10 s never leave the editor the pause it waits for, yet a copy is
// written while the typing goes on, and what it kept comes back after a kill right after it.
TEST_F(RecoveryEndToEnd, SteadyTypingIsKeptAndComesBackAfterAKill) {
    const QString typed = QStringLiteral("steady typing never pauses long enough for the editor and yet "
                                         "all of it is kept in time");
    QProcess& app = startApp();
    const std::optional<Window> editor = waitForEditor(app);
    ASSERT_TRUE(editor);
    ASSERT_TRUE(activate(*editor));
    bool keptWhileTyping = false;
    for (const QChar key : typed) {
        pressKeys(display, {key == u' ' ? KeySym(XK_space) : KeySym(key.unicode())});
        app.waitForFinished(120); // the pace of the typing
        keptWhileTyping = keptWhileTyping || copyHoldsTyped(typed);
    }
    ASSERT_TRUE(keptWhileTyping) << "no copy was written while the typing went on";
    app.kill();
    ASSERT_TRUE(app.waitForFinished(60000));

    expectTypedBack(typed, "recovery-steady-typing-back.png");
}

// SIGTERM while Replace All goes on over 900,000 letters without a space: the quit keeps the
// script as it was before it (a letter typed), and the next start brings that back.
TEST_F(RecoveryEndToEnd, ASignalDuringReplaceAllKeepsTheTextFromBeforeIt) {
    const QString before = QStringLiteral("k") + QString(900000, u'x');
    const fs::path run = makeScript("run.cwr", before.mid(1));
    QProcess& app = start({pathArg(run)});
    const std::optional<Window> editor = waitForEditor(app, "run.cwr");
    noKeyRepeat();
    ASSERT_TRUE(editor && activate(*editor) && xdotool({"key", "ctrl+Home", "k"}) &&
                waitForEditor(app, "run.cwr*"));
    ASSERT_TRUE(xdotool({"key", "ctrl+h"}) && xdotool({"type", "--delay", "30", "x"}) &&
                xdotool({"key", "Tab"}) && xdotool({"type", "--delay", "30", "y"}) &&
                xdotool({"key", "--delay", "100", "Tab", "Tab", "space"}));
    ASSERT_TRUE(waitForNamed(app, "Replace All")) << "Replace All showed no progress";
    ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
    ASSERT_TRUE(app.waitForFinished(60000));

    QProcess& next = start({pathArg(run)});
    const std::optional<Window> alert = waitForAlert(next);
    ASSERT_TRUE(alert && activate(*alert) && xdotool({"key", "Return"})) << "nothing brought back";
    const std::optional<Window> back = waitForEditor(next, "run.cwr*");
    ASSERT_TRUE(back && activate(*back) && xdotool({"key", "ctrl+s"}));
    EXPECT_TRUE(waitFor(next, [&] { return scriptText(run) == before; })) << "not the text from before it";
}

// A Recovery folder that is a link to the user's documents: nothing there is touched, the
// window says that unsaved edits are not being kept, and every signal to quit asks before it
// ends, also one after an earlier question was cancelled.
TEST_F(RecoveryEndToEnd, ALinkedRecoveryFolderIsRefusedAndTheWindowSaysSo) {
    fs::create_directories(work / "Documents");
    std::ofstream(work / "Documents" / "letter.txt") << "a letter";
    std::ofstream(work / "Documents" / (cw::RecoveryStore::makeId() + ".cwr")) << "named like a copy";
    fs::create_directories(work / "data");
    fs::create_directory_symlink(work / "Documents", recoveryFolder());

    QProcess& app = startApp();
    const std::optional<Window> editor = waitForEditor(app);
    ASSERT_TRUE(editor);
    EXPECT_TRUE(waitFor(app, [&] { return noticePixels(*editor) > 5000; })) << "no notice line in the window";
    screenshot("recovery-linked-folder-notice.png");
    EXPECT_EQ(std::distance(fs::directory_iterator(work / "Documents"), fs::directory_iterator()), 2);
    EXPECT_EQ(fileBytes(work / "Documents" / "letter.txt"), "a letter");

    ASSERT_TRUE(activate(*editor));
    ASSERT_TRUE(xdotool({"type", "--delay", "30", "kiwi"}));
    ASSERT_TRUE(waitForEditor(app, "sample.cwr*"));
    // Each signal asks, also after an earlier question was cancelled and typing went on.
    for (const char* more : {"", " pear"}) {
        if (*more) {
            ASSERT_TRUE(activate(*editor));
            ASSERT_TRUE(xdotool({"type", "--delay", "30", more}));
        }
        ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
        const std::optional<Window> question = waitForAlert(app);
        ASSERT_TRUE(question) << "quit on the signal without asking about edits nobody keeps" << more;
        screenshot("recovery-linked-folder-signal-question.png");
        // Save, Cancel, Don't Save: Cancel is next to the default button.
        ASSERT_TRUE(activate(*question) && xdotool({"key", "Tab", "space"}));
        ASSERT_TRUE(waitGone(app, *question));
        EXPECT_EQ(app.state(), QProcess::Running);
    }
}

// Copies have room for small scripts only (a limit on file sizes stands for a nearly full disk):
// big.cwr's copy fails and small's is written, and the notice line stays in both windows; a
// signal then asks about big.cwr alone, whose edits no copy keeps.
TEST_F(RecoveryEndToEnd, AFailingCopyIsNoticedWhateverAnotherScriptsCopyDoes) {
    QString words;
    while (words.size() < 300000) {
        words += QStringLiteral("every line of the long script is read aloud\n");
    }
    const fs::path big = makeScript("big.cwr", words);
    QProcess& app = start({"-c", "trap '' XFSZ; exec prlimit --fsize=400000 -- \"$0\" \"$@\"", CW_APP_BINARY,
                           pathArg(big), pathArg(script)},
                          {}, QStringLiteral("/bin/sh"));
    const std::optional<Window> bigEditor = waitForEditor(app, "big.cwr");
    const std::optional<Window> smallEditor = waitForEditor(app);
    ASSERT_TRUE(bigEditor && smallEditor);
    ASSERT_TRUE(waitActive(app, *smallEditor)) << "the script opened last is not the active one";
    ASSERT_TRUE(activate(*bigEditor));
    ASSERT_TRUE(xdotool({"type", "--delay", "30", "kiwi"}));
    ASSERT_TRUE(waitForEditor(app, "big.cwr*")) << "the keys did not reach big.cwr";
    ASSERT_TRUE(waitFor(app, [&] { return noticePixels(*bigEditor) > 5000; })) << "big's copy did not fail";
    ASSERT_TRUE(activate(*smallEditor));
    ASSERT_TRUE(xdotool({"type", "--delay", "30", "pear"}));
    ASSERT_TRUE(waitForEditor(app, "sample.cwr*")) << "the keys did not reach sample.cwr";
    ASSERT_TRUE(waitFor(app, [&] { return copyHoldsTyped("pear"); })) << "small's copy was not written";
    screenshot("recovery-one-copy-fails.png");
    EXPECT_GT(noticePixels(*bigEditor), 5000) << "the notice went when another script's copy worked";
    EXPECT_GT(noticePixels(*smallEditor), 5000);

    ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
    const std::optional<Window> question = waitForAlert(app);
    ASSERT_TRUE(question) << "quit on the signal, and big's edits with it";
    Window over = 0;
    EXPECT_TRUE(XGetTransientForHint(display, *question, &over) && over == *bigEditor)
        << "the question is not about big.cwr";
    screenshot("recovery-one-copy-fails-question.png");
}

// Under `ulimit -f 200` (SIGXFSZ not ignored by the shell) a 300 KB script is edited: its copy
// cannot be written and the window says why; Save fails with an alert. The application runs on,
// and the script is as it was.
TEST_F(RecoveryEndToEnd, AFileSizeLimitFailsTheCopyAndTheSaveAndTheApplicationRunsOn) {
    QString words;
    for (int line = 0; words.size() < 300000; ++line) {
        words += QStringLiteral("line %1 of the long script is read aloud\n").arg(line);
    }
    const fs::path big = makeScript("big.cwr", words);
    const std::string before = fileBytes(big);
    QProcess& app = start({"-c", "ulimit -f 200 && exec \"$0\" \"$@\"", CW_APP_BINARY, pathArg(big)}, {},
                          QStringLiteral("/bin/sh"), {}, QProcess::SeparateChannels);
    const std::optional<Window> editor = waitForEditor(app, "big.cwr");
    ASSERT_TRUE(editor);
    ASSERT_TRUE(activate(*editor));
    ASSERT_TRUE(xdotool({"type", "--delay", "30", "kiwi"}));
    ASSERT_TRUE(waitForEditor(app, "big.cwr*")) << "the keys did not reach big.cwr";
    EXPECT_TRUE(waitFor(app, [&] { return noticePixels(*editor) > 5000; }))
        << "no notice of the failing copy";
    ASSERT_EQ(app.state(), QProcess::Running) << "ended by the limit, status " << app.exitCode();
    screenshot("recovery-file-size-limit-notice.png");

    ASSERT_TRUE(activate(*editor) && xdotool({"key", "ctrl+s"}));
    const std::optional<Window> alert = waitForAlert(app);
    ASSERT_TRUE(alert) << "no alert about the failed save; status " << app.exitCode();
    screenshot("recovery-file-size-limit-save-alert.png");
    ASSERT_TRUE(activate(*alert) && xdotool({"key", "Return"}));
    ASSERT_TRUE(waitGone(app, *alert));
    EXPECT_EQ(app.state(), QProcess::Running);
    EXPECT_EQ(fileBytes(big), before) << "the script changed";
    EXPECT_TRUE(waitForEditor(app, "big.cwr*")) << "the edits are no longer marked unsaved";
    const QByteArray said = app.readAllStandardError();
    EXPECT_TRUE(said.contains("the file is larger than this system allows")) << said.toStdString();
    for (const auto& item : fs::directory_iterator(work)) {
        EXPECT_FALSE(item.path().filename().string().starts_with(".cw-")) << "left " << item.path();
    }
}

// XDG_DATA_HOME on a shared folder where another user made Cuewright/Recovery open to all, with a
// script planted as a copy: the window says the folder is refused, nothing planted comes back,
// and nothing is written there.
TEST_F(RecoveryEndToEnd, ARecoveryFolderOfAnotherUsersIsRefusedAndLeftAlone) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to give folders to another user";
    }
    constexpr uid_t otherUser = 65534;
    const fs::path shared = work / "shared";
    const fs::path theirs = shared / "Cuewright" / cw::RecoveryStore::folderName;
    fs::create_directories(theirs);
    const cw::RecoveryStore::Entry planted{cw::RecoveryStore::makeId(), script.string(), "sample.cwr"};
    {
        const auto store = cw::RecoveryStore::open(theirs);
        ASSERT_TRUE(store);
        cw::Document document;
        document.text = platform::AttributedString(QStringLiteral("planted words"));
        store->write(planted, document, {});
    }
    for (const fs::path& folder : {shared, shared / "Cuewright", theirs}) {
        ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
    }
    for (const auto& item : fs::recursive_directory_iterator(shared / "Cuewright")) {
        ASSERT_EQ(::lchown(item.path().c_str(), otherUser, otherUser), 0);
    }
    ASSERT_EQ(::chown((shared / "Cuewright").c_str(), otherUser, otherUser), 0);
    const auto listing = [&] {
        std::map<std::string, std::string> files;
        for (const auto& item : fs::recursive_directory_iterator(shared)) {
            files[item.path().string()] = item.is_regular_file() ? fileBytes(item.path()) : "folder";
        }
        return files;
    };
    const auto before = listing();

    QProcessEnvironment env = environment;
    env.remove("CUEWRIGHT_DATA_DIR");
    env.insert("XDG_DATA_HOME", pathArg(shared));
    QProcess& app = startApp(env);
    const std::optional<Window> editor = waitForEditor(app);
    ASSERT_TRUE(editor);
    EXPECT_EQ(scriptText(script), savedText);
    ASSERT_TRUE(activate(*editor));
    ASSERT_TRUE(xdotool({"type", "--delay", "30", "kiwi"}));
    ASSERT_TRUE(waitForEditor(app, "sample.cwr*")) << "the keys did not reach the script";
    EXPECT_TRUE(waitFor(app, [&] { return noticePixels(*editor) > 5000; })) << "no notice line in the window";
    screenshot("recovery-other-users-folder-notice.png");
    EXPECT_FALSE(findWindow(display, root, [](const std::string& name) { return name == "Cuewright"; }))
        << "an alert: something was brought back";
    EXPECT_EQ(listing(), before) << "the other user's folder was changed";
}

// Two instances on one data folder: the second keeps its own copies, and after it is killed and
// the first has quit, the next start brings its edits back.
TEST_F(RecoveryEndToEnd, ASecondInstanceKeepsItsOwnCopiesForTheNextStart) {
    const fs::path other = work / "other.cwr";
    fs::copy_file(script, other);
    QProcess& first = start({pathArg(other)});
    const std::optional<Window> firstEditor = waitForEditor(first, "other.cwr");
    ASSERT_TRUE(firstEditor && waitActive(first, *firstEditor));

    QProcessEnvironment secondEnvironment = environment;
    secondEnvironment.insert("CUEWRIGHT_INSTANCE_NAME",
                             environment.value("CUEWRIGHT_INSTANCE_NAME") + "-second");
    QProcess& second = startApp(secondEnvironment);
    const std::optional<Window> editor = waitForEditor(second);
    ASSERT_TRUE(editor);
    ASSERT_TRUE(activate(*editor));
    ASSERT_TRUE(xdotool({"type", "--delay", "30", "kiwi"}));
    ASSERT_TRUE(waitFor(second, [&] { return copyHoldsTyped("kiwi"); }))
        << "the second instance kept no copy";
    EXPECT_EQ(noticePixels(*editor), 0) << "the copies are kept: nothing to warn of";
    second.kill();
    ASSERT_TRUE(second.waitForFinished(60000));
    ASSERT_TRUE(quit(first, *firstEditor));

    expectTypedBack("kiwi", "recovery-second-instance-back.png");
}

} // namespace

CW_END_TO_END_MAIN()

// The real cuewright binary under a window manager, saving as a person does: a script that
// another writer changed on disk since it was opened is not overwritten without a question, and
// file names whose bytes are not UTF-8 open, save and stay in the recent list; Save As never
// writes over a script another window or another copy shows. Screenshots go to test-output/app/.
#include "cuewright/app/RecentDocuments.h"

#include <gtest/gtest.h>

// Xlib's macros after gtest, which uses the same names.
#include "EndToEndSupport.h"

namespace fs = std::filesystem;
using namespace endtoend;

namespace {

class SaveEndToEnd : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        if (setUpDone()) {
            // A loaded machine can hold a key down long enough for the server to repeat it (a
            // second Ctrl+S, a run of spaces): a person's keys do not repeat unasked.
            XAutoRepeatOff(display);
            XFlush(display);
        }
    }

    // Runs the binary on `files` through the shell, so that their names reach it byte for byte
    // (QProcess would pass them as UTF-8).
    void startOn(const std::vector<fs::path>& files) {
        QString command = QStringLiteral("exec \"$0\"");
        for (const fs::path& file : files) {
            QString octal;
            for (const unsigned char c : file.string()) {
                octal += QStringLiteral("\\%1").arg(int(c), 3, 8, QChar('0'));
            }
            command += QStringLiteral(" \"$(printf '%1')\"").arg(octal);
        }
        app = &start({QStringLiteral("-c"), command, QStringLiteral(CW_APP_BINARY)}, {},
                     QStringLiteral("/bin/sh"));
    }

    static bool isAlert(const std::string& name) { return name == "Cuewright"; }
    bool alertShown() { return findWindow(display, root, isAlert).has_value(); }

    // Types into the editor named `name` and waits until the script counts as edited.
    std::optional<Window> typeInto(const std::string& name, const QString& word) {
        const std::optional<Window> editor = waitForWindow(*app, name);
        EXPECT_TRUE(editor) << "no editor window for " << name;
        if (!editor || !activate(*editor) || !xdotool({"type", "--delay", "30", word})) {
            return std::nullopt;
        }
        EXPECT_TRUE(waitForWindow(*app, name + "*")) << "the typing did not mark the script edited";
        return editor;
    }

    // Documents under a home of the test's own: where a new script's save panel opens.
    fs::path useOwnHome() {
        environment.insert("HOME", pathArg(work / "home"));
        fs::create_directories(work / "home" / "Documents");
        return work / "home" / "Documents";
    }

    // Presses `keys` in `editor` and waits for the save panel they open, active.
    std::optional<Window> openPanel(Window editor, const QString& keys) {
        if (!activate(editor) || !xdotool({"key", keys})) {
            return std::nullopt;
        }
        const std::optional<Window> panel = waitForWindow(*app, keys == "ctrl+e" ? "Export" : "Save As");
        EXPECT_TRUE(panel) << keys.toStdString() << " opened no save panel";
        return panel && activate(*panel) ? panel : std::nullopt;
    }
    // Types `name` into the active panel's name field in place of what is there, then Return.
    static bool typeName(const QString& name) {
        return xdotool({"key", "ctrl+a"}) && xdotool({"type", "--delay", "30", name}) &&
               xdotool({"key", "Return"});
    }
    bool panelShown() { return findWindow(display, root, "Save As").has_value(); }

    // Types into a new script, then types `name` into its Save As panel: an alert must come
    // (pictured as `shot`), Return on it must go back to the panel, and Escape closes that.
    void saveAsAskedThenCancelled(const QString& name, const char* shot) {
        const std::optional<Window> editor = typeInto("Untitled", QStringLiteral("new "));
        ASSERT_TRUE(editor);
        const std::optional<Window> panel = openPanel(*editor, "ctrl+shift+s");
        ASSERT_TRUE(panel);
        ASSERT_TRUE(typeName(name));
        const std::optional<Window> alert = waitForAlert(*app);
        ASSERT_TRUE(alert) << "nothing was asked about " << name.toStdString();
        app->waitForFinished(500); // let it paint: the picture is for people, not for the test
        screenshot(shot);
        ASSERT_TRUE(activate(*alert) && xdotool({"key", "Return"}));
        ASSERT_TRUE(waitGone(*app, *alert));
        ASSERT_TRUE(panelShown()) << "the alert did not go back to the panel";
        ASSERT_TRUE(activate(*panel) && xdotool({"key", "Escape"}));
        ASSERT_TRUE(waitGone(*app, *panel));
    }

    QProcess* app = nullptr;
};

// As when a stopped instance resumes with a script that another instance saved meanwhile: Ctrl+S
// asks before overwriting, Return (Cancel) keeps the other writer's file, "Save Anyway" writes
// ours, and the next save, with nothing changed on disk in between, asks nothing.
TEST_F(SaveEndToEnd, ASaveOverAScriptChangedOnDiskAsksFirst) {
    const QString saved = QStringLiteral("Saved by both windows.");
    const fs::path script = makeScript("two.cwr", saved);
    startOn({script});
    const std::optional<Window> editor = typeInto("two.cwr", QStringLiteral("mine "));
    ASSERT_TRUE(editor);
    const QString theirs = QStringLiteral("Written by the other window.");
    makeScript("two.cwr", theirs); // as another program or window writes it: a new file in its place

    ASSERT_TRUE(activate(*editor) && xdotool({"key", "ctrl+s"}));
    std::optional<Window> question = waitForAlert(*app);
    ASSERT_TRUE(question) << "the save asked nothing";
    app->waitForFinished(500); // let it paint: the picture is for people, not for the test
    screenshot("save-changed-on-disk.png");
    EXPECT_EQ(scriptText(script), theirs);
    ASSERT_TRUE(activate(*question) && xdotool({"key", "Return"}));
    ASSERT_TRUE(waitFor(*app, [&] { return !alertShown(); }));
    EXPECT_EQ(scriptText(script), theirs) << "Cancel overwrote the other writer's script";
    EXPECT_TRUE(findWindow(display, root, "two.cwr*")) << "the edits no longer count as unsaved";

    ASSERT_TRUE(activate(*editor) && xdotool({"key", "ctrl+s"}));
    question = waitForAlert(*app);
    ASSERT_TRUE(question) << "the second save asked nothing";
    ASSERT_TRUE(activate(*question));
    // Cancel, Save Anyway: the second button, reached from the default one.
    ASSERT_TRUE(xdotool({"key", "Tab", "space"}));
    EXPECT_TRUE(waitFor(*app, [&] { return sameCharacters(scriptText(script), saved + "mine "); }))
        << "Save Anyway did not write the script";

    ASSERT_TRUE(typeInto("two.cwr", QStringLiteral("again ")));
    ASSERT_TRUE(activate(*editor) && xdotool({"key", "ctrl+s"}));
    EXPECT_TRUE(waitFor(*app, [&] { return sameCharacters(scriptText(script), saved + "mine again "); }))
        << "a save over our own last save was held up";
    EXPECT_TRUE(quit(*app, *editor));
}

// Names as a Latin-1 system writes them: the script and the text open from the command line, the
// script saves under its own name (no second file beside it) and stays in the recent list.
TEST_F(SaveEndToEnd, FileNamesThatAreNotUtf8OpenAndSaveUnderTheirOwnBytes) {
    const QString saved = QStringLiteral("Caf\u00e9 words.");
    const fs::path script = makeScript("caf\xe9.cwr", saved);
    const fs::path text = work / "na\xefve.txt";
    std::ofstream(text) << "Na\xc3\xafve words.";
    startOn({script, text});
    const std::optional<Window> untitled = waitForWindow(*app, "Untitled");
    ASSERT_TRUE(untitled) << "the text did not open";
    // Opened last, the text's window takes the focus once it is drawn, which can be after it shows:
    // typing into the script waits for that, lest the focus move away under the keys.
    ASSERT_TRUE(waitFor(*app, [&] { return activeWindow(display) == *untitled; }))
        << "the last window opened did not become the active one";
    const std::optional<Window> editor = typeInto("caf\xef\xbf\xbd.cwr", QStringLiteral("more "));
    ASSERT_TRUE(editor);
    EXPECT_FALSE(alertShown()) << "an error was shown";
    screenshot("save-latin1-names.png");

    ASSERT_TRUE(activate(*editor) && xdotool({"key", "ctrl+s"}));
    EXPECT_TRUE(waitFor(*app, [&] { return sameCharacters(scriptText(script), saved + "more "); }))
        << "the script was not saved under its name";
    EXPECT_FALSE(fs::exists(work / "caf\xef\xbf\xbd.cwr")) << "saved beside it under another name";
    EXPECT_TRUE(quit(*app, *editor));

    platform::Defaults defaults({work / "defaults.json", std::chrono::hours(1), {}});
    const std::vector<std::string> recent = cw::RecentDocuments(defaults).paths();
    EXPECT_NE(std::find(recent.begin(), recent.end(), fs::canonical(script).string()), recent.end())
        << "the script is not among the recent documents";
}

// A script whose path is 700 bytes long, past SQLite's own limit on names: it opens, and Ctrl+S
// saves it where it is.
TEST_F(SaveEndToEnd, AScriptInADeepFolderOpensAndSaves) {
    const QString saved = QStringLiteral("Read from deep down.");
    const fs::path shallow = makeScript("deep.cwr", saved);
    fs::path folder = work;
    while (folder.string().size() < 700 - 9 - 100) {
        folder /= std::string(90, 'd');
    }
    folder /= std::string(700 - 9 - 1 - folder.string().size(), 'e');
    fs::create_directories(folder);
    const fs::path script = folder / "deep.cwr";
    ASSERT_EQ(script.string().size(), 700u);
    fs::rename(shallow, script);
    // Read through a short name, whatever the reader does with long ones.
    const auto savedText = [&] {
        std::error_code error;
        fs::copy_file(script, work / "read.cwr", fs::copy_options::overwrite_existing, error);
        return error ? QString() : scriptText(work / "read.cwr");
    };

    startOn({script});
    const std::optional<Window> editor = typeInto("deep.cwr", QStringLiteral("kept "));
    ASSERT_TRUE(editor) << "the script did not open";
    screenshot("save-deep-folder.png");
    ASSERT_TRUE(activate(*editor) && xdotool({"key", "ctrl+s"}));
    EXPECT_TRUE(waitFor(*app, [&] { return sameCharacters(savedText(), saved + "kept "); }))
        << "the typing was not saved";
    EXPECT_FALSE(alertShown());
}

// A name typed without its extension names the file really written: the panel asks before
// replacing it, and Return (Cancel) goes back to the panel with the file byte for byte as it was.
TEST_F(SaveEndToEnd, SaveAsAsksAboutTheFileReallyWritten) {
    const fs::path documents = useOwnHome();
    const fs::path precious = makeScript("home/Documents/precious.cwr", QStringLiteral("Precious words."));
    const std::string bytes = fileBytes(precious);
    startOn({});
    ASSERT_NO_FATAL_FAILURE(saveAsAskedThenCancelled("precious", "save-as-replace-question.png"));
    EXPECT_EQ(fileBytes(precious), bytes) << "precious.cwr changed";
    EXPECT_TRUE(findWindow(display, root, "Untitled*")) << "the new script no longer counts as unsaved";
    EXPECT_EQ(std::distance(fs::directory_iterator(documents), fs::directory_iterator()), 1)
        << "something was written beside it";
}

// One script, one window, one copy: Save As onto the file another window shows, or another copy
// (one that does not hand over to this one), is refused with an alert saying so, the panel stays
// open, and neither the file nor the other window changes.
TEST_F(SaveEndToEnd, SaveAsOntoAScriptOpenInAnotherWindowOrCopyIsRefused) {
    useOwnHome();
    setDefault(cw::settings::startupMode, "CreateNewDocument");
    const fs::path shown = makeScript("home/Documents/a.cwr", QStringLiteral("Shown words."));
    const fs::path shownApart = makeScript("home/Documents/b.cwr", QStringLiteral("Words shown apart."));
    const std::string bytes = fileBytes(shown) + fileBytes(shownApart);
    QProcessEnvironment apart = environment;
    apart.insert("CUEWRIGHT_INSTANCE_NAME", "cuewright-apart-" + QUuid::createUuid().toString(QUuid::Id128));
    ASSERT_TRUE(waitForNamed(start({pathArg(shownApart)}, apart), "b.cwr"));
    app = &start({pathArg(shown)}, {}, QStringLiteral(CW_APP_BINARY), {}, QProcess::MergedChannels);
    ASSERT_TRUE(typeInto("a.cwr", QStringLiteral("edited ")) && xdotool({"key", "ctrl+n"}));
    ASSERT_NO_FATAL_FAILURE(saveAsAskedThenCancelled("a.cwr", "save-as-open-elsewhere.png"));
    ASSERT_NO_FATAL_FAILURE(saveAsAskedThenCancelled("b.cwr", "save-as-open-in-another-copy.png"));
    EXPECT_EQ(fileBytes(shown) + fileBytes(shownApart), bytes) << "a.cwr or b.cwr was written";
    EXPECT_TRUE(findWindow(display, root, "Untitled*")) << "the new script took the other's file";
    EXPECT_TRUE(findWindow(display, root, "a.cwr*")) << "the other window changed";
    EXPECT_TRUE(app->readAll().contains("b.cwr: another copy shows it")) << "asked, but not why";
}

// After an export, Save of a new script offers the script format: typing a name writes a script
// under it, which becomes the window's own; the export went where it was asked.
TEST_F(SaveEndToEnd, SaveAfterAnExportWritesAScript) {
    const fs::path documents = useOwnHome();
    setDefault(cw::settings::selectedExportFileTypeIndex, 3); // DOCX, as after an earlier export
    startOn({});
    const std::optional<Window> editor = typeInto("Untitled", QStringLiteral("talk "));
    ASSERT_TRUE(editor);
    std::optional<Window> panel = openPanel(*editor, "ctrl+e");
    ASSERT_TRUE(panel);
    ASSERT_TRUE(typeName("talk"));
    ASSERT_TRUE(waitGone(*app, *panel));
    EXPECT_TRUE(waitFor(*app, [&] { return fs::exists(documents / "talk.docx"); })) << "no export";

    panel = openPanel(*editor, "ctrl+s");
    ASSERT_TRUE(panel);
    ASSERT_TRUE(typeName("newtalk"));
    EXPECT_TRUE(waitFor(*app, [&] { return sameCharacters(scriptText(documents / "newtalk.cwr"), "talk "); }))
        << "Save wrote no script";
    EXPECT_FALSE(fs::exists(documents / "newtalk.docx"));
    EXPECT_TRUE(waitForWindow(*app, [](const std::string& n) {
        return n.find("newtalk.cwr") != std::string::npos && n.find('*') == std::string::npos;
    })) << "the window is not the saved script's";
    EXPECT_TRUE(quit(*app, *editor));
}

// A script edited while the quit question is up about another is asked about before the quit goes
// on: Don't Save for the first brings the second's question, whose Cancel keeps the application.
TEST_F(SaveEndToEnd, AScriptEditedWhileTheQuitQuestionIsUpIsAskedAbout) {
    const fs::path first = makeScript("first.cwr", QStringLiteral("First words."));
    const fs::path second = makeScript("second.cwr", QStringLiteral("Second words."));
    const std::string secondBytes = fileBytes(second);
    startOn({first, second});
    const std::optional<Window> last = waitForWindow(*app, "second.cwr");
    ASSERT_TRUE(last);
    // Opened last, it takes the focus once drawn: typing elsewhere waits for that.
    ASSERT_TRUE(waitFor(*app, [&] { return activeWindow(display) == *last; }));
    const std::optional<Window> editor = typeInto("first.cwr", QStringLiteral("edited "));
    ASSERT_TRUE(editor);
    ASSERT_TRUE(xdotool({"key", "ctrl+q"}));
    const std::optional<Window> question = waitForAlert(*app);
    ASSERT_TRUE(question) << "quitting asked nothing about the edited script";
    ASSERT_TRUE(typeInto("second.cwr", QStringLiteral("meanwhile ")));
    // Save, Cancel, Don't Save: the third button, reached from the default one.
    ASSERT_TRUE(activate(*question) && xdotool({"key", "Tab", "Tab", "space"}));
    ASSERT_TRUE(waitGone(*app, *question));
    const std::optional<Window> next = waitForAlert(*app);
    ASSERT_TRUE(next) << "the script edited meanwhile was not asked about";
    ASSERT_TRUE(activate(*next) && xdotool({"key", "Escape"})); // Cancel
    ASSERT_TRUE(waitGone(*app, *next));
    EXPECT_EQ(app->state(), QProcess::Running);
    EXPECT_TRUE(findWindow(display, root, "second.cwr*")) << "the edits made meanwhile are gone";
    EXPECT_FALSE(findWindow(display, root, "first.cwr")) << "Don't Save kept the first window";
    EXPECT_EQ(fileBytes(second), secondBytes);
}

// The frame's close button, Ctrl+W or Ctrl+Q twice during a paste of seconds: one question once it is
// in, over the window; after its Cancel the window takes keys (a second question would hold them).
TEST_F(SaveEndToEnd, CloseOrQuitDuringALongPasteAsksOnceWhenItIsIn) {
    std::ofstream(work / "lines.txt") << QStringLiteral("A line\n").repeated(1000000).toStdString();
    for (const QString keys : {"", "ctrl+w", "ctrl+q"}) {
        const fs::path script = makeScript("long.cwr", QStringLiteral("Heading"));
        ASSERT_TRUE(runTool("xclip", {"-selection", "clipboard", "-i", pathArg(work / "lines.txt")}));
        startOn({script});
        const std::optional<Window> editor = waitForNamed(*app, "long.cwr");
        ASSERT_TRUE(editor && activate(*editor) && xdotool({"key", "ctrl+End", "ctrl+v"}));
        const std::optional<Window> paste = waitForNamed(*app, "Paste");
        const QRect frame = rootGeometry(display, *editor); // its close button 10 px out of the corner
        const QStringList click{"mousemove", QString::number(frame.right() - 10),
                                QString::number(frame.top() - 11), "click", "1"};
        const QStringList request = keys.isEmpty() ? click : QStringList{"key", keys};
        ASSERT_TRUE(paste && (keys.isEmpty() || activate(*paste)) && xdotool(request) && xdotool(request));
        const std::optional<Window> question = waitForAlert(*app);
        ASSERT_TRUE(question && !findWindow(display, root, "Paste") &&
                    viewableOnScreen(display, 0, "long.cwr") && activate(*question) &&
                    xdotool({"key", "Escape"}) && waitGone(*app, *question) && activate(*editor) &&
                    xdotool({"key", "ctrl+s"}))
            << keys.toStdString();
        EXPECT_TRUE(waitFor(*app, [&] { return scriptText(script).count(u'\n') == 1000000; }));
        EXPECT_TRUE(quit(*app, *editor));
    }
}

} // namespace

CW_END_TO_END_MAIN()

// The real cuewright binary on a real X server: it opens a script in an editor window, a prompter
// window comes from the menu's shortcut, plays, and the application quits; key bindings on menu
// letters act in the editor. Each step leaves a screenshot under test-output/app/. Keys go in
// through XTest, as a user's would.
#include "cuewright/model/KeyBindings.h"
#include "platform/keys/KeyEvent.h"

#include "support/OtherUserListener.h"

#include <gtest/gtest.h>

// Xlib's macros after gtest, which uses the same names.
#include "EndToEndSupport.h"

#include <QFile>

#include <X11/keysym.h>

namespace fs = std::filesystem;
using namespace endtoend;

namespace {

// How many pixels differ between two pictures of the same size.
int differingPixels(const QImage& a, const QImage& b) {
    int count = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            count += a.pixel(x, y) != b.pixel(x, y);
        }
    }
    return count;
}

// No window manager here: focus and keys go through XTest alone.
class EndToEnd : public AppTest {
protected:
    EndToEnd()
        : AppTest(/*usesXdotool=*/false) {}

    void SetUp() override {
        AppTest::SetUp();
        if (!setUpDone()) {
            return;
        }
        QString text;
        for (int i = 1; i <= 60; ++i) {
            text += QStringLiteral("Line %1 of the sample script, read aloud at an even pace.\n").arg(i);
        }
        script = makeScript("sample.cwr", text);
        reader.emplace(platform::Defaults::Options{work / "reader-defaults.json", std::chrono::hours(1), {}});
        cw::registerUserDefaults(*reader);
    }

    // The script as its file holds it now; none while it is being written.
    std::shared_ptr<cw::Project> saved() {
        try {
            auto project = cw::Project::create(*reader);
            project->loadDocument(script.string());
            return project;
        } catch (...) {
            return nullptr;
        }
    }

    // Starts the application on the script and waits for its editor window.
    std::optional<Window> openEditor() {
        app = &start({pathArg(script)});
        return waitForWindow(*app, "sample");
    }

    // Quits with Ctrl+Q from `window`; false when the application did not end by itself.
    bool quitFrom(Window window) {
        XSetInputFocus(display, window, RevertToParent, CurrentTime);
        pressKeys(display, {XK_Control_L, XK_Q});
        return app->waitForFinished(60000);
    }

    fs::path script;
    std::optional<platform::Defaults> reader;
    QProcess* app = nullptr;
};

TEST_F(EndToEnd, AStartOpensItsWindowThoughAnotherUserListensUnderItsName) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to listen as another user";
    std::ofstream(work / "note.txt") << "Good evening.\n";
    // Another user took the instance name in the temporary folder, where it used to be looked for:
    // one the other user may write in, and a short name, so that the socket fits however long the
    // test's own temporary folder is.
    const testsupport::SharedFolder temporary;
    QProcessEnvironment env = environment;
    const QString name = QStringLiteral("cw-%1").arg(::getpid());
    env.insert("TMPDIR", QString::fromStdString(temporary.path.string()));
    env.insert("CUEWRIGHT_INSTANCE_NAME", name);
    const testsupport::OtherUserListener squatter(temporary / name.toStdString());
    ASSERT_TRUE(squatter.listening());
    QProcess& app = start({pathArg(work / "note.txt")}, env);
    EXPECT_TRUE(waitForWindow(app, "Untitled"))
        << "no editor window: the start handed its file to the other user's listener and ended";
}

// An empty argument (a script's unset variable) names no file: the script after it opens with no
// alert about a document without a name before it.
TEST_F(EndToEnd, AnEmptyArgumentIsIgnored) {
    QProcess& app = start({QString(), pathArg(script)});
    const std::optional<Window> first = waitForWindow(
        app, [](const std::string& name) { return name == "Cuewright" || name.starts_with("sample.cwr"); });
    ASSERT_TRUE(first);
    EXPECT_NE(windowName(display, *first), "Cuewright") << "an alert about the empty argument";
}

TEST_F(EndToEnd, OpenPromptPlayAndQuit) {
    int event = 0, error = 0, major = 0, minor = 0;
    ASSERT_TRUE(XTestQueryExtension(display, &event, &error, &major, &minor));
    const std::optional<Window> editor = openEditor();
    ASSERT_TRUE(editor) << "no editor window";
    app->waitForFinished(1000); // let it paint
    screenshot("1-editor.png");

    // Ctrl+D puts a bookmark on the editor's line; Ctrl+S saves it into the script's file.
    XSetInputFocus(display, *editor, RevertToParent, CurrentTime);
    pressKeys(display, {XK_Control_L, XK_D});
    pressKeys(display, {XK_Control_L, XK_S});
    EXPECT_TRUE(waitFor(*app, [&] {
        const auto project = saved();
        return project && project->bookmarks().size() == 1;
    })) << "Ctrl+D and Ctrl+S saved no bookmark";
    screenshot("1b-bookmarked.png");

    pressKeys(display, {XK_Control_L, XK_Shift_L, XK_P});
    const std::optional<Window> prompter = waitForWindow(*app, "Prompter Window");
    ASSERT_TRUE(prompter) << "Ctrl+Shift+P opened no prompter window";
    // Side by side, as on the README's first page (no window manager: the windows go where told).
    const QRect editorFrame(0, 0, 940, 620), prompterFrame(950, 0, 600, 620);
    XMoveResizeWindow(display, *editor, editorFrame.x(), editorFrame.y(), editorFrame.width(),
                      editorFrame.height());
    XMoveResizeWindow(display, *prompter, prompterFrame.x(), prompterFrame.y(), prompterFrame.width(),
                      prompterFrame.height());
    XSync(display, False);
    app->waitForFinished(1000);
    const QImage before = screenshot("2-prompter.png");

    XSetInputFocus(display, *prompter, RevertToParent, CurrentTime);
    pressKeys(display, {XK_space});
    app->waitForFinished(2000); // two seconds of playing
    const QImage playing = screenshot("3-playing.png");
    playing.copy(editorFrame.united(prompterFrame))
        .save(QString::fromStdString((outputDir() / "readme.png").string()));
    EXPECT_GT(differingPixels(before, playing), 0) << "the script did not move";
    pressKeys(display, {XK_space});

    const bool quit = quitFrom(*editor);
    screenshot("4-after-quit.png");
    EXPECT_TRUE(quit) << "Ctrl+Q did not quit";
    EXPECT_EQ(app->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app->exitCode(), 0);
}

// Bindings on Alt+P and Alt+F, the letters of the Prompter and File menus, act in the editor
// instead of opening the menus: two speed steps up and one down, then Ctrl+S saves the script with
// the new speed.
TEST_F(EndToEnd, AltBindingsWinOverMenuLetters) {
    namespace kc = platform::keycode;
    cw::KeyBindings bindings;
    bindings.incSpeed = cw::KeyBindings::Key{kc::p, platform::modifier::option};
    bindings.decSpeed = cw::KeyBindings::Key{kc::f, platform::modifier::option};
    setDefault(cw::settings::customKeyBindings, bindings.storedValue());
    const auto speedOfFile = [&] {
        const auto project = saved();
        return project ? project->document().speedProperties.scrollSpeedPerc : -1.0;
    };
    const double before = speedOfFile();
    ASSERT_GE(before, 0);

    const std::optional<Window> editor = openEditor();
    ASSERT_TRUE(editor) << "no editor window";
    XSetInputFocus(display, *editor, RevertToParent, CurrentTime);
    for (KeySym key : {XK_P, XK_P, XK_F}) {
        pressKeys(display, {XK_Alt_L, key});
    }
    pressKeys(display, {XK_Control_L, XK_S});
    EXPECT_TRUE(waitFor(*app, [&] { return speedOfFile() == before + 5; }))
        << "the bindings did not act, or a menu took the keys: " << speedOfFile() << " after " << before;
    screenshot("alt-bindings.png");
    EXPECT_TRUE(quitFrom(*editor)) << "Ctrl+Q did not quit";
}

} // namespace

CW_END_TO_END_MAIN()

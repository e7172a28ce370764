// The real cuewright binary on a real X server: it opens a script in an editor window, a prompter
// window comes from the menu's shortcut, plays, and the application quits; key bindings on menu
// letters act in the editor. Each step leaves a screenshot under test-output/app/. Keys go in
// through XTest, as a user's would.
#include "cuewright/model/KeyBindings.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/model/UserDefaults.h"
#include "cuewright/model/Workspace.h"
#include "platform/defaults/Defaults.h"
#include "platform/keys/KeyEvent.h"

#include "support/OtherUserListener.h"

#include <gtest/gtest.h>

// Xlib's macros after gtest, which uses the same names.
#include "EndToEndSupport.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QThread>
#include <QUuid>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>

namespace fs = std::filesystem;

namespace {

using endtoend::findWindow;
using endtoend::pressKeys;
using endtoend::screenshot;
using endtoend::waitFor;
using endtoend::workDir;

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

// The application's own settings, data and instance name under `work`; no system bus to reach.
QProcessEnvironment applicationEnvironment(const fs::path& work, const QString& instanceName) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("CUEWRIGHT_INSTANCE_NAME", instanceName);
    environment.insert("CUEWRIGHT_DEFAULTS_FILE", QString::fromStdString((work / "defaults.json").string()));
    environment.insert("CUEWRIGHT_DATA_DIR", QString::fromStdString((work / "data").string()));
    const QString noBus = QStringLiteral("unix:path=") + QString::fromStdString((work / "no-bus").string());
    environment.insert("DBUS_SYSTEM_BUS_ADDRESS", noBus);
    environment.insert("CUEWRIGHT_BLUEZ_BUS_ADDRESS", noBus);
    return environment;
}

TEST(EndToEnd, AStartOpensItsWindowThoughAnotherUserListensUnderItsName) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to listen as another user";
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const fs::path work = workDir("squatted-instance");
    fs::remove_all(work);
    fs::create_directories(work);
    std::ofstream(work / "note.txt") << "Good evening.\n";
    // Another user took the instance name in /tmp, where it used to be looked for.
    const QString name = "cuewright-e2e-" + QUuid::createUuid().toString(QUuid::Id128);
    const testsupport::OtherUserListener squatter((QDir::tempPath() + u'/' + name).toStdString());
    ASSERT_TRUE(squatter.listening());

    QProcess app;
    app.setProcessEnvironment(applicationEnvironment(work, name));
    app.setProcessChannelMode(QProcess::ForwardedChannels);
    app.start(QStringLiteral(CW_APP_BINARY), {QString::fromStdString((work / "note.txt").string())});
    ASSERT_TRUE(app.waitForStarted());
    const Window root = DefaultRootWindow(display);
    EXPECT_TRUE(waitFor(app, [&] { return findWindow(display, root, "Untitled").has_value(); }))
        << "no editor window: the start handed its file to the other user's listener and ended";
    app.kill();
    app.waitForFinished();
    QFile::remove(QDir::tempPath() + u'/' + name);
    XCloseDisplay(display);
}

// A run's own folder with a saved script of 60 lines, and a defaults file that `configure` fills.
struct AppRun {
    fs::path work;
    std::string script;
};
AppRun prepareRun(const char* name, const std::function<void(platform::Defaults&)>& configure = {}) {
    AppRun run{workDir(name), {}};
    fs::remove_all(run.work);
    fs::create_directories(run.work);
    run.script = (run.work / "sample.cwr").string();
    {
        platform::Defaults defaults({run.work / "scratch-defaults.json", std::chrono::hours(1), {}});
        cw::registerUserDefaults(defaults);
        cw::Workspace workspace(defaults);
        auto project = workspace.newProject();
        QString text;
        for (int i = 1; i <= 60; ++i) {
            text += QStringLiteral("Line %1 of the sample script, read aloud at an even pace.\n").arg(i);
        }
        project->setText(platform::AttributedString(text));
        project->save(run.script);
        workspace.closeProject(project);
    }
    // The run announces nothing on the network: remote control off, no system bus to reach.
    platform::Defaults defaults({run.work / "defaults.json", std::chrono::hours(1), {}});
    defaults.set(cw::settings::isBonjourEnabled, false);
    if (configure) {
        configure(defaults);
    }
    EXPECT_TRUE(defaults.synchronize());
    return run;
}

// Starts the application on the run's script, as an instance of its own.
void startApp(QProcess& app, const AppRun& run) {
    app.setProcessEnvironment(
        applicationEnvironment(run.work, "cuewright-e2e-" + QUuid::createUuid().toString(QUuid::Id128)));
    app.setProcessChannelMode(QProcess::ForwardedChannels);
    app.start(QStringLiteral(CW_APP_BINARY), {QString::fromStdString(run.script)});
}

// Starts the application on the run's script and waits for its editor window; none when the
// program ended or no window came.
std::optional<Window> openEditor(Display* display, QProcess& app, const AppRun& run) {
    startApp(app, run);
    if (!app.waitForStarted()) {
        return std::nullopt;
    }
    std::optional<Window> editor;
    waitFor(app,
            [&] { return (editor = findWindow(display, DefaultRootWindow(display), "sample")).has_value(); });
    return editor;
}

// Quits with Ctrl+Q from `window`; false when the application did not end by itself.
bool quitFrom(Display* display, Window window, QProcess& app) {
    XSetInputFocus(display, window, RevertToParent, CurrentTime);
    pressKeys(display, {XK_Control_L, XK_Q});
    const bool quit = app.waitForFinished(60000);
    if (!quit) {
        app.kill();
        app.waitForFinished();
    }
    return quit;
}

TEST(EndToEnd, OpenPromptPlayAndQuit) {
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    int event = 0, error = 0, major = 0, minor = 0;
    ASSERT_TRUE(XTestQueryExtension(display, &event, &error, &major, &minor));

    QProcess app;
    const AppRun run = prepareRun("end-to-end");
    const std::optional<Window> editor = openEditor(display, app, run);
    ASSERT_TRUE(editor) << "no editor window";
    const Window root = DefaultRootWindow(display);
    app.waitForFinished(1000); // let it paint
    screenshot("1-editor.png");

    // Ctrl+D puts a bookmark on the editor's line; Ctrl+S saves it into the script's file.
    XSetInputFocus(display, *editor, RevertToParent, CurrentTime);
    pressKeys(display, {XK_Control_L, XK_D});
    pressKeys(display, {XK_Control_L, XK_S});
    platform::Defaults readerDefaults({run.work / "reader-defaults.json", std::chrono::hours(1), {}});
    cw::registerUserDefaults(readerDefaults);
    const auto savedBookmarks = [&] {
        try {
            auto saved = cw::Project::create(readerDefaults);
            saved->loadDocument(run.script);
            return saved->bookmarks().size();
        } catch (...) {
            return std::size_t{0}; // not written yet, or being written
        }
    };
    EXPECT_TRUE(waitFor(app, [&] { return savedBookmarks() == 1; })) << "Ctrl+D and Ctrl+S saved no bookmark";
    screenshot("1b-bookmarked.png");

    pressKeys(display, {XK_Control_L, XK_Shift_L, XK_P});
    std::optional<Window> prompter;
    ASSERT_TRUE(waitFor(app, [&] {
        return (prompter = findWindow(display, root, "Prompter Window")).has_value();
    })) << "Ctrl+Shift+P opened no prompter window";
    app.waitForFinished(1000);
    const QImage before = screenshot("2-prompter.png");

    XSetInputFocus(display, *prompter, RevertToParent, CurrentTime);
    pressKeys(display, {XK_space});
    app.waitForFinished(2000); // two seconds of playing
    const QImage playing = screenshot("3-playing.png");
    EXPECT_GT(differingPixels(before, playing), 0) << "the script did not move";
    pressKeys(display, {XK_space});

    const bool quit = quitFrom(display, *editor, app);
    screenshot("4-after-quit.png");
    EXPECT_TRUE(quit) << "Ctrl+Q did not quit";
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
    XCloseDisplay(display);
}

// Bindings on Alt+P and Alt+F, the letters of the Prompter and File menus, act in the editor
// instead of opening the menus: two speed steps up and one down, then Ctrl+S saves the script with
// the new speed.
TEST(EndToEnd, AltBindingsWinOverMenuLetters) {
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    namespace kc = platform::keycode;
    const AppRun run = prepareRun("alt-bindings", [](platform::Defaults& defaults) {
        cw::KeyBindings bindings;
        bindings.incSpeed = cw::KeyBindings::Key{kc::p, platform::modifier::option};
        bindings.decSpeed = cw::KeyBindings::Key{kc::f, platform::modifier::option};
        defaults.set(cw::settings::customKeyBindings, bindings.storedValue());
    });
    platform::Defaults scratch({run.work / "read-defaults.json", std::chrono::hours(1), {}});
    cw::registerUserDefaults(scratch);
    auto speedOfFile = [&] {
        auto project = cw::Project::create(scratch);
        project->loadDocument(run.script);
        return project->document().speedProperties.scrollSpeedPerc;
    };
    const double before = speedOfFile();

    QProcess app;
    const std::optional<Window> editor = openEditor(display, app, run);
    ASSERT_TRUE(editor) << "no editor window";
    XSetInputFocus(display, *editor, RevertToParent, CurrentTime);
    for (KeySym key : {XK_P, XK_P, XK_F}) {
        pressKeys(display, {XK_Alt_L, key});
    }
    pressKeys(display, {XK_Control_L, XK_S});
    EXPECT_TRUE(waitFor(app, [&] { return speedOfFile() == before + 5; }))
        << "the bindings did not act, or a menu took the keys: " << speedOfFile() << " after " << before;
    screenshot("alt-bindings.png");
    EXPECT_TRUE(quitFrom(display, *editor, app)) << "Ctrl+Q did not quit";
    XCloseDisplay(display);
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// The real cuewright binary on a real X server: it opens a script in an editor window, a prompter
// window comes from the menu's shortcut, plays, and the application quits. Each step leaves a
// screenshot under test-output/app/. Keys go in through XTest, as a user's would.
#include "cuewright/model/Project.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/model/UserDefaults.h"
#include "cuewright/model/Workspace.h"
#include "platform/defaults/Defaults.h"

#include <gtest/gtest.h>

#include <QDir>
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
#include <functional>
#include <optional>

namespace fs = std::filesystem;

namespace {

fs::path outputDir() {
    const char* root = std::getenv("CW_TEST_OUTPUT_DIR");
    fs::path dir = fs::path(root && *root ? root : "/tmp") / "app";
    fs::create_directories(dir);
    return dir;
}

// The top-level X windows whose name contains `part`, searched down the whole tree.
std::optional<Window> findWindow(Display* display, Window under, const std::string& part) {
    char* name = nullptr;
    if (XFetchName(display, under, &name) && name) {
        const bool match = std::string(name).find(part) != std::string::npos;
        XFree(name);
        XWindowAttributes attributes;
        if (match && XGetWindowAttributes(display, under, &attributes) &&
            attributes.map_state == IsViewable) {
            return under;
        }
    }
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, under, &root, &parent, &children, &count)) {
        return std::nullopt;
    }
    std::optional<Window> found;
    for (unsigned i = 0; i < count && !found; ++i) {
        found = findWindow(display, children[i], part);
    }
    if (children) {
        XFree(children);
    }
    return found;
}

// Polls until `ready` holds, while the program runs; false when it ended or 15 s passed.
bool waitFor(QProcess& app, const std::function<bool()>& ready) {
    for (int i = 0; i < 300; ++i) {
        if (ready()) {
            return true;
        }
        if (app.state() == QProcess::NotRunning) {
            return false;
        }
        app.waitForFinished(50);
    }
    return false;
}

void pressKeys(Display* display, std::initializer_list<KeySym> keys) {
    for (KeySym key : keys) {
        XTestFakeKeyEvent(display, XKeysymToKeycode(display, key), True, CurrentTime);
    }
    for (auto key = std::rbegin(keys); key != std::rend(keys); ++key) {
        XTestFakeKeyEvent(display, XKeysymToKeycode(display, *key), False, CurrentTime);
    }
    XFlush(display);
}

QImage screenshot(const char* name) {
    const QImage image = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    image.save(QString::fromStdString((outputDir() / name).string()));
    return image;
}

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

TEST(EndToEnd, OpenPromptPlayAndQuit) {
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    int event = 0, error = 0, major = 0, minor = 0;
    ASSERT_TRUE(XTestQueryExtension(display, &event, &error, &major, &minor));

    const fs::path work = outputDir() / "end-to-end";
    fs::remove_all(work);
    fs::create_directories(work);
    const std::string script = (work / "sample.cwr").string();
    {
        platform::Defaults defaults({work / "scratch-defaults.json", std::chrono::hours(1), {}});
        cw::registerUserDefaults(defaults);
        cw::Workspace workspace(defaults);
        auto project = workspace.newProject();
        QString text;
        for (int i = 1; i <= 60; ++i) {
            text += QStringLiteral("Line %1 of the sample script, read aloud at an even pace.\n").arg(i);
        }
        project->setText(platform::AttributedString(text));
        project->save(script);
        workspace.closeProject(project);
    }
    {
        // The run announces nothing on the network: remote control off, no system bus to reach.
        platform::Defaults defaults({work / "defaults.json", std::chrono::hours(1), {}});
        defaults.set(cw::settings::isBonjourEnabled, false);
        ASSERT_TRUE(defaults.synchronize());
    }

    QProcess app;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("CUEWRIGHT_INSTANCE_NAME",
                       "cuewright-e2e-" + QUuid::createUuid().toString(QUuid::Id128));
    environment.insert("CUEWRIGHT_DEFAULTS_FILE", QString::fromStdString((work / "defaults.json").string()));
    environment.insert("CUEWRIGHT_DATA_DIR", QString::fromStdString((work / "data").string()));
    const QString noBus = QStringLiteral("unix:path=") + QString::fromStdString((work / "no-bus").string());
    environment.insert("DBUS_SYSTEM_BUS_ADDRESS", noBus);
    environment.insert("CUEWRIGHT_BLUEZ_BUS_ADDRESS", noBus);
    app.setProcessEnvironment(environment);
    app.setProcessChannelMode(QProcess::ForwardedChannels);
    app.start(QStringLiteral(CW_APP_BINARY), {QString::fromStdString(script)});
    ASSERT_TRUE(app.waitForStarted());

    const Window root = DefaultRootWindow(display);
    std::optional<Window> editor;
    ASSERT_TRUE(waitFor(app, [&] { return (editor = findWindow(display, root, "sample")).has_value(); }))
        << "no editor window";
    app.waitForFinished(1000); // let it paint
    screenshot("1-editor.png");

    // Ctrl+D puts a bookmark on the editor's line; Ctrl+S saves it into the script's file.
    XSetInputFocus(display, *editor, RevertToParent, CurrentTime);
    pressKeys(display, {XK_Control_L, XK_D});
    pressKeys(display, {XK_Control_L, XK_S});
    platform::Defaults readerDefaults({work / "reader-defaults.json", std::chrono::hours(1), {}});
    cw::registerUserDefaults(readerDefaults);
    const auto savedBookmarks = [&] {
        try {
            auto saved = cw::Project::create(readerDefaults);
            saved->loadDocument(script);
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

    XSetInputFocus(display, *editor, RevertToParent, CurrentTime);
    pressKeys(display, {XK_Control_L, XK_Q});
    const bool quit = app.waitForFinished(15000);
    screenshot("4-after-quit.png");
    if (!quit) {
        app.kill();
        app.waitForFinished();
    }
    EXPECT_TRUE(quit) << "Ctrl+Q did not quit";
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
    XCloseDisplay(display);
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

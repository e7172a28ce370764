// The real cuewright binary under a window manager, driven with xdotool: the menus of an editor
// window as a person meets them. Screenshots go to test-output/app/.
#include "cuewright/model/Project.h"
#include "cuewright/model/ScriptDocumentFile.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/model/UserDefaults.h"
#include "cuewright/model/Workspace.h"
#include "platform/defaults/Defaults.h"

#include <gtest/gtest.h>

// Xlib's macros after gtest, which uses the same names.
#include "EndToEndSupport.h"

#include <QGuiApplication>
#include <QProcess>

#include <filesystem>
#include <functional>
#include <memory>

namespace fs = std::filesystem;
using namespace endtoend;

namespace {

class EditorMenusEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!hasXdotool()) {
            GTEST_SKIP() << "xdotool is not installed";
        }
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr);
        root = DefaultRootWindow(display);
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        work = outputDir() / (std::string("menus-") + test->name());
        fs::remove_all(work);
        fs::create_directories(work);
        environment = privateEnvironment(work);
        platform::Defaults defaults({work / "defaults.json", std::chrono::hours(1), {}});
        defaults.set(cw::settings::isBonjourEnabled, false); // announces nothing on the network
        ASSERT_TRUE(defaults.synchronize());
    }
    void TearDown() override {
        if (app.state() != QProcess::NotRunning) {
            app.kill();
            app.waitForFinished();
        }
        if (display) {
            XCloseDisplay(display);
        }
    }

    fs::path makeScript(const std::string& name, const QString& text) {
        platform::Defaults defaults({work / "scratch-defaults.json", std::chrono::hours(1), {}});
        cw::registerUserDefaults(defaults);
        cw::Workspace workspace(defaults);
        auto project = workspace.newProject();
        project->setText(platform::AttributedString(text));
        project->save((work / name).string());
        workspace.closeProject(project);
        return work / name;
    }

    // Starts the application with `script` and waits for its editor window.
    std::optional<Window> open(const fs::path& script) {
        app.setProcessEnvironment(environment);
        app.setProcessChannelMode(QProcess::ForwardedChannels);
        app.start(QStringLiteral(CW_APP_BINARY), {QString::fromStdString(script.string())});
        EXPECT_TRUE(app.waitForStarted());
        return waitForWindow(script.filename().string());
    }
    std::optional<Window> waitForWindow(const std::string& part) {
        std::optional<Window> window;
        waitFor(app, [&] { return (window = findWindow(display, root, part)).has_value(); });
        return window;
    }
    bool fileHolds(const fs::path& script, const std::function<bool(const QString&)>& holds) {
        return waitFor(app, [&] {
            try {
                return holds(cw::ScriptDocumentFile::open(script).text.string());
            } catch (const std::exception&) {
                return false; // being replaced: read again at the next look
            }
        });
    }
    void quit(Window window) {
        ASSERT_TRUE(activate(window));
        ASSERT_TRUE(xdotool({"key", "ctrl+q"}));
        EXPECT_TRUE(app.waitForFinished(60000));
    }

    Display* display = nullptr;
    Window root = 0;
    fs::path work;
    QProcessEnvironment environment;
    QProcess app;
};

// The Edit menu reached from another open menu (Bookmarks, then Left past Options; Options, then
// Left) offers Undo after an edit: Return on its first item takes the typed letter back.
TEST_F(EditorMenusEndToEnd, EditReachedFromAnotherMenuOffersUndo) {
    const QString saved = QStringLiteral("Alpha beta.");
    const fs::path script = makeScript("menus.cwr", saved);
    const std::optional<Window> editor = open(script);
    ASSERT_TRUE(editor) << "no editor window";
    const struct {
        const char* typed;
        QStringList keys; // from the editor to the Edit menu's first item
    } ways[] = {{"Z", {"alt+b", "Left", "Left"}}, {"Q", {"alt+o", "Left"}}};
    for (const auto& way : ways) {
        ASSERT_TRUE(activate(*editor));
        ASSERT_TRUE(xdotool({"type", way.typed}));
        ASSERT_TRUE(waitForWindow("menus.cwr*"))
            << way.typed << ": the typing did not mark the script edited";
        ASSERT_TRUE(xdotool({"key", "ctrl+s"}));
        ASSERT_TRUE(fileHolds(script, [&](const QString& text) { return text.contains(way.typed); }))
            << way.typed;
        ASSERT_TRUE(waitFor(app, [&] { return !findWindow(display, root, "menus.cwr*"); }));

        QStringList keys = {"key", "--delay", "150"};
        keys += way.keys;
        ASSERT_TRUE(xdotool(keys));
        app.waitForFinished(300); // let the menu paint: the picture is for people, not for the test
        screenshot((std::string("edit-menu-from-another-") + way.typed + ".png").c_str());
        ASSERT_TRUE(xdotool({"key", "Return"}));
        EXPECT_TRUE(waitForWindow("menus.cwr*")) << way.typed << ": Undo did not take the letter back";
        ASSERT_TRUE(activate(*editor));
        ASSERT_TRUE(xdotool({"key", "Escape", "ctrl+s"}));
        EXPECT_TRUE(fileHolds(script, [&](const QString& text) { return text == saved; })) << way.typed;
    }
    quit(*editor);
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

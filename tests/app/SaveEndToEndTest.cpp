// The real cuewright binary under a window manager, saving as a person does: a script that
// another writer changed on disk since it was opened is not overwritten without a question, and
// file names whose bytes are not UTF-8 open, save and stay in the recent list. Screenshots go to
// test-output/app/.
#include "cuewright/app/RecentDocuments.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/ScriptDocumentFile.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/model/UserDefaults.h"
#include "cuewright/model/Workspace.h"
#include "platform/defaults/Defaults.h"

#include <gtest/gtest.h>

// Xlib's macros after gtest, which uses the same names.
#include "EndToEndSupport.h"

#include <QProcess>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>

namespace fs = std::filesystem;
using namespace endtoend;

namespace {

// Whether `text` is `saved` with the typed characters added. Where they land is the editor's
// business (its caret may move while the window settles), so only they are compared.
bool holdsTyped(QString text, QString expected) {
    std::sort(text.begin(), text.end());
    std::sort(expected.begin(), expected.end());
    return text == expected;
}

class SaveEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!hasXdotool()) {
            GTEST_SKIP() << "xdotool is not installed";
        }
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr);
        root = DefaultRootWindow(display);
        // A loaded machine can hold a key down long enough for the server to repeat it (a second
        // Ctrl+S, a run of spaces): a person's keys do not repeat unasked.
        XAutoRepeatOff(display);
        XFlush(display);
        work =
            workDir(std::string("save-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
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

    // Writes the script as another program or window would: a new file in the old one's place.
    void writeScript(const fs::path& path, const QString& text) {
        platform::Defaults defaults({work / "scratch-defaults.json", std::chrono::hours(1), {}});
        cw::registerUserDefaults(defaults);
        cw::Workspace workspace(defaults);
        auto project = workspace.newProject();
        project->setText(platform::AttributedString(text));
        project->save(path.string());
    }
    static QString scriptText(const fs::path& path) {
        try {
            return cw::ScriptDocumentFile::open(path).text.string();
        } catch (const std::exception&) {
            return {}; // being replaced: read again at the next look
        }
    }

    // Runs the binary on `files` through the shell, so that their names reach it byte for byte
    // (QProcess would pass them as UTF-8).
    void start(const std::vector<fs::path>& files) {
        QString command = QStringLiteral("exec \"$0\"");
        for (const fs::path& file : files) {
            QString octal;
            for (const unsigned char c : file.string()) {
                octal += QStringLiteral("\\%1").arg(int(c), 3, 8, QChar('0'));
            }
            command += QStringLiteral(" \"$(printf '%1')\"").arg(octal);
        }
        app.setProcessEnvironment(environment);
        app.setProcessChannelMode(QProcess::ForwardedChannels);
        app.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command, QStringLiteral(CW_APP_BINARY)});
        ASSERT_TRUE(app.waitForStarted());
    }

    std::optional<Window> waitForWindow(const std::function<bool(const std::string&)>& matches) {
        std::optional<Window> window;
        waitFor(app, [&] { return (window = findWindow(display, root, matches)).has_value(); });
        return window;
    }
    std::optional<Window> waitForWindow(const std::string& part) {
        return waitForWindow([&](const std::string& name) { return name.find(part) != std::string::npos; });
    }
    // Alerts carry the application's name alone.
    static bool isAlert(const std::string& name) { return name == "Cuewright"; }
    bool alertShown() { return findWindow(display, root, isAlert).has_value(); }

    // Types into the editor named `name` and waits until the script counts as edited.
    std::optional<Window> typeInto(const std::string& name, const QString& word) {
        const std::optional<Window> editor = waitForWindow(name);
        EXPECT_TRUE(editor) << "no editor window for " << name;
        if (!editor || !activate(*editor) || !xdotool({"type", "--delay", "30", word})) {
            return std::nullopt;
        }
        EXPECT_TRUE(waitForWindow(name + "*")) << "the typing did not mark the script edited";
        return editor;
    }

    void quit(Window editor) {
        ASSERT_TRUE(activate(editor));
        ASSERT_TRUE(xdotool({"key", "ctrl+q"}));
        EXPECT_TRUE(app.waitForFinished(60000));
        EXPECT_EQ(app.exitCode(), 0);
    }

    Display* display = nullptr;
    Window root = 0;
    fs::path work;
    QProcessEnvironment environment;
    QProcess app;
};

// As when a stopped instance resumes with a script that another instance saved meanwhile: Ctrl+S
// asks before overwriting, Return (Cancel) keeps the other writer's file, "Save Anyway" writes
// ours, and the next save, with nothing changed on disk in between, asks nothing.
TEST_F(SaveEndToEnd, ASaveOverAScriptChangedOnDiskAsksFirst) {
    const fs::path script = work / "two.cwr";
    const QString saved = QStringLiteral("Saved by both windows.");
    writeScript(script, saved);
    start({script});
    const std::optional<Window> editor = typeInto("two.cwr", QStringLiteral("mine "));
    ASSERT_TRUE(editor);
    const QString theirs = QStringLiteral("Written by the other window.");
    writeScript(script, theirs);

    ASSERT_TRUE(activate(*editor));
    ASSERT_TRUE(xdotool({"key", "ctrl+s"}));
    std::optional<Window> question = waitForWindow(isAlert);
    ASSERT_TRUE(question) << "the save asked nothing";
    app.waitForFinished(500); // let it paint: the picture is for people, not for the test
    screenshot("save-changed-on-disk.png");
    EXPECT_EQ(scriptText(script), theirs);
    ASSERT_TRUE(activate(*question));
    ASSERT_TRUE(xdotool({"key", "Return"}));
    ASSERT_TRUE(waitFor(app, [&] { return !alertShown(); }));
    EXPECT_EQ(scriptText(script), theirs) << "Cancel overwrote the other writer's script";
    EXPECT_TRUE(findWindow(display, root, "two.cwr*")) << "the edits no longer count as unsaved";

    ASSERT_TRUE(activate(*editor));
    ASSERT_TRUE(xdotool({"key", "ctrl+s"}));
    question = waitForWindow(isAlert);
    ASSERT_TRUE(question) << "the second save asked nothing";
    ASSERT_TRUE(activate(*question));
    // Cancel, Save Anyway: the second button, reached from the default one.
    ASSERT_TRUE(xdotool({"key", "Tab", "space"}));
    EXPECT_TRUE(waitFor(app, [&] { return holdsTyped(scriptText(script), saved + "mine "); }))
        << "Save Anyway did not write the script";

    ASSERT_TRUE(typeInto("two.cwr", QStringLiteral("again ")));
    ASSERT_TRUE(activate(*editor));
    ASSERT_TRUE(xdotool({"key", "ctrl+s"}));
    EXPECT_TRUE(waitFor(app, [&] { return holdsTyped(scriptText(script), saved + "mine again "); }))
        << "a save over our own last save was held up";
    quit(*editor);
}

// Names as a Latin-1 system writes them: the script and the text open from the command line, the
// script saves under its own name (no second file beside it) and stays in the recent list.
TEST_F(SaveEndToEnd, FileNamesThatAreNotUtf8OpenAndSaveUnderTheirOwnBytes) {
    const fs::path script = work / "caf\xe9.cwr";
    const fs::path text = work / "na\xefve.txt";
    const QString saved = QStringLiteral("Caf\u00e9 words.");
    writeScript(script, saved);
    std::ofstream(text) << "Na\xc3\xafve words.";
    start({script, text});
    ASSERT_TRUE(waitForWindow("Untitled")) << "the text did not open";
    const std::optional<Window> editor = typeInto("caf\xef\xbf\xbd.cwr", QStringLiteral("more "));
    ASSERT_TRUE(editor);
    EXPECT_FALSE(alertShown()) << "an error was shown";
    screenshot("save-latin1-names.png");

    ASSERT_TRUE(activate(*editor));
    ASSERT_TRUE(xdotool({"key", "ctrl+s"}));
    EXPECT_TRUE(waitFor(app, [&] { return holdsTyped(scriptText(script), saved + "more "); }))
        << "the script was not saved under its name";
    EXPECT_FALSE(fs::exists(work / "caf\xef\xbf\xbd.cwr")) << "saved beside it under another name";
    quit(*editor);

    platform::Defaults defaults({work / "defaults.json", std::chrono::hours(1), {}});
    const std::vector<std::string> recent = cw::RecentDocuments(defaults).paths();
    EXPECT_NE(std::find(recent.begin(), recent.end(), fs::canonical(script).string()), recent.end())
        << "the script is not among the recent documents";
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

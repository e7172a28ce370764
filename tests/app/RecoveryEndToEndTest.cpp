// The real cuewright binary under a window manager, typed into with xdotool: steady typing is
// kept and comes back after a kill; a Recovery folder that cannot be used is named in a notice
// line of the window (read back in pixels) and quitting on a signal then asks first; a second
// instance keeps its own copies, which the next start brings back. Screenshots go to
// test-output/app/.
#include "cuewright/editor/EditorWindowController.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/RecoveryStore.h"
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

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

namespace fs = std::filesystem;
using namespace endtoend;

namespace {

const QString savedText = QStringLiteral("The words of the sample as saved.");

std::string fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Whether `text` is the saved text with the first characters of `typed` added, at least one.
// Where they land is the editor's business, so only the characters are compared.
bool holdsTypedStart(QString text, const QString& typed) {
    std::sort(text.begin(), text.end());
    for (qsizetype count = 1; count <= typed.size(); ++count) {
        QString expected = savedText + typed.left(count);
        std::sort(expected.begin(), expected.end());
        if (text == expected) {
            return true;
        }
    }
    return false;
}

class RecoveryEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!hasXdotool()) {
            GTEST_SKIP() << "xdotool is not installed";
        }
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr);
        root = DefaultRootWindow(display);
        work = workDir(std::string("recovery-") +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(work);
        fs::create_directories(work);
        environment = privateEnvironment(work);
        platform::Defaults defaults({work / "defaults.json", std::chrono::hours(1), {}});
        defaults.set(cw::settings::isBonjourEnabled, false);
        ASSERT_TRUE(defaults.synchronize());
        script = work / "sample.cwr";
        platform::Defaults scratch({work / "scratch-defaults.json", std::chrono::hours(1), {}});
        cw::registerUserDefaults(scratch);
        cw::Workspace workspace(scratch);
        auto project = workspace.newProject();
        project->setText(platform::AttributedString(savedText));
        project->save(script.string());
        workspace.closeProject(project);
    }
    void TearDown() override {
        for (auto& process : processes) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished();
            }
        }
        if (display) {
            XCloseDisplay(display);
        }
    }

    fs::path recoveryFolder() const { return work / "data" / cw::RecoveryStore::folderName; }

    QProcess& start(const QString& program, const QStringList& arguments, const QProcessEnvironment& env) {
        processes.push_back(std::make_unique<QProcess>());
        QProcess& process = *processes.back();
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(program, arguments);
        EXPECT_TRUE(process.waitForStarted());
        return process;
    }
    QProcess& startApp(const QProcessEnvironment& env) {
        return start(QStringLiteral(CW_APP_BINARY), {QString::fromStdString(script.string())}, env);
    }
    QProcess& startApp() { return startApp(environment); }

    std::optional<Window> waitForWindow(QProcess& app,
                                        const std::function<bool(const std::string&)>& matches) {
        std::optional<Window> window;
        waitFor(app, [&] { return (window = findWindow(display, root, matches)).has_value(); });
        return window;
    }
    std::optional<Window> waitForEditor(QProcess& app, const std::string& title = "sample.cwr") {
        return waitForWindow(app, [&](const std::string& name) { return name.starts_with(title); });
    }
    std::optional<Window> waitForAlert(QProcess& app) {
        return waitForWindow(app, [](const std::string& name) { return name == "Cuewright"; });
    }

    // Whether a copy under the Recovery folder (private ones included) holds some of `typed`.
    bool copyHoldsTyped(const QString& typed) const {
        std::error_code error;
        for (const auto& item : fs::recursive_directory_iterator(recoveryFolder(), error)) {
            if (item.path().extension() != ".cwr") {
                continue;
            }
            try {
                if (holdsTypedStart(cw::ScriptDocumentFile::open(item.path()).text.string(), typed)) {
                    return true;
                }
            } catch (const std::exception&) {
                // being replaced: read again at the next look
            }
        }
        return false;
    }

    // A new start brings the edits back with a message; saving puts them in the script.
    void expectTypedBack(const QString& typed, const char* shot) {
        QProcess& app = startApp();
        ASSERT_TRUE(waitForAlert(app)) << "no message about the brought-back edits";
        const std::optional<Window> alert = waitForAlert(app);
        ASSERT_TRUE(alert && activate(*alert) && xdotool({"key", "Return"}));
        const std::optional<Window> editor = waitForEditor(app, "sample.cwr*");
        ASSERT_TRUE(editor) << "the script is not shown as edited";
        screenshot(shot);
        ASSERT_TRUE(activate(*editor));
        ASSERT_TRUE(xdotool({"key", "ctrl+s"}));
        EXPECT_TRUE(waitFor(app, [&] {
            try {
                return holdsTypedStart(cw::ScriptDocumentFile::open(script).text.string(), typed);
            } catch (const std::exception&) {
                return false;
            }
        })) << "the brought-back text is not what was typed";
    }

    // How many pixels of the window, as the screen shows it, have the notice line's colour.
    int noticePixels(Window window) {
        XWindowAttributes attributes;
        Window child = 0;
        int x = 0, y = 0;
        if (!XGetWindowAttributes(display, window, &attributes) ||
            !XTranslateCoordinates(display, window, root, 0, 0, &x, &y, &child)) {
            return 0;
        }
        const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
        const QRgb notice = cw::editor::EditorWindowController::noticeColor;
        int count = 0;
        for (int row = std::max(0, y); row < std::min(shot.height(), y + attributes.height); ++row) {
            for (int column = std::max(0, x); column < std::min(shot.width(), x + attributes.width);
                 ++column) {
                count += qRed(shot.pixel(column, row)) == qRed(notice) &&
                         qGreen(shot.pixel(column, row)) == qGreen(notice) &&
                         qBlue(shot.pixel(column, row)) == qBlue(notice);
            }
        }
        return count;
    }

    Display* display = nullptr;
    Window root = 0;
    fs::path work;
    fs::path script;
    QProcessEnvironment environment;
    std::vector<std::unique_ptr<QProcess>> processes;
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

// A Recovery folder that is a link to the user's documents: nothing there is touched, the
// window says that unsaved edits are not being kept, and a signal to quit asks before it ends.
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
    ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
    EXPECT_TRUE(waitForAlert(app)) << "quit on the signal without asking about edits nobody keeps";
    EXPECT_EQ(app.state(), QProcess::Running);
}

// Two instances on one data folder: the second keeps its own copies, and after it is killed and
// the first has quit, the next start brings its edits back.
TEST_F(RecoveryEndToEnd, ASecondInstanceKeepsItsOwnCopiesForTheNextStart) {
    const fs::path other = work / "other.cwr";
    fs::copy_file(script, other);
    QProcess& first =
        start(QStringLiteral(CW_APP_BINARY), {QString::fromStdString(other.string())}, environment);
    const std::optional<Window> firstEditor = waitForEditor(first, "other.cwr");
    ASSERT_TRUE(firstEditor);

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
    ASSERT_TRUE(activate(*firstEditor));
    ASSERT_TRUE(xdotool({"key", "ctrl+q"}));
    ASSERT_TRUE(first.waitForFinished(60000));

    expectTypedBack("kiwi", "recovery-second-instance-back.png");
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// The real cuewright binary under a window manager, handed files by later starts: a hand-over
// arriving while the running copy is busy laying out a large text is answered, so the later
// start ends and no second copy runs; a file name with a line break opens that very file; a PDF
// that takes seconds to read shows a progress window, and Escape there opens nothing of it; a
// large text fills its window while the remote control answers, and Escape then closes that
// window. Screenshots go to test-output/app/.
#include "cuewright/model/Project.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/model/UserDefaults.h"
#include "cuewright/model/Workspace.h"
#include "platform/defaults/Defaults.h"

#include <gtest/gtest.h>

// Xlib's macros after gtest, which uses the same names.
#include "EndToEndSupport.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace fs = std::filesystem;
using namespace endtoend;

namespace {

// A UDP port nobody holds right now on the loopback address, for the application's remote control.
std::uint16_t freeUdpPort() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// Whether the remote control on `port` reported its status within a second.
bool remoteAnswers(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string request =
        R"({"protver": 2, "cmdendpoint": "active", "paylodetype": "command", "payload": {"cmdname": "ReportStatus"}})";
    ::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
    pollfd waiting{fd, POLLIN, 0};
    std::string reply(4096, '\0');
    ssize_t size = 0;
    if (::poll(&waiting, 1, 1000) == 1) {
        size = ::recv(fd, reply.data(), reply.size(), 0);
    }
    ::close(fd);
    return size > 0 && reply.find("\"status\"") != std::string::npos;
}

class InstanceEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!hasXdotool()) {
            GTEST_SKIP() << "xdotool is not installed";
        }
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr);
        root = DefaultRootWindow(display);
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        work = workDir(std::string("instance-") + test->name());
        fs::remove_all(work);
        fs::create_directories(work);
        environment = privateEnvironment(work);
        // Nothing opens by itself, and the run announces nothing on the network.
        platform::Defaults defaults({work / "defaults.json", std::chrono::hours(1), {}});
        defaults.set(cw::settings::isBonjourEnabled, false);
        defaults.set(cw::settings::startupMode, "DoNothing");
        ASSERT_TRUE(defaults.synchronize());
    }
    void TearDown() override {
        for (auto& app : apps) {
            if (app->state() != QProcess::NotRunning) {
                app->kill();
                app->waitForFinished();
            }
        }
        if (display) {
            XCloseDisplay(display);
        }
    }

    QProcess& start(const QStringList& arguments, const fs::path& folder,
                    QProcess::ProcessChannelMode channels = QProcess::ForwardedChannels) {
        apps.push_back(std::make_unique<QProcess>());
        QProcess& app = *apps.back();
        app.setProcessEnvironment(environment);
        app.setProcessChannelMode(channels);
        app.setWorkingDirectory(QString::fromStdString(folder.string()));
        app.start(QStringLiteral(CW_APP_BINARY), arguments);
        EXPECT_TRUE(app.waitForStarted());
        return app;
    }
    // The first start, alone: its start window (named as the application) shows when it listens.
    QProcess& startRunning(QProcess::ProcessChannelMode channels = QProcess::ForwardedChannels) {
        fs::create_directories(work / "elsewhere");
        QProcess& app = start({}, work / "elsewhere", channels);
        EXPECT_TRUE(waitForWindow(app, [](const std::string& name) { return name == "Cuewright"; }))
            << "no start window";
        return app;
    }
    // A later start handing `arguments` over from `folder`: whether it ended at once, as a start
    // whose files were taken does.
    bool handsOver(const QStringList& arguments, const fs::path& folder) {
        QProcess& later = start(arguments, folder);
        return later.waitForFinished(60000) && later.exitStatus() == QProcess::NormalExit &&
               later.exitCode() == 0;
    }

    std::optional<Window> waitForWindow(QProcess& app,
                                        const std::function<bool(const std::string&)>& matches) {
        std::optional<Window> window;
        waitFor(app, [&] { return (window = findWindow(display, root, matches)).has_value(); });
        return window;
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

    // A text of `bytes` bytes, lines of words as a long transcript has them.
    fs::path makeLargeText(const std::string& name, std::size_t bytes) {
        const std::string line = "the presenter reads every line of the script aloud at a steady pace\n";
        std::string text;
        text.reserve(bytes + line.size());
        while (text.size() < bytes) {
            text += line;
        }
        std::ofstream(work / name, std::ios::binary) << text;
        return work / name;
    }

    // A PDF of `pages` pages of text, which takes poppler seconds to read.
    fs::path makeLongPdf(const std::string& name, int pages) {
        QPdfWriter writer(QString::fromStdString((work / name).string()));
        QPainter painter(&writer);
        for (int page = 0; page < pages; ++page) {
            if (page > 0) {
                writer.newPage();
            }
            for (int line = 0; line < 50; ++line) {
                painter.drawText(200, 300 + line * 250,
                                 QStringLiteral("Page %1, line %2: the presenter reads every line aloud")
                                     .arg(page)
                                     .arg(line));
            }
        }
        return work / name;
    }

    Display* display = nullptr;
    Window root = 0;
    fs::path work;
    QProcessEnvironment environment;
    std::vector<std::unique_ptr<QProcess>> apps;
};

TEST_F(InstanceEndToEnd, AHandOverWhileALargeTextIsLaidOutLeavesOneProcess) {
    QProcess& running = startRunning();
    // Laying this out holds the running copy's main thread far longer than a start waits.
    const fs::path large = makeLargeText("large.txt", std::size_t{48} << 20);
    EXPECT_TRUE(handsOver({QString::fromStdString(large.string())}, work))
        << "the start handing the large text over went on on its own";
    ASSERT_TRUE(waitForWindow(running, [](const std::string& name) { return name == "Opening large.txt"; }))
        << "no progress window";
    screenshot("instance-large-text-progress.png");
    // While it lays the text out, another start hands a script over and ends too.
    const fs::path script = makeScript("other.cwr", QStringLiteral("Another script."));
    EXPECT_TRUE(handsOver({QString::fromStdString(script.string())}, work))
        << "a start during the layout went on on its own";
    EXPECT_EQ(running.state(), QProcess::Running);
}

TEST_F(InstanceEndToEnd, ANameWithALineBreakOpensThatFile) {
    QProcess& running = startRunning();
    // What a name split at its line break would open instead.
    makeScript("a.cwr", QStringLiteral("The wrong script."));
    makeScript("notes.cwr", QStringLiteral("The wrong script."));
    makeScript("a.cwr\nnotes.cwr", QStringLiteral("The script with a line break in its name."));
    EXPECT_TRUE(handsOver({QStringLiteral("a.cwr\nnotes.cwr")}, work));
    const auto whole = [](const std::string& name) {
        return name.find("a.cwr\nnotes.cwr") != std::string::npos;
    };
    ASSERT_TRUE(waitForWindow(running, whole)) << "no editor window of the whole name";
    running.waitForFinished(1000); // let it paint: the picture is for people, not for the test
    screenshot("instance-line-break-name.png");
    EXPECT_FALSE(findWindow(display, root, [&](const std::string& name) {
        return !whole(name) &&
               (name.find("a.cwr") != std::string::npos || name.find("notes.cwr") != std::string::npos);
    })) << "a part of the name was opened";
}

TEST_F(InstanceEndToEnd, EscapeInTheProgressWindowOfASlowFileOpensNothingOfIt) {
    QProcess& running = startRunning(QProcess::MergedChannels);
    const fs::path pdf = makeLongPdf("long.pdf", 1500);
    EXPECT_TRUE(handsOver({QString::fromStdString(pdf.string())}, work));
    const std::optional<Window> progress =
        waitForWindow(running, [](const std::string& name) { return name == "Opening long.pdf"; });
    ASSERT_TRUE(progress) << "no progress window";
    screenshot("instance-slow-file-progress.png");
    ASSERT_TRUE(activate(*progress));
    ASSERT_TRUE(xdotool({"key", "Escape"}));
    QByteArray output;
    EXPECT_TRUE(waitFor(running, [&] {
        output += running.readAll();
        return output.contains("long.pdf cancelled");
    })) << "the opening was not cancelled";
    EXPECT_FALSE(findWindow(display, root, "Opening long.pdf")) << "the progress window stayed";
    EXPECT_FALSE(findWindow(display, root, "Untitled")) << "the cancelled file was opened";
    EXPECT_EQ(running.state(), QProcess::Running);
}

TEST_F(InstanceEndToEnd, ALargeTextFillsItsWindowWhileTheRemoteAnswersAndEscapeClosesIt) {
    const std::uint16_t port = freeUdpPort();
    {
        platform::Defaults defaults({work / "defaults.json", std::chrono::hours(1), {}});
        defaults.set(cw::settings::isBonjourEnabled, true);
        defaults.set(cw::settings::bonjourKey, static_cast<std::int64_t>(port));
        ASSERT_TRUE(defaults.synchronize());
    }
    const fs::path large = makeLargeText("large.txt", std::size_t{24} << 20);
    QProcess& running = start({QString::fromStdString(large.string())}, work, QProcess::MergedChannels);
    // Read: its editor window shows, and the progress window says how far the text has gone in.
    std::optional<Window> progress;
    ASSERT_TRUE(waitFor(running, [&] {
        progress = findWindow(display, root, "Opening large.txt");
        return progress && findWindow(display, root, "Untitled");
    })) << "no editor window beside the progress window";
    // The remote control starts listening once the start is through.
    EXPECT_TRUE(waitFor(running, [&] { return remoteAnswers(port); }))
        << "the remote control did not answer while the text went in";
    screenshot("instance-large-text-filling.png");
    ASSERT_TRUE(findWindow(display, root, "Opening large.txt")) << "the text was in before the test asked";
    ASSERT_TRUE(activate(*progress));
    ASSERT_TRUE(xdotool({"key", "Escape"}));
    QByteArray output;
    EXPECT_TRUE(waitFor(running, [&] {
        output += running.readAll();
        return output.contains("large.txt cancelled") && !findWindow(display, root, "Untitled") &&
               !findWindow(display, root, "Opening large.txt");
    })) << "the half-filled window stayed";
    // A cancelled opening is no recent document.
    running.terminate();
    ASSERT_TRUE(running.waitForFinished(30000));
    std::ifstream settings(work / "defaults.json");
    const std::string stored((std::istreambuf_iterator<char>(settings)), std::istreambuf_iterator<char>());
    EXPECT_EQ(stored.find("large.txt"), std::string::npos) << stored;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

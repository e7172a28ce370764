// The real cuewright binary under a window manager, handed files by later starts: hand-overs to a
// busy, stopped or standing-in copy, a name with a line break, slow and large files with their
// progress windows, two copies started on one script. Screenshots go to test-output/app/.
#include <gtest/gtest.h>

// Xlib's macros after gtest, which uses the same names.
#include "EndToEndSupport.h"

#include <QPainter>
#include <QPdfWriter>

#include <csignal>

namespace fs = std::filesystem;
using namespace endtoend;

namespace {

class InstanceEndToEnd : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        if (setUpDone()) {
            setDefault(cw::settings::startupMode, "DoNothing"); // nothing opens by itself
        }
    }

    QProcess& startIn(const QStringList& arguments, const fs::path& folder,
                      QProcess::ProcessChannelMode channels = QProcess::ForwardedChannels) {
        return start(arguments, {}, QStringLiteral(CW_APP_BINARY), folder, channels);
    }
    // The first start, alone: its start window (named as the application) shows when it listens.
    QProcess& startRunning(QProcess::ProcessChannelMode channels = QProcess::ForwardedChannels) {
        fs::create_directories(work / "elsewhere");
        QProcess& app = startIn({}, work / "elsewhere", channels);
        EXPECT_TRUE(waitForNamed(app, "Cuewright")) << "no start window";
        return app;
    }
    // A later start handing `arguments` over from `folder`: whether it ended at once, as a start
    // whose files were taken does.
    bool handsOver(const QStringList& arguments, const fs::path& folder) {
        QProcess& later = startIn(arguments, folder);
        return later.waitForFinished(60000) && later.exitStatus() == QProcess::NormalExit &&
               later.exitCode() == 0;
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

    // How many viewable windows are named `name`.
    int viewableCount(const std::string& name, Window under = 0) {
        under = under ? under : root;
        XWindowAttributes attributes;
        int count = windowName(display, under) == name && XGetWindowAttributes(display, under, &attributes) &&
                            attributes.map_state == IsViewable
                        ? 1
                        : 0;
        Window rootWindow = 0, parent = 0, *children = nullptr;
        unsigned size = 0;
        if (XQueryTree(display, under, &rootWindow, &parent, &children, &size)) {
            for (unsigned i = 0; i < size; ++i) {
                count += viewableCount(name, children[i]);
            }
            if (children) {
                XFree(children);
            }
        }
        return count;
    }

    // Waits until the opening of "large.txt" is logged as cancelled and its windows are gone.
    bool largeTextCancelled(QProcess& running) {
        QByteArray output;
        return waitFor(running, [&] {
            output += running.readAll();
            return output.contains("large.txt cancelled") && !findWindow(display, root, "Untitled") &&
                   !findWindow(display, root, "Opening large.txt");
        });
    }

    // The process that made `window`, as it tells X; 0 when it does not.
    long windowPid(Window window) {
        const Atom property = XInternAtom(display, "_NET_WM_PID", False);
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        long pid = 0;
        if (XGetWindowProperty(display, window, property, 0, 1, False, XA_CARDINAL, &type, &format, &count,
                               &after, &data) == Success &&
            data && count == 1 && format == 32) {
            pid = *reinterpret_cast<long*>(data);
        }
        if (data) {
            XFree(data);
        }
        return pid;
    }

    // A PDF of `pages` pages of text, which takes poppler seconds to read.
    fs::path makeLongPdf(const std::string& name, int pages) {
        QPdfWriter writer(pathArg(work / name));
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
};

TEST_F(InstanceEndToEnd, AHandOverWhileALargeTextIsLaidOutLeavesOneProcess) {
    QProcess& running = startRunning();
    // Laying this out holds the running copy's main thread far longer than a start waits.
    const fs::path large = makeLargeText("large.txt", std::size_t{48} << 20);
    EXPECT_TRUE(handsOver({pathArg(large)}, work))
        << "the start handing the large text over went on on its own";
    ASSERT_TRUE(waitForNamed(running, "Opening large.txt")) << "no progress window";
    screenshot("instance-large-text-progress.png");
    // While it lays the text out, another start hands a script over and ends too.
    const fs::path script = makeScript("other.cwr", QStringLiteral("Another script."));
    EXPECT_TRUE(handsOver({pathArg(script)}, work)) << "a start during the layout went on on its own";
    EXPECT_EQ(running.state(), QProcess::Running);
}

// The running copy stopped for a moment (SIGSTOP, as a debugger or a suspended terminal does): a
// start waits for it, stands in and opens its script; once that stand-in has quit, a start of
// another script hands it over to the first copy and ends.
TEST_F(InstanceEndToEnd, AfterAStandInHasQuitTheFirstCopyIsHandedFilesAgain) {
    QProcess& running = startRunning();
    const fs::path first = makeScript("first.cwr", QStringLiteral("Opened by the stand-in."));
    const fs::path second = makeScript("second.cwr", QStringLiteral("Handed to the first copy."));
    ASSERT_EQ(::kill(pid_t(running.processId()), SIGSTOP), 0);
    QProcess& standIn = startIn({pathArg(first)}, work);
    const bool stoodIn = waitForNamed(standIn, "first.cwr").has_value();
    ASSERT_EQ(::kill(pid_t(running.processId()), SIGCONT), 0);
    ASSERT_TRUE(stoodIn) << "the start did not stand in for the stopped copy";
    standIn.terminate();
    ASSERT_TRUE(standIn.waitForFinished(30000));
    EXPECT_TRUE(handsOver({pathArg(second)}, work)) << "a later start went on on its own";
    EXPECT_TRUE(waitForNamed(running, "second.cwr")) << "the first copy did not open what it was handed";
    screenshot("instance-after-stand-in.png");
    EXPECT_EQ(running.state(), QProcess::Running);
}

// The first copy shows talk.cwr and is stopped; a start of other.cwr waits for it, stands in and
// opens other.cwr. talk.cwr started while the first copy is still stopped is not opened in the
// stand-in, which says so and hands it on once the first copy is back. The start gave up on the
// first copy, which then opens nothing of what it was handed; talk.cwr started again comes
// forward in the first copy, not as a second window of it in the stand-in; other.cwr stays in the
// stand-in; a new script opens in the first copy. Each script has one window.
TEST_F(InstanceEndToEnd, WhileAStandInLivesEachScriptIsOpenInOneCopyOnly) {
    QProcess& running = startRunning();
    const fs::path talk = makeScript("talk.cwr", QStringLiteral("Shown by the first copy."));
    const fs::path other = makeScript("other.cwr", QStringLiteral("Shown by the stand-in."));
    const fs::path third = makeScript("third.cwr", QStringLiteral("Opened once the first copy is back."));
    ASSERT_TRUE(handsOver({pathArg(talk)}, work));
    ASSERT_TRUE(waitForNamed(running, "talk.cwr"));
    ASSERT_EQ(::kill(pid_t(running.processId()), SIGSTOP), 0);
    QProcess& standIn = startIn({pathArg(other)}, work, QProcess::MergedChannels);
    const bool stoodIn = waitForNamed(standIn, "other.cwr").has_value();
    const bool handedWhileStopped = stoodIn && handsOver({pathArg(talk)}, work);
    // A viewable window named `name` of the stand-in.
    const auto standInWindow = [&](const std::string& name) -> std::optional<Window> {
        for (const Window window :
             findWindows(display, root, [&](const std::string& n) { return n == name; })) {
            if (windowPid(window) == standIn.processId()) {
                return window;
            }
        }
        return std::nullopt;
    };
    std::optional<Window> alert;
    bool secondWindow = false;
    if (handedWhileStopped) {
        waitFor(standIn, [&] {
            secondWindow = standInWindow("talk.cwr").has_value();
            alert = standInWindow("Cuewright");
            return secondWindow || alert;
        });
    }
    screenshot("instance-shown-by-a-stopped-copy.png");
    ASSERT_EQ(::kill(pid_t(running.processId()), SIGCONT), 0);
    ASSERT_TRUE(stoodIn) << "the start did not stand in for the stopped copy";
    ASSERT_TRUE(handedWhileStopped) << "the stand-in did not take talk.cwr";
    EXPECT_FALSE(secondWindow) << "the stand-in opened a second window of talk.cwr";
    ASSERT_TRUE(alert) << "the stand-in did not say where talk.cwr is open";
    QByteArray told;
    EXPECT_TRUE(waitFor(standIn, [&] {
        told += standIn.readAll();
        return told.contains("talk.cwr on to the Cuewright at") && told.contains("once it answered");
    })) << "talk.cwr was not handed on once the first copy was back";
    EXPECT_TRUE(dismiss(standIn, *alert));

    EXPECT_TRUE(handsOver({pathArg(talk)}, work));
    EXPECT_TRUE(handsOver({pathArg(other)}, work));
    EXPECT_TRUE(handsOver({pathArg(third)}, work));
    // Hand-overs are taken in order: once this one shows, the first copy has taken the ones before.
    const std::optional<Window> opened = waitForNamed(running, "third.cwr");
    ASSERT_TRUE(opened) << "the new script did not open";
    EXPECT_EQ(windowPid(*opened), running.processId()) << "the new script opened in the stand-in";
    screenshot("instance-one-copy-per-script.png");
    for (const std::string name : {"talk.cwr", "other.cwr"}) {
        SCOPED_TRACE(name);
        const std::vector<Window> windows =
            findWindows(display, root, [&](const std::string& n) { return n == name; });
        ASSERT_EQ(windows.size(), 1u) << "the script is open in both copies";
        EXPECT_EQ(windowPid(windows.front()), (name == "talk.cwr" ? running : standIn).processId());
    }
    EXPECT_EQ(running.state(), QProcess::Running);
    EXPECT_EQ(standIn.state(), QProcess::Running);
}

// Two copies that do not hand over to each other, started on one 6 MB script at the same moment:
// one opens it, the other says where it is open.
TEST_F(InstanceEndToEnd, TwoCopiesGivenOneScriptAtOneMomentOpenItOnce) {
    const fs::path large =
        makeScript("large.cwr", QStringLiteral("Every line read aloud.\n").repeated(280000));
    QProcessEnvironment apart = environment;
    apart.insert("CUEWRIGHT_INSTANCE_NAME", "cuewright-apart-" + QUuid::createUuid().toString(QUuid::Id128));
    QProcess& first = start({pathArg(large)});
    start({pathArg(large)}, apart);
    // The other one says so (and has nothing else to show but its start window).
    EXPECT_TRUE(waitFor(first, [&] {
        return findWindow(display, root, "large.cwr") && viewableCount("Cuewright");
    })) << "no copy refused the script the other one opens";
    EXPECT_EQ(findWindows(display, root, [](const std::string& n) { return n == "large.cwr"; }).size(), 1u);
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
    EXPECT_TRUE(handsOver({pathArg(pdf)}, work));
    const std::optional<Window> progress = waitForNamed(running, "Opening long.pdf");
    ASSERT_TRUE(progress) << "no progress window";
    screenshot("instance-slow-file-progress.png");
    // Handed over again while it is read: that opening comes forward, and it is not read twice.
    EXPECT_TRUE(handsOver({pathArg(pdf)}, work));
    QByteArray output;
    EXPECT_TRUE(waitFor(running, [&] {
        output += running.readAll();
        return output.contains("long.pdf again while it is opened: brought forward");
    })) << "the second open did not find the first";
    EXPECT_EQ(viewableCount("Opening long.pdf"), 1);
    ASSERT_TRUE(activate(*progress));
    ASSERT_TRUE(xdotool({"key", "Escape"}));
    EXPECT_TRUE(waitFor(running, [&] {
        output += running.readAll();
        return output.contains("long.pdf cancelled");
    })) << "the opening was not cancelled";
    EXPECT_FALSE(findWindow(display, root, "Opening long.pdf")) << "the progress window stayed";
    EXPECT_FALSE(findWindow(display, root, "Untitled")) << "the cancelled file was opened";
    EXPECT_EQ(running.state(), QProcess::Running);
}

TEST_F(InstanceEndToEnd, ALargeTextFillsItsWindowWhileTheRemoteAnswersAndEscapeClosesIt) {
    enableRemote();
    const fs::path large = makeLargeText("large.txt", std::size_t{24} << 20);
    QProcess& running = startIn({pathArg(large)}, work, QProcess::MergedChannels);
    // Read: its editor window shows, and the progress window says how far the text has gone in.
    std::optional<Window> progress;
    ASSERT_TRUE(waitFor(running, [&] {
        progress = findWindow(display, root, "Opening large.txt");
        return progress && findWindow(display, root, "Untitled");
    })) << "no editor window beside the progress window";
    // The remote control starts listening once the start is through.
    EXPECT_TRUE(waitForRemote(running)) << "the remote control did not answer while the text went in";
    screenshot("instance-large-text-filling.png");
    ASSERT_TRUE(findWindow(display, root, "Opening large.txt")) << "the text was in before the test asked";
    ASSERT_TRUE(activate(*progress));
    ASSERT_TRUE(xdotool({"key", "Escape"}));
    EXPECT_TRUE(largeTextCancelled(running)) << "the half-filled window stayed";
    // A cancelled opening is no recent document.
    running.terminate();
    ASSERT_TRUE(running.waitForFinished(30000));
    std::ifstream settings(work / "defaults.json");
    const std::string stored((std::istreambuf_iterator<char>(settings)), std::istreambuf_iterator<char>());
    EXPECT_EQ(stored.find("large.txt"), std::string::npos) << stored;
}

TEST_F(InstanceEndToEnd, TheProgressOfAFillingWindowStaysInFrontOfItAndEscapeThereCancels) {
    QProcess& running = startRunning(QProcess::MergedChannels);
    const fs::path large = makeLargeText("large.txt", std::size_t{24} << 20);
    EXPECT_TRUE(handsOver({pathArg(large)}, work));
    std::optional<Window> progress, editor;
    ASSERT_TRUE(waitFor(running, [&] {
        progress = findWindow(display, root, "Opening large.txt");
        editor = findWindow(display, root, "Untitled");
        return progress && editor;
    })) << "no editor window beside the progress window";
    // The half-filled editor, active, keeps its progress window (and its Cancel) in front of it.
    ASSERT_TRUE(activate(*editor));
    EXPECT_TRUE(waitFor(running, [&] { return stackedAbove(display, *progress, *editor); }))
        << "the progress window is behind the window it fills";
    screenshot("instance-large-text-progress-in-front.png");
    ASSERT_TRUE(findWindow(display, root, "Opening large.txt")) << "the text was in before the test asked";
    ASSERT_TRUE(xdotool({"key", "Escape"}));
    EXPECT_TRUE(largeTextCancelled(running)) << "Escape in the editor did not cancel the opening";
    EXPECT_EQ(running.state(), QProcess::Running);
}

} // namespace

CW_END_TO_END_MAIN()

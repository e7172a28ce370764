// The real cuewright binary under openbox while xrandr changes the monitors. On one X screen split
// into two monitors: a display switched on in the Displays pane whose monitor goes away leaves
// nothing over the editor and its row goes; when the monitor returns, its row is on again and its
// prompter is back in full screen on it, and a click on the row does what the row shows
// (screenshots of the editor after the monitor went and after it came back go to
// test-output/prompter/). On a server of two X screens: a monitor change on screen 0 leaves every
// window there shown and the editor reachable by a hand-over.
#include "platform/screens/ScreenProvider.h"

#include <gtest/gtest.h>

// Xlib's macros after gtest, which uses the same names.
#include "EndToEndSupport.h"

namespace fs = std::filesystem;
using namespace endtoend;

namespace {

const QRect leftMonitor(0, 0, 1280, 1080);
const QRect rightMonitor(1280, 0, 1280, 1080);

bool addRightMonitor() {
    return xrandr({"--setmonitor", "RIGHT", "1280/338x1080/285+1280+0", "none"});
}

// What the row's switch at `centre` shows: a white box, empty when off, with a dark tick when on;
// none when no switch is drawn there.
enum class Switch { none, off, on };
Switch switchAt(const QImage& image, QPoint centre) {
    int light = 0, dark = 0;
    for (int y = centre.y() - 3; y <= centre.y() + 3; ++y) {
        for (int x = centre.x() - 3; x <= centre.x() + 3; ++x) {
            const int grey = qGray(image.pixel(x, y));
            light += grey >= 250 ? 1 : 0; // the box is white, the pane around it grey
            dark += grey < 120 ? 1 : 0;
        }
    }
    if (light + dark < 40) {
        return Switch::none;
    }
    return dark > 0 ? Switch::on : Switch::off;
}

class DisplaysEndToEnd : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        if (!setUpDone()) {
            return;
        }
        if (!xrandr({"--version"})) {
            GTEST_SKIP() << "xrandr is not installed";
        }
        script = makeScript("sample.cwr", QStringLiteral("A line of the script.\n"));
    }
    void TearDown() override {
        AppTest::TearDown();
        removeMonitors({"LEFT", "RIGHT", "A"});
    }
    // Skips unless the X server has `count` screens.
    bool hasScreens(int count) const { return ScreenCount(display) == count; }

    // The viewable prompter window's frame; none while there is none.
    std::optional<QRect> prompter() {
        const std::optional<Window> window = findWindow(display, root, "Prompter Window");
        return window ? std::optional(rootGeometry(display, *window)) : std::nullopt;
    }
    bool waitForPrompterOn(const QRect& monitor) {
        return waitFor(*app, [&] { return prompter() == monitor; });
    }
    bool waitForSwitches(Switch first, Switch second) {
        return waitFor(*app, [&] {
            const QImage shot = grabRoot(display);
            return switchAt(shot, rowSwitch(0)) == first && switchAt(shot, rowSwitch(1)) == second;
        });
    }
    // The switch of the pane's row `row` (0 on top): a fixed way in from the editor's right
    // edge, as the sidebar keeps its width.
    QPoint rowSwitch(int row) const {
        const QRect client = rootGeometry(display, *editor);
        return QPoint(client.right() - 275, client.top() + 124 + row * 162);
    }
    bool click(QPoint at) {
        return xdotool({"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1"});
    }
    void save(const QImage& image, const char* name) {
        image.save(QString::fromStdString((outputDir("prompter") / name).string()));
    }

    // Changes the monitors with `arguments` and waits until the application answered: each
    // window named in `names` on screen 0 was unmapped (hidden to move, or made anew by Qt) and a
    // window of that name is shown there again. False when one stays away.
    bool survivesMonitorChange(const std::vector<std::string>& names, const QStringList& arguments) {
        std::vector<Window> watched;
        for (const std::string& name : names) {
            const std::optional<Window> window =
                findWindow(display, root, [&](const std::string& n) { return n == name; });
            if (!window) {
                ADD_FAILURE() << name << " is not shown before the change";
                return false;
            }
            XSelectInput(display, *window, StructureNotifyMask);
            watched.push_back(*window);
        }
        XSync(display, False);
        if (!xrandr(arguments)) {
            return false;
        }
        std::set<Window> unmapped;
        const bool answered = waitFor(*app, [&] {
            XEvent event;
            for (const Window window : watched) {
                if (XCheckTypedWindowEvent(display, window, UnmapNotify, &event) ||
                    XCheckTypedWindowEvent(display, window, DestroyNotify, &event)) {
                    unmapped.insert(window);
                }
            }
            return unmapped.size() == watched.size();
        });
        EXPECT_TRUE(answered) << "the application did not answer the monitor change";
        for (const std::string& name : names) {
            EXPECT_TRUE(waitForNamed(*app, name)) << name << " is not shown after the change";
        }
        return answered && !::testing::Test::HasFailure();
    }
    // A later start handing the script over: whether it ended at once, its file taken.
    bool handsOver() {
        QProcess& later = start({pathArg(script)});
        return later.waitForFinished(60000) && later.exitStatus() == QProcess::NormalExit &&
               later.exitCode() == 0;
    }

    fs::path script;
    QProcess* app = nullptr;
    std::optional<Window> editor;
};

TEST_F(DisplaysEndToEnd, APrompterWhoseDisplayGoesWaitsForItAndNeverCoversTheEditor) {
    if (!hasScreens(1)) {
        GTEST_SKIP() << "wants one X screen, the server has " << ScreenCount(display);
    }
    ASSERT_TRUE(xrandr({"--setmonitor", "LEFT", "1280/338x1080/285+0+0", "screen"}));
    ASSERT_TRUE(addRightMonitor());
    app = &start({pathArg(script)});
    editor = waitForNamed(*app, "sample.cwr");
    ASSERT_TRUE(editor) << "no editor window";
    ASSERT_TRUE(leftMonitor.contains(rootGeometry(display, *editor))) << "the editor is not on LEFT";
    ASSERT_TRUE(activate(*editor));
    ASSERT_TRUE(xdotool({"key", "ctrl+alt+3"})); // the Displays pane
    ASSERT_TRUE(waitForSwitches(Switch::off, Switch::off)) << "no rows for the two monitors";
    // Rows go by display id, highest first.
    const auto id = [](const char* name) {
        return platform::ScreenProvider::displayIDFromUUIDString(
            platform::ScreenProvider::displayUUID("", "", "", name));
    };
    const int right = id("RIGHT") > id("LEFT") ? 0 : 1;

    ASSERT_TRUE(click(rowSwitch(right)));
    ASSERT_TRUE(waitForPrompterOn(rightMonitor)) << "no prompter in full screen on RIGHT";
    ASSERT_TRUE(
        waitForSwitches(right == 0 ? Switch::on : Switch::off, right == 0 ? Switch::off : Switch::on));

    // Unplugged: LEFT's row alone, on top, and nothing over the editor.
    // The rows are laid out again after the application has handled the loss (the window
    // manager may move a full-screen window off the monitor before that).
    ASSERT_TRUE(xrandr({"--delmonitor", "RIGHT"}));
    EXPECT_TRUE(waitForSwitches(Switch::off, Switch::none))
        << "RIGHT's row stays, or a window covers the pane";
    EXPECT_EQ(prompter(), std::nullopt) << "a prompter is left over the editor";
    save(grabRoot(display), "display-gone-editor.png");
    EXPECT_TRUE(activate(*editor)) << "the editor cannot be reached";

    // Plugged in again: its row on and its prompter back in full screen on it.
    ASSERT_TRUE(addRightMonitor());
    EXPECT_TRUE(waitForPrompterOn(rightMonitor)) << "the prompter did not come back on RIGHT";
    EXPECT_TRUE(waitForSwitches(right == 0 ? Switch::on : Switch::off, right == 0 ? Switch::off : Switch::on))
        << "RIGHT's row does not show its prompter";
    save(grabRoot(display), "display-back-editor.png");

    // A click does what the row shows: off, and the prompter closes.
    ASSERT_TRUE(click(rowSwitch(right)));
    EXPECT_TRUE(waitForSwitches(Switch::off, Switch::off)) << "the row stays on";
    EXPECT_TRUE(waitFor(*app, [&] { return !prompter(); })) << "the prompter stays";
    EXPECT_TRUE(quit(*app, *editor));
}

// On an X server with two screens, a monitor made on screen 0 replaces the display Qt had for
// the whole screen, and taking it away brings that one back: every window on screen 0 (the start
// window, then the editor, a prompter, the settings and the small windows) is shown again after
// each change, and a later start hands its script over to the editor.
TEST_F(DisplaysEndToEnd, EveryWindowStaysShownThroughAMonitorChangeBesideAnotherXScreen) {
    if (!hasScreens(2)) {
        GTEST_SKIP() << "wants two X screens, the server has " << ScreenCount(display);
    }
    setDefault(cw::settings::startupMode, "DoNothing"); // the start window alone
    app = &start({});
    ASSERT_TRUE(waitForNamed(*app, "Cuewright")) << "no start window";
    ASSERT_TRUE(survivesMonitorChange({"Cuewright"}, {"--setmonitor", "A", "640/169x800/212+0+0", "screen"}));

    ASSERT_TRUE(handsOver());
    editor = waitForNamed(*app, "sample.cwr");
    ASSERT_TRUE(editor) << "the handed-over script has no editor on screen 0";
    const std::vector<std::pair<const char*, QStringList>> opened = {
        {"Prompter Window - sample.cwr", {"ctrl+shift+p"}},
        {"General", {"ctrl+comma"}},
        {"Keyboard Shortcuts", {"alt+h", "Down", "Return"}},
        {"Gamepad Layout", {"alt+h", "Down", "Down", "Return"}},
        {"Cuewright Remote", {"alt+h", "Down", "Down", "Down", "Return"}},
        {"Remote Control", {"alt+c", "Down", "Down", "Down", "Down", "Return"}},
    };
    std::vector<std::string> names = {"sample.cwr"};
    for (const auto& [name, keys] : opened) {
        ASSERT_TRUE(activate(*editor) && pressKeysThroughMenu(*app, display, keys));
        ASSERT_TRUE(waitForNamed(*app, name)) << name << " did not open on screen 0";
        names.emplace_back(name);
    }
    ASSERT_TRUE(survivesMonitorChange(names, {"--delmonitor", "A"}));

    ASSERT_TRUE(handsOver());
    EXPECT_TRUE(waitFor(*app, [&] {
        editor = findWindow(display, root, [](const std::string& name) { return name == "sample.cwr"; });
        return editor && activeWindow(display) == *editor;
    })) << "the hand-over does not bring the editor forward";
    EXPECT_TRUE(quit(*app, *editor));
}

} // namespace

CW_END_TO_END_MAIN()

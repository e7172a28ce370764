// The real cuewright binary under openbox on one X screen split into two monitors with xrandr:
// a display switched on in the Displays pane whose monitor goes away leaves nothing over the
// editor and its row goes; when the monitor returns, its row is on again and its prompter is back
// in full screen on it, and a click on the row does what the row shows. Screenshots of the editor
// after the monitor went and after it came back go to test-output/prompter/.
#include "platform/screens/ScreenProvider.h"

#include <gtest/gtest.h>

// Xlib's macros after gtest, which uses the same names.
#include "EndToEndSupport.h"

namespace fs = std::filesystem;
using namespace endtoend;

namespace {

const QRect leftMonitor(0, 0, 1280, 1080);
const QRect rightMonitor(1280, 0, 1280, 1080);

bool xrandr(const QStringList& arguments) {
    QProcess tool;
    tool.start(QStringLiteral("xrandr"), arguments);
    return tool.waitForFinished(15000) && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}
bool addRightMonitor() {
    return xrandr({"--setmonitor", "RIGHT", "1280/338x1080/285+1280+0", "none"});
}

// The whole root window as X holds it.
QImage grabRoot(Display* display) {
    const Window root = DefaultRootWindow(display);
    XWindowAttributes attributes;
    XGetWindowAttributes(display, root, &attributes);
    XImage* shot = XGetImage(display, root, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
    if (shot == nullptr) {
        return {};
    }
    QImage image = QImage(reinterpret_cast<const uchar*>(shot->data), shot->width, shot->height,
                          shot->bytes_per_line, QImage::Format_RGB32)
                       .copy();
    XDestroyImage(shot);
    return image;
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
        ASSERT_TRUE(xrandr({"--setmonitor", "LEFT", "1280/338x1080/285+0+0", "screen"}));
        ASSERT_TRUE(addRightMonitor());
        script = makeScript("sample.cwr", QStringLiteral("A line of the script.\n"));
    }
    void TearDown() override {
        xrandr({"--delmonitor", "RIGHT"});
        xrandr({"--delmonitor", "LEFT"});
        AppTest::TearDown();
    }

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

    fs::path script;
    QProcess* app = nullptr;
    std::optional<Window> editor;
};

TEST_F(DisplaysEndToEnd, APrompterWhoseDisplayGoesWaitsForItAndNeverCoversTheEditor) {
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
    ASSERT_TRUE(xrandr({"--delmonitor", "RIGHT"}));
    ASSERT_TRUE(waitFor(*app, [&] { return prompter() != rightMonitor; }));
    EXPECT_EQ(prompter(), std::nullopt) << "a prompter is left over the editor";
    EXPECT_TRUE(waitForSwitches(Switch::off, Switch::none)) << "RIGHT's row stays";
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

} // namespace

CW_END_TO_END_MAIN()

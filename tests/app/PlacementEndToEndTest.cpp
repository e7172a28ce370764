// The real cuewright binary at QT_SCALE_FACTOR 1.5 on a 1280 x 800 screen under openbox: every
// window it opens (the editor, each settings pane, a prompter, the keyboard shortcuts, the gamepad
// layout, the companion app and the remote control) lies within the screen, frame and title bar
// included, a prompter kept on a monitor that is gone as well.
// A picture of the settings window goes to test-output/app/.
#include <gtest/gtest.h>

// Xlib's macros after gtest, which uses the same names.
#include "EndToEndSupport.h"

using namespace endtoend;

namespace {

// The window manager's frame around `window`: its ancestor just below the root.
QRect frameOf(Display* display, Window window) {
    Window top = window;
    for (;;) {
        Window rootWindow = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display, top, &rootWindow, &parent, &children, &count)) {
            break;
        }
        if (children) {
            XFree(children);
        }
        if (parent == 0 || parent == rootWindow) {
            break;
        }
        top = parent;
    }
    return rootGeometry(display, top);
}

class PlacementEndToEnd : public AppTest {
protected:
    // Waits for the window named `name`, framed; whether its frame lies within the screen.
    bool framedWithinScreen(QProcess& app, const std::string& name) {
        const QRect screen(0, 0, DisplayWidth(display, 0), DisplayHeight(display, 0));
        QRect frame, client;
        const bool framed = waitFor(app, [&] {
            const std::optional<Window> window =
                findWindow(display, root, [&](const std::string& n) { return n == name; });
            if (!window) {
                return false;
            }
            client = rootGeometry(display, *window);
            frame = frameOf(display, *window);
            return frame != client && frame.contains(client);
        });
        EXPECT_TRUE(framed) << name << " never showed in a frame";
        EXPECT_TRUE(screen.contains(frame)) << name << " lies outside the screen: " << frame.x() << ","
                                            << frame.y() << " " << frame.width() << "x" << frame.height();
        return framed && screen.contains(frame);
    }
};

TEST_F(PlacementEndToEnd, EveryWindowLiesWithinTheScreenAtScaleOneAndAHalf) {
    environment.insert("QT_SCALE_FACTOR", "1.5");
    const auto script = makeScript("placed.cwr", QStringLiteral("A line of the script.\n"));
    QProcess& app = start({pathArg(script)});
    const std::optional<Window> editor = waitForNamed(app, "placed.cwr");
    ASSERT_TRUE(editor) << "no editor window";
    EXPECT_TRUE(framedWithinScreen(app, "placed.cwr"));

    ASSERT_TRUE(activate(*editor) && xdotool({"key", "ctrl+comma"}));
    EXPECT_TRUE(framedWithinScreen(app, "General"));
    // The picture once the window has painted: its left edge shows its own background (a scroll
    // bar may run down the right one).
    const std::optional<Window> settings = findWindow(display, root, "General");
    ASSERT_TRUE(settings);
    const QRect client = rootGeometry(display, *settings).adjusted(2, 2, -2, -2);
    QImage shot;
    EXPECT_TRUE(waitFor(app, [&] {
        shot = grabRoot(display);
        const QRgb corner = shot.pixel(client.topLeft());
        return shot.pixel(client.left(), client.center().y()) == corner &&
               shot.pixel(client.bottomLeft()) == corner;
    })) << "the settings window never painted";
    shot.save(QString::fromStdString((outputDir() / "settings-at-scale-1.5.png").string()));
    for (const char* pane : {"Script", "Remote control", "Keys", "Updates"}) {
        ASSERT_TRUE(xdotool({"key", "ctrl+Next"})); // the next pane
        EXPECT_TRUE(framedWithinScreen(app, pane));
    }

    const std::pair<const char*, QStringList> others[] = {
        {"Prompter Window - placed.cwr", {"ctrl+shift+p"}},
        {"Keyboard Shortcuts", {"alt+h", "Down", "Return"}},
        {"Gamepad Layout", {"alt+h", "Down", "Down", "Return"}},
        {"Cuewright Remote", {"alt+h", "Down", "Down", "Down", "Return"}},
        {"Remote Control", {"alt+c", "Down", "Down", "Down", "Down", "Return"}},
    };
    for (const auto& [name, keys] : others) {
        ASSERT_TRUE(activate(*editor) && pressKeysThroughMenu(app, display, keys));
        EXPECT_TRUE(framedWithinScreen(app, name));
    }
    EXPECT_TRUE(quit(app, *editor));
}

// A prompter kept where a monitor no longer is, or larger than the screen, opens wholly inside it;
// one kept smaller than a prompter may be opens at the smallest size it may have.
TEST_F(PlacementEndToEnd, AKeptPrompterFrameComesBackWithinTheScreen) {
    const auto script = makeScript("kept.cwr", QStringLiteral("A line of the script.\n"));
    const std::string prompter = "Prompter Window - kept.cwr";
    for (const char* kept : {"{{2100, 100}, {800, 600}}", "{{0, 0}, {9000, 7000}}", "{{10, 10}, {1, 1}}"}) {
        setDefault(cw::settings::prompterWindowFrameNormal, kept);
        QProcess& app = start({pathArg(script)});
        const std::optional<Window> editor = waitForNamed(app, "kept.cwr");
        ASSERT_TRUE(editor) << "no editor window";
        ASSERT_TRUE(activate(*editor) && xdotool({"key", "ctrl+shift+p"}));
        EXPECT_TRUE(framedWithinScreen(app, prompter)) << kept;
        const std::optional<Window> window = findWindow(display, root, prompter);
        ASSERT_TRUE(window);
        const QSize size = rootGeometry(display, *window).size();
        EXPECT_TRUE(size.width() >= 320 && size.height() >= 200)
            << kept << ": " << size.width() << "x" << size.height();
        EXPECT_TRUE(quit(app, *editor));
    }
}

// A prompter of 800 x 600 closed while in full screen (F11, then Ctrl+W), and then while maximised
// (a double click on its title bar), opens again at 800 x 600 in its frame, not over the whole screen.
TEST_F(PlacementEndToEnd, APrompterClosedInFullScreenOrMaximisedOpensAgainAtItsOwnSize) {
    const auto script = makeScript("full.cwr", QStringLiteral("A line of the script.\n"));
    const std::string name = "Prompter Window - full.cwr";
    QProcess& app = start({pathArg(script)});
    const std::optional<Window> editor = waitForNamed(app, "full.cwr");
    ASSERT_TRUE(editor) << "no editor window";
    const QSize screen(DisplayWidth(display, 0), DisplayHeight(display, 0));
    const auto sizeOf = [&](Window window) { return rootGeometry(display, window).size(); };
    ASSERT_TRUE(activate(*editor) && xdotool({"key", "ctrl+shift+p"}));
    std::optional<Window> prompter = waitForNamed(app, name);
    ASSERT_TRUE(prompter) << "no prompter window";
    ASSERT_TRUE(xdotool({"windowsize", "--sync", QString::number(*prompter), "800", "600"}));
    ASSERT_TRUE(waitFor(app, [&] { return sizeOf(*prompter) == QSize(800, 600); }));
    ASSERT_TRUE(activate(*prompter) && xdotool({"key", "F11"}));
    ASSERT_TRUE(waitFor(app, [&] { return sizeOf(*prompter) == screen; })) << "F11 did not fill the screen";
    ASSERT_TRUE(xdotool({"key", "ctrl+w"}));
    ASSERT_TRUE(waitGone(app, *prompter));

    for (const char* closed : {"in full screen", "maximised"}) {
        ASSERT_TRUE(activate(*editor) && xdotool({"key", "ctrl+shift+p"}));
        prompter = waitForNamed(app, name);
        ASSERT_TRUE(prompter) << "no prompter window after one closed " << closed;
        EXPECT_TRUE(framedWithinScreen(app, name));
        EXPECT_EQ(sizeOf(*prompter), QSize(800, 600)) << "after one closed " << closed;
        const QRect title = rootGeometry(display, *prompter).adjusted(0, -8, 0, 0);
        ASSERT_TRUE(xdotool({"mousemove", QString::number(title.center().x()), QString::number(title.top()),
                             "click", "--repeat", "2", "1"}));
        ASSERT_TRUE(waitFor(app, [&] { return sizeOf(*prompter).width() > 800; })) << "not maximised";
        ASSERT_TRUE(xdotool({"key", "ctrl+w"}) && waitGone(app, *prompter));
    }
    EXPECT_TRUE(quit(app, *editor));
}

} // namespace

CW_END_TO_END_MAIN()

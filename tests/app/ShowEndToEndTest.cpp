// The real cuewright binary under openbox while the presenter works in another application: a
// network remote's StartPlayback plays and leaves that application's window active; a fast wind
// bound to F9 for use in the background, held there and released once the settings window has
// come forward, ends; a binding for use in the background acts with Caps Lock on; a play key bound
// for use in the background acts from the settings window
// and in the application the keyboard goes to when they close; and a prompter that the
// application moves and shrinks onto a smaller monitor (xrandr splits the screen) fits its frame
// into the monitor and shows every line whole (its screenshot goes to test-output/prompter/).
#include "cuewright/model/KeyBindings.h"
#include "platform/keys/KeyCodes.h"
#include "platform/keys/ModifierFlags.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

// Xlib's macros after gtest, which uses the same names.
#include "EndToEndSupport.h"
#include "XRecording.h"

#include <X11/Xproto.h>
#include <X11/extensions/shmproto.h>
#include <X11/keysym.h>

#include <cstring>

namespace fs = std::filesystem;
using namespace endtoend;
namespace kc = platform::keycode;

namespace {

// The requests one X client sends, seen through RECORD on connections of its own: its requests
// to activate a window (_NET_ACTIVE_WINDOW), and its drawings into windows, plain and shared.
class RequestRecorder {
public:
    // Records the client that made `window`.
    explicit RequestRecorder(Window window)
        : recording_(ranges(), window, [this](const XRecordInterceptData& record) { count(record); }) {}

    bool isRecording() const { return recording_.isRecording(); }
    int repaints() {
        recording_.process();
        return repaints_;
    }
    int activations() {
        recording_.process();
        return activations_;
    }

private:
    // SendEvent, PutImage and MIT-SHM's ShmPutImage.
    std::vector<XRecordRange> ranges() {
        Display* connection = XOpenDisplay(nullptr);
        int opcode = 0, event = 0, error = 0;
        XQueryExtension(connection, "MIT-SHM", &opcode, &event, &error);
        shmOpcode_ = opcode;
        activeWindow_ = XInternAtom(connection, "_NET_ACTIVE_WINDOW", False);
        XCloseDisplay(connection);
        XRecordRange sent{}, drawn{};
        sent.core_requests = {X_SendEvent, X_SendEvent};
        drawn.core_requests = {X_PutImage, X_PutImage};
        if (shmOpcode_ != 0) {
            drawn.ext_requests.ext_major = {std::uint8_t(shmOpcode_), std::uint8_t(shmOpcode_)};
            drawn.ext_requests.ext_minor = {X_ShmPutImage, X_ShmPutImage};
        }
        return {sent, drawn};
    }
    void count(const XRecordInterceptData& record) {
        const auto* bytes = record.data;
        if (record.category != XRecordFromClient || record.data_len * 4 < 4) {
            return;
        }
        if (bytes[0] == X_PutImage ||
            (shmOpcode_ != 0 && bytes[0] == shmOpcode_ && bytes[1] == X_ShmPutImage)) {
            ++repaints_;
        } else if (bytes[0] == X_SendEvent && record.data_len * 4 >= 44 &&
                   (bytes[12] & 0x7F) == ClientMessage) {
            std::uint32_t type = 0;
            std::memcpy(&type, bytes + 20, sizeof type);
            activations_ += type == activeWindow_ ? 1 : 0;
        }
    }

    int shmOpcode_ = 0;
    Atom activeWindow_ = 0;
    int repaints_ = 0;
    int activations_ = 0;
    XRecording recording_; // last: its handler uses the fields above
};

// Whether the screenshot has a light pixel (a glyph) in the columns `fromRight` to `toRight`
// points left of the client area's right edge, above the window's bottom bar.
bool glyphIn(const QImage& shot, const QRect& client, int fromRight, int toRight) {
    for (int y = client.top() + 10; y < client.bottom() - 80; ++y) {
        for (int x = client.right() - fromRight; x <= client.right() - toRight; ++x) {
            if (qGray(shot.pixel(x, y)) > 160) {
                return true;
            }
        }
    }
    return false;
}

// The window manager's frame around a client window: the client's ancestor just below the root.
Window frameOf(Display* display, Window window) {
    for (;;) {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display, window, &root, &parent, &children, &count)) {
            return window;
        }
        if (children) {
            XFree(children);
        }
        if (parent == root || parent == 0) {
            return window;
        }
        window = parent;
    }
}

class ShowEndToEnd : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        if (!setUpDone()) {
            return;
        }
        XAutoRepeatOff(display); // a held key repeats no press into the window that comes next
        XFlush(display);
        QString text;
        for (int i = 1; i <= 12; ++i) {
            text += QStringLiteral("L%1 quick quick over the lazy dog and far away again.\n").arg(i);
        }
        script = makeScript("sample.cwr", platform::AttributedString(text), [](cw::Project& project) {
            auto properties = project.document().scriptProperties;
            properties.textAlignment = cw::TextAlignment::right; // the lines end at the column's edge
            project.setScriptProperties(properties);
        });
    }
    void TearDown() override {
        if (slides != 0) {
            XDestroyWindow(display, slides); // before the fixture closes the display
        }
        AppTest::TearDown();
        removeMonitors({"LEFT", "RIGHT"});
    }

    // Starts the application on the script with its remote control on, and opens a prompter.
    void startWithPrompter() {
        startWithRemote(script, app, editor, port);
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_TRUE(activate(*editor) && xdotool({"key", "ctrl+shift+p"}));
        prompter = waitForWindow(*app, "Prompter Window");
        ASSERT_TRUE(prompter) << "Ctrl+Shift+P opened no prompter window";
        // Opened from the editor's keys, it takes the keyboard.
        ASSERT_TRUE(waitFor(*app, [&] { return activeWindow(display) == *prompter; }))
            << "the prompter opened from the editor did not become active";
        // W speeds up there: once it has, the prompter's own activation, which waits for the
        // window to be mapped, cannot come after the next one.
        const double speed = askStatus(port).value("scrollSpeed", -1.0);
        pressKeys(display, {XK_w});
        ASSERT_TRUE(waitForStatus([&](const nlohmann::json& s) {
            return s.value("scrollSpeed", speed) != speed;
        })) << "W in the prompter did not speed up";
    }
    // Another application's window, made active: the one the presenter works in.
    void openSlides() {
        // Placed where asked, over the prompter: a window manager's own placement would avoid it.
        slides = XCreateSimpleWindow(display, root, 300, 100, 400, 300, 0, 0, 0xFFFFFF);
        XSizeHints hints{};
        hints.flags = USPosition | USSize;
        hints.x = 300;
        hints.y = 100;
        hints.width = 400;
        hints.height = 300;
        XSetWMNormalHints(display, slides, &hints);
        XStoreName(display, slides, "Slides");
        XMapRaised(display, slides);
        XSync(display, False);
        ASSERT_TRUE(waitFor(*app, [&] {
            XWindowAttributes a;
            return XGetWindowAttributes(display, slides, &a) && a.map_state == IsViewable;
        }));
        ASSERT_TRUE(activate(slides));
        ASSERT_EQ(activeWindow(display), slides);
    }
    // The application's `bindings` and F8 to speed up, also while another application is in
    // front, for the next start.
    void listenInTheBackground(cw::KeyBindings bindings) {
        bindings.incSpeed = cw::KeyBindings::Key{kc::f8, platform::modifier::function};
        setDefault(cw::settings::customKeyBindings, bindings.storedValue());
        setDefault(cw::settings::listenToShortcutsInBackground, true);
    }
    // Waits until F8 typed in the window in front speeds up: the key monitor sees another
    // application's keys.
    bool isBehind() {
        const double speed = askStatus(port).value("scrollSpeed", -1.0);
        return waitFor(*app, [&] {
            pressKeys(display, {XK_F8});
            return askStatus(port).value("scrollSpeed", speed) != speed;
        });
    }
    bool waitForStatus(const std::function<bool(const nlohmann::json&)>& holds) {
        return waitFor(*app, [&] {
            const nlohmann::json status = askStatus(port);
            return !status.is_null() && holds(status);
        });
    }
    // Waits until the window manager has handled every request sent to it so far: it answers a
    // frame-extents request for a window of ours by setting a property on it.
    bool windowManagerCaughtUp() {
        const Window probe = XCreateSimpleWindow(display, root, 0, 0, 10, 10, 0, 0, 0);
        const Atom extents = XInternAtom(display, "_NET_FRAME_EXTENTS", False);
        XEvent request{};
        request.xclient.type = ClientMessage;
        request.xclient.window = probe;
        request.xclient.message_type = XInternAtom(display, "_NET_REQUEST_FRAME_EXTENTS", False);
        request.xclient.format = 32;
        XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &request);
        XSync(display, False);
        const bool answered = waitFor(*app, [&] {
            Atom type = 0;
            int format = 0;
            unsigned long count = 0, after = 0;
            unsigned char* data = nullptr;
            const bool set = XGetWindowProperty(display, probe, extents, 0, 4, False, AnyPropertyType, &type,
                                                &format, &count, &after, &data) == Success &&
                             type != None;
            if (data) {
                XFree(data);
            }
            return set;
        });
        XDestroyWindow(display, probe);
        return answered;
    }

    std::optional<Window> prompterAfterASplit(int height);
    QRect leftMonitor() const { return QRect(0, 0, 800, DisplayHeight(display, 0)); }

    fs::path script;
    QProcess* app = nullptr;
    std::optional<Window> editor;
    std::optional<Window> prompter;
    std::uint16_t port = 0;
    Window slides = 0;
};

// StartPlayback from a network remote while the presenter is in another application: the script
// plays, its prompter comes forward, and the keyboard stays where it was.
TEST_F(ShowEndToEnd, ARemoteStartLeavesTheKeyboardWithTheApplicationInFront) {
    listenInTheBackground({});
    startWithPrompter();
    ASSERT_FALSE(HasFatalFailure());
    openSlides();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(isBehind()) << "the application never saw that it is not in front";
    ASSERT_TRUE(stackedAbove(display, slides, *prompter));
    // The prompter repaints as it scrolls. An activation asked for in answer to the command goes
    // to the server before the repaints that follow it: once two of them are seen, it would be.
    RequestRecorder requests(*prompter);
    ASSERT_TRUE(requests.isRecording());
    remoteReply(port, "StartPlayback");
    ASSERT_TRUE(waitForStatus([](const nlohmann::json& s) {
        return s.value("transportState", "") == "playing";
    })) << "StartPlayback did not play";
    const int before = requests.repaints();
    ASSERT_TRUE(waitFor(*app, [&] { return requests.repaints() >= before + 2; }))
        << "the prompter does not scroll";
    EXPECT_EQ(requests.activations(), 0) << "the application asked for the keyboard";
    ASSERT_TRUE(windowManagerCaughtUp());
    EXPECT_EQ(activeWindow(display), slides) << "the prompter took the keyboard";
    EXPECT_TRUE(findWindow(display, root, "Prompter Window")) << "the prompter is not shown";
    EXPECT_TRUE(stackedAbove(display, *prompter, slides)) << "the prompter was not brought forward";
    grabRoot(display).save(
        QString::fromStdString((outputDir("prompter") / "remote-start-slides.png").string()));
}

// F9 bound to fast forward for use in the background: held while the slides are in front, it
// winds fast; the settings window brought forward meanwhile, its release ends the wind.
TEST_F(ShowEndToEnd, AGlobalWindReleasedWithTheSettingsInFrontEnds) {
    cw::KeyBindings bindings;
    bindings.ffwd = cw::KeyBindings::Key{kc::f9, platform::modifier::function};
    listenInTheBackground(bindings);
    startWithPrompter();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(activate(*editor) && xdotool({"key", "ctrl+comma"}));
    const std::optional<Window> settingsWindow = waitForNamed(*app, "General");
    ASSERT_TRUE(settingsWindow) << "Ctrl+, opened no settings";
    openSlides();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(isBehind()) << "the application never saw that it is not in front";

    const auto direction = [](double factor) {
        return [factor](const nlohmann::json& s) { return s.value("scrollDirection", 0.0) == factor; };
    };
    // Synced: Xvfb may leave a fake key event queued until its next request.
    XTestFakeKeyEvent(display, XKeysymToKeycode(display, XK_F9), True, CurrentTime);
    XSync(display, False);
    ASSERT_TRUE(waitForStatus(direction(5.0))) << "F9 held in another application did not wind fast";
    ASSERT_TRUE(activate(*settingsWindow));
    XTestFakeKeyEvent(display, XKeysymToKeycode(display, XK_F9), False, CurrentTime);
    XSync(display, False);
    EXPECT_TRUE(waitForStatus(direction(1.0))) << "the wind went on after F9 went up";
}

// With Caps Lock on, a binding for use in the background acts from another application.
TEST_F(ShowEndToEnd, ABackgroundBindingActsWithCapsLockOn) {
    listenInTheBackground({});
    startWithPrompter();
    ASSERT_FALSE(HasFatalFailure());
    openSlides();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(setLock(*app, display, capsLock, true)) << "Caps Lock did not lock";
    EXPECT_TRUE(isBehind()) << "F8 in another application with Caps Lock on did not speed up";
}

// F8 bound to Play/Pause for use in the background plays and pauses from the settings window; the
// settings closed with Ctrl+W, the window manager gives the keyboard back to the slides, and F8
// pressed there once plays again.
TEST_F(ShowEndToEnd, BindingsActFromTheSettingsAndWhereTheKeyboardGoesWhenTheyClose) {
    cw::KeyBindings bindings;
    bindings.playPause = cw::KeyBindings::Key{kc::f8, platform::modifier::function};
    setDefault(cw::settings::customKeyBindings, bindings.storedValue());
    setDefault(cw::settings::listenToShortcutsInBackground, true);
    startWithPrompter();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(activate(*editor) && xdotool({"key", "ctrl+comma"}));
    const std::optional<Window> settingsWindow = waitForNamed(*app, "General");
    ASSERT_TRUE(settingsWindow) << "Ctrl+, opened no settings";
    openSlides(); // the window the keyboard goes back to when the settings close
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(activate(*settingsWindow));

    const auto playing = [](const nlohmann::json& s) { return s.value("transportState", "") == "playing"; };
    // Through xdotool, which takes its time: a press a few milliseconds after a release of the same
    // key is X's auto-repeat.
    ASSERT_TRUE(xdotool({"key", "F8"}));
    EXPECT_TRUE(waitForStatus(playing)) << "F8 in the settings did not play";
    ASSERT_TRUE(xdotool({"key", "F8"}));
    EXPECT_TRUE(waitForStatus([&](const nlohmann::json& s) { return !playing(s); }))
        << "F8 in the settings did not pause";

    ASSERT_TRUE(xdotool({"key", "ctrl+w"}));
    ASSERT_TRUE(waitGone(*app, *settingsWindow)) << "Ctrl+W left the settings open";
    ASSERT_TRUE(waitFor(*app, [&] {
        Window focus = 0;
        int revertTo = 0;
        XGetInputFocus(display, &focus, &revertTo);
        return focus == slides && activeWindow(display) == slides;
    })) << "the window manager did not give the keyboard to the slides";
    ASSERT_TRUE(xdotool({"key", "F8"}));
    EXPECT_TRUE(waitForStatus(playing)) << "F8 in the slides after the settings closed did not play";
}

// A 1000-point prompter of `height` on a 1600-point screen that xrandr splits into two 800-point
// monitors: it is moved onto the left one. Returns the moved window, none when that failed.
std::optional<Window> ShowEndToEnd::prompterAfterASplit(int height) {
    if (!xrandr({"--version"})) {
        ADD_FAILURE() << "xrandr is not installed";
        return std::nullopt;
    }
    EXPECT_EQ(DisplayWidth(display, 0), 1600) << "wants a 1600-point screen";
    setDefault(cw::settings::prompterWindowFrameNormal,
               QStringLiteral("{{100, 30}, {960, %1}}").arg(height).toStdString());
    for (const auto key :
         {cw::settings::showControlsInTeleprompterWindow, cw::settings::showTimestampInTeleprompterWindow,
          cw::settings::showProgressInPrompterWindow}) {
        setDefault(key, false);
    }
    startWithPrompter();
    if (HasFatalFailure() ||
        !waitFor(*app, [&] { return rootGeometry(display, *prompter).width() == 960; })) {
        ADD_FAILURE() << "no 960-point prompter";
        return std::nullopt;
    }
    // Made 1000 points wide by hand first, and laid out for that width once the resize is over
    // (its lines end 55 points short of the edge, not 73 as at 960): no layout is left pending.
    if (!xdotool({"windowsize", QString::number(*prompter), "1000", QString::number(height)}) ||
        !waitFor(*app, [&] {
            const QRect client = rootGeometry(display, *prompter);
            const QImage shot = grabRoot(display);
            return client.width() == 1000 && glyphIn(shot, client, 62, 48) && !glyphIn(shot, client, 47, 0);
        })) {
        ADD_FAILURE() << "the prompter did not lay its text out for 1000 points";
        return std::nullopt;
    }
    const int screenHeight = DisplayHeight(display, 0);
    // The right half first: the left one then takes the screen's output, and the display the
    // prompter was on goes.
    if (!xrandr(
            {"--setmonitor", "RIGHT", QStringLiteral("800/211x%1/185+800+0").arg(screenHeight), "none"}) ||
        !xrandr({"--setmonitor", "LEFT", QStringLiteral("800/211x%1/185+0+0").arg(screenHeight), "screen"})) {
        ADD_FAILURE() << "xrandr made no monitors";
        return std::nullopt;
    }
    std::optional<Window> moved;
    if (!waitFor(*app, [&] {
            moved = findWindow(display, root, "Prompter Window");
            return moved && leftMonitor().contains(rootGeometry(display, *moved));
        })) {
        ADD_FAILURE() << "the prompter did not move onto the left monitor";
        return std::nullopt;
    }
    return moved;
}

// A prompter moved by a monitor split, short or nearly as tall as the screen, keeps its whole
// frame, title bar included, on the monitor; its text is laid out for its new width: the lines
// (aligned right) end short of the window's right edge, at the text column's margin, and a glyph in
// the last columns of the window is the end of a line cut off.
struct SplitCase {
    const char* name;
    int shortOfScreen; // the prompter's height below the screen's
};

class ShowSplitEndToEnd : public ShowEndToEnd, public ::testing::WithParamInterface<SplitCase> {};

TEST_P(ShowSplitEndToEnd, APrompterShrunkByAMonitorSplitFitsItsFrameAndShowsEveryLineWhole) {
    const SplitCase& split = GetParam();
    const std::optional<Window> moved = prompterAfterASplit(DisplayHeight(display, 0) - split.shortOfScreen);
    ASSERT_TRUE(moved) << split.name;
    XWindowAttributes frame;
    ASSERT_TRUE(XGetWindowAttributes(display, frameOf(display, *moved), &frame)) << split.name;
    EXPECT_TRUE(leftMonitor().contains(QRect(frame.x, frame.y, frame.width, frame.height)))
        << split.name << ": the frame " << frame.x << "," << frame.y << " " << frame.width << "x"
        << frame.height << " is not inside the monitor";
    const QRect client = rootGeometry(display, *moved);
    QImage shot;
    EXPECT_TRUE(waitFor(*app,
                        [&] {
                            shot = grabRoot(display);
                            return glyphIn(shot, client, 120, 7) && !glyphIn(shot, client, 6, 0);
                        }))
        << split.name << ": the lines do not end inside the window, short of its right edge";
    shot.copy(client).save(QString::fromStdString(
        (outputDir("prompter") / ("prompter-after-monitor-split-" + std::string(split.name) + ".png"))
            .string()));
}

INSTANTIATE_TEST_SUITE_P(Heights, ShowSplitEndToEnd,
                         ::testing::Values(SplitCase{"short", 60}, SplitCase{"asTallAsTheScreen", 40}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace

CW_END_TO_END_MAIN()

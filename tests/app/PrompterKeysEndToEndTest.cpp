// The real cuewright binary under openbox, driven through XTest and xdotool, its transport read
// back through its own remote-control status on the loopback address: held winds, bindings and
// keys in the prompter windows and the editor; pictures for a person to look at.
#include "cuewright/model/KeyBindings.h"
#include "platform/keys/KeyCodes.h"
#include "platform/keys/ModifierFlags.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

// Xlib's macros after gtest, which uses the same names.
#include "EndToEndSupport.h"
#include "XRecording.h"

#include <X11/XKBlib.h>
#include <X11/extensions/record.h>
#include <X11/keysym.h>

#include <array>

namespace fs = std::filesystem;
using namespace endtoend;
namespace kc = platform::keycode;
namespace mod = platform::modifier;

namespace {

// The key presses the X server delivers to anyone, its auto-repeats included, seen through RECORD
// on connections of its own.
class KeyPressCounter {
public:
    // Whether X repeats the key, held down, while `app` waits: three presses of it seen.
    bool repeats(QProcess& app, Display* display, KeySym symbol) {
        return recording_.isRecording() && waitFor(app, [&] {
                   recording_.process();
                   return counts_[XKeysymToKeycode(display, symbol)] >= 3;
               });
    }

private:
    std::array<int, 256> counts_{};
    XRecording recording_{{keyPresses()}, XRecordAllClients, [this](const XRecordInterceptData& record) {
                              if (record.category == XRecordFromServer && record.data_len * 4 >= 2 &&
                                  (record.data[0] & 0x7F) == KeyPress) {
                                  ++counts_[record.data[1]];
                              }
                          }};

    static XRecordRange keyPresses() {
        XRecordRange range{};
        range.device_events.first = KeyPress;
        range.device_events.last = KeyPress;
        return range;
    }
};

void key(Display* display, KeySym symbol, bool down) {
    XTestFakeKeyEvent(display, XKeysymToKeycode(display, symbol), down ? True : False, CurrentTime);
    XFlush(display);
}

class PrompterKeysEndToEnd : public AppTest {
protected:
    enum class Repeats { off, asOnADesktop };
    explicit PrompterKeysEndToEnd(Repeats repeats = Repeats::off)
        : repeats_(repeats) {}

    void SetUp() override {
        AppTest::SetUp();
        if (!setUpDone()) {
            return;
        }
        if (repeats_ == Repeats::off) {
            // A held key repeats no press into whichever window gets the focus next.
            XAutoRepeatOff(display);
        } else {
            // As a desktop's keys do: X repeats a held key after 660 ms, 25 times a second.
            XAutoRepeatOn(display);
            XkbSetAutoRepeatRate(display, XkbUseCoreKbd, 660, 40);
        }
        XFlush(display);
        QString text;
        for (int i = 1; i <= 80; ++i) {
            text += QStringLiteral("Line %1 of the script, read aloud at an even pace.\n").arg(i);
        }
        script = makeScript("sample.cwr", text);
    }

    // Starts the application on the script with `bindings`; its remote control answers on a port
    // the system gave it, found among its sockets (no system bus: nothing is announced). A port
    // chosen here could be taken by anyone before the application binds it.
    void startWith(const cw::KeyBindings& bindings) {
        setDefault(cw::settings::customKeyBindings, bindings.storedValue());
        startWithRemote(script, app, editor, port);
    }

    // Starts with `bindings`, opens a prompter window and plays there with Space; none when that
    // failed (the failure is reported).
    std::optional<Window> playInPrompter(const cw::KeyBindings& bindings) {
        startWith(bindings);
        if (HasFailure()) {
            return std::nullopt;
        }
        const std::optional<Window> prompter = openPrompter();
        if (!prompter || !activate(*prompter)) {
            ADD_FAILURE() << "Ctrl+Shift+P opened no prompter window";
            return std::nullopt;
        }
        pressKeys(display, {XK_space});
        if (!waitForStatus(playing)) {
            ADD_FAILURE() << "Space did not play";
            return std::nullopt;
        }
        return prompter;
    }
    // Opens a prompter window from the editor's Prompter menu: New Prompter Window, or New
    // Transparent Prompter Window below it.
    enum class Kind { normal, transparent };
    std::optional<Window> openFromMenu(Kind kind) {
        const QStringList downs = kind == Kind::normal ? QStringList{"Down"} : QStringList{"Down", "Down"};
        if (!activate(*editor) ||
            !xdotool(QStringList{"key", "--delay", "150", "alt+p"} + downs + QStringList{"Return"})) {
            return std::nullopt;
        }
        return waitForWindow(*app, "Prompter Window");
    }
    // Opens a prompter window with Ctrl+Shift+P in the editor.
    std::optional<Window> openPrompter() {
        if (!activate(*editor) || !xdotool({"key", "ctrl+shift+p"})) {
            return std::nullopt;
        }
        return waitForWindow(*app, "Prompter Window");
    }
    // Ticks the second row of the Displays pane (open), the editor's own screen: its switch sits a
    // fixed way in from the window's right edge (the sidebar keeps its width). The prompter then
    // covering that screen, if one does.
    std::optional<Window> bindOverTheEditor() {
        const QRect client = rootGeometry(display, *editor);
        const QPoint box(client.right() - 275, client.top() + 124 + 162);
        std::optional<Window> bound;
        if (xdotool({"mousemove", QString::number(box.x()), QString::number(box.y()), "click", "1"})) {
            waitFor(*app, [&] {
                const auto shown = viewableOnScreen(display, 0, "Prompter Window");
                bound = findWindow(display, RootWindow(display, 0), "Prompter Window");
                return shown == QSize(DisplayWidth(display, 0), DisplayHeight(display, 0)) && bound;
            });
        }
        return bound;
    }
    bool waitForStatus(const std::function<bool(const nlohmann::json&)>& holds) {
        return waitFor(*app, [&] {
            const nlohmann::json status = askStatus(port);
            return !status.is_null() && holds(status);
        });
    }
    bool keyDoes(const char* keys, const std::function<bool(const nlohmann::json&)>& holds) {
        return xdotool({"key", keys}) && waitForStatus(holds);
    }
    static std::function<bool(const nlohmann::json&)> direction(double factor) {
        return [factor](const nlohmann::json& s) { return s.value("scrollDirection", 0.0) == factor; };
    }
    static bool playing(const nlohmann::json& s) { return s.value("transportState", "") == "playing"; }
    static bool stopped(const nlohmann::json& s) { return !playing(s); }
    static bool advanced(const nlohmann::json& s) { return s.value("playbackProgress", 0.0) > 0; }
    static bool rewound(const nlohmann::json& s) { return s.value("playbackProgress", 1.0) == 0; }

    bool quit() {
        activate(*editor);
        XSetInputFocus(display, *editor, RevertToParent, CurrentTime);
        pressKeys(display, {XK_Control_L, XK_Q});
        // An edited script asks first: do not save.
        if (!app->waitForFinished(5000)) {
            xdotool({"key", "Tab", "Tab", "space"});
            app->waitForFinished(30000);
        }
        return app->state() == QProcess::NotRunning && app->exitCode() == 0;
    }

    fs::path script;
    std::uint16_t port = 0;
    QProcess* app = nullptr;
    std::optional<Window> editor;

private:
    Repeats repeats_;
};

// F held in a playing prompter winds fast; activating the editor while it is held ends the wind
// (the key-up will reach the editor, not the prompter), and the late key-up in the editor, whose
// press it never saw, changes nothing.
TEST_F(PrompterKeysEndToEnd, AHeldFastWindEndsWhenTheEditorIsActivated) {
    cw::KeyBindings bindings;
    bindings.ffwd = cw::KeyBindings::Key{kc::f, 0};
    const std::optional<Window> prompter = playInPrompter(bindings);
    ASSERT_TRUE(prompter);

    key(display, XK_f, true);
    ASSERT_TRUE(waitForStatus(direction(5.0))) << "holding F did not wind fast";
    ASSERT_TRUE(activate(*editor));
    EXPECT_TRUE(waitForStatus(direction(1.0))) << "the wind went on after the prompter lost the focus";
    key(display, XK_f, false);
    ASSERT_TRUE(activate(*prompter));
    pressKeys(display, {XK_space}); // a round trip through the prompter: the F release is behind us
    ASSERT_TRUE(waitForStatus(stopped));
    EXPECT_TRUE(waitForStatus(direction(1.0)));
    EXPECT_TRUE(quit());
}

class HeldKeysEndToEnd : public PrompterKeysEndToEnd {
protected:
    HeldKeysEndToEnd()
        : PrompterKeysEndToEnd(Repeats::asOnADesktop) {}
};

// Alt+F winds fast and Alt+G fast backwards; Alt let go first, the key held on until X repeats it
// without Alt, then let go: the script runs forwards at normal speed again, in a normal and a
// transparent prompter window and in the editor.
TEST_F(HeldKeysEndToEnd, AWindEndsWhenItsKeyGoesUpAfterItsModifierAndRepeats) {
    cw::KeyBindings bindings;
    bindings.ffwd = cw::KeyBindings::Key{kc::f, mod::option};
    bindings.bbwd = cw::KeyBindings::Key{kc::g, mod::option};
    const std::optional<Window> prompter = playInPrompter(bindings);
    ASSERT_TRUE(prompter);

    std::optional<Window> window = prompter;
    for (const char* where : {"prompter", "transparent prompter", "editor"}) {
        if (where == std::string_view("transparent prompter")) {
            ASSERT_TRUE(activate(*prompter) && xdotool({"key", "ctrl+w"}) && waitGone(*app, *prompter));
            window = openFromMenu(Kind::transparent);
        }
        ASSERT_TRUE(window && activate(*window)) << "no " << where << " window";
        for (const auto& [symbol, factor] : {std::pair{XK_f, 5.0}, std::pair{XK_g, -5.0}}) {
            SCOPED_TRACE(testing::Message() << "in the " << where << ", Alt+" << XKeysymToString(symbol));
            KeyPressCounter counter;
            key(display, XK_Alt_L, true);
            key(display, symbol, true);
            EXPECT_TRUE(waitForStatus(direction(factor))) << "holding the key did not wind";
            key(display, XK_Alt_L, false);
            EXPECT_TRUE(counter.repeats(*app, display, symbol)) << "X did not repeat the key";
            key(display, symbol, false);
            EXPECT_TRUE(waitForStatus(direction(1.0))) << "the wind went on after its key went up";
            EXPECT_TRUE(waitForStatus(playing));
        }
        window = editor;
    }
    EXPECT_TRUE(quit());
}

// F9 bound to fast forward and F8 to Play/Pause, held until X repeats them in the prompter and in
// the editor, let go in another application, which got the keyboard meanwhile: once a click on
// the title bar brings the window back, the next press acts.
TEST_F(HeldKeysEndToEnd, ThePressAfterAHoldLetGoInAnotherApplicationActs) {
    cw::KeyBindings bindings;
    bindings.playPause = cw::KeyBindings::Key{kc::f8, mod::function};
    bindings.ffwd = cw::KeyBindings::Key{kc::f9, mod::function};
    const std::optional<Window> prompter = playInPrompter(bindings);
    ASSERT_TRUE(prompter);
    // Another application's window, in a corner away from the title bars.
    const Window other = XCreateSimpleWindow(display, root, 1100, 650, 150, 100, 0, 0, 0);
    XSizeHints place{};
    place.flags = USPosition;
    XSetWMNormalHints(display, other, &place);
    XMapWindow(display, other);
    for (const auto& [window, symbol] :
         {std::pair{*prompter, XK_F9}, {*prompter, XK_F8}, {*editor, XK_F9}, {*editor, XK_F8}}) {
        SCOPED_TRACE(testing::Message()
                     << (window == *editor ? "editor, " : "prompter, ") << XKeysymToString(symbol));
        ASSERT_TRUE(activate(window));
        KeyPressCounter counter;
        key(display, symbol, true);
        ASSERT_TRUE(counter.repeats(*app, display, symbol)) << "no repeats";
        ASSERT_TRUE(activate(other));
        key(display, symbol, false);
        ASSERT_TRUE(waitForStatus(direction(1.0))) << "the wind went on";
        const QRect client = rootGeometry(display, window);
        ASSERT_TRUE(xdotool({"mousemove", QString::number(client.center().x()),
                             QString::number(client.top() - 8), "click", "1"}));
        ASSERT_TRUE(waitFor(*app, [&] { return activeWindow(display) == window; })) << "not back";
        const bool wasPlaying = playing(askStatus(port));
        key(display, symbol, true);
        EXPECT_TRUE(waitForStatus([&](const nlohmann::json& s) {
            return symbol == XK_F9 ? direction(5.0)(s) : playing(s) != wasPlaying;
        })) << "the press after the hold was lost";
        key(display, symbol, false);
        ASSERT_TRUE(waitForStatus(direction(1.0)));
    }
    XDestroyWindow(display, other);
    EXPECT_TRUE(quit());
}

// With Caps Lock off and on, Ctrl+F7 bound to Play/Pause plays and pauses from the editor. With
// Caps Lock on, every key works as with it off: in the prompter Space plays, W and S step the
// speed, the arrows and Page Up and Page Down set the direction, F9 bound to fast forward winds
// while held, F5 pauses and B rewinds. F9's binding was stored with the Caps Lock bit: it winds
// with the lock off too. Num Lock changes nothing either.
TEST_F(PrompterKeysEndToEnd, CapsLockStopsNoKey) {
    cw::KeyBindings bindings;
    bindings.playPause = cw::KeyBindings::Key{kc::f7, mod::command | mod::function};
    bindings.ffwd = cw::KeyBindings::Key{kc::f9, mod::function | mod::capsLock};
    startWith(bindings);
    ASSERT_FALSE(HasFailure());
    ASSERT_TRUE(activate(*editor));
    for (const bool locked : {false, true}) {
        ASSERT_TRUE(setLock(*app, display, capsLock, locked)) << "Caps Lock did not lock";
        SCOPED_TRACE(locked ? "Caps Lock on" : "Caps Lock off");
        EXPECT_TRUE(keyDoes("ctrl+F7", playing)) << "Ctrl+F7 did not play from the editor";
        EXPECT_TRUE(keyDoes("ctrl+F7", stopped)) << "Ctrl+F7 did not pause from the editor";
    }
    const auto speed = [&] { return askStatus(port).value("scrollSpeed", -1.0); };

    const std::optional<Window> prompter = openPrompter();
    ASSERT_TRUE(prompter && activate(*prompter)) << "no prompter window";
    EXPECT_TRUE(keyDoes("space", playing)) << "Space did not play";
    const double before = speed();
    EXPECT_TRUE(keyDoes("w", [&](const nlohmann::json& s) { return s.value("scrollSpeed", 0.0) > before; }))
        << "W did not speed up";
    const double faster = speed();
    EXPECT_TRUE(keyDoes("s", [&](const nlohmann::json& s) { return s.value("scrollSpeed", 1e9) < faster; }))
        << "S did not slow down";
    for (const auto& [key, factor] : {std::pair{"Up", -1.0}, {"Down", 1.0}, {"Prior", -1.0}, {"Next", 1.0}}) {
        EXPECT_TRUE(keyDoes(key, direction(factor))) << key << " did not set the direction";
    }
    const auto holdF9 = [&] {
        key(display, XK_F9, true);
        XSync(display, False);
        EXPECT_TRUE(waitForStatus(direction(5.0))) << "holding F9 did not wind fast";
        key(display, XK_F9, false);
        XSync(display, False);
        EXPECT_TRUE(waitForStatus(direction(1.0))) << "the wind went on after F9 went up";
    };
    holdF9();
    EXPECT_TRUE(waitForStatus(advanced));
    EXPECT_TRUE(keyDoes("F5", stopped)) << "F5 did not pause";
    EXPECT_TRUE(keyDoes("b", rewound)) << "B did not rewind";

    ASSERT_TRUE(setLock(*app, display, capsLock, false));
    ASSERT_TRUE(keyDoes("space", playing));
    holdF9();
    // Nor does Num Lock.
    ASSERT_TRUE(setLock(*app, display, numLock, true)) << "Num Lock did not lock";
    EXPECT_TRUE(keyDoes("Up", direction(-1.0))) << "Up with Num Lock on did not set the direction";
    holdF9();
    EXPECT_TRUE(keyDoes("space", stopped)) << "Space with Num Lock on did not pause";
    EXPECT_TRUE(quit());
}

// F9 bound to fast forward, held in the editor with the keyboard in the text, then in the status
// bar (Shift+F6 from the text); a menu title clicked with the mouse meanwhile, F9 goes up while the
// menu is open: the wind ends, and the script plays on at normal speed. In the status bar F7 bound
// to Play/Pause pauses and plays, and Alt+P bound to Rewind rewinds instead of opening the
// Prompter menu.
TEST_F(PrompterKeysEndToEnd, AHeldWindEndsOnItsKeyUpUnderAMenuAndBindingsActFromTheStatusBar) {
    cw::KeyBindings bindings;
    bindings.ffwd = cw::KeyBindings::Key{kc::f9, mod::function};
    bindings.playPause = cw::KeyBindings::Key{kc::f7, mod::function};
    bindings.rewind = cw::KeyBindings::Key{kc::p, mod::option};
    startWith(bindings);
    ASSERT_FALSE(HasFailure());
    ASSERT_FALSE(remoteReply(port, "StartPlayback").empty());
    ASSERT_TRUE(waitForStatus(playing));
    ASSERT_TRUE(activate(*editor));
    for (const char* where : {"text", "status bar"}) {
        SCOPED_TRACE(where);
        if (where == std::string_view("status bar")) {
            ASSERT_TRUE(xdotool({"key", "shift+F6"}));
            EXPECT_TRUE(keyDoes("F7", stopped)) << "F7 did not pause from the status bar";
            EXPECT_TRUE(keyDoes("alt+p", rewound)) << "Alt+P did not rewind";
            EXPECT_TRUE(openMenus(display, root).empty()) << "Alt+P opened a menu";
            EXPECT_TRUE(keyDoes("F7", playing)) << "F7 did not play from the status bar";
            EXPECT_TRUE(waitForStatus(advanced));
        }
        key(display, XK_F9, true);
        XSync(display, False);
        ASSERT_TRUE(waitForStatus(direction(5.0))) << "holding F9 did not wind fast";
        const QRect frame = rootGeometry(display, *editor); // the menu bar's first title, clicked
        ASSERT_TRUE(xdotool(
            {"mousemove", QString::number(frame.x() + 30), QString::number(frame.y() + 10), "click", "1"}));
        ASSERT_TRUE(waitFor(*app, [&] { return !openMenus(display, root).empty(); })) << "no menu opened";
        key(display, XK_F9, false);
        XSync(display, False);
        EXPECT_TRUE(waitForStatus(direction(1.0))) << "the wind went on after F9 went up under the menu";
        EXPECT_TRUE(waitForStatus(playing));
        ASSERT_TRUE(xdotool({"key", "Escape"}));
        ASSERT_TRUE(waitFor(*app, [&] { return openMenus(display, root).empty(); }));
    }
    EXPECT_TRUE(quit());
}

// A prompter window's menu opened with the mouse and closed with one Escape leaves the keys with
// the prompter: Space pauses and plays rather than opening the menu again; so after a trip to the
// editor and back, where a second Escape changes nothing.
TEST_F(PrompterKeysEndToEnd, EveryPrompterKeyActsAfterItsWindowsMenuCloses) {
    const std::optional<Window> prompter = playInPrompter({});
    ASSERT_TRUE(prompter);
    for (const bool trip : {false, true}) {
        SCOPED_TRACE(trip ? "after a trip to the editor" : "at once");
        const QRect frame = rootGeometry(display, *prompter);
        ASSERT_TRUE(xdotool(
            {"mousemove", QString::number(frame.x() + 30), QString::number(frame.y() + 10), "click", "1"}));
        ASSERT_TRUE(waitFor(*app, [&] { return !openMenus(display, root).empty(); })) << "no menu opened";
        ASSERT_TRUE(xdotool({"key", "Escape"}));
        ASSERT_TRUE(waitFor(*app, [&] { return openMenus(display, root).empty(); }));
        if (trip) {
            ASSERT_TRUE(activate(*editor) && activate(*prompter));
            ASSERT_TRUE(xdotool({"key", "Escape"}));
        }
        EXPECT_TRUE(keyDoes("space", stopped)) << "Space did not pause";
        EXPECT_TRUE(openMenus(display, root).empty()) << "Space opened the menu";
        EXPECT_TRUE(keyDoes("space", playing)) << "Space did not play";
    }
    EXPECT_TRUE(quit());
}

// In a free-floating prompter window, normal or transparent, F11 fills the screen and gives the
// window back, and Ctrl+W closes it, as in the editor. In the transparent one, Shift+F10 opens the
// window's menu and its Window Opacity steps, where the keyboard makes the window opaque; the menu
// is photographed for a person to look at.
TEST_F(PrompterKeysEndToEnd, F11CtrlWAndTheOpacityMenuWorkInFreeFloatingPrompters) {
    startWith({});
    ASSERT_FALSE(HasFailure());
    const QSize screen(DisplayWidth(display, 0), DisplayHeight(display, 0));
    const auto menusOpen = [&](std::size_t count) {
        return waitFor(*app, [&] { return openMenus(display, root).size() == count; });
    };
    for (const Kind kind : {Kind::normal, Kind::transparent}) {
        const bool normal = kind == Kind::normal;
        SCOPED_TRACE(normal ? "normal" : "transparent");
        const std::optional<Window> prompter = openFromMenu(kind);
        ASSERT_TRUE(prompter) << "the Prompter menu opened no prompter window";
        ASSERT_TRUE(activate(*prompter));
        const auto size = [&] { return viewableOnScreen(display, 0, "Prompter Window"); };
        ASSERT_TRUE(xdotool({"key", "F11"}));
        EXPECT_TRUE(waitFor(*app, [&] { return size() == screen; })) << "F11 did not fill the screen";
        app->waitForFinished(500); // let it paint: the pictures are for people, not for the test
        screenshot(normal ? "prompter-f11-full-screen.png" : "prompter-f11-transparent.png");
        const QRect frame = rootGeometry(display, *prompter);
        ASSERT_TRUE(xdotool({"mousemove", QString::number(frame.center().x()),
                             QString::number(frame.center().y()), "click", "3"}));
        app->waitForFinished(500);
        screenshot(normal ? "prompter-menu.png" : "prompter-menu-transparent.png");
        ASSERT_TRUE(xdotool({"key", "Escape"}));
        ASSERT_TRUE(xdotool({"key", "F11"}));
        EXPECT_TRUE(waitFor(*app, [&] { return size() && size() != screen; }))
            << "F11 again kept full screen";
        if (!normal) {
            ASSERT_TRUE(xdotool({"key", "shift+F10"}));
            ASSERT_TRUE(menusOpen(1)) << "Shift+F10 opened no menu";
            ASSERT_TRUE(xdotool({"key", "--delay", "150", "Up", "Right"})); // the last item: Window Opacity
            ASSERT_TRUE(menusOpen(2)) << "no opacity steps";
            app->waitForFinished(500);
            screenshot("prompter-context-menu.png", "prompter");
            ASSERT_TRUE(xdotool({"key", "--delay", "150", "Up", "Return"})); // the last step: 100 %
            ASSERT_TRUE(menusOpen(0));
            ASSERT_TRUE(xdotool({"key", "Tab"})); // to the bar, whose control shows the focus
            app->waitForFinished(500);
            screenshot("prompter-bar-focus.png", "prompter");
        }
        ASSERT_TRUE(xdotool({"key", "ctrl+w"}));
        EXPECT_TRUE(waitGone(*app, *prompter)) << "Ctrl+W did not close the prompter window";
    }
    ASSERT_TRUE(quit());
    platform::Defaults stored({work / "defaults.json", std::chrono::hours(1), {}});
    EXPECT_EQ(stored.floatForKey(cw::settings::prompterWindowOpacityTransparent), 1.0f)
        << "the window did not become opaque";
}

// The prompter's key hints with long Linux key names, in a window of the full control size and in
// a small one that still shows hints: pictures under test-output/prompter/ for a person to look at.
TEST_F(PrompterKeysEndToEnd, KeyHintsWithLongKeyNamesArePhotographed) {
    cw::KeyBindings bindings;
    bindings.playPause = cw::KeyBindings::Key{kc::space, mod::shift};
    bindings.rewind = cw::KeyBindings::Key{kc::p, mod::option};
    bindings.incSpeed = cw::KeyBindings::Key{kc::k, mod::control};
    bindings.decSpeed = cw::KeyBindings::Key{kc::f6, mod::shift | mod::function};
    bindings.scrollLineUp = cw::KeyBindings::Key{kc::f12, mod::shift | mod::control | mod::function};
    bindings.scrollLineDown = cw::KeyBindings::Key{kc::deleteKey, 0};
    startWith(bindings);
    ASSERT_FALSE(HasFailure());
    const std::optional<Window> prompter = openPrompter();
    ASSERT_TRUE(prompter) << "Ctrl+Shift+P opened no prompter window";
    const fs::path pictures = outputDir("prompter");
    for (const auto& [size, name] : {std::pair{QSize(1280, 800), "key-hints-long-names.png"},
                                     std::pair{QSize(960, 640), "key-hints-long-names-small.png"}}) {
        ASSERT_TRUE(xdotool({"windowsize", "--sync", QString::number(*prompter),
                             QString::number(size.width()), QString::number(size.height())}));
        ASSERT_TRUE(activate(*prompter));
        app->waitForFinished(1000); // let it paint: the picture is for people, not for the test
        const QRect frame = rootGeometry(display, *prompter);
        QGuiApplication::primaryScreen()
            ->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
            .save(QString::fromStdString((pictures / name).string()));
    }
    EXPECT_TRUE(quit());
}

// Ctrl+D on the last line, Ctrl+Home, Ctrl+1: the position goes to the bookmark at once, the
// Bookmarks menu never opened; and Ctrl+1 goes there again from a prompter window, the settings
// window and a display-bound prompter (which has no menu bar), each time from the top. That one,
// over the editor's own screen, gives way to Ctrl+W and Escape.
TEST_F(PrompterKeysEndToEnd, CtrlNumberJumpsToABookmarkInEveryWindowAndADisplayBoundPrompterGivesWay) {
    if (ScreenCount(display) < 2) {
        GTEST_SKIP() << "the X server has " << ScreenCount(display) << " screen(s), not two";
    }
    startWith({});
    ASSERT_FALSE(HasFailure());
    const auto progress = [](double low, double high) {
        return [=](const nlohmann::json& s) {
            const double p = s.value("playbackProgress", -1.0);
            return p >= low && p <= high;
        };
    };
    ASSERT_TRUE(activate(*editor));
    ASSERT_TRUE(xdotool({"key", "--delay", "100", "ctrl+End", "ctrl+d", "ctrl+Home"}));
    ASSERT_TRUE(waitForStatus(progress(0, 0.1)));
    ASSERT_TRUE(xdotool({"key", "ctrl+1"}));
    EXPECT_TRUE(waitForStatus(progress(0.9, 1))) << "Ctrl+1 in the editor did not jump to the new bookmark";

    const auto jumpFrom = [&](Window window, const char* where) {
        SCOPED_TRACE(where);
        ASSERT_FALSE(remoteReply(port, "Rewind").empty());
        ASSERT_TRUE(waitForStatus(progress(0, 0)));
        ASSERT_TRUE(activate(window));
        ASSERT_TRUE(xdotool({"key", "ctrl+1"}));
        EXPECT_TRUE(waitForStatus(progress(0.9, 1))) << "Ctrl+1 did not jump to the bookmark";
    };
    const std::optional<Window> prompter = openPrompter();
    ASSERT_TRUE(prompter) << "Ctrl+Shift+P opened no prompter window";
    jumpFrom(*prompter, "prompter window");
    ASSERT_TRUE(xdotool({"key", "ctrl+w"}) && waitGone(*app, *prompter));
    ASSERT_TRUE(activate(*editor) && xdotool({"key", "ctrl+comma"}));
    const std::optional<Window> settings = waitForNamed(*app, "General");
    ASSERT_TRUE(settings) << "Ctrl+, opened no settings window";
    jumpFrom(*settings, "settings window");
    ASSERT_TRUE(xdotool({"key", "ctrl+w"}) && waitGone(*app, *settings));

    // Ticking the row of the editor's own screen in the Displays pane covers the editor with a
    // full-screen prompter; Ctrl+W, and the next time Escape, switch it off and give the editor
    // back, where Space then plays.
    ASSERT_TRUE(activate(*editor) && xdotool({"key", "ctrl+alt+3"}));
    app->waitForFinished(1000); // let it lay the rows out
    screenshot("prompter-keys-displays-pane.png");
    for (const char* keys : {"ctrl+w", "Escape"}) {
        SCOPED_TRACE(keys);
        const std::optional<Window> bound = bindOverTheEditor();
        ASSERT_TRUE(bound) << "no display-bound prompter covering the editor's screen";
        jumpFrom(*bound, "display-bound prompter");
        screenshot("prompter-keys-display-bound-over-editor.png");
        ASSERT_TRUE(xdotool({"key", keys}));
        EXPECT_TRUE(waitFor(*app, [&] { return !viewableOnScreen(display, 0, "Prompter Window"); }))
            << keys << " left the prompter over the editor";
        ASSERT_TRUE(activate(*editor)) << "the editor cannot be reached";
    }
    // Switched on by its switch and left on, the display keeps the prompter while the editor is
    // active again: Space pauses and plays there and does not switch it off.
    const QSize whole(DisplayWidth(display, 0), DisplayHeight(display, 0));
    const std::optional<Window> bound = bindOverTheEditor();
    ASSERT_TRUE(bound) << "no display-bound prompter covering the editor's screen";
    ASSERT_TRUE(activate(*editor)) << "the editor cannot be reached";
    EXPECT_TRUE(keyDoes("space", playing)) << "Space after the switch's click did not play";
    EXPECT_TRUE(keyDoes("space", stopped)) << "Space after the switch's click did not pause";
    EXPECT_EQ(viewableOnScreen(display, 0, "Prompter Window"), whole) << "Space switched the display off";
    ASSERT_TRUE(activate(*bound) && xdotool({"key", "Escape"}));
    ASSERT_TRUE(waitFor(*app, [&] { return !viewableOnScreen(display, 0, "Prompter Window"); }));
    ASSERT_TRUE(activate(*editor));
    // Space, the presenter's play key, then plays (in a prompter window of its own), and does not
    // switch the display back on.
    ASSERT_FALSE(remoteReply(port, "Rewind").empty());
    ASSERT_TRUE(xdotool({"key", "space"}));
    EXPECT_TRUE(waitForStatus(playing)) << "Space after Escape did not play";
    EXPECT_NE(viewableOnScreen(display, 0, "Prompter Window"),
              QSize(DisplayWidth(display, 0), DisplayHeight(display, 0)))
        << "Space put the prompter back";
    screenshot("prompter-keys-editor-back.png");
    EXPECT_TRUE(quit());
}

} // namespace

CW_END_TO_END_MAIN()

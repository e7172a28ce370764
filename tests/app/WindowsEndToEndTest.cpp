// The real cuewright binary under openbox, driven with xdotool as a person does: drop-down menus,
// the Save dialog and the close question drawn in the chosen appearance; the settings window used
// with the keyboard alone; a save that fails for want of descriptors shows its alert, and the next
// save works once descriptors are free. Screenshots go to test-output/editor/.
#include "cuewright/model/KeyBindings.h"
#include "platform/keys/KeyCodes.h"
#include "platform/keys/ModifierFlags.h"

#include <gtest/gtest.h>

// Xlib's macros after gtest, which uses the same names.
#include "EndToEndSupport.h"

#include <QHash>

#include <set>

#include <sys/resource.h>

namespace fs = std::filesystem;
using namespace endtoend;

namespace {

// A drop-down menu: a viewable override-redirect window straight under the root.
std::optional<Window> findPopup(Display* display, Window root) {
    Window rootReturn = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, root, &rootReturn, &parent, &children, &count)) {
        return std::nullopt;
    }
    std::optional<Window> found;
    for (unsigned i = 0; i < count && !found; ++i) {
        XWindowAttributes a;
        if (XGetWindowAttributes(display, children[i], &a) && a.override_redirect &&
            a.map_state == IsViewable && a.width > 40 && a.height > 40) {
            found = children[i];
        }
    }
    if (children) {
        XFree(children);
    }
    return found;
}

enum class Look { light, dark };

// Whether the picture is a drawn surface of the look: its most frequent colour is a grey (not the
// script's navy the surface opens over) that is light or dark, covering most of it, with text on it.
bool drawnIn(const QImage& picture, Look look) {
    if (picture.isNull() || picture.width() < 10 || picture.height() < 10) {
        return false;
    }
    QHash<QRgb, int> counts;
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            ++counts[image.pixel(x, y)];
        }
    }
    QRgb ground = 0;
    int most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            ground = it.key();
        }
    }
    const QColor g(ground);
    const bool grey = std::abs(g.red() - g.blue()) <= 6 && std::abs(g.green() - g.blue()) <= 6;
    const bool rightLightness = look == Look::dark ? g.lightness() < 100 : g.lightness() > 170;
    int contrasting = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            contrasting += std::abs(QColor(image.pixel(x, y)).lightness() - g.lightness()) > 90 ? 1 : 0;
        }
    }
    const double pixels = double(image.width()) * image.height();
    return grey && rightLightness && most > pixels * 0.4 && contrasting > pixels * 0.003;
}

class WindowsEndToEnd : public AppTest {
protected:
    // Starts the application on a new script file and waits for its editor window, active.
    Window startOnScript(const std::string& name) {
        script = makeScript(name, QStringLiteral("Good evening.\nThe news.\n"));
        return launch({pathArg(script)}, name);
    }

    // Starts the application with `arguments` in a folder of its own and waits for the editor
    // window named `title`, active.
    Window launch(const QStringList& arguments, const std::string& title) {
        fs::create_directories(work / "started-here");
        app = &start(arguments, {}, QStringLiteral(CW_APP_BINARY), work / "started-here");
        const std::optional<Window> editor = waitForWindow(*app, title);
        EXPECT_TRUE(editor) << "no editor window";
        EXPECT_TRUE(editor && activate(*editor));
        return editor.value_or(0);
    }

    // Waits until the window shows as a drawn surface of the look; saves the screen as `shot`.
    bool waitDrawn(Window window, Look look, const char* shot) {
        const bool drawn = waitFor(*app, [&] {
            const QRect area = rootGeometry(display, window);
            return drawnIn(QGuiApplication::primaryScreen()
                               ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                               .toImage(),
                           look);
        });
        saveScreen(shot);
        return drawn;
    }
    static void saveScreen(const char* shot) {
        QGuiApplication::primaryScreen()->grabWindow(0).save(
            QString::fromStdString((outputDir("editor") / shot).string()));
    }

    fs::path script;
    QProcess* app = nullptr;
};

// A drop-down menu, the Save dialog and the close question, in dark and in light.
TEST_F(WindowsEndToEnd, MenusDialogsAndAlertsFollowTheAppearance) {
    const struct {
        Look look;
        const char* stored;
        const char* name;
    } cases[] = {{Look::dark, "UserInterfaceStyleDark", "dark"},
                 {Look::light, "UserInterfaceStyleLight", "light"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setDefault(cw::settings::userInterfaceStyle, std::string(c.stored));
        const std::string file = std::string("surfaces-") + c.name + ".cwr";
        const Window editor = startOnScript(file);
        ASSERT_NE(editor, 0u);
        const std::string shot = std::string("appearance-") + c.name;

        // The menu bar's first title, clicked where it is.
        const QRect frame = rootGeometry(display, editor);
        ASSERT_TRUE(xdotool(
            {"mousemove", QString::number(frame.x() + 30), QString::number(frame.y() + 10), "click", "1"}));
        std::optional<Window> menu;
        ASSERT_TRUE(waitFor(*app, [&] { return (menu = findPopup(display, root)).has_value(); }))
            << "no menu";
        EXPECT_TRUE(waitDrawn(*menu, c.look, (shot + "-menu.png").c_str())) << "the drop-down menu";
        ASSERT_TRUE(xdotool({"key", "Escape"}));
        ASSERT_TRUE(waitGone(*app, *menu));

        ASSERT_TRUE(xdotool({"key", "ctrl+e"})); // Export…: a save dialog
        const std::optional<Window> saveDialog = waitForWindow(*app, "Export");
        ASSERT_TRUE(saveDialog) << "no Save dialog";
        EXPECT_TRUE(waitDrawn(*saveDialog, c.look, (shot + "-save-dialog.png").c_str())) << "the Save dialog";
        ASSERT_TRUE(activate(*saveDialog));
        ASSERT_TRUE(xdotool({"key", "Escape"}));
        ASSERT_TRUE(waitGone(*app, *saveDialog));

        // Typed into the text, clicked first as a person would.
        ASSERT_TRUE(activate(editor));
        ASSERT_TRUE(xdotool({"mousemove", QString::number(frame.x() + frame.width() / 3),
                             QString::number(frame.y() + frame.height() / 2), "click", "1"}));
        ASSERT_TRUE(xdotool({"type", "x"}));
        ASSERT_TRUE(waitForWindow(*app, file + "*")) << "the typing did not mark the script edited";
        ASSERT_TRUE(xdotool({"key", "ctrl+w"}));
        const std::optional<Window> question = waitForNamed(*app, "Cuewright");
        ASSERT_TRUE(question) << "closing asked nothing";
        EXPECT_TRUE(waitDrawn(*question, c.look, (shot + "-close-question.png").c_str()))
            << "the close question";
        app->kill();
        app->waitForFinished();
    }
}

// The settings window from the keyboard alone: Ctrl+Tab / Ctrl+Shift+Tab and Ctrl+PageDown /
// Ctrl+PageUp step through the panes, Tab goes from the chosen pane's item into the pane, Space starts a key
// well recording and the next key is the binding. Escape ends a recording and the well keeps its key;
// a key recorded with Caps Lock on is stored without it.
TEST_F(WindowsEndToEnd, TheKeysPaneIsReachedAndABindingRecordedWithTheKeyboard) {
    const Window editor = startOnScript("keys.cwr");
    ASSERT_NE(editor, 0u);
    ASSERT_TRUE(xdotool({"key", "ctrl+comma"}));
    const std::optional<Window> settings = waitForNamed(*app, "General");
    ASSERT_TRUE(settings) << "Ctrl+, opened no settings window";
    ASSERT_TRUE(activate(*settings));
    for (const auto& [key, pane] : {std::pair{"ctrl+Tab", "Script"},
                                    {"ctrl+shift+Tab", "General"},
                                    {"ctrl+Tab", "Script"},
                                    {"ctrl+Next", "Remote control"},
                                    {"ctrl+Tab", "Keys"},
                                    {"ctrl+Next", "Updates"},
                                    {"ctrl+Prior", "Keys"}}) {
        ASSERT_TRUE(xdotool({"key", key}));
        ASSERT_TRUE(waitForNamed(*app, pane)) << key << " did not show " << pane;
    }
    // From the Keys item: past the Updates item to the first well (Play/Pause), which records F7.
    ASSERT_TRUE(xdotool({"key", "Tab", "Tab", "space"}));
    ASSERT_TRUE(xdotool({"key", "F7"}));
    const auto stored = [&] {
        platform::Defaults defaults({work / "defaults.json", std::chrono::hours(1), {}});
        return cw::KeyBindings::load(defaults);
    };
    app->waitForFinished(500); // let it paint: the picture is for people, not for the test
    saveScreen("settings-keys-recorded.png");
    ASSERT_TRUE(xdotool({"key", "space", "Escape"})); // recording again, and not
    ASSERT_TRUE(waitForNamed(*app, "Keys")) << "Escape closed the settings window";
    // The next well (Rewind), past the first one's remove button, records F8 with Caps Lock on.
    ASSERT_TRUE(setLock(*app, display, capsLock, true)) << "Caps Lock did not lock";
    ASSERT_TRUE(xdotool({"key", "Tab", "Tab", "space", "F8"}));
    ASSERT_TRUE(setLock(*app, display, capsLock, false));
    ASSERT_TRUE(xdotool({"key", "ctrl+w"}));
    ASSERT_TRUE(waitGone(*app, *settings));
    ASSERT_TRUE(quit(*app, editor));
    const cw::KeyBindings bindings = stored();
    ASSERT_TRUE(bindings.playPause) << "no binding was recorded";
    EXPECT_EQ(bindings.playPause->keyCode, platform::keycode::f7) << "Escape was recorded";
    EXPECT_EQ(bindings.playPause->modifiers, platform::modifier::function)
        << "F7 alone, no Ctrl, Alt or Shift";
    ASSERT_TRUE(bindings.rewind) << "no binding was recorded with Caps Lock on";
    EXPECT_EQ(bindings.rewind->keyCode, platform::keycode::f8);
    EXPECT_EQ(bindings.rewind->modifiers, platform::modifier::function) << "stored with Caps Lock";
}

// Typed at once into a new or an opened script, "kiwi" lands in order at the caret; Ctrl+Shift+S
// then opens Save As beside the opened script, and for a new one in the Documents folder, never
// in the folder the application was started from.
TEST_F(WindowsEndToEnd, TypedAtOnceThenSavedAsBesideTheScript) {
    const fs::path documents = work / "home" / "Documents";
    fs::create_directories(documents);
    environment.insert("HOME", pathArg(work / "home"));
    const struct {
        bool opened;
        fs::path copy;
        QString text;
    } cases[] = {{false, documents / "copy.cwr", QStringLiteral("kiwi")},
                 {true, work / "copy.cwr", QStringLiteral("kiwiGood evening.")}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.opened ? "opened" : "new");
        const Window editor = c.opened ? startOnScript("beside.cwr") : launch({}, "Untitled");
        ASSERT_NE(editor, 0u);
        ASSERT_TRUE(xdotool({"type", "kiwi"}));
        ASSERT_TRUE(xdotool({"key", "ctrl+shift+s"}));
        const std::optional<Window> dialog = waitForWindow(*app, "Save As");
        ASSERT_TRUE(dialog) << "Ctrl+Shift+S opened no Save dialog";
        ASSERT_TRUE(activate(*dialog));
        ASSERT_TRUE(xdotool({"key", "ctrl+a"}));
        ASSERT_TRUE(xdotool({"type", "copy"}));
        ASSERT_TRUE(xdotool({"key", "Return"}));
        EXPECT_TRUE(waitFor(*app, [&] { return scriptText(c.copy).startsWith(c.text); }))
            << "not saved as " << c.copy << " with the typing in order";
        EXPECT_FALSE(fs::exists(work / "started-here" / "copy.cwr"));
        ASSERT_TRUE(quit(*app, editor));
    }
}

// The lowest descriptor number the process has free: with its limit set there, it has none left.
int lowestFreeDescriptor(qint64 pid) {
    std::set<int> used;
    for (const auto& entry : fs::directory_iterator(fs::path("/proc") / std::to_string(pid) / "fd")) {
        used.insert(std::stoi(entry.path().filename().string()));
    }
    int free = 0;
    while (used.count(free) != 0) {
        ++free;
    }
    return free;
}

// A save that fails because the application has no descriptor left shows its alert, drawn with
// its text; the application goes on, and once descriptors are free again the next save works.
TEST_F(WindowsEndToEnd, ASaveWithoutDescriptorsShowsItsAlertAndTheNextSaveWorks) {
    setDefault(cw::settings::userInterfaceStyle, std::string("UserInterfaceStyleLight"));
    const Window editor = startOnScript("full.cwr");
    ASSERT_NE(editor, 0u);
    const QRect frame = rootGeometry(display, editor);
    ASSERT_TRUE(xdotool({"mousemove", QString::number(frame.x() + frame.width() / 3),
                         QString::number(frame.y() + frame.height() / 2), "click", "1"}));
    ASSERT_TRUE(xdotool({"type", "x"}));
    ASSERT_TRUE(waitForWindow(*app, "full.cwr*"));

    const auto pid = static_cast<pid_t>(app->processId());
    rlimit original{};
    ASSERT_EQ(::prlimit(pid, RLIMIT_NOFILE, nullptr, &original), 0);
    rlimit usedUp = original;
    usedUp.rlim_cur = static_cast<rlim_t>(lowestFreeDescriptor(pid));
    ASSERT_EQ(::prlimit(pid, RLIMIT_NOFILE, &usedUp, nullptr), 0);

    ASSERT_TRUE(xdotool({"key", "ctrl+s"}));
    const std::optional<Window> alert = waitForNamed(*app, "Cuewright");
    ASSERT_TRUE(alert) << "the failed save showed no alert";
    EXPECT_TRUE(waitDrawn(*alert, Look::light, "save-without-descriptors-alert.png"))
        << "the alert is not drawn";

    ASSERT_EQ(::prlimit(pid, RLIMIT_NOFILE, &original, nullptr), 0);
    ASSERT_TRUE(activate(*alert));
    ASSERT_TRUE(xdotool({"key", "Return"}));
    ASSERT_TRUE(waitGone(*app, *alert)) << "the application stopped answering";
    ASSERT_TRUE(activate(editor));
    ASSERT_TRUE(xdotool({"key", "ctrl+s"}));
    EXPECT_TRUE(waitFor(*app, [&] { return scriptText(script).contains('x'); }))
        << "the next save did not write the script";
}

} // namespace

CW_END_TO_END_MAIN()

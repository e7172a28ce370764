// The real cuewright binary under a window manager, driven with xdotool: the menus of an editor
// window as a person meets them. Screenshots go to test-output/app/.
#include "platform/defaults/ArchivedValues.h"

#include <gtest/gtest.h>

#include <QClipboard>

#include <fstream>

#include <utility>

// Xlib's macros after gtest, which uses the same names.
#include "EndToEndSupport.h"

namespace fs = std::filesystem;
using namespace endtoend;

namespace {

class EditorMenusEndToEnd : public AppTest {
protected:
    // Starts the application with `script` and waits for its editor window.
    std::optional<Window> open(const fs::path& script) {
        app = &start({pathArg(script)});
        return waitForWindow(*app, script.filename().string());
    }
    bool fileHolds(const fs::path& script, const std::function<bool(const QString&)>& holds) {
        return waitFor(*app, [&] { return holds(scriptText(script)); });
    }

    QProcess* app = nullptr;
};

// The Edit menu reached from another open menu (Bookmarks, then Left past Options; Options, then
// Left) offers Undo after an edit: Return on its first item takes the typed letter back.
TEST_F(EditorMenusEndToEnd, EditReachedFromAnotherMenuOffersUndo) {
    const QString saved = QStringLiteral("Alpha beta.");
    const fs::path script = makeScript("menus.cwr", saved);
    const std::optional<Window> editor = open(script);
    ASSERT_TRUE(editor) << "no editor window";
    const struct {
        const char* typed;
        QStringList keys; // from the editor to the Edit menu's first item
    } ways[] = {{"Z", {"alt+b", "Left", "Left"}}, {"Q", {"alt+o", "Left"}}};
    for (const auto& way : ways) {
        ASSERT_TRUE(activate(*editor));
        ASSERT_TRUE(xdotool({"type", way.typed}));
        ASSERT_TRUE(waitForWindow(*app, "menus.cwr*"))
            << way.typed << ": the typing did not mark the script edited";
        ASSERT_TRUE(xdotool({"key", "ctrl+s"}));
        ASSERT_TRUE(fileHolds(script, [&](const QString& text) { return text.contains(way.typed); }))
            << way.typed;
        ASSERT_TRUE(waitFor(*app, [&] { return !findWindow(display, root, "menus.cwr*"); }));

        QStringList keys = {"key", "--delay", "150"};
        keys += way.keys;
        ASSERT_TRUE(xdotool(keys));
        app->waitForFinished(300); // let the menu paint: the picture is for people, not for the test
        screenshot((std::string("edit-menu-from-another-") + way.typed + ".png").c_str());
        ASSERT_TRUE(xdotool({"key", "Return"}));
        EXPECT_TRUE(waitForWindow(*app, "menus.cwr*")) << way.typed << ": Undo did not take the letter back";
        ASSERT_TRUE(activate(*editor));
        ASSERT_TRUE(xdotool({"key", "Escape", "ctrl+s"}));
        EXPECT_TRUE(fileHolds(script, [&](const QString& text) { return text == saved; })) << way.typed;
    }
    EXPECT_TRUE(quit(*app, *editor));
}

// A Bookmarks menu of 80 bookmarks, opened right after typing, is one column under its title that
// scrolls within the screen, not columns across it from its left edge.
TEST_F(EditorMenusEndToEnd, ALongBookmarksMenuOpenedRightAfterTypingScrollsUnderItsTitle) {
    QString text = QStringLiteral("Intro\n");
    for (int i = 1; i <= 80; ++i) {
        text += QStringLiteral("*Part %1\n").arg(i);
    }
    const fs::path script = makeScript("long.cwr", text);
    const std::optional<Window> editor = open(script);
    ASSERT_TRUE(editor) << "no editor window";
    ASSERT_TRUE(activate(*editor));
    ASSERT_TRUE(xdotool({"type", "x"}));
    ASSERT_TRUE(xdotool({"key", "alt+b"}));
    std::vector<QRect> menus;
    ASSERT_TRUE(waitFor(*app, [&] { return !(menus = openMenus(display, root)).empty(); }))
        << "no menu opened";
    app->waitForFinished(300); // let it paint: the picture is for people
    screenshot("bookmarks-menu-80-bookmarks.png");
    const QRect screen(0, 0, DisplayWidth(display, 0), DisplayHeight(display, 0));
    const QRect menu = menus.back();
    EXPECT_TRUE(screen.contains(menu))
        << menu.x() << "," << menu.y() << " " << menu.width() << "x" << menu.height();
    EXPECT_LT(menu.width(), screen.width() / 3) << "one column";
    EXPECT_GT(menu.x(), 200) << "under the Bookmarks title, right of the window's other menus";
    EXPECT_GE(menu.y(), rootGeometry(display, *editor).top() + 15) << "below the menu bar";
    ASSERT_TRUE(xdotool({"key", "Escape", "Escape"}));
    ASSERT_TRUE(waitFor(*app, [&] { return openMenus(display, root).empty(); }));
    // Any menu opened right after typing drops from its own title.
    for (const char* menuKey : {"alt+e", "alt+o", "alt+h"}) {
        ASSERT_TRUE(xdotool({"type", "y"}));
        ASSERT_TRUE(xdotool({"key", menuKey}));
        ASSERT_TRUE(waitFor(*app, [&] { return !(menus = openMenus(display, root)).empty(); })) << menuKey;
        EXPECT_GT(menus.back().x(), 250) << menuKey;
        EXPECT_GE(menus.back().y(), rootGeometry(display, *editor).top() + 15) << menuKey;
        ASSERT_TRUE(xdotool({"key", "Escape", "Escape"}));
        ASSERT_TRUE(waitFor(*app, [&] { return openMenus(display, root).empty(); }));
    }
    ASSERT_TRUE(xdotool({"key", "ctrl+s"}));
    ASSERT_TRUE(waitFor(*app, [&] { return !findWindow(display, root, "long.cwr*"); }));
    EXPECT_TRUE(quit(*app, *editor));
}

// A second script opened from the command line while one is open gets a window that follows the
// first down the screen and stays within it.
TEST_F(EditorMenusEndToEnd, ASecondWindowCascadesWithinTheScreen) {
    const fs::path first = makeScript("first.cwr", QStringLiteral("One."));
    const fs::path second = makeScript("second.cwr", QStringLiteral("Two."));
    const std::optional<Window> one = open(first);
    ASSERT_TRUE(one) << "no editor window";
    ASSERT_TRUE(start({pathArg(second)}).waitForFinished(60000));
    const std::optional<Window> two = waitForWindow(*app, "second.cwr");
    ASSERT_TRUE(two) << "the second script got no window";
    app->waitForFinished(300); // let it paint: the picture is for people
    screenshot("second-window-cascaded.png");
    const QRect screen(0, 0, DisplayWidth(display, 0), DisplayHeight(display, 0));
    const QRect a = rootGeometry(display, *one);
    const QRect b = rootGeometry(display, *two);
    EXPECT_TRUE(screen.contains(b.adjusted(0, 0, 0, 4))) // with the frame's lower edge
        << b.x() << "," << b.y() << " " << b.width() << "x" << b.height();
    EXPECT_GT(b.top(), a.top()) << "below the first window's title";
    EXPECT_GT(b.left(), a.left());
    EXPECT_TRUE(quit(*app, *two));
}

// The script's text colour, a cyan no other part of a prompter window has, and its pixels.
bool isCyan(QRgb p) {
    return qBlue(p) > 150 && qRed(p) < 150 && qGreen(p) > 120;
}
int cyanPixels(const QRect& area) {
    const QImage shot =
        QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
    int count = 0;
    const QRect r = area.intersected(shot.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            count += isCyan(shot.pixel(x, y));
        }
    }
    return count;
}

// A word selected with the keyboard and made bold with Ctrl+B is bold in the prompter (its strokes
// heavier) and in the saved file; Ctrl+Z takes it back in both.
TEST_F(EditorMenusEndToEnd, AWordMadeBoldWithCtrlBIsBoldInThePrompterAndTheFileUntilUndone) {
    {
        platform::Defaults defaults({work / "defaults.json", std::chrono::hours(1), {}});
        platform::setArchivedColor(defaults, cw::settings::defaultTextColor,
                                   platform::ArchivedColor::sRGB(0.2, 0.8, 1.0));
        ASSERT_TRUE(defaults.synchronize());
    }
    const fs::path script = makeScript("bold.cwr", QStringLiteral("HHHH MMMM"));
    const std::optional<Window> editor = open(script);
    ASSERT_TRUE(editor) << "no editor window";
    ASSERT_TRUE(activate(*editor));
    ASSERT_TRUE(xdotool({"key", "ctrl+shift+p"}));
    const std::optional<Window> prompter = waitForWindow(*app, "Prompter Window");
    ASSERT_TRUE(prompter) << "Ctrl+Shift+P opened no prompter window";
    // The middle of the view, where the text stands: away from the bars and on-screen controls.
    const QRect client = rootGeometry(display, *prompter);
    const QRect area(client.x() + client.width() / 6, client.y() + client.height() * 3 / 10,
                     client.width() * 2 / 3, client.height() * 2 / 5);
    // The text's pixels once two looks in a row agree: the window settles after it first shows.
    const auto settled = [&] {
        int last = -1, now = 0;
        waitFor(*app, [&] {
            now = cyanPixels(area);
            return std::exchange(last, now) == now && now > 200;
        });
        return now;
    };
    const int plain = settled();
    ASSERT_GT(plain, 200) << "no text in the prompter";
    const auto boldAt = [&](int at) {
        const auto font = cw::ScriptDocumentFile::open(script).text.attributes(at).font;
        return font && font->bold;
    };

    ASSERT_TRUE(activate(*editor));
    ASSERT_TRUE(xdotool({"key", "ctrl+End", "ctrl+shift+Left", "ctrl+b", "ctrl+s"}));
    EXPECT_TRUE(fileHolds(script, [&](const QString&) { return boldAt(6); }))
        << "the file's word is not bold";
    EXPECT_FALSE(boldAt(1)) << "only the selected word";
    ASSERT_TRUE(activate(*prompter)); // in front of the editor, which holds the same text
    EXPECT_TRUE(waitFor(*app, [&] { return cyanPixels(area) > plain * 11 / 10; }))
        << "the prompter's text is no heavier: " << cyanPixels(area) << " against " << plain;
    const int heavy = settled();
    app->waitForFinished(300); // let it paint: the picture is for people
    screenshot("bold-word-in-prompter.png");

    ASSERT_TRUE(activate(*editor));
    ASSERT_TRUE(xdotool({"key", "ctrl+z", "ctrl+s"}));
    EXPECT_TRUE(fileHolds(script, [&](const QString&) { return !boldAt(6); })) << "Ctrl+Z left it bold";
    ASSERT_TRUE(activate(*prompter));
    EXPECT_TRUE(waitFor(*app, [&] { return cyanPixels(area) * 11 / 10 < heavy; }))
        << "the prompter's text stays heavy: " << cyanPixels(area) << " against " << heavy;
    EXPECT_TRUE(quit(*app, *editor));
}

// F1 on a machine without a web browser gives the manual's address in an alert, whose text Tab
// reaches after its button and Ctrl+A, Ctrl+C copy.
TEST_F(EditorMenusEndToEnd, HelpWithoutABrowserGivesTheAddressToCopyByKeyboard) {
    const fs::path script = makeScript("help.cwr", QStringLiteral("Alpha."));
    const fs::path noPrograms = work / "no-programs";
    fs::create_directories(noPrograms);
    QProcessEnvironment env = environment;
    env.insert("PATH", pathArg(noPrograms));
    for (const char* name : {"BROWSER", "DEFAULT_BROWSER", "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION"}) {
        env.remove(name);
    }
    app = &start({pathArg(script)}, env);
    const std::optional<Window> editor = waitForWindow(*app, "help.cwr");
    ASSERT_TRUE(editor) << "no editor window";
    ASSERT_TRUE(activate(*editor));
    ASSERT_TRUE(xdotool({"key", "F1"}));
    const std::optional<Window> alert = waitForAlert(*app);
    ASSERT_TRUE(alert) << "F1 without a browser said nothing";
    ASSERT_TRUE(activate(*alert));

    QClipboard* clipboard = QGuiApplication::clipboard();
    const QString marker = QStringLiteral("marker");
    clipboard->setText(marker);
    // From the button to the message, then to the address under it.
    ASSERT_TRUE(xdotool({"key", "Tab", "Tab", "ctrl+a", "ctrl+c"}));
    // The clipboard changes hands through X events to this process.
    const bool copied = waitFor(*app, [&] {
        QGuiApplication::processEvents();
        return clipboard->text() != marker;
    });
    screenshot("help-without-a-browser.png");
    ASSERT_TRUE(copied) << "nothing was copied";
    EXPECT_TRUE(clipboard->text().endsWith(QStringLiteral("\nhttps://cuewright.org/manual/")))
        << clipboard->text().toStdString();
    ASSERT_TRUE(xdotool({"key", "Escape"}));
    EXPECT_TRUE(waitGone(*app, *alert));
    EXPECT_TRUE(quit(*app, *editor));
}

// A desktop whose xdg-open finds no program (it exits 3, as xdg-open does then): Visit the
// Website and Contact Support… chosen from the Help menu each say so. The page's address is there
// to copy, and Copy Message puts the prepared support mail, with the system's details, on the
// clipboard.
TEST_F(EditorMenusEndToEnd, HelpWhoseOpenerFindsNoProgramSaysSoAndKeepsTheMail) {
    const fs::path script = makeScript("opener.cwr", QStringLiteral("Alpha."));
    const fs::path programs = work / "programs";
    fs::create_directories(programs);
    const fs::path asked = work / "asked";
    std::ofstream(programs / "xdg-open")
        << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << asked.string() << "'\nexit 3\n";
    fs::permissions(programs / "xdg-open", fs::perms::owner_all);
    QProcessEnvironment env = environment;
    env.insert("PATH", pathArg(programs));
    app = &start({pathArg(script)}, env);
    const std::optional<Window> editor = waitForWindow(*app, "opener.cwr");
    ASSERT_TRUE(editor) << "no editor window";

    QClipboard* clipboard = QGuiApplication::clipboard();
    const auto copied = [&](const QString& before) {
        const bool changed = waitFor(*app, [&] {
            QGuiApplication::processEvents();
            return clipboard->text() != before;
        });
        return changed ? clipboard->text() : QString();
    };
    const QString marker = QStringLiteral("marker");
    // Up from the top of the Help menu goes round to its last items: Read the Blog, Visit the
    // Website, Contact Support….
    ASSERT_TRUE(activate(*editor) && pressKeysThroughMenu(*app, display, {"alt+h", "Up", "Up", "Return"}));
    std::optional<Window> alert = waitForAlert(*app);
    ASSERT_TRUE(alert) << "Visit the Website said nothing when no program took the page";
    screenshot("help-opener-found-no-browser.png");
    EXPECT_EQ(fileBytes(asked), "https://cuewright.org/\n") << "xdg-open was not asked";
    clipboard->setText(marker);
    ASSERT_TRUE(activate(*alert) && xdotool({"key", "Tab", "Tab", "ctrl+a", "ctrl+c"}));
    EXPECT_TRUE(copied(marker).endsWith(QStringLiteral("\nhttps://cuewright.org/")))
        << clipboard->text().toStdString();
    ASSERT_TRUE(xdotool({"key", "Escape"}) && waitGone(*app, *alert));

    ASSERT_TRUE(activate(*editor) &&
                pressKeysThroughMenu(*app, display, {"alt+h", "Up", "Up", "Up", "Return"}));
    alert = waitForAlert(*app);
    ASSERT_TRUE(alert) << "Contact Support said nothing when no program took the mail";
    screenshot("help-opener-found-no-mail-program.png");
    EXPECT_TRUE(fileBytes(asked).find("\nmailto:support@cuewright.org?subject=") != std::string::npos)
        << fileBytes(asked);
    clipboard->setText(marker);
    ASSERT_TRUE(activate(*alert) && xdotool({"key", "Return"})); // Copy Message, the default
    const QString mail = copied(marker);
    EXPECT_TRUE(mail.startsWith(QStringLiteral("Subject: Cuewright Support\n\n----\nApplication: ")))
        << mail.toStdString();
    EXPECT_TRUE(mail.contains(QStringLiteral("\nOS: ")) &&
                mail.endsWith(QStringLiteral("<Your message here>")))
        << mail.toStdString();
    EXPECT_TRUE(waitGone(*app, *alert));
    EXPECT_TRUE(quit(*app, *editor));
}

} // namespace

CW_END_TO_END_MAIN()

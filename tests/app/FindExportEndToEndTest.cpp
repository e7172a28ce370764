// The real cuewright binary under a window manager, driven with xdotool: the editor's find bar
// (Ctrl+F, a word, Return, Escape, then typing replaces the match; Escape from its Replace button),
// and Export, reached from the find field too, whose panel is titled so and writes the type the
// typed name's extension says; Replace All over 900,000 letters without a space, the remote
// answering meanwhile, taken back by one Undo. Screenshots of the find bar in
// light and dark, and of the Export panel, go to test-output/editor/.
#include "platform/codecs/ZipPackage.h"

#include <gtest/gtest.h>

// Xlib's macros after gtest, which uses the same names.
#include "EndToEndSupport.h"

namespace fs = std::filesystem;
using namespace endtoend;

namespace {

class FindExportEndToEnd : public AppTest {
protected:
    QProcess* app = nullptr;
};

// Ctrl+F (or Ctrl+H, the bar with its replace row), the word, Return to the next match, Ctrl+G
// round the end to the first, Ctrl+Shift+G back, Escape: the match stays selected in the text, so
// typing replaces it and Ctrl+S saves the script with the new word; in the light and the dark
// appearance.
TEST_F(FindExportEndToEnd, FindReturnEscapeThenTypingReplacesTheWord) {
    const struct {
        const char* look;
        const char* style;
        const char* key;
    } looks[] = {{"light", "UserInterfaceStyleLight", "ctrl+f"},
                 {"dark", "UserInterfaceStyleDark", "ctrl+h"}};
    noKeyRepeat();
    for (const auto& look : looks) {
        SCOPED_TRACE(look.look);
        setDefault(cw::settings::userInterfaceStyle, std::string(look.style));
        const fs::path script =
            makeScript(std::string("find-") + look.look + ".cwr",
                       QStringLiteral("Good evening.\nTeh news tonight is short.\nteh end."));
        const std::optional<Window> editor = startEditing(script, app);
        ASSERT_TRUE(editor);
        ASSERT_TRUE(xdotool({"key", "ctrl+Home", look.key}) && xdotool({"type", "--delay", "30", "teh"}) &&
                    xdotool({"key", "--delay", "100", "Return", "ctrl+g", "ctrl+shift+g"}));
        app->waitForFinished(500); // let it paint: the picture is for people, not for the test
        screenshot(std::string("find-bar-") + look.look + ".png", "editor");
        ASSERT_TRUE(xdotool({"key", "Escape"}) && xdotool({"type", "--delay", "30", "The"}));
        ASSERT_TRUE(waitForNamed(*app, script.filename().string() + "*"))
            << "the typing marked nothing edited";
        ASSERT_TRUE(xdotool({"key", "ctrl+s"}));
        EXPECT_TRUE(waitFor(*app,
                            [&] {
                                return scriptText(script) ==
                                       QStringLiteral("Good evening.\nTeh news tonight is short.\nThe end.");
                            }))
            << "saved: " << scriptText(script).toStdString();
        EXPECT_TRUE(quit(*app, *editor));
    }
}

// A word replaced from the keyboard (Ctrl+H, the words, Tab to the Replace button, Space), then
// Escape there: the bar closes and the text has the keyboard again. Then Ctrl+E, pressed while
// the find field has the keyboard, opens the panel titled Export; "out.docx" typed and Return
// writes a Word document under that name (not "out.docx.cwr"), whose page colour, the script's
// dark background, is not shown.
TEST_F(FindExportEndToEnd, ExportWritesTheTypeTheNameSays) {
    const fs::path script = makeScript("news.cwr", QStringLiteral("Good evening, this is the news."));
    noKeyRepeat();
    const std::optional<Window> editor = startEditing(script, app);
    ASSERT_TRUE(editor);
    ASSERT_TRUE(xdotool({"key", "ctrl+h"}) && xdotool({"type", "--delay", "30", "news"}) &&
                xdotool({"key", "Tab"}) && xdotool({"type", "--delay", "30", "report"}) &&
                xdotool({"key", "--delay", "100", "Tab", "space", "Escape", "ctrl+End"}) &&
                xdotool({"type", "--delay", "30", "!"}) && xdotool({"key", "ctrl+s"}));
    const QString replaced = QStringLiteral("Good evening, this is the report.!");
    EXPECT_TRUE(waitFor(*app, [&] { return scriptText(script) == replaced; }))
        << "saved: " << scriptText(script).toStdString();
    ASSERT_TRUE(xdotool({"key", "ctrl+f"}) && xdotool({"type", "--delay", "30", "this"}) &&
                xdotool({"key", "ctrl+e"}));
    const std::optional<Window> panel = waitForNamed(*app, "Export");
    ASSERT_TRUE(panel && activate(*panel)) << "no panel titled Export";
    screenshot("export-panel.png", "editor");
    ASSERT_TRUE(xdotool({"key", "ctrl+a"}) && xdotool({"type", "--delay", "30", "out.docx"}) &&
                xdotool({"key", "Return"}) && waitGone(*app, *panel));
    std::optional<std::string> document;
    std::optional<std::string> settings;
    ASSERT_TRUE(waitFor(*app, [&] {
        try {
            const auto zip = platform::codecs::ZipReader::openFile((work / "out.docx").string());
            document = zip.read("word/document.xml", 1 << 20);
            settings = zip.read("word/settings.xml", 1 << 20);
            return document.has_value();
        } catch (const std::exception&) {
            return false; // not there, or not whole yet
        }
    })) << "no Word document out.docx";
    EXPECT_NE(document->find(replaced.toStdString()), std::string::npos);
    EXPECT_FALSE(settings && settings->find("displayBackgroundShape") != std::string::npos)
        << "the dark page is shown behind the black text";
    for (const char* wrong : {"out.docx.cwr", "out.docx.txt", "out.docx.docx"}) {
        EXPECT_FALSE(fs::exists(work / wrong)) << wrong;
    }
    EXPECT_TRUE(waitForNamed(*app, "news.cwr")) << "an export changed the window's script";
    EXPECT_TRUE(quit(*app, *editor));
}

// Replace All from the keyboard (Ctrl+H, "x", Tab, "y", Tab Tab to Replace All, Space) over a
// script of 900,000 letters without a space: the remote control answers while it replaces, the
// saved script holds the replacement, and one Ctrl+Z takes all of it back.
TEST_F(FindExportEndToEnd, ReplaceAllOverALongRunAnswersAndOneUndoTakesItBack) {
    const QString run(900000, u'x');
    const fs::path script = makeScript("run.cwr", run);
    std::optional<Window> editor;
    std::uint16_t port = 0;
    startWithRemote(script, app, editor, port);
    noKeyRepeat();
    ASSERT_TRUE(activate(*editor) && xdotool({"key", "ctrl+Home", "ctrl+h"}) &&
                xdotool({"type", "--delay", "30", "x"}) && xdotool({"key", "Tab"}) &&
                xdotool({"type", "--delay", "30", "y"}) &&
                xdotool({"key", "--delay", "100", "Tab", "Tab", "space"}));
    const std::string edited = script.filename().string() + "*";
    int answered = 0;
    int asked = 0;
    const auto start = std::chrono::steady_clock::now();
    while (!findWindow(display, root, [&](const std::string& name) { return name == edited; }) &&
           app->state() == QProcess::Running &&
           std::chrono::steady_clock::now() - start < std::chrono::minutes(3)) {
        answered += remoteStatusReply(port).empty() ? 0 : 1;
        ++asked;
        app->waitForFinished(500);
    }
    ASSERT_TRUE(waitForNamed(*app, edited)) << "Replace All changed nothing";
    std::printf("Replace All over 900,000 letters: %d of %d probes answered\n", answered, asked);
    EXPECT_GE(answered * 10, asked * 8) << "the remote control fell silent while replacing";
    ASSERT_TRUE(activate(*editor) && xdotool({"key", "Escape", "ctrl+s"}));
    EXPECT_TRUE(waitFor(*app, [&] { return scriptText(script) == QString(900000, u'y'); }))
        << "not all replaced";
    // One Ctrl+Z, then Ctrl+S until the script is saved. The steps let the remote in between (the
    // editor's own test counts the turns); the one at the paragraph's start counts its lines again
    // whole, over a second in a Debug build, so the answers are only reported here.
    ASSERT_TRUE(xdotool({"key", "ctrl+z"}));
    answered = asked = 0;
    const auto undone = std::chrono::steady_clock::now();
    while (scriptText(script) != run && app->state() == QProcess::Running &&
           std::chrono::steady_clock::now() - undone < std::chrono::minutes(3)) {
        answered += remoteStatusReply(port).empty() ? 0 : 1;
        ++asked;
        ASSERT_TRUE(xdotool({"key", "ctrl+s"}));
        app->waitForFinished(500);
    }
    std::printf("its undo: %d of %d probes answered\n", answered, asked);
    EXPECT_TRUE(scriptText(script) == run) << "one undo did not take it all back";
    EXPECT_TRUE(quit(*app, *editor));
}

} // namespace

CW_END_TO_END_MAIN()

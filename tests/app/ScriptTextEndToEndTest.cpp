// The real cuewright binary under openbox, driven with xdotool: the script's lines and running time
// (from the remote control's status) do not follow the editor's width and follow bold at once, rich
// pastes keep their traits, and a long paragraph comes out of the editor whole. Screenshots go to
// test-output/editor/.
#include "cuewright/editor/ClipboardText.h"
#include "cuewright/editor/EditorWindowController.h"
#include "cuewright/model/KeyBindings.h"
#include "platform/keys/KeyCodes.h"
#include "platform/keys/ModifierFlags.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <QTextDocument> // before Xlib's macros

// Xlib's macros after gtest, which uses the same names.
#include "EndToEndSupport.h"

#include <QStandardPaths>

namespace fs = std::filesystem;
using namespace endtoend;
namespace mod = platform::modifier;

namespace {

class ScriptTextEndToEnd : public AppTest {
protected:
    // 60 paragraphs that wrap in the editor, with a bookmarked line ("*") two thirds down.
    static QString wrappingText() {
        QString text;
        for (int i = 1; i <= 60; ++i) {
            text += i == 40 ? QStringLiteral("* The bookmarked paragraph.\n")
                            : QStringLiteral(
                                  "Paragraph %1 of the news, as it is read to us all on a cold and wet "
                                  "night, and as we go on to the end of it.\n")
                                  .arg(i);
        }
        return text;
    }
    // Ctrl+F6 rewinds and Ctrl+F5 jumps to the next bookmark.
    void bindRewindAndJump() {
        cw::KeyBindings bindings;
        bindings.jumpNextBookmark = cw::KeyBindings::Key{platform::keycode::f5, mod::command | mod::function};
        bindings.rewind = cw::KeyBindings::Key{platform::keycode::f6, mod::command | mod::function};
        setDefault(cw::settings::customKeyBindings, bindings.storedValue());
    }
    // The status once the playback is at the top (`atTop`) or past it; null when it never was.
    nlohmann::json statusWhen(bool atTop) {
        nlohmann::json status;
        const bool came = waitFor(*app, [&] {
            status = askStatus(port);
            const double progress = status.is_null() ? -1.0 : status.value("playbackProgress", -1.0);
            return atTop ? progress == 0.0 : progress > 0.0;
        });
        return came ? status : nlohmann::json();
    }
    // The status after `keys`, a rewind and a jump to the next bookmark, which X delivers in order.
    nlohmann::json readAfter(const QStringList& keys) {
        const bool rewound = activate(*editor) &&
                             xdotool(QStringList{"key", "--delay", "100"} + keys + QStringList{"ctrl+F6"}) &&
                             !statusWhen(true).is_null();
        return rewound && xdotool({"key", "ctrl+F5"}) ? statusWhen(false) : nlohmann::json();
    }

    // Running time and bookmark's place of `reading` within 1/`parts` of `expected`'s.
    static void expectSameLines(const nlohmann::json& reading, const nlohmann::json& expected, double parts) {
        for (const char* field : {"totalRuntime", "playbackProgress"}) {
            EXPECT_NEAR(reading.value(field, 0.0), expected.value(field, 0.0),
                        expected.value(field, 0.0) / parts)
                << field;
        }
    }

    QProcess* app = nullptr;
    std::optional<Window> editor;
    std::uint16_t port = 0;
};

// 60 paragraphs that wrap in the editor, with a bookmarked line ("*") two thirds down: the
// running time and the bookmark's place stay within 1 % when the bookmark column is shown and
// hidden, and when the window is made 900 px wide.
TEST_F(ScriptTextEndToEnd, LinesAndRunningTimeDoNotFollowTheEditorsWidth) {
    bindRewindAndJump();
    setDefault(cw::settings::showBookmarkSidebar, false);
    noKeyRepeat();
    ASSERT_NO_FATAL_FAILURE(startWithRemote(makeScript("wrapped.cwr", wrappingText()), app, editor, port));

    const nlohmann::json first = readAfter({});
    ASSERT_FALSE(first.is_null()) << "no bookmark jump";
    ASSERT_GT(first.value("totalRuntime", 0.0), 0.0);
    const int height = rootGeometry(display, *editor).height();
    // A width resizes the window; otherwise Ctrl+Shift+B shows or hides the bookmark column.
    const struct {
        const char* step;
        int width;
    } steps[] = {{"bookmark column shown", 0},
                 {"bookmark column hidden", 0},
                 {"window 900 px wide", 900},
                 {"900 px wide with the bookmark column", 0}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.step);
        if (step.width != 0) {
            ASSERT_TRUE(xdotool({"windowsize", QString::number(*editor), QString::number(step.width),
                                 QString::number(height)}) &&
                        waitFor(*app, [&] { return rootGeometry(display, *editor).width() == step.width; }));
        }
        const nlohmann::json reading =
            readAfter(step.width != 0 ? QStringList() : QStringList{"ctrl+shift+b"});
        ASSERT_FALSE(reading.is_null()) << "no bookmark jump";
        screenshot(std::string("width-") + step.step + ".png", "editor");
        expectSameLines(reading, first, 100);
    }
}

// The same text made bold all over (Ctrl+A, Ctrl+B): its running time and the bookmark's place at
// once are those it has when saved and opened again, within 0.5 %.
TEST_F(ScriptTextEndToEnd, BoldCountsAtOnceAsWhenOpenedAgain) {
    bindRewindAndJump();
    noKeyRepeat();
    const fs::path script = makeScript("bold.cwr", wrappingText());
    ASSERT_NO_FATAL_FAILURE(startWithRemote(script, app, editor, port));
    const nlohmann::json bold = readAfter({"ctrl+a", "ctrl+b", "ctrl+s"});
    ASSERT_FALSE(bold.is_null()) << "no bookmark jump";
    screenshot("bold-all.png", "editor");
    ASSERT_TRUE(quit(*app, *editor)) << "not saved";
    const platform::AttributedString saved = cw::ScriptDocumentFile::open(script).text;
    ASSERT_TRUE(saved.attributes(0).font && saved.attributes(0).font->bold) << "Ctrl+B was not saved";

    ASSERT_NO_FATAL_FAILURE(startWithRemote(script, app, editor, port));
    const nlohmann::json reopened = readAfter({});
    ASSERT_FALSE(reopened.is_null()) << "no bookmark jump";
    expectSameLines(bold, reopened, 200);
}

// An RTF with a bold name, all of it copied and pasted into another script (bold kept); then HTML
// with bold, italic and underline put on the clipboard by another program (xclip) and pasted
// below: the saved script keeps every one of them, as RTF.
TEST_F(ScriptTextEndToEnd, ASecondRichPasteKeepsBoldAndItalic) {
    if (QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty()) {
        GTEST_SKIP() << "xclip is not installed";
    }
    const fs::path rtf = work / "anchor.rtf";
    std::ofstream(rtf)
        << R"({\rtf1\ansi{\fonttbl\f0\fswiss Helvetica;}\f0\fs24 Tonight with \b Anna Berg\b0  from the studio.\par})";
    const fs::path target = makeScript("pasted.cwr", QString());
    const fs::path html = work / "clip.html";
    std::ofstream(html) << "<p>Second paste with <b>strong</b>, <i>slanted</i> and <u>lined</u> words.</p>";

    noKeyRepeat();
    app = &start({pathArg(rtf)});
    const std::optional<Window> source = waitForNamed(*app, "Untitled"); // an import is a new script
    ASSERT_TRUE(source && activate(*source)) << "no window for the import";
    ASSERT_TRUE(xdotool({"key", "--delay", "100", "ctrl+a", "ctrl+c"}));
    start({pathArg(target)}); // handed over to the running copy
    editor = waitForNamed(*app, "pasted.cwr");
    ASSERT_TRUE(editor && activate(*editor));
    ASSERT_TRUE(xdotool({"key", "--delay", "100", "ctrl+v", "ctrl+s"}));
    ASSERT_TRUE(waitFor(*app, [&] { return scriptText(target).contains(QStringLiteral("Anna Berg")); }))
        << "the first paste was not saved";

    // xclip stays to answer for the clipboard until another program takes it.
    QProcess clip;
    clip.setStandardOutputFile(QProcess::nullDevice());
    clip.setStandardErrorFile(QProcess::nullDevice());
    clip.start(QStringLiteral("xclip"), {"-selection", "clipboard", "-t", "text/html", "-i", pathArg(html)});
    ASSERT_TRUE(clip.waitForFinished(15000) && clip.exitCode() == 0);
    ASSERT_TRUE(activate(*editor));
    ASSERT_TRUE(xdotool({"key", "--delay", "100", "ctrl+End", "Return", "ctrl+v", "ctrl+s"}));
    ASSERT_TRUE(waitFor(*app, [&] { return scriptText(target).contains(QStringLiteral("slanted")); }))
        << "the second paste was not saved";
    const platform::AttributedString saved = cw::ScriptDocumentFile::open(target).text;
    screenshot("second-rich-paste.png", "editor");

    using Trait = bool (*)(const platform::Attributes&);
    const Trait bold = [](const platform::Attributes& a) { return a.font && a.font->bold; };
    const Trait italic = [](const platform::Attributes& a) { return a.font && a.font->italic; };
    const Trait underlined = [](const platform::Attributes& a) {
        return a.underlineStyle.value_or(platform::UnderlineStyle::none) != platform::UnderlineStyle::none;
    };
    // Whether every character of the word in the saved text has the trait.
    const struct {
        const char* word;
        Trait trait;
        bool has;
    } words[] = {{"Anna Berg", bold, true},
                 {"strong", bold, true},
                 {"slanted", italic, true},
                 {"lined", underlined, true},
                 {"Second", bold, false}};
    for (const auto& w : words) {
        const QString word = QString::fromUtf8(w.word);
        const int at = int(saved.string().indexOf(word));
        ASSERT_GE(at, 0) << w.word;
        EXPECT_EQ(std::ranges::all_of(saved.runs(),
                                      [&](const auto& run) {
                                          return run.range.end() <= at ||
                                                 at + word.size() <= run.range.location ||
                                                 w.trait(run.attributes);
                                      }),
                  w.has)
            << w.word;
    }
    // The file holds the text as RTF: the traits are its control words.
    const std::string bytes = fileBytes(target);
    for (const char* word : {"\\b ", "\\i ", "\\ul "}) {
        EXPECT_NE(bytes.find(word), std::string::npos) << word;
    }
}

// The text on the clipboard in the flavour `type`, read with xclip; empty when there is none.
QString clipboard(const char* type) {
    QProcess clip;
    clip.start(QStringLiteral("xclip"), {"-selection", "clipboard", "-t", type, "-o"});
    return clip.waitForFinished(15000) && clip.exitCode() == 0
               ? QString::fromUtf8(clip.readAllStandardOutput())
               : QString();
}

// All of a text copied is the text as it is, as plain text and as HTML (read with xclip); cut,
// saved empty, pasted back and saved, it is what it was, character for character and bold where it
// was: one paragraph of 70,020 characters, which the editor cuts into blocks (its HTML one block to
// Qt's reader too), and lines holding the characters a QTextDocument keeps for itself (an
// object's, where another program's picture stood, a frame's start and end, its paragraph break),
// one of them bold.
TEST_F(ScriptTextEndToEnd, LongParagraphsAndReservedCharactersLeaveTheEditorAndComeBackAsTheyWere) {
    if (QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty()) {
        GTEST_SKIP() << "xclip is not installed";
    }
    platform::Attributes bold;
    bold.font = platform::Font{QString(), 34, true, false};
    platform::AttributedString reserved(QStringLiteral("The opening line.\nA picture \uFFFC stood here.\n"));
    reserved.append(QStringLiteral("A frame \uFDD0 began"), bold);
    reserved.append(QStringLiteral(" and one \uFDD1 ended.\nA paragraph \u2029 break.\nThe last line."), {});
    const QString paragraph =
        QStringLiteral("one two three four five six seven eight nine ten ").repeated(1429).left(70020);
    const std::tuple<std::string, platform::AttributedString, const char*> texts[] = {
        {"long", platform::AttributedString(paragraph), "long-paragraph-pasted.png"},
        {"reserved", reserved, "reserved-characters-pasted.png"}};
    noKeyRepeat();
    for (const auto& [name, text, shot] : texts) {
        SCOPED_TRACE(name);
        const fs::path script = makeScript(name + ".cwr", text);
        ASSERT_TRUE(scriptText(script) == text.string()) << "the file keeps them";
        app = &start({pathArg(script)});
        editor = waitForNamed(*app, name + ".cwr");
        ASSERT_TRUE(editor && activate(*editor));
        ASSERT_TRUE(xdotool({"key", "--delay", "100", "ctrl+a", "ctrl+c"}));
        QString copied;
        ASSERT_TRUE(waitFor(*app, [&] {
            return (copied = clipboard("UTF8_STRING")).size() >= text.length();
        })) << "nothing copied";
        EXPECT_TRUE(copied == text.string()) << copied.count(u'\n') << " line breaks";
        EXPECT_TRUE(cw::editor::ClipboardText::fromHtml(clipboard("text/html")).string() == text.string());
        if (!text.string().contains(u'\n')) {
            QTextDocument html;
            html.setHtml(clipboard("text/html"));
            EXPECT_EQ(html.blockCount(), 1);
            EXPECT_TRUE(html.toRawText() == text.string());
        }

        ASSERT_TRUE(activate(*editor) && xdotool({"key", "--delay", "100", "ctrl+a", "ctrl+x", "ctrl+s"}));
        ASSERT_TRUE(waitFor(*app, [&] { return scriptText(script).isEmpty(); })) << "the cut was not saved";
        ASSERT_TRUE(xdotool({"key", "--delay", "100", "ctrl+v", "ctrl+s"}));
        ASSERT_TRUE(waitFor(*app, [&] { return scriptText(script).size() >= text.length(); }))
            << "the paste was not saved";
        screenshot(shot, "editor");
        const platform::AttributedString saved = cw::ScriptDocumentFile::open(script).text;
        EXPECT_TRUE(saved.string() == text.string()) << saved.string().count(u'\n') << " line breaks";
        for (const int at : {0, int(text.string().indexOf(QStringLiteral("A frame")))}) {
            const auto& font = saved.attributes(std::max(at, 0)).font;
            EXPECT_EQ(font && font->bold, at > 0) << "bold where it was, at " << at;
        }
        ASSERT_TRUE(quit(*app, *editor));
    }
}

// HTML that a web page's copy handler can make, put on the clipboard by xclip as the only
// flavour: a style sheet importing a device, a background picture there, 20,000 nested tables
// and 200,000 nested divs behind a quote. Each paste goes in at once, or is refused at once with
// the yellow line; the remote control answers, the saved script holds what went in, and SIGTERM
// ends the application.
TEST_F(ScriptTextEndToEnd, HostileHtmlGoesInOrIsRefusedAtOnce) {
    if (QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty()) {
        GTEST_SKIP() << "xclip is not installed";
    }
    QString expected = QStringLiteral("The script as it was.");
    const fs::path script = makeScript("nested.cwr", expected);
    noKeyRepeat();
    startWithRemote(script, app, editor, port);
    const auto repeated = [](const std::string& piece, int times) {
        std::string result;
        for (int i = 0; i < times; ++i) {
            result += piece;
        }
        return result;
    };
    const struct {
        const char* name;
        std::string html;
        const char* pasted; // nullptr where the paste is refused
    } cases[] = {{"import", "<style>@import url(\"/dev/zero\")</style><b>Imported</b>", "Imported"},
                 {"background", "<p style=\"background-image:url('/dev/zero')\">Painted</p>", "Painted"},
                 {"tables",
                  repeated("<table><tr><td>", 20000) + "deep" + repeated("</td></tr></table>", 20000),
                  nullptr},
                 {"divs", "<div x'>" + repeated("<div>", 200000) + "deep", nullptr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path html = work / (std::string(c.name) + ".html");
        std::ofstream(html) << c.html;
        QProcess clip; // stays to answer for the clipboard until another program takes it
        clip.setStandardOutputFile(QProcess::nullDevice());
        clip.setStandardErrorFile(QProcess::nullDevice());
        clip.start(QStringLiteral("xclip"),
                   {"-selection", "clipboard", "-t", "text/html", "-i", pathArg(html)});
        ASSERT_TRUE(clip.waitForFinished(15000) && clip.exitCode() == 0);
        ASSERT_TRUE(activate(*editor) && xdotool({"key", "--delay", "100", "ctrl+End", "ctrl+v"}));
        if (c.pasted == nullptr) {
            EXPECT_TRUE(waitFor(*app, [&] {
                return pixelsOfColor(display, *editor, cw::editor::EditorWindowController::noticeColor) >
                       5000;
            })) << "no yellow line";
        } else {
            expected += QString::fromUtf8(c.pasted);
        }
        EXPECT_FALSE(askStatus(port).is_null()) << "the remote control does not answer";
        screenshot(std::string("hostile-html-") + c.name + ".png", "editor");
        ASSERT_TRUE(activate(*editor) && xdotool({"key", "ctrl+s"}));
        EXPECT_TRUE(waitFor(*app, [&] { return scriptText(script) == expected; }))
            << scriptText(script).toStdString();
    }
    app->terminate();
    EXPECT_TRUE(app->waitForFinished(15000)) << "SIGTERM did not end it";
}

// A heading above 3,000 short lines, which the editor holds several to a block: a triple click on
// it and Delete take the heading line alone, as the saved script shows; so does a triple click on
// the next first line with a hand that moves 12 px before the last release.
TEST_F(ScriptTextEndToEnd, ATripleClickTakesTheHeadingAlone) {
    const QString lines = QStringLiteral("a short line of the script\n").repeated(3000);
    const fs::path script = makeScript("heading.cwr", QStringLiteral("HEADING HEADING HEADING\n") + lines);
    noKeyRepeat();
    app = &start({pathArg(script)});
    editor = waitForNamed(*app, "heading.cwr");
    ASSERT_TRUE(editor && activate(*editor));
    // The first line stands at the reading position: the first row of bright text in the editor's
    // column, from the top of the window (below its menu and tool bars) down.
    const QRect window = rootGeometry(display, *editor);
    std::optional<QPoint> heading;
    ASSERT_TRUE(waitFor(*app, [&] {
        const QImage shot = grabRoot(display);
        for (int y = window.top() + 120; y < window.bottom() - 60 && !heading; ++y) {
            for (int x = window.left() + 150; x < window.left() + window.width() * 2 / 3; ++x) {
                if (qGray(shot.pixel(x, y)) > 160) {
                    heading = QPoint(x + 3, y + 6);
                    break;
                }
            }
        }
        return heading.has_value();
    })) << "no text in the editor";
    const QString x = QString::number(heading->x());
    const QString y = QString::number(heading->y());
    const QStringList moving{"mousedown", "1", "mousemove_relative", "6", "0", "mousemove_relative", "6", "0",
                             "mouseup",   "1"};
    const std::pair<QStringList, QString> steps[] = {{{"3", "1"}, lines},
                                                     {QStringList{"2", "1"} + moving, lines.mid(27)}};
    for (const auto& [clicks, left] : steps) {
        ASSERT_TRUE(xdotool(QStringList{"mousemove", x, y, "click", "--delay", "80", "--repeat"} + clicks));
        ASSERT_TRUE(xdotool({"key", "--delay", "100", "Delete", "ctrl+s"}));
        ASSERT_TRUE(waitFor(*app, [&] { return scriptText(script).size() <= left.size(); }))
            << "the deletion was not saved";
        screenshot(clicks.size() > 2 ? "line-deleted-moving-hand.png" : "heading-deleted.png", "editor");
        EXPECT_TRUE(scriptText(script) == left)
            << scriptText(script).size() << " characters of " << left.size();
    }
}

} // namespace

CW_END_TO_END_MAIN()

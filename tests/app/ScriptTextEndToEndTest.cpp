// The real cuewright binary under openbox, driven with xdotool: the script's lines and running
// time, read through the remote control's status, stay the same whatever the editor's width, and
// rich text pasted after an earlier paste keeps its bold and italic in the saved script.
// Screenshots go to test-output/editor/.
#include "cuewright/model/KeyBindings.h"
#include "platform/keys/KeyCodes.h"
#include "platform/keys/ModifierFlags.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

// Xlib's macros after gtest, which uses the same names.
#include "EndToEndSupport.h"

#include <QStandardPaths>

namespace fs = std::filesystem;
using namespace endtoend;
namespace mod = platform::modifier;

namespace {

void shoot(const char* name) {
    const QImage image = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    image.save(QString::fromStdString((outputDir("editor") / name).string()));
}

class ScriptTextEndToEnd : public AppTest {
protected:
    std::optional<Window> open(const QStringList& files, const std::string& title) {
        XAutoRepeatOff(display); // a loaded machine must not repeat a key xdotool holds
        XFlush(display);
        app = &start(files);
        const std::optional<Window> editor = waitForNamed(*app, title);
        EXPECT_TRUE(editor && activate(*editor)) << "no editor window " << title;
        return editor;
    }

    QProcess* app = nullptr;
};

// The running time and the line of a bookmark, read once the editor has taken a bookmark jump:
// the jump's key reaches the editor after the change of width before it, so the status shows
// the lines laid out at the new width.
struct Reading {
    double runtime = 0;
    double progress = 0;
};

// 60 paragraphs that wrap in the editor, with a bookmarked line ("*") two thirds down: the
// running time, the words per line and the bookmark's place stay within 1 % when the bookmark
// column is shown and hidden, and when the window is made 900 px wide.
TEST_F(ScriptTextEndToEnd, LinesAndRunningTimeDoNotFollowTheEditorsWidth) {
    QString text;
    for (int i = 1; i <= 60; ++i) {
        text +=
            i == 40
                ? QStringLiteral("* The bookmarked paragraph.\n")
                : QStringLiteral("Paragraph %1 of the evening news, read aloud at an even pace.\n").arg(i);
    }
    const fs::path script = makeScript("wrapped.cwr", text);
    cw::KeyBindings bindings;
    bindings.jumpNextBookmark = cw::KeyBindings::Key{platform::keycode::f5, mod::command | mod::function};
    bindings.rewind = cw::KeyBindings::Key{platform::keycode::f6, mod::command | mod::function};
    enableRemote();
    setDefault(cw::settings::customKeyBindings, bindings.storedValue());
    setDefault(cw::settings::showBookmarkSidebar, false);
    const std::optional<Window> editor = open({pathArg(script)}, "wrapped.cwr");
    ASSERT_TRUE(editor);
    const std::optional<std::uint16_t> port = waitForRemote(*app);
    ASSERT_TRUE(port) << "the remote control never answered";

    // Keys after `change`, in the order X delivers them: rewind, then the next bookmark.
    const auto readAfter = [&](const QStringList& change) -> std::optional<Reading> {
        if (!activate(*editor) ||
            !xdotool(QStringList{"key", "--delay", "100"} + change + QStringList{"ctrl+F6"})) {
            return std::nullopt;
        }
        nlohmann::json status;
        const bool rewound = waitFor(*app, [&] {
            status = askStatus(*port);
            return !status.is_null() && status.value("playbackProgress", -1.0) == 0.0;
        });
        if (!rewound || !xdotool({"key", "ctrl+F5"})) {
            return std::nullopt;
        }
        const bool jumped = waitFor(*app, [&] {
            status = askStatus(*port);
            return !status.is_null() && status.value("playbackProgress", 0.0) > 0.0;
        });
        if (!jumped) {
            return std::nullopt;
        }
        return Reading{status.value("totalRuntime", 0.0), status.value("playbackProgress", 0.0)};
    };

    const std::optional<Reading> first = readAfter({});
    ASSERT_TRUE(first) << "no bookmark jump";
    ASSERT_GT(first->runtime, 0.0);
    const QRect client = rootGeometry(display, *editor);
    const struct {
        const char* step;
        std::function<bool()> change;
        QStringList keys;
    } steps[] = {
        {"bookmark column shown", [] { return true; }, {"ctrl+shift+b"}},
        {"bookmark column hidden", [] { return true; }, {"ctrl+shift+b"}},
        {"window 900 px wide",
         [&] {
             return xdotool(
                        {"windowsize", QString::number(*editor), "900", QString::number(client.height())}) &&
                    waitFor(*app, [&] { return rootGeometry(display, *editor).width() == 900; });
         },
         {}},
        {"900 px wide with the bookmark column", [] { return true; }, {"ctrl+shift+b"}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.step);
        ASSERT_TRUE(step.change());
        const std::optional<Reading> reading = readAfter(step.keys);
        ASSERT_TRUE(reading) << "no bookmark jump";
        shoot((std::string("width-") + step.step + ".png").c_str());
        EXPECT_NEAR(reading->runtime, first->runtime, first->runtime / 100) << "running time";
        EXPECT_NEAR(reading->progress, first->progress, first->progress / 100) << "bookmark's place";
    }
}

// An RTF with a bold name, all of it copied and pasted into another script (bold kept); then HTML
// with bold and italic put on the clipboard by another program (xclip) and pasted below: the saved
// script keeps every one of them.
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

    const std::optional<Window> source = open({pathArg(rtf)}, "Untitled"); // an import is a new script
    ASSERT_TRUE(source);
    ASSERT_TRUE(xdotool({"key", "--delay", "100", "ctrl+a", "ctrl+c"}));
    start({pathArg(target)}); // handed over to the running copy
    const std::optional<Window> editor = waitForNamed(*app, "pasted.cwr");
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
    platform::AttributedString saved;
    ASSERT_TRUE(waitFor(*app, [&] {
        try {
            saved = cw::ScriptDocumentFile::open(target).text;
        } catch (const std::exception&) {
            return false;
        }
        return saved.string().contains(QStringLiteral("slanted"));
    })) << "the second paste was not saved";
    shoot("second-rich-paste.png");

    // Whether every character of `word` in the saved text has the trait.
    using Trait = bool (*)(const platform::Attributes&);
    const Trait bold = [](const platform::Attributes& a) { return a.font && a.font->bold; };
    const Trait italic = [](const platform::Attributes& a) { return a.font && a.font->italic; };
    const Trait underlined = [](const platform::Attributes& a) {
        return a.underlineStyle.value_or(platform::UnderlineStyle::none) != platform::UnderlineStyle::none;
    };
    const auto styled = [&](const QString& word, Trait trait) {
        const int at = int(saved.string().indexOf(word));
        if (at < 0) {
            return false;
        }
        for (const auto& run : saved.runs()) {
            const bool overlaps = run.range.location < at + word.size() && at < run.range.end();
            if (overlaps && !trait(run.attributes)) {
                return false;
            }
        }
        return true;
    };
    EXPECT_TRUE(styled(QStringLiteral("Anna Berg"), bold)) << "first paste";
    EXPECT_TRUE(styled(QStringLiteral("strong"), bold)) << "second paste";
    EXPECT_TRUE(styled(QStringLiteral("slanted"), italic)) << "second paste";
    EXPECT_TRUE(styled(QStringLiteral("lined"), underlined)) << "second paste";
    EXPECT_FALSE(styled(QStringLiteral("Second"), bold));
    // The file holds the text as RTF: the traits are its control words.
    const std::string bytes = fileBytes(target);
    for (const char* word : {"\\b ", "\\i ", "\\ul "}) {
        EXPECT_NE(bytes.find(word), std::string::npos) << word;
    }
}

} // namespace

CW_END_TO_END_MAIN()

// Opening other formats as scripts: the prompter's style rules (main colour, traits, underline,
// centred paragraphs, the default font's size) and each format's reader and failure.
#include "ProjectTestSupport.h"

#include "cuewright/model/ProjectError.h"
#include "cuewright/model/ScriptDocumentFile.h"
#include "cuewright/model/ScriptImport.h"
#include "cuewright/model/SettingsKeys.h"
#include "platform/codecs/OfficeDocuments.h"
#include "platform/defaults/ArchivedValues.h"
#include "platform/text/PlainText.h"
#include "platform/text/RichTextFile.h"

#include <QFont>
#include <QPainter>
#include <QPdfWriter>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace projecttest;
namespace fs = std::filesystem;
using platform::AttributedString;
using platform::Attributes;
using platform::Color;
using platform::Font;
using platform::ParagraphAlignment;

namespace {

const Color kDefaultColor(0.2, 0.8, 0.4);

void writeBytes(const fs::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

Attributes colored(const Color& color) {
    Attributes a;
    a.foregroundColor = color;
    return a;
}

class Import : public ProjectTest {
protected:
    Import() {
        platform::setArchivedColor(defaults, cw::settings::defaultTextColor,
                                   platform::ArchivedColor::sRGB(0.2, 0.8, 0.4));
        platform::setArchivedFont(defaults, cw::settings::defaultFont, {"DejaVu Sans", 40, false, false});
        style = cw::ScriptImport::DefaultStyle::fromUserDefaults(defaults);
        // A project that has been used, so that the reset shows.
        project->setText(AttributedString("Before"));
        project->setRepresentedPath("/somewhere/old.cwr");
        log.clear();
    }

    const AttributedString& text() const { return project->document().text; }
    int at(const QString& needle) const {
        const int location = int(text().string().indexOf(needle));
        EXPECT_GE(location, 0) << needle.toStdString() << " not in " << text().string().toStdString();
        return std::max(location, 0);
    }
    Attributes attributesAt(const QString& needle) const { return text().attributes(at(needle)); }

    // Every character in the default font (traits aside), centred.
    void expectDefaultLookEverywhere() const {
        for (const auto& run : text().runs()) {
            ASSERT_TRUE(run.attributes.font);
            EXPECT_EQ(run.attributes.font->family, "DejaVu Sans");
            EXPECT_EQ(run.attributes.font->pointSize, 40);
            ASSERT_TRUE(run.attributes.paragraphStyle);
            EXPECT_EQ(run.attributes.paragraphStyle->alignment, ParagraphAlignment::center);
            EXPECT_FALSE(run.attributes.backgroundColor);
        }
    }

    // An imported project: no path, nothing unsaved, and listeners heard of the text.
    void expectFreshImport() const {
        EXPECT_EQ(project->representedPath(), std::nullopt);
        EXPECT_FALSE(project->hasUnsavedChanges());
        EXPECT_EQ(log, std::vector<std::string>{"text"});
    }

    cw::ScriptImport::DefaultStyle style;
};

// --- The style rules -------------------------------------------------------------------------

TEST_F(Import, UncolouredAndSingleColourTextsComeOutInTheDefaultColour) {
    for (const AttributedString& source :
         {AttributedString("no colour at all"), AttributedString("all of it red", colored(Color::red()))}) {
        const AttributedString out = cw::ScriptImport::styledText(source, style);
        EXPECT_EQ(out.string(), source.string());
        ASSERT_EQ(out.runs().size(), 1u);
        EXPECT_EQ(out.runs()[0].attributes.foregroundColor, kDefaultColor);
    }
}

TEST_F(Import, WhenMostCharactersAreColouredTheCommonestColourBecomesTheDefault) {
    AttributedString source;
    source.append("redred", colored(Color::red()));
    source.append("blu", colored(Color::blue()));
    source.append("xy", {});
    source.append("red", colored(Color::red()));
    const AttributedString out = cw::ScriptImport::styledText(source, style);
    EXPECT_EQ(out.attributes(0).foregroundColor, kDefaultColor);
    EXPECT_EQ(out.attributes(6).foregroundColor, Color::blue());
    EXPECT_EQ(out.attributes(9).foregroundColor, kDefaultColor);
    EXPECT_EQ(out.attributes(11).foregroundColor, kDefaultColor);
}

TEST_F(Import, HalfColouredCountsAsMostlyColoured) {
    AttributedString source;
    source.append("rr", colored(Color::red()));
    source.append("..", {});
    const AttributedString out = cw::ScriptImport::styledText(source, style);
    EXPECT_EQ(out.runs().size(), 1u);
    EXPECT_EQ(out.attributes(0).foregroundColor, kDefaultColor);
}

TEST_F(Import, WhenFewCharactersAreColouredEveryColourStays) {
    AttributedString source;
    source.append("rr", colored(Color::red()));
    source.append("b", colored(Color::blue()));
    source.append("d", colored(kDefaultColor));
    source.append("plain", {});
    const AttributedString out = cw::ScriptImport::styledText(source, style);
    EXPECT_EQ(out.attributes(0).foregroundColor, Color::red());
    EXPECT_EQ(out.attributes(2).foregroundColor, Color::blue());
    EXPECT_EQ(out.attributes(3).foregroundColor, kDefaultColor);
    EXPECT_EQ(out.attributes(4).foregroundColor, kDefaultColor);
}

TEST_F(Import, TraitsAreAddedToTheDefaultFontAtItsSize) {
    Attributes boldItalicSerif;
    boldItalicSerif.font = Font{"DejaVu Serif", 12, true, true};
    Attributes italicOnly;
    italicOnly.font = Font{"Courier", 9, false, true};
    Attributes plainFont;
    plainFont.font = Font{"Courier", 72, false, false};
    AttributedString source;
    source.append("bi", boldItalicSerif);
    source.append("i", italicOnly);
    source.append("p", plainFont);
    source.append("n", {});

    AttributedString out = cw::ScriptImport::styledText(source, style);
    EXPECT_EQ(out.attributes(0).font, (Font{"DejaVu Sans", 40, true, true}));
    EXPECT_EQ(out.attributes(2).font, (Font{"DejaVu Sans", 40, false, true}));
    EXPECT_EQ(out.attributes(3).font, style.font);
    EXPECT_EQ(out.attributes(4).font, style.font);

    // A bold default font stays bold; the source can only add traits.
    style.font.bold = true;
    out = cw::ScriptImport::styledText(source, style);
    EXPECT_EQ(out.attributes(2).font, (Font{"DejaVu Sans", 40, true, true}));
    EXPECT_EQ(out.attributes(3).font, (Font{"DejaVu Sans", 40, true, false}));
}

TEST_F(Import, UnderlinesStayAndEverythingElseOfTheSourceGoes) {
    Attributes underlined;
    underlined.underlineStyle = platform::UnderlineStyle::doubleLine | platform::UnderlineStyle::byWord;
    underlined.underlineColor = Color::red();
    Attributes decorated;
    decorated.backgroundColor = Color::white();
    decorated.setValue(platform::AttributeName::link, QStringLiteral("https://example.org"));
    decorated.bookmark = std::make_shared<platform::EmbeddedBookmark>();
    platform::ParagraphStyle right;
    right.alignment = ParagraphAlignment::right;
    right.paragraphSpacing = 12;
    decorated.paragraphStyle = right;
    AttributedString source;
    source.append("under", underlined);
    source.append("link\n", decorated);

    const AttributedString out = cw::ScriptImport::styledText(source, style);
    EXPECT_EQ(out.attributes(0).underlineStyle,
              platform::UnderlineStyle::doubleLine | platform::UnderlineStyle::byWord);
    EXPECT_FALSE(out.attributes(0).underlineColor);
    const Attributes rest = out.attributes(5);
    EXPECT_FALSE(rest.underlineStyle);
    EXPECT_FALSE(rest.backgroundColor);
    EXPECT_FALSE(rest.bookmark);
    EXPECT_FALSE(rest.value(platform::AttributeName::link).isValid());
    EXPECT_EQ(rest.paragraphStyle, style.paragraphStyle);
    EXPECT_EQ(style.paragraphStyle.alignment, ParagraphAlignment::center);
    EXPECT_EQ(style.paragraphStyle.paragraphSpacing, 0);
}

// --- Rich text -------------------------------------------------------------------------------

TEST_F(Import, AnRtfWithCodePageEscapesAndColourTableComesOutInThePrompterStyle) {
    const fs::path path = dir / "sample.rtf";
    writeBytes(
        path, "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\froman Times New Roman;}{\\f1\\fswiss "
              "Helvetica;}}\n"
              "{\\colortbl;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}\n"
              "\\pard\\ql\\f0\\fs24 Caf\\'e9 \\u8364?\\u8212? welcome. {\\b\\i bold italic} and {\\ul under} "
              "and {\\cf1 red} and {\\cf2 blue}.\\par\n"
              "\\pard\\qr\\f1\\fs48 Right side\\par}");
    project->importRichText(path.string());

    EXPECT_TRUE(
        text().string().startsWith(QString::fromUtf8("Café €— welcome. bold italic and under and red and "
                                                     "blue.\nRight side")))
        << text().string().toStdString();
    expectDefaultLookEverywhere();
    EXPECT_EQ(attributesAt("welcome").foregroundColor, kDefaultColor);
    EXPECT_EQ(attributesAt("red").foregroundColor, Color::red());
    EXPECT_EQ(attributesAt("blue").foregroundColor, Color::blue());
    EXPECT_TRUE(attributesAt("bold italic").font->bold);
    EXPECT_TRUE(attributesAt("bold italic").font->italic);
    EXPECT_FALSE(attributesAt("welcome").font->bold);
    EXPECT_EQ(attributesAt("under").underlineStyle, platform::UnderlineStyle::single);
    EXPECT_FALSE(attributesAt("welcome").underlineStyle);
    expectFreshImport();
}

TEST_F(Import, AnUnreadableRichTextBecomesOneLineSayingSo) {
    const std::string missing = (dir / "missing.rtf").string();
    project->importRichText(missing);
    EXPECT_EQ(text().string().toStdString(), "Could not read from file '" + missing + "'");
    expectDefaultLookEverywhere();
    EXPECT_EQ(text().attributes(0).foregroundColor, kDefaultColor);
    expectFreshImport();
}

// --- Word documents --------------------------------------------------------------------------

TEST_F(Import, ADocxFromOurOwnExportComesBackInTheDefaultStyle) {
    auto source = cw::Project::create(defaults);
    AttributedString script;
    Attributes boldRed = colored(Color::red());
    boldRed.font = Font{"DejaVu Serif", 34, true, false};
    script.append("Bold red", boldRed);
    script.append(" and plain", colored(Color::yellow()));
    source->setText(script);
    const fs::path path = dir / "exported.docx";
    source->exportDOCX(path.string());

    project->importDOCX(path.string());
    EXPECT_EQ(text().string(), "Bold red and plain");
    expectDefaultLookEverywhere();
    // The export made every character black, so black is the main colour.
    EXPECT_EQ(text().runs(platform::AttributeName::foregroundColor, text().fullRange()).size(), 1u);
    EXPECT_EQ(attributesAt("plain").foregroundColor, kDefaultColor);
    EXPECT_TRUE(attributesAt("Bold").font->bold);
    EXPECT_FALSE(attributesAt("plain").font->bold);
    expectFreshImport();
}

void expectSampleDocument(const AttributedString& text) {
    EXPECT_TRUE(text.string().contains("Good evening, and welcome.")) << text.string().toStdString();
    auto attributesOf = [&](const char* needle) {
        const int location = int(text.string().indexOf(QString::fromUtf8(needle)));
        EXPECT_GE(location, 0) << needle;
        return text.attributes(std::max(location, 0));
    };
    EXPECT_EQ(attributesOf("Red text").foregroundColor, Color::red());
    EXPECT_EQ(attributesOf("blue text").foregroundColor, Color::blue());
    EXPECT_EQ(attributesOf("Good evening").foregroundColor, kDefaultColor);
    EXPECT_TRUE(attributesOf("Bold words").font->bold);
    EXPECT_TRUE(attributesOf("italic words").font->italic);
    EXPECT_EQ(attributesOf("underlined words").underlineStyle, platform::UnderlineStyle::single);
    EXPECT_EQ(attributesOf("Large").font->pointSize, 40);
    EXPECT_TRUE(text.string().contains(QString::fromUtf8("café — naïve")));
}

TEST_F(Import, TheDocxFixtureKeepsTraitsUnderlinesAndMinorColours) {
    project->importDOCX(CW_FIXTURES_DIR "/script-sample.docx");
    expectSampleDocument(text());
    expectDefaultLookEverywhere();
    expectFreshImport();
}

TEST_F(Import, TheDocFixtureReadsLikeTheDocx) {
    project->importDOC(CW_FIXTURES_DIR "/script-sample.doc");
    expectSampleDocument(text());
    expectDefaultLookEverywhere();
    expectFreshImport();
}

TEST_F(Import, UnreadableWordFilesBecomeOneLineSayingSo) {
    const std::string missing = (dir / "missing.docx").string();
    project->importDOCX(missing);
    EXPECT_EQ(text().string().toStdString(), "Could not read from file '" + missing + "'");
    expectFreshImport();

    log.clear();
    const fs::path notWord = dir / "plain.doc";
    writeBytes(notWord, "plain text, not a Word file");
    project->importDOC(notWord.string());
    EXPECT_EQ(text().string().toStdString(), "Could not read from file '" + notWord.string() + "'");
    expectDefaultLookEverywhere();
}

// --- Plain text ------------------------------------------------------------------------------

TEST_F(Import, Utf8TextComesInAsItIsInTheDefaultStyle) {
    const fs::path path = dir / "notes.txt";
    writeBytes(path, "Zeile eins\nZeile zwei \xC3\xBC \xE2\x82\xAC");
    project->importPlainText(path.string());
    EXPECT_EQ(text().string(), QString::fromUtf8("Zeile eins\nZeile zwei ü €"));
    ASSERT_EQ(text().runs().size(), 1u);
    Attributes expected;
    expected.font = style.font;
    expected.foregroundColor = kDefaultColor;
    expected.paragraphStyle = style.paragraphStyle;
    EXPECT_EQ(text().runs()[0].attributes, expected);
    expectFreshImport();
}

TEST_F(Import, AnEmptyTextFileIsAnEmptyScript) {
    const fs::path path = dir / "empty.txt";
    writeBytes(path, "");
    project->importPlainText(path.string());
    EXPECT_TRUE(text().isEmpty());
    EXPECT_EQ(project->representedPath(), std::nullopt);
    EXPECT_FALSE(project->hasUnsavedChanges());
}

TEST_F(Import, ALatin1TextFileFailsAfterTheProjectWasReset) {
    cw::Document::ScriptProperties flipped = project->document().scriptProperties;
    flipped.flipVertical = !flipped.flipVertical;
    project->setScriptProperties(flipped);
    const auto fromSettings = cw::Document::ScriptProperties::fromUserDefaults(defaults);
    const fs::path path = dir / "latin1.txt";
    writeBytes(path, "Caf\xE9 cr\xE8me");
    try {
        project->importPlainText(path.string());
        FAIL() << "read Latin-1 as UTF-8";
    } catch (const platform::PlainTextError& error) {
        EXPECT_EQ(error.reason(), platform::PlainTextError::Reason::notUtf8);
        EXPECT_STREQ(error.what(), "The file \u201Clatin1.txt\u201D couldn\u2019t be opened using text "
                                   "encoding Unicode (UTF-8).");
    }
    EXPECT_TRUE(text().isEmpty());
    EXPECT_EQ(project->representedPath(), std::nullopt);
    EXPECT_EQ(project->document().scriptProperties, fromSettings);
}

TEST_F(Import, AMissingTextFileSaysSo) {
    try {
        project->importPlainText((dir / "gone.txt").string());
        FAIL() << "read a missing file";
    } catch (const platform::PlainTextError& error) {
        EXPECT_EQ(error.reason(), platform::PlainTextError::Reason::unreadable);
        EXPECT_STREQ(error.what(),
                     "The file \u201Cgone.txt\u201D couldn\u2019t be opened because there is no such file.");
    }
}

TEST_F(Import, AnOversizedTextFileSaysSoUnread) {
    const fs::path path = dir / "huge.txt";
    writeBytes(path, "");
    fs::resize_file(path, platform::kMaxPlainTextFileSize + 1); // sparse: nothing to read
    try {
        project->importPlainText(path.string());
        FAIL() << "read an oversized file";
    } catch (const platform::PlainTextError& error) {
        EXPECT_EQ(error.reason(), platform::PlainTextError::Reason::tooLarge);
        EXPECT_STREQ(error.what(),
                     "The file \u201Chuge.txt\u201D couldn\u2019t be opened because it is too large.");
    }
}

// --- PDF -------------------------------------------------------------------------------------

void writePdf(const fs::path& path) {
    QPdfWriter writer(QString::fromStdString(path.string()));
    QPainter painter(&writer);
    QFont font("DejaVu Sans");
    font.setPointSize(14);
    painter.setFont(font);
    painter.drawText(QPointF(200, 400), "Hello from a PDF");
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QPointF(200, 800), "Bold line");
}

TEST_F(Import, APdfsTextComesInInThePrompterStyle) {
    const fs::path path = dir / "made.pdf";
    writePdf(path);
    project->importPDF(path.string());
    EXPECT_TRUE(text().string().contains("Hello from a PDF")) << text().string().toStdString();
    expectDefaultLookEverywhere();
    EXPECT_EQ(attributesAt("Hello").foregroundColor, kDefaultColor);
    EXPECT_FALSE(attributesAt("Hello").font->bold);
    EXPECT_TRUE(attributesAt("Bold line").font->bold);
    expectFreshImport();
}

TEST_F(Import, AnUnreadablePdfFailsWithItsUrlAndLeavesTheProject) {
    const fs::path path = dir / "my script.pdf";
    writeBytes(path, "not a pdf at all");
    for (const fs::path& p : {path, dir / "missing.pdf"}) {
        try {
            project->importPDF(p.string());
            FAIL() << "read " << p;
        } catch (const cw::ProjectError& error) {
            EXPECT_EQ(error.kind(), cw::ProjectError::Kind::generalLoadError);
            const std::string url =
                "file://" + QString::fromStdString(p.string()).replace(" ", "%20").toStdString();
            EXPECT_EQ(std::string(error.what()), "An error occured during loading: can't open " + url + ".");
        }
    }
    EXPECT_EQ(text().string(), "Before");
    EXPECT_EQ(project->representedPath(), "/somewhere/old.cwr");
    EXPECT_TRUE(log.empty());
}

TEST_F(Import, TheLibreOfficePdfKeepsItsColoursUnderlineTraitsAndWholeParagraphs) {
    // Made by LibreOffice from script-sample.html on a narrow page, so the second paragraph
    // takes two lines.
    project->importPDF(CW_FIXTURES_DIR "/script-sample.pdf");
    EXPECT_EQ(text().string().split(u'\n'),
              QStringList({"Good evening, and welcome.", "Bold words and italic words and underlined words.",
                           "Red text then blue text.", QString::fromUtf8("Large café — naïve")}));
    expectDefaultLookEverywhere();
    EXPECT_EQ(attributesAt("Red text").foregroundColor, Color(1, 0, 0));
    EXPECT_EQ(attributesAt("blue text").foregroundColor, Color(0, 0, 1));
    EXPECT_EQ(attributesAt("then").foregroundColor, kDefaultColor) << "black, the main colour";
    EXPECT_TRUE(attributesAt("underlined").underlineStyle);
    EXPECT_FALSE(attributesAt("words.").underlineStyle);
    EXPECT_TRUE(attributesAt("Bold").font->bold);
    EXPECT_TRUE(attributesAt("italic").font->italic);
    expectFreshImport();
}

// --- Control characters ----------------------------------------------------------------------

// Every character below U+0020 either survives a save as it is (tab, line feed) or is made what
// the file gives back when it comes in, so offsets into the text mean the same after a save.
TEST_F(Import, EveryControlCharacterComesInAsTheScriptFileGivesItBack) {
    const fs::path saved = dir / "saved.cwr";
    for (char16_t c = 0; c < 0x20; ++c) {
        const QString expected = c == u'\t' ? QStringLiteral("a\tb")
                                 : c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f'
                                     ? QStringLiteral("a\nb")
                                     : QStringLiteral("ab");
        const fs::path path = dir / "control.txt";
        writeBytes(path, (QStringLiteral("a") + QChar(c) + QStringLiteral("b")).toStdString());
        project->importPlainText(path.string());
        EXPECT_EQ(text().string(), expected) << "U+" << int(c);
        project->save(saved.string());
        EXPECT_EQ(cw::ScriptDocumentFile::open(saved, defaults).text.string(), text().string())
            << "U+" << int(c);
    }
    // A CR LF split between two runs of a rich text is one line break too.
    AttributedString split("one\r", colored(Color(1, 0, 0)));
    split.append(QStringLiteral("\ntwo\r\rthree"), colored(Color(0, 0, 1)));
    EXPECT_EQ(cw::ScriptImport::styledText(split, style).string(), "one\ntwo\n\nthree");
}

} // namespace

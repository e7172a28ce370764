// Opening other formats as scripts: the prompter's style rules (main colour, traits, underline,
// centred paragraphs, the default font's size) and each format's reader and failure.
#include "ProjectTestSupport.h"

#include "cuewright/model/ProjectError.h"
#include "cuewright/model/ScriptDocumentFile.h"
#include "cuewright/model/ScriptImport.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/model/Workspace.h"
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
#include <iterator>

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

    // An imported project: no path, nothing unsaved, listeners heard of the text, and every
    // character in the default font (traits aside), centred.
    void expectFreshImport() const {
        EXPECT_EQ(project->representedPath(), std::nullopt);
        EXPECT_FALSE(project->hasUnsavedChanges());
        EXPECT_EQ(log, std::vector<std::string>{"text"});
        for (const auto& run : text().runs()) {
            ASSERT_TRUE(run.attributes.font);
            EXPECT_EQ(run.attributes.font->family, "DejaVu Sans");
            EXPECT_EQ(run.attributes.font->pointSize, 40);
            ASSERT_TRUE(run.attributes.paragraphStyle);
            EXPECT_EQ(run.attributes.paragraphStyle->alignment, ParagraphAlignment::center);
            EXPECT_FALSE(run.attributes.backgroundColor);
        }
    }

    cw::ScriptImport::DefaultStyle style;
};

// --- The style rules -------------------------------------------------------------------------

// When at least half the characters are coloured, the commonest colour is the main one and
// becomes the default colour; with fewer coloured, every colour stays.
TEST_F(Import, TheMainColourBecomesTheDefaultColour) {
    const std::optional<Color> none, red = Color::red(), blue = Color::blue(), main = kDefaultColor;
    const struct {
        const char* name;
        std::vector<std::pair<const char*, std::optional<Color>>> runs;
        std::vector<std::pair<int, Color>> colourAt;
        bool oneRun;
    } cases[] = {
        {"uncoloured", {{"no colour at all", none}}, {{0, kDefaultColor}}, true},
        {"one colour", {{"all of it red", red}}, {{0, kDefaultColor}}, true},
        {"half coloured", {{"rr", red}, {"..", none}}, {{0, kDefaultColor}}, true},
        {"mostly coloured",
         {{"redred", red}, {"blu", blue}, {"xy", none}, {"red", red}},
         {{0, kDefaultColor}, {6, Color::blue()}, {9, kDefaultColor}, {11, kDefaultColor}},
         false},
        {"few coloured",
         {{"rr", red}, {"b", blue}, {"d", main}, {"plain", none}},
         {{0, Color::red()}, {2, Color::blue()}, {3, kDefaultColor}, {4, kDefaultColor}},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AttributedString source;
        for (const auto& [piece, colour] : c.runs) {
            source.append(piece, colour ? colored(*colour) : Attributes{});
        }
        const AttributedString out = cw::ScriptImport::styledText(source, style);
        EXPECT_EQ(out.string(), source.string());
        for (const auto& [at, colour] : c.colourAt) {
            EXPECT_EQ(out.attributes(at).foregroundColor, colour) << at;
        }
        if (c.oneRun) {
            EXPECT_EQ(out.runs().size(), 1u);
        }
    }
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
    EXPECT_EQ(attributesAt("welcome").foregroundColor, kDefaultColor);
    EXPECT_EQ(attributesAt("red").foregroundColor, Color::red());
    EXPECT_EQ(attributesAt("blue").foregroundColor, Color::blue());
    EXPECT_TRUE(attributesAt("bold italic").font->bold);
    EXPECT_TRUE(attributesAt("bold italic").font->italic);
    EXPECT_FALSE(attributesAt("welcome").font->bold);
    EXPECT_EQ(attributesAt("under").underlineStyle, platform::UnderlineStyle::single);
    EXPECT_FALSE(attributesAt("welcome").underlineStyle);
    expectFreshImport();
    EXPECT_TRUE(project->readNotice().isEmpty());

    // Cut short, it opens with what was read and a notice naming the file.
    const fs::path cut = dir / "cut <b>short.rtf";
    writeBytes(cut, "{\\rtf1\\ansi{\\fonttbl{\\f0 Times;}}\\f0 First part.\\par Second pa");
    project->importRichText(cut.string());
    EXPECT_EQ(text().string(), QStringLiteral("First part.\nSecond pa"));
    EXPECT_TRUE(project->readNotice().contains(QStringLiteral("\u201Ccut <b>short.rtf\u201D ends early")))
        << project->readNotice().toStdString();
    project->importRichText(path.string());
    EXPECT_TRUE(project->readNotice().isEmpty()) << "a whole file says nothing";
}

// A rich text or Word file that cannot be read (missing, junk, cut short, not a file) is refused
// as any unreadable file is, naming it and why, before the project changes; read off the main
// thread it is refused the same way.
TEST_F(Import, AnUnreadableRichTextOrWordFileIsRefusedWithTheReason) {
    writeBytes(dir / "plain.doc", "plain text, not a Word file");
    writeBytes(dir / "junk.docx", "PK\x03\x04 not really a zip package");
    writeBytes(dir / "junk.rtf", "just words, no RTF header");
    std::ifstream fixture(CW_FIXTURES_DIR "/script-sample.docx", std::ios::binary);
    const std::string sample((std::istreambuf_iterator<char>(fixture)), std::istreambuf_iterator<char>());
    writeBytes(dir / "cut.docx", sample.substr(0, sample.size() / 2));
    fs::create_directory(dir / "folder.docx");
    using Import = void (cw::Project::*)(const std::string&);
    const struct {
        fs::path path;
        Import import;
        std::string because;
    } cases[] = {
        {dir / "missing.rtf", &cw::Project::importRichText, "there is no such file"},
        {dir / "junk.rtf", &cw::Project::importRichText, "it is not a readable RTF document"},
        {dir / "missing.docx", &cw::Project::importDOCX, "there is no such file"},
        {dir / "junk.docx", &cw::Project::importDOCX, "it is not a readable DOCX document"},
        {dir / "cut.docx", &cw::Project::importDOCX, "it is not a readable DOCX document"},
        {dir / "folder.docx", &cw::Project::importDOCX, "it is not a file"},
        {dir / "plain.doc", &cw::Project::importDOC, "it is not a readable Word document"},
        {dir / "missing.doc", &cw::Project::importDOC, "there is no such file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const std::string expected = "The file \u201C" + c.path.filename().string() +
                                     "\u201D couldn\u2019t be opened because " + c.because + ".";
        try {
            ((*project).*c.import)(c.path.string());
            ADD_FAILURE() << "opened as " << text().string().toStdString();
        } catch (const cw::ProjectError& error) {
            EXPECT_EQ(error.kind(), cw::ProjectError::Kind::couldNotOpen);
            EXPECT_EQ(std::string(error.what()), expected);
        }
        EXPECT_EQ(text().string(), "Before");
        EXPECT_EQ(project->representedPath(), "/somewhere/old.cwr");
        EXPECT_TRUE(log.empty());
        cw::ScriptImport::ReadProgress progress;
        try {
            cw::ScriptImport::readFile(QString::fromStdString(c.path.string()),
                                       cw::Workspace::fileExtension(c.path.string()), style, progress);
            ADD_FAILURE() << "read off the main thread";
        } catch (const cw::ProjectError& error) {
            EXPECT_EQ(std::string(error.what()), expected);
        }
    }
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
    // The export made every character black, so black is the main colour.
    EXPECT_EQ(text().runs(platform::AttributeName::foregroundColor, text().fullRange()).size(), 1u);
    EXPECT_EQ(attributesAt("plain").foregroundColor, kDefaultColor);
    EXPECT_TRUE(attributesAt("Bold").font->bold);
    EXPECT_FALSE(attributesAt("plain").font->bold);
    expectFreshImport();
}

// script-sample.doc holds what script-sample.docx does.
TEST_F(Import, TheWordFixturesKeepTraitsUnderlinesAndMinorColours) {
    for (const bool doc : {false, true}) {
        SCOPED_TRACE(doc ? "doc" : "docx");
        log.clear();
        if (doc) {
            project->importDOC(CW_FIXTURES_DIR "/script-sample.doc");
        } else {
            project->importDOCX(CW_FIXTURES_DIR "/script-sample.docx");
        }
        EXPECT_TRUE(text().string().contains("Good evening, and welcome.")) << text().string().toStdString();
        EXPECT_TRUE(text().string().contains(QString::fromUtf8("café — naïve")));
        EXPECT_EQ(attributesAt("Red text").foregroundColor, Color::red());
        EXPECT_EQ(attributesAt("blue text").foregroundColor, Color::blue());
        EXPECT_EQ(attributesAt("Good evening").foregroundColor, kDefaultColor);
        EXPECT_TRUE(attributesAt("Bold words").font->bold);
        EXPECT_TRUE(attributesAt("italic words").font->italic);
        EXPECT_EQ(attributesAt("underlined words").underlineStyle, platform::UnderlineStyle::single);
        EXPECT_EQ(attributesAt("Large").font->pointSize, 40);
        expectFreshImport();
    }
}

// --- Plain text ------------------------------------------------------------------------------

// An empty file is an empty script.
TEST_F(Import, Utf8TextComesInAsItIsInTheDefaultStyle) {
    Attributes expected;
    expected.font = style.font;
    expected.foregroundColor = kDefaultColor;
    expected.paragraphStyle = style.paragraphStyle;
    for (const std::string bytes : {"Zeile eins\nZeile zwei \xC3\xBC \xE2\x82\xAC", ""}) {
        writeBytes(dir / "notes.txt", bytes);
        log.clear();
        project->importPlainText((dir / "notes.txt").string());
        EXPECT_EQ(text().string(), QString::fromStdString(bytes));
        EXPECT_EQ(text().runs().size(), bytes.empty() ? 0u : 1u);
        if (!bytes.empty()) {
            EXPECT_EQ(text().runs()[0].attributes, expected);
            expectFreshImport();
        }
        EXPECT_EQ(project->representedPath(), std::nullopt);
        EXPECT_FALSE(project->hasUnsavedChanges());
    }
}

// A Latin-1 file fails after the project was reset; a missing or oversized (sparse: nothing to
// read) one is refused unread.
TEST_F(Import, ATextFileThatIsNotUtf8MissingOrTooLargeFailsSayingWhy) {
    cw::Document::ScriptProperties flipped = project->document().scriptProperties;
    flipped.flipVertical = !flipped.flipVertical;
    project->setScriptProperties(flipped);
    writeBytes(dir / "latin1.txt", "Caf\xE9 cr\xE8me");
    writeBytes(dir / "huge.txt", "");
    fs::resize_file(dir / "huge.txt", platform::kMaxPlainTextFileSize + 1);
    using Reason = platform::PlainTextError::Reason;
    const struct {
        const char* name;
        Reason reason;
        std::string because;
    } cases[] = {
        {"gone.txt", Reason::unreadable, "because there is no such file."},
        {"huge.txt", Reason::tooLarge, "because it is too large."},
        {"latin1.txt", Reason::notUtf8, "using text encoding Unicode (UTF-8)."},
    };
    for (const auto& c : cases) {
        try {
            project->importPlainText((dir / c.name).string());
            ADD_FAILURE() << "read " << c.name;
        } catch (const platform::PlainTextError& error) {
            EXPECT_EQ(error.reason(), c.reason) << c.name;
            EXPECT_EQ(error.what(), "The file \u201C" + std::string(c.name) +
                                        "\u201D couldn\u2019t be opened " + c.because);
        }
    }
    EXPECT_TRUE(text().isEmpty());
    EXPECT_EQ(project->representedPath(), std::nullopt);
    EXPECT_EQ(project->document().scriptProperties,
              cw::Document::ScriptProperties::fromUserDefaults(defaults));
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

// A PDF read off the main thread and found unreadable is not read again by the usual opening,
// which says why at once; a file written since, and a read that was cancelled, leave nothing
// behind. A cancelled read stops.
TEST_F(Import, APdfFoundUnreadableOffTheMainThreadIsNotReadAgain) {
    const auto style = cw::ScriptImport::DefaultStyle::fromUserDefaults(defaults);
    const fs::path path = dir / "broken.pdf";
    writeBytes(path, "%PDF-1.4 not really");
    const QString name = QString::fromStdString(path.string());
    cw::ScriptImport::ReadProgress progress;
    EXPECT_FALSE(cw::ScriptImport::readFile(name, "pdf", style, progress));
    EXPECT_THROW(project->importPDF(path.string()), cw::ProjectError);
    EXPECT_FALSE(cw::ScriptImport::takeUnreadablePdf(path.string())) << "told once";

    EXPECT_FALSE(cw::ScriptImport::readFile(name, "pdf", style, progress));
    fs::remove(path);
    writePdf(path); // a readable one in its place
    project->importPDF(path.string());
    EXPECT_TRUE(text().string().contains("Hello from a PDF"));

    cw::ScriptImport::ReadProgress cancelled;
    cancelled.cancelled = true;
    EXPECT_FALSE(cw::ScriptImport::readFile(name, "pdf", style, cancelled));
    EXPECT_FALSE(cw::ScriptImport::takeUnreadablePdf(path.string()));
    EXPECT_THROW(platform::readPdfFile(path, &cancelled.cancelled), platform::CodecError);
}

TEST_F(Import, TheLibreOfficePdfKeepsItsColoursUnderlineTraitsAndWholeParagraphs) {
    // Made by LibreOffice from script-sample.html on a narrow page, so the second paragraph
    // takes two lines.
    project->importPDF(CW_FIXTURES_DIR "/script-sample.pdf");
    EXPECT_EQ(text().string().split(u'\n'),
              QStringList({"Good evening, and welcome.", "Bold words and italic words and underlined words.",
                           "Red text then blue text.", QString::fromUtf8("Large café — naïve")}));
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

// A NUL inside a paragraph, however a file writes it, is dropped, and the rest of the paragraph
// comes in.
TEST_F(Import, ANulInsideAParagraphIsDroppedAndTheRestKept) {
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"nul.txt", std::string("before\0after", 12)},
        {"nul.rtf", R"({\rtf1\ansi before\u0 \'00after})"},
    };
    for (const auto& c : cases) {
        const fs::path path = dir / c.name;
        writeBytes(path, c.bytes);
        cw::ScriptImport::ReadProgress progress;
        const auto read = cw::ScriptImport::readFile(QString::fromStdString(path.string()),
                                                     path.extension().string().substr(1), style, progress);
        ASSERT_TRUE(read.has_value()) << c.name;
        EXPECT_EQ(read->string(), QStringLiteral("beforeafter")) << c.name;
    }
}

} // namespace

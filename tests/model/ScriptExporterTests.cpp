// Exports: what each format writes, that the DOCX text is normalised, and that a failing
// export leaves the destination alone.
#include "cuewright/model/ScriptExporter.h"
#include "platform/codecs/OfficeDocuments.h"
#include "platform/text/RtfReader.h"

#include "ModelTestFiles.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace cw;
namespace fs = std::filesystem;
using modeltest::fileBytes;
using platform::AttributedString;
using platform::Color;

namespace {

AttributedString yellowScript() {
    platform::Attributes look;
    look.font = platform::Font{"DejaVu Serif", 34, false, true};
    look.foregroundColor = Color::yellow();
    look.underlineStyle = platform::UnderlineStyle::single;
    look.underlineColor = Color::red();
    platform::ParagraphStyle style;
    style.alignment = platform::ParagraphAlignment::center;
    style.lineBreakMode = platform::LineBreakMode::truncatingTail;
    look.paragraphStyle = style;
    AttributedString text(QString::fromUtf8("Grüße\nfrom the studio"), look);
    text.append(" (no font here)", {});
    return text;
}

class Export : public ::testing::Test {
protected:
    testsupport::TempDir dir;
};

} // namespace

TEST_F(Export, PlainTextIsUtf8WithoutMarkAndAnEmptyScriptAnEmptyFile) {
    ScriptExporter::exportPlainText(dir / "a.txt", yellowScript());
    EXPECT_EQ(fileBytes(dir / "a.txt"), "Grüße\nfrom the studio (no font here)");
    ScriptExporter::exportPlainText(dir / "empty.txt", AttributedString());
    EXPECT_TRUE(fs::is_regular_file(dir / "empty.txt"));
    EXPECT_EQ(fs::file_size(dir / "empty.txt"), 0u);
}

TEST_F(Export, RtfKeepsTheLookAndCarriesTheBackground) {
    ScriptExporter::exportRTF(dir / "a.rtf", yellowScript(), Color::blue());
    const std::string bytes = fileBytes(dir / "a.rtf");
    EXPECT_NE(bytes.find("\\fs68"), std::string::npos);
    EXPECT_NE(bytes.find("\\red255\\green255\\blue0"), std::string::npos);
    platform::RtfDocumentAttributes document;
    auto read = platform::readRtf(QByteArrayView(bytes.data(), qsizetype(bytes.size())), &document);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->string(), yellowScript().string());
    const auto look = read->attributes(0);
    ASSERT_TRUE(look.font && look.foregroundColor);
    EXPECT_EQ(look.font->pointSize, 34);
    EXPECT_EQ(*look.foregroundColor, Color::yellow());
    EXPECT_EQ(document.backgroundColor, Color::blue());
}

TEST_F(Export, DocxTextIsBlackFourteenPointAndWordWrapped) {
    const AttributedString text = ScriptExporter::docxText(yellowScript());
    EXPECT_EQ(text.string(), yellowScript().string());
    for (const auto& run : text.runs()) {
        EXPECT_EQ(run.attributes.foregroundColor, Color::black());
        EXPECT_EQ(run.attributes.underlineColor, Color::black());
    }
    const auto first = text.attributes(0);
    ASSERT_TRUE(first.font && first.paragraphStyle);
    EXPECT_EQ(first.font->pointSize, 14);
    EXPECT_EQ(first.font->family, "DejaVu Serif");
    EXPECT_TRUE(first.font->italic);
    EXPECT_EQ(first.underlineStyle, platform::UnderlineStyle::single);
    EXPECT_EQ(first.paragraphStyle->lineBreakMode, platform::LineBreakMode::wordWrapping);
    EXPECT_EQ(first.paragraphStyle->alignment, platform::ParagraphAlignment::center);
    // Runs without a font or style get none.
    const auto last = text.attributes(text.length() - 1);
    EXPECT_FALSE(last.font);
    EXPECT_FALSE(last.paragraphStyle);
}

TEST_F(Export, DocxIsBlackFourteenPointTextOnThePageColour) {
    ScriptExporter::exportDOCX(dir / "a.docx", yellowScript(), Color::blue());
    platform::OfficeDocumentAttributes document;
    const AttributedString read =
        platform::readDocxFile(QString::fromStdString((dir / "a.docx").string()), &document);
    EXPECT_EQ(read.string(), yellowScript().string());
    const auto look = read.attributes(0);
    ASSERT_TRUE(look.font && look.foregroundColor);
    EXPECT_EQ(look.font->pointSize, 14);
    EXPECT_TRUE(look.font->italic);
    EXPECT_EQ(*look.foregroundColor, Color::black());
    EXPECT_EQ(look.underlineColor, Color::black());
    EXPECT_EQ(document.backgroundColor, Color::blue());
}

TEST_F(Export, AnExportIntoAMissingFolderThrowsAndWritesNothing) {
    EXPECT_THROW(ScriptExporter::exportPlainText(dir / "nowhere" / "a.txt", yellowScript()),
                 std::system_error);
    EXPECT_THROW(ScriptExporter::exportRTF(dir / "nowhere" / "a.rtf", yellowScript(), Color::black()),
                 std::system_error);
    EXPECT_FALSE(fs::exists(dir / "nowhere"));
}

TEST_F(Export, ExportsReplaceAnExistingFileAndLeaveNoTemporaryFiles) {
    ScriptExporter::exportPlainText(dir / "a.txt", AttributedString("a much longer first version"));
    ScriptExporter::exportPlainText(dir / "a.txt", AttributedString("short"));
    EXPECT_EQ(fileBytes(dir / "a.txt"), "short");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

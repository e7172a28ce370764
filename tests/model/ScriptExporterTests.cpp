// Exports: what each format writes, that the DOCX text is normalised, and that a failing
// export leaves the destination alone.
#include "cuewright/model/ProjectError.h"
#include "cuewright/model/ScriptExporter.h"
#include "platform/text/RtfReader.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

using namespace cw;
namespace fs = std::filesystem;
using platform::AttributedString;
using platform::Color;

namespace {

std::string fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

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
    void TearDown() override { ScriptExporter::setDocxEncoder({}); }
    testsupport::TempDir dir;
};

} // namespace

TEST_F(Export, PlainTextIsUtf8WithoutMark) {
    ScriptExporter::exportPlainText(dir / "a.txt", yellowScript());
    EXPECT_EQ(fileBytes(dir / "a.txt"), "Grüße\nfrom the studio (no font here)");
}

TEST_F(Export, AnEmptyScriptGivesAnEmptyFile) {
    ScriptExporter::exportPlainText(dir / "empty.txt", AttributedString());
    EXPECT_TRUE(fs::exists(dir / "empty.txt"));
    EXPECT_EQ(fs::file_size(dir / "empty.txt"), 0u);
}

TEST_F(Export, RtfKeepsTheLookAndCarriesTheBackground) {
    ScriptExporter::exportRTF(dir / "a.rtf", yellowScript(), Color::blue());
    const std::string bytes = fileBytes(dir / "a.rtf");
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

TEST_F(Export, FontsNeverGoBelowEightPoints) {
    platform::Attributes look;
    look.font = platform::Font{"DejaVu Sans", 30, false, false};
    const auto text = ScriptExporter::applyFontAndParagraphStyle(AttributedString("x", look), 4);
    EXPECT_EQ(text.attributes(0).font->pointSize, 8);
}

TEST_F(Export, DocxHandsThePreparedTextAndPageColourToTheEncoder) {
    AttributedString seen;
    Color page;
    ScriptExporter::setDocxEncoder([&](const AttributedString& text, const Color& background) {
        seen = text;
        page = background;
        return QByteArray("PK-docx-bytes");
    });
    ScriptExporter::exportDOCX(dir / "a.docx", yellowScript(), Color::blue());
    EXPECT_EQ(fileBytes(dir / "a.docx"), "PK-docx-bytes");
    EXPECT_EQ(seen, ScriptExporter::docxText(yellowScript()));
    EXPECT_EQ(page, Color::blue());
}

TEST_F(Export, DocxWithoutAnEncoderFailsWithoutWriting) {
    try {
        ScriptExporter::exportDOCX(dir / "a.docx", yellowScript(), Color::blue());
        FAIL();
    } catch (const ProjectError& e) {
        EXPECT_EQ(e.kind(), ProjectError::Kind::generalSaveError);
    }
    EXPECT_FALSE(fs::exists(dir / "a.docx"));
}

TEST_F(Export, AFailingEncoderLeavesTheOldFile) {
    ScriptExporter::exportPlainText(dir / "a.docx", AttributedString("old"));
    ScriptExporter::setDocxEncoder(
        [](const AttributedString&, const Color&) -> QByteArray { throw std::runtime_error("zip failed"); });
    EXPECT_THROW(ScriptExporter::exportDOCX(dir / "a.docx", yellowScript(), Color::blue()),
                 std::runtime_error);
    EXPECT_EQ(fileBytes(dir / "a.docx"), "old");
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

// Word and PDF documents as attributed strings: what each character carries, and DOCX export.
#include "platform/codecs/CodecError.h"
#include "platform/codecs/OfficeDocuments.h"
#include "platform/text/TextAttributes.h"

#include <gtest/gtest.h>

namespace {

using platform::AttributedString;
using platform::Attributes;
using platform::Color;
using platform::Font;
using platform::OfficeDocumentAttributes;
using platform::ParagraphAlignment;
using platform::ParagraphStyle;
namespace UnderlineStyle = platform::UnderlineStyle;

Attributes look(const Font& font, ParagraphAlignment alignment) {
    Attributes attributes;
    attributes.font = font;
    ParagraphStyle paragraph;
    paragraph.alignment = alignment;
    attributes.paragraphStyle = paragraph;
    return attributes;
}

TEST(OfficeDocuments, DocxExportReadsBackWithEveryAttributeItKeeps) {
    AttributedString text;
    Attributes yellow = look(Font{"DejaVu Sans", 34, true, false}, ParagraphAlignment::center);
    yellow.foregroundColor = Color::yellow();
    yellow.underlineStyle = UnderlineStyle::doubleLine;
    yellow.underlineColor = Color::black();
    text.append("Yellow\n", yellow);
    Attributes plain = look(Font{"DejaVu Serif", 12, false, true}, ParagraphAlignment::right);
    plain.backgroundColor = Color::blue();
    plain.underlineStyle = UnderlineStyle::single | UnderlineStyle::patternDash;
    text.append(QString::fromUtf16(u"tab\there\u2028line"), plain);

    OfficeDocumentAttributes page;
    page.backgroundColor = Color(0, 0, 0.2);
    OfficeDocumentAttributes readPage;
    const AttributedString back = platform::readDocxData(platform::docxData(text, page), &readPage);
    EXPECT_EQ(back, text);
    ASSERT_TRUE(readPage.backgroundColor);
    EXPECT_EQ(readPage.backgroundColor->blue8(), 51);
}

TEST(OfficeDocuments, EveryCharacterGetsAFontAndItsParagraphsAlignment) {
    AttributedString text("first\n\nthird", Attributes{});
    const AttributedString back = platform::readDocxData(platform::docxData(text));
    EXPECT_EQ(back.string(), "first\n\nthird");
    for (const AttributedString::Run& run : back.runs()) {
        ASSERT_TRUE(run.attributes.font);
        EXPECT_FALSE(run.attributes.font->family.isEmpty());
        EXPECT_GT(run.attributes.font->pointSize, 0);
        ASSERT_TRUE(run.attributes.paragraphStyle);
        EXPECT_FALSE(run.attributes.foregroundColor);
        EXPECT_FALSE(run.attributes.underlineStyle);
    }
}

TEST(OfficeDocuments, ParagraphTakesTheAlignmentOfItsFirstCharacter) {
    AttributedString text;
    const Font font{"A", 12, false, false};
    text.append("ab", look(font, ParagraphAlignment::center));
    text.append("cd\nef", look(font, ParagraphAlignment::right));
    text.append("\r\n", look(font, ParagraphAlignment::left));
    text.append("gh", look(font, ParagraphAlignment::justified));
    const AttributedString back = platform::readDocxData(platform::docxData(text));
    EXPECT_EQ(back.string(), "abcd\nef\ngh");
    auto alignmentAt = [&](int location) { return back.attributes(location).paragraphStyle->alignment; };
    EXPECT_EQ(alignmentAt(0), ParagraphAlignment::center);
    EXPECT_EQ(alignmentAt(3), ParagraphAlignment::center);
    EXPECT_EQ(alignmentAt(5), ParagraphAlignment::right);
    EXPECT_EQ(alignmentAt(8), ParagraphAlignment::justified);
}

TEST(OfficeDocuments, CarriageReturnLineFeedIsOneBreakAlsoAcrossRuns) {
    AttributedString text;
    text.append("bold\r", look(Font{"DejaVu Sans", 20, true, false}, ParagraphAlignment::left));
    text.append("\nplain\r\nlast", look(Font{"DejaVu Sans", 20, false, false}, ParagraphAlignment::left));
    const AttributedString back = platform::readDocxData(platform::docxData(text, {}));
    EXPECT_EQ(back.string(), QStringLiteral("bold\nplain\nlast"));
}

TEST(OfficeDocuments, WordFixtureKeepsTraitsAndColoursAndMissingFilesThrow) {
    const AttributedString text = platform::readDocFile(QStringLiteral(CW_FIXTURES_DIR "/script-sample.doc"));
    const int bold = static_cast<int>(text.string().indexOf("Bold words"));
    const int red = static_cast<int>(text.string().indexOf("Red text"));
    ASSERT_GE(bold, 0);
    ASSERT_GE(red, 0);
    EXPECT_TRUE(text.attributes(bold).font->bold);
    EXPECT_EQ(text.attributes(red).foregroundColor, Color::red());
    const AttributedString docx =
        platform::readDocxFile(QStringLiteral(CW_FIXTURES_DIR "/script-sample.docx"));
    EXPECT_EQ(docx.string(), text.string());
    EXPECT_THROW(platform::readDocxFile(QStringLiteral("/nonexistent.docx")), platform::CodecError);
    EXPECT_THROW(platform::readDocFile(QStringLiteral("/nonexistent.doc")), platform::CodecError);
    EXPECT_THROW(platform::readPdfFile(QStringLiteral("/nonexistent.pdf")), platform::CodecError);
}

} // namespace

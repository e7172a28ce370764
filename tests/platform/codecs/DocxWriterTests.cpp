// DOCX writing: what goes into the package and that our reader gets it back unchanged.
#include "platform/codecs/DocxReader.h"
#include "platform/codecs/DocxWriter.h"
#include "platform/codecs/ZipPackage.h"

#include <gtest/gtest.h>

namespace {

using platform::codecs::DocxReader;
using platform::codecs::DocxWriter;
using platform::codecs::ParagraphAlignment;
using platform::codecs::RgbColor;
using platform::codecs::RichDocument;
using platform::codecs::RunStyle;
using platform::codecs::UnderlineStyle;

RichDocument richSample() {
    RichDocument doc;
    doc.backgroundColor = RgbColor{10, 20, 30};
    doc.startParagraph(ParagraphAlignment::center);
    RunStyle bold;
    bold.bold = true;
    bold.fontFamily = QString("DejaVu Serif");
    bold.pointSize = 34;
    bold.foreground = RgbColor{255, 255, 0};
    doc.append("Bold & <yellow>", bold);
    RunStyle underlined;
    underlined.underline = UnderlineStyle::doubleLine;
    underlined.underlineColor = RgbColor{0, 0, 0};
    underlined.italic = true;
    underlined.background = RgbColor{1, 2, 3};
    underlined.pointSize = 10.5;
    doc.append(QString::fromUtf16(u" tab\there\u2028next line  "), underlined);
    doc.startParagraph(ParagraphAlignment::justified);
    doc.startParagraph(ParagraphAlignment::right);
    doc.append(QString::fromUtf8("ünïcödé 😀 \"quotes\""), RunStyle{});
    for (const UnderlineStyle style : {UnderlineStyle::single, UnderlineStyle::thick, UnderlineStyle::dotted,
                                       UnderlineStyle::dashed, UnderlineStyle::wavy}) {
        RunStyle each;
        each.underline = style;
        doc.append(QString::number(static_cast<int>(style)), each);
    }
    doc.startParagraph(ParagraphAlignment::left);
    doc.append("left", RunStyle{});
    return doc;
}

TEST(DocxWriter, OurOwnPackageReadsBackUnchanged) {
    const RichDocument doc = richSample();
    EXPECT_EQ(DocxReader::readData(DocxWriter::write(doc)), doc);
}

TEST(DocxWriter, EmptyDocumentWritesOneEmptyParagraph) {
    const RichDocument back = DocxReader::readData(DocxWriter::write(RichDocument{}));
    ASSERT_EQ(back.paragraphs.size(), 1u);
    EXPECT_TRUE(back.paragraphs[0].runs.empty());
    EXPECT_EQ(back.backgroundColor, std::nullopt);
}

TEST(DocxWriter, PackageHoldsTheRequiredParts) {
    const platform::codecs::ZipReader zip =
        platform::codecs::ZipReader::openData(DocxWriter::write(richSample()));
    const auto types = zip.read("[Content_Types].xml", 1 << 20);
    ASSERT_TRUE(types);
    EXPECT_NE(types->find("wordprocessingml.document.main+xml"), std::string::npos);
    const auto rels = zip.read("_rels/.rels", 1 << 20);
    ASSERT_TRUE(rels);
    EXPECT_NE(rels->find("word/document.xml"), std::string::npos);
    const auto document = zip.read("word/document.xml", 1 << 20);
    ASSERT_TRUE(document);
    EXPECT_NE(document->find(R"(<w:background w:color="0A141E"/>)"), std::string::npos);
    EXPECT_NE(document->find("Bold &amp; &lt;yellow&gt;"), std::string::npos);
    EXPECT_NE(document->find(R"(<w:sz w:val="68"/>)"), std::string::npos);
    EXPECT_TRUE(zip.read("word/styles.xml", 1 << 20));
    const auto settings = zip.read("word/settings.xml", 1 << 20);
    ASSERT_TRUE(settings);
    // The page colour is kept but not shown: exported text is black.
    EXPECT_EQ(settings->find("displayBackgroundShape"), std::string::npos);
}

TEST(DocxWriter, CharactersXmlCannotHoldAreDroppedAndBreaksBecomeBreaks) {
    RichDocument doc;
    doc.append(QString::fromUtf16(u"a\u0001b\u000bc\nd\uFFFFe"), RunStyle{});
    const RichDocument back = DocxReader::readData(DocxWriter::write(doc));
    EXPECT_EQ(back.plainText(), QString::fromUtf16(u"abc\u2028de"));
}

TEST(DocxWriter, OutlandishSizesAreClamped) {
    RichDocument doc;
    RunStyle huge;
    huge.pointSize = 1e9;
    doc.append("huge", huge);
    RunStyle nan;
    nan.pointSize = std::numeric_limits<double>::quiet_NaN();
    doc.append("nan", nan);
    const RichDocument back = DocxReader::readData(DocxWriter::write(doc));
    ASSERT_EQ(back.paragraphs.at(0).runs.size(), 2u);
    EXPECT_EQ(back.paragraphs[0].runs[0].style.pointSize, 1638.0);
    EXPECT_EQ(back.paragraphs[0].runs[1].style.pointSize, std::nullopt);
}

} // namespace

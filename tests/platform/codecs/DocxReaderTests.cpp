// DOCX reading: style inheritance, run content, package layout, and hostile input.
#include "platform/codecs/CodecError.h"
#include "platform/codecs/DocxReader.h"
#include "platform/codecs/ZipPackage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <string_view>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using platform::CodecError;
using platform::codecs::DocxReader;
using platform::codecs::ParagraphAlignment;
using platform::codecs::ReadLimits;
using platform::codecs::RgbColor;
using platform::codecs::RichDocument;
using platform::codecs::UnderlineStyle;

const std::string wordNs = R"(xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main")";

// A relationships part; each pair is a relationship type's last word and its target.
std::string relationships(const std::vector<std::pair<std::string, std::string>>& typeAndTarget) {
    std::string xml =
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)";
    for (std::size_t i = 0; i < typeAndTarget.size(); ++i)
        xml += R"(<Relationship Id="r)" + std::to_string(i) +
               R"(" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/)" +
               typeAndTarget[i].first + R"(" Target=")" + typeAndTarget[i].second + R"("/>)";
    return xml + "</Relationships>";
}

std::string rootRels(const std::string& target = "word/document.xml") {
    return relationships({{"officeDocument", target}});
}

std::string documentXml(const std::string& body, const std::string& beforeBody = "") {
    return "<?xml version=\"1.0\"?><w:document " + wordNs + ">" + beforeBody + "<w:body>" + body +
           "</w:body></w:document>";
}

std::string stylesXml(const std::string& content) {
    return "<?xml version=\"1.0\"?><w:styles " + wordNs + ">" + content + "</w:styles>";
}

std::string package(const std::string& document, const std::string& styles = "",
                    const std::string& numbering = "") {
    platform::codecs::ZipWriter zip;
    zip.add("[Content_Types].xml",
            "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"/>");
    zip.add("_rels/.rels", rootRels());
    zip.add("word/document.xml", document);
    if (!styles.empty())
        zip.add("word/styles.xml", styles);
    if (!numbering.empty())
        zip.add("word/numbering.xml", numbering);
    return zip.finish();
}

RichDocument readBody(const std::string& body, const std::string& styles = "") {
    return DocxReader::readData(package(documentXml(body), styles.empty() ? "" : stylesXml(styles)));
}

const std::string chainStyles = R"(
  <w:docDefaults>
    <w:rPrDefault><w:rPr><w:rFonts w:ascii="Calibri" w:hAnsi="Calibri"/><w:sz w:val="22"/></w:rPr></w:rPrDefault>
    <w:pPrDefault><w:pPr><w:jc w:val="left"/></w:pPr></w:pPrDefault>
  </w:docDefaults>
  <w:style w:type="paragraph" w:default="1" w:styleId="Normal"><w:name w:val="Normal"/>
    <w:rPr><w:color w:val="333333"/></w:rPr></w:style>
  <w:style w:type="paragraph" w:styleId="Heading"><w:basedOn w:val="Normal"/>
    <w:pPr><w:jc w:val="center"/></w:pPr><w:rPr><w:b/><w:sz w:val="32"/></w:rPr></w:style>
  <w:style w:type="paragraph" w:styleId="Title"><w:basedOn w:val="Heading"/>
    <w:rPr><w:i/><w:rFonts w:ascii="Georgia"/><w:color w:val="FF0000"/></w:rPr></w:style>
  <w:style w:type="character" w:styleId="Strong"><w:rPr><w:b/><w:u w:val="double"/></w:rPr></w:style>
  <w:style w:type="character" w:styleId="Quiet"><w:basedOn w:val="Strong"/><w:rPr><w:b w:val="0"/></w:rPr></w:style>
)";

// Document defaults and the default paragraph style reach plain runs; a basedOn chain applies from
// its root, each style over the one it is based on.
TEST(DocxStyles, DefaultsThenTheBasedOnChainFromItsRoot) {
    const RichDocument doc = readBody(R"(<w:p><w:r><w:t>plain</w:t></w:r></w:p>
        <w:p><w:pPr><w:pStyle w:val="Title"/></w:pPr><w:r><w:t>title</w:t></w:r></w:p>)",
                                      chainStyles);
    ASSERT_EQ(doc.paragraphs.size(), 2u);
    const auto& plain = doc.paragraphs[0];
    EXPECT_EQ(plain.alignment, ParagraphAlignment::left);
    ASSERT_EQ(plain.runs.size(), 1u);
    EXPECT_EQ(plain.runs[0].style.fontFamily, QString("Calibri"));
    EXPECT_EQ(plain.runs[0].style.pointSize, 11.0);
    EXPECT_EQ(plain.runs[0].style.foreground, (RgbColor{0x33, 0x33, 0x33}));
    EXPECT_FALSE(plain.runs[0].style.bold);

    EXPECT_EQ(doc.paragraphs[1].alignment, ParagraphAlignment::center); // from Heading
    const auto& style = doc.paragraphs[1].runs.at(0).style;
    EXPECT_TRUE(style.bold);                            // Heading
    EXPECT_TRUE(style.italic);                          // Title
    EXPECT_EQ(style.pointSize, 16.0);                   // Heading over the defaults
    EXPECT_EQ(style.fontFamily, QString("Georgia"));    // Title over the defaults
    EXPECT_EQ(style.foreground, (RgbColor{255, 0, 0})); // Title over Normal
}

TEST(DocxStyles, RunPropertiesWinOverCharacterStyleWhichWinsOverParagraphStyle) {
    const RichDocument doc = readBody(R"(<w:p><w:pPr><w:pStyle w:val="Heading"/><w:jc w:val="right"/></w:pPr>
        <w:r><w:rPr><w:rStyle w:val="Quiet"/></w:rPr><w:t>a</w:t></w:r>
        <w:r><w:rPr><w:rStyle w:val="Strong"/><w:u w:val="none"/><w:color w:val="auto"/><w:sz w:val="48"/></w:rPr><w:t>b</w:t></w:r>
        </w:p>)",
                                      chainStyles);
    const auto& p = doc.paragraphs.at(0);
    EXPECT_EQ(p.alignment, ParagraphAlignment::right);
    ASSERT_EQ(p.runs.size(), 2u);
    EXPECT_FALSE(p.runs[0].style.bold); // Quiet switches off what Strong and Heading turned on
    EXPECT_EQ(p.runs[0].style.underline, UnderlineStyle::doubleLine);
    EXPECT_TRUE(p.runs[1].style.bold);
    EXPECT_EQ(p.runs[1].style.underline, UnderlineStyle::none);
    EXPECT_EQ(p.runs[1].style.foreground, std::nullopt); // "auto" clears the inherited colour
    EXPECT_EQ(p.runs[1].style.pointSize, 24.0);
}

TEST(DocxStyles, CyclicAndMissingBasedOnDoNotHang) {
    const std::string styles = R"(
      <w:style w:type="paragraph" w:styleId="A"><w:basedOn w:val="B"/><w:rPr><w:i/></w:rPr></w:style>
      <w:style w:type="paragraph" w:styleId="B"><w:basedOn w:val="A"/><w:rPr><w:b/></w:rPr></w:style>
      <w:style w:type="paragraph" w:styleId="C"><w:basedOn w:val="Nowhere"/><w:rPr><w:u/></w:rPr></w:style>)";
    const RichDocument doc =
        readBody(R"(<w:p><w:pPr><w:pStyle w:val="A"/></w:pPr><w:r><w:t>x</w:t></w:r></w:p>
        <w:p><w:pPr><w:pStyle w:val="C"/></w:pPr><w:r><w:t>y</w:t></w:r></w:p>
        <w:p><w:pPr><w:pStyle w:val="Unknown"/></w:pPr><w:r><w:t>z</w:t></w:r></w:p>)",
                 styles);
    ASSERT_EQ(doc.paragraphs.size(), 3u);
    EXPECT_TRUE(doc.paragraphs[0].runs.at(0).style.bold);
    EXPECT_TRUE(doc.paragraphs[0].runs.at(0).style.italic);
    EXPECT_EQ(doc.paragraphs[1].runs.at(0).style.underline, UnderlineStyle::single);
    EXPECT_EQ(doc.plainText(), "x\ny\nz");
}

TEST(DocxStyles, MissingOrBrokenStylePartKeepsTheText) {
    const RichDocument missing = readBody("<w:p><w:r><w:rPr><w:b/></w:rPr><w:t>bold</w:t></w:r></w:p>");
    EXPECT_EQ(missing.plainText(), "bold");
    EXPECT_TRUE(missing.paragraphs.at(0).runs.at(0).style.bold);

    const RichDocument broken = DocxReader::readData(
        package(documentXml("<w:p><w:r><w:t>text</w:t></w:r></w:p>"), "<w:styles><unclosed></w:styles>"));
    EXPECT_EQ(broken.plainText(), "text");
}

TEST(DocxRuns, AlignmentValuesMapToParagraphAlignment) {
    std::string body;
    for (const char* jc : {"left", "start", "center", "right", "end", "both", "distribute", "bogus"})
        body += std::string(R"(<w:p><w:pPr><w:jc w:val=")") + jc + R"("/></w:pPr></w:p>)";
    const RichDocument doc = readBody(body);
    std::vector<ParagraphAlignment> got;
    for (const auto& p : doc.paragraphs)
        got.push_back(p.alignment);
    EXPECT_EQ(got, (std::vector<ParagraphAlignment>{
                       ParagraphAlignment::left, ParagraphAlignment::left, ParagraphAlignment::center,
                       ParagraphAlignment::right, ParagraphAlignment::right, ParagraphAlignment::justified,
                       ParagraphAlignment::justified, ParagraphAlignment::natural}));
}

TEST(DocxRuns, DirectPropertiesAreRead) {
    const RichDocument doc = readBody(R"(<w:p>
        <w:r><w:rPr><w:rFonts w:hAnsi="Arial"/><w:b w:val="true"/><w:i w:val="1"/><w:u w:val="wave" w:color="0000FF"/>
          <w:color w:val="00ff80"/><w:sz w:val="27"/><w:highlight w:val="yellow"/></w:rPr><w:t>styled</w:t></w:r>
        <w:r><w:rPr><w:b w:val="false"/><w:i w:val="off"/><w:shd w:val="clear" w:fill="102030"/><w:color w:val="zzzzzz"/>
          <w:sz w:val="-4"/></w:rPr><w:t>other</w:t></w:r></w:p>)");
    const auto& runs = doc.paragraphs.at(0).runs;
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].style.fontFamily, QString("Arial"));
    EXPECT_TRUE(runs[0].style.bold);
    EXPECT_TRUE(runs[0].style.italic);
    EXPECT_EQ(runs[0].style.underline, UnderlineStyle::wavy);
    EXPECT_EQ(runs[0].style.underlineColor, (RgbColor{0, 0, 255}));
    EXPECT_EQ(runs[0].style.foreground, (RgbColor{0, 255, 128}));
    EXPECT_EQ(runs[0].style.pointSize, 13.5);
    EXPECT_EQ(runs[0].style.background, (RgbColor{255, 255, 0}));
    EXPECT_FALSE(runs[1].style.bold);
    EXPECT_FALSE(runs[1].style.italic);
    EXPECT_EQ(runs[1].style.background, (RgbColor{0x10, 0x20, 0x30}));
    EXPECT_EQ(runs[1].style.foreground, std::nullopt); // malformed colour is ignored
    EXPECT_EQ(runs[1].style.pointSize, std::nullopt);  // so is a negative size
}

TEST(DocxRuns, TextOfEachConstruct) {
    using namespace std::string_view_literals;
    const struct {
        const char* name;
        std::string_view body;
        const char16_t* text;
    } cases[] = {
        {"breaks, tabs and symbols become characters",
         R"(<w:p><w:r><w:t xml:space="preserve">a </w:t><w:tab/><w:t>b</w:t><w:br/><w:t>c</w:t><w:cr/>
            <w:noBreakHyphen/><w:sym w:font="Symbol" w:char="F061"/><w:sym w:char="zz"/></w:r></w:p>)",
         u"a \tb\u2028c\u2028\u2011a"},
        {"control characters are cleaned",
         "<w:p><w:r><w:t>a&#10;b&#1;c&#xFFFF;d\ne&#x2029;f</w:t></w:r></w:p>", u"a bcd e\u2028f"},
        {"a NUL, written or raw, is dropped and the rest kept",
         "<w:p><w:r><w:t>a&#0;b&#x0;c&#0000;d&#4294967296;e&#x100000041;f</w:t><w:t>g\0h</w:t></w:r>"
         "<w:r><w:rPr><w:rFonts w:ascii=\"x&#0;y\"/></w:rPr><w:t>i</w:t></w:r>"
         "<!-- &#0; --><w:r><w:t><![CDATA[&#0;]]></w:t></w:r></w:p>"sv,
         u"abcd\uFFFDe\uFFFDfghi&#0;"},
        {"a comment, processing instruction or CDATA keeps the text around it",
         "<w:p><w:r><w:t>Before <!-- c --> after<?pi x?>,<![CDATA[ <raw> ]]>end</w:t></w:r></w:p>",
         u"Before  after, <raw> end"},
        {"deleted text, field codes and drawings are left out", R"(<w:p><w:r><w:t>kept </w:t></w:r>
            <w:del><w:r><w:delText>deleted</w:delText></w:r></w:del><w:ins><w:r><w:t>inserted </w:t></w:r></w:ins>
            <w:r><w:fldChar w:fldCharType="begin"/></w:r><w:r><w:instrText>PAGE</w:instrText></w:r>
            <w:r><w:fldChar w:fldCharType="separate"/></w:r><w:r><w:t>7</w:t></w:r><w:r><w:fldChar w:fldCharType="end"/></w:r>
            <w:hyperlink><w:r><w:t> link</w:t></w:r></w:hyperlink>
            <w:r><w:drawing><w:p><w:r><w:t>in a text box</w:t></w:r></w:p></w:drawing></w:r></w:p>)",
         u"kept inserted 7 link"},
        {"a table row is a paragraph of its cells joined by tabs, content controls give paragraphs",
         R"(<w:p><w:r><w:t>before</w:t></w:r></w:p>
            <w:tbl><w:tblPr/><w:tblGrid/><w:tr><w:tc><w:p><w:r><w:t>A1</w:t></w:r></w:p></w:tc>
            <w:tc><w:p><w:r><w:t>B1</w:t></w:r></w:p></w:tc></w:tr></w:tbl>
            <w:sdt><w:sdtContent><w:p><w:r><w:t>after</w:t></w:r></w:p></w:sdtContent></w:sdt><w:sectPr/>)",
         u"before\nA1\tB1\nafter"},
        {"a cell's paragraphs are lines, an empty cell keeps its tab, a table in a cell reads within it",
         R"(<w:tbl><w:tr><w:tc><w:p/></w:tc><w:tc><w:p><w:r><w:t>one</w:t></w:r></w:p>
            <w:p><w:r><w:t>two</w:t></w:r></w:p></w:tc></w:tr>
            <w:tr><w:tc><w:p><w:r><w:t>A</w:t></w:r></w:p></w:tc><w:tc><w:tbl>
            <w:tr><w:tc><w:p><w:r><w:t>X</w:t></w:r></w:p></w:tc><w:tc><w:p><w:r><w:t>Y</w:t></w:r></w:p></w:tc></w:tr>
            <w:tr><w:tc><w:p><w:r><w:t>Z</w:t></w:r></w:p></w:tc><w:tc><w:p/></w:tc></w:tr></w:tbl>
            <w:p/></w:tc></w:tr></w:tbl>)",
         u"\tone\u2028two\nA\tX\tY\u2028Z\t\u2028"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(readBody(std::string(c.body)).plainText(), QString::fromUtf16(c.text)) << c.name;
}

// A level of a list definition: its number format, its label and what else it says.
std::string level(int ilvl, const std::string& format, const std::string& text,
                  const std::string& more = "") {
    return R"(<w:lvl w:ilvl=")" + std::to_string(ilvl) + R"("><w:numFmt w:val=")" + format +
           R"("/><w:lvlText w:val=")" + text + R"("/>)" + more + "</w:lvl>";
}

std::string list(int numId, int abstractId, const std::string& overrides = "") {
    return R"(<w:num w:numId=")" + std::to_string(numId) + R"("><w:abstractNumId w:val=")" +
           std::to_string(abstractId) + R"("/>)" + overrides + "</w:num>";
}

std::string item(int numId, int ilvl, const std::string& text) {
    return R"(<w:p><w:pPr><w:numPr><w:ilvl w:val=")" + std::to_string(ilvl) + R"("/><w:numId w:val=")" +
           std::to_string(numId) + R"("/></w:numPr></w:pPr><w:r><w:t>)" + text + "</w:t></w:r></w:p>";
}

TEST(DocxLists, EachParagraphOfAListKeepsItsLabelAsText) {
    const std::string decimal =
        R"(<w:abstractNum w:abstractNumId="0">)" + level(0, "decimal", "%1.") + "</w:abstractNum>";
    const struct {
        const char* name;
        std::string numbering;
        std::string body;
        const char16_t* text;
        std::string styles = "";
    } cases[] = {
        {"decimal, letters and roman numbers; a deeper level starts again after a shallower one",
         R"(<w:abstractNum w:abstractNumId="0">)" + level(0, "decimal", "%1.") +
             level(1, "lowerLetter", "%2)") + level(2, "lowerRoman", "(%3)") + "</w:abstractNum>" +
             list(1, 0),
         item(1, 0, "a") + item(1, 1, "b") + item(1, 1, "c") + item(1, 2, "d") + item(1, 0, "e") +
             item(1, 1, "f") + "<w:p><w:r><w:t>g</w:t></w:r></w:p>",
         u"1.\ta\na)\tb\nb)\tc\n(i)\td\n2.\te\na)\tf\ng"},
        {"levels in one label, start values, legal numbering and what follows the label",
         R"(<w:abstractNum w:abstractNumId="0">)" + level(0, "upperRoman", "%1.", R"(<w:start w:val="3"/>)") +
             level(1, "upperLetter", "%1.%2", R"(<w:suff w:val="space"/>)") +
             level(2, "decimal", "%1.%2.%3", R"(<w:isLgl/><w:suff w:val="nothing"/>)") + "</w:abstractNum>" +
             list(1, 0),
         item(1, 0, "a") + item(1, 1, "b") + item(1, 2, "c"), u"III.\ta\nIII.A b\n3.1.1c"},
        {"bullets of symbol fonts show as what they look like; a level numbered none shows nothing",
         R"(<w:abstractNum w:abstractNumId="0">)" +
             level(0, "bullet", "&#xF0B7;", R"(<w:rPr><w:rFonts w:ascii="Symbol"/></w:rPr>)") +
             level(1, "bullet", "&#xF0A7;", R"(<w:rPr><w:rFonts w:hAnsi="Wingdings"/></w:rPr>)") +
             level(2, "bullet", "&#xB7;", R"(<w:rPr><w:rFonts w:ascii="Symbol"/></w:rPr>)") +
             level(3, "bullet", "&#x2013;") + level(4, "none", "") + "</w:abstractNum>" + list(1, 0),
         item(1, 0, "a") + item(1, 1, "b") + item(1, 2, "c") + item(1, 3, "d") + item(1, 4, "e"),
         u"\u2022\ta\n\u25AA\tb\n\u2022\tc\n\u2013\td\ne"},
        {"lists of one definition count on together; one that restarts or redefines a level counts alone",
         decimal + list(1, 0) + list(2, 0) +
             list(3, 0, R"(<w:lvlOverride w:ilvl="0"><w:startOverride w:val="10"/></w:lvlOverride>)") +
             list(4, 0,
                  R"(<w:lvlOverride w:ilvl="0">)" + level(0, "lowerLetter", "%1.") + "</w:lvlOverride>"),
         item(1, 0, "a") + item(2, 0, "b") + item(3, 0, "c") + item(3, 0, "d") + item(1, 0, "e") +
             item(4, 0, "f"),
         u"1.\ta\n2.\tb\n10.\tc\n11.\td\n3.\te\na.\tf"},
        {"a paragraph style puts its paragraphs in a list; their own numPr wins, numId 0 leaves it",
         R"(<w:abstractNum w:abstractNumId="0">)" + level(0, "decimal", "%1.") +
             level(1, "lowerLetter", "%2.") + "</w:abstractNum>" + list(1, 0),
         R"(<w:p><w:pPr><w:pStyle w:val="Item"/></w:pPr><w:r><w:t>a</w:t></w:r></w:p>
            <w:p><w:pPr><w:pStyle w:val="SubItem"/></w:pPr><w:r><w:t>b</w:t></w:r></w:p>
            <w:p><w:pPr><w:pStyle w:val="Item"/><w:numPr><w:ilvl w:val="0"/></w:numPr></w:pPr><w:r><w:t>c</w:t></w:r></w:p>
            <w:p><w:pPr><w:pStyle w:val="Item"/><w:numPr><w:numId w:val="0"/></w:numPr></w:pPr><w:r><w:t>d</w:t></w:r></w:p>)",
         u"a.\ta\nb.\tb\n1.\tc\nd",
         R"(<w:style w:type="paragraph" w:styleId="Item"><w:pPr><w:numPr><w:ilvl w:val="1"/><w:numId w:val="1"/>
            </w:numPr></w:pPr></w:style><w:style w:type="paragraph" w:styleId="SubItem"><w:basedOn w:val="Item"/></w:style>)"},
        {"a list of a numbering style's levels; unknown lists and levels show no label; a list in a cell",
         R"(<w:abstractNum w:abstractNumId="0"><w:styleLink w:val="Outline"/>)" +
             level(0, "decimal", "(%1)") +
             R"(</w:abstractNum><w:abstractNum w:abstractNumId="1"><w:numStyleLink w:val="Outline"/></w:abstractNum>)" +
             list(1, 1) + list(2, 99),
         item(1, 0, "a") + item(2, 0, "b") + item(7, 0, "c") + item(1, 3, "d") + "<w:tbl><w:tr><w:tc>" +
             item(1, 0, "e") + "</w:tc><w:tc>" + item(1, 0, "f") + "</w:tc></w:tr></w:tbl>",
         u"(1)\ta\nb\nc\nd\n(2)\te\t(3)\tf"},
        {"numbers, levels and labels out of range are bounded",
         R"(<w:abstractNum w:abstractNumId="0">)" +
             level(0, "lowerLetter", "%1", R"(<w:start w:val="300"/>)") +
             level(1, "decimal", std::string(70, 'y')) +
             level(8, "upperRoman", "%9", R"(<w:start w:val="-5"/>)") +
             R"(</w:abstractNum><w:abstractNum w:abstractNumId="1">)" +
             level(0, "decimal", "%1", R"(<w:start w:val="99999999999"/>)") + "</w:abstractNum>" +
             list(1, 0) + list(2, 1),
         item(1, 0, "a") + item(1, 99, "b") + item(1, -3, "c") + item(1, 1, "d") + item(2, 0, "e") +
             item(2, 0, "f"),
         u"300\ta\n0\tb\n301\tc\nyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyy\td\n"
         u"999999999\te\n999999999\tf"},
    };
    for (const auto& c : cases) {
        const std::string data = package(documentXml(c.body), c.styles.empty() ? "" : stylesXml(c.styles),
                                         "<w:numbering " + wordNs + ">" + c.numbering + "</w:numbering>");
        EXPECT_EQ(DocxReader::readData(data).plainText(), QString::fromUtf16(c.text)) << c.name;
    }
    // Without its numbering part, or with a broken one, a document keeps its text.
    for (const std::string& numbering : {std::string(), std::string("<w:numbering><broken")})
        EXPECT_EQ(DocxReader::readData(package(documentXml(item(1, 0, "text")), "", numbering)).plainText(),
                  "text");
}

TEST(DocxPackage, BackgroundColourIsRead) {
    const RichDocument doc =
        DocxReader::readData(package(documentXml("<w:p/>", R"(<w:background w:color="1E2A3B"/>)")));
    EXPECT_EQ(doc.backgroundColor, (RgbColor{0x1E, 0x2A, 0x3B}));
    EXPECT_EQ(readBody("<w:p/>").backgroundColor, std::nullopt);
}

TEST(DocxPackage, OtherPrefixesAndPartLocationsAreFollowed) {
    platform::codecs::ZipWriter zip;
    zip.add("_rels/.rels", rootRels("/content/main.xml"));
    zip.add(
        "content/main.xml",
        R"(<x:document xmlns:x="http://schemas.openxmlformats.org/wordprocessingml/2006/main"><x:body>)"
        R"(<x:p><x:pPr><x:pStyle x:val="S"/></x:pPr><x:r><x:t>moved</x:t></x:r></x:p></x:body></x:document>)");
    zip.add("content/_rels/main.xml.rels", relationships({{"styles", "../look/s.xml"}}));
    zip.add("look/s.xml", R"(<styles xmlns="http://schemas.openxmlformats.org/wordprocessingml/2006/main">)"
                          R"(<style type="paragraph" styleId="S"><rPr><i/></rPr></style></styles>)");
    const RichDocument doc = DocxReader::readData(zip.finish());
    EXPECT_EQ(doc.plainText(), "moved");
    EXPECT_TRUE(doc.paragraphs.at(0).runs.at(0).style.italic);
}

TEST(DocxPackage, ThemeFontsStandForTheirFamilies) {
    platform::codecs::ZipWriter zip;
    zip.add("_rels/.rels", rootRels());
    zip.add("word/document.xml", documentXml(R"(<w:p><w:r><w:t>body</w:t></w:r></w:p>
        <w:p><w:r><w:rPr><w:rFonts w:asciiTheme="majorHAnsi"/></w:rPr><w:t>heading</w:t></w:r></w:p>)"));
    zip.add("word/_rels/document.xml.rels",
            relationships({{"theme", "theme/theme1.xml"}, {"styles", "styles.xml"}}));
    zip.add("word/styles.xml", stylesXml(R"(<w:docDefaults><w:rPrDefault><w:rPr>)"
                                         R"(<w:rFonts w:asciiTheme="minorHAnsi" w:hAnsiTheme="minorHAnsi"/>)"
                                         R"(</w:rPr></w:rPrDefault></w:docDefaults>)"));
    zip.add(
        "word/theme/theme1.xml",
        R"(<a:theme xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main"><a:themeElements><a:fontScheme>)"
        R"(<a:majorFont><a:latin typeface="Cambria"/></a:majorFont><a:minorFont><a:latin typeface="Calibri"/></a:minorFont>)"
        R"(</a:fontScheme></a:themeElements></a:theme>)");
    const RichDocument doc = DocxReader::readData(zip.finish());
    ASSERT_EQ(doc.paragraphs.size(), 2u);
    EXPECT_EQ(doc.paragraphs[0].runs.at(0).style.fontFamily, QString("Calibri"));
    EXPECT_EQ(doc.paragraphs[1].runs.at(0).style.fontFamily, QString("Cambria"));
}

TEST(DocxPackage, TheLibreOfficeFixtureReads) {
    const RichDocument doc = DocxReader::readFile(CW_FIXTURES_DIR "/script-sample.docx");
    ASSERT_EQ(doc.paragraphs.size(), 4u);
    EXPECT_EQ(doc.paragraphs[0].plainText(), "Good evening, and welcome.");
    EXPECT_EQ(doc.paragraphs[3].plainText(), QString::fromUtf8("Large café — naïve"));
    EXPECT_EQ(doc.paragraphs[0].alignment, ParagraphAlignment::left);
    EXPECT_EQ(doc.paragraphs[1].alignment, ParagraphAlignment::center);
    EXPECT_EQ(doc.paragraphs[2].alignment, ParagraphAlignment::right);
    EXPECT_EQ(doc.paragraphs[3].alignment, ParagraphAlignment::justified);
    EXPECT_EQ(doc.paragraphs[0].runs.at(0).style.fontFamily, QString("DejaVu Sans"));
    const auto& second = doc.paragraphs[1].runs;
    ASSERT_GE(second.size(), 5u);
    EXPECT_TRUE(second[0].style.bold);
    EXPECT_TRUE(second[2].style.italic);
    EXPECT_EQ(second[4].style.underline, UnderlineStyle::single);
    EXPECT_EQ(doc.paragraphs[2].runs.at(0).style.foreground, (RgbColor{255, 0, 0}));
    EXPECT_EQ(doc.paragraphs[3].runs.at(0).style.pointSize, 20.0);
}

TEST(DocxHostileInput, WhatIsNoWordDocumentFails) {
    platform::codecs::ZipWriter foreign;
    foreign.add("something.txt", "hello");
    for (const std::string& data :
         {std::string(), std::string("PK\x03\x04 this is not really a zip"), foreign.finish(),
          package("<w:document><w:body>"), package("<html><body/></html>"), package("")})
        EXPECT_THROW(DocxReader::readData(data), CodecError);
    EXPECT_THROW(DocxReader::readFile("/nonexistent/file.docx"), CodecError);
    EXPECT_THROW(DocxReader::readFile("/dev/zero"), CodecError);
    const std::string fifo = testing::TempDir() + "docx-fifo-" + std::to_string(getpid());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_THROW(DocxReader::readFile(fifo), CodecError); // at once, not waiting for a writer
    unlink(fifo.c_str());
}

TEST(DocxHostileInput, TruncatedOrCorruptedPackagesFailCleanly) {
    const std::string good = package(documentXml("<w:p><w:r><w:t>some text to compress</w:t></w:r></w:p>"));
    for (std::size_t length = 0; length < good.size(); length += 7)
        EXPECT_THROW(DocxReader::readData(good.substr(0, length)), CodecError) << length;
    // Flipping single bytes may still leave a readable package; it must never crash.
    for (std::size_t i = 0; i < good.size(); ++i) {
        std::string damaged = good;
        damaged[i] = static_cast<char>(damaged[i] ^ 0x5A);
        try {
            DocxReader::readData(damaged);
        } catch (const CodecError&) {
        }
    }
}

TEST(DocxHostileInput, PartInflatingPastTheLimitIsRefused) {
    // Two MiB of spaces deflate to a few kilobytes.
    const std::string bomb = documentXml("<w:p><w:r><w:t>x</w:t></w:r></w:p>" + std::string(2 << 20, ' '));
    const std::string data = package(bomb);
    ASSERT_LT(data.size(), 64u * 1024u);
    EXPECT_THROW(DocxReader::readData(data, 1 << 20), CodecError);
    EXPECT_EQ(DocxReader::readData(data, 4 << 20).plainText(), "x");
}

TEST(DocxHostileInput, DeepNestingIsFollowedWithoutRecursing) {
    std::string nested, runIn, runOut, out; // paragraphs deep in blocks, runs deep in inline containers
    for (int i = 0; i < 20000; ++i) {
        nested += "<w:sdt><w:sdtContent>";
        runIn += "<w:smartTag>";
        runOut += "</w:smartTag>";
        out += "</w:sdtContent></w:sdt>";
    }
    nested += "<w:p>" + runIn + "<w:r><w:t>deep</w:t></w:r>" + runOut + "</w:p>" + out;
    const RichDocument doc = readBody("<w:p><w:r><w:t>shallow</w:t></w:r></w:p>" + nested);
    EXPECT_EQ(doc.plainText(), "shallow\ndeep");
}

TEST(DocxHostileInput, EntityDeclarationsAreNotExpanded) {
    const std::string xml =
        R"(<?xml version="1.0"?><!DOCTYPE d [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;">]>)"
        "<w:document " +
        wordNs + R"(><w:body><w:p><w:r><w:t>&b;ok</w:t></w:r></w:p></w:body></w:document>)";
    const RichDocument doc = DocxReader::readData(package(xml));
    EXPECT_FALSE(doc.plainText().contains("aaaa"));
}

bool refusedAsTooLarge(const std::string& data, const ReadLimits& limits = {}) {
    try {
        DocxReader::readData(data, DocxReader::defaultPartLimit, limits);
    } catch (const CodecError& error) {
        return std::string_view(error.what()).starts_with("The document is too large to open:");
    }
    return false;
}

TEST(DocxHostileInput, EachBoundOnWhatIsBuiltRefusesTheDocument) {
    std::string body;
    for (int i = 0; i < 3; ++i)
        body += "<w:p><w:r><w:rPr><w:b/></w:rPr><w:t>ab</w:t></w:r><w:r><w:t>cd</w:t></w:r></w:p>";
    const std::string xml = documentXml(body);
    const auto markup = static_cast<std::size_t>(
        std::count_if(xml.begin(), xml.end(), [](char c) { return c == '<' || c == '='; }));
    const std::string data = package(xml);
    const ReadLimits exact{3, 6, 12, markup};
    EXPECT_EQ(DocxReader::readData(data, DocxReader::defaultPartLimit, exact).plainText(),
              "abcd\nabcd\nabcd");
    for (const ReadLimits& below : {ReadLimits{2, 6, 12, markup}, ReadLimits{3, 5, 12, markup},
                                    ReadLimits{3, 6, 11, markup}, ReadLimits{3, 6, 12, markup - 1}})
        EXPECT_TRUE(refusedAsTooLarge(data, below))
            << below.paragraphs << " " << below.runs << " " << below.characters << " " << below.markup;
}

TEST(DocxHostileInput, MillionsOfEmptyParagraphsAreRefusedInBoundedMemory) {
    std::string body;
    for (int i = 0; i < 5'000'000; ++i)
        body += "<w:p/>";
    const std::string data = package(documentXml(body));
    ASSERT_LT(data.size(), 1u << 20);
    // In a child under an address-space limit, so that a reader without bounds fails fast instead
    // of taking the machine's memory; its peak is compared with ours at the fork.
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const pid_t child = fork();
    if (child == 0) {
        const rlim_t limit = static_cast<rlim_t>(pages * sysconf(_SC_PAGESIZE)) + (rlim_t{1} << 30);
        const rlimit memory{limit, limit};
        setrlimit(RLIMIT_AS, &memory);
        _exit(refusedAsTooLarge(data) ? 0 : 1);
    }
    int status = 0;
    rusage usage{};
    ASSERT_EQ(wait4(child, &status, 0, &usage), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "refused with the reader's own error";
    EXPECT_LT(usage.ru_maxrss - before.ru_maxrss, 128 << 10) << "kilobytes the child grew";
}

} // namespace

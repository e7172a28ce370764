// Pasted rich text restyled as the script's own.
#include "cuewright/editor/PasteRules.h"

#include "cuewright/editor/ClipboardText.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

using platform::AttributedString;
using platform::Attributes;
using platform::Color;
using platform::Font;

namespace {

struct Piece {
    QString text;
    std::optional<Color> color;
    std::optional<Font> font;
    std::optional<int> underline;
};

struct PasteCase {
    const char* name;
    std::vector<Piece> pasted;
    std::optional<double> typingSize;
    // What each piece becomes (the paste has the same pieces, at the same offsets).
    std::vector<Attributes> expected;
};

const Color kDefault = Color::yellow();
const Font kDefaultFont{QStringLiteral("DejaVu Sans"), 34, false, false};
const Font kArial{QStringLiteral("Arial"), 11, false, false};

Attributes look(std::optional<Color> color, std::optional<Font> font, std::optional<int> underline = {}) {
    Attributes a;
    a.foregroundColor = color;
    a.font = font;
    a.underlineStyle = underline;
    return a;
}

} // namespace

TEST(PasteRules, ColoursFontsAndUnderlines) {
    const Font at40 = kDefaultFont.withPointSize(40);
    const Color grey = Color::gray(0.4);
    const std::vector<PasteCase> cases = {
        {"the main colour becomes the default, a highlight stays",
         {{"mostly grey ", grey, kArial, {}}, {"red", Color::red(), kArial, {}}, {" grey", grey, kArial, {}}},
         40,
         {look(kDefault, at40), look(Color::red(), at40), look(kDefault, at40)}},
        {"mostly uncoloured: every colour stands out",
         {{"plain text without colour ", {}, {}, {}}, {"blue", Color::blue(), {}, {}}},
         40,
         {look(kDefault, at40), look(Color::blue(), at40)}},
        {"bold italic keeps its traits on the default font at the typing size",
         {{"bold italic", grey, kArial.withTraits(true, true), {}}, {" roman", grey, kArial, {}}},
         40,
         {look(kDefault, at40.withTraits(true, true)), look(kDefault, at40)}},
        {"without a typing font the paste carries no font",
         {{"bold", {}, kArial.withTraits(true, false), {}}},
         std::nullopt,
         {look(kDefault, {})}},
        {"real underline styles become single ones",
         {{"double", {}, {}, platform::UnderlineStyle::doubleLine}, {" plain", {}, {}, {}}},
         12,
         {look(kDefault, kDefaultFont.withPointSize(12), platform::UnderlineStyle::single),
          look(kDefault, kDefaultFont.withPointSize(12))}},
        {"an underline of style none underlines nothing",
         {{"none", {}, {}, platform::UnderlineStyle::none},
          {"byword", {}, {}, platform::UnderlineStyle::byWord}},
         12,
         {look(kDefault, kDefaultFont.withPointSize(12))}},
    };
    cw::ScriptImport::DefaultStyle style;
    style.font = kDefaultFont;
    style.textColor = kDefault;
    style.paragraphStyle.alignment = platform::ParagraphAlignment::center;
    for (const PasteCase& c : cases) {
        AttributedString pasted;
        for (const Piece& piece : c.pasted) {
            Attributes attributes = look(piece.color, piece.font, piece.underline);
            attributes.paragraphStyle = platform::ParagraphStyle{};
            pasted.append(piece.text, attributes);
        }
        const AttributedString result = cw::editor::pastedText(pasted, style, c.typingSize);
        ASSERT_EQ(result.string(), pasted.string()) << c.name;
        const auto runs = result.runs();
        ASSERT_EQ(runs.size(), c.expected.size()) << c.name;
        for (size_t i = 0; i < runs.size(); ++i) {
            EXPECT_EQ(runs[i].attributes, c.expected[i]) << c.name << ", run " << i;
        }
    }
}

TEST(PasteRules, LineEndsAndControlCharactersAreNormalised) {
    AttributedString pasted(QStringLiteral("one\r\ntwo\rthree\x01\x0c"), look(Color::red(), kArial));
    cw::ScriptImport::DefaultStyle style;
    style.font = kDefaultFont;
    style.textColor = kDefault;
    EXPECT_EQ(cw::editor::pastedText(pasted, style, 20).string(), QStringLiteral("one\ntwo\nthree\n"));
}

// A U+FFFC in the text is a character of a script imported from elsewhere (where a picture stood):
// it goes back in as it came out. Pictures that a reader meets in HTML are no characters.
TEST(PasteRules, ReservedCharactersStayAndPicturesInHtmlAreDropped) {
    const QString reserved = QStringLiteral("a picture: \uFFFC, \uFDD0 \uFDD1 and \u2029two");
    AttributedString pasted(reserved, look(Color::red(), kArial));
    cw::ScriptImport::DefaultStyle style;
    style.font = kDefaultFont;
    style.textColor = kDefault;
    EXPECT_EQ(cw::editor::pastedText(pasted, style, 20).string(), reserved);

    namespace Clip = cw::editor::ClipboardText;
    const struct {
        const char* html;
        const char16_t* text;
    } cases[] = {
        {"<p>one <img src=\"picture.png\" width=\"20\" height=\"20\"> two</p>", u"one  two"},
        {"<p>a\xef\xbf\xbc"
         "b &#xFFFC; c &#65532;</p>",
         u"a\uFFFCb \uFFFC c \uFFFC"},
        {"<p>x \xef\xb7\x90 y &#xfdd0; &#64977; &#x2029; \xe2\x80\xa9 z</p>",
         u"x \uFDD0 y \uFDD0 \uFDD1 \u2029 \u2029 z"},
        {"<p>&#xE000;&#xE001;\xee\x80\x82&#xE003;&#x2029;&#xE004;</p>",
         u"\uE000\uE001\uE002\uE003\u2029\uE004"},
        {"<p>&#x2029 &#xZZ; &#;</p>", u"&#x2029 &#xZZ; &#;"}, // Qt reads no reference without ";"
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Clip::fromHtml(QString::fromUtf8(c.html)).string(), QString::fromUtf16(c.text)) << c.html;
    }
    const AttributedString written(QStringLiteral("a\uFFFCb\uFDD0c\nd\uFDD1e\u2029f\uE000"));
    EXPECT_EQ(Clip::fromHtml(Clip::toHtml(written)).string(), written.string());
    EXPECT_TRUE(Clip::toHtml(written).contains(QStringLiteral("&#xfffc;"))) << "for other programs too";
}

// Reading HTML costs Qt time that grows with the nesting: HTML nested deeper than a page, or
// larger than a megabyte, is not read. What a page gives stays within the bounds.
TEST(PasteRules, HtmlPastTheBoundsIsFoundCheaply) {
    namespace Clip = cw::editor::ClipboardText;
    const auto nested = [](const QString& open, const QString& close, int depth) {
        return open.repeated(depth) + QStringLiteral("x") + close.repeated(depth);
    };
    QString page =
        QStringLiteral("<html><head><style>div > p { color: red }</style>"
                       "<script>if (a < b) document.write('<div><div><div>')</script></head><body>");
    for (int i = 0; i < 500; ++i) {
        page += nested(QStringLiteral("<div class=\"c\" title='a > b'>"), QStringLiteral("</div>"), 30) +
                QStringLiteral("<p>unclosed <br> <img src=x /><!-- <div> --><li>item<li>item");
    }
    const struct {
        const char* name;
        QString html;
        Clip::HtmlExcess excess;
    } cases[] = {
        {"a page", page, Clip::HtmlExcess::none},
        {"20,000 nested tables",
         nested(QStringLiteral("<table><tr><td>"), QStringLiteral("</td></tr></table>"), 20000),
         Clip::HtmlExcess::depth},
        {"200,000 nested divs", nested(QStringLiteral("<div>"), QStringLiteral("</div>"), 200000),
         Clip::HtmlExcess::size},
        {"513 nested divs", nested(QStringLiteral("<div>"), QStringLiteral("</div>"), 513),
         Clip::HtmlExcess::depth},
        {"512 nested divs", nested(QStringLiteral("<div>"), QStringLiteral("</div>"), 512),
         Clip::HtmlExcess::none},
        {"many nested a little less deep",
         nested(QStringLiteral("<span>"), QStringLiteral("</span>"), 500).repeated(30),
         Clip::HtmlExcess::depth},
        {"unclosed divs", QStringLiteral("<div>x").repeated(600), Clip::HtmlExcess::depth},
        {"stray end tags", QStringLiteral("</div></table>x").repeated(10000), Clip::HtmlExcess::none},
        {"a tag without an end", QStringLiteral("<div title=\"") + QString(1000, u'>'),
         Clip::HtmlExcess::none},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Clip::excess(c.html), c.excess) << c.name;
    }
}

// Pasted rich text restyled as the script's own.
#include "cuewright/editor/PasteRules.h"

#include "cuewright/editor/ClipboardText.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QFile>
#include <QMimeData>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <sys/stat.h>

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
        // A reference without its ";" is read as browsers read it; the parser drops a broken one.
        {"<p>&#x2029 &#xZZ; &#;</p>", u"\u2029 ZZ;"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Clip::fromHtml(QString::fromUtf8(c.html)).string(), QString::fromUtf16(c.text)) << c.html;
    }
    const AttributedString written(
        QStringLiteral("a\uFFFCb\uFDD0c\nd\uFDD1e\u2029f\uE000  g\t h\n\ni\u2028j"));
    EXPECT_EQ(Clip::fromHtml(Clip::toHtml(written)).string(), written.string());
    EXPECT_TRUE(Clip::toHtml(written).contains(QStringLiteral("&#xfffc;"))) << "for other programs too";
}

// HTML from other programs keeps what a script keeps: text, paragraphs, cells, bold, italic,
// underline, colour, size, family and alignment, from elements and inline styles. Documents named
// by a file are written as word processors and browsers put them on the clipboard.
TEST(PasteRules, HtmlKeepsWhatAScriptKeeps) {
    namespace Clip = cw::editor::ClipboardText;
    struct Look {
        const char16_t* word;
        bool bold = false, italic = false, underline = false;
        std::optional<Color> color = {};
        double size = 12;
        const char* family = "";
        std::optional<platform::ParagraphAlignment> alignment = {};
    };
    using enum platform::ParagraphAlignment;
    const struct {
        const char* html;
        const char16_t* text;
        std::vector<Look> looks;
    } cases[] = {
        {"<meta charset=\"UTF-16\"><p>Plain <b>bold</b> <i>it</i> <u>under</u> "
         "<strong><em>both</em></strong></p><p>n\xc3\xa9xt</p>",
         u"Plain bold it under both\nn\u00e9xt",
         {{u"Plain"},
          {u"bold", true},
          {u"it", false, true},
          {u"under", false, false, true},
          {u"both", true, true}}},
        {"<span style=\"font-weight:700; font-style:italic; text-decoration:underline; color:#f00; "
         "font-size:24px; font-family:'Times New Roman', serif\">styled</span> <span "
         "style=\"color:rgb(0,0,255); "
         "font-weight:normal\">blue</span>",
         u"styled blue",
         {{u"styled", true, true, true, Color::red(), 18, "Times New Roman"},
          {u"blue", false, false, false, Color::blue()}}},
        {"<font color=\"blue\" size=\"5\" face=\"Arial\">font</font><font size=\"+1\">up</font>",
         u"fontup",
         {{u"font", false, false, false, Color::blue(), 18, "Arial"},
          {u"up", false, false, false, {}, 13.5}}},
        {"<font size=\"2777777777\">big</font><font size=\"-1e300\">small</font><span "
         "style=\"font-size:1e300em\"><span style=\"font-size:1e308em\">huge<span "
         "style=\"font-size:0em\">zero</span></span></span>",
         u"bigsmallhugezero",
         {{u"big", false, false, false, {}, 36},
          {u"small", false, false, false, {}, 7.5},
          {u"huge", false, false, false, {}, 1000},
          {u"zero", false, false, false, {}, 1000}}}, // sizes out of any range read as the nearest sound one
        {"<h1 align=\"center\">Title</h1>text<br>line<div style=\"text-align:right\">right</div>",
         u"Title\ntext\u2028line\nright",
         {{u"Title", true, false, false, {}, 24, "", center},
          {u"line"},
          {u"right", false, false, false, {}, 12, "", right}}},
        {"<ul><li>one<li>two</ul><table><tr><td "
         "colspan=\"20000\">a</td><td></td><td>b</td></tr><tr><th>c</th></tr></table>",
         u"one\ntwo\na\t\tb\nc",
         {{u"c", true}}},
        {"<html><head><title>T</title><style>p { color: red }</style><script>s()</script></head>"
         "<body><p>x<span style=\"display:none\">hidden</span><span "
         "hidden>too</span></p><style>b{}</style></body>",
         u"x",
         {{u"x"}}},
        {"  a \n  b  <p> c <img src=\"/dev/zero\"> d </p><pre>\ne  "
         "f\ng\n</pre><p>h</p><p><br></p><p>i<br></p>j",
         u"a b\nc  d\ne  f\ng\nh\n\ni\nj",
         {}},
        {"<b><b><b><b><b><b><b><b><b><b><b><b><b><b><b><b><b><b><b><b><b><b><b><b><b><b><b><b><b><b><b><b>"
         "<i>deep</i>",
         u"deep",
         {{u"deep", true}}}, // past the styled depth: no italic of its own
        {"<meta charset=\"windows-1252\"><p>caf\xe9 \x80</p>", u"caf\u00e9 \u20ac", {}},
        {"word.html",
         u"JOHN\tHello, Mary.\n\u00a0\n\u00b7\u00a0\u00a0\u00a0\u00a0\u00a0\u00a0\u00a0 First point\n1."
         u"\u00a0\u00a0\u00a0\u00a0\u00a0 Second point",
         {{u"JOHN", true}, {u"Hello"}}},
        {"libreoffice.html",
         u"JOHN\tHello, Mary.\u2028(he sits)\n\tMary waves.\n",
         {{u"JOHN", true}, {u"\tMary", false, true, false, {}, 10}, {u"Mary ", false, false, true}}},
        {"online-office.html",
         u"JOHN\tHello, Mary.\n\nFirst point",
         {{u"JOHN", true, false, false, Color::black(), 11, "Arial", left},
          {u"First", false, false, true, Color::fromQColor(QColor(0x11, 0x55, 0xcc)), 11, "Arial"}}},
        {"firefox.html",
         u"Scene one\nJOHN\tHello, Mary.\u2028How are you?\nFirst point\nSee the notes",
         {{u"JOHN"}, {u" Mary"}, {u"Mary", false, false, true}, {u"notes", false, false, true}}},
        {"chrome.html",
         u"JOHN\tHello, Mary.\u2028How are you?\nFirst point\nSee the notes",
         {{u"notes", false, false, true, Color::fromQColor(QColor(51, 102, 204))}}},
    };
    for (const auto& c : cases) {
        QFile file(QStringLiteral(CW_FIXTURES_DIR "/html-paste/") + QString::fromUtf8(c.html));
        const bool named = QByteArray(c.html).endsWith(".html") && file.open(QIODevice::ReadOnly);
        QMimeData source; // read as a paste reads it
        source.setData(QStringLiteral("text/html"), named ? file.readAll() : QByteArray(c.html));
        const AttributedString read = Clip::readHtml(Clip::htmlOf(source)).text;
        EXPECT_EQ(read.string(), QString::fromUtf16(c.text)) << c.html;
        for (const Look& look : c.looks) {
            const auto at = read.string().indexOf(QString::fromUtf16(look.word));
            ASSERT_GE(at, 0) << c.html;
            const Attributes a = read.attributes(int(at));
            const auto align = a.paragraphStyle ? std::optional(a.paragraphStyle->alignment) : std::nullopt;
            EXPECT_EQ(a.font, Font(QString::fromUtf8(look.family), look.size, look.bold, look.italic))
                << c.html;
            EXPECT_EQ(a.underlineStyle.has_value(), look.underline) << c.html;
            EXPECT_EQ(a.foregroundColor, look.color) << c.html;
            EXPECT_EQ(align, look.alignment) << c.html;
        }
    }
}

// The clipboard's HTML is read in the encoding its bytes show, whatever charset its <meta> names.
TEST(PasteRules, ClipboardHtmlIsDecodedByItsBytes) {
    using C = QStringConverter;
    const QString html = QStringLiteral("<meta charset=\"UTF-16\"><p>caf\u00e9 \u4e2d \U0001F600</p>");
    QMimeData source;
    for (const auto encoding : {C::Utf8, C::Utf16LE, C::Utf16BE}) {
        for (const auto flag : {C::Flag::Default, C::Flag::WriteBom}) {
            source.setData(QStringLiteral("text/html"), QStringEncoder(encoding, flag).encode(html));
            EXPECT_EQ(cw::editor::ClipboardText::htmlOf(source), html) << encoding << ", bom " << int(flag);
        }
    }
}

// HTML a web page's copy handler can make is read in work that grows with its size alone, opens
// nothing it names (a style sheet, picture or link to a device or a pipe would hang or exhaust
// the reader), and is refused where the parser stops: nested past its depth or a tag with too
// many attributes.
TEST(PasteRules, HostileHtmlIsReadInWorkBoundedByItsSize) {
    namespace Clip = cw::editor::ClipboardText;
    using E = Clip::HtmlExcess;
    const QTemporaryDir folder;
    const QByteArray fifo = QFile::encodeName(folder.filePath(QStringLiteral("pipe")));
    ASSERT_EQ(mkfifo(fifo.constData(), 0600), 0);
    const QString pipe = QString::fromUtf8(fifo);
    const QString divs = QStringLiteral("<div>").repeated(200000) + QStringLiteral("x");
    QString attributes = QStringLiteral("<div");
    for (int i = 0; i < 100000; ++i) {
        attributes += QStringLiteral(" a%1").arg(i);
    }
    const struct {
        const char* name;
        QString html;
        E excess;
        const char16_t* text; // when read
    } cases[] = {
        {"@import of a device", QStringLiteral("<style>@import url(\"/dev/zero\")</style>x"), E::none, u"x"},
        {"background image", QStringLiteral("<div style=\"background-image:url('/dev/zero')\">x</div>"),
         E::none, u"x"},
        {"a pipe named everywhere",
         QStringLiteral(
             "<link rel=stylesheet href=\"%1\"><style>@import \"%1\"; p { background: url(%1) }</style>"
             "<p><img src=\"%1\"><a href=\"%1\">x</a></p>")
             .arg(pipe),
         E::none, u"x"},
        {"divs behind a quote", QStringLiteral("<div x'>") + divs, E::depth, nullptr},
        {"divs in a textarea", QStringLiteral("<textarea>") + divs, E::depth, nullptr},
        {"divs in a title", QStringLiteral("<title>") + divs, E::depth, nullptr},
        {"divs in a script", QStringLiteral("<script>") + divs, E::none, u""},
        {"divs in a style", QStringLiteral("<style>") + divs, E::none, u""},
        {"300 divs, read in one piece", QStringLiteral("<div>").repeated(300) + QStringLiteral("x"), E::depth,
         nullptr},
        {"200,000 wbr", QStringLiteral("<wbr>").repeated(200000) + QStringLiteral("x"), E::none, u"x"},
        {"nested tables", QStringLiteral("<table><tr><td>").repeated(20000) + QStringLiteral("x"), E::depth,
         nullptr},
        {"960 KB of rules",
         QStringLiteral("<style>") + QStringLiteral("* { color: red }\n").repeated(56000) +
             QStringLiteral("</style>") + QStringLiteral("<b>x</b>").repeated(4000),
         E::none, nullptr},
        {"14 KB of wide cells", QStringLiteral("<tr><td colspan=\"20000\">x</td></tr>").repeated(400),
         E::none, nullptr},
        {"a tag of 100,000 attributes", attributes + QStringLiteral(">x"), E::attributes, nullptr},
        {"past a megabyte", divs + divs, E::size, nullptr},
    };
    for (const auto& c : cases) {
        const Clip::HtmlPaste paste = Clip::readHtml(c.html);
        const qsizetype bytes = c.html.toUtf8().size();
        EXPECT_EQ(paste.excess, c.excess) << c.name;
        if (c.text != nullptr) {
            EXPECT_EQ(paste.text.string(), QString::fromUtf16(c.text)) << c.name;
        }
        EXPECT_LE(paste.text.length(), c.html.size() / 8) << c.name;
        EXPECT_LE(paste.bytesParsed, bytes) << c.name;
        EXPECT_LE(paste.nodesVisited, bytes / 4) << c.name;
        if (c.excess == E::depth || c.excess == E::attributes) {
            EXPECT_LT(paste.bytesParsed, 64 << 10) << c.name << ": the parser stops where it is";
        }
    }
}

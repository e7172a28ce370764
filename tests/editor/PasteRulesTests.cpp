// Pasted rich text restyled as the script's own.
#include "cuewright/editor/PasteRules.h"

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

TEST(PasteRules, ObjectsAreDropped) {
    AttributedString pasted(QStringLiteral("a picture: \uFFFC and \uFFFC\uFFFCtwo"),
                            look(Color::red(), kArial));
    cw::ScriptImport::DefaultStyle style;
    style.font = kDefaultFont;
    style.textColor = kDefault;
    EXPECT_EQ(cw::editor::pastedText(pasted, style, 20).string(), QStringLiteral("a picture:  and two"));
    EXPECT_TRUE(cw::editor::pastedText(AttributedString(QStringLiteral("\uFFFC")), style, 20).isEmpty());
}

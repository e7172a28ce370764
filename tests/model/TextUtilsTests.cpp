// Text measurement arithmetic over a fake typesetter, and the run collectors.
#include "cuewright/model/TextUtils.h"

#include "platform/text/TextAttributes.h"

#include <gtest/gtest.h>

using namespace cw;
using platform::AttributedString;
using platform::Attributes;
using platform::Color;
using platform::TextRange;

namespace {

// One line per paragraph, every line `lineHeight` tall (optical and typographic alike).
class FakeTypesetter : public platform::Typesetter {
public:
    explicit FakeTypesetter(double lineHeight)
        : lineHeight_(lineHeight) {}
    std::vector<platform::TypesetLine> typeset(const AttributedString& text, double) const override {
        std::vector<platform::TypesetLine> lines;
        const QString& s = text.string();
        int start = 0;
        for (int i = 0; i < s.size(); ++i) {
            if (s[i] == u'\n' || i + 1 == s.size()) {
                platform::TypesetLine line;
                line.range = {start, i + 1 - start};
                line.ascent = lineHeight_ * 0.8;
                line.descent = lineHeight_ * 0.2;
                line.height = lineHeight_;
                lines.push_back(line);
                start = i + 1;
            }
        }
        return lines;
    }

private:
    double lineHeight_;
};

Attributes colored(const Color& c) {
    Attributes a;
    a.foregroundColor = c;
    return a;
}

} // namespace

TEST(TextMeasurement, ThreeEqualLinesRoundEachLineUp) {
    FakeTypesetter ts(20.4);
    AttributedString text(QStringLiteral("one\ntwo\nthree"));
    EXPECT_DOUBLE_EQ(TextUtils::maxLineHeight(text, 300, ts), 21);
    EXPECT_DOUBLE_EQ(TextUtils::totalTextHeight(text, 300, ts), 64);
    EXPECT_NEAR(TextUtils::exactTextHeight(text, 300, ts), 61.2, 1e-9);
    const auto offsets = TextUtils::lineOffsets(text, 300, ts);
    ASSERT_EQ(offsets.size(), 3u);
    EXPECT_DOUBLE_EQ(offsets[0], 0);
    EXPECT_NEAR(offsets[1], 20.4, 1e-9);
    EXPECT_NEAR(offsets[2], 40.8, 1e-9);
}

TEST(TextMeasurement, ATrailingLineBreakCountsTheEmptyLastLine) {
    FakeTypesetter ts(10);
    AttributedString text(QStringLiteral("Hello\n"));
    EXPECT_DOUBLE_EQ(TextUtils::exactTextHeight(text, 300, ts), 20);
    EXPECT_DOUBLE_EQ(TextUtils::totalTextHeight(text, 300, ts), 21);
    EXPECT_EQ(text.string(), QStringLiteral("Hello\n")) << "the caller's text is not changed";
    EXPECT_EQ(TextUtils::lineOffsets(text, 300, ts).size(), 1u) << "offsets take the text as it is";
}

TEST(TextMeasurement, EmptyTextMeasuresNothing) {
    FakeTypesetter ts(10);
    AttributedString empty;
    EXPECT_EQ(TextUtils::maxLineHeight(empty, 300, ts), 0);
    EXPECT_EQ(TextUtils::totalTextHeight(empty, 300, ts), 0);
    EXPECT_EQ(TextUtils::exactTextHeight(empty, 300, ts), 0);
    EXPECT_TRUE(TextUtils::lineOffsets(empty, 300, ts).empty());
    EXPECT_TRUE(TextUtils::lineChunkRanges(empty, 50, 300, ts).empty());
}

TEST(TextChunks, AChunkClosesAtTheFirstLineReachingTheMaximum) {
    FakeTypesetter ts(20.4);
    AttributedString text(QStringLiteral("aa\nbb\ncc"));
    EXPECT_EQ(TextUtils::lineChunkRanges(text, 50, 300, ts), (std::vector<TextRange>{{0, 8}}));
    EXPECT_EQ(TextUtils::lineChunkRanges(text, 40, 300, ts), (std::vector<TextRange>{{0, 6}, {6, 2}}));
    const auto pieces = TextUtils::splitIntoLineChunks(text, 40, 300, ts);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].string(), QStringLiteral("aa\nbb\n"));
    EXPECT_EQ(pieces[1].string(), QStringLiteral("cc"));
}

TEST(TextChunks, ChunksCoverTheWholeTextWithoutGaps) {
    FakeTypesetter ts(30);
    QString s;
    for (int i = 0; i < 500; ++i) {
        s += QStringLiteral("line %1\n").arg(i);
    }
    AttributedString text(s);
    int next = 0;
    for (const TextRange& r : TextUtils::lineChunkRanges(text, 4096, 800, ts)) {
        EXPECT_EQ(r.location, next);
        next = r.location + r.length;
    }
    EXPECT_EQ(next, text.length());
}

TEST(TextStyle, FontsAreResizedToAtLeastEightPointsAndParagraphsWrapByWord) {
    Attributes a;
    a.font = platform::Font{QStringLiteral("DejaVu Sans"), 12, true, false};
    platform::ParagraphStyle style;
    style.lineBreakMode = platform::LineBreakMode::truncatingTail;
    a.paragraphStyle = style;
    AttributedString text(QStringLiteral("plain"), {});
    text.append(QStringLiteral("styled"), a);
    const auto result = TextUtils::applyFontAndParagraphStyle(text, 4);
    const auto attrs = result.attributes(6);
    ASSERT_TRUE(attrs.font);
    EXPECT_EQ(attrs.font->pointSize, 8);
    EXPECT_TRUE(attrs.font->bold);
    EXPECT_EQ(attrs.paragraphStyle->lineBreakMode, platform::LineBreakMode::wordWrapping);
    EXPECT_FALSE(result.attributes(0).font) << "runs without a font stay without one";
    EXPECT_EQ(text.attributes(6).font->pointSize, 12) << "the input is not changed";
}

TEST(RunCollectors, CollectOnlyRunsThatCarryTheAttribute) {
    AttributedString text(QStringLiteral("aaa"), colored(Color::red()));
    text.append(QStringLiteral("bb"), {});
    Attributes boldItalic;
    boldItalic.font = platform::Font{QStringLiteral("DejaVu Sans"), 12, true, true};
    text.append(QStringLiteral("c"), boldItalic);
    EXPECT_EQ(TextUtils::colorRanges(text), (std::vector<TextUtils::ColorRange>{{{0, 3}, Color::red()}}));
    EXPECT_EQ(TextUtils::traitRanges(text), (std::vector<TextUtils::TraitRange>{{{5, 1}, true, true}}));
    const auto any = TextUtils::attributeRanges(text, platform::AttributeName::foregroundColor);
    ASSERT_EQ(any.size(), 1u);
    EXPECT_EQ(any[0].range, (TextRange{0, 3}));
}

TEST(DominantColor, UncolouredMajorityGivesTheFallback) {
    const Color fallback = Color::yellow();
    AttributedString sixtyForty(QStringLiteral("uuuuuu"), {});
    sixtyForty.append(QStringLiteral("rrrr"), colored(Color::red()));
    EXPECT_EQ(TextUtils::dominantTextColor(sixtyForty, fallback), fallback);

    AttributedString mixed(QStringLiteral("uuuuuuuu"), {});
    mixed.append(QStringLiteral("rrrrrrr"), colored(Color::red()));
    mixed.append(QStringLiteral("bbbbb"), colored(Color::blue()));
    EXPECT_EQ(TextUtils::dominantTextColor(mixed, fallback), Color::red())
        << "40 % none, 35 % red, 25 % blue";

    EXPECT_EQ(TextUtils::dominantTextColor(AttributedString(), fallback), fallback);
}

TEST(DominantColor, CountsEveryRunOfAColour) {
    AttributedString text(QStringLiteral("rr"), colored(Color::red()));
    text.append(QStringLiteral("bbb"), colored(Color::blue()));
    text.append(QStringLiteral("rr"), colored(Color::red()));
    EXPECT_EQ(TextUtils::dominantTextColor(text, Color::yellow()), Color::red());
}

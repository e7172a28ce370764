#include "platform/text/AttributedString.h"

#include <gtest/gtest.h>

#include <QColor>

using namespace platform;

namespace {

Attributes colored(const Color& c) {
    Attributes a;
    a.foregroundColor = c;
    return a;
}

Attributes bold() {
    Attributes a;
    a.font = Font{"DejaVu Sans", 12, true, false};
    return a;
}

} // namespace

TEST(AttributedStringRanges, RangesCountUtf16UnitsAcrossSurrogatePairs) {
    AttributedString s(QString::fromUtf8("a😀b")); // a, a surrogate pair, b
    ASSERT_EQ(s.length(), 4);
    s.addAttribute(AttributeName::foregroundColor, QVariant::fromValue(Color::red()), {1, 2});
    auto runs = s.runs(AttributeName::foregroundColor, s.fullRange());
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].range, (TextRange{0, 1}));
    EXPECT_FALSE(runs[0].value.isValid());
    EXPECT_EQ(runs[1].range, (TextRange{1, 2}));
    EXPECT_EQ(runs[1].value.value<Color>(), Color::red());
    EXPECT_EQ(s.substring({1, 2}).string(), QString::fromUtf8("😀"));
    EXPECT_EQ(s.substring({1, 2}).attributes(0).foregroundColor, Color::red());
}

TEST(AttributedStringRanges, OneAttributesRunsMergeEqualNeighbours) {
    AttributedString s(QStringLiteral("abcdef"));
    s.addAttribute(AttributeName::foregroundColor, QVariant::fromValue(Color::red()), {0, 4});
    s.addAttributes(bold(), {2, 4}); // splits the colour run in two runs of all attributes
    EXPECT_EQ(s.runs().size(), 3u);
    auto colorRuns = s.runs(AttributeName::foregroundColor, s.fullRange());
    ASSERT_EQ(colorRuns.size(), 2u);
    EXPECT_EQ(colorRuns[0].range, (TextRange{0, 4}));
    EXPECT_EQ(colorRuns[1].range, (TextRange{4, 2}));
    // Enumerating a sub-range clips the runs to it.
    auto clipped = s.runs(AttributeName::foregroundColor, {3, 2});
    ASSERT_EQ(clipped.size(), 2u);
    EXPECT_EQ(clipped[0].range, (TextRange{3, 1}));
    EXPECT_EQ(clipped[1].range, (TextRange{4, 1}));
}

TEST(AttributedStringRanges, EffectiveRangeOfOneAttributeSpansRunsOfOthers) {
    AttributedString s(QStringLiteral("abcdef"), colored(Color::red()));
    s.addAttributes(bold(), {3, 1});
    TextRange effective;
    const QVariant v = s.attribute(AttributeName::foregroundColor, 4, &effective);
    EXPECT_EQ(v.value<Color>(), Color::red());
    EXPECT_EQ(effective, (TextRange{0, 6}));
    s.attributes(4, &effective);
    EXPECT_EQ(effective, (TextRange{4, 2}));
}

TEST(AttributedStringRanges, RemoveAttributeLeavesOthers) {
    Attributes a = colored(Color::red());
    a.underlineStyle = UnderlineStyle::single;
    AttributedString s(QStringLiteral("abc"), a);
    s.removeAttribute(AttributeName::foregroundColor, {0, 2});
    EXPECT_FALSE(s.attributes(0).foregroundColor);
    EXPECT_EQ(s.attributes(0).underlineStyle, UnderlineStyle::single);
    EXPECT_EQ(s.attributes(2).foregroundColor, Color::red());
}

TEST(AttributedStringReplace, ReplacingShiftsLaterRuns) {
    AttributedString s(QStringLiteral("aaBBcc"));
    s.setAttributes(colored(Color::red()), {2, 2});
    s.setAttributes(colored(Color::blue()), {4, 2});
    s.replaceCharacters({0, 2}, AttributedString(QStringLiteral("xxxxx"), bold()));
    EXPECT_EQ(s.string(), QStringLiteral("xxxxxBBcc"));
    TextRange r;
    EXPECT_EQ(s.attributes(5, &r).foregroundColor, Color::red());
    EXPECT_EQ(r, (TextRange{5, 2}));
    EXPECT_EQ(s.attributes(7, &r).foregroundColor, Color::blue());
    EXPECT_EQ(r, (TextRange{7, 2}));
    s.deleteCharacters({0, 6});
    EXPECT_EQ(s.string(), QStringLiteral("Bcc"));
    EXPECT_EQ(s.attributes(0, &r).foregroundColor, Color::red());
    EXPECT_EQ(r, (TextRange{0, 1}));
}

TEST(AttributedStringReplace, PlainReplacementInheritsAttributes) {
    AttributedString s(QStringLiteral("ab"), colored(Color::red()));
    s.setAttributes(colored(Color::blue()), {1, 1});
    s.replaceCharacters({1, 1}, QStringLiteral("XY")); // takes the replaced character's
    EXPECT_EQ(s.attributes(2).foregroundColor, Color::blue());
    s.replaceCharacters({1, 0}, QStringLiteral("Z")); // insertion: the character before it
    EXPECT_EQ(s.attributes(1).foregroundColor, Color::red());
    s.replaceCharacters({0, 0}, QStringLiteral("<")); // at the start: the character after it
    EXPECT_EQ(s.attributes(0).foregroundColor, Color::red());
    EXPECT_EQ(s.string(), QStringLiteral("<aZXY"));
}

// However a run is made (set again, inserted, appended, appended to itself), equal neighbours are one.
TEST(AttributedStringReplace, EqualNeighboursMergeIntoOneRun) {
    const AttributedString red(QStringLiteral("abcdef"), colored(Color::red()));
    AttributedString s = red;
    s.setAttributes(colored(Color::blue()), {2, 2});
    EXPECT_EQ(s.runs().size(), 3u);
    s.setAttributes(colored(Color::red()), {2, 2});
    EXPECT_EQ(s, red);
    s = AttributedString(QStringLiteral("ac"), colored(Color::red()));
    s.insert(1, AttributedString(QStringLiteral("b"), colored(Color::red())));
    EXPECT_EQ(s.runs().size(), 1u);
    s.append(AttributedString(QStringLiteral("d"), colored(Color::red())));
    s.append(QStringLiteral("e"), colored(Color::red()));
    s.append(QStringLiteral("f"), colored(Color::red()));
    EXPECT_EQ(s, red);
    s.append(s);
    EXPECT_EQ(s, AttributedString(QStringLiteral("abcdefabcdef"), colored(Color::red())));
}

TEST(AttributedStringValue, CopiesAreIndependentAndEqualityComparesAttributes) {
    AttributedString a(QStringLiteral("abc"), colored(Color::red()));
    AttributedString b = a;
    b.addAttribute(AttributeName::foregroundColor, QVariant::fromValue(Color::blue()), {0, 2});
    b.replaceCharacters({2, 1}, QStringLiteral("!"));
    EXPECT_EQ(a, AttributedString(QStringLiteral("abc"), colored(Color::red())));
    EXPECT_EQ(AttributedString(std::move(b)).string(), QStringLiteral("ab!"));
    b = a;
    b.addAttribute(u"custom", QVariant(42), {1, 1});
    EXPECT_NE(a, b);
    b.removeAttribute(u"custom", {0, 3});
    EXPECT_EQ(a, b);
    // Built in pieces or at once: the same value.
    AttributedString c;
    c.append(QStringLiteral("a"), colored(Color::red()));
    c.append(QStringLiteral("bc"), colored(Color::red()));
    EXPECT_EQ(a, c);
    // Values the text system does not know ride along.
    c.addAttribute(AttributeName::link, QVariant(QStringLiteral("https://example.org")), c.fullRange());
    EXPECT_EQ(c.attribute(AttributeName::link, 2).toString(), QStringLiteral("https://example.org"));
    EXPECT_EQ(c.attributes(0).passThrough.size(), 1u);
}

TEST(AttributedStringValue, BookmarksCompareByIdentity) {
    auto first = std::make_shared<EmbeddedBookmark>();
    auto second = std::make_shared<EmbeddedBookmark>(); // same fields, another object
    AttributedString s(QStringLiteral("abcd"));
    s.addAttribute(CuewrightBookmarkAttributeName, QVariant::fromValue(first), {0, 2});
    s.addAttribute(CuewrightBookmarkAttributeName, QVariant::fromValue(second), {2, 2});
    auto runs = s.runs(CuewrightBookmarkAttributeName, s.fullRange());
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].value.value<EmbeddedBookmarkPtr>(), first);
    AttributedString copy = s;
    copy.attributes(0).bookmark->userBlurb = QStringLiteral("note"); // shared, like the platform's
    EXPECT_EQ(first->userBlurb, QStringLiteral("note"));
    EXPECT_EQ(first->sortOrder, -1);
}

TEST(AttributedStringValue, ModifyAttributesTouchesOnlyTheRange) {
    Attributes a;
    a.font = Font{"DejaVu Serif", 12, false, true};
    a.paragraphStyle = ParagraphStyle{};
    a.paragraphStyle->lineBreakMode = LineBreakMode::clipping;
    AttributedString s(QStringLiteral("abcdef"), a);
    s.modifyAttributes({1, 3}, [](Attributes& x) {
        x.font = x.font->withPointSize(30);
        x.paragraphStyle->lineBreakMode = LineBreakMode::wordWrapping;
    });
    EXPECT_EQ(s.attributes(0).font->pointSize, 12);
    EXPECT_EQ(s.attributes(1).font->pointSize, 30);
    EXPECT_TRUE(s.attributes(3).font->italic);
    EXPECT_EQ(s.attributes(4).paragraphStyle->lineBreakMode, LineBreakMode::clipping);
    EXPECT_EQ(s.runs().size(), 3u);
}

TEST(AttributedStringDeath, OutOfRangeStopsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    AttributedString s(QStringLiteral("abc"));
    EXPECT_DEATH(s.substring({2, 2}), "out of bounds");
    EXPECT_DEATH(s.attributes(3), "out of bounds");
}

TEST(ColorValue, ComponentsRoundTripThroughUnits) {
    const Color c(0.25, 0.5, 128 / 255.0, 0.75, Color::Space::genericRGB);
    EXPECT_EQ(Color::fromUnits(c.space(), c.redUnits(), c.greenUnits(), c.blueUnits(), c.alphaUnits()), c);
    EXPECT_EQ(c.blue8(), 128);
    EXPECT_NE(c, Color(0.25, 0.5, 128 / 255.0, 0.75, Color::Space::sRGB));
    EXPECT_EQ(Color::fromQColor(Color::yellow().toQColor()), Color::yellow());
    EXPECT_EQ(Color(2, -1, 0.5).redF(), 1.0);
}

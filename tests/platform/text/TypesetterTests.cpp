#include "platform/text/AttributedString.h"
#include "platform/text/QtTextFormat.h"
#include "platform/text/QtTypesetter.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

AttributedString sized(const QString& text, double size) {
    Attributes a;
    a.font = Font{"DejaVu Sans", size, false, false};
    return AttributedString(text, a);
}

// Lines must cover the text in order without gaps.
void expectCovers(const std::vector<TypesetLine>& lines, int length) {
    int next = 0;
    for (const TypesetLine& line : lines) {
        EXPECT_EQ(line.range.location, next);
        EXPECT_GT(line.range.length, 0);
        next = line.range.end();
    }
    EXPECT_EQ(next, length);
}

} // namespace

TEST(QtTypesetter, ParagraphsAndTrailingLineBreak) {
    const QtTypesetter typesetter;
    EXPECT_TRUE(typesetter.typeset(AttributedString(), 500).empty());

    const auto one = typesetter.typeset(sized(QStringLiteral("Hello\n"), 20), 500);
    ASSERT_EQ(one.size(), 1u); // the line break ends the line; no empty line after it
    EXPECT_EQ(one[0].range, (TextRange{0, 6}));

    // What text measurement does: append a character to count the empty last line.
    const auto two = typesetter.typeset(sized(QStringLiteral("Hello\n-"), 20), 500);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_GT(two[0].height, 0);
    EXPECT_NEAR(two[0].height, two[1].height, 0.01);

    const auto blank = typesetter.typeset(sized(QStringLiteral("a\r\n\nb"), 20), 500);
    ASSERT_EQ(blank.size(), 3u);
    EXPECT_EQ(blank[0].range, (TextRange{0, 3}));
    EXPECT_EQ(blank[1].range, (TextRange{3, 1}));
    EXPECT_GT(blank[1].height, 0); // an empty paragraph has the height of its font
}

TEST(QtTypesetter, HeightsFollowFontSize) {
    const QtTypesetter typesetter;
    AttributedString text = sized(QStringLiteral("small\n"), 10);
    text.append(sized(QStringLiteral("LARGE"), 40));
    const auto lines = typesetter.typeset(text, 1000);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_GT(lines[1].height, lines[0].height * 3);
    EXPECT_NEAR(lines[0].typographicHeight(), lines[0].ascent + lines[0].descent + lines[0].leading, 1e-9);
}

TEST(QtTypesetter, WrapsAtTheWidthAndCoversTheTextEvenAtNoWidth) {
    QString words;
    for (int i = 0; i < 200; ++i) {
        words += QStringLiteral("word%1 ").arg(i);
        if (i % 50 == 49) {
            words += u'\n';
        }
    }
    const AttributedString text = sized(words, 24);
    const auto lines = defaultTypesetter().typeset(text, 300);
    EXPECT_GT(lines.size(), 20u);
    expectCovers(lines, text.length());
    for (const TypesetLine& line : lines) {
        EXPECT_LE(line.width, 300.5);
        EXPECT_GT(line.height, 0);
    }
    // A degenerate width still ends.
    expectCovers(defaultTypesetter().typeset(sized(QStringLiteral("abc def"), 20), 0), 7);
}

TEST(QtTextFormat, CharFormatCarriesAttributes) {
    Attributes a;
    a.font = Font{"DejaVu Serif", 20, true, true};
    a.foregroundColor = Color::red();
    a.underlineStyle = UnderlineStyle::single;
    a.underlineColor = Color::blue();
    const QTextCharFormat f = toCharFormat(a);
    EXPECT_TRUE(f.font().bold());
    EXPECT_TRUE(f.font().italic());
    EXPECT_EQ(f.foreground().color(), QColor(Qt::red));
    EXPECT_EQ(f.underlineStyle(), QTextCharFormat::SingleUnderline);
    EXPECT_EQ(f.underlineColor(), QColor(Qt::blue));
    EXPECT_EQ(Font::fromQFont(a.font->toQFont()), *a.font);
}

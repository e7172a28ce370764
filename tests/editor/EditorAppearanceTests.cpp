// The editor's look from the script properties, and its scroll offset against the progress.
#include "cuewright/editor/EditorAppearance.h"
#include "cuewright/editor/EditorScrolling.h"
#include "cuewright/editor/LineMetrics.h"
#include "cuewright/editor/TextBridge.h"
#include "platform/text/Font.h"

#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <tuple>

namespace cw {
namespace {

namespace A = EditorAppearance;
namespace S = EditorScrolling;

TEST(EditorAppearance, ColumnFontSizeAndInset) {
    EXPECT_EQ(A::fontSize(5), 8);
    EXPECT_EQ(A::fontSize(34), 34);
    // Margin 0.2 on a view 1000 wide, for each margin alignment.
    const struct {
        float alignment;
        double x;
    } columns[] = {{0, 100}, {1, 200}, {-1, 0}, {-0.5f, 50}};
    for (const auto& c : columns) {
        // The margin is single precision: 1 - 0.2f is a hair over 0.8.
        const auto column = A::textColumn(1000, 0.2f, c.alignment);
        EXPECT_NEAR(column.x, c.x, 1e-3) << c.alignment;
        EXPECT_NEAR(column.width, 800, 1e-3);
        // Placing the column again from its own width keeps it where it is.
        EXPECT_DOUBLE_EQ(A::columnX(1000, column.width, c.alignment), column.x);
    }
    EXPECT_DOUBLE_EQ(A::fontSizeForColumn(400, 5, 0.5f), 39);
    EXPECT_DOUBLE_EQ(A::fontSizeForColumn(400, 5, 0.99f), 8);
    EXPECT_EQ(A::textContainerInset(600, 0.75f), QSizeF(0, 150));
    EXPECT_EQ(cw::qtAlignment(TextAlignment::right), Qt::AlignRight | Qt::AlignAbsolute);
}

TEST(EditorAppearance, SetFontSizeKeepsTraits) {
    QTextDocument document;
    QTextCursor cursor(&document);
    QTextCharFormat bold, italic;
    bold.setFontWeight(QFont::Bold);
    bold.setFontPointSize(30);
    italic.setFontItalic(true);
    italic.setProperty(QTextFormat::FontPixelSize, 40);
    cursor.insertText("plain ");
    cursor.insertText("bold", bold);
    QTextBlockFormat unwrapped;
    unwrapped.setNonBreakableLines(true);
    cursor.insertBlock(unwrapped);
    cursor.insertText("italic", italic);
    document.clearUndoRedoStacks();

    document.setDefaultFont(QFont(QStringLiteral("DejaVu Sans"), 20));
    EXPECT_EQ(A::setFontSize(document, 5), 8);
    int runs = 0;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        EXPECT_FALSE(block.blockFormat().nonBreakableLines()) << "every paragraph wraps";
        for (auto it = block.begin(); !it.atEnd(); ++it, ++runs) {
            const QFont font = cw::editor::shownCharFormat(document, it.fragment().charFormat()).font();
            EXPECT_EQ(platform::Font::fromQFont(font).pointSize, 8) << it.fragment().text().toStdString();
            EXPECT_EQ(font.bold(), it.fragment().text() == "bold");
            EXPECT_EQ(font.italic(), it.fragment().text() == "italic");
        }
    }
    EXPECT_EQ(runs, 3);
    document.undo();
    EXPECT_FALSE(document.isUndoAvailable()) << "one undo step";
    EXPECT_EQ(document.begin().begin().fragment().charFormat().fontPointSize(), 0) << "back as it was";
}

// The narrowest line a text fits the layout in at the smallest size, or none past the most lines shown.
TEST(EditorAppearance, NarrowestLineWidth) {
    using A::TextAmount;
    const TextAmount cases[] = {
        {50'000'000, 1, 50'000'000}, {60'000'000, 1'000'000, 16'384}, {3'000, 3'000, 2}};
    for (const TextAmount& amount : cases) {
        const auto narrowest = A::narrowestLineWidth(amount);
        ASSERT_TRUE(narrowest) << amount.characters;
        EXPECT_TRUE(A::fitsLayout(amount, A::minimumFontSize, *narrowest + 0.01));
        if (*narrowest > 1) {
            EXPECT_FALSE(A::fitsLayout(amount, A::minimumFontSize, *narrowest * 0.99));
        }
    }
    // The paragraphs shown are bounded on their own: one more is refused where the layout would
    // still take it.
    EXPECT_TRUE(A::narrowestLineWidth({5'800'000, 2'900'000, 2}));
    const TextAmount justOver{5'800'002, 2'900'001, 2};
    EXPECT_TRUE(A::fitsLayout(justOver, A::minimumFontSize, 2000));
    EXPECT_FALSE(A::narrowestLineWidth(justOver));
}

// A text counts the same in the editor, however it holds it (cut inside runs without a space, at
// spaces, short paragraphs sharing blocks), as counted as a string: its size once it is all in
// is the one it was given while going in, with nothing laid out again.
TEST(EditorAppearance, ATextHeldInCutBlocksCountsAsItsString) {
    const QString texts[] = {
        QString(200'000, u'x'),
        QStringLiteral("one two three four ").repeated(5000) + QStringLiteral("\nend\n"),
        QStringLiteral("word\r\n").repeated(20000) + QString(3000, u'y'),
    };
    for (const QString& text : texts) {
        SCOPED_TRACE(text.left(8).toStdString());
        QTextDocument document;
        cw::editor::setAttributedText(document, platform::AttributedString(text));
        ASSERT_GT(document.blockCount(), 1);
        const auto fields = [](const A::TextAmount& a) {
            return std::tuple(a.characters, a.paragraphs, a.longestParagraph);
        };
        EXPECT_EQ(fields(A::textAmount(document)), fields(A::textAmount(text)));
    }
}

TEST(EditorAppearance, MirroringAndWhatToRecompute) {
    const QSizeF size(200, 100);
    const struct {
        bool h, v;
        QPointF origin; // where the view's (0, 0) lands
    } mirrors[] = {
        {false, false, {0, 0}}, {false, true, {0, 100}}, {true, false, {200, 0}}, {true, true, {200, 100}}};
    for (const auto& m : mirrors) {
        const QTransform t = A::mirrorTransform(m.h, m.v, size);
        EXPECT_EQ(t.map(QPointF(0, 0)), m.origin);
        EXPECT_EQ(t.mapRect(QRectF(QPointF(), size)), QRectF(QPointF(), size)) << "stays over its frame";
    }

    DocumentScriptProperties cached;
    auto margin = cached, alignment = cached, colour = cached;
    margin.prompterMargin = 0.3f;
    alignment.prompterMarginAlignment = 0.5f;
    colour.backgroundColor = platform::Color::red();
    const struct {
        DocumentScriptProperties now, before;
        bool force, column, alignment;
    } cases[] = {
        {cached, cached, false, false, false}, {cached, cached, true, true, true},
        {margin, cached, false, true, false},  {alignment, cached, false, false, true},
        {colour, cached, false, false, false}, {cached, A::invalidated(cached), false, true, false},
    };
    for (const auto& c : cases) {
        const auto changes = A::changes(c.now, c.before, c.force);
        EXPECT_EQ(changes.column, c.column);
        EXPECT_EQ(changes.alignment, c.alignment);
    }
}

// Through counted lines unlike the document's own: progress 0 and 1 show the text's top and end,
// offsets follow the progress without going back or jumping, and an offset gives back its
// progress; no lines give no progress.
TEST(EditorScrolling, ProgressAndOffset) {
    EXPECT_DOUBLE_EQ(S::scrollOffset(0.25, 800), 200);
    QTextDocument document;
    document.setDefaultFont(QFont(QStringLiteral("DejaVu Sans"), 20));
    document.setPlainText(
        QStringLiteral("a line of words that wraps round more than once here\n").repeated(12) +
        QStringLiteral("short\n"));
    document.setTextWidth(300);
    const auto counted = editor::measureLines(document, {1.0, 230});
    ASSERT_NE(counted.lineCount, editor::measureLines(document).lineCount) << "the same lines as shown";
    const S::CountedLines lines{counted.lineRanges, counted.lineCount};
    const double end = document.documentLayout()->documentSize().height() - document.documentMargin();
    EXPECT_DOUBLE_EQ(S::scrollOffset(document, lines, 0), document.documentMargin());
    EXPECT_NEAR(S::scrollOffset(document, lines, 1), end, 0.5);
    double before = S::scrollOffset(document, lines, 0);
    for (int step = 1; step <= 2000; ++step) {
        const double progress = step / 2000.0;
        const double offset = S::scrollOffset(document, lines, progress);
        EXPECT_GE(offset, before) << progress;
        EXPECT_LT(offset - before, 5) << progress;
        // The offset's progress shows it; where several counted lines start on one line of the
        // editor, the progress of the first of them.
        const double back = *S::progress(document, lines, offset);
        EXPECT_NEAR(S::scrollOffset(document, lines, back), offset, 1e-6) << progress;
        EXPECT_LE(back, progress + 1e-9);
        before = offset;
    }
    EXPECT_EQ(S::progress(document, lines, -50), 0.0);
    EXPECT_EQ(S::progress(document, lines, end + 50), 1.0);
    EXPECT_FALSE(S::progress(document, lines, std::nan("")));
    const std::vector<Editor::LineRange> none;
    EXPECT_FALSE(S::progress(document, {none, 0}, 40)) << "no lines, no progress";
    QTextDocument empty; // a text held back leaves the view empty
    EXPECT_FALSE(S::progress(empty, lines, 40));
    EXPECT_EQ(S::scrollOffset(empty, lines, 0.5), 0);

    const S::ScrollEvent wheel{false, true, true, true, false, false, true};
    EXPECT_TRUE(S::movesProgress(wheel));
    // Any one condition failing keeps the progress; among them a wheel turned while playing.
    using E = S::ScrollEvent;
    for (bool E::*field : {&E::freezeScroll, &E::syncEnabled, &E::isWheel, &E::sameWindow, &E::ignoreScroll,
                           &E::playing, &E::hasScrollView}) {
        auto event = wheel;
        event.*field = !(wheel.*field);
        EXPECT_FALSE(S::movesProgress(event));
    }
}

// Where the editor breaks its lines at other words than the counted lines, a progress that reads the middle
// of a counted line puts the editor's reading position inside its own line that holds that counted line's
// first word, and the wheel there reads the first counted line starting on it.
TEST(EditorScrolling, TheMarkLiesOnTheLineOfTheCountedLinesFirstWord) {
    const QString words = QStringLiteral("a line of words that wraps round more than once here ");
    const QString text = QStringLiteral("1. short\n2. %1\n3. %1%1\n").arg(words).repeated(4);
    for (const double countedWidth : {230.0, 390.0}) { // counted narrower than the editor, and wider
        SCOPED_TRACE(countedWidth);
        QTextDocument document;
        document.setDefaultFont(QFont(QStringLiteral("DejaVu Sans"), 20));
        editor::setAttributedText(document, platform::AttributedString(text));
        document.setTextWidth(300);
        const auto counted = editor::measureLines(document, {1.0, countedWidth});
        const S::CountedLines lines{counted.lineRanges, counted.lineCount};
        int otherLines = 0;
        for (int i = 0; i < counted.lineCount; ++i) {
            const double y = S::scrollOffset(document, lines, (i + 0.5) / counted.lineCount);
            const int hit = document.documentLayout()->hitTest(QPointF(2, y), Qt::FuzzyHit);
            const QTextBlock block = document.findBlock(hit);
            const QTextLine line = block.layout()->lineForTextPosition(hit - block.position());
            ASSERT_TRUE(line.isValid()) << i;
            const double top = block.layout()->position().y() + line.y();
            EXPECT_GT(y, top + line.height() / 4) << "counted line " << i;
            EXPECT_LT(y, top + line.height() * 3 / 4) << "counted line " << i;
            const int first = i < int(counted.lineRanges.size()) ? counted.lineRanges[i].range.location
                                                                 : document.characterCount() - 1;
            const int start = block.position() + line.textStart();
            const int end = block.position() + line.textStart() + line.textLength();
            EXPECT_TRUE(start <= first && (first < end || block.position() + block.length() == end + 1))
                << "counted line " << i << " starts at " << first << ", the mark's line holds " << start
                << "..." << end;
            otherLines += i < int(counted.lineRanges.size()) && first != start;
            // The wheel resting there reads the first counted line starting on that line.
            const double read = *S::progress(document, lines, y) * counted.lineCount;
            EXPECT_LE(read, i + 0.5 + 1e-6) << "counted line " << i;
            EXPECT_GE(read, 0.5 - 1e-6);
            EXPECT_DOUBLE_EQ(S::scrollOffset(document, lines, read / counted.lineCount), y) << i;
        }
        EXPECT_GT(otherLines, 3) << "the editor breaks its lines as counted";
    }
}

} // namespace
} // namespace cw

// Lines and words per line of a laid-out document.
#include "cuewright/editor/LineMetrics.h"

#include "cuewright/editor/TextBridge.h"
#include "platform/text/ParagraphLines.h"

#include <gtest/gtest.h>

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using cw::Editor;
using cw::editor::measureLines;

namespace {

struct Case {
    const char* text;
    int lines;
    double wordsPerLine;
    std::vector<Editor::LineRange> ranges;
};

void expectSameLines(const cw::editor::LineMetrics& actual, const cw::editor::LineMetrics& expected,
                     const std::string& what) {
    EXPECT_EQ(actual.lineCount, expected.lineCount) << what;
    EXPECT_EQ(actual.lineRanges, expected.lineRanges) << what;
    EXPECT_EQ(actual.wordsPerLine, expected.wordsPerLine) << what;
}

void laidOut(QTextDocument& document, const platform::AttributedString& text) {
    document.setTextWidth(300);
    cw::editor::setAttributedText(document, text);
}

} // namespace

TEST(LineMetrics, CountsLinesWordsAndRangesOfUnwrappedText) {
    const std::vector<Case> cases = {
        {"a b\n", 2, 1.0, {{1, {0, 4}}}},
        {"a  b", 1, 2.0, {{1, {0, 4}}}},
        {"a\tb", 1, 1.0, {{1, {0, 3}}}},
        // An empty paragraph's line is its break, which counts as a word.
        {"one two\n\nthree", 3, 4.0 / 3, {{1, {0, 8}}, {2, {8, 1}}, {3, {9, 5}}}},
    };
    for (const Case& c : cases) {
        QTextDocument document;
        document.setTextWidth(10000);
        document.setPlainText(QString::fromUtf8(c.text));
        const auto metrics = measureLines(document);
        EXPECT_EQ(metrics.lineCount, c.lines) << c.text;
        ASSERT_TRUE(metrics.wordsPerLine.has_value()) << c.text;
        EXPECT_DOUBLE_EQ(*metrics.wordsPerLine, c.wordsPerLine) << c.text;
        EXPECT_EQ(metrics.lineRanges, c.ranges) << c.text;
        // A text held back, never laid out, is counted alike.
        expectSameLines(cw::editor::paragraphLines(QString::fromUtf8(c.text)), metrics, c.text);
    }
}

TEST(LineMetrics, WrappedParagraphsGiveSeveralLinesAndEmptyTextNone) {
    QTextDocument document;
    const auto empty = measureLines(document);
    EXPECT_EQ(empty.lineCount, 0);
    EXPECT_TRUE(empty.lineRanges.empty());
    EXPECT_FALSE(empty.wordsPerLine.has_value());

    document.setPlainText(QStringLiteral("word ").repeated(200).trimmed());
    document.setTextWidth(200);
    const auto wrapped = measureLines(document);
    EXPECT_GT(wrapped.lineCount, 5);
    ASSERT_EQ(int(wrapped.lineRanges.size()), wrapped.lineCount);
    // The lines cover the text without gaps, and the words are all counted once.
    int next = 0;
    for (const auto& line : wrapped.lineRanges) {
        EXPECT_EQ(line.range.location, next);
        next += line.range.length;
    }
    EXPECT_EQ(next, document.characterCount() - 1);
    EXPECT_DOUBLE_EQ(*wrapped.wordsPerLine * wrapped.lineCount, 200);
}

// Counts kept on the blocks from an earlier measure agree with a fresh measure after edits,
// a new last paragraph and a new width.
TEST(LineMetrics, AnEarlierMeasureNeverLeavesStaleCounts) {
    QTextDocument document;
    document.setTextWidth(200);
    document.setPlainText(QStringLiteral("one two three four five six seven\nsecond line here\nlast "));
    measureLines(document);
    const struct {
        const char* what;
        std::function<void(QTextDocument&)> edit;
    } edits[] = {
        {"words typed into a paragraph",
         [](QTextDocument& d) { QTextCursor(d.findBlockByNumber(1)).insertText(QStringLiteral("x y z ")); }},
        {"a break after the last paragraph",
         [](QTextDocument& d) {
             QTextCursor end(&d);
             end.movePosition(QTextCursor::End);
             end.insertText(QStringLiteral("\n"));
         }},
        {"a narrower column", [](QTextDocument& d) { d.setTextWidth(90); }},
    };
    for (const auto& e : edits) {
        e.edit(document);
        const auto again = measureLines(document);
        QTextDocument fresh;
        fresh.setTextWidth(document.textWidth());
        fresh.setPlainText(document.toPlainText());
        expectSameLines(again, measureLines(fresh), e.what);
    }
}

// Lines counted at a font scale are the lines Qt's own layout gives the text at that many times
// the size, also for mixed sizes, bold runs and indented paragraphs, and after an edit.
TEST(LineMetrics, CountsAtAFontScaleAsQtLaysOutTheLargerText) {
    const auto styled = [](QTextDocument& document, double size) {
        document.setTextWidth(300);
        // Short lines in one block too, some too wide at the larger size: as a long text's
        // short paragraphs share a block.
        document.setPlainText(
            QStringLiteral("Good evening and welcome to the late news tonight.\n"
                           "Tonight the harbour bridge reopens after two long years\n\n"
                           "Back to you in the studio, where it is warm and dry.\n"
                           "Yes.\u2028No.\u2028Tonight the harbour\u2028Bridge\u2028\u2028.\n"));
        QTextCursor all(&document);
        all.select(QTextCursor::Document);
        QTextCharFormat format;
        format.setFontFamilies({QStringLiteral("DejaVu Sans")});
        format.setFontPointSize(size);
        all.mergeCharFormat(format);
        QTextCursor bold(&document);
        bold.setPosition(5);
        bold.setPosition(20, QTextCursor::KeepAnchor);
        QTextCharFormat heavy;
        heavy.setFontWeight(QFont::Bold);
        heavy.setFontPointSize(size * 1.5);
        bold.mergeCharFormat(heavy);
        QTextBlockFormat indented;
        indented.setLeftMargin(20);
        indented.setTextIndent(15);
        QTextCursor(document.findBlockByNumber(1)).mergeBlockFormat(indented);
    };
    // Typing, then bold over everything (a change of look leaves the text as it was).
    const auto edit = [](QTextDocument& document, int step) {
        if (step == 0) {
            QTextCursor(document.findBlockByNumber(2))
                .insertText(QStringLiteral("A new line of words here "));
            return;
        }
        QTextCursor all(&document);
        all.select(QTextCursor::Document);
        QTextCharFormat heavy;
        heavy.setFontWeight(QFont::Bold);
        all.mergeCharFormat(heavy);
    };
    for (const double scale : {1.5, 3.0}) {
        QTextDocument shown;
        styled(shown, 8);
        QTextDocument large;
        styled(large, 8 * scale);
        EXPECT_LT(measureLines(shown).lineCount, measureLines(large).lineCount)
            << "shown smaller, fewer lines";
        // Counted at the scale again and again: each measure finds the counts the last one kept.
        for (int edited = 0; edited < 3; ++edited) {
            const auto laidOut = measureLines(large);
            EXPECT_GT(laidOut.lineCount, 6) << "the larger text wraps";
            expectSameLines(measureLines(shown, {scale}), laidOut,
                            std::to_string(scale) + " edited " + std::to_string(edited));
            edit(shown, edited);
            edit(large, edited);
        }
    }
}

// In a long text, short paragraphs share blocks, joined by line separators: an edit lays out again
// only the paragraphs it touched, however long the block, and the lines are those of the text
// counted afresh, after typing, separators typed and deleted, a format, several edits at once and
// a paragraph break (the whole block then).
TEST(LineMetrics, AnEditInABlockOfSeveralParagraphsLaysOutOnlyThoseItTouched) {
    const QString paragraph = QStringLiteral("Tonight the harbour bridge reopens after two long years, ");
    QStringList paragraphs;
    for (int i = 0; i < 1500; ++i) {
        paragraphs << paragraph.repeated(1 + i % 3) + QString::number(i);
    }
    const cw::editor::LineCounting counting{2.0, 700};
    QTextDocument document;
    laidOut(document, platform::AttributedString(paragraphs.join(u'\n')));
    const QTextBlock shared = document.findBlock(document.characterCount() / 2);
    ASSERT_TRUE(shared.text().contains(QChar::LineSeparator)) << "paragraphs share blocks";
    const int middle = shared.position() + shared.length() / 2;
    const auto cursorAt = [&document](int at, int anchor = -1) {
        QTextCursor cursor(&document);
        cursor.setPosition(anchor < 0 ? at : anchor);
        cursor.setPosition(at, QTextCursor::KeepAnchor);
        return cursor;
    };
    const auto separatorAfter = [&](int at) {
        return shared.position() + int(shared.text().indexOf(QChar::LineSeparator, at - shared.position()));
    };
    constexpr int wholeBlock = -1;
    const struct {
        const char* what;
        std::function<void()> edit;
        int mostRelaid;
    } edits[] = {
        {"a letter", [&] { cursorAt(middle).insertText(QStringLiteral("a")); }, 800},
        {"a separator typed", [&] { cursorAt(middle).insertText(QString(QChar::LineSeparator)); }, 800},
        {"a separator deleted",
         [&] { cursorAt(separatorAfter(middle) + 1, separatorAfter(middle)).removeSelectedText(); }, 800},
        {"bold over words",
         [&] {
             QTextCharFormat bold;
             bold.setFontWeight(QFont::Bold);
             cursorAt(middle + 30, middle).mergeCharFormat(bold);
         },
         800},
        {"two edits",
         [&] {
             cursorAt(shared.position() + 3).insertText(QStringLiteral("x y "));
             cursorAt(shared.position() + shared.length() - 1).insertText(QStringLiteral(" and on"));
         },
         wholeBlock},
        {"a paragraph break", [&] { cursorAt(middle).insertText(QStringLiteral("\n")); }, wholeBlock},
    };
    measureLines(document, counting);
    for (const auto& e : edits) {
        e.edit();
        const std::uint64_t relaid = cw::editor::relaidCharacterCount();
        const auto counted = measureLines(document, counting);
        if (e.mostRelaid != wholeBlock) {
            EXPECT_LE(cw::editor::relaidCharacterCount() - relaid, std::uint64_t(e.mostRelaid)) << e.what;
        }
        std::unique_ptr<QTextDocument> fresh(document.clone());
        fresh->setTextWidth(document.textWidth());
        expectSameLines(counted, measureLines(*fresh, counting), e.what);
    }
}

// A paragraph the editor holds as several blocks (cut at spaces, and inside a long run without
// one) is counted as one, the same whether counted at once, again after edits anywhere in it, or
// piece by piece as a long text goes in; wherever the cuts fall.
TEST(LineMetrics, AParagraphOfSeveralBlocksCountsAsOneAfterEditsAndPieceByPiece) {
    using cw::editor::TextInsertion;
    const QString ten = QStringLiteral("one two three four five six seven eight nine ten ");
    const QString text = QStringLiteral("Opening.\n") + ten.repeated(700) + QString(5000, u'x') + u' ' +
                         ten.repeated(700) + QStringLiteral("\nClosing.");
    const cw::editor::LineCounting counting{2.0, 700};
    // Text positions: a cut inside a run stands for no character.
    const auto textLines = [&](const QTextDocument& document) {
        auto metrics = measureLines(document, counting);
        const cw::editor::PlainText plain{{}, cw::editor::characterlessCuts(document)};
        for (Editor::LineRange& line : metrics.lineRanges) {
            line.range = plain.textRange(line.range);
        }
        return metrics;
    };
    const auto typeAt = [](int at, const char* what) {
        return [at, what](QTextDocument& d) {
            QTextCursor cursor(&d);
            cursor.setPosition(at);
            cursor.insertText(QString::fromLatin1(what));
        };
    };
    const struct {
        const char* what;
        std::function<void(QTextDocument&)> edit;
    } edits[] = {
        {"words typed in the middle", typeAt(20000, "and a few more words ")},
        {"a letter near the start", typeAt(40, "q")},
        {"a letter in the run", typeAt(36000, "y")},
        {"a block's start", [&](QTextDocument& d) { typeAt(d.findBlock(50000).position(), "Here ")(d); }},
        {"a cut removed",
         [](QTextDocument& d) {
             QTextCursor cursor(d.findBlock(30000));
             cursor.movePosition(QTextCursor::EndOfBlock);
             cursor.deleteChar();
         }},
        {"a break typed in", typeAt(60000, "\n")},
        {"the end typed on", [&](QTextDocument& d) { typeAt(d.characterCount() - 1, "and on and on ")(d); }},
    };
    QTextDocument document;
    laidOut(document, platform::AttributedString(text));
    ASSERT_GT(document.blockCount(), 10);
    measureLines(document, counting);
    for (const auto& e : edits) {
        e.edit(document);
        // Counted a part at a time, each scanning about its own blocks, however long the paragraph.
        int parts = 0;
        for (bool done = false; !done; ++parts) {
            const std::uint64_t scanned = platform::lineBreakScanCount();
            done = cw::editor::countSomeLines(document, counting, 2000);
            EXPECT_LE(platform::lineBreakScanCount() - scanned, 3u * TextInsertion::maxBlockCharacters)
                << e.what;
        }
        EXPECT_GT(parts, &e == &edits[1] ? 3 : 0)
            << e.what << ": the whole paragraph after a change near its start";
        QTextDocument fresh;
        laidOut(fresh, cw::editor::attributedText(document));
        const auto expected = textLines(fresh);
        EXPECT_GT(expected.lineCount, 1000) << e.what;
        expectSameLines(textLines(document), expected, e.what);
    }
    QTextDocument pieces;
    pieces.setTextWidth(300);
    TextInsertion insertion(pieces, platform::AttributedString(text));
    for (bool done = false; !done;) {
        const QTextBlock last = pieces.lastBlock();
        done = insertion.insert(3000);
        cw::editor::countLinesFrom(pieces, last, counting);
    }
    QTextDocument whole;
    laidOut(whole, platform::AttributedString(text));
    expectSameLines(textLines(pieces), textLines(whole), "piece by piece");
}

// A long paragraph cut at tabs, ideographic spaces or line separators counts as the one paragraph it
// is, as the prompter lays it out whole.
TEST(LineMetrics, AParagraphCutAtAnyKindOfSpaceCountsAsOne) {
    const cw::editor::LineCounting counting{2.0, 700};
    for (const QChar space : {QChar(u' '), QChar(u'\t'), QChar(0x3000), QChar(QChar::LineSeparator)}) {
        SCOPED_TRACE(int(space.unicode()));
        QStringList words;
        for (int i = 0; i < 6000; ++i) {
            words << QStringLiteral("word%1").arg(i % 97);
        }
        const platform::AttributedString text(words.join(space));
        QTextDocument cut;
        laidOut(cut, text);
        ASSERT_GT(cut.blockCount(), 2);
        QTextDocument whole;
        whole.setTextWidth(300);
        cw::editor::TextInsertion::insertParagraphs(whole, text);
        ASSERT_EQ(whole.blockCount(), 1);
        expectSameLines(measureLines(cut, counting), measureLines(whole, counting), "cut and whole");
    }
}

// A storm of combining marks (a letter under a thousand marks, over and over, no space) going in
// piece by piece: each piece costs the line breaker about its own characters, however long the
// paragraph has grown, and the lines are those of the text counted whole.
TEST(LineMetrics, AStormOfCombiningMarksIsCountedPieceByPieceAtTheCostOfEachPiece) {
    QString unit(u'e');
    for (int i = 0; i < 1000; ++i) {
        unit += QChar(char16_t(0x300 + i % 20));
    }
    const QString text = unit.repeated(400);
    const cw::editor::LineCounting counting{1.5, 600};
    QTextDocument pieces;
    pieces.setTextWidth(300);
    using cw::editor::TextInsertion;
    TextInsertion insertion(pieces, platform::AttributedString(text));
    int piece = 0;
    for (bool done = false; !done; ++piece) {
        const QTextBlock last = pieces.lastBlock();
        const int before = pieces.characterCount();
        done = insertion.insert(1 << 18);
        const std::uint64_t scanned = platform::lineBreakScanCount();
        cw::editor::countLinesFrom(pieces, last, counting);
        const std::uint64_t added = std::uint64_t(pieces.characterCount() - before);
        EXPECT_LE(platform::lineBreakScanCount() - scanned, 8 * added) << "piece " << piece;
        // The last piece too: its characters of runs cost as much as the others'.
        EXPECT_LE(added,
                  std::uint64_t((1 << 18) / TextInsertion::runCost + TextInsertion::maxBlockCharacters))
            << "piece " << piece;
    }
    EXPECT_GE(piece, 3);
    QTextDocument whole;
    laidOut(whole, platform::AttributedString(text));
    const auto counted = measureLines(pieces, counting);
    EXPECT_GT(counted.lineCount, 3);
    EXPECT_EQ(counted.lineRanges, measureLines(whole, counting).lineRanges);
}

#include "cuewright/editor/LineMetrics.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <vector>

namespace cw::editor {

int spaceSeparatedWordCount(QStringView text) {
    int words = 0;
    bool inWord = false;
    for (const QChar c : text) {
        const bool separates = c == u' ';
        words += !separates && !inWord ? 1 : 0;
        inWord = !separates;
    }
    return words;
}

namespace {

// The word counts of a block's laid-out lines, kept on the block while its text stays the same:
// after a keystroke only the edited block is counted again.
struct LineWords final : QTextBlockUserData {
    struct Line {
        int start = 0;
        int length = 0;
        int words = 0;
    };
    int revision = -1;
    bool hasBreak = false;
    std::vector<Line> lines;
};

// Words of a line of `text`; a line that closes its paragraph includes the break, which joins
// the last word like any character other than a space (or is a word of its own after a space).
int lineWordCount(QStringView line, bool closesParagraph) {
    const bool breakIsAWord = closesParagraph && (line.isEmpty() || line.back() == u' ');
    return spaceSeparatedWordCount(line) + (breakIsAWord ? 1 : 0);
}

} // namespace

LineMetrics measureLines(const QTextDocument& document) {
    LineMetrics metrics;
    if (document.isEmpty()) {
        return metrics;
    }
    document.documentLayout()->documentSize(); // lays out whatever is still pending

    const QTextBlock last = document.lastBlock();
    // The empty paragraph after a final break has a line in Qt's layout but no characters.
    const bool endsWithBreak = last.length() == 1 && last != document.firstBlock();
    long words = 0;
    for (QTextBlock block = document.firstBlock(); block.isValid(); block = block.next()) {
        if (endsWithBreak && block == last) {
            break;
        }
        const QTextLayout* layout = block.layout();
        const int position = block.position();
        const int count = layout->lineCount();
        const bool hasBreak = block.next().isValid();
        auto* cache = static_cast<LineWords*>(block.userData());
        const bool sameText = cache && cache->revision == block.revision() && cache->hasBreak == hasBreak;
        QString text; // read only when a line must be counted
        std::vector<LineWords::Line> lines;
        lines.reserve(count);
        bool recounted = !sameText || int(cache->lines.size()) != count;
        for (int i = 0; i < count; ++i) {
            const QTextLine line = layout->lineAt(i);
            LineWords::Line counted{line.textStart(), line.textLength(), 0};
            const bool closesParagraph = hasBreak && i + 1 == count;
            const auto* known = sameText && i < int(cache->lines.size()) ? &cache->lines[i] : nullptr;
            if (known && known->start == counted.start && known->length == counted.length) {
                counted.words = known->words;
            } else {
                if (text.isNull()) {
                    text = block.text();
                }
                counted.words =
                    lineWordCount(QStringView(text).mid(counted.start, counted.length), closesParagraph);
                recounted = true;
            }
            words += counted.words;
            // The break counts as a character of the line, as it is one of the text.
            metrics.lineRanges.push_back(
                {int(metrics.lineRanges.size()) + 1,
                 {position + counted.start, counted.length + (closesParagraph ? 1 : 0)}});
            lines.push_back(counted);
        }
        if (recounted) {
            if (!cache) {
                cache = new LineWords; // the block owns it
                block.setUserData(cache);
            }
            cache->revision = block.revision();
            cache->hasBreak = hasBreak;
            cache->lines = std::move(lines);
        }
    }
    metrics.lineCount = int(metrics.lineRanges.size()) + (endsWithBreak ? 1 : 0);
    if (metrics.lineCount > 0) {
        metrics.wordsPerLine = double(words) / metrics.lineCount;
    }
    return metrics;
}

} // namespace cw::editor

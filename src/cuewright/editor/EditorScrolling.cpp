#include "cuewright/editor/EditorScrolling.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace cw::EditorScrolling {

namespace {

// Positions run from 0 to the document's final break, which stands for the end of the text: the
// last line reaches one past it.
int lastPosition(const QTextDocument& document) {
    return std::max(0, document.characterCount() - 1);
}

// The top of the first line of `block`; lays the document out up to it (once: Qt keeps it).
double firstLineTop(const QTextDocument& document, const QTextBlock& block) {
    const QRectF box = document.documentLayout()->blockBoundingRect(block);
    const QTextLayout* lines = block.layout();
    return lines != nullptr && lines->lineCount() > 0 ? lines->position().y() + lines->lineAt(0).y()
                                                      : box.top();
}

// A line as the document lays it out: its characters (the last line of a block with the block's
// break) and its height down to the next line's top, so that the lines leave no gap between them.
struct LaidOutLine {
    int start = 0;
    int length = 1;
    double top = 0;
    double next = 0;
};

LaidOutLine lineAt(const QTextDocument& document, int position) {
    const QTextBlock block = document.findBlock(position);
    const QRectF box = document.documentLayout()->blockBoundingRect(block);
    LaidOutLine found{block.position(), std::max(1, block.length()), box.top(), box.bottom()};
    const QTextLayout* lines = block.layout();
    const int count = lines != nullptr ? lines->lineCount() : 0;
    if (count == 0) {
        return found;
    }
    const int inBlock = position - block.position();
    int low = 0;
    int high = count - 1;
    while (low < high) { // the last line starting at or before the position
        const int middle = (low + high + 1) / 2;
        if (lines->lineAt(middle).textStart() <= inBlock) {
            low = middle;
        } else {
            high = middle - 1;
        }
    }
    const QTextLine line = lines->lineAt(low);
    const double origin = lines->position().y();
    found.start = block.position() + line.textStart();
    found.length =
        std::max(1, low + 1 < count ? line.textLength() : block.position() + block.length() - found.start);
    found.top = origin + line.y();
    if (low + 1 < count) {
        found.next = origin + lines->lineAt(low + 1).y();
    } else if (const QTextBlock after = block.next(); after.isValid()) {
        found.next = firstLineTop(document, after);
    } else {
        found.next = found.top + line.height();
    }
    found.next = std::max(found.next, found.top);
    return found;
}

// The y of `character` (a position and a share of the next): down its line as far as it is along it.
double yAt(const QTextDocument& document, double character) {
    const int position = std::clamp(static_cast<int>(std::floor(character)), 0, lastPosition(document));
    const LaidOutLine line = lineAt(document, position);
    const double along = std::clamp((character - line.start) / line.length, 0.0, 1.0);
    return line.top + along * (line.next - line.top);
}

// The table's lines, and the empty line after a closing break when it counts one.
int countOf(const CountedLines& lines) {
    const int table = static_cast<int>(lines.ranges.size());
    return std::clamp(lines.count, table, table + 1);
}

// The characters of counted line `index` (from 0): from its start to the next line's.
struct Span {
    double start = 0;
    double end = 0;
};

Span countedLine(const CountedLines& lines, int last, int index) {
    const int table = static_cast<int>(lines.ranges.size());
    const auto startOf = [&](int i) {
        return std::clamp(lines.ranges[static_cast<std::size_t>(i)].range.location, 0, last);
    };
    const double start = index < table ? startOf(index) : last;
    double end = last + 1;
    if (index + 1 < table) {
        end = startOf(index + 1);
    } else if (index + 1 < countOf(lines)) {
        end = last; // the empty line after the closing break follows
    }
    return {start, std::max(start, end)};
}

} // namespace

double scrollOffset(const QTextDocument& document, const CountedLines& lines, double progress) {
    const int count = countOf(lines);
    if (count == 0 || document.isEmpty()) {
        return 0;
    }
    const double position = (std::isfinite(progress) ? std::clamp(progress, 0.0, 1.0) : 0.0) * count;
    const int index = std::min(static_cast<int>(position), count - 1);
    const Span line = countedLine(lines, lastPosition(document), index);
    return yAt(document, line.start + (position - index) * (line.end - line.start));
}

std::optional<double> progress(const QTextDocument& document, const CountedLines& lines, double offset) {
    const int count = countOf(lines);
    if (count == 0 || document.isEmpty() || !std::isfinite(offset)) {
        return std::nullopt;
    }
    const int last = lastPosition(document);
    int low = 0;
    int high = count - 1;
    while (low < high) { // the last counted line that starts at or above the offset
        const int middle = (low + high + 1) / 2;
        if (yAt(document, countedLine(lines, last, middle).start) <= offset) {
            low = middle;
        } else {
            high = middle - 1;
        }
    }
    // The character at the offset, along the laid-out lines the counted line runs through.
    const Span line = countedLine(lines, last, low);
    double character = line.start;
    for (double from = line.start; from < line.end;) {
        const LaidOutLine shown = lineAt(document, std::clamp(static_cast<int>(std::floor(from)), 0, last));
        const double to = std::min(line.end, static_cast<double>(shown.start + shown.length));
        if (offset < shown.next || to >= line.end) {
            const double height = shown.next - shown.top;
            const double along = height > 0 ? std::clamp((offset - shown.top) / height, 0.0, 1.0) : 0.0;
            character = std::clamp(shown.start + along * shown.length, from, to);
            break;
        }
        from = to;
    }
    const double share = line.end > line.start ? (character - line.start) / (line.end - line.start) : 0.0;
    return std::clamp((low + share) / count, 0.0, 1.0);
}

double scrollOffset(double progress, double usedHeight) {
    return progress * usedHeight;
}

bool movesProgress(const ScrollEvent& event) {
    return !event.freezeScroll && event.syncEnabled && event.isWheel && event.sameWindow &&
           !event.ignoreScroll && !event.playing && event.hasScrollView;
}

} // namespace cw::EditorScrolling

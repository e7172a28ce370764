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

// A line as the document lays it out: its top, its own height and the next line's top.
struct LaidOutLine {
    double top = 0;
    double height = 0;
    double next = 0;
    double middle() const { return top + height / 2; }
};

LaidOutLine lineAt(const QTextDocument& document, int position) {
    const QTextBlock block = document.findBlock(position);
    const QRectF box = document.documentLayout()->blockBoundingRect(block);
    LaidOutLine found{box.top(), box.height(), box.bottom()};
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
    found.top = origin + line.y();
    found.height = line.height();
    if (low + 1 < count) {
        found.next = origin + lines->lineAt(low + 1).y();
    } else if (const QTextBlock after = block.next(); after.isValid()) {
        found.next = firstLineTop(document, after);
    } else {
        found.next = found.top + line.height();
    }
    found.next = std::max(found.next, found.top);
    found.height = std::clamp(found.height, 0.0, found.next - found.top);
    return found;
}

// The table's lines, and the empty line after a closing break when it counts one.
int countOf(const CountedLines& lines) {
    const int table = static_cast<int>(lines.ranges.size());
    return std::clamp(lines.count, table, table + 1);
}

// The editor's lines and the prompters' lines break at other words wherever the two lay the text
// out at other sizes (Qt hints and rounds each size its own way) and at every cut of a long
// paragraph, which starts a line in the editor alone. So the editor does not follow the words along
// a counted line: the line at its reading position is always one that holds words of the counted
// line read, and the middle of the line that holds the counted line's first word is there when the
// prompters read the middle of the counted line (where a step comes to rest). The path runs
// straight between knots, in counted lines (u = progress × count): at u i the top of the line
// holding counted line i's first word (its middle when counted line i - 1 starts on it too), at
// u i + 1/2 that line's middle, and at u count the text's end.
struct Knots {
    const QTextDocument& document;
    const CountedLines& lines;
    int count = 0;
    int last = 0;

    int size() const { return 2 * count + 1; }
    static double u(int knot) { return knot / 2.0; }
    double y(int knot) const {
        if (knot >= 2 * count) {
            return lineAt(document, last).next;
        }
        const int index = knot / 2;
        const LaidOutLine line = lineAt(document, firstWord(index));
        if (knot % 2 == 1) {
            return line.middle();
        }
        return index == 0 ? line.top : std::max(line.top, lineAt(document, firstWord(index - 1)).middle());
    }
    // Where counted line `index` starts: the empty line after the closing break starts at the end.
    int firstWord(int index) const {
        const int table = static_cast<int>(lines.ranges.size());
        return index < table
                   ? std::clamp(lines.ranges[static_cast<std::size_t>(index)].range.location, 0, last)
                   : last;
    }
};

} // namespace

double scrollOffset(const QTextDocument& document, const CountedLines& lines, double progress) {
    const int count = countOf(lines);
    if (count == 0 || document.isEmpty()) {
        return 0;
    }
    const Knots knots{document, lines, count, lastPosition(document)};
    const double u = (std::isfinite(progress) ? std::clamp(progress, 0.0, 1.0) : 0.0) * count;
    const int knot = std::min(static_cast<int>(std::floor(2 * u)), knots.size() - 2); // at or before u
    const double from = knots.y(knot);
    const double along = std::clamp((u - Knots::u(knot)) * 2, 0.0, 1.0);
    return from + along * (knots.y(knot + 1) - from);
}

std::optional<double> progress(const QTextDocument& document, const CountedLines& lines, double offset) {
    const int count = countOf(lines);
    if (count == 0 || document.isEmpty() || !std::isfinite(offset)) {
        return std::nullopt;
    }
    const Knots knots{document, lines, count, lastPosition(document)};
    int low = 0;
    int high = knots.size() - 1;
    if (offset > knots.y(high)) {
        return 1.0;
    }
    // The first knot at or below the offset: where several counted lines start on one line of the
    // editor, the first of them is read.
    while (low < high) {
        const int middle = (low + high) / 2;
        if (knots.y(middle) >= offset) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    if (low == 0) {
        return 0.0;
    }
    const double above = knots.y(low - 1);
    const double below = knots.y(low);
    const double along = below > above ? std::clamp((offset - above) / (below - above), 0.0, 1.0) : 1.0;
    return std::clamp((Knots::u(low - 1) + along / 2) / count, 0.0, 1.0);
}

double textPosition(const CountedLines& lines, double progress) {
    const int count = countOf(lines);
    if (lines.ranges.empty()) {
        return 0;
    }
    const double u = (std::isfinite(progress) ? std::clamp(progress, 0.0, 1.0) : 0.0) * count;
    const int index = std::min(static_cast<int>(std::floor(u)), count - 1);
    if (index >= static_cast<int>(lines.ranges.size())) {
        return lines.ranges.back().range.end(); // the empty line after the closing break
    }
    const platform::TextRange& range = lines.ranges[static_cast<std::size_t>(index)].range;
    return range.location + (u - index) * range.length;
}

double progressAt(const CountedLines& lines, double position) {
    const int count = countOf(lines);
    if (lines.ranges.empty() || !std::isfinite(position)) {
        return 0;
    }
    const auto& ranges = lines.ranges;
    if (position >= ranges.back().range.end()) {
        return static_cast<double>(ranges.size()) / count; // the end, or the empty line after it
    }
    const auto after =
        std::upper_bound(ranges.begin(), ranges.end(), position,
                         [](double at, const Editor::LineRange& line) { return at < line.range.location; });
    const auto index = std::max<std::ptrdiff_t>(0, after - ranges.begin() - 1);
    const platform::TextRange& range = ranges[static_cast<std::size_t>(index)].range;
    const double share =
        range.length > 0 ? std::clamp((position - range.location) / range.length, 0.0, 1.0) : 0.0;
    return std::clamp((static_cast<double>(index) + share) / count, 0.0, 1.0);
}

double scrollOffset(double progress, double usedHeight) {
    return progress * usedHeight;
}

bool movesProgress(const ScrollEvent& event) {
    return !event.freezeScroll && event.syncEnabled && event.isWheel && event.sameWindow &&
           !event.ignoreScroll && !event.playing && event.hasScrollView;
}

} // namespace cw::EditorScrolling

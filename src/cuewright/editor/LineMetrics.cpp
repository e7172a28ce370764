#include "cuewright/editor/LineMetrics.h"

#include <QAbstractTextDocumentLayout>
#include <QHash>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
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
    // The formats the lines were broken in (see blockLook): a change of look keeps the revision.
    std::size_t look = 0;
    bool hasBreak = false;
    // The lines' own layout (the document font's size as counted, width) when they were not
    // Qt's; 0 when they were.
    double size = 0;
    double width = 0;
    std::vector<Line> lines;
};

// The formats a block's lines are broken in: the document's font (its size aside: that is counted
// apart), the block's format and its runs'. Bold, a font or a size given to a run changes it, while
// the block's revision follows its text alone.
std::size_t documentLook(const QTextDocument& document) {
    QFont font = document.defaultFont();
    font.setPointSizeF(1);
    return qHash(font.key());
}

std::size_t blockLook(std::size_t documentLook, const QTextBlock& block) {
    std::size_t look = qHashMulti(documentLook, block.blockFormatIndex(), block.charFormatIndex());
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        look = qHashMulti(look, fragment.charFormatIndex(), fragment.length());
    }
    return look;
}

struct LineSpan {
    int start = 0;
    int length = 0;
};

// The font of `format` in `document`, `scale` times its size.
QFont scaledFont(const QTextDocument& document, const QTextCharFormat& format, double scale) {
    QFont font = format.font().resolve(document.defaultFont());
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(font.pointSizeF() * scale);
    } else if (font.pixelSize() > 0) {
        font.setPixelSize(std::max(1, int(std::lround(font.pixelSize() * scale))));
    }
    return font;
}

// The width the lines of `block` are broken in.
double lineWidth(const QTextDocument& document, const QTextBlock& block, const LineCounting& counting) {
    const QTextBlockFormat format = block.blockFormat();
    const double own = format.leftMargin() + format.rightMargin() + format.indent() * document.indentWidth();
    if (counting.width > 0) {
        return counting.width - own * counting.fontScale;
    }
    return document.textWidth() - 2 * document.documentMargin() - own;
}

// The lines of `block` broken as the document's layout breaks them, with every font `scale`
// times its size. The lines are never positioned: no height accumulates.
std::vector<LineSpan> scaledLines(const QTextDocument& document, const QTextBlock& block,
                                  const LineCounting& counting, double width) {
    const double scale = counting.fontScale;
    QTextLayout layout(block.text(), scaledFont(document, block.charFormat(), scale));
    QList<QTextLayout::FormatRange> formats;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        QTextCharFormat format = fragment.charFormat();
        format.setFont(scaledFont(document, format, scale));
        formats.append({fragment.position() - block.position(), fragment.length(), format});
    }
    layout.setFormats(formats);
    QTextOption option = document.defaultTextOption();
    option.setAlignment(block.blockFormat().alignment());
    if (block.blockFormat().nonBreakableLines() || (counting.width <= 0 && document.textWidth() < 0)) {
        option.setWrapMode(QTextOption::NoWrap);
    }
    layout.setTextOption(option);
    const double firstIndent = block.blockFormat().textIndent() * (counting.width > 0 ? scale : 1.0);
    std::vector<LineSpan> lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(std::max(0.0, lines.empty() ? width - firstIndent : width));
        lines.push_back({line.textStart(), line.textLength()});
    }
    layout.endLayout();
    return lines;
}

// The size the document's font is counted at: the same whatever size it is shown at, so that
// lines counted at one size stay counted when the view is resized (a thousandth of a point apart
// is the same size).
double countedSize(const QTextDocument& document, const LineCounting& counting) {
    if (counting.usesDocumentLayout()) {
        return 0;
    }
    const QFont font = document.defaultFont();
    const double size = font.pointSizeF() > 0 ? font.pointSizeF() : font.pixelSize();
    return std::round(size * counting.fontScale * 1000) / 1000;
}

// Qt's own lines of `block` into `lines` when counting would break them alike: each ends at a
// break (or the block's end) and, at the counted size, still fits well within `width`. A block of
// short lines (a word to a line) then costs no second layout.
bool unwrappedAtScale(const QTextDocument& document, const QTextBlock& block, const LineCounting& counting,
                      double width, std::vector<LineSpan>& lines) {
    // Well within: a font's hinted widths do not grow quite in step with its size.
    constexpr double room = 0.9;
    const double scale = counting.fontScale;
    const QTextLayout* layout = block.layout();
    const int count = layout ? layout->lineCount() : 0;
    if (count == 0 || block.blockFormat().nonBreakableLines() || document.textWidth() < 0) {
        return false;
    }
    const QString text = block.text();
    const double firstIndent = block.blockFormat().textIndent() * (counting.width > 0 ? scale : 1.0);
    lines.clear();
    lines.reserve(count);
    for (int i = 0; i < count; ++i) {
        const QTextLine line = layout->lineAt(i);
        const int end = line.textStart() + line.textLength();
        const bool endsAtBreak = i + 1 == count || (end > 0 && text[end - 1] == QChar::LineSeparator);
        if (!endsAtBreak || line.naturalTextWidth() * scale > room * (i == 0 ? width - firstIndent : width)) {
            lines.clear();
            return false;
        }
        lines.push_back({line.textStart(), line.textLength()});
    }
    return true;
}

// The lines of `block`: Qt's own (laid out), or those counted otherwise from `cache`, from Qt's
// own when counting does not change them, or from a new layout.
std::vector<LineSpan> blockLines(const QTextDocument& document, const QTextBlock& block,
                                 const LineCounting& counting, const LineWords* cache, std::size_t look) {
    std::vector<LineSpan> lines;
    if (counting.usesDocumentLayout()) {
        const QTextLayout* layout = block.layout();
        lines.reserve(layout->lineCount());
        for (int i = 0; i < layout->lineCount(); ++i) {
            lines.push_back({layout->lineAt(i).textStart(), layout->lineAt(i).textLength()});
        }
        return lines;
    }
    const double width = lineWidth(document, block, counting);
    if (cache && cache->revision == block.revision() && cache->look == look &&
        cache->size == countedSize(document, counting) && cache->width == width) {
        for (const LineWords::Line& line : cache->lines) {
            lines.push_back({line.start, line.length});
        }
        return lines;
    }
    if (unwrappedAtScale(document, block, counting, width, lines)) {
        return lines;
    }
    return scaledLines(document, block, counting, width);
}

// Words of a line of `text`; a line that closes its paragraph includes the break, which joins
// the last word like any character other than a space (or is a word of its own after a space).
int lineWordCount(QStringView line, bool closesParagraph) {
    const bool breakIsAWord = closesParagraph && (line.isEmpty() || line.back() == u' ');
    return spaceSeparatedWordCount(line) + (breakIsAWord ? 1 : 0);
}

// The lines of `block` with their word counts, taken from the counts kept on the block where
// they still hold; new counts are kept.
const std::vector<LineWords::Line>& countBlock(const QTextDocument& document, const QTextBlock& block,
                                               const LineCounting& counting, std::size_t documentLook,
                                               std::vector<LineWords::Line>& scratch) {
    const bool hasBreak = block.next().isValid();
    auto* cache = static_cast<LineWords*>(block.userData());
    const bool own = counting.usesDocumentLayout();
    // Qt's own lines follow every change of look by themselves.
    const std::size_t look = own ? 0 : blockLook(documentLook, block);
    const std::vector<LineSpan> spans = blockLines(document, block, counting, cache, look);
    const int count = int(spans.size());
    const bool sameText = cache && cache->revision == block.revision() && cache->hasBreak == hasBreak;
    QString text; // read only when a line must be counted
    std::vector<LineWords::Line>& lines = scratch;
    lines.clear();
    lines.reserve(count);
    const double sizeKey = countedSize(document, counting);
    const double widthKey = own ? 0 : lineWidth(document, block, counting);
    bool recounted = !sameText || int(cache->lines.size()) != count || cache->look != look ||
                     cache->size != sizeKey || cache->width != widthKey;
    for (int i = 0; i < count; ++i) {
        LineWords::Line counted{spans[i].start, spans[i].length, 0};
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
        lines.push_back(counted);
    }
    if (!recounted) {
        return cache->lines;
    }
    if (!cache) {
        cache = new LineWords; // the block owns it
        const_cast<QTextBlock&>(block).setUserData(cache);
    }
    cache->revision = block.revision();
    cache->look = look;
    cache->hasBreak = hasBreak;
    cache->size = sizeKey;
    cache->width = widthKey;
    cache->lines.swap(lines);
    return cache->lines;
}

} // namespace

LineMetrics paragraphLines(QStringView text) {
    LineMetrics metrics;
    if (text.isEmpty()) {
        return metrics;
    }
    long words = 0;
    qsizetype start = 0;
    const auto addLine = [&](qsizetype end, qsizetype breakLength) {
        words += lineWordCount(text.mid(start, end - start), breakLength > 0);
        metrics.lineRanges.push_back(
            {int(metrics.lineRanges.size()) + 1, {int(start), int(end - start + breakLength)}});
        start = end + breakLength;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            addLine(i, 2);
            ++i;
        } else if (c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator || c == QChar::LineSeparator) {
            addLine(i, 1);
        }
    }
    const bool endsWithBreak = start == text.size();
    if (!endsWithBreak) {
        addLine(text.size(), 0);
    }
    metrics.lineCount = int(metrics.lineRanges.size()) + (endsWithBreak ? 1 : 0);
    metrics.wordsPerLine = double(words) / metrics.lineCount;
    return metrics;
}

void countLinesFrom(const QTextDocument& document, QTextBlock from, const LineCounting& counting) {
    // Lays out whatever is still pending, however lines are counted: what is left would be laid
    // out in one go at the first paint or measure.
    document.documentLayout()->documentSize();
    std::vector<LineWords::Line> scratch;
    const std::size_t look = documentLook(document);
    for (QTextBlock block = from.isValid() ? from : document.firstBlock(); block.isValid();
         block = block.next()) {
        countBlock(document, block, counting, look, scratch);
    }
}

LineMetrics measureLines(const QTextDocument& document, const LineCounting& counting) {
    LineMetrics metrics;
    if (document.isEmpty()) {
        return metrics;
    }
    // Lays out whatever is still pending: counted otherwise too, Qt's own lines of a block often
    // serve.
    document.documentLayout()->documentSize();

    const QTextBlock last = document.lastBlock();
    // The empty paragraph after a final break has a line in Qt's layout but no characters.
    const bool endsWithBreak = last.length() == 1 && last != document.firstBlock();
    long words = 0;
    // The table of a long script takes tens of megabytes: sized from the kept counts at once
    // rather than grown (and copied) to up to twice that.
    std::size_t keptLines = 0;
    for (QTextBlock block = document.firstBlock(); block.isValid(); block = block.next()) {
        const auto* kept = static_cast<const LineWords*>(block.userData());
        keptLines += kept ? kept->lines.size() : 0;
    }
    metrics.lineRanges.reserve(keptLines);
    std::vector<LineWords::Line> scratch;
    const std::size_t look = documentLook(document);
    for (QTextBlock block = document.firstBlock(); block.isValid(); block = block.next()) {
        if (endsWithBreak && block == last) {
            break;
        }
        const int position = block.position();
        const bool hasBreak = block.next().isValid();
        const std::vector<LineWords::Line>& lines = countBlock(document, block, counting, look, scratch);
        const int count = int(lines.size());
        for (int i = 0; i < count; ++i) {
            const bool closesParagraph = hasBreak && i + 1 == count;
            words += lines[i].words;
            // The break counts as a character of the line, as it is one of the text.
            metrics.lineRanges.push_back(
                {int(metrics.lineRanges.size()) + 1,
                 {position + lines[i].start, lines[i].length + (closesParagraph ? 1 : 0)}});
        }
    }
    metrics.lineCount = int(metrics.lineRanges.size()) + (endsWithBreak ? 1 : 0);
    if (metrics.lineCount > 0) {
        metrics.wordsPerLine = double(words) / metrics.lineCount;
    }
    return metrics;
}

} // namespace cw::editor

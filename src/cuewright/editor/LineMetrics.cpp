#include "cuewright/editor/LineMetrics.h"

#include "cuewright/editor/TextBridge.h"
#include "platform/text/ParagraphLines.h"

#include <QAbstractTextDocumentLayout>
#include <QHash>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <optional>
#include <utility>
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
    // Kept on the first block of a paragraph held as several blocks (see paragraphBlocks): each
    // block's key (see blockKey), and the paragraph's length in the document's positions. The
    // lines' starts are then counted from the first block's.
    std::vector<std::size_t> keys;
    int documentLength = 0;
    // The lines are those of the paragraph's first blocks only (see countSomeLines): the last one
    // may go on into the next block.
    bool partial = false;

    // What the document reported changed in the block since its lines were counted (see
    // ChangeWatcher): its characters from changedFrom to changedTo (its positions now), `delta` more
    // of them than when counted. None while changedFrom < 0; all of it while `wholeChanged`.
    int changedFrom = -1;
    int changedTo = -1;
    int delta = 0;
    bool wholeChanged = false;
    int changedRevision = -1; // the block's when the last change was reported
    // The document's look the lines were broken in (see documentLook).
    std::size_t documentLook = 0;
    bool hasChanged() const { return wholeChanged || changedFrom >= 0; }
    void forgetChanges() {
        changedFrom = changedTo = -1;
        delta = 0;
        wholeChanged = false;
    }
    // Characters `removed` at `position` (in the block) replaced by `added`: the changed stretch
    // grows to hold them, and what lay after it moves along.
    void noteChange(int position, int removed, int added, int blockRevision) {
        changedRevision = blockRevision;
        if (changedFrom < 0) {
            changedFrom = position;
            changedTo = position + added;
            delta = added - removed;
            return;
        }
        const int to =
            changedTo > position ? std::max(changedTo + added - removed, position + added) : changedTo;
        changedFrom = std::min(changedFrom, position);
        changedTo = std::max(to, position + added);
        delta += added - removed;
    }
};

// Marks the counted blocks the document reports changed (text or formats), so that a count passes
// the others without hashing their runs again, and lays out again only the changed lines of one:
// a keystroke costs the lines it touched, not the text's length. Lives as a child of its document.
class ChangeWatcher final : public QObject {
public:
    explicit ChangeWatcher(QTextDocument& document)
        : QObject(&document)
        , document_(document)
        , blocks_(document.blockCount()) {
        setObjectName(QLatin1String(name));
        connect(&document, &QTextDocument::contentsChange, this, &ChangeWatcher::changed);
    }
    static constexpr const char* name = "cw-line-count-watcher";

    // Watches `document` from now on, once. Qt reports the changes of a document with a layout
    // only: it is given its own if it has none.
    static void watch(const QTextDocument& document) {
        if (!document.findChild<QObject*>(QLatin1String(name), Qt::FindDirectChildrenOnly)) {
            document.documentLayout();
            new ChangeWatcher(const_cast<QTextDocument&>(document)); // the document owns it
        }
    }

private:
    void changed(int position, int removed, int added) {
        const int blocks = document_.blockCount();
        // Blocks split or joined: what was where is not known.
        const bool regrouped = std::exchange(blocks_, blocks) != blocks;
        QTextBlock block = document_.findBlock(position);
        // Text added across a break would have added a block: with as many blocks the change lies
        // within one, unless it changed only formats across a break.
        if (!regrouped && block.isValid() && position + added < block.position() + block.length()) {
            if (auto* cache = static_cast<LineWords*>(block.userData())) {
                cache->noteChange(position - block.position(), removed, added, block.revision());
            }
            return;
        }
        for (; block.isValid() && block.position() <= position + added; block = block.next()) {
            if (auto* cache = static_cast<LineWords*>(block.userData())) {
                cache->wholeChanged = true;
            }
        }
    }

    QTextDocument& document_;
    int blocks_;
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

std::atomic<std::uint64_t> relaidCharacters{0}; // see relaidCharacterCount()

// The lines of `block` broken as the document's layout breaks them, with every font `scale`
// times its size. The lines are never positioned: no height accumulates. With `stretch`, only
// those of the block's characters from `stretch->first` to `stretch->second`, which must start
// and end at line separators (or the block's ends): a separator always ends a line, so the lines
// there are those of the whole block.
std::vector<LineSpan> scaledLines(const QTextDocument& document, const QTextBlock& block,
                                  const LineCounting& counting, double width,
                                  std::optional<std::pair<int, int>> stretch = std::nullopt) {
    const double scale = counting.fontScale;
    const QString text = block.text();
    const auto [from, to] = stretch.value_or(std::pair(0, int(text.size())));
    relaidCharacters.fetch_add(std::uint64_t(to - from), std::memory_order_relaxed);
    QTextLayout layout(stretch ? text.mid(from, to - from) : text,
                       scaledFont(document, block.charFormat(), scale));
    QList<QTextLayout::FormatRange> formats;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        const int start = std::max(fragment.position() - block.position(), from);
        const int end = std::min(fragment.position() - block.position() + fragment.length(), to);
        if (start >= end) {
            continue;
        }
        QTextCharFormat format = fragment.charFormat();
        format.setFont(scaledFont(document, format, scale));
        formats.append({start - from, end - start, format});
    }
    layout.setFormats(formats);
    QTextOption option = document.defaultTextOption();
    option.setAlignment(block.blockFormat().alignment());
    if (block.blockFormat().nonBreakableLines() || (counting.width <= 0 && document.textWidth() < 0)) {
        option.setWrapMode(QTextOption::NoWrap);
    }
    if (stretch && option.textDirection() == Qt::LayoutDirectionAuto) {
        // The direction the whole block's text would take.
        option.setTextDirection(text.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight);
    }
    layout.setTextOption(option);
    const double firstIndent =
        from > 0 ? 0.0 : block.blockFormat().textIndent() * (counting.width > 0 ? scale : 1.0);
    std::vector<LineSpan> lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(std::max(0.0, lines.empty() ? width - firstIndent : width));
        lines.push_back({from + line.textStart(), line.textLength()});
    }
    layout.endLayout();
    return lines;
}

// The lines of `block` after the changes its count reports (see LineWords::noteChange), from
// the lines counted before them: from the line separator before the changed characters to the
// first one after them laid out again, the lines before kept and those after moved along. None
// when the lines cannot be told so.
std::optional<std::vector<LineSpan>> changedLines(const QTextDocument& document, const QTextBlock& block,
                                                  const LineCounting& counting, double width,
                                                  const LineWords& cache) {
    const QString text = block.text();
    const int length = int(text.size());
    if (cache.wholeChanged || cache.changedFrom < 0 || cache.changedRevision != block.revision() ||
        cache.changedFrom > length || cache.lines.empty()) {
        return std::nullopt;
    }
    int from = cache.changedFrom;
    while (from > 0 && text[from - 1] != QChar::LineSeparator) {
        --from;
    }
    int to = std::clamp(cache.changedTo, from, length);
    while (to < length && text[to] != QChar::LineSeparator) {
        ++to;
    }
    to = std::min(to + 1, length); // the separator after the change ends the stretch
    std::vector<LineSpan> lines;
    lines.reserve(cache.lines.size() + 4);
    auto old = cache.lines.begin();
    for (; old != cache.lines.end() && old->start < from; ++old) {
        lines.push_back({old->start, old->length});
    }
    if ((from > 0) != !lines.empty() || (from > 0 && lines.back().start + lines.back().length != from)) {
        return std::nullopt;
    }
    // The old lines from the stretch's end on (none when it reaches the block's end).
    const auto after = to < length
                           ? std::lower_bound(old, cache.lines.end(), to - cache.delta,
                                              [](const LineWords::Line& l, int p) { return l.start < p; })
                           : cache.lines.end();
    if (after != cache.lines.end() && after->start != to - cache.delta) {
        return std::nullopt;
    }
    // The empty line after the stretch's last separator is the first of those after it.
    for (const LineSpan& line : scaledLines(document, block, counting, width, std::pair(from, to))) {
        if (line.start < to || to == length) {
            lines.push_back(line);
        }
    }
    for (auto it = after; it != cache.lines.end(); ++it) {
        lines.push_back({it->start + cache.delta, it->length});
    }
    // The lines follow one another over the whole block.
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].start != lines[i - 1].start + lines[i - 1].length) {
            return std::nullopt;
        }
    }
    if (lines.empty() || lines.back().start + lines.back().length != length) {
        return std::nullopt;
    }
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
                                 const LineCounting& counting, const LineWords* cache, std::size_t look,
                                 std::size_t documentLook) {
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
    if (cache && cache->keys.empty() && cache->revision == block.revision() && cache->look == look &&
        cache->size == countedSize(document, counting) && cache->width == width) {
        for (const LineWords::Line& line : cache->lines) {
            lines.push_back({line.start, line.length});
        }
        return lines;
    }
    if (unwrappedAtScale(document, block, counting, width, lines)) {
        return lines;
    }
    if (cache && cache->keys.empty() && cache->documentLook == documentLook &&
        cache->size == countedSize(document, counting) && cache->width == width) {
        if (auto changed = changedLines(document, block, counting, width, *cache)) {
            return std::move(*changed);
        }
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
                                               std::vector<LineWords::Line>& scratch,
                                               bool* counted = nullptr) {
    const bool hasBreak = block.next().isValid();
    auto* cache = static_cast<LineWords*>(block.userData());
    const bool own = counting.usesDocumentLayout();
    // A block the document reported no change of since its count (see ChangeWatcher) keeps its
    // lines, its runs not looked at again: a keystroke costs the blocks it changed.
    if (!own && cache && cache->keys.empty() && !cache->hasChanged() && cache->revision == block.revision() &&
        cache->hasBreak == hasBreak && cache->documentLook == documentLook &&
        cache->size == countedSize(document, counting) &&
        cache->width == lineWidth(document, block, counting)) {
        if (counted) {
            *counted = false;
        }
        return cache->lines;
    }
    // Qt's own lines follow every change of look by themselves.
    const std::size_t look = own ? 0 : blockLook(documentLook, block);
    const std::vector<LineSpan> spans = blockLines(document, block, counting, cache, look, documentLook);
    const int count = int(spans.size());
    const bool sameText =
        cache && cache->keys.empty() && cache->revision == block.revision() && cache->hasBreak == hasBreak;
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
    if (counted) {
        *counted = recounted;
    }
    if (!own) {
        ChangeWatcher::watch(document);
    }
    if (!recounted) {
        cache->forgetChanges();
        return cache->lines;
    }
    if (!cache) {
        cache = new LineWords; // the block owns it
        const_cast<QTextBlock&>(block).setUserData(cache);
    }
    cache->forgetChanges();
    cache->documentLook = documentLook;
    cache->revision = block.revision();
    cache->look = look;
    cache->hasBreak = hasBreak;
    cache->size = sizeKey;
    cache->width = widthKey;
    cache->lines.swap(lines);
    cache->keys.clear();
    return cache->lines;
}

// Whether `block` goes on with the paragraph of the block before it: the editor cut a long
// paragraph there, at a space or inside a run without one (see TextInsertion).
bool continuesParagraph(const QTextBlock& block) {
    return blockBreak(block).continuesParagraph();
}

// The blocks of the paragraph that `first` starts, when it goes on into further blocks; empty
// otherwise.
std::vector<QTextBlock> paragraphBlocks(const QTextBlock& first) {
    std::vector<QTextBlock> blocks;
    QTextBlock next = first.next();
    if (!next.isValid() || !continuesParagraph(next)) {
        return blocks;
    }
    blocks.push_back(first);
    for (; next.isValid() && continuesParagraph(next); next = next.next()) {
        blocks.push_back(next);
    }
    return blocks;
}

// A paragraph of several blocks is counted as the prompter lays it out: whole, as one text, with
// the break of a cut at a space as that space and the break of a cut inside a run as nothing.
// Laid out again only from a few lines before its first changed block, in windows of whole
// blocks, up to where its lines meet those counted before: a long text taken in piece by piece,
// or a keystroke in a long paragraph, costs about the characters that changed.
class ParagraphCount {
public:
    ParagraphCount(const QTextDocument& document, std::vector<QTextBlock> blocks,
                   const LineCounting& counting, std::size_t documentLook)
        : document_(document)
        , blocks_(std::move(blocks))
        , counting_(counting) {
        const int n = int(blocks_.size());
        parts_.reserve(n);
        for (int k = 0; k < n; ++k) {
            const QTextBlock& block = blocks_[k];
            Part part;
            part.length = block.length() - 1;
            if (k > 0) {
                const BlockBreak before = blockBreak(block);
                part.cut = before.standsForNoCharacter();
                part.breakCharacter = part.cut ? QChar() : before.characters.front();
            }
            if (k > 0) {
                const Part& before = parts_.back();
                part.documentStart = before.documentStart + before.length + 1;
                part.textStart = before.textStart + before.length + (part.cut ? 0 : 1);
            }
            keys_.push_back(
                qHashMulti(block.revision(), blockLook(documentLook, block), part.length, part.cut));
            parts_.push_back(part);
        }
        documentLength_ = parts_.back().documentStart + parts_.back().length;
        textLength_ = parts_.back().textStart + parts_.back().length;
        hasBreak_ = blocks_.back().next().isValid();
    }

    // Whether the lines kept on the first block are the paragraph's as it is.
    bool isCounted() const {
        const LineWords* cache = comparableCache();
        return cache && !cache->partial && cache->keys == keys_ && cache->hasBreak == hasBreak_;
    }

    // Counts the paragraph's lines from its first changed block on, as far as about `characters`
    // more (whole blocks) and no further: the lines up to there are kept on the first block, the
    // paragraph counted as if it ended there, and a later count goes on from them. `characters` is
    // lowered by those counted. True when the whole paragraph is counted.
    bool countWithin(int& characters) {
        const LineWords* cache = comparableCache();
        const std::size_t n = blocks_.size();
        std::size_t changed = 0;
        while (cache && changed < n && changed < cache->keys.size() &&
               cache->keys[changed] == keys_[changed]) {
            ++changed;
        }
        std::size_t end = std::min(changed, n - 1);
        int taken = parts_[end].length;
        while (end + 1 < n && taken < characters) {
            taken += parts_[++end].length + 1;
        }
        characters -= taken;
        if (end + 1 < n) {
            blocks_.resize(end + 1);
            parts_.resize(end + 1);
            keys_.resize(end + 1);
            documentLength_ = parts_.back().documentStart + parts_.back().length;
            textLength_ = parts_.back().textStart + parts_.back().length;
            partial_ = true;
        }
        count();
        return !partial_;
    }

    const std::vector<LineWords::Line>& count() {
        const QTextBlock& first = blocks_.front();
        auto* cache = static_cast<LineWords*>(first.userData());
        const double size = countedSize(document_, counting_);
        const double width = lineWidth(document_, first, counting_);
        const bool comparable = comparableCache() != nullptr;
        if (comparable && !partial_ && isCounted()) {
            return cache->lines;
        }
        const std::vector<LineWords::Line> none;
        const std::vector<LineWords::Line>& old = comparable ? cache->lines : none;
        // Only a paragraph counted whole meets its old lines again after a change: lines counted
        // up to a block reach no further.
        const bool sameEnd = comparable && cache->hasBreak == hasBreak_ && !cache->partial && !partial_;
        std::vector<Start> starts =
            layOut(old, comparable ? cache->keys : std::vector<std::size_t>{}, sameEnd,
                   comparable && cache->partial, comparable ? cache->documentLength : 0, width);
        std::vector<LineWords::Line> lines;
        lines.reserve(starts.size());
        for (std::size_t i = 0; i < starts.size(); ++i) {
            const int end = i + 1 < starts.size() ? starts[i + 1].start : documentLength_;
            int words = starts[i].words;
            if (words < 0) {
                const int from = textPosition(starts[i].start);
                const int to = i + 1 < starts.size() ? textPosition(end) : textLength_;
                words = lineWordCount(QStringView(text_).mid(from - base_, to - from),
                                      hasBreak_ && i + 1 == starts.size());
            }
            lines.push_back({starts[i].start, end - starts[i].start, words});
        }
        if (!cache) {
            cache = new LineWords; // the block owns it
            const_cast<QTextBlock&>(first).setUserData(cache);
        }
        cache->forgetChanges();
        cache->revision = -1;
        cache->look = 0;
        cache->hasBreak = hasBreak_;
        cache->size = size;
        cache->width = width;
        cache->lines.swap(lines);
        cache->keys = keys_;
        cache->documentLength = documentLength_;
        cache->partial = partial_;
        return cache->lines;
    }

    const QTextBlock& last() const { return blocks_.back(); }

private:
    struct Part {
        int documentStart = 0; // from the first block's position
        int textStart = 0;     // in the paragraph's text
        int length = 0;
        bool cut = false;     // after a cut that stands for no character
        QChar breakCharacter; // else the space it was cut at
    };
    // A line's start from the first block's position, with its words once known (-1 before).
    struct Start {
        int start = 0;
        int words = -1;
    };

    // The part holding the document position `position` (from the first block's).
    int partAtDocument(int position) const {
        const auto after = std::upper_bound(parts_.begin(), parts_.end(), position,
                                            [](int p, const Part& part) { return p < part.documentStart; });
        return int(after - parts_.begin()) - 1;
    }
    int textPosition(int documentPosition) const {
        const Part& part = parts_[std::size_t(partAtDocument(documentPosition))];
        return part.textStart +
               std::min(documentPosition - part.documentStart, part.length + (part.cut ? 0 : 1));
    }
    int documentPosition(int textPosition) const {
        const auto after = std::upper_bound(parts_.begin(), parts_.end(), textPosition,
                                            [](int p, const Part& part) { return p < part.textStart; });
        const Part& part = *(after - 1);
        return part.documentStart + (textPosition - part.textStart);
    }

    // Appends block k's text to text_, with its formats and the space of a cut after it.
    void append(int k) {
        const QTextBlock& block = blocks_[std::size_t(k)];
        const double scale = counting_.fontScale;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            QTextCharFormat format = fragment.charFormat();
            format.setFont(scaledFont(document_, format, scale));
            formats_.append(
                {int(text_.size()) + fragment.position() - block.position(), fragment.length(), format});
        }
        text_ += block.text();
        if (k + 1 < int(blocks_.size()) && !parts_[std::size_t(k) + 1].cut) {
            QTextCharFormat format = blocks_[std::size_t(k) + 1].charFormat();
            format.setFont(scaledFont(document_, format, scale));
            formats_.append({int(text_.size()), 1, format});
            text_ += parts_[std::size_t(k) + 1].breakCharacter;
        }
    }

    std::unique_ptr<QTextLayout> makeLayout(platform::TextRange range) const {
        auto layout = std::make_unique<QTextLayout>(
            text_.mid(range.location, range.length),
            scaledFont(document_, blocks_.front().charFormat(), counting_.fontScale));
        QList<QTextLayout::FormatRange> formats;
        const auto from =
            std::upper_bound(formats_.begin(), formats_.end(), range.location,
                             [](int p, const QTextLayout::FormatRange& f) { return p < f.start + f.length; });
        for (auto it = from; it != formats_.end() && it->start < range.end(); ++it) {
            const int start = std::max(it->start, range.location);
            const int end = std::min(it->start + it->length, range.end());
            formats.append({start - range.location, end - start, it->format});
        }
        layout->setFormats(formats);
        QTextOption option = document_.defaultTextOption();
        option.setAlignment(blocks_.front().blockFormat().alignment());
        layout->setTextOption(option);
        return layout;
    }

    // The lines kept on the first block, when they were counted in the same layout (perhaps of
    // other text).
    const LineWords* comparableCache() const {
        const auto* cache = static_cast<const LineWords*>(blocks_.front().userData());
        const bool comparable = cache && !cache->keys.empty() && !cache->lines.empty() &&
                                cache->size == countedSize(document_, counting_) &&
                                cache->width == lineWidth(document_, blocks_.front(), counting_);
        return comparable ? cache : nullptr;
    }

    // The starts of the paragraph's lines, those of `old` (counted for blocks with the keys
    // `oldKeys`, up to the end of the paragraph or, `oldPartial`, of those blocks) kept where
    // they hold.
    std::vector<Start> layOut(const std::vector<LineWords::Line>& old,
                              const std::vector<std::size_t>& oldKeys, bool sameEnd, bool oldPartial,
                              int oldLength, double width) {
        const int n = int(parts_.size());
        const int common = int(std::min(oldKeys.size(), keys_.size()));
        int prefix = 0;
        while (prefix < common && oldKeys[std::size_t(prefix)] == keys_[std::size_t(prefix)]) {
            ++prefix;
        }
        // Blocks only added after the old ones, all still there (a text going in piece by piece).
        const bool appended =
            prefix == int(oldKeys.size()) && prefix > 0 && prefix < n && (sameEnd || oldPartial);
        prefix = std::min(prefix, n - 1); // the last block's lines close the paragraph
        int suffix = 0;
        while (sameEnd && suffix < common - prefix &&
               oldKeys[oldKeys.size() - 1 - std::size_t(suffix)] ==
                   keys_[keys_.size() - 1 - std::size_t(suffix)]) {
            ++suffix;
        }
        // A line's break depends on the word after it, which may reach into the changed block: a
        // few lines before it are laid out again. Blocks only added after the old ones leave every
        // line but the last as it was: the word after a line only grows, and still does not fit.
        const int changed = parts_[std::size_t(prefix)].documentStart;
        const auto before = std::lower_bound(old.begin(), old.end(), changed,
                                             [](const LineWords::Line& l, int p) { return l.start < p; });
        const std::size_t kept = std::size_t(std::max(0, int(before - old.begin()) - (appended ? 1 : 3)));
        std::vector<Start> starts;
        for (std::size_t i = 0; i < kept; ++i) {
            starts.push_back({old[i].start, old[i].words});
        }
        const int sameFrom = suffix > 0 ? parts_[std::size_t(n - suffix)].documentStart : documentLength_ + 1;
        const int shift = documentLength_ - oldLength;

        int at = textPosition(kept < old.size() && kept > 0 ? old[kept].start : 0);
        int next = partAtDocument(documentPosition(at));
        base_ = parts_[std::size_t(next)].textStart;
        text_.clear();
        formats_.clear();
        if (counting_.width <= 0 && document_.textWidth() < 0) {
            starts.push_back({documentPosition(at)}); // not wrapped: one line
            while (next < n) {
                append(next++);
            }
            return starts;
        }
        static constexpr int windowCharacters = 1 << 13;
        // Room for a few lines as long as the longest of the last kept and the first laid out again
        // (see below).
        const auto roomFor = [](int longest) { return std::max(windowCharacters, 4 * longest); };
        int longestKept = 0;
        for (std::size_t i = kept > 3 ? kept - 3 : 0; i <= kept && i < old.size(); ++i) {
            longestKept = std::max(longestKept, old[i].length);
        }
        int window = roomFor(longestKept);
        // About how long a line is, for the first window of a word too long for one.
        int lineLength = longestKept;
        while (true) {
            while (next < n && base_ + int(text_.size()) < at + window) {
                append(next++);
            }
            const bool whole = next == n;
            std::vector<platform::TypesetLine> lines;
            const int end = base_ + int(text_.size());
            platform::breakParagraphIntoLines([this](platform::TextRange r) { return makeLayout(r); }, text_,
                                              {at - base_, end - at}, 0, width, lines, {}, lineLength);
            // Unless the window reaches the paragraph's end, its last line may go on after it.
            const int taken = whole ? int(lines.size()) : int(lines.size()) - 1;
            if (taken <= 0 && !whole) {
                // A line is longer than the window: room for a few such lines.
                lineLength = std::max(lineLength, lines.back().range.length);
                window = std::max(2 * window, roomFor(lineLength));
                continue;
            }
            for (int i = 0; i < taken; ++i) {
                const int start = documentPosition(base_ + lines[std::size_t(i)].range.location);
                if (start >= sameFrom) {
                    // From here on the text is as it was when its lines were counted.
                    const auto same =
                        std::lower_bound(old.begin(), old.end(), start - shift,
                                         [](const LineWords::Line& l, int p) { return l.start < p; });
                    if (same != old.end() && same->start == start - shift) {
                        for (auto it = same; it != old.end(); ++it) {
                            starts.push_back({it->start + shift, it->words});
                        }
                        return starts;
                    }
                }
                starts.push_back({start});
            }
            if (whole) {
                return starts;
            }
            at = base_ + lines[std::size_t(taken)].range.location;
            // Room for a few lines as long as these: lines of tens of thousands of characters (a
            // letter under a thousand marks) are then not each laid out from ever larger windows.
            int longest = 0;
            for (int i = 0; i < taken; ++i) {
                longest = std::max(longest, lines[std::size_t(i)].range.length);
            }
            window = roomFor(longest);
            lineLength = longest;
        }
    }

    const QTextDocument& document_;
    std::vector<QTextBlock> blocks_;
    const LineCounting& counting_;
    std::vector<Part> parts_;
    std::vector<std::size_t> keys_;
    int documentLength_ = 0;
    int textLength_ = 0;
    bool hasBreak_ = false;
    bool partial_ = false; // the paragraph's first blocks only (countWithin)
    // The paragraph's text from base_ on, as far as it was laid out, with its formats.
    QString text_;
    int base_ = 0;
    QList<QTextLayout::FormatRange> formats_;
};

} // namespace

std::uint64_t relaidCharacterCount() {
    return relaidCharacters.load(std::memory_order_relaxed);
}

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
        } else if (platform::isParagraphEnd(c) || c == QChar::LineSeparator) {
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
    QTextBlock block = from.isValid() ? from : document.firstBlock();
    // A paragraph of several blocks is counted from its first.
    while (!counting.usesDocumentLayout() && block.previous().isValid() && continuesParagraph(block)) {
        block = block.previous();
    }
    for (; block.isValid(); block = block.next()) {
        if (std::vector<QTextBlock> blocks;
            !counting.usesDocumentLayout() && !(blocks = paragraphBlocks(block)).empty()) {
            ParagraphCount paragraph(document, std::move(blocks), counting, look);
            paragraph.count();
            block = paragraph.last();
            continue;
        }
        countBlock(document, block, counting, look, scratch);
    }
}

bool countSomeLines(const QTextDocument& document, const LineCounting& counting, int characters) {
    if (counting.usesDocumentLayout()) {
        countLinesFrom(document, {}, counting);
        return true;
    }
    std::vector<LineWords::Line> scratch;
    const std::size_t look = documentLook(document);
    for (QTextBlock block = document.firstBlock(); block.isValid(); block = block.next()) {
        if (characters <= 0) {
            return false;
        }
        if (std::vector<QTextBlock> blocks = paragraphBlocks(block); !blocks.empty()) {
            const QTextBlock last = blocks.back();
            ParagraphCount paragraph(document, std::move(blocks), counting, look);
            if (!paragraph.isCounted() && !paragraph.countWithin(characters)) {
                return false;
            }
            block = last;
            continue;
        }
        bool counted = false;
        countBlock(document, block, counting, look, scratch, &counted);
        characters -= counted ? block.length() : 0;
    }
    return true;
}

LineMetrics measureLines(const QTextDocument& document, const LineCounting& counting) {
    LineMetrics metrics;
    if (document.isEmpty()) {
        return metrics;
    }
    // Lays out whatever is still pending where lines are Qt's own. Counted otherwise, a block's
    // lines laid out by Qt serve where they are (a text restyled whole is laid out by the view a
    // part at a time, see ScriptTextView::layOutInParts), and the others are laid out here.
    if (counting.usesDocumentLayout()) {
        document.documentLayout()->documentSize();
    }

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
        std::optional<ParagraphCount> paragraph;
        if (std::vector<QTextBlock> blocks;
            !counting.usesDocumentLayout() && !(blocks = paragraphBlocks(block)).empty()) {
            paragraph.emplace(document, std::move(blocks), counting, look);
        }
        const std::vector<LineWords::Line>& lines =
            paragraph ? paragraph->count() : countBlock(document, block, counting, look, scratch);
        if (paragraph) {
            block = paragraph->last(); // its lines' starts are counted from the first block's
        }
        const bool hasBreak = block.next().isValid();
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

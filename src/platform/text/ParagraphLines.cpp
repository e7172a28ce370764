#include "platform/text/ParagraphLines.h"

#include "platform/text/AttributedString.h"

#include <QTextLayout>

#include <algorithm>
#include <atomic>
#include <memory>
#include <utility>

namespace platform {

namespace {

std::atomic<std::uint64_t> scanCount{0};

// Words shorter than this are left to QTextLayout: its cost for them stays small.
constexpr int longRunLength = 128;
// The fewest characters a window of a long run is typeset from.
constexpr int minimumWindow = 64;

// A window a little longer than a line of `line` characters: it takes one line while shaping few
// characters past it (a letter under a thousand marks makes lines of tens of thousands).
int windowAfter(int line) {
    return std::max(minimumWindow, line + line / 4 + minimumWindow);
}

// Paragraph ends count for runs of short paragraphs laid out together, their ends as line separators.
bool isBreakingSpace(QChar c) {
    return c == u' ' || c == u'\t' || c == QChar::LineSeparator || c == QChar(0x200B) || isParagraphEnd(c);
}

// Runs of at least longRunLength characters without a breaking space, in text order.
std::vector<TextRange> longRuns(const QString& s, TextRange content) {
    std::vector<TextRange> runs;
    int start = content.location;
    for (int i = content.location; i <= content.end(); ++i) {
        if (i < content.end() && !isBreakingSpace(s[i])) {
            continue;
        }
        if (i - start >= longRunLength) {
            runs.push_back({start, i - start});
        }
        start = i + 1;
    }
    return runs;
}

// Lays out the paragraph's parts and appends their lines.
class ParagraphBreaker {
public:
    ParagraphBreaker(const ParagraphLayoutMaker& make, const QString& text, double width,
                     std::vector<TypesetLine>& lines, const LaidOutPart& keep, int lineLength)
        : make_(make)
        , text_(text)
        , width_(width > 0 ? width : 0)
        , lines_(lines)
        , keep_(keep)
        , firstWindow_(lineLength > 0 ? windowAfter(lineLength) : minimumWindow) {}
    ~ParagraphBreaker() { endProbe(probe_); }
    ParagraphBreaker(const ParagraphBreaker&) = delete;
    ParagraphBreaker& operator=(const ParagraphBreaker&) = delete;

    // All lines of `range` from one layout; false when a line made no progress.
    bool layOut(TextRange range) {
        // The last probe, when it was of this range, already holds the first line; another stays
        // for breakRun().
        const bool probed =
            probe_.layout && probe_.range.location == range.location && probe_.range.length == range.length;
        Probe probe = probed ? takeProbe() : Probe{};
        if (!probed) {
            probe.layout = make_(range);
            probe.layout->beginLayout();
        }
        std::unique_ptr<QTextLayout> layout = std::move(probe.layout);
        ScanCounter counter(text_, range.end());
        double y = 0;
        bool progressed = true;
        for (QTextLine line = probed ? probe.line : layout->createLine(); line.isValid();
             line = layout->createLine()) {
            if (!probed || line.lineNumber() > 0) {
                counter.lineAt(range.location + line.textStart());
                line.setLineWidth(width_);
            }
            line.setPosition(QPointF(0, y));
            y += append(line, range.location);
            if (line.textLength() == 0 && range.length > 0) {
                progressed = false; // never loop on a degenerate width
                break;
            }
        }
        layout->endLayout();
        finish(std::move(layout), y);
        return progressed;
    }

    // Whether the run fits a line of its own. When it does not, the length of its first line is kept
    // for breakRun(), which starts there.
    bool fitsOneLine(TextRange run) {
        firstLineLength_ = 0;
        endProbe(probe_);
        for (int window = firstWindow_;; window *= 2) {
            const int length = std::min(run.length, window);
            auto probe = make_({run.location, length});
            probe->beginLayout();
            const QTextLine line = firstLine(*probe, run.location, length);
            const int taken = line.textLength();
            if (taken >= run.length || taken < length) {
                firstLineLength_ = taken < run.length ? taken : 0;
                // Kept: its line is the run's first (see breakRun), or the whole run (see layOut).
                probe_ = {std::move(probe), {run.location, length}, line};
                return taken >= run.length;
            }
            probe->endLayout();
        }
    }

    // The full lines of a run too wide for one line, each typeset from a window of the run a few lines
    // long. Returns where its rest starts, which fits a line and shares it with what follows; -1 when
    // a line made no progress.
    int breakRun(TextRange run) {
        int start = run.location;
        // A line of a run is about as long as the one before it.
        int window = firstLineLength_ > 0 ? windowAfter(firstLineLength_) : minimumWindow;
        while (true) {
            const int rest = run.end() - start;
            int length = std::min(rest, window);
            // The probe that found the run too wide already holds its first line.
            Probe kept = takeProbe();
            if (kept.layout && kept.range.location == start && firstLineLength_ > 0) {
                length = kept.range.length;
            } else {
                endProbe(kept);
                kept.layout = make_({start, length});
                kept.layout->beginLayout();
                kept.line = firstLine(*kept.layout, start, length);
            }
            std::unique_ptr<QTextLayout> probe = std::move(kept.layout);
            QTextLine line = kept.line;
            const int taken = line.textLength();
            if (taken >= rest || taken >= length || taken == 0) {
                if (taken >= rest) {
                    // Kept: the rest's line, which layOut() may take whole.
                    probe_ = {std::move(probe), {start, length}, line};
                    return start;
                }
                probe->endLayout();
                if (taken == 0) {
                    return -1;
                }
                window *= 2; // the window ended before the line did
                continue;
            }
            line.setPosition(QPointF(0, 0));
            const double height = append(line, start);
            probe->endLayout();
            finish(std::move(probe), height);
            start += taken;
            window = windowAfter(taken);
        }
    }

private:
    // Counts, for each line start, the characters up to the next breaking space or the layout's end.
    class ScanCounter {
    public:
        ScanCounter(const QString& text, int end)
            : text_(text)
            , end_(end) {}
        void lineAt(int start) {
            next_ = std::max(next_, start);
            while (next_ < end_ && !isBreakingSpace(text_[next_])) {
                ++next_;
            }
            scanCount.fetch_add(static_cast<std::uint64_t>(next_ - start), std::memory_order_relaxed);
        }

    private:
        const QString& text_;
        int end_;
        int next_ = 0;
    };

    // The first line of a layout of `length` characters from `start`, between beginLayout and endLayout.
    QTextLine firstLine(QTextLayout& layout, int start, int length) {
        ScanCounter counter(text_, start + length);
        counter.lineAt(start);
        QTextLine line = layout.createLine();
        line.setLineWidth(width_);
        return line;
    }

    double append(const QTextLine& line, int offset) {
        TypesetLine typeset;
        typeset.range = {offset + line.textStart(), line.textLength()};
        typeset.ascent = line.ascent();
        typeset.descent = line.descent();
        typeset.leading = line.leading();
        typeset.height = typeset.ascent + typeset.descent + typeset.leading;
        typeset.width = line.naturalTextWidth();
        lines_.push_back(typeset);
        return typeset.height;
    }

    void finish(std::unique_ptr<QTextLayout> layout, double height) {
        if (keep_) {
            keep_(std::move(layout), top_, height);
        }
        top_ += height;
    }

    // A layout of `range` with its first line made and not yet ended, kept for the next step.
    struct Probe {
        std::unique_ptr<QTextLayout> layout;
        TextRange range;
        QTextLine line;
    };
    Probe takeProbe() { return std::exchange(probe_, Probe{}); }
    static void endProbe(Probe& probe) {
        if (probe.layout) {
            probe.layout->endLayout();
            probe.layout.reset();
        }
    }

    const ParagraphLayoutMaker& make_;
    const QString& text_;
    double width_;
    std::vector<TypesetLine>& lines_;
    const LaidOutPart& keep_;
    double top_ = 0;
    // The first line of the run fitsOneLine() last found too wide, 0 when none.
    int firstLineLength_ = 0;
    // The first window fitsOneLine() tries: one line long when the caller knows about how long.
    int firstWindow_;
    Probe probe_;
};

} // namespace

bool isParagraphEnd(QChar c) {
    return c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator;
}

void forEachParagraph(const AttributedString& text, const std::function<void(TextRange, int)>& visit) {
    const QString& s = text.string();
    const int length = text.length();
    int start = 0;
    while (start < length) {
        int end = start;
        while (end < length && !isParagraphEnd(s[end])) {
            ++end;
        }
        int terminator = 0;
        if (end < length) {
            terminator = (s[end] == u'\r' && end + 1 < length && s[end + 1] == u'\n') ? 2 : 1;
        }
        visit(TextRange{start, end - start}, terminator);
        start = end + terminator;
    }
}

void breakParagraphIntoLines(const ParagraphLayoutMaker& make, const QString& text, TextRange content,
                             int terminatorLength, double width, std::vector<TypesetLine>& lines,
                             const LaidOutPart& keep, int lineLength) {
    const std::size_t firstLine = lines.size();
    ParagraphBreaker breaker(make, text, width, lines, keep, lineLength);
    int start = content.location;
    bool progressed = true;
    for (const TextRange run : longRuns(text, content)) {
        if (breaker.fitsOneLine(run)) {
            continue; // QTextLayout places it among its neighbours
        }
        // Too wide for any line, the run starts a line of its own: what comes before it is laid out
        // alone, and the run's last piece shares its line with what follows.
        if (run.location > start && !breaker.layOut({start, run.location - start})) {
            progressed = false;
            break;
        }
        start = breaker.breakRun(run);
        if (start < 0) {
            progressed = false;
            break;
        }
    }
    if (progressed) {
        breaker.layOut({start, content.end() - start});
    }
    if (lines.size() == firstLine) {
        lines.push_back({{content.location, 0}, 0, 0, 0, 0, 0});
    }
    // Lines cover the paragraph exactly: stretch the last one over any rest and the terminator.
    TypesetLine& last = lines.back();
    last.range.length = content.end() + terminatorLength - last.range.location;
}

std::uint64_t lineBreakScanCount() {
    return scanCount.load(std::memory_order_relaxed);
}

} // namespace platform

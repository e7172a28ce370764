#include "cuewright/prompter/PrompterTextLayout.h"

#include "cuewright/model/TextUtils.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/layers/LayerPainting.h"
#include "platform/text/ParagraphLines.h"
#include "platform/text/QtTextFormat.h"
#include "platform/text/TextAttributes.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>

namespace cw {

using platform::AttributedString;
using platform::TextRange;
using platform::TypesetLine;

namespace {

// Fonts in layer points: at 72 dots per inch one point is one pixel of the metrics device.
QFont layerFont(const platform::Font& font) {
    QFont qfont(font.family);
    qfont.setPointSizeF(font.pointSize > 0 ? font.pointSize : 12);
    qfont.setBold(font.bold);
    qfont.setItalic(font.italic);
    return qfont;
}

QList<QTextLayout::FormatRange> layerFormats(const AttributedString& text, TextRange range) {
    QList<QTextLayout::FormatRange> formats;
    for (const auto& run : text.runs(range)) {
        QTextLayout::FormatRange format;
        format.start = run.range.location - range.location;
        format.length = run.range.length;
        format.format = platform::toCharFormat(run.attributes);
        if (run.attributes.font) {
            // Only the face and size: the underline the format already has stays.
            format.format.setFont(layerFont(*run.attributes.font),
                                  QTextCharFormat::FontPropertiesSpecifiedOnly);
        }
        formats.push_back(format);
    }
    return formats;
}

// A layout costs as much as hundreds of characters: short paragraphs that look alike share one,
// their breaks given to it as line separators, which end a line as a paragraph does. Shorter
// than any word the line breaker takes apart itself; justified lines are left alone, as
// QTextLayout stretches a line ended by a separator.
constexpr int shortParagraph = 100;
constexpr int paragraphsPerLayout = 128;

bool alike(const platform::Attributes& a, const platform::Attributes& b) {
    return a.font == b.font && a.paragraphStyle == b.paragraphStyle &&
           (!a.paragraphStyle || a.paragraphStyle->alignment != platform::ParagraphAlignment::justified);
}

// Each paragraph in turn, or run of short paragraphs that may share a layout, with the length of
// the last one's terminator; the breaks inside a run are one character each. Goes on from where
// it stopped, so that a text can be laid out a part at a time.
class LayoutRanges {
public:
    explicit LayoutRanges(const AttributedString& text)
        : text_(text) {}

    // The next range and its terminator; false after the last.
    bool next(TextRange& range, int& terminator) {
        while (!ready_) {
            if (!readParagraph()) {
                if (!run_) {
                    return false;
                }
                flush();
            }
        }
        range = ready_->first;
        terminator = ready_->second;
        ready_ = std::exchange(waiting_, std::nullopt);
        return true;
    }

private:
    using Entry = std::pair<TextRange, int>;

    void flush() {
        if (run_) {
            ready_ = Entry{*run_, runTerminator_};
            run_.reset();
        }
    }

    // Takes in one more paragraph; false at the end of the text. Every call that returns true
    // moves past at least a terminator or the last paragraph's text.
    bool readParagraph() {
        const QString& s = text_.string();
        const int length = text_.length();
        if (position_ >= length) {
            return false;
        }
        int end = position_;
        while (end < length && !platform::isParagraphEnd(s[end])) {
            ++end;
        }
        int terminator = 0;
        if (end < length) {
            terminator = (s[end] == u'\r' && end + 1 < length && s[end + 1] == u'\n') ? 2 : 1;
        }
        const TextRange content{position_, end - position_};
        position_ = end + terminator;
        if (content.length >= shortParagraph) {
            flush();
            (ready_ ? waiting_ : ready_) = Entry{content, terminator};
            return true;
        }
        platform::Attributes look = text_.attributes(content.location);
        if (run_ && runTerminator_ == 1 && paragraphs_ < paragraphsPerLayout && alike(runLook_, look)) {
            run_->length = content.end() - run_->location;
            runTerminator_ = terminator;
            ++paragraphs_;
            return true;
        }
        flush();
        run_ = content;
        runTerminator_ = terminator;
        paragraphs_ = 1;
        runLook_ = std::move(look);
        return true;
    }

    const AttributedString& text_;
    int position_ = 0;
    std::optional<TextRange> run_;
    int runTerminator_ = 0;
    int paragraphs_ = 0;
    platform::Attributes runLook_;
    std::optional<Entry> ready_;
    std::optional<Entry> waiting_; // a long paragraph read right after a run it ended
};

void forEachLayoutRange(const AttributedString& text, const std::function<void(TextRange, int)>& visit) {
    LayoutRanges ranges(text);
    TextRange range;
    int terminator = 0;
    while (ranges.next(range, terminator)) {
        visit(range, terminator);
    }
}

// Lays out one paragraph, or a run of them (see forEachLayoutRange), and appends its lines; hands
// its layouts to `keep` when given, their lines positioned from the paragraph's top.
void layOutParagraph(const AttributedString& text, TextRange content, int terminatorLength, double width,
                     std::optional<Qt::Alignment> alignment, std::vector<TypesetLine>& lines,
                     const platform::LaidOutPart& keep = {}) {
    const platform::Attributes first = text.attributes(content.location);
    const QFont font = first.font ? layerFont(*first.font) : layerFont(platform::Font{});
    QTextOption option = platform::toTextOption(first.paragraphStyle.value_or(platform::ParagraphStyle()));
    option.setUseDesignMetrics(true);
    if (alignment) {
        option.setAlignment(*alignment);
    }
    const auto make = [&](TextRange range) {
        QString part = text.string().mid(range.location, range.length);
        std::replace_if(part.begin(), part.end(), platform::isParagraphEnd, QChar(QChar::LineSeparator));
        auto layout = std::make_unique<QTextLayout>(part, font, platform::layers::layerMetricsDevice());
        layout->setTextOption(option);
        if (range.length > 0) {
            layout->setFormats(layerFormats(text, range));
        }
        layout->setCacheEnabled(static_cast<bool>(keep));
        return layout;
    };
    platform::breakParagraphIntoLines(make, text.string(), content, terminatorLength, width, lines, keep);
}

} // namespace

std::vector<TypesetLine> LayerTypesetter::typeset(const AttributedString& text, double width) const {
    CW_DCHECK_MAIN_THREAD();
    std::vector<TypesetLine> lines;
    forEachLayoutRange(text, [&](TextRange content, int terminator) {
        layOutParagraph(text, content, terminator, width, std::nullopt, lines);
    });
    return lines;
}

std::vector<TypesetLine> MemoTypesetter::typeset(const AttributedString& text, double width) const {
    for (const Entry& entry : entries_) {
        if (entry.width == width && entry.text == text) {
            return entry.lines;
        }
    }
    ++passes_;
    Entry entry{text, width, inner_.typeset(text, width)};
    if (entries_.size() == 2) {
        entries_.erase(entries_.begin());
    }
    entries_.push_back(std::move(entry));
    return entries_.back().lines;
}

PrompterTextMetrics measurePrompterText(const AttributedString& fitted, double width,
                                        const platform::Typesetter& typesetter, double maxChunkHeight) {
    CW_DCHECK_MAIN_THREAD();
    MemoTypesetter memo(typesetter);
    PrompterTextMetrics metrics;
    metrics.graphicLineHeight = TextUtils::maxLineHeight(fitted, width, memo);
    metrics.lineOffsets = TextUtils::lineOffsets(fitted, width, memo);
    metrics.totalHeight = TextUtils::totalTextHeight(fitted, width, memo);
    {
        const auto lines = memo.typeset(fitted, width);
        double top = 0;
        for (const TypesetLine& line : lines) {
            metrics.lineStarts.push_back(line.range.location);
            metrics.lineTops.push_back(top);
            top += line.height;
        }
        const QString& string = fitted.string();
        if (!string.isEmpty() && platform::isParagraphEnd(string.back())) {
            metrics.lineStarts.push_back(int(string.size()));
            metrics.lineTops.push_back(top);
        }
    }
    if (metrics.totalHeight <= maxChunkHeight) {
        metrics.chunks.push_back(
            {fitted, QSizeF(width, metrics.totalHeight), TextUtils::exactTextHeight(fitted, width, memo)});
        return metrics;
    }
    const auto ranges = TextUtils::lineChunkRanges(fitted, maxChunkHeight, width, memo);
    const auto lines = memo.typeset(fitted, width);
    std::size_t line = 0;
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        const TextRange range = ranges[i];
        double rounded = 0;
        double exact = 0;
        while (line < lines.size() && lines[line].range.location < range.end()) {
            rounded += std::ceil(lines[line].height);
            exact += lines[line].height;
            ++line;
        }
        TextChunk chunk{fitted.substring(range), QSizeF(width, std::ceil(rounded) + 1), exact};
        if (i + 1 == ranges.size()) {
            // The last chunk also carries an empty line after a closing line break.
            chunk.advance = TextUtils::exactTextHeight(chunk.text, width, typesetter);
            chunk.boundingSize.setHeight(TextUtils::totalTextHeight(chunk.text, width, typesetter));
        }
        metrics.chunks.push_back(std::move(chunk));
    }
    return metrics;
}

// The lines already typeset for one text at one width; any other text or width is typeset anew.
class PresetTypesetter final : public platform::Typesetter {
public:
    PresetTypesetter(const AttributedString& text, double width, const std::vector<TypesetLine>& lines)
        : text_(text)
        , width_(width)
        , lines_(lines) {}
    std::vector<TypesetLine> typeset(const AttributedString& text, double width) const override {
        if (width == width_ && text.length() == text_.length() && text == text_) {
            return lines_;
        }
        return LayerTypesetter().typeset(text, width);
    }

private:
    const AttributedString& text_;
    double width_;
    const std::vector<TypesetLine>& lines_;
};

class PrompterTextMeasurement::Ranges : public LayoutRanges {
public:
    using LayoutRanges::LayoutRanges;
};

PrompterTextMeasurement::PrompterTextMeasurement(AttributedString fitted, double width,
                                                 const platform::Typesetter* typesetter,
                                                 double maxChunkHeight)
    : text_(std::move(fitted))
    , width_(width)
    , typesetter_(typesetter)
    , maxChunkHeight_(maxChunkHeight)
    , ranges_(std::make_unique<Ranges>(text_)) {}

PrompterTextMeasurement::~PrompterTextMeasurement() = default;

bool PrompterTextMeasurement::step(int characters) {
    CW_DCHECK_MAIN_THREAD();
    if (metrics_) {
        return true;
    }
    if (typesetter_ != nullptr) {
        metrics_ = measurePrompterText(text_, width_, *typesetter_, maxChunkHeight_);
        measured_ = text_.length();
        return true;
    }
    if (measured_ >= text_.length() && ranges_ == nullptr) {
        // Every line is in: the metrics take a step of their own.
        metrics_ =
            measurePrompterText(text_, width_, PresetTypesetter(text_, width_, lines_), maxChunkHeight_);
        lines_ = {};
        return true;
    }
    const std::int64_t goal = std::int64_t(measured_) + std::max(1, characters);
    TextRange range;
    int terminator = 0;
    while (measured_ < goal) {
        if (!ranges_->next(range, terminator)) {
            measured_ = text_.length();
            break;
        }
        layOutParagraph(text_, range, terminator, width_, std::nullopt, lines_);
        measured_ = range.end() + terminator;
    }
    if (measured_ >= text_.length()) {
        ranges_.reset();
    }
    return false;
}

double lineTableOffset(const std::vector<double>& tops, double end, double progress) {
    if (tops.empty() || !std::isfinite(progress)) {
        return 0;
    }
    const auto count = static_cast<double>(tops.size());
    const double position = std::clamp(progress, 0.0, 1.0) * count;
    const auto line = static_cast<std::size_t>(std::min(std::floor(position), count - 1));
    const double next = line + 1 < tops.size() ? tops[line + 1] : end;
    return tops[line] + (position - static_cast<double>(line)) * (next - tops[line]);
}

double lineTableProgress(const std::vector<double>& tops, double end, double offset) {
    if (tops.empty() || !std::isfinite(offset)) {
        return 0;
    }
    const auto after = std::upper_bound(tops.begin(), tops.end(), offset);
    const auto line = static_cast<std::size_t>(std::max<std::ptrdiff_t>(0, after - tops.begin() - 1));
    const double next = line + 1 < tops.size() ? tops[line + 1] : end;
    const double share =
        next > tops[line] ? std::clamp((offset - tops[line]) / (next - tops[line]), 0.0, 1.0) : 0;
    return std::clamp((static_cast<double>(line) + share) / static_cast<double>(tops.size()), 0.0, 1.0);
}

PrompterTextSource::PrompterTextSource(AttributedString text, QSizeF size, Qt::Alignment alignment,
                                       double scale)
    : text_(std::move(text))
    , size_(size)
    , alignment_(alignment)
    , scale_(scale > 0 ? scale : 1.0) {
    CW_DCHECK_MAIN_THREAD();
}

PrompterTextSource::~PrompterTextSource() = default;

void PrompterTextSource::layOut() const {
    laidOut_ = true;
    std::vector<TypesetLine> lines;
    double top = 0;
    forEachLayoutRange(text_, [&](TextRange content, int terminator) {
        double height = 0;
        layOutParagraph(text_, content, terminator, size_.width(), alignment_, lines,
                        [&](std::unique_ptr<QTextLayout> layout, double partTop, double partHeight) {
                            paragraphs_.push_back({std::move(layout), top + partTop, partHeight});
                            height = partTop + partHeight;
                        });
        top += height;
    });
}

void PrompterTextSource::paint(QPainter& painter, const QRectF& rect) const {
    if (!laidOut_) {
        layOut();
    }
    painter.save();
    painter.setPen(Qt::white);
    // Laid out once at one size and drawn at the view's: every width shows the same lines.
    painter.scale(scale_, scale_);
    const QRectF laidOut(rect.topLeft() / scale_, rect.size() / scale_);
    for (const Paragraph& paragraph : paragraphs_) {
        if (paragraph.top + paragraph.height < laidOut.top() || paragraph.top > laidOut.bottom()) {
            continue;
        }
        // The clip is in painter space: only the lines that reach `rect` are drawn.
        paragraph.layout->draw(&painter, QPointF(0, paragraph.top), {}, laidOut);
    }
    painter.restore();
}

} // namespace cw

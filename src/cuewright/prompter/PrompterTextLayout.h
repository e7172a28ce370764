// Typesetting the prompter text in layer points and cutting it into chunks of whole lines.
#pragma once

#include "platform/layers/TiledTextLayer.h"
#include "platform/text/AttributedString.h"
#include "platform/text/Typesetter.h"

#include <QTextLayout>

#include <memory>
#include <optional>
#include <vector>

namespace cw {

// Typesets against layerMetricsDevice() with every font at its size in layer points, so that
// what it measures is exactly what PrompterTextSource draws. Paragraphs split as in the
// shared typesetter (LF, CR, CR LF, U+2029). Main thread (fonts).
class LayerTypesetter final : public platform::Typesetter {
public:
    std::vector<platform::TypesetLine> typeset(const platform::AttributedString& text,
                                               double width) const override;
};

// Remembers the last two results of another typesetter, so that several measurements of one
// text typeset it once. Lives for one layout pass; not thread-safe.
class MemoTypesetter final : public platform::Typesetter {
public:
    explicit MemoTypesetter(const platform::Typesetter& inner)
        : inner_(inner) {}
    std::vector<platform::TypesetLine> typeset(const platform::AttributedString& text,
                                               double width) const override;
    int passes() const { return passes_; }

private:
    struct Entry {
        platform::AttributedString text;
        double width = 0;
        std::vector<platform::TypesetLine> lines;
    };
    const platform::Typesetter& inner_;
    mutable std::vector<Entry> entries_;
    mutable int passes_ = 0;
};

// The size every prompter lays its text out at, in a column as wide as its own in proportion, and
// draws it scaled to its width: the lines are the same at every width, and they are the lines the
// script is counted in.
inline constexpr double layoutFontSize = 100.0;

// One text layer's worth of whole lines.
struct TextChunk {
    platform::AttributedString text;
    QSizeF boundingSize; // text width; line heights rounded up, summed, rounded up, plus 1
    double advance = 0;  // the unrounded height the next chunk starts below this one
};

// The measurements of one layout of the script.
struct PrompterTextMetrics {
    double graphicLineHeight = 0;    // the tallest line, rounded up
    std::vector<double> lineOffsets; // top of each line from the top of the text
    // Where each line starts in the text and its top, with the empty line after a closing line
    // break: the lines a progress is counted in.
    std::vector<int> lineStarts;
    std::vector<double> lineTops;
    double totalHeight = 0;        // rounded as totalTextHeight
    std::vector<TextChunk> chunks; // at least one, in text order
};

// Measures `fitted` at `width` and cuts it into chunks no taller than `maxChunkHeight` (one
// chunk when the whole text is no taller). An empty text gives one empty chunk of height 0.
PrompterTextMetrics measurePrompterText(const platform::AttributedString& fitted, double width,
                                        const platform::Typesetter& typesetter, double maxChunkHeight = 4096);

// measurePrompterText() a part at a time, so that a long text leaves the event loop turning between
// the parts. Each step() lays out whole paragraphs (or runs of short ones) of about `characters`,
// at least one, or, once every line is in, derives the metrics from them; the result is exactly
// what measurePrompterText() gives. A typesetter given measures the whole text in one step.
// Main thread only.
class PrompterTextMeasurement {
public:
    PrompterTextMeasurement(platform::AttributedString fitted, double width,
                            const platform::Typesetter* typesetter = nullptr, double maxChunkHeight = 4096);
    ~PrompterTextMeasurement();
    PrompterTextMeasurement(const PrompterTextMeasurement&) = delete;
    PrompterTextMeasurement& operator=(const PrompterTextMeasurement&) = delete;

    // One part; true once the metrics are ready.
    bool step(int characters);
    bool isDone() const { return metrics_.has_value(); }
    // Characters of the text whose lines are in.
    int measuredCharacters() const { return measured_; }
    const platform::AttributedString& text() const { return text_; }
    double width() const { return width_; }
    const platform::Typesetter* typesetter() const { return typesetter_; }
    // Present once done.
    const PrompterTextMetrics& metrics() const { return *metrics_; }

private:
    class Ranges;
    platform::AttributedString text_;
    double width_ = 0;
    const platform::Typesetter* typesetter_ = nullptr;
    double maxChunkHeight_ = 4096;
    std::unique_ptr<Ranges> ranges_;
    std::vector<platform::TypesetLine> lines_;
    int measured_ = 0;
    std::optional<PrompterTextMetrics> metrics_;
};

// The distance from the text's top that shows `progress` (0...1) of a text whose lines have the
// tops `tops` and which ends at `end`: progress × lines is a line and a share of it, so that every
// view of the same lines shows the same line for a progress whatever its size.
double lineTableOffset(const std::vector<double>& tops, double end, double progress);
// The progress that shows `offset`: the inverse of lineTableOffset(), held within 0...1.
double lineTableProgress(const std::vector<double>& tops, double end, double offset);

// A chunk as a tiled layer's source: lays itself out lazily, on the first tile painted, with the
// same rules as LayerTypesetter, and draws its lines in `alignment` (runs without a colour in
// white), `scale` times the size they were laid out at. Main thread only.
class PrompterTextSource final : public platform::layers::TextLayoutSource {
public:
    PrompterTextSource(platform::AttributedString text, QSizeF size, Qt::Alignment alignment,
                       double scale = 1.0);
    ~PrompterTextSource() override;

    QSizeF size() const override { return size_ * scale_; }
    void paint(QPainter& painter, const QRectF& rect) const override;
    const platform::AttributedString& text() const { return text_; }

private:
    struct Paragraph {
        std::unique_ptr<QTextLayout> layout;
        double top = 0;
        double height = 0;
    };
    void layOut() const;

    platform::AttributedString text_;
    QSizeF size_;
    Qt::Alignment alignment_;
    double scale_ = 1.0;
    mutable bool laidOut_ = false;
    mutable std::vector<Paragraph> paragraphs_;
};

} // namespace cw

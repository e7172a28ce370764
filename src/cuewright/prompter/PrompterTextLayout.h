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
    double totalHeight = 0;          // rounded as totalTextHeight
    std::vector<TextChunk> chunks;   // at least one, in text order
};

// Measures `fitted` at `width` and cuts it into chunks no taller than `maxChunkHeight` (one
// chunk when the whole text is no taller). An empty text gives one empty chunk of height 0.
PrompterTextMetrics measurePrompterText(const platform::AttributedString& fitted, double width,
                                        const platform::Typesetter& typesetter, double maxChunkHeight = 4096);

// A chunk as a tiled layer's source: lays itself out lazily, on the first tile painted, with the
// same rules as LayerTypesetter, and draws its lines in `alignment` (runs without a colour in
// white). Main thread only.
class PrompterTextSource final : public platform::layers::TextLayoutSource {
public:
    PrompterTextSource(platform::AttributedString text, QSizeF size, Qt::Alignment alignment);
    ~PrompterTextSource() override;

    QSizeF size() const override { return size_; }
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
    mutable bool laidOut_ = false;
    mutable std::vector<Paragraph> paragraphs_;
};

} // namespace cw

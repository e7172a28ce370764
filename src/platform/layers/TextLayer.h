// TextLayer: a layer that draws a plain or attributed string.
#pragma once

#include "platform/layers/Layer.h"

#include <QFont>
#include <QList>
#include <QString>
#include <QTextLayout>

namespace platform::layers {

enum class TextAlignmentMode { natural, left, right, center, justified };
enum class TruncationMode { none, start, end, middle };

// Text in Qt's own attributed form: a string plus format runs over it. '\n' breaks a line.
struct AttributedText {
    QString text;
    QList<QTextLayout::FormatRange> formats;
    bool operator==(const AttributedText& other) const;
};

// Draws its text from the visual top of its bounds down, in `font` at `fontSize` points (the font's own
// size is ignored) and `foregroundColor`, aligned within the bounds width. Wrapped text breaks at the
// bounds width; unwrapped text stays on its lines. With a truncation mode, a line that does not fit the
// width (or, wrapped, the last line that fits the height) is elided with "…"; attributed text is clipped
// instead. Every property change redraws the layer, and so does a change of the bounds size.
//
// Subclasses may override draw() to move the painter (y up, bounds coordinates) before calling
// TextLayer::draw(). Text is measured against layerMetricsDevice(), so one font point is one layer point.
class TextLayer : public Layer {
public:
    TextLayer();

    const QString& string() const { return text_.text; }
    void setString(const QString& string);
    void setAttributedText(const AttributedText& text);

    const QFont& font() const { return font_; }
    void setFont(const QFont& font);
    double fontSize() const { return fontSize_; }
    void setFontSize(double points);
    QColor foregroundColor() const { return foregroundColor_; }
    void setForegroundColor(const QColor& color);
    TextAlignmentMode alignmentMode() const { return alignment_; }
    void setAlignmentMode(TextAlignmentMode mode);
    bool isWrapped() const { return wrapped_; }
    void setWrapped(bool wrapped);
    void setTruncationMode(TruncationMode mode);
    // Kept for callers; glyph positions are always those of the layout.
    void setAllowsFontSubpixelQuantization(bool value) { subpixelQuantization_ = value; }

    // The size the text needs: wrapped at `width` when wrapped (and width > 0), else on its own lines.
    QSizeF preferredSize(double width = 0) const;
    // The font actually used: `font` at `fontSize` points.
    QFont effectiveFont() const;

protected:
    void draw(QPainter& painter) override;

private:
    void changed();

    AttributedText text_;
    QFont font_;
    double fontSize_ = 36;
    QColor foregroundColor_{Qt::white};
    TextAlignmentMode alignment_ = TextAlignmentMode::natural;
    bool wrapped_ = false;
    TruncationMode truncation_ = TruncationMode::none;
    bool subpixelQuantization_ = false;
};

} // namespace platform::layers

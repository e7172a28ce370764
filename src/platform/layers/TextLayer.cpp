#include "platform/layers/TextLayer.h"

#include "platform/layers/LayerPainting.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTextOption>

#include <cmath>
#include <memory>

namespace platform::layers {

namespace {

Qt::Alignment qtAlignment(TextAlignmentMode mode) {
    switch (mode) {
    case TextAlignmentMode::natural:
        return Qt::AlignLeading;
    case TextAlignmentMode::left:
        return Qt::AlignLeft | Qt::AlignAbsolute;
    case TextAlignmentMode::right:
        return Qt::AlignRight | Qt::AlignAbsolute;
    case TextAlignmentMode::center:
        return Qt::AlignHCenter;
    case TextAlignmentMode::justified:
        return Qt::AlignJustify;
    }
    return Qt::AlignLeading;
}

Qt::TextElideMode elideMode(TruncationMode mode) {
    switch (mode) {
    case TruncationMode::none:
        return Qt::ElideNone;
    case TruncationMode::start:
        return Qt::ElideLeft;
    case TruncationMode::end:
        return Qt::ElideRight;
    case TruncationMode::middle:
        return Qt::ElideMiddle;
    }
    return Qt::ElideNone;
}

struct Layout {
    std::unique_ptr<QTextLayout> layout;
    double height = 0;
    double width = 0;
};

// Lays `text` out in lines of `width` (wrapping or not); line separators break lines.
Layout layOut(const QString& text, const QList<QTextLayout::FormatRange>& formats, const QFont& font,
              double width, bool wrapped, TextAlignmentMode alignment) {
    Layout result;
    QString lines = text;
    lines.replace(QLatin1Char('\n'), QChar::LineSeparator);
    result.layout = std::make_unique<QTextLayout>(lines, font, layerMetricsDevice());
    result.layout->setFormats(formats);
    QTextOption option;
    option.setWrapMode(wrapped ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
    option.setAlignment(qtAlignment(alignment));
    result.layout->setTextOption(option);
    result.layout->setCacheEnabled(true);
    result.layout->beginLayout();
    double y = 0;
    for (QTextLine line = result.layout->createLine(); line.isValid(); line = result.layout->createLine()) {
        line.setLineWidth(width > 0 ? width : 1e6);
        line.setPosition(QPointF(0, y));
        y += line.height();
        result.width = std::max(result.width, line.naturalTextWidth());
    }
    result.layout->endLayout();
    result.height = y;
    return result;
}

} // namespace

bool AttributedText::operator==(const AttributedText& other) const {
    if (text != other.text || formats.size() != other.formats.size()) {
        return false;
    }
    for (qsizetype i = 0; i < formats.size(); ++i) {
        const auto& a = formats[i];
        const auto& b = other.formats[i];
        if (a.start != b.start || a.length != b.length || a.format != b.format) {
            return false;
        }
    }
    return true;
}

TextLayer::TextLayer() {
    setNeedsDisplayOnBoundsChange(true);
}

void TextLayer::changed() {
    setNeedsDisplay();
}

void TextLayer::setString(const QString& string) {
    setAttributedText(AttributedText{string, {}});
}

void TextLayer::setAttributedText(const AttributedText& text) {
    if (text == text_) {
        return;
    }
    text_ = text;
    changed();
}

void TextLayer::setFont(const QFont& font) {
    if (font == font_) {
        return;
    }
    font_ = font;
    changed();
}

void TextLayer::setFontSize(double points) {
    if (!(points > 0) || points == fontSize_) {
        return;
    }
    fontSize_ = points;
    changed();
}

void TextLayer::setForegroundColor(const QColor& color) {
    if (color == foregroundColor_) {
        return;
    }
    foregroundColor_ = color;
    changed();
}

void TextLayer::setAlignmentMode(TextAlignmentMode mode) {
    if (mode == alignment_) {
        return;
    }
    alignment_ = mode;
    changed();
}

void TextLayer::setWrapped(bool wrapped) {
    if (wrapped == wrapped_) {
        return;
    }
    wrapped_ = wrapped;
    changed();
}

void TextLayer::setTruncationMode(TruncationMode mode) {
    if (mode == truncation_) {
        return;
    }
    truncation_ = mode;
    changed();
}

QFont TextLayer::effectiveFont() const {
    QFont font = font_;
    font.setPointSizeF(fontSize_);
    return font;
}

QSizeF TextLayer::preferredSize(double width) const {
    const Layout layout = layOut(text_.text, text_.formats, effectiveFont(), wrapped_ ? width : 0,
                                 wrapped_ && width > 0, alignment_);
    return {std::ceil(layout.width), std::ceil(layout.height)};
}

void TextLayer::draw(QPainter& painter) {
    const QRectF box = bounds();
    if (text_.text.isEmpty() || box.isEmpty()) {
        return;
    }
    const QFont font = effectiveFont();
    QString text = text_.text;
    const bool truncates = truncation_ != TruncationMode::none && text_.formats.isEmpty();
    if (truncates && !wrapped_) {
        const QFontMetricsF metrics(font, layerMetricsDevice());
        QStringList lines = text.split(QLatin1Char('\n'));
        for (QString& line : lines) {
            line = metrics.elidedText(line, elideMode(truncation_), box.width());
        }
        text = lines.join(QLatin1Char('\n'));
    }
    Layout layout = layOut(text, text_.formats, font, box.width(), wrapped_, alignment_);
    if (truncates && wrapped_ && layout.height > box.height() && layout.layout->lineCount() > 1) {
        // Keep the lines that fit (at least one) and elide the rest into the last of them.
        int fitting = 0;
        while (fitting < layout.layout->lineCount()) {
            const QTextLine line = layout.layout->lineAt(fitting);
            if (line.y() + line.height() > box.height() + 0.01) {
                break;
            }
            ++fitting;
        }
        fitting = std::max(fitting, 1);
        if (fitting < layout.layout->lineCount()) {
            const QTextLine last = layout.layout->lineAt(fitting - 1);
            const QFontMetricsF metrics(font, layerMetricsDevice());
            QString rest = text.mid(last.textStart());
            rest.replace(QLatin1Char('\n'), QLatin1Char(' '));
            const QString elided = metrics.elidedText(rest, elideMode(truncation_), box.width());
            text = text.left(last.textStart()) + elided;
            layout = layOut(text, {}, font, box.width(), wrapped_, alignment_);
        }
    }
    painter.save();
    flipToTopLeft(painter, box);
    painter.setPen(foregroundColor_);
    painter.setFont(font);
    layout.layout->draw(&painter, QPointF(0, 0));
    painter.restore();
}

} // namespace platform::layers

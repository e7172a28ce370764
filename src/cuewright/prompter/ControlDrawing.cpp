#include "cuewright/prompter/ControlDrawing.h"

#include "platform/layers/Layer.h"
#include "platform/layers/LayerPainting.h"

#include <QFontMetricsF>
#include <QPainter>

namespace cw::controls {

QColor releasedTint() {
    return QColor::fromRgbF(0, 0, 0, 0.5);
}

QColor readoutTint() {
    return QColor::fromRgbF(0, 0, 0, 0.75);
}

QColor pressedTint() {
    return QColor::fromRgbF(1, 0, 0, 0.5);
}

QColor hintColor() {
    return pressedTint();
}

void applyControlLook(platform::layers::Layer& layer, double cornerRadius) {
    layer.setAnchorPoint(QPointF(0, 0));
    layer.setAutoresizingMask(platform::layers::notSizable);
    layer.setMasksToBounds(true);
    layer.setBackgroundColor(releasedTint());
    layer.setBorderColor(Qt::red);
    layer.setBorderWidth(1.0);
    layer.setCornerRadius(cornerRadius);
    layer.setOpaque(false);
}

QFont hintFont() {
    QFont font;
    font.setPointSizeF(12);
    return font;
}

QSizeF measureHint(const QString& text, const QFont& font) {
    const QFontMetricsF metrics(font, platform::layers::layerMetricsDevice());
    return QSizeF(metrics.horizontalAdvance(text), metrics.height());
}

void drawHint(QPainter& painter, const QString& text, QPointF origin, const QColor& color,
              const QFont& font) {
    if (text.isEmpty()) {
        return;
    }
    const QSizeF size = measureHint(text, font);
    const QRectF box(origin, size);
    painter.save();
    platform::layers::flipToTopLeft(painter, box);
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(QRectF(QPointF(0, 0), size), Qt::AlignLeft | Qt::AlignTop, text);
    painter.restore();
}

} // namespace cw::controls

#include "cuewright/prompter/ReadoutFit.h"

#include "platform/layers/LayerPainting.h"
#include "platform/layers/TextLayer.h"

#include <QFontMetricsF>
#include <QPainter>

namespace cw {

void shrinkTextToFit(QPainter& painter, const platform::layers::TextLayer& layer, double inset) {
    const QFontMetricsF metrics(layer.effectiveFont(), platform::layers::layerMetricsDevice());
    const double width = metrics.horizontalAdvance(layer.string());
    const double room = layer.bounds().width() - 2 * inset;
    if (width <= room || room <= 0)
        return;
    const double scale = room / width;
    const QPointF centre = layer.bounds().center();
    painter.translate(centre);
    painter.scale(scale, scale);
    painter.translate(-centre);
}

} // namespace cw

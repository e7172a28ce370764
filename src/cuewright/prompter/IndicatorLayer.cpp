#include "cuewright/prompter/IndicatorLayer.h"

#include "cuewright/prompter/IndicatorShape.h"

#include <QPainter>

namespace cw {

IndicatorLayer::IndicatorLayer() {
    setAnchorPoint(QPointF(0, 0));
    setAutoresizingMask(platform::layers::notSizable);
    setMasksToBounds(true);
    setOpaque(false);
}

void IndicatorLayer::setIndicatorColor(IndicatorColor color) {
    if (color == color_) {
        return;
    }
    color_ = color;
    setNeedsDisplay();
}

void IndicatorLayer::draw(QPainter& painter) {
    const QRectF rect = IndicatorShape::frame(type_, size_, bounds());
    // The colour is resolved at each redraw: "white" follows the default text colour setting.
    IndicatorShape::draw(painter, type_, IndicatorShape::resolvedColor(color_), rect);
}

} // namespace cw

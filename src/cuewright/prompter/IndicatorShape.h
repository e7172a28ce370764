// The reading indicator's mark: its rectangle inside a layer, its colour and its drawing.
#pragma once

#include "cuewright/model/PrompterEnums.h"

#include <QColor>
#include <QRectF>

class QPainter;

namespace platform {
class Defaults;
}

namespace cw::IndicatorShape {

// The mark's rectangle inside `bounds` (x 4 from the bounds' origin, centred vertically); an
// empty rectangle for `none`.
QRectF frame(IndicatorType type, IndicatorSize size, const QRectF& bounds);

// The colour of an indicator colour; `white` is the "defaultTextColor" setting, yellow when
// none is stored.
QColor resolvedColor(IndicatorColor color, const platform::Defaults& defaults);
QColor resolvedColor(IndicatorColor color);

// Draws the mark filling `rect` (y-up painter): a right-pointing triangle, a dot or a bar.
void draw(QPainter& painter, IndicatorType type, const QColor& color, const QRectF& rect);
void drawArrow(QPainter& painter, const QRectF& rect, const QColor& color);

} // namespace cw::IndicatorShape

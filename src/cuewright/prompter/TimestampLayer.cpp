#include "cuewright/prompter/TimestampLayer.h"

#include "cuewright/prompter/ReadoutFit.h"

#include <QPainter>

namespace cw {

void TimestampLayer::draw(QPainter& painter) {
    painter.save();
    shrinkTextToFit(painter, *this, 4);
    painter.translate(0, -((bounds().height() - fontSize()) / 2 - fontSize() / 10));
    TextLayer::draw(painter);
    painter.restore();
}

} // namespace cw

#include "cuewright/prompter/TimestampLayer.h"

#include <QPainter>

namespace cw {

void TimestampLayer::draw(QPainter& painter) {
    painter.save();
    painter.translate(0, -((bounds().height() - fontSize()) / 2 - fontSize() / 10));
    TextLayer::draw(painter);
    painter.restore();
}

} // namespace cw

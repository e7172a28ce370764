#include "cuewright/prompter/ControlLayer.h"

#include "cuewright/prompter/ControlDrawing.h"

#include <QPainter>

namespace cw {

ControlLayer::ControlLayer(double cornerRadius) {
    controls::applyControlLook(*this, cornerRadius);
}

std::vector<controls::PlacedHint> ControlLayer::placedHints() const {
    return drawsLabel_ ? layoutHints().inside : std::vector<controls::PlacedHint>{};
}

std::vector<controls::PlacedHint> ControlLayer::besideHints() const {
    return drawsLabel_ ? layoutHints().beside : std::vector<controls::PlacedHint>{};
}

void ControlLayer::drawHints(QPainter& painter) const {
    for (const controls::PlacedHint& hint : placedHints()) {
        controls::drawPlacedHint(painter, hint, controls::hintColor());
    }
}

} // namespace cw

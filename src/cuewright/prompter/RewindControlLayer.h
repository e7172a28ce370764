// RewindControlLayer: the rewind button of the prompter.
#pragma once

#include "cuewright/prompter/ControlLayer.h"

namespace cw {

// Draws a left-pointing triangle with a bar, and, when `drawsLabel`, the erase glyph for Delete
// (unless a custom binding took Delete) and the rewind binding's key. Draw-only, like the
// transport panel; main thread only.
class RewindControlLayer : public ControlLayer {
public:
    RewindControlLayer();

    QRectF symbolBounds() const override;

protected:
    void draw(QPainter& painter) override;
    controls::HintLayout layoutHints() const override;
};

} // namespace cw

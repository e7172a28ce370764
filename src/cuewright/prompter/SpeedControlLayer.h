// SpeedControlLayer: the vertical speed scale of the prompter.
#pragma once

#include "cuewright/prompter/ControlLayer.h"

namespace cw {

// A centre bar with a tick every three of its 101 steps and a marker at `scrollSpeed` percent
// (speed 100 sits one step below the top); with `drawsLabel`, "W" and "S" at the left and the
// faster/slower bindings at the right. Changing a field does not redraw; the writer asks for it.
class SpeedControlLayer : public ControlLayer {
public:
    SpeedControlLayer();

    double scrollSpeed() const { return scrollSpeed_; }
    void setScrollSpeed(double percent) { scrollSpeed_ = percent; }

    // The marker's centre height in bounds coordinates for a speed.
    static double markerY(const QRectF& bounds, double percent);

    QRectF symbolBounds() const override;

protected:
    void draw(QPainter& painter) override;
    controls::HintLayout layoutHints() const override;

private:
    double scrollSpeed_ = 31.0;
};

} // namespace cw

// LineUpDownLayer: the line-step buttons of the prompter.
#pragma once

#include "cuewright/prompter/ControlLayer.h"

namespace cw {

// A rounded button with an outlined triangle pointing up or down and, when `drawsLabel`, the
// arrow key's hint (unless a custom binding took it) and the line-step binding's key.
// Draw-only; main thread only.
class LineUpDownLayer : public ControlLayer {
public:
    enum class Mode { up, down };

    explicit LineUpDownLayer(Mode mode = Mode::up);

    Mode mode() const { return mode_; }
    void setMode(Mode mode) { mode_ = mode; }
    double scaleFactor() const { return scaleFactor_; }
    void setScaleFactor(double factor) { scaleFactor_ = factor; }

    QRectF symbolBounds() const override;

protected:
    void draw(QPainter& painter) override;
    controls::HintLayout layoutHints() const override;

private:
    Mode mode_;
    double scaleFactor_ = 1.0;
};

} // namespace cw

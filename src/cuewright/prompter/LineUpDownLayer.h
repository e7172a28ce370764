// LineUpDownLayer: the line-step buttons of the prompter.
#pragma once

#include "cuewright/prompter/KeyHints.h"
#include "platform/layers/Layer.h"

namespace cw {

// A rounded button with an outlined triangle pointing up or down and, when `drawsLabel`, the
// arrow key's hint (unless a custom binding took it) and the line-step binding's key.
// Draw-only; main thread only.
class LineUpDownLayer : public platform::layers::Layer {
public:
    enum class Mode { up, down };

    explicit LineUpDownLayer(Mode mode = Mode::up);

    Mode mode() const { return mode_; }
    void setMode(Mode mode) { mode_ = mode; }
    double scaleFactor() const { return scaleFactor_; }
    void setScaleFactor(double factor) { scaleFactor_ = factor; }
    bool drawsLabel() const { return drawsLabel_; }
    void setDrawsLabel(bool draws) { drawsLabel_ = draws; }
    const KeyHints& keyHints() const { return hints_; }
    void setKeyHints(const KeyHints& hints) { hints_ = hints; }

protected:
    void draw(QPainter& painter) override;

private:
    void drawButton(QPainter& painter, const QRectF& bounds);

    Mode mode_;
    double scaleFactor_ = 1.0;
    bool drawsLabel_ = true;
    KeyHints hints_;
};

} // namespace cw

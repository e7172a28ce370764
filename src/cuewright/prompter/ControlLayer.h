// ControlLayer: what the prompter's hand-drawn control buttons have in common.
#pragma once

#include "cuewright/prompter/ControlDrawing.h"
#include "cuewright/prompter/KeyHints.h"
#include "platform/layers/Layer.h"

#include <vector>

class QPainter;

namespace cw {

// A control with the controls' look, and key hints drawn on it when `drawsLabel`. Setters store
// only; the caller asks for redisplay. Draw-only; main thread only.
class ControlLayer : public platform::layers::Layer {
public:
    bool drawsLabel() const { return drawsLabel_; }
    void setDrawsLabel(bool draws) { drawsLabel_ = draws; }
    const KeyHints& keyHints() const { return hints_; }
    void setKeyHints(const KeyHints& hints) { hints_ = hints; }

    // The hints as they are drawn for the current bounds and hints; none without `drawsLabel`.
    // Each lies in the bounds, clear of the others and of symbolBounds().
    std::vector<controls::PlacedHint> placedHints() const;
    // Bindings too long to be read on the control, placed beside it (bounds coordinates, outside
    // the bounds); the panel draws them. None without `drawsLabel`.
    std::vector<controls::PlacedHint> besideHints() const;
    // The part of the bounds the control's symbol (or scale) takes, in either of its states.
    virtual QRectF symbolBounds() const = 0;

protected:
    explicit ControlLayer(double cornerRadius);

    // Where this control's hints go (see controls::placeHints).
    virtual controls::HintLayout layoutHints() const = 0;
    void drawHints(QPainter& painter) const;

private:
    bool drawsLabel_ = true;
    KeyHints hints_;
};

} // namespace cw

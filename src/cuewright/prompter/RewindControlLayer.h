// RewindControlLayer: the rewind button of the prompter.
#pragma once

#include "cuewright/prompter/KeyHints.h"
#include "platform/layers/Layer.h"

namespace cw {

// Draws a left-pointing triangle with a bar, and, when `drawsLabel`, the erase glyph for Delete
// (unless a custom binding took Delete) and the rewind binding's key. Draw-only, like the
// transport panel; main thread only.
class RewindControlLayer : public platform::layers::Layer {
public:
    RewindControlLayer();

    bool drawsLabel() const { return drawsLabel_; }
    void setDrawsLabel(bool draws) { drawsLabel_ = draws; }
    const KeyHints& keyHints() const { return hints_; }
    void setKeyHints(const KeyHints& hints) { hints_ = hints; }

protected:
    void draw(QPainter& painter) override;

private:
    bool drawsLabel_ = true;
    KeyHints hints_;
};

} // namespace cw

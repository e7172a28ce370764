// ControlLayer: what the prompter's hand-drawn control buttons have in common.
#pragma once

#include "cuewright/prompter/KeyHints.h"
#include "platform/layers/Layer.h"

class QPainter;
class QString;

namespace cw {

// A control with the controls' look, and key hints drawn on it when `drawsLabel`. Setters store
// only; the caller asks for redisplay. Draw-only; main thread only.
class ControlLayer : public platform::layers::Layer {
public:
    bool drawsLabel() const { return drawsLabel_; }
    void setDrawsLabel(bool draws) { drawsLabel_ = draws; }
    const KeyHints& keyHints() const { return hints_; }
    void setKeyHints(const KeyHints& hints) { hints_ = hints; }

protected:
    explicit ControlLayer(double cornerRadius);

    // When `drawsLabel`: the fixed `key` at the top left unless a custom binding took it
    // (`keyBound`), and the custom `binding`, when there is one, at the top right.
    void drawTopHints(QPainter& painter, const QString& key, bool keyBound, const QString& binding) const;

private:
    bool drawsLabel_ = true;
    KeyHints hints_;
};

} // namespace cw

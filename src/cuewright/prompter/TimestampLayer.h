// TimestampLayer: the prompter's time read-out.
#pragma once

#include "platform/layers/TextLayer.h"

namespace cw {

// A text layer that centres its one line vertically. `drawsLabel` is kept for the layout; the
// drawing does not depend on it. Main thread only.
class TimestampLayer : public platform::layers::TextLayer {
public:
    TimestampLayer() = default;

    bool drawsLabel() const { return drawsLabel_; }
    void setDrawsLabel(bool draws) { drawsLabel_ = draws; }

protected:
    void draw(QPainter& painter) override;

private:
    bool drawsLabel_ = true;
};

} // namespace cw

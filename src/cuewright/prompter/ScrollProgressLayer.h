// ScrollProgressLayer: the thin progress bar along one edge of the prompter.
#pragma once

#include "platform/layers/Layer.h"

#include <memory>

namespace cw {

// A container with one red bar sublayer whose width is `progress` of the container's width,
// growing from the left, or from the right when flipped horizontally. Main thread only.
class ScrollProgressLayer : public platform::layers::Layer {
public:
    ScrollProgressLayer();

    double progress() const { return progress_; }
    void setProgress(double progress) { progress_ = progress; }
    bool isFlippedHorizontally() const { return flippedHorizontally_; }
    void setFlippedHorizontally(bool flipped) { flippedHorizontally_ = flipped; }
    const std::shared_ptr<platform::layers::Layer>& progressLayer() const { return bar_; }

    // Lays out the bar for `bounds`; callers wrap it in a transaction without animations.
    void updateBar(const QRectF& bounds);

private:
    double progress_ = 0;
    std::shared_ptr<platform::layers::Layer> bar_;
    bool flippedHorizontally_ = false;
};

} // namespace cw

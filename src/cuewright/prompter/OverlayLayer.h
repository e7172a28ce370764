// OverlayLayer: the bands around the reading position (fade, highlight, black-out).
#pragma once

#include "cuewright/model/PrompterEnums.h"
#include "platform/layers/Layer.h"

#include <QColor>

#include <memory>

namespace platform::layers {
class GradientLayer;
}

namespace cw {

// Holds five band sublayers and shows those of `overlayType`. Setting a field changes nothing
// on screen; the owner calls updateOverlay() after changing fields or the frame. The clear band
// is centred on `verticalCenter` × height (from the bottom) and is max(a fifth of the height,
// one line) high, three lines for blackOut3Lines; the highlight band is exactly one line.
// Main thread only.
class OverlayLayer : public platform::layers::Layer {
public:
    OverlayLayer();

    OverlayType overlayType() const { return type_; }
    void setOverlayType(OverlayType type) { type_ = type; }
    QColor gradientColor() const { return gradientColor_; }
    void setGradientColor(const QColor& color) { gradientColor_ = color; }
    double verticalCenter() const { return verticalCenter_; }
    void setVerticalCenter(double center) { verticalCenter_ = center; }
    double lineHeight() const { return lineHeight_; }
    void setLineHeight(double height) { lineHeight_ = height; }

    // Hides every band, then shows and lays out those of the current type, without animation.
    void updateOverlay();
    // Sets type and centre, and updates the overlay when either changed.
    void showBands(OverlayType type, double verticalCenter);

    const std::shared_ptr<platform::layers::GradientLayer>& upperGradientLayer() const {
        return upperGradient_;
    }
    const std::shared_ptr<platform::layers::GradientLayer>& lowerGradientLayer() const {
        return lowerGradient_;
    }
    const std::shared_ptr<platform::layers::Layer>& highlightLayer() const { return highlight_; }
    const std::shared_ptr<platform::layers::Layer>& upperBlackoutLayer() const { return upperBlackout_; }
    const std::shared_ptr<platform::layers::Layer>& lowerBlackoutLayer() const { return lowerBlackout_; }

private:
    double halfBand(int lines) const;

    std::shared_ptr<platform::layers::GradientLayer> upperGradient_;
    std::shared_ptr<platform::layers::GradientLayer> lowerGradient_;
    std::shared_ptr<platform::layers::Layer> highlight_;
    std::shared_ptr<platform::layers::Layer> upperBlackout_;
    std::shared_ptr<platform::layers::Layer> lowerBlackout_;
    OverlayType type_ = OverlayType::highlight;
    QColor gradientColor_{Qt::red};
    double gradientAlpha_ = 0.0;
    double highlightAlpha_ = 0.3;
    double verticalCenter_ = 0.5;
    double lineHeight_ = 0;
};

} // namespace cw

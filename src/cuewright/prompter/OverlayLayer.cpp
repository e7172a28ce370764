#include "cuewright/prompter/OverlayLayer.h"

#include "dispatch/MainThreadChecker.h"
#include "platform/layers/GradientLayer.h"
#include "platform/layers/Transaction.h"

#include <algorithm>

namespace cw {

using platform::layers::GradientLayer;
using platform::layers::Layer;

static void configureBand(Layer& band) {
    band.setMasksToBounds(true);
    band.setAutoresizingMask(platform::layers::notSizable);
    band.setAnchorPoint(QPointF(0, 0));
}

OverlayLayer::OverlayLayer()
    : upperGradient_(std::make_shared<GradientLayer>())
    , lowerGradient_(std::make_shared<GradientLayer>())
    , highlight_(std::make_shared<Layer>())
    , upperBlackout_(std::make_shared<Layer>())
    , lowerBlackout_(std::make_shared<Layer>()) {
    setDrawsAsynchronously(true);
    setAnchorPoint(QPointF(0, 0));
    setAutoresizingMask(platform::layers::notSizable);
    setMasksToBounds(true);
    setOpaque(false);
    for (Layer* band : {static_cast<Layer*>(upperGradient_.get()), static_cast<Layer*>(lowerGradient_.get()),
                        highlight_.get(), upperBlackout_.get(), lowerBlackout_.get()}) {
        configureBand(*band);
    }
    addSublayer(upperGradient_);
    addSublayer(lowerGradient_);
    addSublayer(highlight_);
    addSublayer(lowerBlackout_);
    addSublayer(upperBlackout_);
    updateOverlay();
}

double OverlayLayer::halfBand(int lines) const {
    return std::max(0.2 * bounds().height(), lines * lineHeight_) / 2;
}

void OverlayLayer::showBands(OverlayType type, double verticalCenter) {
    CW_DCHECK_MAIN_THREAD();
    if (type == type_ && verticalCenter == verticalCenter_) {
        return;
    }
    type_ = type;
    verticalCenter_ = verticalCenter;
    updateOverlay();
}

void OverlayLayer::updateOverlay() {
    CW_DCHECK_MAIN_THREAD();
    platform::layers::TransactionScope immediate;
    for (Layer* band : {static_cast<Layer*>(upperGradient_.get()), static_cast<Layer*>(lowerGradient_.get()),
                        highlight_.get(), upperBlackout_.get(), lowerBlackout_.get()}) {
        band->setHidden(true);
    }
    const double h = bounds().height();
    const double w = bounds().width();
    const double c = h * verticalCenter_;
    const double lh = lineHeight_;
    const auto upper = [&](double b) { return QRectF(0, c + b, w, h - c - b); };
    const auto lower = [&](double b) { return QRectF(0, 0, w, c - b); };
    QColor fadeStart = gradientColor_;
    fadeStart.setAlphaF(static_cast<float>(gradientAlpha_));
    switch (type_) {
    case OverlayType::none:
        return;
    case OverlayType::fadeOut:
        upperGradient_->setFrame(upper(halfBand(1)));
        upperGradient_->setStartPoint(QPointF(0.5, 0));
        upperGradient_->setEndPoint(QPointF(0.5, 1));
        upperGradient_->setColors({fadeStart, gradientColor_});
        upperGradient_->setHidden(false);
        lowerGradient_->setFrame(lower(halfBand(1)));
        lowerGradient_->setStartPoint(QPointF(0.5, 1));
        lowerGradient_->setEndPoint(QPointF(0.5, 0));
        lowerGradient_->setColors({fadeStart, gradientColor_});
        lowerGradient_->setHidden(false);
        return;
    case OverlayType::highlight:
        highlight_->setFrame(QRectF(0, c - lh / 2, w, lh));
        highlight_->setBackgroundColor(QColor::fromRgbF(1, 1, 1, static_cast<float>(highlightAlpha_)));
        highlight_->setHidden(false);
        return;
    case OverlayType::blackOut:
    case OverlayType::blackOut3Lines: {
        const double b = halfBand(type_ == OverlayType::blackOut ? 1 : 3);
        upperBlackout_->setFrame(upper(b));
        upperBlackout_->setBackgroundColor(Qt::black);
        upperBlackout_->setHidden(false);
        lowerBlackout_->setFrame(lower(b));
        lowerBlackout_->setBackgroundColor(Qt::black);
        lowerBlackout_->setHidden(false);
        return;
    }
    case OverlayType::expanse:
        upperGradient_->setFrame(upper(halfBand(1)));
        upperGradient_->setStartPoint(QPointF(0.5, 0));
        upperGradient_->setEndPoint(QPointF(0.5, 1));
        upperGradient_->setColors({QColor::fromRgbF(0, 0, 0, 0.8f), QColor(Qt::black)});
        upperGradient_->setHidden(false);
        return;
    }
}

} // namespace cw

#include "cuewright/prompter/OverlayView.h"

#include "cuewright/prompter/OverlayLayer.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/layers/Layer.h"
#include "platform/layers/Transaction.h"

#include <QEvent>

namespace cw {

using platform::layers::Layer;

namespace {
constexpr double overlayZ = 15;
constexpr double initialLineHeight = 95;

// The overlay's bands draw caches of their own, so they take the scale too.
void applyContentsScale(Layer& layer, double scale) {
    layer.setContentsScale(scale);
    for (const auto& sublayer : layer.sublayers()) {
        applyContentsScale(*sublayer, scale);
    }
}
} // namespace

OverlayView::OverlayView(QWidget* parent)
    : LayerHost(parent)
    , overlay_(std::make_shared<OverlayLayer>())
    , root_(std::make_shared<Layer>()) {
    CW_DCHECK_MAIN_THREAD();
    setUp();
}

OverlayView::~OverlayView() = default;

void OverlayView::setUp() {
    // Clicks go to the editor's text below; the view is never the focus.
    setAttribute(Qt::WA_TransparentForMouseEvents, true);
    setFocusPolicy(Qt::NoFocus);
    setBackgroundColor(Qt::transparent);

    root_->setMasksToBounds(true);
    root_->setOpaque(false);
    setRootLayer(root_);

    platform::layers::TransactionScope immediate;
    overlay_->setZPosition(overlayZ);
    overlay_->setOpacity(1.0);
    if (overlay_->lineHeight() != initialLineHeight) {
        overlay_->setLineHeight(initialLineHeight);
        overlay_->updateOverlay();
    }
    if (overlay_->overlayType() != OverlayType::highlight) {
        overlay_->setOverlayType(OverlayType::highlight);
        overlay_->updateOverlay();
    }
    overlay_->setOpaque(false);
    root_->addSublayer(overlay_);
    updateContentsScale();
    fitOverlay();
}

OverlayType OverlayView::overlayType() const {
    return overlay_->overlayType();
}

void OverlayView::setOverlayType(OverlayType type) {
    CW_DCHECK_MAIN_THREAD();
    if (type == overlay_->overlayType()) {
        return;
    }
    overlay_->setOverlayType(type);
    overlay_->updateOverlay();
}

QColor OverlayView::gradientColor() const {
    return overlay_->gradientColor();
}

void OverlayView::setGradientColor(const QColor& color) {
    CW_DCHECK_MAIN_THREAD();
    if (color == overlay_->gradientColor()) {
        return;
    }
    overlay_->setGradientColor(color);
    overlay_->updateOverlay();
}

void OverlayView::setVerticalCenter(float center) {
    CW_DCHECK_MAIN_THREAD();
    verticalCenter_ = center;
    if (overlay_->verticalCenter() == static_cast<double>(center)) {
        return;
    }
    overlay_->setVerticalCenter(center);
    overlay_->updateOverlay();
}

void OverlayView::fitOverlay() {
    platform::layers::TransactionScope immediate;
    overlay_->setFrame(QRectF(0, 0, width(), height()));
    overlay_->updateOverlay();
}

void OverlayView::updateContentsScale() {
    applyContentsScale(*root_, devicePixelRatioF());
}

void OverlayView::resizeEvent(QResizeEvent* event) {
    LayerHost::resizeEvent(event);
    fitOverlay();
}

void OverlayView::showEvent(QShowEvent* event) {
    LayerHost::showEvent(event);
    updateContentsScale();
}

void OverlayView::changeEvent(QEvent* event) {
    LayerHost::changeEvent(event);
    if (event->type() == QEvent::ParentChange) {
        updateContentsScale();
        fitOverlay();
    }
}

bool OverlayView::event(QEvent* event) {
    const bool handled = LayerHost::event(event);
    // Moved to a screen of another pixel ratio.
    if (event->type() == QEvent::ScreenChangeInternal) {
        updateContentsScale();
    }
    return handled;
}

} // namespace cw

#include "cuewright/prompter/OverlayPreviewView.h"

#include "cuewright/model/UserDefaults.h"
#include "cuewright/prompter/IndicatorLayer.h"
#include "cuewright/prompter/IndicatorShape.h"
#include "cuewright/prompter/OverlayLayer.h"
#include "cuewright/prompter/PixelAlignment.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/layers/TextLayer.h"
#include "platform/layers/Transaction.h"
#include "platform/text/Color.h"
#include "platform/text/Font.h"

#include <QEvent>

#include <algorithm>
#include <cmath>
#include <utility>

namespace cw {

using platform::layers::Layer;
using platform::layers::TextLayer;
using platform::layers::TransactionScope;

namespace {

constexpr double previewLineHeight = 14;
constexpr double overlayInitialLineHeight = 95;

void applyContentsScale(Layer& layer, double scale) {
    layer.setContentsScale(scale);
    for (const auto& sublayer : layer.sublayers()) {
        applyContentsScale(*sublayer, scale);
    }
}

} // namespace

OverlayPreviewView::OverlayPreviewView(QWidget* parent)
    : LayerHost(parent)
    , root_(std::make_shared<Layer>())
    , overlay_(std::make_shared<OverlayLayer>())
    , text_(std::make_shared<TextLayer>())
    , indicator_(std::make_shared<IndicatorLayer>())
    , readingLine_(std::make_shared<Layer>()) {
    CW_DCHECK_MAIN_THREAD();
    setUp();
}

OverlayPreviewView::~OverlayPreviewView() = default;

QString OverlayPreviewView::sampleText() {
    return QStringLiteral(
        "Lorem ipsum dolor sit amet, consectetur adipiscing elit. Praesent semper imperdiet elit eget "
        "consequat. Quisque blandit libero vitae congue placerat. Vivamus sed lacus sem. Vivamus neque "
        "lacus, egestas ut accumsan a, iaculis id metus. Nullam id scelerisque risus. Fusce hendrerit "
        "mauris sed mollis laoreet. Proin et elit nulla.");
}

void OverlayPreviewView::setUp() {
    TransactionScope immediate;
    // Outside the rounded corners the parent shows through.
    setBackgroundColor(Qt::transparent);
    root_->setMasksToBounds(true);
    root_->setOpaque(true);
    root_->setBackgroundColor(Qt::black);
    root_->setCornerRadius(4.0);
    setRootLayer(root_);

    lineHeight_ = previewLineHeight;
    layoutPreview();

    text_->setZPosition(10);
    text_->setOpacity(1.0);
    text_->setString(sampleText());
    text_->setAlignmentMode(platform::layers::TextAlignmentMode::center);
    text_->setFont(defaultFont().toQFont());
    text_->setFontSize(lineHeight_);
    text_->setForegroundColor(defaultTextColor().toQColor());
    text_->setMasksToBounds(true);
    text_->setWrapped(true);
    text_->setContentsGravity(platform::layers::ContentsGravity::center);
    text_->setAnchorPoint(QPointF(0, 0));
    text_->setAllowsFontSubpixelQuantization(true);
    root_->addSublayer(text_);

    indicator_->setZPosition(12);
    indicator_->setOpacity(1.0);
    root_->addSublayer(indicator_);

    overlay_->setZPosition(15);
    overlay_->setOpacity(1.0);
    if (overlay_->lineHeight() != overlayInitialLineHeight) {
        overlay_->setLineHeight(overlayInitialLineHeight);
        overlay_->updateOverlay();
    }
    overlay_->setOpaque(false);
    if (overlay_->lineHeight() != lineHeight_) {
        overlay_->setLineHeight(lineHeight_);
        overlay_->updateOverlay();
    }
    if (overlay_->gradientColor() != QColor(Qt::black)) {
        overlay_->setGradientColor(Qt::black);
        overlay_->updateOverlay();
    }
    root_->addSublayer(overlay_);

    setUpReadingLine();
    updateContentsScale();
    layoutPreview();
}

void OverlayPreviewView::setUpReadingLine() {
    readingLine_->setZPosition(8);
    readingLine_->setHidden(true);
    root_->addSublayer(readingLine_);
    readingLine_->setNeedsDisplay();
}

void OverlayPreviewView::layoutPreview() {
    CW_DCHECK_MAIN_THREAD();
    TransactionScope immediate;
    const double w = width();
    const double h = height();
    text_->setFrame(QRectF(20, -h, w - 40, 2 * h));
    overlay_->setFrame(QRectF(0, 0, w, h));
    overlay_->updateOverlay();
    indicator_->setFrame(
        QRectF(0, h * display_.indicatorPosition - lineHeight_ / 2, lineHeight_, lineHeight_));
    indicator_->setNeedsDisplay();
    if (rootLayer()) {
        updateReadingLine(QRectF(0, 0, w, h));
    }
}

QColor OverlayPreviewView::readingLineColor() const {
    CW_DCHECK_MAIN_THREAD();
    return IndicatorShape::resolvedColor(display_.indicatorColor);
}

void OverlayPreviewView::updateReadingLine(const QRectF& bounds) {
    CW_DCHECK_MAIN_THREAD();
    TransactionScope immediate;
    const QColor color = readingLineColor();
    readingLine_->setHidden(!display_.showsReadingLine);
    readingLine_->setFrame(alignedToPixels(
        QRectF(10, bounds.height() * display_.indicatorPosition - 0.5, bounds.width() - 20, 1.0),
        devicePixelRatioF()));
    readingLine_->setBackgroundColor(color);
    readingLine_->setNeedsDisplay();
}

void OverlayPreviewView::setLineHeight(double height) {
    CW_DCHECK_MAIN_THREAD();
    height = std::max(0.0, height);
    if (height == lineHeight_) {
        return;
    }
    lineHeight_ = height;
    text_->setFontSize(height);
    overlay_->setLineHeight(height);
    layoutPreview();
}

void OverlayPreviewView::apply(const PrompterDisplayState& state) {
    CW_DCHECK_MAIN_THREAD();
    PrompterDisplayState to = state;
    to.indicatorPosition = std::clamp(to.indicatorPosition, 0.0f, 1.0f);
    const PrompterDisplayState from = std::exchange(display_, to);
    bool readingLine = to.showsReadingLine != from.showsReadingLine;
    overlay_->showBands(to.overlayType, to.indicatorPosition);
    if (to.indicatorType != from.indicatorType) {
        indicator_->setIndicatorType(to.indicatorType);
        indicator_->setNeedsDisplay();
    }
    if (to.indicatorColor != from.indicatorColor) {
        indicator_->setIndicatorColor(to.indicatorColor);
        readingLine = true;
    }
    if (to.indicatorPosition != from.indicatorPosition) {
        layoutPreview();
    } else if (readingLine) {
        updateReadingLine(QRectF(0, 0, width(), height()));
    }
}

void OverlayPreviewView::updateContentsScale() {
    applyContentsScale(*root_, devicePixelRatioF());
}

void OverlayPreviewView::resizeEvent(QResizeEvent* event) {
    LayerHost::resizeEvent(event);
    layoutPreview();
}

void OverlayPreviewView::showEvent(QShowEvent* event) {
    LayerHost::showEvent(event);
    updateContentsScale();
}

void OverlayPreviewView::changeEvent(QEvent* event) {
    LayerHost::changeEvent(event);
    if (event->type() == QEvent::ParentChange) {
        updateContentsScale();
        layoutPreview();
    }
}

bool OverlayPreviewView::event(QEvent* event) {
    const bool handled = LayerHost::event(event);
    // Moved to a screen of another pixel ratio.
    if (event->type() == QEvent::ScreenChangeInternal) {
        updateContentsScale();
    }
    return handled;
}

} // namespace cw

#include "cuewright/editor/EditorBackgroundView.h"

#include "cuewright/editor/EditorBackgroundViewDelegate.h"
#include "cuewright/model/ScriptProperties.h"
#include "cuewright/prompter/IndicatorLayer.h"
#include "cuewright/prompter/IndicatorShape.h"
#include "cuewright/prompter/PixelAlignment.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/layers/Layer.h"
#include "platform/layers/Transaction.h"

#include <QEvent>

namespace cw {

using platform::layers::Layer;

namespace {
constexpr double imageZ = 5;
constexpr double readingLineZ = 8;
constexpr double indicatorZ = 10;
constexpr double indicatorX = 4;
constexpr double readingLineInset = 20;
} // namespace

EditorBackgroundView::EditorBackgroundView(QWidget* parent)
    : LayerHost(parent)
    , root_(std::make_shared<Layer>())
    , backgroundLayer_(std::make_shared<Layer>())
    , imageLayer_(std::make_shared<Layer>())
    , indicatorLayer_(std::make_shared<IndicatorLayer>())
    , readingLineLayer_(std::make_shared<Layer>()) {
    CW_DCHECK_MAIN_THREAD();
    setUpLayers();
}

EditorBackgroundView::~EditorBackgroundView() = default;

void EditorBackgroundView::setUpLayers() {
    setRootLayer(root_);
    platform::layers::TransactionScope immediate;
    const QRectF bounds(0, 0, width(), height());
    const unsigned sizable = platform::layers::widthSizable | platform::layers::heightSizable;

    backgroundLayer_->setAnchorPoint(QPointF(0, 0));
    backgroundLayer_->setFrame(bounds);
    backgroundLayer_->setBackgroundColor(backgroundColor_);
    backgroundLayer_->setMasksToBounds(true);
    backgroundLayer_->setAutoresizingMask(sizable);
    backgroundLayer_->setOpaque(true);
    root_->addSublayer(backgroundLayer_);

    imageLayer_->setAnchorPoint(QPointF(0, 0));
    imageLayer_->setFrame(bounds);
    imageLayer_->setAutoresizingMask(sizable);
    imageLayer_->setDrawsAsynchronously(true);
    imageLayer_->setContentsGravity(platform::layers::ContentsGravity::resizeAspectFill);
    imageLayer_->setContents(backgroundImage_);
    imageLayer_->setOpaque(false);
    imageLayer_->setZPosition(imageZ);
    imageLayer_->setHidden(!shouldDrawBackgroundImage_);
    imageLayer_->setOpacity(backgroundImageOpacity_);
    backgroundLayer_->addSublayer(imageLayer_);

    indicatorLayer_->setZPosition(indicatorZ);
    indicatorLayer_->setNeedsDisplay();
    backgroundLayer_->addSublayer(indicatorLayer_);

    readingLineLayer_->setAnchorPoint(QPointF(0, 0));
    readingLineLayer_->setZPosition(readingLineZ);
    readingLineLayer_->setHidden(true);
    backgroundLayer_->addSublayer(readingLineLayer_);
    updateContentsScale();
}

IndicatorType EditorBackgroundView::indicatorType() const {
    return indicatorLayer_->indicatorType();
}

void EditorBackgroundView::setIndicatorType(IndicatorType type) {
    CW_DCHECK_MAIN_THREAD();
    if (type != indicatorLayer_->indicatorType()) {
        indicatorLayer_->setIndicatorType(type);
        indicatorLayer_->setNeedsDisplay();
    }
    placeIndicator();
}

IndicatorSize EditorBackgroundView::indicatorSize() const {
    return indicatorLayer_->indicatorSize();
}

void EditorBackgroundView::setIndicatorSize(IndicatorSize size) {
    CW_DCHECK_MAIN_THREAD();
    if (size != indicatorLayer_->indicatorSize()) {
        indicatorLayer_->setIndicatorSize(size);
        indicatorLayer_->setNeedsDisplay();
    }
    placeIndicator();
}

IndicatorColor EditorBackgroundView::indicatorColor() const {
    return indicatorLayer_->indicatorColor();
}

void EditorBackgroundView::setIndicatorColor(IndicatorColor color) {
    CW_DCHECK_MAIN_THREAD();
    indicatorLayer_->setIndicatorColor(color);
    placeIndicator();
}

void EditorBackgroundView::setIndicatorPosition(float position) {
    CW_DCHECK_MAIN_THREAD();
    indicatorPosition_ = position;
    placeIndicator();
}

void EditorBackgroundView::setLineHeight(double lineHeight) {
    CW_DCHECK_MAIN_THREAD();
    lineHeight_ = lineHeight;
    placeIndicator();
}

void EditorBackgroundView::placeIndicator() {
    const QRectF bounds = backgroundLayer_->bounds();
    {
        platform::layers::TransactionScope immediate;
        const double y = bounds.height() * static_cast<double>(indicatorPosition_) - lineHeight_ / 2;
        indicatorLayer_->setFrame(QRectF(indicatorX, y, lineHeight_, lineHeight_));
        indicatorLayer_->setNeedsDisplay();
    }
    layoutReadingLine(bounds);
}

void EditorBackgroundView::placeIndicatorForFrame() {
    platform::layers::TransactionScope immediate;
    const double h = lineHeight_ * 0.5;
    const double y = height() * static_cast<double>(indicatorPosition_) - h / 2;
    indicatorLayer_->setFrame(QRectF(indicatorX, y, h * 0.75, h));
    indicatorLayer_->setNeedsDisplay();
}

void EditorBackgroundView::applyScriptProperties(const DocumentScriptProperties& p) {
    CW_DCHECK_MAIN_THREAD();
    platform::layers::TransactionScope immediate;
    if (shouldDrawBackgroundImage_ != p.showBackgroundImage) {
        shouldDrawBackgroundImage_ = p.showBackgroundImage;
        imageLayer_->setHidden(!shouldDrawBackgroundImage_);
    }
    if (backgroundImageOpacity_ != p.backgroundImageOpacity) {
        backgroundImageOpacity_ = p.backgroundImageOpacity;
        imageLayer_->setOpacity(backgroundImageOpacity_);
    }
    // Decoding is the costly part: only a different picture is decoded again.
    if (backgroundImageData_ != p.backgroundImage) {
        backgroundImageData_ = p.backgroundImage;
        backgroundImage_ = p.backgroundImage ? QImage::fromData(p.backgroundImage->data(),
                                                                static_cast<int>(p.backgroundImage->size()))
                                             : QImage();
        imageLayer_->setContents(backgroundImage_);
    }
    if (const QColor colour = p.backgroundColor.toQColor(); backgroundColor_ != colour) {
        backgroundColor_ = colour;
        backgroundLayer_->setBackgroundColor(colour);
    }
    if (indicatorType() != p.indicatorType) {
        setIndicatorType(p.indicatorType);
    }
    if (showsReadingLine_ != p.showReadingLine) {
        showsReadingLine_ = p.showReadingLine;
        layoutReadingLine(backgroundLayer_->bounds());
    }
    if (indicatorSize() != p.indicatorSize) {
        setIndicatorSize(p.indicatorSize);
    }
    if (indicatorColor() != p.indicatorColor) {
        setIndicatorColor(p.indicatorColor);
    }
    if (indicatorPosition_ != p.indicatorPosition) {
        setIndicatorPosition(p.indicatorPosition);
    }
    // Mirrored about its own bounds: what the user sees of the script is mirrored with it.
    if (backgroundLayer_->isFlippedHorizontally() != p.flipHorizontal ||
        backgroundLayer_->isFlippedVertically() != p.flipVertical) {
        backgroundLayer_->setMirroring(p.flipHorizontal, p.flipVertical);
    }
}

void EditorBackgroundView::layoutReadingLine(const QRectF& rect) {
    CW_DCHECK_MAIN_THREAD();
    platform::layers::TransactionScope immediate;
    // The line takes the indicator's colour; "white" follows the default text colour.
    const QColor color = IndicatorShape::resolvedColor(indicatorLayer_->indicatorColor());
    readingLineLayer_->setHidden(!showsReadingLine_);
    const QRectF line(readingLineInset, rect.height() * static_cast<double>(indicatorPosition_) - 0.5,
                      rect.width() - 2 * readingLineInset, 1);
    readingLineLayer_->setFrame(alignedToPixels(line, devicePixelRatioF()));
    readingLineLayer_->setBackgroundColor(color);
    readingLineLayer_->setNeedsDisplay();
}

void EditorBackgroundView::tellDelegate() {
    if (ignoreDelegate_) {
        return;
    }
    if (const auto delegate = delegate_.lock()) {
        delegate->editorBackgroundViewDidLayout(*this);
    }
}

void EditorBackgroundView::updateContentsScale() {
    const double scale = devicePixelRatioF();
    for (Layer* layer : {root_.get(), backgroundLayer_.get(), static_cast<Layer*>(indicatorLayer_.get()),
                         imageLayer_.get(), readingLineLayer_.get()}) {
        layer->setContentsScale(scale);
    }
}

void EditorBackgroundView::resizeEvent(QResizeEvent* event) {
    LayerHost::resizeEvent(event);
    placeIndicatorForFrame();
    tellDelegate();
}

void EditorBackgroundView::showEvent(QShowEvent* event) {
    LayerHost::showEvent(event);
    updateContentsScale();
}

bool EditorBackgroundView::event(QEvent* event) {
    const bool handled = LayerHost::event(event);
    // Moved to a screen of another pixel ratio.
    if (event->type() == QEvent::ScreenChangeInternal) {
        updateContentsScale();
    }
    return handled;
}

} // namespace cw

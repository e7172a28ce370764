#include "cuewright/prompter/PrompterView.h"

#include "cuewright/model/ScriptProperties.h"
#include "cuewright/model/TextUtils.h"
#include "cuewright/model/TimeFormat.h"
#include "cuewright/model/UserDefaults.h"
#include "cuewright/prompter/IndicatorLayer.h"
#include "cuewright/prompter/IndicatorShape.h"
#include "cuewright/prompter/LineUpDownLayer.h"
#include "cuewright/prompter/OverlayLayer.h"
#include "cuewright/prompter/PrompterTextLayout.h"
#include "cuewright/prompter/PrompterViewDelegate.h"
#include "cuewright/prompter/RewindControlLayer.h"
#include "cuewright/prompter/ScrollProgressLayer.h"
#include "cuewright/prompter/SpeedControlLayer.h"
#include "cuewright/prompter/SpeedLabelLayer.h"
#include "cuewright/prompter/TimestampLayer.h"
#include "cuewright/prompter/TransportControlLayer.h"
#include "platform/layers/TileCache.h"
#include "platform/layers/TiledTextLayer.h"
#include "platform/layers/Transaction.h"
#include "platform/text/Font.h"
#include "platform/text/TextAttributes.h"
#include "platform/ui/CursorHider.h"
#include "platform/ui/LiveResizeWatcher.h"

#include <QEvent>
#include <QResizeEvent>
#include <QScreen>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace cw {

using platform::layers::Layer;
using platform::layers::TiledTextLayer;
using platform::layers::Transaction;
using platform::layers::TransactionScope;

namespace {

constexpr double referenceArea = 753894;
constexpr double maxChunkHeight = 4096;
constexpr double scrollMoveDuration = 0.15;
constexpr double animatedRelayoutDuration = 0.25;
// The view's own tile cache holds one and a half screens of pixels: what is visible (tiles are only
// rendered once they show), the tiles cut by the edges and a few that just scrolled away, for a
// step back; never less than this. At 4K every further screen costs 33 MB.
constexpr std::size_t minimumTileBytes = 8u << 20;
constexpr double screensOfTiles = 1.5;

// The rectangle snapped to whole device pixels (origin and far edges rounded).
QRectF alignedToPixels(const QRectF& rect, double scale) {
    const auto snap = [scale](double v) { return std::round(v * scale) / scale; };
    const double left = snap(rect.left());
    const double bottom = snap(rect.top());
    return QRectF(left, bottom, snap(rect.right()) - left, snap(rect.bottom()) - bottom);
}

Qt::Alignment qtAlignment(TextAlignment alignment) {
    switch (alignment) {
    case TextAlignment::left:
        return Qt::AlignLeft | Qt::AlignAbsolute;
    case TextAlignment::center:
        return Qt::AlignHCenter;
    case TextAlignment::right:
        return Qt::AlignRight | Qt::AlignAbsolute;
    }
    return Qt::AlignHCenter;
}

// Runs without a font get the system font, so that every run follows the prompter's font size.
platform::AttributedString withFonts(const platform::AttributedString& text, double pointSize) {
    platform::AttributedString result = text;
    if (result.isEmpty()) {
        return result;
    }
    const platform::Font fallback = platform::Font::systemFont(pointSize);
    result.modifyAttributes(result.fullRange(), [&fallback](platform::Attributes& attributes) {
        if (!attributes.font) {
            attributes.font = fallback;
        }
    });
    return result;
}

QImage decodeImage(const std::optional<std::vector<std::uint8_t>>& data) {
    if (!data || data->empty()) {
        return {};
    }
    return QImage::fromData(data->data(), static_cast<int>(data->size()));
}

} // namespace

PrompterView::PrompterView(QWidget* parent)
    : LayerHost(parent)
    , text_(QStringLiteral("Hello"))
    , tileCache_(std::make_shared<platform::layers::TileCache>(minimumTileBytes))
    , ownsTileCache_(true)
    , root_(std::make_shared<Layer>())
    , backgroundLayer_(std::make_shared<Layer>())
    , imageLayer_(std::make_shared<Layer>())
    , fillLayer_(std::make_shared<Layer>())
    , scrollLayer_(std::make_shared<Layer>())
    , overlayLayer_(std::make_shared<OverlayLayer>())
    , indicatorLayer_(std::make_shared<IndicatorLayer>())
    , readingLineLayer_(std::make_shared<Layer>())
    , borderLayer_(std::make_shared<Layer>())
    , uiLayer_(std::make_shared<Layer>())
    , transportLayer_(std::make_shared<TransportControlLayer>())
    , rewindLayer_(std::make_shared<RewindControlLayer>())
    , speedLayer_(std::make_shared<SpeedControlLayer>())
    , speedLabelLayer_(std::make_shared<SpeedLabelLayer>())
    , timestampLayer_(std::make_shared<TimestampLayer>())
    , lineUpLayer_(std::make_shared<LineUpDownLayer>(LineUpDownLayer::Mode::up))
    , lineDownLayer_(std::make_shared<LineUpDownLayer>(LineUpDownLayer::Mode::down))
    , progressLayer_(std::make_shared<ScrollProgressLayer>()) {
    setFocusPolicy(Qt::StrongFocus);
    setupLayers();
    liveResize_ = new platform::LiveResizeWatcher(this);
    connect(liveResize_, &platform::LiveResizeWatcher::liveResizeEnded, this,
            &PrompterView::liveResizeDidEnd);
}

PrompterView::~PrompterView() = default;

// ---- set-up ----

void PrompterView::setupLayers() {
    cursorHider_ = new platform::CursorHider(this);
    cursorHider_->hideUntilMouseMoves();

    TransactionScope immediate;
    const QRectF bounds(0, 0, width(), height());
    root_->setMasksToBounds(true);
    setRootLayer(root_);
    const bool seeThrough = windowOpacity_ < 1.0f;
    // The root's own colour stays clear even when opaque: the background layer covers the whole
    // view in the same colour, and a second full fill per frame costs milliseconds at 4K.
    root_->setOpaque(!seeThrough);
    setBackgroundColor(seeThrough ? QColor(Qt::transparent) : backgroundColor_);

    fillLayer_->setDrawsAsynchronously(true);
    fillLayer_->setAnchorPoint(QPointF(0, 0));
    fillLayer_->setFrame(bounds);
    fillLayer_->setContentsGravity(platform::layers::ContentsGravity::resizeAspectFill);
    fillLayer_->setOpacity(windowOpacity_);
    fillLayer_->setBackgroundColor(backgroundColor_);
    fillLayer_->setOpaque(true);
    fillLayer_->setHidden(!seeThrough);
    fillLayer_->setZPosition(0);
    root_->addSublayer(fillLayer_);

    backgroundLayer_->setAnchorPoint(QPointF(0, 0));
    backgroundLayer_->setOpaque(!seeThrough);
    backgroundLayer_->setBackgroundColor(seeThrough ? QColor(Qt::transparent) : backgroundColor_);
    backgroundLayer_->setMasksToBounds(true);
    backgroundLayer_->setFrame(bounds);
    backgroundLayer_->setZPosition(0);
    root_->addSublayer(backgroundLayer_);

    imageLayer_->setDrawsAsynchronously(true);
    imageLayer_->setAnchorPoint(QPointF(0, 0));
    imageLayer_->setFrame(bounds);
    imageLayer_->setContentsGravity(platform::layers::ContentsGravity::resizeAspectFill);
    imageLayer_->setOpacity(backgroundImageOpacity_);
    imageLayer_->setContents(backgroundImage_);
    imageLayer_->setOpaque(!seeThrough);
    imageLayer_->setZPosition(5);
    imageLayer_->setHidden(true);
    backgroundLayer_->addSublayer(imageLayer_);

    scrollLayer_->setAnchorPoint(QPointF(0, 0));
    scrollLayer_->setPosition(QPointF(0, 0));
    scrollLayer_->setAutoresizingMask(platform::layers::widthSizable | platform::layers::heightSizable);
    scrollLayer_->setZPosition(10);
    backgroundLayer_->addSublayer(scrollLayer_);

    // The fade starts in the background colour; otherwise a script on the initial colour would
    // fade into the overlay's own red until its colour first changed.
    overlayLayer_->setGradientColor(backgroundColor_);
    overlayLayer_->updateOverlay();
    overlayLayer_->setZPosition(15);
    overlayLayer_->setOpacity(1.0);
    backgroundLayer_->addSublayer(overlayLayer_);

    borderLayer_->setAnchorPoint(QPointF(0, 0));
    borderLayer_->setMasksToBounds(true);
    const QRectF inset = bounds.adjusted(1, 1, -1, -1);
    borderLayer_->setFrame(QRectF(inset.topLeft(), QSizeF(inset.width(), inset.height() + 5)));
    borderLayer_->setBorderColor(Qt::darkGray);
    borderLayer_->setBorderWidth(1.0);
    borderLayer_->setZPosition(11);
    borderLayer_->setAutoresizingMask(platform::layers::widthSizable | platform::layers::heightSizable);
    borderLayer_->setOpaque(true);
    backgroundLayer_->addSublayer(borderLayer_);

    setupUILayer();
    setupIndicatorLayer();
    setupReadingLineLayer();
}

void PrompterView::addControlLayer(Layer& layer, const QRectF& frame) {
    layer.setZPosition(20);
    layer.setFrame(frame);
    layer.setContentsScale(backingScale());
    uiLayer_->addSublayer(layer.shared_from_this());
    layer.setNeedsDisplay();
}

void PrompterView::setupUILayer() {
    const double scale = backingScale();
    uiLayer_->setAnchorPoint(QPointF(0, 0));
    uiLayer_->setMasksToBounds(true);
    uiLayer_->setFrame(QRectF(0, 0, width(), height()));
    uiLayer_->setZPosition(19);
    uiLayer_->setContentsScale(scale);
    root_->addSublayer(uiLayer_);
    uiLayer_->setHidden(!showsControls_);

    addControlLayer(*transportLayer_, QRectF(0, 0, 200, 100));

    rewindLayer_->setZPosition(20);
    rewindLayer_->setContentsScale(scale);
    uiLayer_->addSublayer(rewindLayer_);
    rewindLayer_->setNeedsDisplay();

    addControlLayer(*speedLayer_, QRectF());

    speedLabelLayer_->setAnchorPoint(QPointF(0, 0));
    speedLabelLayer_->setZPosition(20);
    speedLabelLayer_->setContentsScale(scale);
    speedLabelLayer_->setAlignmentMode(platform::layers::TextAlignmentMode::center);
    speedLabelLayer_->setForegroundColor(Qt::red);
    speedLabelLayer_->setMode(preferredScrollSpeedDisplayMode());
    speedLabelLayer_->updateFontSize();
    speedLabelLayer_->setBorderColor(Qt::red);
    speedLabelLayer_->setBorderWidth(1.0);
    speedLabelLayer_->setCornerRadius(6);
    speedLabelLayer_->setFontSize(20);
    speedLabelLayer_->setBackgroundColor(QColor::fromRgbF(0, 0, 0, 0.5));
    uiLayer_->addSublayer(speedLabelLayer_);
    speedLabelLayer_->setNeedsDisplay();

    timestampLayer_->setAnchorPoint(QPointF(0, 0));
    timestampLayer_->setZPosition(20);
    timestampLayer_->setContentsScale(scale);
    timestampLayer_->setAlignmentMode(platform::layers::TextAlignmentMode::center);
    timestampLayer_->setForegroundColor(Qt::red);
    timestampLayer_->setFontSize(40);
    timestampLayer_->setBorderColor(Qt::red);
    timestampLayer_->setBorderWidth(1.0);
    timestampLayer_->setCornerRadius(6);
    timestampLayer_->setBackgroundColor(QColor::fromRgbF(0, 0, 0, 0.75));
    root_->addSublayer(timestampLayer_);
    timestampLayer_->setNeedsDisplay();

    for (LineUpDownLayer* layer : {lineUpLayer_.get(), lineDownLayer_.get()}) {
        layer->setZPosition(20);
        layer->setContentsScale(scale);
        uiLayer_->addSublayer(layer->shared_from_this());
        layer->setNeedsDisplay();
    }

    progressLayer_->setZPosition(20);
    progressLayer_->setContentsScale(scale);
    root_->addSublayer(progressLayer_);
    progressLayer_->setFlippedHorizontally(flipHorizontal_);
    progressLayer_->updateBar(progressLayer_->bounds());
    progressLayer_->setNeedsDisplay();
}

void PrompterView::setupIndicatorLayer() {
    indicatorLayer_->setZPosition(9);
    indicatorLayer_->setContentsScale(backingScale());
    backgroundLayer_->addSublayer(indicatorLayer_);
    indicatorLayer_->setNeedsDisplay();
}

void PrompterView::setupReadingLineLayer() {
    readingLineLayer_->setAnchorPoint(QPointF(0, 0));
    readingLineLayer_->setZPosition(8);
    readingLineLayer_->setContentsScale(backingScale());
    readingLineLayer_->setHidden(true);
    backgroundLayer_->addSublayer(readingLineLayer_);
    readingLineLayer_->setNeedsDisplay();
}

double PrompterView::backingScale() const {
    return window() != nullptr && window()->windowHandle() != nullptr ? devicePixelRatioF() : 1.0;
}

// ---- observed properties ----

void PrompterView::setBackgroundColor(const QColor& color) {
    if (color == backgroundColor_) {
        return;
    }
    backgroundColor_ = color;
    TransactionScope immediate;
    backgroundLayer_->setBackgroundColor(windowOpacity_ < 1.0f ? QColor(Qt::transparent) : color);
    fillLayer_->setBackgroundColor(color);
    if (overlayLayer_->gradientColor() != color) {
        overlayLayer_->setGradientColor(color);
        overlayLayer_->updateOverlay();
    }
}

void PrompterView::setBackgroundImage(const QImage& image) {
    if (image.cacheKey() == backgroundImage_.cacheKey()) {
        return;
    }
    backgroundImage_ = image;
    TransactionScope immediate;
    imageLayer_->setContents(image);
}

void PrompterView::setIndicatorPosition(float position) {
    indicatorPosition_ = position;
    if (overlayLayer_->verticalCenter() != position) {
        overlayLayer_->setVerticalCenter(position);
        overlayLayer_->updateOverlay();
    }
}

IndicatorType PrompterView::indicatorType() const {
    return indicatorLayer_->indicatorType();
}

void PrompterView::setIndicatorType(IndicatorType type) {
    TransactionScope immediate;
    if (indicatorLayer_->indicatorType() != type) {
        indicatorLayer_->setIndicatorType(type);
        indicatorLayer_->setNeedsDisplay();
    }
    frameIndicator();
}

IndicatorSize PrompterView::indicatorSize() const {
    return indicatorLayer_->indicatorSize();
}

void PrompterView::setIndicatorSize(IndicatorSize size) {
    TransactionScope immediate;
    if (indicatorLayer_->indicatorSize() != size) {
        indicatorLayer_->setIndicatorSize(size);
        indicatorLayer_->setNeedsDisplay();
    }
    frameIndicator();
}

IndicatorColor PrompterView::indicatorColor() const {
    return indicatorLayer_->indicatorColor();
}

void PrompterView::setIndicatorColor(IndicatorColor color) {
    TransactionScope immediate;
    indicatorLayer_->setIndicatorColor(color);
    frameIndicator();
    layoutReadingLine(backgroundLayer_->bounds());
}

OverlayType PrompterView::overlayType() const {
    return overlayLayer_->overlayType();
}

void PrompterView::setOverlayType(OverlayType type) {
    if (overlayLayer_->overlayType() == type) {
        return;
    }
    overlayLayer_->setOverlayType(type);
    overlayLayer_->updateOverlay();
}

double PrompterView::overlayOpacity() const {
    return overlayLayer_->opacity();
}

void PrompterView::setOverlayOpacity(double opacity) {
    TransactionScope immediate;
    overlayLayer_->setOpacity(opacity);
}

void PrompterView::frameIndicator() {
    const double h = backgroundLayer_->bounds().height();
    TransactionScope immediate;
    indicatorLayer_->setFrame(
        QRectF(4, h * indicatorPosition_ - lineHeight_ * 0.5, lineHeight_, lineHeight_));
    indicatorLayer_->setNeedsDisplay();
}

void PrompterView::applyScriptProperties(const DocumentScriptProperties& p, TextAlignment alignment,
                                         bool force) {
    bool needsLayout = false;
    bool needsRelayout = false;

    if (p.backgroundImage != backgroundImageData_ || force) {
        backgroundImageData_ = p.backgroundImage;
        setBackgroundImage(decodeImage(p.backgroundImage));
    }
    if (alignment != textAlignment_) {
        textAlignment_ = alignment;
        needsLayout = true;
    }
    if (p.showBackgroundImage != showsBackgroundImage_) {
        showsBackgroundImage_ = p.showBackgroundImage;
        updateImageLayer();
    }
    if (p.backgroundImageOpacity != backgroundImageOpacity_) {
        backgroundImageOpacity_ = p.backgroundImageOpacity;
        TransactionScope immediate;
        imageLayer_->setOpacity(backgroundImageOpacity_);
    }
    setBackgroundColor(p.backgroundColor.toQColor());
    if (p.prompterMargin != prompterMargin_ || p.prompterMarginAlignment != prompterMarginAlignment_ ||
        p.prompterWordCountFactor != prompterWordCountFactor_) {
        prompterMargin_ = p.prompterMargin;
        prompterMarginAlignment_ = p.prompterMarginAlignment;
        prompterWordCountFactor_ = p.prompterWordCountFactor;
        needsLayout = true;
    }
    if (p.indicatorType != indicatorType() || force) {
        setIndicatorType(p.indicatorType);
    }
    if (p.showReadingLine != showsReadingLine_ || force) {
        showsReadingLine_ = p.showReadingLine;
        layoutReadingLine(backgroundLayer_->bounds());
    }
    if (p.indicatorSize != indicatorSize() || force) {
        setIndicatorSize(p.indicatorSize);
    }
    if (p.indicatorColor != indicatorColor() || force) {
        setIndicatorColor(p.indicatorColor);
    }
    if (p.indicatorPosition != indicatorPosition_) {
        setIndicatorPosition(p.indicatorPosition);
        needsRelayout = true;
    }
    if (p.overlayType != overlayType() || force) {
        setOverlayType(p.overlayType);
    }
    if (p.overlayOpacity != overlayOpacity() || force) {
        setOverlayOpacity(p.overlayOpacity);
    }
    if (needsLayout) {
        layoutText();
    }
    if (needsLayout || needsRelayout) {
        relayout(false);
    }
}

void PrompterView::setShowsControls(bool shows) {
    showsControls_ = shows;
    TransactionScope immediate;
    uiLayer_->setHidden(!shows);
}

void PrompterView::setShowsTimestamp(bool shows) {
    showsTimestamp_ = shows;
    TransactionScope immediate;
    timestampLayer_->setHidden(!shows);
}

void PrompterView::setShowsProgress(bool shows) {
    showsProgress_ = shows;
    TransactionScope immediate;
    progressLayer_->setHidden(!shows);
}

void PrompterView::setControlsOpacity(float opacity) {
    controlsOpacity_ = opacity;
    TransactionScope immediate;
    uiLayer_->setOpacity(opacity);
    timestampLayer_->setOpacity(opacity);
}

void PrompterView::setScrollSpeedFigures(double linesPerSecond, double linesPerMinute, double wordsPerSecond,
                                         double wordsPerMinute) {
    scrollSpeedLPS_ = linesPerSecond;
    scrollSpeedLPM_ = linesPerMinute;
    scrollSpeedWPS_ = wordsPerSecond;
    scrollSpeedWPM_ = wordsPerMinute;
}

double PrompterView::scrollSpeed() const {
    return speedLayer_->scrollSpeed();
}

void PrompterView::setScrollSpeed(double percent) {
    if (speedLayer_->scrollSpeed() == percent) {
        return;
    }
    speedLayer_->setScrollSpeed(percent);
    speedLayer_->setNeedsDisplay();
}

SpeedDisplayMode PrompterView::speedDisplayMode() const {
    return speedLabelLayer_->mode();
}

void PrompterView::setSpeedDisplayMode(SpeedDisplayMode mode) {
    speedLabelLayer_->setMode(mode);
    speedLabelLayer_->updateFontSize();
}

void PrompterView::setKeyHints(const KeyHints& hints) {
    if (hints == keyHints_) {
        return;
    }
    keyHints_ = hints;
    transportLayer_->setKeyHints(hints);
    rewindLayer_->setKeyHints(hints);
    speedLayer_->setKeyHints(hints);
    lineUpLayer_->setKeyHints(hints);
    lineDownLayer_->setKeyHints(hints);
    for (Layer* layer : {static_cast<Layer*>(transportLayer_.get()), static_cast<Layer*>(rewindLayer_.get()),
                         static_cast<Layer*>(speedLayer_.get()), static_cast<Layer*>(lineUpLayer_.get()),
                         static_cast<Layer*>(lineDownLayer_.get())}) {
        layer->setNeedsDisplay();
    }
}

void PrompterView::setTransportState(const PrompterTransport& state) {
    transportState_ = state;
    if (transportLayer_->transportState() != state.status) {
        transportLayer_->setTransportState(state.status);
        transportLayer_->setNeedsDisplay();
    }
    updateLineStepHighlight();
}

void PrompterView::setTransportProgress(double progress) {
    if (progress == transportProgress_) {
        return;
    }
    transportProgress_ = progress;
    if (progressLayer_->progress() != progress) {
        progressLayer_->setProgress(progress);
        TransactionScope immediate;
        progressLayer_->updateBar(progressLayer_->bounds());
    }
}

void PrompterView::fitTileCache() {
    if (!ownsTileCache_) {
        return;
    }
    const double scale = backingScale();
    const auto bytes = static_cast<std::size_t>(screensOfTiles * width() * height() * scale * scale * 4);
    tileCache_->setByteLimit(std::max(bytes, minimumTileBytes));
}

void PrompterView::setTileCache(std::shared_ptr<platform::layers::TileCache> cache) {
    ownsTileCache_ = !cache;
    tileCache_ = cache ? std::move(cache) : std::make_shared<platform::layers::TileCache>(minimumTileBytes);
    fitTileCache();
    for (const auto& layer : textLayers_) {
        layer->setTileCache(tileCache_);
    }
}

// ---- text layout and scrolling ----

void PrompterView::layoutText() {
    for (const auto& layer : textLayers_) {
        layer->removeFromSuperlayer();
    }
    textLayers_.clear();
    buildCounter_ = 0;

    const QRectF bounds = backgroundLayer_->bounds();
    const double w = bounds.width();
    const double h = bounds.height();
    textWidth_ = w * (1 - prompterMargin_) - 10;
    lineHeight_ = std::max(8.0, textWidth_ / 5 * (1 - prompterWordCountFactor_));
    if (overlayLayer_->lineHeight() != lineHeight_) {
        overlayLayer_->setLineHeight(lineHeight_);
        overlayLayer_->updateOverlay();
    }

    const platform::AttributedString fitted =
        TextUtils::applyFontAndParagraphStyle(withFonts(text_, lineHeight_), lineHeight_);
    static const LayerTypesetter layerTypesetter;
    const platform::Typesetter& typesetter = typesetter_ != nullptr ? *typesetter_ : layerTypesetter;
    const double columnWidth = std::max(0.0, textWidth_);
    PrompterTextMetrics metrics = measurePrompterText(fitted, columnWidth, typesetter, maxChunkHeight);
    graphicLineHeight_ = metrics.graphicLineHeight;
    lineOffsets_ = std::move(metrics.lineOffsets);

    TransactionScope immediate;
    textHeight_ = 0;
    double a = 0;
    const Qt::Alignment alignment = qtAlignment(textAlignment_);
    for (TextChunk& chunk : metrics.chunks) {
        auto layer = std::make_shared<TiledTextLayer>();
        layer->setMasksToBounds(true);
        layer->setAnchorPoint(QPointF(0, 0));
        layer->setOpaque(false);
        layer->setAutoresizingMask(platform::layers::notSizable);
        layer->setTileCache(tileCache_);
        const double cw = chunk.boundingSize.width();
        const double ch = chunk.boundingSize.height();
        const double c = w / 2 - cw / 2;
        const double m = prompterMarginAlignment_;
        double shift = 0;
        if (m < 0) {
            shift = (c - bounds.left()) * m;
        } else if (m > 0) {
            shift = m * (bounds.right() - (c + cw));
        }
        layer->setFrame(QRectF(c + shift, a + h - ch, cw, ch));
        layer->setSource(
            std::make_shared<PrompterTextSource>(std::move(chunk.text), chunk.boundingSize, alignment));
        textHeight_ += chunk.advance;
        a -= chunk.advance;
        textLayers_.push_back(std::move(layer));
    }
    // The shown progress stays put: the next relayout places the new text there.
    scrollOffset_ = textHeight_ * transportProgress_;
}

void PrompterView::setScrollPosition(double progress, bool animated, bool force) {
    setTransportProgress(progress);
    ++buildCounter_;
    scrollOffset_ = textHeight_ * progress;
    const double y = scrollOffset_ - height() * (1 - indicatorPosition_);
    if (y != lastScrollY_) {
        travel_ = y > lastScrollY_ ? 1 : -1;
        lastScrollY_ = y;
    }
    {
        std::optional<TransactionScope> moving;
        if (animated) {
            // Starts from the presentation value, replacing the chase still running.
            moving.emplace(scrollMoveDuration, platform::layers::TimingFunction::linear);
        } else {
            // A jump lands at once; a chase left running would pull the text back to its old target.
            scrollLayer_->removeAnimation(platform::layers::AnimationKey::position);
            moving.emplace();
        }
        scrollLayer_->setPosition(QPointF(0, y));
    }
    if (buildCounter_ % 8 == 0 || force) {
        updateVisibleTextLayers();
    }
}

void PrompterView::updateVisibleTextLayers() {
    TransactionScope immediate;
    const double scale = backingScale();
    const double viewHeight = height();
    // Layers are culled only every few moves, so the area kept reaches one screen further in the
    // direction of travel: a chunk that enters before the next cull is already in the tree. What is
    // still on screen while an animated move runs (the presentation value) is kept too.
    const double modelY = scrollLayer_->position().y();
    const double shownY = scrollLayer_->presentationPosition().y();
    const double keepBottom = travel_ > 0 ? -viewHeight : 0;
    const double keepTop = travel_ > 0 ? viewHeight : 2 * viewHeight;
    const auto overlaps = [](double bottom, double top, double lo, double hi) {
        return bottom < hi && top > lo;
    };
    for (const auto& layer : textLayers_) {
        const QRectF frame = layer->frame();
        const bool near = frame.width() > 0 && frame.height() > 0 &&
                          (overlaps(frame.top() + modelY, frame.bottom() + modelY, keepBottom, keepTop) ||
                           overlaps(frame.top() + shownY, frame.bottom() + shownY, 0, viewHeight));
        const bool inTree = layer->superlayer() != nullptr;
        if (inTree && !near) {
            layer->removeFromSuperlayer();
        } else if (!inTree && near) {
            if (layer->contentsScale() != scale) {
                layer->setContentsScale(scale);
            }
            scrollLayer_->addSublayer(layer);
        }
    }
}

// ---- layers and appearance ----

void PrompterView::relayout(bool animated) {
    fitTileCache();
    Transaction::begin();
    if (animated) {
        Transaction::setDisableActions(false);
        Transaction::setAnimationDuration(animatedRelayoutDuration);
    } else {
        Transaction::setDisableActions(true);
    }
    backgroundLayer_->setMirroring(flipHorizontal_, flipVertical_);
    layoutBackground();
    updateImageLayer();
    scrollLayer_->setPosition(QPointF(0, scrollOffset_ - height() * (1 - indicatorPosition_)));
    updateVisibleTextLayers();
    overlayLayer_->setFrame(backgroundLayer_->bounds());
    overlayLayer_->updateOverlay();
    frameIndicator();
    layoutReadingLine(backgroundLayer_->bounds());
    layoutControls();
    Transaction::commit();
}

void PrompterView::layoutBackground() {
    const QRectF bounds(0, 0, width(), height());
    backgroundLayer_->setFrame(bounds);
    fillLayer_->setFrame(bounds);
    fillLayer_->setBackgroundColor(backgroundColor_);
    fillLayer_->setOpacity(windowOpacity_);
    const bool seeThrough = windowOpacity_ < 1.0f;
    backgroundLayer_->setOpaque(!seeThrough);
    backgroundLayer_->setBackgroundColor(seeThrough ? QColor(Qt::transparent) : backgroundColor_);
}

void PrompterView::updateImageLayer() {
    TransactionScope immediate;
    imageLayer_->setHidden(windowOpacity_ < 1.0f || !showsBackgroundImage_);
    if (imageLayer_->contents().cacheKey() != backgroundImage_.cacheKey()) {
        imageLayer_->setContents(backgroundImage_);
    }
    imageLayer_->setOpacity(backgroundImageOpacity_);
    imageLayer_->setFrame(backgroundLayer_->bounds());
}

void PrompterView::applyWindowOpacity() {
    TransactionScope immediate;
    const bool seeThrough = windowOpacity_ < 1.0f;
    if (seeThrough) {
        root_->setOpaque(false);
        root_->setBackgroundColor(Qt::transparent);
        LayerHost::setBackgroundColor(Qt::transparent);
        backgroundLayer_->setOpaque(false);
        backgroundLayer_->setBackgroundColor(Qt::transparent);
        imageLayer_->setHidden(true);
    } else {
        root_->setOpaque(true);
        LayerHost::setBackgroundColor(backgroundColor_);
        backgroundLayer_->setOpaque(true);
        backgroundLayer_->setBackgroundColor(backgroundColor_);
        imageLayer_->setHidden(!showsBackgroundImage_);
    }
    fillLayer_->setBackgroundColor(backgroundColor_);
    fillLayer_->setHidden(!seeThrough);
    fillLayer_->setOpacity(windowOpacity_);
}

double PrompterView::controlScale() const {
    const QRectF frame = uiLayer_->frame();
    return std::clamp(frame.width() * frame.height() / referenceArea, 0.32, 1.0);
}

void PrompterView::layoutControls() {
    TransactionScope immediate;
    const double pixels = backingScale();
    uiLayer_->setFrame(alignedToPixels(QRectF(0, 0, width(), height()), pixels));
    // The time read-out is mirrored about its own bounds, so it stays where its frame puts it.
    uiLayer_->setMirroring(flipHorizontal_, flipVertical_);
    timestampLayer_->setMirroring(flipHorizontal_, flipVertical_);

    const double s = controlScale();
    const bool labels = drawsControlLabels();
    const QRectF r = uiLayer_->bounds();
    const double w = r.width();
    const double h = r.height();

    rewindLayer_->setFrame(QRectF(w - 10 - 66 * s, h - 10 - 66 * s, 66 * s, 66 * s));
    transportLayer_->setFrame(QRectF(w / 2 - 450 * s / 2, 10, 450 * s, 75 * s));
    speedLayer_->setFrame(
        alignedToPixels(QRectF(w - 66 * s - 10, h / 2 - 396 * s / 2 - 20, 66 * s, 396 * s), pixels));
    const QRectF speed = speedLayer_->frame();
    speedLabelLayer_->setFrame(
        alignedToPixels(QRectF(w - 66 * s - 10, speed.bottom() - 1, 66 * s, 24 * s), pixels));
    speedLabelLayer_->setScaleFactor(s);
    speedLabelLayer_->updateFontSize();
    timestampLayer_->setFrame(alignedToPixels(QRectF(flipHorizontal_ ? 10 : w - 220 * s - 10,
                                                     flipVertical_ ? h - 48 * s - 10 : 10, 220 * s, 48 * s),
                                              pixels));
    timestampLayer_->setFontSize(40 * s);
    lineDownLayer_->setFrame(alignedToPixels(QRectF(10, 10, 66 * s, 66 * s), pixels));
    lineDownLayer_->setScaleFactor(s);
    lineUpLayer_->setFrame(alignedToPixels(QRectF(10, 66 * s + 20, 66 * s, 66 * s), pixels));
    lineUpLayer_->setScaleFactor(s);

    transportLayer_->setDrawsLabel(labels);
    rewindLayer_->setDrawsLabel(labels);
    speedLayer_->setDrawsLabel(labels);
    speedLabelLayer_->setDrawsLabel(labels);
    timestampLayer_->setDrawsLabel(labels);
    lineUpLayer_->setDrawsLabel(labels);
    lineDownLayer_->setDrawsLabel(labels);
    for (Layer* layer : {static_cast<Layer*>(transportLayer_.get()), static_cast<Layer*>(rewindLayer_.get()),
                         static_cast<Layer*>(speedLayer_.get()), static_cast<Layer*>(speedLabelLayer_.get()),
                         static_cast<Layer*>(timestampLayer_.get()), static_cast<Layer*>(lineUpLayer_.get()),
                         static_cast<Layer*>(lineDownLayer_.get())}) {
        layer->setNeedsDisplay();
    }

    progressLayer_->setFrame(alignedToPixels(QRectF(0, flipVertical_ ? h - 5 * s : 0, w, 5 * s), pixels));
    progressLayer_->setFlippedHorizontally(flipHorizontal_);
    progressLayer_->updateBar(progressLayer_->bounds());
}

void PrompterView::layoutReadingLine(const QRectF& r) {
    TransactionScope immediate;
    readingLineLayer_->setHidden(!showsReadingLine_);
    readingLineLayer_->setFrame(alignedToPixels(
        QRectF(20, r.height() * indicatorPosition_ - 0.5, r.width() - 40, 1), backingScale()));
    readingLineLayer_->setBackgroundColor(readingLineColor());
    readingLineLayer_->setNeedsDisplay();
}

QColor PrompterView::readingLineColor() const {
    return IndicatorShape::resolvedColor(indicatorLayer_->indicatorColor());
}

void PrompterView::updateLineStepHighlight() {
    if (mouseIsDown_ || keyIsDown_) {
        return;
    }
    const QColor lit = QColor::fromRgbF(1, 0, 0, 0.5);
    const QColor dark = QColor::fromRgbF(0, 0, 0, 0.5);
    TransactionScope immediate;
    if (!transportState_.isPlaying()) {
        lineUpLayer_->setBackgroundColor(dark);
        lineDownLayer_->setBackgroundColor(dark);
        return;
    }
    const bool forwards = transportState_.ffwdFactor >= 0;
    lineDownLayer_->setBackgroundColor(forwards ? lit : dark);
    lineUpLayer_->setBackgroundColor(forwards ? dark : lit);
}

void PrompterView::updateSpeedLabel() {
    const SpeedFigures figures{speedLayer_->scrollSpeed(), scrollSpeedWPS_, scrollSpeedWPM_, scrollSpeedLPS_,
                               scrollSpeedLPM_};
    TransactionScope immediate;
    speedLabelLayer_->setString(SpeedLabelLayer::text(speedLabelLayer_->mode(), figures));
}

void PrompterView::updateTimestampLabel() {
    if (!showsTimestamp_) {
        return;
    }
    const QString text =
        timestampShowsRemainingTime_
            ? QStringLiteral("-") + QString::fromStdString(formatTimestamp(totalRuntime_ - timestamp_))
            : QString::fromStdString(formatTimestamp(timestamp_));
    TransactionScope immediate;
    timestampLayer_->setString(text);
}

// ---- input helpers ----

PrompterControl PrompterView::controlAt(QPointF viewPoint) const {
    // Controls are framed in the panel's unmirrored space; the point goes through its mirroring.
    const QPointF p = uiLayer_->convertPoint(viewPoint, root_.get());
    if (transportLayer_->frame().contains(p)) {
        return PrompterControl::transport;
    }
    if (rewindLayer_->frame().contains(p)) {
        return PrompterControl::rewind;
    }
    if (speedLayer_->frame().contains(p)) {
        return PrompterControl::speed;
    }
    if (lineUpLayer_->frame().contains(p)) {
        return PrompterControl::lineUp;
    }
    if (lineDownLayer_->frame().contains(p)) {
        return PrompterControl::lineDown;
    }
    // The time read-out is mirrored in place: it is hit where it is drawn.
    if (timestampLayer_->frame().contains(viewPoint)) {
        return PrompterControl::timestamp;
    }
    if (speedLabelLayer_->frame().contains(p)) {
        return PrompterControl::speedLabel;
    }
    return PrompterControl::none;
}

int PrompterView::currentLineIndex() const {
    const double target = scrollOffset_ - 0.5 * lineHeight_;
    int best = 0;
    double bestDistance = 0;
    for (std::size_t i = 0; i < lineOffsets_.size(); ++i) {
        const double distance = std::abs(lineOffsets_[i] - target);
        if (i == 0 || distance < bestDistance) {
            best = static_cast<int>(i);
            bestDistance = distance;
        }
    }
    return best;
}

void PrompterView::stepLines(StepDirection direction, int count) {
    if (lineOffsets_.empty() || textHeight_ <= 0) {
        return;
    }
    // Held to the view's own lines: the offsets come from the prompter's layout, whose line count
    // differs from the editor's whenever the font size does. Counted wide, as the count is the
    // user's setting and may be any integer.
    const long long current = currentLineIndex();
    const long long wanted = direction == StepDirection::up ? current - count : current + count;
    const long long lastLine = static_cast<long long>(lineOffsets_.size()) - 1;
    const int target = static_cast<int>(std::clamp(wanted, 0LL, lastLine));
    const double progress =
        (lineOffsets_[static_cast<std::size_t>(target)] + 0.5 * graphicLineHeight_) / textHeight_;
    if (auto d = delegate()) {
        d->prompterViewRequestsScroll(*this, progress);
    }
}

// ---- lifecycle ----

void PrompterView::resizeEvent(QResizeEvent* event) {
    LayerHost::resizeEvent(event);
    relayout(false);
}

void PrompterView::liveResizeDidEnd() {
    {
        TransactionScope immediate;
        layoutText();
        relayout(false);
    }
    setScrollPosition(transportProgress_, false, true);
}

void PrompterView::fullScreenDidChange(bool entered) {
    layoutText();
    relayout(false);
    // In full screen the pointer hides 2 s after it last moved.
    cursorHider_->setAutoHide(entered);
    if (entered) {
        cursorHider_->hideUntilMouseMoves();
    } else {
        cursorHider_->showCursor();
    }
    setScrollPosition(transportProgress_, false, true);
}

void PrompterView::backingScaleDidChange() {
    const double scale = backingScale();
    TransactionScope immediate;
    for (Layer* layer :
         {root_.get(), backgroundLayer_.get(), imageLayer_.get(), readingLineLayer_.get(), scrollLayer_.get(),
          static_cast<Layer*>(transportLayer_.get()), static_cast<Layer*>(rewindLayer_.get()), uiLayer_.get(),
          static_cast<Layer*>(speedLayer_.get()), static_cast<Layer*>(speedLabelLayer_.get()),
          static_cast<Layer*>(timestampLayer_.get()), static_cast<Layer*>(indicatorLayer_.get()),
          static_cast<Layer*>(overlayLayer_.get()), static_cast<Layer*>(lineUpLayer_.get()),
          static_cast<Layer*>(lineDownLayer_.get())}) {
        layer->setContentsScale(scale);
    }
    for (const auto& layer : textLayers_) {
        layer->setContentsScale(scale);
    }
}

void PrompterView::watchWindow() {
    QWidget* top = window();
    if (top == watchedWindow_ || top == this) {
        return;
    }
    if (watchedWindow_ != nullptr) {
        watchedWindow_->removeEventFilter(this);
    }
    watchedWindow_ = top;
    top->installEventFilter(this);
}

void PrompterView::showEvent(QShowEvent* event) {
    LayerHost::showEvent(event);
    watchWindow();
    if (QWindow* handle = window()->windowHandle()) {
        connect(handle, &QWindow::screenChanged, this, &PrompterView::backingScaleDidChange,
                Qt::UniqueConnection);
    }
    backingScaleDidChange();
}

bool PrompterView::event(QEvent* event) {
    const bool handled = LayerHost::event(event);
    if (event->type() == QEvent::ParentChange && parentWidget() != nullptr) {
        // Put into a superview: lay out for the new width and keep the text at its progress.
        watchWindow();
        layoutText();
        relayout(false);
        setScrollPosition(transportProgress_, false, true);
    }
    return handled;
}

bool PrompterView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == watchedWindow_ && event->type() == QEvent::WindowStateChange) {
        const auto* change = static_cast<QWindowStateChangeEvent*>(event);
        const bool was = change->oldState().testFlag(Qt::WindowFullScreen);
        const bool is = watchedWindow_->isFullScreen();
        if (was != is) {
            fullScreenDidChange(is);
        }
    }
    return LayerHost::eventFilter(watched, event);
}

} // namespace cw

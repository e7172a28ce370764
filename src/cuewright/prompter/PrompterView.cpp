#include "cuewright/prompter/PrompterView.h"

#include "cuewright/model/ScriptProperties.h"
#include "cuewright/model/TextUtils.h"
#include "cuewright/model/UserDefaults.h"
#include "cuewright/prompter/IndicatorLayer.h"
#include "cuewright/prompter/IndicatorShape.h"
#include "cuewright/prompter/OverlayLayer.h"
#include "cuewright/prompter/PixelAlignment.h"
#include "cuewright/prompter/PrompterTextLayout.h"
#include "cuewright/prompter/PrompterViewDelegate.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/layers/TileCache.h"
#include "platform/layers/TiledTextLayer.h"
#include "platform/layers/Transaction.h"
#include "platform/text/Font.h"
#include "platform/text/TextAttributes.h"
#include "platform/ui/CursorHider.h"
#include "platform/ui/LiveResizeWatcher.h"

#include <QEvent>
#include <QPointer>
#include <QResizeEvent>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <deque>
#include <limits>
#include <utility>

namespace cw {

using platform::layers::Layer;
using platform::layers::TiledTextLayer;
using platform::layers::Transaction;
using platform::layers::TransactionScope;

namespace {

constexpr double maxChunkHeight = 4096;
constexpr double scrollMoveDuration = 0.15;
constexpr double animatedRelayoutDuration = 0.25;
// The view's own tile cache holds one and a half screens of pixels: what is visible (tiles are only
// rendered once they show), the tiles cut by the edges and a few that just scrolled away, for a
// step back; never less than this. At 4K every further screen costs 33 MB.
constexpr std::size_t minimumTileBytes = 8u << 20;
constexpr double screensOfTiles = 1.5;

// Runs without a font get the system font, so that every run follows the prompter's font size, and
// runs without a colour the script's text colour, as the editor shows them.
platform::AttributedString withScriptLook(const platform::AttributedString& text, double pointSize,
                                          const platform::Color& textColor) {
    platform::AttributedString result = text;
    if (result.isEmpty()) {
        return result;
    }
    const platform::Font fallback = platform::Font::systemFont(pointSize);
    result.modifyAttributes(result.fullRange(), [&](platform::Attributes& attributes) {
        if (!attributes.font) {
            attributes.font = fallback;
        }
        if (!attributes.foregroundColor) {
            attributes.foregroundColor = textColor;
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
    , borderLayer_(std::make_shared<Layer>()) {
    CW_DCHECK_MAIN_THREAD();
    display_.speedDisplayMode = preferredScrollSpeedDisplayMode();
    setFocusPolicy(Qt::StrongFocus);
    setupLayers();
    liveResize_ = new platform::LiveResizeWatcher(this);
    connect(liveResize_, &platform::LiveResizeWatcher::liveResizeEnded, this,
            &PrompterView::layoutTextForNewSize);
}

PrompterView::~PrompterView() {
    // Lose the keyboard while the layers live: on the way out the key handler delivers a key-up it
    // held back, which redraws a control.
    clearFocus();
}

// ---- set-up ----

void PrompterView::setupLayers() {
    cursorHider_ = new platform::CursorHider(this);
    cursorHider_->hideUntilMouseMoves();

    TransactionScope immediate;
    const QRectF bounds(0, 0, width(), height());
    root_->setMasksToBounds(true);
    setRootLayer(root_);
    const QColor& backgroundColor = display_.backgroundColor;
    const bool seeThrough = display_.windowOpacity < 1.0f;
    // The root's own colour stays clear even when opaque: the background layer covers the whole
    // view in the same colour, and a second full fill per frame costs milliseconds at 4K.
    root_->setOpaque(!seeThrough);

    fillLayer_->setDrawsAsynchronously(true);
    fillLayer_->setAnchorPoint(QPointF(0, 0));
    fillLayer_->setFrame(bounds);
    fillLayer_->setContentsGravity(platform::layers::ContentsGravity::resizeAspectFill);
    fillLayer_->setOpacity(display_.windowOpacity);
    fillLayer_->setBackgroundColor(backgroundColor);
    fillLayer_->setOpaque(true);
    fillLayer_->setHidden(!seeThrough);
    fillLayer_->setZPosition(0);
    root_->addSublayer(fillLayer_);

    backgroundLayer_->setAnchorPoint(QPointF(0, 0));
    backgroundLayer_->setOpaque(!seeThrough);
    backgroundLayer_->setBackgroundColor(seeThrough ? QColor(Qt::transparent) : backgroundColor);
    backgroundLayer_->setMasksToBounds(true);
    backgroundLayer_->setFrame(bounds);
    backgroundLayer_->setZPosition(0);
    root_->addSublayer(backgroundLayer_);

    imageLayer_->setDrawsAsynchronously(true);
    imageLayer_->setAnchorPoint(QPointF(0, 0));
    imageLayer_->setFrame(bounds);
    imageLayer_->setContentsGravity(platform::layers::ContentsGravity::resizeAspectFill);
    imageLayer_->setOpacity(display_.backgroundImageOpacity);
    imageLayer_->setContents(display_.backgroundImage);
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
    overlayLayer_->setGradientColor(backgroundColor);
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

    controls_.install(*root_, QSizeF(width(), height()), backingScale(), display_);
    setupIndicatorLayer();
    setupReadingLineLayer();
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

// ---- display state ----

DisplayChange classifyDisplayChange(const PrompterDisplayState& from, const PrompterDisplayState& to) {
    if (from.textAlignment != to.textAlignment || from.prompterMargin != to.prompterMargin ||
        from.prompterMarginAlignment != to.prompterMarginAlignment ||
        from.prompterWordCountFactor != to.prompterWordCountFactor) {
        return DisplayChange::layout;
    }
    if (from.flipHorizontal != to.flipHorizontal || from.flipVertical != to.flipVertical ||
        from.indicatorPosition != to.indicatorPosition || from.windowOpacity != to.windowOpacity) {
        return DisplayChange::relayout;
    }
    return from == to ? DisplayChange::none : DisplayChange::redraw;
}

DisplayChange PrompterView::apply(const PrompterDisplayState& state) {
    CW_DCHECK_MAIN_THREAD();
    const DisplayChange change = classifyDisplayChange(display_, state);
    if (change == DisplayChange::none) {
        return change;
    }
    const PrompterDisplayState from = std::exchange(display_, state);
    redraw(from);
    controls_.apply(from, display_);
    if (change == DisplayChange::layout) {
        layoutText();
    }
    if (change >= DisplayChange::relayout) {
        relayout(false);
    }
    return change;
}

DisplayChange PrompterView::updateDisplay(const std::function<void(PrompterDisplayState&)>& change) {
    CW_DCHECK_MAIN_THREAD();
    PrompterDisplayState state = display_;
    change(state);
    return apply(state);
}

DisplayChange PrompterView::applyScriptProperties(const DocumentScriptProperties& p,
                                                  TextAlignment alignment) {
    CW_DCHECK_MAIN_THREAD();
    PrompterDisplayState state = display_;
    if (p.backgroundImage != backgroundImageData_) {
        backgroundImageData_ = p.backgroundImage;
        state.backgroundImage = decodeImage(p.backgroundImage);
    }
    state.textAlignment = alignment;
    state.showsBackgroundImage = p.showBackgroundImage;
    state.backgroundImageOpacity = p.backgroundImageOpacity;
    state.backgroundColor = p.backgroundColor.toQColor();
    state.prompterMargin = p.prompterMargin;
    state.prompterMarginAlignment = p.prompterMarginAlignment;
    state.prompterWordCountFactor = p.prompterWordCountFactor;
    state.indicatorType = p.indicatorType;
    state.showsReadingLine = p.showReadingLine;
    state.indicatorSize = p.indicatorSize;
    state.indicatorColor = p.indicatorColor;
    state.indicatorPosition = p.indicatorPosition;
    state.overlayType = p.overlayType;
    state.overlayOpacity = p.overlayOpacity;
    return apply(state);
}

void PrompterView::redraw(const PrompterDisplayState& from) {
    const PrompterDisplayState& to = display_;
    TransactionScope immediate;
    if (to.backgroundImage.cacheKey() != from.backgroundImage.cacheKey()) {
        imageLayer_->setContents(to.backgroundImage);
    }
    if (to.showsBackgroundImage != from.showsBackgroundImage) {
        updateImageLayer();
    }
    if (to.backgroundImageOpacity != from.backgroundImageOpacity) {
        imageLayer_->setOpacity(to.backgroundImageOpacity);
    }
    if (to.backgroundColor != from.backgroundColor) {
        showBackgroundColor(to.backgroundColor);
    }
    if (to.indicatorType != from.indicatorType || to.indicatorSize != from.indicatorSize) {
        indicatorLayer_->setIndicatorType(to.indicatorType);
        indicatorLayer_->setIndicatorSize(to.indicatorSize);
        indicatorLayer_->setNeedsDisplay();
        frameIndicator();
    }
    if (to.indicatorColor != from.indicatorColor) {
        indicatorLayer_->setIndicatorColor(to.indicatorColor);
        frameIndicator();
    }
    if (to.indicatorColor != from.indicatorColor || to.showsReadingLine != from.showsReadingLine) {
        layoutReadingLine(backgroundLayer_->bounds());
    }
    overlayLayer_->showBands(to.overlayType, to.indicatorPosition);
    if (to.overlayOpacity != from.overlayOpacity) {
        overlayLayer_->setOpacity(to.overlayOpacity);
    }
    if (to.windowOpacity != from.windowOpacity) {
        applyWindowOpacity();
    }
}

void PrompterView::showBackgroundColor(const QColor& color) {
    backgroundLayer_->setBackgroundColor(display_.windowOpacity < 1.0f ? QColor(Qt::transparent) : color);
    fillLayer_->setBackgroundColor(color);
    if (overlayLayer_->gradientColor() != color) {
        overlayLayer_->setGradientColor(color);
        overlayLayer_->updateOverlay();
    }
}

void PrompterView::frameIndicator() {
    const double h = backgroundLayer_->bounds().height();
    TransactionScope immediate;
    indicatorLayer_->setFrame(
        QRectF(4, h * display_.indicatorPosition - lineHeight_ * 0.5, lineHeight_, lineHeight_));
    indicatorLayer_->setNeedsDisplay();
}

void PrompterView::setTransportState(const PrompterTransport& state) {
    CW_DCHECK_MAIN_THREAD();
    transportState_ = state;
    controls_.showTransport(state);
}

void PrompterView::setTransportProgress(double progress) {
    CW_DCHECK_MAIN_THREAD();
    if (progress == transportProgress_) {
        return;
    }
    transportProgress_ = progress;
    controls_.showProgress(progress);
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
    CW_DCHECK_MAIN_THREAD();
    ownsTileCache_ = !cache;
    tileCache_ = cache ? std::move(cache) : std::make_shared<platform::layers::TileCache>(minimumTileBytes);
    fitTileCache();
    for (const auto& layer : textLayers_) {
        layer->setTileCache(tileCache_);
    }
}

// ---- text layout and scrolling ----

const platform::AttributedString& PrompterView::shownText() const {
    static const platform::AttributedString none;
    return TextUtils::paragraphCount(text_.string()) > TextUtils::maximumShownParagraphs ? none : text_;
}

// What a layout needs besides the measurement, worked out from the view's size and display.
struct PrompterView::LayoutPlan {
    QSizeF size;
    double textWidth = 0;
    double lineHeight = 0;
    double scale = 1.0;
    double fontSize = 0;
    double columnWidth = 0;
    platform::AttributedString text; // the text to lay out, before the script's look
    TextAlignment alignment = TextAlignment::center;
    double marginAlignment = 0;
    bool operator==(const LayoutPlan&) const = default;
};

struct PrompterView::PendingLayout {
    LayoutPlan plan;
    std::shared_ptr<PrompterTextMeasurement> measurement; // none until the text is in the script's look
};

namespace {

// Measurements in progress or done, so that views of one text at one width (every prompter on a
// script, whatever its size) share one.
std::vector<std::weak_ptr<PrompterTextMeasurement>>& sharedMeasurements() {
    static std::vector<std::weak_ptr<PrompterTextMeasurement>> measurements;
    return measurements;
}

bool measures(const PrompterTextMeasurement& measurement, const platform::AttributedString& fitted,
              double width, const platform::Typesetter* typesetter) {
    return measurement.width() == width && measurement.typesetter() == typesetter &&
           measurement.text().length() == fitted.length() && measurement.text() == fitted;
}

// Only the layer typesetter's measurements are shared: another typesetter (a test's) may be gone
// and its address taken by the next.
std::shared_ptr<PrompterTextMeasurement> measurementOf(const platform::AttributedString& fitted, double width,
                                                       const platform::Typesetter* typesetter) {
    auto& all = sharedMeasurements();
    std::erase_if(all, [](const auto& weak) { return weak.expired(); });
    for (const auto& weak : all) {
        auto measurement = weak.lock();
        if (typesetter == nullptr && measurement && measures(*measurement, fitted, width, typesetter)) {
            return measurement;
        }
    }
    auto measurement = std::make_shared<PrompterTextMeasurement>(fitted, width, typesetter, maxChunkHeight);
    if (typesetter == nullptr) {
        all.push_back(measurement);
    }
    return measurement;
}

} // namespace

// One part of one view's layout a turn of the event loop, the views taking turns: zero timers of
// their own would all fire in one turn, and every prompter's part would hold it together.
class PrompterView::LayoutTurns final : public QObject {
public:
    LayoutTurns() {
        timer_.setSingleShot(true);
        timer_.setInterval(0);
        connect(&timer_, &QTimer::timeout, this, &LayoutTurns::next);
    }
    void request(PrompterView* view) {
        if (std::find(waiting_.begin(), waiting_.end(), view) == waiting_.end()) {
            waiting_.emplace_back(view);
        }
        if (!timer_.isActive()) {
            timer_.start();
        }
    }

private:
    void next() {
        while (!waiting_.empty()) {
            const QPointer<PrompterView> view = waiting_.front();
            waiting_.pop_front();
            if (!waiting_.empty()) {
                timer_.start();
            }
            if (view && view->pendingLayout_) {
                view->layOutNextPart();
                return;
            }
        }
    }

    QTimer timer_;
    std::deque<QPointer<PrompterView>> waiting_;
};

PrompterView::LayoutTurns& PrompterView::layoutTurns() {
    CW_DCHECK_MAIN_THREAD();
    static auto* turns = new LayoutTurns; // lives as long as the event loop that runs it
    return *turns;
}

PrompterView::LayoutPlan PrompterView::planLayout() const {
    LayoutPlan plan;
    const QRectF bounds = backgroundLayer_->bounds();
    plan.size = bounds.size();
    plan.textWidth = bounds.width() * (1 - display_.prompterMargin) - 10;
    plan.lineHeight = std::max(8.0, plan.textWidth / 5 * (1 - display_.prompterWordCountFactor));
    // Laid out at one size in a column of proportional width and drawn scaled: the same lines at
    // every width. A factor near 1 has no such column (the size is the floor at any width).
    const double share = 1 - static_cast<double>(display_.prompterWordCountFactor);
    const bool proportional = share >= 0.01 && plan.lineHeight > 8.0;
    plan.scale = proportional ? plan.lineHeight / layoutFontSize : 1.0;
    plan.fontSize = proportional ? layoutFontSize : plan.lineHeight;
    plan.columnWidth = proportional ? layoutFontSize * 5 / share : std::max(0.0, plan.textWidth) / plan.scale;
    plan.alignment = display_.textAlignment;
    plan.marginAlignment = display_.prompterMarginAlignment;
    return plan;
}

void PrompterView::layoutText() {
    CW_DCHECK_MAIN_THREAD();
    ++layoutPasses_;
    LayoutPlan plan = planLayout();
    if (text_.length() <= wholeLayoutCharacters || typesetter_ != nullptr) {
        stopLayingOutText();
        plan.text = shownText();
        const auto measurement = measure(plan);
        while (!measurement->step(std::numeric_limits<int>::max())) {
        }
        showLayout(plan, measurement);
        return;
    }
    // A long text is measured in parts, the event loop turning between them, while the layout
    // there is stays on screen and scrolls; the same layout asked for again goes on.
    plan.text = text_;
    if (pendingLayout_ && pendingLayout_->plan == plan) {
        return;
    }
    stopLayingOutText();
    pendingLayout_ = std::make_unique<PendingLayout>(PendingLayout{std::move(plan), nullptr});
    layoutPartCharacters_ = leastLayoutPart;
    layoutTurns().request(this);
}

void PrompterView::finishLayingOutText() {
    CW_DCHECK_MAIN_THREAD();
    if (const auto pending = std::move(pendingLayout_)) {
        if (!pending->measurement) {
            prepareLayout(*pending);
        }
        while (!pending->measurement->step(mostLayoutPart)) {
        }
        showLayout(pending->plan, pending->measurement);
    }
}

void PrompterView::stopLayingOutText() {
    pendingLayout_.reset(); // its turn, when it comes, finds nothing to do
}

std::shared_ptr<PrompterTextMeasurement> PrompterView::measure(const LayoutPlan& plan) {
    const platform::AttributedString fitted = TextUtils::applyFontAndParagraphStyle(
        withScriptLook(plan.text, plan.fontSize, defaultTextColor(inputDefaults())), plan.fontSize);
    if (measured_ && measures(*measured_, fitted, plan.columnWidth, typesetter_)) {
        // A layout of the same text at the same width (a window shown, then placed, then given
        // the script's look) measures nothing again.
        return measured_;
    }
    return measurementOf(fitted, plan.columnWidth, typesetter_);
}

void PrompterView::prepareLayout(PendingLayout& pending) {
    if (TextUtils::paragraphCount(pending.plan.text.string()) > TextUtils::maximumShownParagraphs) {
        pending.plan.text = {};
    }
    pending.measurement = measure(pending.plan);
}

void PrompterView::layOutNextPart() {
    if (!pendingLayout_) {
        return;
    }
    PendingLayout& pending = *pendingLayout_;
    const auto started = std::chrono::steady_clock::now();
    if (!pending.measurement) {
        prepareLayout(pending); // the script's look over the whole text takes a turn of its own
    } else if (pending.measurement->step(layoutPartCharacters_)) {
        const auto done = std::move(pendingLayout_);
        {
            TransactionScope immediate;
            showLayout(done->plan, done->measurement);
            relayout(false);
        }
        setScrollPosition(transportProgress_, false, true);
        return;
    } else {
        // Sized from the last part, so that the next takes about layoutPartTime: growing at most
        // twofold, shrinking at once.
        const auto spent = std::max<std::int64_t>(1, std::chrono::duration_cast<std::chrono::microseconds>(
                                                         std::chrono::steady_clock::now() - started)
                                                         .count());
        const auto target = std::chrono::duration_cast<std::chrono::microseconds>(layoutPartTime).count();
        const std::int64_t next = std::min<std::int64_t>(std::int64_t(layoutPartCharacters_) * target / spent,
                                                         std::int64_t(layoutPartCharacters_) * 2);
        layoutPartCharacters_ = int(std::clamp<std::int64_t>(next, leastLayoutPart, mostLayoutPart));
    }
    layoutTurns().request(this);
}

void PrompterView::showLayout(const LayoutPlan& plan, std::shared_ptr<PrompterTextMeasurement> measurement) {
    for (const auto& layer : textLayers_) {
        layer->removeFromSuperlayer();
    }
    textLayers_.clear();
    buildCounter_ = 0;

    laidOutSize_ = plan.size;
    const double w = plan.size.width();
    const double h = plan.size.height();
    textTop_ = h;
    textWidth_ = plan.textWidth;
    lineHeight_ = plan.lineHeight;
    layoutScale_ = plan.scale;
    if (overlayLayer_->lineHeight() != lineHeight_) {
        overlayLayer_->setLineHeight(lineHeight_);
        overlayLayer_->updateOverlay();
    }
    measured_ = measurement;
    const double scale = layoutScale_;
    const QRectF bounds(QPointF(0, 0), plan.size);
    PrompterTextMetrics metrics = measurement->metrics();
    graphicLineHeight_ = metrics.graphicLineHeight * scale;
    lineOffsets_ = std::move(metrics.lineOffsets);
    for (double& offset : lineOffsets_) {
        offset *= scale;
    }
    lineTops_ = std::move(metrics.lineTops);
    lineStarts_ = std::move(metrics.lineStarts);

    TransactionScope immediate;
    textHeight_ = 0;
    double a = 0;
    const Qt::Alignment alignment = qtAlignment(plan.alignment);
    for (TextChunk& chunk : metrics.chunks) {
        auto layer = std::make_shared<TiledTextLayer>();
        layer->setMasksToBounds(true);
        layer->setAnchorPoint(QPointF(0, 0));
        layer->setOpaque(false);
        layer->setAutoresizingMask(platform::layers::notSizable);
        layer->setTileCache(tileCache_);
        const double cw = chunk.boundingSize.width() * scale;
        const double ch = chunk.boundingSize.height() * scale;
        const double c = w / 2 - cw / 2;
        const double m = plan.marginAlignment;
        double shift = 0;
        if (m < 0) {
            shift = (c - bounds.left()) * m;
        } else if (m > 0) {
            shift = m * (bounds.right() - (c + cw));
        }
        layer->setFrame(QRectF(c + shift, a + h - ch, cw, ch));
        layer->setSource(std::make_shared<PrompterTextSource>(std::move(chunk.text), chunk.boundingSize,
                                                              alignment, scale));
        textHeight_ += chunk.advance * scale;
        a -= chunk.advance * scale;
        textLayers_.push_back(std::move(layer));
    }
    laidOutHeight_ = textHeight_ / scale;
    // The shown progress stays put: the next relayout places the new text there.
    scrollOffset_ = offsetForProgress(transportProgress_);
    // What was measured against the old lines names other lines now: a step counts from the line
    // the new layout shows, the next move's direction from where the text now stands, and a chase
    // still running towards a place in the old layout ends here.
    lastStep_ = {};
    lastScrollY_ = scrollLayerY();
    scrollLayer_->removeAnimation(platform::layers::AnimationKey::position);
}

void PrompterView::setScrollPosition(double progress, bool animated, bool force) {
    CW_DCHECK_MAIN_THREAD();
    setTransportProgress(progress);
    ++buildCounter_;
    scrollOffset_ = offsetForProgress(progress);
    const double y = scrollLayerY();
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

double PrompterView::offsetForProgress(double progress) const {
    return lineTableOffset(lineTops_, laidOutHeight_, progress) * layoutScale_;
}

double PrompterView::scrollLayerY() const {
    // The text's top edge is the view's height at the last layout: a window whose bar appears
    // after the layout makes the view shorter, and the text still starts at the reading position.
    return scrollOffset_ - height() * (1 - display_.indicatorPosition) + (height() - textTop_);
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
    CW_DCHECK_MAIN_THREAD();
    ++relayoutPasses_;
    fitTileCache();
    Transaction::begin();
    if (animated) {
        Transaction::setDisableActions(false);
        Transaction::setAnimationDuration(animatedRelayoutDuration);
    } else {
        Transaction::setDisableActions(true);
    }
    backgroundLayer_->setMirroring(display_.flipHorizontal, display_.flipVertical);
    layoutBackground();
    updateImageLayer();
    scrollLayer_->setPosition(QPointF(0, scrollLayerY()));
    updateVisibleTextLayers();
    overlayLayer_->setFrame(backgroundLayer_->bounds());
    overlayLayer_->updateOverlay();
    frameIndicator();
    layoutReadingLine(backgroundLayer_->bounds());
    controls_.layout(QSizeF(width(), height()), backingScale(), display_.flipHorizontal,
                     display_.flipVertical);
    Transaction::commit();
}

void PrompterView::layoutBackground() {
    const QRectF bounds(0, 0, width(), height());
    backgroundLayer_->setFrame(bounds);
    fillLayer_->setFrame(bounds);
    fillLayer_->setBackgroundColor(display_.backgroundColor);
    fillLayer_->setOpacity(display_.windowOpacity);
    const bool seeThrough = display_.windowOpacity < 1.0f;
    backgroundLayer_->setOpaque(!seeThrough);
    backgroundLayer_->setBackgroundColor(seeThrough ? QColor(Qt::transparent) : display_.backgroundColor);
}

void PrompterView::updateImageLayer() {
    TransactionScope immediate;
    imageLayer_->setHidden(display_.windowOpacity < 1.0f || !display_.showsBackgroundImage);
    if (imageLayer_->contents().cacheKey() != display_.backgroundImage.cacheKey()) {
        imageLayer_->setContents(display_.backgroundImage);
    }
    imageLayer_->setOpacity(display_.backgroundImageOpacity);
    imageLayer_->setFrame(backgroundLayer_->bounds());
}

void PrompterView::applyWindowOpacity() {
    TransactionScope immediate;
    const bool seeThrough = display_.windowOpacity < 1.0f;
    if (seeThrough) {
        root_->setOpaque(false);
        root_->setBackgroundColor(Qt::transparent);
        LayerHost::setBackgroundColor(Qt::transparent);
        backgroundLayer_->setOpaque(false);
        backgroundLayer_->setBackgroundColor(Qt::transparent);
        imageLayer_->setHidden(true);
    } else {
        root_->setOpaque(true);
        LayerHost::setBackgroundColor(display_.backgroundColor);
        backgroundLayer_->setOpaque(true);
        backgroundLayer_->setBackgroundColor(display_.backgroundColor);
        imageLayer_->setHidden(!display_.showsBackgroundImage);
    }
    fillLayer_->setBackgroundColor(display_.backgroundColor);
    fillLayer_->setHidden(!seeThrough);
    fillLayer_->setOpacity(display_.windowOpacity);
}

void PrompterView::layoutReadingLine(const QRectF& r) {
    TransactionScope immediate;
    readingLineLayer_->setHidden(!display_.showsReadingLine);
    readingLineLayer_->setFrame(alignedToPixels(
        QRectF(20, r.height() * display_.indicatorPosition - 0.5, r.width() - 40, 1), backingScale()));
    readingLineLayer_->setBackgroundColor(readingLineColor());
    readingLineLayer_->setNeedsDisplay();
}

QColor PrompterView::readingLineColor() const {
    CW_DCHECK_MAIN_THREAD();
    return IndicatorShape::resolvedColor(indicatorLayer_->indicatorColor());
}

// ---- input helpers ----

int PrompterView::currentLineIndex() const {
    return lineAtProgress(transportProgress_);
}

int PrompterView::lineAtProgress(double progress) const {
    if (lineOffsets_.empty()) {
        return 0;
    }
    const double line = std::floor(std::clamp(progress, 0.0, 1.0) * static_cast<double>(lineTops_.size()));
    return static_cast<int>(std::min(line, static_cast<double>(lineOffsets_.size() - 1)));
}

double PrompterView::progressForOffset(double offset) const {
    return lineTableProgress(lineTops_, laidOutHeight_, offset / layoutScale_);
}

void PrompterView::stepLines(StepDirection direction, int count) {
    CW_DCHECK_MAIN_THREAD();
    if (lineOffsets_.empty() || textHeight_ <= 0) {
        return;
    }
    // Held to the view's own lines: the offsets come from the prompter's layout, whose line count
    // differs from the editor's whenever the font size does. Counted wide, as the count is the
    // user's setting and may be any integer.
    // Counted from where the transport goes: keys pressed faster than the view hears of each move
    // still step one line each.
    const auto d = delegate();
    const std::optional<double> origin = d ? d->prompterViewStepOrigin(*this) : std::nullopt;
    long long current = currentLineIndex();
    if (origin && *origin == lastStep_.progress) {
        current = lastStep_.line;
    } else if (origin && std::isfinite(*origin)) {
        current = lineAtProgress(*origin);
    }
    const long long wanted = direction == StepDirection::up ? current - count : current + count;
    const long long lastLine = static_cast<long long>(lineOffsets_.size()) - 1;
    const int target = static_cast<int>(std::clamp(wanted, 0LL, lastLine));
    // The middle of the line, as every view counts it.
    const double progress = (target + 0.5) / static_cast<double>(lineTops_.size());
    lastStep_ = {progress, target};
    if (d) {
        d->prompterViewRequestsScroll(*this, progress);
    }
}

// ---- lifecycle ----

void PrompterView::resizeEvent(QResizeEvent* event) {
    LayerHost::resizeEvent(event);
    relayout(false);
}

void PrompterView::layoutTextForNewSize() {
    {
        TransactionScope immediate;
        layoutText();
        relayout(false);
    }
    setScrollPosition(transportProgress_, false, true);
}

void PrompterView::fullScreenDidChange(bool entered) {
    CW_DCHECK_MAIN_THREAD();
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
          static_cast<Layer*>(indicatorLayer_.get()), static_cast<Layer*>(overlayLayer_.get())}) {
        layer->setContentsScale(scale);
    }
    controls_.setContentsScale(scale);
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
    // A size given while the window was hidden (the window moved to another display) came
    // with no live resize: the text would keep the lines of the old width.
    if (laidOutSize_ && *laidOutSize_ != backgroundLayer_->bounds().size()) {
        layoutTextForNewSize();
    }
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

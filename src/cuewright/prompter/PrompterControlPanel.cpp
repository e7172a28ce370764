#include "cuewright/prompter/PrompterControlPanel.h"

#include "cuewright/model/TimeFormat.h"
#include "cuewright/prompter/ControlDrawing.h"
#include "cuewright/prompter/LineUpDownLayer.h"
#include "cuewright/prompter/PixelAlignment.h"
#include "cuewright/prompter/PrompterDisplayState.h"
#include "cuewright/prompter/RewindControlLayer.h"
#include "cuewright/prompter/ScrollProgressLayer.h"
#include "cuewright/prompter/SpeedControlLayer.h"
#include "cuewright/prompter/SpeedLabelLayer.h"
#include "cuewright/prompter/TimestampLayer.h"
#include "cuewright/prompter/TransportControlLayer.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/layers/Transaction.h"

#include <algorithm>
#include <cmath>

namespace cw {

using platform::layers::Layer;
using platform::layers::TransactionScope;

namespace {

constexpr double referenceArea = 753894;

} // namespace

// Draws the bindings a control has no room for, beside it over the prompter's free space. Framed
// around them by the panel; never hit. Main thread only.
class BesideHintLayer final : public Layer {
public:
    BesideHintLayer() {
        setAnchorPoint(QPointF(0, 0));
        setAutoresizingMask(platform::layers::notSizable);
        setOpaque(false);
    }
    // Boxes in this layer's own bounds.
    void setHints(std::vector<controls::PlacedHint> hints) { hints_ = std::move(hints); }

protected:
    void draw(QPainter& painter) override {
        for (const controls::PlacedHint& hint : hints_) {
            controls::drawPlacedHint(painter, hint, controls::hintColor());
        }
    }

private:
    std::vector<controls::PlacedHint> hints_;
};

// The panel's size (y up), the control scale and the mirroring a frame is worked out from.
struct PrompterControlPanel::Geometry {
    double w = 0;
    double h = 0;
    double s = 1;
    double pixels = 1;
    bool flipHorizontal = false;
    bool flipVertical = false;
    bool labels = true;

    QRectF snapped(const QRectF& rect) const { return alignedToPixels(rect, pixels); }
    QRectF speedScale() const {
        return snapped(QRectF(w - 66 * s - 10, h / 2 - 396 * s / 2 - 20, 66 * s, 396 * s));
    }
};

PrompterControlPanel::PrompterControlPanel()
    : uiLayer_(std::make_shared<Layer>())
    , transportLayer_(std::make_shared<TransportControlLayer>())
    , rewindLayer_(std::make_shared<RewindControlLayer>())
    , speedLayer_(std::make_shared<SpeedControlLayer>())
    , speedLabelLayer_(std::make_shared<SpeedLabelLayer>())
    , timestampLayer_(std::make_shared<TimestampLayer>())
    , lineUpLayer_(std::make_shared<LineUpDownLayer>(LineUpDownLayer::Mode::up))
    , lineDownLayer_(std::make_shared<LineUpDownLayer>(LineUpDownLayer::Mode::down))
    , progressLayer_(std::make_shared<ScrollProgressLayer>()) {
    CW_DCHECK_MAIN_THREAD();
    for (ControlLayer* control : hintedControls()) {
        besideHints_.emplace_back(control, std::make_shared<BesideHintLayer>());
    }
    using G = Geometry;
    const auto labelled = [](ControlLayer& layer) {
        return [&layer](const G& g) { layer.setDrawsLabel(g.labels); };
    };
    const auto lineStep = [](LineUpDownLayer& layer) {
        return [&layer](const G& g) {
            layer.setScaleFactor(g.s);
            layer.setDrawsLabel(g.labels);
        };
    };
    const QColor released = controls::releasedTint();
    const QColor none;
    slots_ = {
        {PrompterControl::transport, transportLayer_, Place::panel, true, released,
         [](const G& g) { return QRectF(g.w / 2 - 450 * g.s / 2, 10, 450 * g.s, 75 * g.s); },
         labelled(*transportLayer_)},
        {PrompterControl::rewind, rewindLayer_, Place::panel, true, released,
         [](const G& g) { return QRectF(g.w - 10 - 66 * g.s, g.h - 10 - 66 * g.s, 66 * g.s, 66 * g.s); },
         labelled(*rewindLayer_)},
        {PrompterControl::speed, speedLayer_, Place::panel, false, none,
         [](const G& g) { return g.speedScale(); }, labelled(*speedLayer_)},
        {PrompterControl::lineUp, lineUpLayer_, Place::panel, true, none,
         [](const G& g) { return g.snapped(QRectF(10, 66 * g.s + 20, 66 * g.s, 66 * g.s)); },
         lineStep(*lineUpLayer_)},
        {PrompterControl::lineDown, lineDownLayer_, Place::panel, true, none,
         [](const G& g) { return g.snapped(QRectF(10, 10, 66 * g.s, 66 * g.s)); }, lineStep(*lineDownLayer_)},
        // Stays in its corner whatever the mirroring, so its frame follows the flips.
        {PrompterControl::timestamp, timestampLayer_, Place::inPlace, false, controls::readoutTint(),
         [](const G& g) {
             return g.snapped(QRectF(g.flipHorizontal ? 10 : g.w - 220 * g.s - 10,
                                     g.flipVertical ? g.h - 48 * g.s - 10 : 10, 220 * g.s, 48 * g.s));
         },
         [layer = timestampLayer_.get()](const G& g) {
             layer->setFontSize(40 * g.s);
             layer->setDrawsLabel(g.labels);
         }},
        // Sits on the scale's upper edge (frames are y-up: bottom() is the top).
        {PrompterControl::speedLabel, speedLabelLayer_, Place::panel, false, released,
         [](const G& g) {
             return g.snapped(QRectF(g.w - 66 * g.s - 10, g.speedScale().bottom() - 1, 66 * g.s, 24 * g.s));
         },
         [layer = speedLabelLayer_.get()](const G& g) {
             layer->setScaleFactor(g.s);
             layer->updateFontSize();
             layer->setDrawsLabel(g.labels);
         }},
        {PrompterControl::none, progressLayer_, Place::bar, false, none,
         [](const G& g) { return g.snapped(QRectF(0, g.flipVertical ? g.h - 5 * g.s : 0, g.w, 5 * g.s)); },
         [layer = progressLayer_.get()](const G& g) {
             layer->setFlippedHorizontally(g.flipHorizontal);
             layer->updateBar(layer->bounds());
         }},
    };
}

PrompterControlPanel::~PrompterControlPanel() = default;

const PrompterControlPanel::Slot* PrompterControlPanel::slot(PrompterControl control) const {
    const auto it =
        std::find_if(slots_.begin(), slots_.end(), [control](const Slot& s) { return s.control == control; });
    return it != slots_.end() && control != PrompterControl::none ? &*it : nullptr;
}

void PrompterControlPanel::install(Layer& root, const QSizeF& size, double contentsScale,
                                   const PrompterDisplayState& state) {
    CW_DCHECK_MAIN_THREAD();
    uiLayer_->setAnchorPoint(QPointF(0, 0));
    uiLayer_->setMasksToBounds(true);
    uiLayer_->setFrame(QRectF(QPointF(0, 0), size));
    uiLayer_->setZPosition(19);
    uiLayer_->setContentsScale(contentsScale);
    root.addSublayer(uiLayer_);
    uiLayer_->setHidden(!state.showsControls);

    speedLabelLayer_->setAnchorPoint(QPointF(0, 0));
    speedLabelLayer_->setAlignmentMode(platform::layers::TextAlignmentMode::center);
    speedLabelLayer_->setForegroundColor(Qt::red);
    speedLabelLayer_->setMode(state.speedDisplayMode);
    speedLabelLayer_->updateFontSize();
    speedLabelLayer_->setBorderColor(Qt::red);
    speedLabelLayer_->setBorderWidth(1.0);
    speedLabelLayer_->setCornerRadius(6);
    speedLabelLayer_->setFontSize(20);
    speedLabelLayer_->setBackgroundColor(controls::releasedTint());

    timestampLayer_->setAnchorPoint(QPointF(0, 0));
    timestampLayer_->setAlignmentMode(platform::layers::TextAlignmentMode::center);
    timestampLayer_->setForegroundColor(Qt::red);
    timestampLayer_->setFontSize(40);
    timestampLayer_->setBorderColor(Qt::red);
    timestampLayer_->setBorderWidth(1.0);
    timestampLayer_->setCornerRadius(6);
    timestampLayer_->setBackgroundColor(controls::readoutTint());

    for (const Slot& s : slots_) {
        s.layer->setZPosition(20);
        s.layer->setContentsScale(contentsScale);
        (s.place == Place::panel ? *uiLayer_ : root).addSublayer(s.layer);
        s.layer->setNeedsDisplay();
    }
    for (const auto& [control, hints] : besideHints_) {
        hints->setZPosition(20);
        hints->setContentsScale(contentsScale);
        uiLayer_->addSublayer(hints);
    }
    placeBesideHints();
    progressLayer_->setFlippedHorizontally(state.flipHorizontal);
    progressLayer_->updateBar(progressLayer_->bounds());
}

std::array<ControlLayer*, 5> PrompterControlPanel::hintedControls() const {
    return {transportLayer_.get(), rewindLayer_.get(), speedLayer_.get(), lineUpLayer_.get(),
            lineDownLayer_.get()};
}

void PrompterControlPanel::placeBesideHints() {
    for (const auto& [control, layer] : besideHints_) {
        std::vector<controls::PlacedHint> hints = control->besideHints();
        layer->setHidden(hints.empty());
        if (hints.empty()) {
            continue;
        }
        QRectF area;
        for (const controls::PlacedHint& hint : hints) {
            area = area.united(hint.box);
        }
        for (controls::PlacedHint& hint : hints) {
            hint.box.translate(-area.topLeft());
        }
        // The control's bounds start at its frame's origin.
        layer->setFrame(area.translated(control->frame().topLeft()));
        layer->setHints(std::move(hints));
        layer->setNeedsDisplay();
    }
}

void PrompterControlPanel::layout(const QSizeF& size, double pixelScale, bool flipHorizontal,
                                  bool flipVertical) {
    CW_DCHECK_MAIN_THREAD();
    TransactionScope immediate;
    uiLayer_->setFrame(alignedToPixels(QRectF(QPointF(0, 0), size), pixelScale));
    uiLayer_->setMirroring(flipHorizontal, flipVertical);
    const QRectF r = uiLayer_->bounds();
    const Geometry g{r.width(),      r.height(),   controlScale(),      pixelScale,
                     flipHorizontal, flipVertical, drawsControlLabels()};
    for (const Slot& s : slots_) {
        s.layer->setFrame(s.frame(g));
        if (s.place == Place::inPlace) {
            s.layer->setMirroring(flipHorizontal, flipVertical);
        }
        s.fit(g);
        if (s.place != Place::bar) {
            s.layer->setNeedsDisplay();
        }
    }
    placeBesideHints();
}

void PrompterControlPanel::setContentsScale(double scale) {
    CW_DCHECK_MAIN_THREAD();
    uiLayer_->setContentsScale(scale);
    for (const Slot& s : slots_) {
        s.layer->setContentsScale(scale);
    }
    for (const auto& [control, hints] : besideHints_) {
        hints->setContentsScale(scale);
    }
}

void PrompterControlPanel::apply(const PrompterDisplayState& from, const PrompterDisplayState& to) {
    CW_DCHECK_MAIN_THREAD();
    TransactionScope immediate;
    if (from.showsControls != to.showsControls) {
        uiLayer_->setHidden(!to.showsControls);
    }
    if (from.showsProgress != to.showsProgress) {
        progressLayer_->setHidden(!to.showsProgress);
    }
    if (from.controlsOpacity != to.controlsOpacity) {
        uiLayer_->setOpacity(to.controlsOpacity);
        timestampLayer_->setOpacity(to.controlsOpacity);
    }
    if (from.speedLocked != to.speedLocked) {
        speedLayer_->setOpacity(to.speedLocked ? lockedSpeedOpacity : 1.0);
    }
    if (from.speedDisplayMode != to.speedDisplayMode) {
        speedLabelLayer_->setMode(to.speedDisplayMode);
        speedLabelLayer_->updateFontSize();
        updateSpeedLabel();
    }
    showsTimestamp_ = to.showsTimestamp;
    showsRemainingTime_ = to.timestampShowsRemainingTime;
    if (from.showsTimestamp != to.showsTimestamp) {
        timestampLayer_->setHidden(!to.showsTimestamp);
    }
    if (from.timestampShowsRemainingTime != to.timestampShowsRemainingTime) {
        updateTimestampLabel();
    }
}

double PrompterControlPanel::controlScale() const {
    const QRectF frame = uiLayer_->frame();
    return std::clamp(frame.width() * frame.height() / referenceArea, 0.32, 1.0);
}

QPointF PrompterControlPanel::panelPoint(QPointF viewPoint) const {
    return uiLayer_->convertPoint(viewPoint, uiLayer_->superlayer());
}

PrompterControl PrompterControlPanel::controlAt(QPointF viewPoint) const {
    CW_DCHECK_MAIN_THREAD();
    // Panel controls are framed in its unmirrored space; the point goes through its mirroring.
    const QPointF p = panelPoint(viewPoint);
    for (const Slot& s : slots_) {
        if (s.place != Place::bar && s.layer->frame().contains(s.place == Place::panel ? p : viewPoint)) {
            return s.control;
        }
    }
    return PrompterControl::none;
}

// ---- pressed state ----

void PrompterControlPanel::press(PrompterControl control) {
    CW_DCHECK_MAIN_THREAD();
    const Slot* s = slot(control);
    if (s == nullptr || control == PrompterControl::speed) {
        return;
    }
    TransactionScope immediate;
    s->layer->setBackgroundColor(controls::pressedTint());
}

void PrompterControlPanel::setHeld(PressSource source, bool held) {
    CW_DCHECK_MAIN_THREAD();
    (source == PressSource::pointer ? pointerHeld_ : keyHeld_) = held;
}

void PrompterControlPanel::release(PressSource source) {
    CW_DCHECK_MAIN_THREAD();
    setHeld(source, false);
    {
        TransactionScope immediate;
        for (const Slot& s : slots_) {
            if (s.releasedTint.isValid() && (source == PressSource::pointer || s.keyPressable)) {
                s.layer->setBackgroundColor(s.releasedTint);
            }
        }
    }
    updateLineStepHighlight();
}

void PrompterControlPanel::updateLineStepHighlight() {
    CW_DCHECK_MAIN_THREAD();
    if (pointerHeld_ || keyHeld_) {
        return;
    }
    const QColor lit = controls::pressedTint();
    const QColor dark = controls::releasedTint();
    TransactionScope immediate;
    if (!transport_.isPlaying()) {
        lineUpLayer_->setBackgroundColor(dark);
        lineDownLayer_->setBackgroundColor(dark);
        return;
    }
    const bool forwards = transport_.ffwdFactor >= 0;
    lineDownLayer_->setBackgroundColor(forwards ? lit : dark);
    lineUpLayer_->setBackgroundColor(forwards ? dark : lit);
}

// ---- what the controls show ----

void PrompterControlPanel::setKeyHints(const KeyHints& hints) {
    CW_DCHECK_MAIN_THREAD();
    if (hints == keyHints_) {
        return;
    }
    keyHints_ = hints;
    for (ControlLayer* layer : hintedControls()) {
        layer->setKeyHints(hints);
        layer->setNeedsDisplay();
    }
    TransactionScope immediate;
    placeBesideHints();
}

void PrompterControlPanel::showTransport(const PrompterTransport& state) {
    CW_DCHECK_MAIN_THREAD();
    transport_ = state;
    if (transportLayer_->transportState() != state.status) {
        transportLayer_->setTransportState(state.status);
        transportLayer_->setNeedsDisplay();
    }
    updateLineStepHighlight();
}

void PrompterControlPanel::showProgress(double progress) {
    CW_DCHECK_MAIN_THREAD();
    if (progressLayer_->progress() == progress) {
        return;
    }
    progressLayer_->setProgress(progress);
    TransactionScope immediate;
    progressLayer_->updateBar(progressLayer_->bounds());
}

double PrompterControlPanel::scrollSpeed() const {
    return speedLayer_->scrollSpeed();
}

void PrompterControlPanel::setScrollSpeed(double percent) {
    CW_DCHECK_MAIN_THREAD();
    if (speedLayer_->scrollSpeed() == percent) {
        return;
    }
    speedLayer_->setScrollSpeed(percent);
    speedLayer_->setNeedsDisplay();
}

void PrompterControlPanel::setScrollSpeedFigures(double linesPerSecond, double linesPerMinute,
                                                 double wordsPerSecond, double wordsPerMinute) {
    CW_DCHECK_MAIN_THREAD();
    figures_.linesPerSecond = linesPerSecond;
    figures_.linesPerMinute = linesPerMinute;
    figures_.wordsPerSecond = wordsPerSecond;
    figures_.wordsPerMinute = wordsPerMinute;
}

void PrompterControlPanel::updateSpeedLabel() {
    CW_DCHECK_MAIN_THREAD();
    figures_.percent = speedLayer_->scrollSpeed();
    TransactionScope immediate;
    speedLabelLayer_->setString(SpeedLabelLayer::text(speedLabelLayer_->mode(), figures_));
}

void PrompterControlPanel::updateTimestampLabel() {
    CW_DCHECK_MAIN_THREAD();
    if (!showsTimestamp_) {
        return;
    }
    const QString text =
        showsRemainingTime_
            ? QStringLiteral("-") + QString::fromStdString(formatTimestamp(totalRuntime_ - timestamp_))
            : QString::fromStdString(formatTimestamp(timestamp_));
    TransactionScope immediate;
    timestampLayer_->setString(text);
}

} // namespace cw

// PrompterView's pointer and wheel input: the on-screen controls, one-click prompting, the speed
// scale and the wheel.
#include "cuewright/prompter/PrompterView.h"

#include "base/EnumTable.h"
#include "base/Log.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/prompter/LineUpDownLayer.h"
#include "cuewright/prompter/PrompterViewDelegate.h"
#include "cuewright/prompter/RewindControlLayer.h"
#include "cuewright/prompter/SpeedControlLayer.h"
#include "cuewright/prompter/SpeedLabelLayer.h"
#include "cuewright/prompter/TimestampLayer.h"
#include "cuewright/prompter/TransportControlLayer.h"
#include "platform/defaults/Defaults.h"
#include "platform/layers/Layer.h"
#include "platform/layers/Transaction.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QWheelEvent>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

namespace cw {

using platform::layers::TransactionScope;

namespace {

const QColor pressedColor = QColor::fromRgbF(1, 0, 0, 0.5);
const QColor releasedColor = QColor::fromRgbF(0, 0, 0, 0.5);
const QColor releasedTimestampColor = QColor::fromRgbF(0, 0, 0, 0.75);

// Qt reports a wheel notch as 120 eighths of a degree.
constexpr double eighthsPerNotch = 120.0;

} // namespace

platform::Defaults& PrompterView::inputDefaults() const {
    return inputDefaults_ != nullptr ? *inputDefaults_ : platform::Defaults::standard();
}

double PrompterView::speedPercentAt(double y, double height) {
    const double usable = height * 8.0 / 9.0;
    const double inset = (height - usable) / 2;
    if (y <= inset) {
        return 1.0;
    }
    if (y >= inset + usable) {
        return 100.0;
    }
    return std::clamp((y - inset) / usable * 100.0 + 1.0, 0.0, 100.0);
}

void PrompterView::setSpeedFromPoint(QPointF viewPoint) {
    if (isSpeedLocked_) {
        return;
    }
    const QPointF p = uiLayer_->convertPoint(viewPoint, root_.get());
    const QRectF frame = speedLayer_->frame();
    if (!frame.contains(p)) {
        return;
    }
    // Frames are y-up: top() is the bottom edge.
    changeSpeedFromPointer(speedPercentAt(p.y() - frame.top(), frame.height()));
}

void PrompterView::changeSpeedFromPointer(double percent) {
    if (percent == speedLayer_->scrollSpeed()) {
        return;
    }
    setScrollSpeed(percent);
    updateSpeedLabel();
    if (auto d = delegate()) {
        d->prompterViewDidChangeSpeed(*this, percent);
    }
}

void PrompterView::toggleTransportFromPointer() {
    PrompterTransport state = transportState_;
    state.status =
        state.isPlaying() ? PrompterTransport::Status::stopped : PrompterTransport::Status::playing;
    setTransportState(state);
    if (auto d = delegate()) {
        d->prompterViewDidChangeTransportState(*this);
    }
}

void PrompterView::mousePressEvent(QMouseEvent* event) {
    if (ignoresMouseEvents_ || event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    event->accept();
    mouseIsDown_ = true;
    const QPointF point = hostPointFromWidget(event->position());
    switch (controlAt(point)) {
    case PrompterControl::transport:
        transportLayer_->setBackgroundColor(pressedColor);
        break;
    case PrompterControl::rewind:
        rewindLayer_->setBackgroundColor(pressedColor);
        break;
    case PrompterControl::lineUp:
        lineUpLayer_->setBackgroundColor(pressedColor);
        break;
    case PrompterControl::lineDown:
        lineDownLayer_->setBackgroundColor(pressedColor);
        break;
    case PrompterControl::speed:
        setSpeedFromPoint(point);
        break;
    case PrompterControl::timestamp: {
        TransactionScope immediate;
        timestampLayer_->setBackgroundColor(pressedColor);
        break;
    }
    case PrompterControl::speedLabel: {
        TransactionScope immediate;
        speedLabelLayer_->setBackgroundColor(pressedColor);
        break;
    }
    case PrompterControl::none:
        break;
    }
}

void PrompterView::mouseMoveEvent(QMouseEvent* event) {
    // Without a button held this is pointer movement, which the cursor hider watches.
    if (ignoresMouseEvents_ || !(event->buttons() & Qt::LeftButton)) {
        event->ignore();
        return;
    }
    event->accept();
    const QPointF point = hostPointFromWidget(event->position());
    if (controlAt(point) == PrompterControl::speed) {
        setSpeedFromPoint(point);
    }
}

void PrompterView::mouseReleaseEvent(QMouseEvent* event) {
    if (ignoresMouseEvents_ || event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    event->accept();
    mouseIsDown_ = false;
    {
        TransactionScope immediate;
        transportLayer_->setBackgroundColor(releasedColor);
        rewindLayer_->setBackgroundColor(releasedColor);
        speedLabelLayer_->setBackgroundColor(releasedColor);
        timestampLayer_->setBackgroundColor(releasedTimestampColor);
    }
    updateLineStepHighlight();

    const QPointF point = hostPointFromWidget(event->position());
    const PrompterControl control = controlAt(point);
    if (control == PrompterControl::speed) {
        setSpeedFromPoint(point);
        return;
    }
    releaseControl(control);
}

void PrompterView::releaseControl(PrompterControl control) {
    platform::Defaults& defaults = inputDefaults();
    const auto lineCount = static_cast<int>(std::clamp<std::int64_t>(
        defaults.integerForKey(settings::manualScrollingLineCount), INT_MIN, INT_MAX));
    switch (control) {
    case PrompterControl::transport:
        toggleTransportFromPointer();
        return;
    case PrompterControl::rewind:
        if (auto d = delegate()) {
            d->prompterViewDidRequestRewind(*this);
        }
        return;
    case PrompterControl::speed:
        return; // handled with the point
    case PrompterControl::lineUp:
        if (!transportState_.isPlaying()) {
            stepLines(StepDirection::up, lineCount);
            return;
        }
        base::log("-1.0");
        if (auto d = delegate()) {
            d->prompterViewDidChangeFastForward(*this, -1.0);
        }
        return;
    case PrompterControl::lineDown:
        if (!transportState_.isPlaying()) {
            stepLines(StepDirection::down, lineCount);
            return;
        }
        base::log("1.0");
        if (auto d = delegate()) {
            d->prompterViewDidChangeFastForward(*this, 1.0);
        }
        return;
    case PrompterControl::timestamp:
        timestampShowsRemainingTime_ = !timestampShowsRemainingTime_;
        defaults.set(settings::timestampInPrompterShowsRemainingTime, timestampShowsRemainingTime_);
        updateTimestampLabel();
        return;
    case PrompterControl::speedLabel: {
        int next = base::menuIndex(speedLabelLayer_->mode()) + 1;
        if (next == 5) {
            next = 0;
        }
        const auto mode = base::fromMenuIndex<SpeedDisplayMode>(next);
        setSpeedDisplayMode(mode);
        defaults.set(settings::preferredScrollSpeedDisplayMode, std::string(base::rawValue(mode)));
        updateSpeedLabel();
        return;
    }
    case PrompterControl::none:
        if (defaults.boolForKey(settings::isOneClickPromptingEnabled) && !ignoresOneClickPrompting_) {
            toggleTransportFromPointer();
        }
        return;
    }
}

void PrompterView::wheelEvent(QWheelEvent* event) {
    if (ignoresMouseEvents_) {
        event->ignore();
        return;
    }
    event->accept();
    WheelInput input;
    input.shift = event->modifiers().testFlag(Qt::ShiftModifier);
    const QPoint pixels = event->pixelDelta();
    input.precise = !pixels.isNull();
    if (input.precise) {
        input.deltaX = pixels.x();
        input.deltaY = pixels.y();
    } else {
        input.deltaX = event->angleDelta().x() / eighthsPerNotch;
        input.deltaY = event->angleDelta().y() / eighthsPerNotch;
    }
    scrollWheel(input);
}

void PrompterView::scrollWheel(const WheelInput& input) {
    if (ignoresMouseEvents_) {
        return;
    }
    // A shifted vertical wheel may arrive as a horizontal one.
    double delta = input.deltaY;
    if (input.shift && delta == 0) {
        delta = input.deltaX;
    }
    platform::Defaults& defaults = inputDefaults();
    const bool invert = defaults.boolForKey(settings::invertScrollWheelInTeleprompterView);
    const bool wheelIsSpeed =
        defaults.boolForKey(settings::scrollWheelChangesSpeed) && transportState_.isPlaying();
    const bool changesSpeed = wheelIsSpeed ? !input.shift : input.shift;

    if (changesSpeed) {
        if (isSpeedLocked_) {
            return;
        }
        // A NaN would pass the clamp and become the script's speed (and every new script's).
        const double sensitivity = defaults.doubleForKey(settings::speedSliderSensitivityFactor);
        const double gain = std::clamp(std::isnan(sensitivity) ? 0.01 : sensitivity, 0.01, 3.0) * 0.1;
        const double change = invert ? -delta * gain : delta * gain;
        changeSpeedFromPointer(std::clamp(speedLayer_->scrollSpeed() + change, 0.0, 100.0));
        return;
    }

    if (textHeight_ == 0) {
        return;
    }
    double move = reverseScrollWheelDirection_ ? delta : -delta;
    if (!input.precise) {
        move *= lineHeight_ * 0.1;
    }
    const double offset = invert ? scrollOffset_ - move : scrollOffset_ + move;
    const double progress = std::max(offset, 0.0) / textHeight_;
    if (auto d = delegate()) {
        d->prompterViewDidScroll(*this, progress);
    }
}

void PrompterView::contextMenuEvent(QContextMenuEvent* event) {
    if (contextMenu_ == nullptr) {
        event->ignore();
        return;
    }
    event->accept();
    contextMenu_->popup(event->globalPos());
}

} // namespace cw

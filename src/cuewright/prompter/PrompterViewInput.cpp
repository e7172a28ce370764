// PrompterView's pointer and wheel input: the on-screen controls, one-click prompting, the speed
// scale and the wheel.
#include "cuewright/prompter/PrompterView.h"

#include "base/EnumTable.h"
#include "base/Log.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/prompter/PrompterViewDelegate.h"
#include "cuewright/prompter/SpeedControlLayer.h"
#include "platform/defaults/Defaults.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QWheelEvent>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

namespace cw {

namespace {

using PressSource = PrompterControlPanel::PressSource;

// Qt reports a wheel notch as 120 eighths of a degree.
constexpr double eighthsPerNotch = 120.0;

// The percentage a point `y` points above the scale's bottom edge means on a scale `height` tall:
// 1 at the foot of its usable eight ninths, 100 at the top.
double speedPercentAt(double y, double height) {
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

} // namespace

platform::Defaults& PrompterView::inputDefaults() const {
    return inputDefaults_ != nullptr ? *inputDefaults_ : platform::Defaults::standard();
}

void PrompterView::setSpeedFromPoint(QPointF viewPoint) {
    if (display_.speedLocked) {
        return;
    }
    const QPointF p = controls_.panelPoint(viewPoint);
    const QRectF frame = controls_.speedLayer().frame();
    if (!frame.contains(p)) {
        return;
    }
    // Frames are y-up: top() is the bottom edge.
    changeSpeedFromPointer(speedPercentAt(p.y() - frame.top(), frame.height()));
}

void PrompterView::changeSpeedFromPointer(double percent) {
    if (percent == controls_.scrollSpeed()) {
        return;
    }
    controls_.setScrollSpeed(percent);
    controls_.updateSpeedLabel();
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
    controls_.setHeld(PressSource::pointer, true);
    const QPointF point = hostPointFromWidget(event->position());
    const PrompterControl control = controls_.controlAt(point);
    if (control == PrompterControl::speed) {
        setSpeedFromPoint(point);
    } else {
        controls_.press(control);
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
    if (controls_.controlAt(point) == PrompterControl::speed) {
        setSpeedFromPoint(point);
    }
}

void PrompterView::mouseReleaseEvent(QMouseEvent* event) {
    if (ignoresMouseEvents_ || event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    event->accept();
    controls_.release(PressSource::pointer);

    const QPointF point = hostPointFromWidget(event->position());
    const PrompterControl control = controls_.controlAt(point);
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
        updateDisplay(
            [](PrompterDisplayState& s) { s.timestampShowsRemainingTime = !s.timestampShowsRemainingTime; });
        defaults.set(settings::timestampInPrompterShowsRemainingTime, display_.timestampShowsRemainingTime);
        return;
    case PrompterControl::speedLabel: {
        int next = base::menuIndex(display_.speedDisplayMode) + 1;
        if (next == 5) {
            next = 0;
        }
        const auto mode = base::fromMenuIndex<SpeedDisplayMode>(next);
        updateDisplay([mode](PrompterDisplayState& s) { s.speedDisplayMode = mode; });
        defaults.set(settings::preferredScrollSpeedDisplayMode, std::string(base::rawValue(mode)));
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
        if (display_.speedLocked) {
            return;
        }
        // A NaN would pass the clamp and become the script's speed (and every new script's).
        const double sensitivity = defaults.doubleForKey(settings::speedSliderSensitivityFactor);
        const double gain = std::clamp(std::isnan(sensitivity) ? 0.01 : sensitivity, 0.01, 3.0) * 0.1;
        const double change = invert ? -delta * gain : delta * gain;
        changeSpeedFromPointer(std::clamp(controls_.scrollSpeed() + change, 0.0, 100.0));
        return;
    }

    if (textHeight_ == 0) {
        return;
    }
    double move = -delta;
    if (!input.precise) {
        move *= lineHeight_ * 0.1;
    }
    const double offset = invert ? scrollOffset_ - move : scrollOffset_ + move;
    const double progress = progressForOffset(std::max(offset, 0.0));
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

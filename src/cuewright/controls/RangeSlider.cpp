#include "cuewright/controls/RangeSlider.h"

#include "base/Log.h"

#include <QFocusEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace cw::controls {

// The least room between the two knobs' rectangles, in points.
constexpr double knobGap = 1.0;

RangeSlider::RangeSlider(QWidget* parent)
    : SliderBase(parent) {
    setAccessibleName(QStringLiteral("Range slider"));
}

void RangeSlider::setRange(double minValue, double maxValue) {
    if (!(minValue < maxValue)) {
        base::log("range slider: the lower end must be below the upper end");
        return;
    }
    minValue_ = minValue;
    maxValue_ = maxValue;
}

void RangeSlider::setValues(double lowest, double highest) {
    if (!std::isfinite(lowest) || !std::isfinite(highest)) {
        base::log("range slider: the values must be numbers");
        return;
    }
    if (lowest > highest) {
        base::log("min is bigger than max. that's not possible!");
        std::swap(lowest, highest);
    }
    // The knobs sit at the values the owner shows, even two equal ones.
    const double span = maxValue_ - minValue_;
    values_[0] = std::clamp((lowest - minValue_) / span, 0.0, 1.0);
    values_[1] = std::clamp((highest - minValue_) / span, 0.0, 1.0);
    update();
}

// The moved knob stops 1 point short of the other one; it never pushes it.
bool RangeSlider::moveActiveKnob(double value) {
    const SliderTrack geometry = track();
    const double half = SliderTrack::knobWidth / 2;
    if (activeKnob_ == Knob::lower) {
        const double upperLeft = geometry.knobRect(values_[1]).left();
        if (upperLeft - geometry.knobRect(value).right() < knobGap)
            value = geometry.valueForX(upperLeft - half - knobGap);
    } else {
        const double lowerRight = geometry.knobRect(values_[0]).right();
        if (geometry.knobRect(value).left() - lowerRight < knobGap)
            value = geometry.valueForX(lowerRight + half + knobGap);
    }
    double& current = values_[index(activeKnob_)];
    if (value == current)
        return false;
    current = value;
    update();
    return true;
}

void RangeSlider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const PaintContext context = paintContext(*this);
    const SliderTrack geometry = track();
    const double leftX = geometry.knobCenterX(values_[0]);
    const double rightX = geometry.knobCenterX(values_[1]);
    geometry.paintTrack(painter, context);
    QColor range = palette().color(QPalette::Highlight);
    if (!context.windowMain)
        range = context.dark ? QColor::fromRgbF(0.4039, 0.4039, 0.4039)
                             : QColor::fromRgbF(0.5647, 0.5647, 0.5647);
    painter.fillRect(geometry.grooveBetween(leftX, rightX), range);
    geometry.paintTicks(painter, context, devicePixelRatioF());
    const bool focused = hasFocus();
    geometry.paintKnob(painter, context, palette(), states_[0], leftX, focused && activeKnob_ == Knob::lower);
    geometry.paintKnob(painter, context, palette(), states_[1], rightX,
                       focused && activeKnob_ == Knob::upper);
}

bool RangeSlider::pressKnobAt(QPointF point) {
    const SliderTrack geometry = track();
    for (Knob knob : {Knob::lower, Knob::upper}) {
        if (geometry.knobRect(values_[index(knob)]).contains(point)) {
            activeKnob_ = knob;
            states_[index(knob)] = KnobState::pressed;
            return true;
        }
    }
    return false;
}

void RangeSlider::pressKnobFor(double value) {
    // The nearer knob; the upper one on a tie.
    activeKnob_ = std::abs(value - values_[0]) < std::abs(value - values_[1]) ? Knob::lower : Knob::upper;
    states_[index(activeKnob_)] = KnobState::pressed;
}

bool RangeSlider::isPressed() const {
    return states_[0] == KnobState::pressed || states_[1] == KnobState::pressed;
}

void RangeSlider::releaseKnobs() {
    states_[0] = states_[1] = KnobState::resting;
}

void RangeSlider::focusInEvent(QFocusEvent* event) {
    if (event->reason() == Qt::TabFocusReason)
        activeKnob_ = Knob::lower;
    else if (event->reason() == Qt::BacktabFocusReason)
        activeKnob_ = Knob::upper;
    SliderBase::focusInEvent(event);
}

bool RangeSlider::focusNextPrevChild(bool next) {
    // Each knob is a stop of the Tab chain.
    const Knob other = next ? Knob::upper : Knob::lower;
    if (hasFocus() && activeKnob_ != other) {
        activeKnob_ = other;
        update();
        return true;
    }
    return SliderBase::focusNextPrevChild(next);
}

} // namespace cw::controls

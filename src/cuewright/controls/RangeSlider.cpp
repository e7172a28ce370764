#include "cuewright/controls/RangeSlider.h"

#include "base/Log.h"

#include <QFocusEvent>
#include <QMouseEvent>
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
    if (!(highest > lowest)) {
        base::log("min is bigger than max. that's not possible!");
        return;
    }
    const double span = maxValue_ - minValue_;
    values_[0] = std::clamp((lowest - minValue_) / span, 0.0, 1.0);
    values_[1] = std::clamp((highest - minValue_) / span, 0.0, 1.0);
    update();
}

std::optional<RangeSlider::Knob> RangeSlider::pressedKnob() const {
    if (states_[0] == KnobState::pressed)
        return Knob::lower;
    if (states_[1] == KnobState::pressed)
        return Knob::upper;
    return std::nullopt;
}

bool RangeSlider::moveKnob(Knob knob, double value) {
    const SliderTrack geometry = track();
    const double half = SliderTrack::knobWidth / 2;
    if (knob == Knob::lower) {
        const double upperLeft = geometry.knobRect(values_[1]).left();
        if (upperLeft - geometry.knobRect(value).right() < knobGap)
            value = geometry.valueForX(upperLeft - half - knobGap);
    } else {
        const double lowerRight = geometry.knobRect(values_[0]).right();
        if (geometry.knobRect(value).left() - lowerRight < knobGap)
            value = geometry.valueForX(lowerRight + half + knobGap);
    }
    double& current = values_[index(knob)];
    if (value == current)
        return false;
    current = value;
    update();
    return true;
}

bool RangeSlider::moveActiveKnob(double value) {
    return moveKnob(activeKnob_, value);
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

void RangeSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    event->accept();
    const SliderTrack geometry = track();
    const QPointF point = event->position();
    if (geometry.knobRect(values_[0]).contains(point) || geometry.knobRect(values_[1]).contains(point)) {
        activeKnob_ = geometry.knobRect(values_[0]).contains(point) ? Knob::lower : Knob::upper;
        states_[index(activeKnob_)] = KnobState::pressed;
        update();
        return;
    }
    // A click on the track moves the nearer knob there, unsnapped; the upper one on a tie.
    const double value = geometry.valueForX(point.x());
    activeKnob_ = std::abs(value - values_[0]) < std::abs(value - values_[1]) ? Knob::lower : Knob::upper;
    states_[index(activeKnob_)] = KnobState::pressed;
    update();
    if (moveKnob(activeKnob_, value) && isContinuous())
        sendAction();
}

void RangeSlider::mouseMoveEvent(QMouseEvent* event) {
    const std::optional<Knob> knob = pressedKnob();
    if (!knob) {
        event->ignore();
        return;
    }
    event->accept();
    if (moveKnob(*knob, dragValue(event->position().x())) && isContinuous())
        sendAction();
}

void RangeSlider::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !pressedKnob()) {
        event->ignore();
        return;
    }
    event->accept();
    states_[0] = states_[1] = KnobState::resting;
    update();
    sendAction();
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

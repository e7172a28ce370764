#include "cuewright/controls/NormalSlider.h"

#include <QMouseEvent>
#include <QPainter>

namespace cw::controls {

NormalSlider::NormalSlider(QWidget* parent)
    : SliderBase(parent) {
    setAccessibleName(QStringLiteral("Slider"));
}

void NormalSlider::setValue(double value) {
    if (value == value_)
        return;
    value_ = value;
    update();
}

bool NormalSlider::moveActiveKnob(double value) {
    if (value == value_)
        return false;
    setValue(value);
    return true;
}

void NormalSlider::setKnobState(KnobState state) {
    knobState_ = state;
    update();
}

void NormalSlider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const PaintContext context = paintContext(*this);
    const SliderTrack geometry = track();
    geometry.paintTrack(painter, context);
    geometry.paintTicks(painter, context, devicePixelRatioF());
    geometry.paintKnob(painter, context, palette(), knobState_, geometry.knobCenterX(value_), hasFocus());
}

void NormalSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    event->accept();
    const SliderTrack geometry = track();
    const QPointF point = event->position();
    if (geometry.knobRect(value_).contains(point)) {
        setKnobState(KnobState::pressed);
        return;
    }
    // A press on the track jumps there unsnapped.
    const bool moved = moveActiveKnob(geometry.valueForX(point.x()));
    setKnobState(KnobState::pressed);
    if (moved && isContinuous())
        sendAction();
}

void NormalSlider::mouseMoveEvent(QMouseEvent* event) {
    if (knobState_ != KnobState::pressed) {
        event->ignore();
        return;
    }
    event->accept();
    if (moveActiveKnob(dragValue(event->position().x())) && isContinuous())
        sendAction();
}

void NormalSlider::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || knobState_ != KnobState::pressed) {
        event->ignore();
        return;
    }
    event->accept();
    setKnobState(KnobState::resting);
    sendAction();
}

} // namespace cw::controls

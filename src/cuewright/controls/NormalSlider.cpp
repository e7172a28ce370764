#include "cuewright/controls/NormalSlider.h"

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

bool NormalSlider::pressKnobAt(QPointF point) {
    if (!track().knobRect(value_).contains(point))
        return false;
    knobState_ = KnobState::pressed;
    return true;
}

void NormalSlider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const PaintContext context = paintContext(*this);
    const SliderTrack geometry = track();
    geometry.paintTrack(painter, context);
    geometry.paintTicks(painter, context, devicePixelRatioF());
    geometry.paintKnob(painter, context, palette(), knobState_, geometry.knobCenterX(value_), hasFocus());
}

} // namespace cw::controls

// A hand-drawn slider with one pointed knob; the status bar's speed slider.
#pragma once

#include "cuewright/controls/SliderBase.h"

namespace cw::controls {

// Its value is a fraction 0…1 of the track. A continuous slider sends its action on a press
// off the knob, on every drag step that moves it and on the release; one that is not only on
// the release. A press on the knob itself sends nothing until a drag or the release.
// `setValue` does not clamp: a value above 1 draws the knob past the track's end until the
// next press or drag. Main thread only.
class NormalSlider : public SliderBase {
public:
    explicit NormalSlider(QWidget* parent = nullptr);

    double value() const { return value_; }
    void setValue(double value);
    KnobState knobState() const { return knobState_; }

protected:
    double activeKnobValue() const override { return value_; }
    bool moveActiveKnob(double value) override;
    bool pressKnobAt(QPointF point) override;
    void pressKnobFor(double) override { knobState_ = KnobState::pressed; }
    bool isPressed() const override { return knobState_ == KnobState::pressed; }
    void releaseKnobs() override { knobState_ = KnobState::resting; }

    void paintEvent(QPaintEvent* event) override;

private:
    KnobState knobState_ = KnobState::resting;
    double value_ = 0.5;
};

} // namespace cw::controls

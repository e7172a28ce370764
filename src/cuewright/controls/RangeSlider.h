// A hand-drawn slider with two pointed knobs that select a sub-range of its track.
#pragma once

#include "cuewright/controls/SliderBase.h"

namespace cw::controls {

// The knobs' positions are fractions 0…1 of the track (`leftValue` ≤ `rightValue`); the
// owner converts them with `minValue` and `maxValue`. A dragged or clicked knob stops 1 point
// short of the other one and never pushes it. Sends its action like NormalSlider: on a click
// on the track and each drag step that moves a knob when continuous, and on every release.
// Tab enters on the lower knob, a second Tab moves the keyboard to the upper one.
// Main thread only.
class RangeSlider : public SliderBase {
public:
    enum class Knob { lower, upper };

    explicit RangeSlider(QWidget* parent = nullptr);

    double minValue() const { return minValue_; }
    double maxValue() const { return maxValue_; }
    // The values of the track's ends; refused with a log line unless min < max.
    void setRange(double minValue, double maxValue);

    // Places the knobs at two values in minValue…maxValue units, clamped to the track, also two
    // equal ones; values the wrong way round are logged and swapped, and values that are no
    // numbers logged and ignored. Sends no action.
    void setValues(double lowest, double highest);
    double leftValue() const { return values_[0]; }
    double rightValue() const { return values_[1]; }
    KnobState knobState(Knob knob) const { return states_[index(knob)]; }
    // The knob the arrow keys move: the last one pressed or reached by Tab.
    Knob activeKnob() const { return activeKnob_; }

protected:
    double activeKnobValue() const override { return values_[index(activeKnob_)]; }
    bool moveActiveKnob(double value) override;
    bool pressKnobAt(QPointF point) override;
    void pressKnobFor(double value) override;
    bool isPressed() const override;
    void releaseKnobs() override;

    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    static int index(Knob knob) { return knob == Knob::lower ? 0 : 1; }

    double minValue_ = 1.0;
    double maxValue_ = 6.0;
    double values_[2] = {0.3, 0.8};
    KnobState states_[2] = {KnobState::resting, KnobState::resting};
    Knob activeKnob_ = Knob::lower;
};

} // namespace cw::controls

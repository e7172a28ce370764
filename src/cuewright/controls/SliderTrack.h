// Geometry, snapping and drawing shared by the one-knob and the two-knob slider.
#pragma once

#include "cuewright/controls/ControlPainting.h"

#include <QRectF>
#include <QSizeF>

#include <vector>

class QPainter;
class QPalette;

namespace cw::controls {

enum class KnobState { resting, pressed };

// A horizontal track inset 7 points left and right, with optional ticks and pointed knobs.
// Values are fractions 0…1 of the track. A plain value: the sliders fill one from their fields
// for painting, hit-testing and keyboard steps alike.
struct SliderTrack {
    static constexpr double knobWidth = 11.0;
    static constexpr double knobHeight = 11.0;

    QSizeF size;       // the slider's bounds
    int tickMarks = 0; // tick intervals; 0 draws no ticks and snaps nowhere

    QRectF trackRect() const;
    double knobCenterX(double value) const;
    // The knob's hit rectangle: knobWidth wide around its centre, over the full height.
    QRectF knobRect(double value) const;
    // 0 at or left of the track's start, 1 at or right of its end, linear between.
    double valueForX(double x) const;
    // The first snap value within 0.01 of `value`; the value itself when there is none.
    double snapped(double value) const;
    // One per tick, at the tick's own position i / tickMarks rounded to tenths, so the track's
    // ends are snap points like every tick between them.
    std::vector<double> snapValues() const;
    // How far an arrow key moves a knob: one tick interval, or a hundredth without ticks.
    double keyStep() const;

    // The full-width groove, the ticks above it and a knob pointing up at them.
    void paintTrack(QPainter& painter, const PaintContext& context) const; // whole points
    void paintTicks(QPainter& painter, const PaintContext& context, double ratio) const;
    void paintKnob(QPainter& painter, const PaintContext& context, const QPalette& palette, KnobState state,
                   double centerX, bool focused) const;
    // The groove's rectangle between two knob centres (the selected range).
    QRectF grooveBetween(double leftX, double rightX) const;
};

} // namespace cw::controls

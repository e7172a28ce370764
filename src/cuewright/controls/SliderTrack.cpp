#include "cuewright/controls/SliderTrack.h"

#include <QPainter>
#include <QPainterPath>
#include <QPalette>

#include <cmath>

namespace cw::controls {

static QColor grey(double level) {
    return QColor::fromRgbF(level, level, level);
}

// The knob's base stands 2 points above the bottom edge, the groove 5, the ticks 12.5.
constexpr double knobBase = 2;
constexpr double grooveBottom = 5;
constexpr double grooveHeight = 3;
constexpr double tickBottom = 12.5;
constexpr double tickHeight = 3;
constexpr double snapDistance = 0.01;

QRectF SliderTrack::trackRect() const {
    return QRectF(QPointF(0, 0), size).adjusted(7, 5, -7, -5);
}

double SliderTrack::knobCenterX(double value) const {
    const QRectF track = trackRect();
    return track.left() + value * track.width();
}

QRectF SliderTrack::knobRect(double value) const {
    return QRectF(knobCenterX(value) - knobWidth / 2, 0, knobWidth, size.height());
}

double SliderTrack::valueForX(double x) const {
    const QRectF track = trackRect();
    if (x <= track.left())
        return 0;
    if (x >= track.right())
        return 1;
    return (x - track.left()) / track.width();
}

double SliderTrack::snapped(double value) const {
    for (double snap : snapValues()) {
        if (std::abs(snap - value) <= snapDistance)
            return snap;
    }
    return value;
}

std::vector<double> SliderTrack::snapValues() const {
    std::vector<double> values;
    if (tickMarks <= 0)
        return values;
    values.reserve(tickMarks + 1);
    for (int i = 0; i <= tickMarks; ++i)
        values.push_back(std::round(10.0 * i / tickMarks) / 10.0);
    return values;
}

double SliderTrack::keyStep() const {
    return tickMarks > 0 ? 1.0 / tickMarks : 0.01;
}

QRectF SliderTrack::grooveBetween(double leftX, double rightX) const {
    return QRectF(leftX, size.height() - grooveBottom - grooveHeight, rightX - leftX, grooveHeight);
}

void SliderTrack::paintTrack(QPainter& painter, const PaintContext& context) const {
    const QRectF groove = grooveBetween(0, size.width()).toAlignedRect();
    QPainterPath path;
    path.addRoundedRect(groove, 1, 2);
    painter.fillPath(path, context.dark ? grey(0.3098) : grey(0.7216));
}

void SliderTrack::paintTicks(QPainter& painter, const PaintContext& context, double ratio) const {
    if (tickMarks <= 0)
        return;
    const QRectF track = trackRect();
    const double step = track.width() / tickMarks;
    const QColor colour = context.dark ? grey(0.3961) : grey(0.6040);
    for (int i = 0; i <= tickMarks; ++i) {
        const QRectF tick(track.left() + i * step - 0.5, size.height() - tickBottom - tickHeight, 1,
                          tickHeight);
        painter.fillRect(alignedToDevicePixels(tick, ratio), colour);
    }
}

void SliderTrack::paintKnob(QPainter& painter, const PaintContext& context, const QPalette& palette,
                            KnobState state, double centerX, bool focused) const {
    // A flat base with a point at the top, drawn upwards from the base line.
    const double w = knobWidth;
    const double h = knobHeight;
    const double left = centerX - w / 2;
    const double base = size.height() - knobBase;
    QPainterPath path;
    path.moveTo(left, base);
    path.lineTo(left + w, base);
    path.lineTo(left + w, base - 6);
    path.lineTo(left + w / 2 + 0.5, base - h);
    path.lineTo(left + w / 2 - 0.5, base - h);
    path.lineTo(left, base - 6);
    path.closeSubpath();

    const bool pressed = state == KnobState::pressed;
    QColor fill;
    if (context.dark)
        fill = pressed ? grey(0.8941) : grey(0.8000);
    else
        fill = pressed ? grey(0.9412) : palette.color(QPalette::Base);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(path, fill);
    if (!context.dark) {
        QColor outline = grey(0.5);
        outline.setAlphaF(0.3f);
        painter.strokePath(path, QPen(outline, 1));
    }
    if (focused)
        painter.strokePath(path, QPen(palette.color(QPalette::Highlight), 1.5));
    painter.restore();
}

} // namespace cw::controls

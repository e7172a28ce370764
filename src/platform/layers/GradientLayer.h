// GradientLayer: an axial colour gradient across the bounds.
#pragma once

#include "platform/layers/Layer.h"

#include <QList>

namespace platform::layers {

// Fills its bounds with a linear gradient. Start and end points are unit coordinates of the bounds, y up:
// (0.5, 0) is the middle of the bottom edge (the default start), (0.5, 1) the middle of the top edge (the
// default end). Locations (0...1) place the colours; without them, or when their count differs from the
// colours', the colours are spread evenly. One colour fills the bounds; none draws nothing. Before the
// start and after the end the end colours continue.
class GradientLayer : public Layer {
public:
    GradientLayer();

    const QList<QColor>& colors() const { return colors_; }
    void setColors(const QList<QColor>& colors);
    const QList<double>& locations() const { return locations_; }
    void setLocations(const QList<double>& locations);
    QPointF startPoint() const { return start_; }
    void setStartPoint(QPointF point);
    QPointF endPoint() const { return end_; }
    void setEndPoint(QPointF point);

protected:
    void draw(QPainter& painter) override;

private:
    QList<QColor> colors_;
    QList<double> locations_;
    QPointF start_{0.5, 0};
    QPointF end_{0.5, 1};
};

} // namespace platform::layers

// GradientLayer: an axial colour gradient across the bounds.
#pragma once

#include "platform/layers/Layer.h"

#include <QList>
#include <QRgb>

#include <vector>

namespace platform::layers {

// Fills its bounds with a linear gradient. Start and end points are unit coordinates of the bounds, y up:
// (0.5, 0) is the middle of the bottom edge (the default start), (0.5, 1) the middle of the top edge (the
// default end). Locations (0...1) place the colours; without them, or when their count differs from the
// colours', the colours are spread evenly. One colour fills the bounds; none draws nothing. Before the
// start and after the end the end colours continue.
//
// A gradient whose rows each hold one colour (a vertical one, or one colour) is painted, when its picture
// lands on whole device pixels, as one colour fill per run of equal rows: the same pixels as blending the
// picture, without reading it each frame or keeping it (the runs come from a picture one pixel wide).
class GradientLayer : public Layer {
public:
    GradientLayer();

    const QList<QColor>& colors() const { return colors_; }
    void setColors(const QList<QColor>& colors);
    const QList<double>& locations() const { return locations_; }
    void setLocations(const QList<double>& locations);
    void setStartPoint(QPointF point);
    void setEndPoint(QPointF point);

protected:
    void draw(QPainter& painter) override;
    void paintContent(QPainter& painter, const QRectF& bounds, const QRectF& visible) override;
    void didMarkForDisplay() override;

private:
    // Rows [first, first + count) of the cached picture (row 0 at the visual top) all hold `pixel`.
    struct RowRun {
        int first = 0;
        int count = 0;
        QRgb pixel = 0;
    };
    static std::vector<RowRun> uniformRowRuns(const QImage& image);
    std::vector<RowRun> columnRowRuns();
    bool fillsRowRuns(QPainter& painter, const QRectF& bounds);

    QList<QColor> colors_;
    QList<double> locations_;
    QPointF start_{0.5, 0};
    QPointF end_{0.5, 1};
    // The runs of the picture at `rowRunsSize_` and `rowRunsScale_`; empty when they cannot stand for it.
    std::vector<RowRun> rowRuns_;
    bool rowRunsValid_ = false;
    double rowRunsScale_ = 0;
    QSizeF rowRunsSize_;
};

} // namespace platform::layers

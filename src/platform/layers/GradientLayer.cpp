#include "platform/layers/GradientLayer.h"

#include "platform/layers/LayerPainting.h"

#include <QLinearGradient>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace platform::layers {

GradientLayer::GradientLayer() {
    setNeedsDisplayOnBoundsChange(true);
}

void GradientLayer::setColors(const QList<QColor>& colors) {
    if (colors == colors_) {
        return;
    }
    colors_ = colors;
    setNeedsDisplay();
}

void GradientLayer::setLocations(const QList<double>& locations) {
    if (locations == locations_) {
        return;
    }
    locations_ = locations;
    setNeedsDisplay();
}

void GradientLayer::setStartPoint(QPointF point) {
    if (point == start_) {
        return;
    }
    start_ = point;
    setNeedsDisplay();
}

void GradientLayer::setEndPoint(QPointF point) {
    if (point == end_) {
        return;
    }
    end_ = point;
    setNeedsDisplay();
}

void GradientLayer::draw(QPainter& painter) {
    const QRectF box = bounds();
    if (colors_.isEmpty() || box.isEmpty()) {
        return;
    }
    if (colors_.size() == 1) {
        painter.fillRect(box, colors_.front());
        return;
    }
    auto at = [&](QPointF unit) {
        return QPointF(box.x() + unit.x() * box.width(), box.y() + unit.y() * box.height());
    };
    QLinearGradient gradient(at(start_), at(end_));
    gradient.setSpread(QGradient::PadSpread);
    const bool placed = locations_.size() == colors_.size();
    for (qsizetype i = 0; i < colors_.size(); ++i) {
        const double location = placed ? std::clamp(locations_[i], 0.0, 1.0)
                                       : static_cast<double>(i) / static_cast<double>(colors_.size() - 1);
        gradient.setColorAt(location, colors_[i]);
    }
    painter.fillRect(box, gradient);
}

// Runs of equal rows, or nothing when a row holds more than one colour (a slanted gradient, or a partly
// covered last column).
std::vector<GradientLayer::RowRun> GradientLayer::uniformRowRuns(const QImage& image) {
    std::vector<RowRun> runs;
    if (image.format() != QImage::Format_ARGB32_Premultiplied) {
        return runs;
    }
    const int width = image.width();
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        const QRgb pixel = line[0];
        if (!std::all_of(line + 1, line + width, [pixel](QRgb p) { return p == pixel; })) {
            return {};
        }
        if (!runs.empty() && runs.back().pixel == pixel) {
            ++runs.back().count;
        } else {
            runs.push_back(RowRun{y, 1, pixel});
        }
    }
    return runs;
}

void GradientLayer::didMarkForDisplay() {
    rowRunsValid_ = false;
}

void GradientLayer::paintContent(QPainter& painter, const QRectF& bounds, const QRectF& visible) {
    if (fillsRowRuns(painter, bounds)) {
        return;
    }
    Layer::paintContent(painter, bounds, visible);
}

// The rows of the picture the layer would cache, drawn one pixel wide: in a gradient whose rows each hold
// one colour, that column is every column. Empty when the rows are not uniform, or when the picture's
// last column would be only partly covered (its pixels then differ from the others).
std::vector<GradientLayer::RowRun> GradientLayer::columnRowRuns() {
    const QSizeF size = Layer::bounds().size();
    const double scale = contentsScale();
    const bool rowsUniform = colors_.size() == 1 || start_.x() == end_.x();
    const double columns = size.width() * scale;
    if (!rowsUniform || std::abs(columns - std::round(columns)) > 1e-6) {
        return {};
    }
    QImage column = makeLayerImage(QSizeF(1 / scale, size.height()), scale);
    if (column.isNull()) {
        return {};
    }
    {
        // As the layer's own picture is drawn (Layer::displayIfNeeded), clipped by the narrow image.
        QPainter painter(&column);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                               QPainter::SmoothPixmapTransform);
        painter.translate(0, size.height());
        painter.scale(1, -1);
        painter.translate(-Layer::bounds().x(), -Layer::bounds().y());
        draw(painter);
    }
    return uniformRowRuns(column);
}

bool GradientLayer::fillsRowRuns(QPainter& painter, const QRectF& bounds) {
    // A colour fill puts down exactly the pixels the picture's blend would only at full opacity, in
    // source-over, and outside anti-aliased clips (which round the two differently at their edges).
    if (colors_.isEmpty() || bounds.size() != Layer::bounds().size() || painter.opacity() < 1 ||
        painter.compositionMode() != QPainter::CompositionMode_SourceOver || isPaintingUnderSoftClip()) {
        return false;
    }
    if (!rowRunsValid_ || rowRunsScale_ != contentsScale() || rowRunsSize_ != bounds.size()) {
        rowRuns_ = columnRowRuns();
        rowRunsValid_ = true;
        rowRunsScale_ = contentsScale();
        rowRunsSize_ = bounds.size();
    }
    if (rowRuns_.empty()) {
        return false;
    }
    const double scale = contentsScale();
    const QSize pixels = layerImagePixels(bounds.size(), scale);
    const std::optional<QPoint> origin = uprightImageDeviceOrigin(painter, bounds, pixels, scale);
    if (!origin) {
        return false;
    }
    painter.save();
    painter.resetTransform();
    for (const RowRun& run : rowRuns_) {
        if (qAlpha(run.pixel) == 0) {
            continue; // blending a transparent pixel changes nothing
        }
        painter.fillRect(QRect(origin->x(), origin->y() + run.first, pixels.width(), run.count),
                         QColor::fromRgba(qUnpremultiply(run.pixel)));
    }
    painter.restore();
    return true;
}

} // namespace platform::layers

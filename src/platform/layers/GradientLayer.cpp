#include "platform/layers/GradientLayer.h"

#include <QLinearGradient>
#include <QPainter>

#include <algorithm>

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

} // namespace platform::layers

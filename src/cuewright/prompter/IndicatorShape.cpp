#include "cuewright/prompter/IndicatorShape.h"

#include "cuewright/model/UserDefaults.h"

#include <QPainter>
#include <QPainterPath>

namespace cw::IndicatorShape {

QRectF frame(IndicatorType type, IndicatorSize size, const QRectF& bounds) {
    const double f = sizeFactor(size);
    const double w = bounds.width();
    const double h = bounds.height();
    switch (type) {
    case IndicatorType::none:
        return QRectF(0, 0, 0, 0);
    case IndicatorType::arrow:
        return QRectF(4, (h - f * h) / 2, 0.75 * f * h, f * h);
    case IndicatorType::dot:
        return QRectF(4, (h - 0.75 * f * h) / 2, 0.75 * f * h, 0.75 * f * h);
    case IndicatorType::line:
        return QRectF(4, h / 2 - 2 * f, f * w, 4 * f);
    }
    return QRectF(0, 0, 0, 0);
}

QColor resolvedColor(IndicatorColor color, const platform::Defaults& defaults) {
    switch (color) {
    case IndicatorColor::green:
        return QColor::fromRgbF(0, 1, 0);
    case IndicatorColor::white:
        return defaultTextColor(defaults).toQColor();
    case IndicatorColor::red:
        return QColor::fromRgbF(1, 0, 0);
    case IndicatorColor::yellow:
        return QColor::fromRgbF(1, 1, 0);
    case IndicatorColor::orange:
        return QColor::fromRgbF(1, 0.5, 0);
    case IndicatorColor::purple:
        return QColor(175, 82, 222);
    case IndicatorColor::blue:
        return QColor(0, 122, 255);
    }
    return QColor::fromRgbF(1, 0, 0);
}

QColor resolvedColor(IndicatorColor color) {
    return resolvedColor(color, platform::Defaults::standard());
}

void drawArrow(QPainter& painter, const QRectF& rect, const QColor& color) {
    QPainterPath path;
    path.moveTo(rect.left(), rect.top());
    path.lineTo(rect.right(), rect.center().y());
    path.lineTo(rect.left(), rect.bottom());
    path.closeSubpath();
    painter.fillPath(path, color);
}

void draw(QPainter& painter, IndicatorType type, const QColor& color, const QRectF& rect) {
    painter.setRenderHint(QPainter::Antialiasing);
    switch (type) {
    case IndicatorType::none:
        return;
    case IndicatorType::arrow:
        drawArrow(painter, rect, color);
        return;
    case IndicatorType::dot: {
        QPainterPath path;
        path.addEllipse(rect);
        painter.fillPath(path, color);
        return;
    }
    case IndicatorType::line:
        painter.fillRect(rect, color);
        return;
    }
}

} // namespace cw::IndicatorShape

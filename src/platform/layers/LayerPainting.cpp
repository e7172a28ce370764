#include "platform/layers/LayerPainting.h"

#include <QPaintEngine>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>

namespace platform::layers {

namespace {
constexpr int dotsPerMeterAt72Dpi = 2835; // 72 / 0.0254
} // namespace

QSize layerImagePixels(QSizeF points, double scale) {
    if (points.isEmpty() || scale <= 0) {
        return {};
    }
    const double width = std::ceil(points.width() * scale - 1e-6);
    const double height = std::ceil(points.height() * scale - 1e-6);
    if (!(width > 0 && height > 0 && width * height * 4 <= std::numeric_limits<int>::max())) {
        return {};
    }
    return {static_cast<int>(width), static_cast<int>(height)};
}

bool imageFits(QSize pixels) {
    return !pixels.isEmpty() &&
           qint64{pixels.width()} * pixels.height() * 4 <= std::numeric_limits<int>::max();
}

QSize imagePixels(QSizeF points, double scale) {
    const double width = std::round(points.width() * scale);
    const double height = std::round(points.height() * scale);
    if (!(width > 0 && height > 0 && width <= std::numeric_limits<int>::max() &&
          height <= std::numeric_limits<int>::max())) {
        return {};
    }
    return {static_cast<int>(width), static_cast<int>(height)};
}

bool canDrawImages(const QPainter& painter) {
    const QPaintEngine* engine = painter.paintEngine();
    const QPaintDevice* device = engine ? engine->paintDevice() : nullptr;
    if (!device) {
        return false;
    }
    return qint64{device->width()} * device->height() * std::max(device->depth(), 32) / 8 <=
           std::numeric_limits<int>::max();
}

QImage resetLayerImage(QImage image, double scale) {
    image.setDotsPerMeterX(dotsPerMeterAt72Dpi);
    image.setDotsPerMeterY(dotsPerMeterAt72Dpi);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    return image;
}

QImage makeLayerImage(QSizeF points, double scale) {
    const QSize pixels = layerImagePixels(points, scale);
    if (pixels.isEmpty()) {
        return {};
    }
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) {
        return {};
    }
    return resetLayerImage(std::move(image), scale);
}

QPaintDevice* layerMetricsDevice() {
    static QImage device = makeLayerImage(QSizeF(1, 1), 1.0);
    return &device;
}

void flipToTopLeft(QPainter& painter, const QRectF& rect) {
    painter.translate(rect.left(), rect.top() + rect.height());
    painter.scale(1, -1);
}

void drawImageUpright(QPainter& painter, const QRectF& rect, const QImage& image) {
    if (image.isNull() || rect.isEmpty() || !canDrawImages(painter)) {
        return;
    }
    painter.save();
    flipToTopLeft(painter, rect);
    // Drawn one to one (only moved or mirrored): snap to whole pixels so neighbouring tiles leave no seam
    // and text stays crisp.
    const QTransform& t = painter.worldTransform();
    const bool unscaled = t.m12() == 0 && t.m21() == 0 && std::abs(std::abs(t.m11()) - 1) < 1e-9 &&
                          std::abs(std::abs(t.m22()) - 1) < 1e-9 && painter.device() &&
                          painter.device()->devicePixelRatio() == image.devicePixelRatio() &&
                          std::abs(rect.width() * image.devicePixelRatio() - image.width()) < 0.5 &&
                          std::abs(rect.height() * image.devicePixelRatio() - image.height()) < 0.5;
    if (unscaled) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.setRenderHint(QPainter::Antialiasing, false);
        // At the image's own size: a target a fraction of a pixel off would send Qt down its
        // scaling path, several times slower than the plain blend, to resample by nothing.
        painter.drawImage(
            QRectF(0, 0, image.width() / image.devicePixelRatio(), image.height() / image.devicePixelRatio()),
            image);
        painter.restore();
        return;
    }
    painter.drawImage(QRectF(0, 0, rect.width(), rect.height()), image);
    painter.restore();
}

std::optional<QPoint> uprightImageDeviceOrigin(const QPainter& painter, const QRectF& rect,
                                               const QImage& image) {
    if (image.isNull()) {
        return std::nullopt;
    }
    return uprightImageDeviceOrigin(painter, rect, image.size(), image.devicePixelRatio());
}

std::optional<QPoint> uprightImageDeviceOrigin(const QPainter& painter, const QRectF& rect, QSize pixels,
                                               double devicePixelRatio) {
    // After resetTransform() a painter still scales by the device's pixel ratio, so whole pixels of
    // the image are whole pixels of the device only at ratio 1.
    if (pixels.isEmpty() || rect.isEmpty() || !painter.device() ||
        painter.device()->devicePixelRatio() != 1 || devicePixelRatio != 1) {
        return std::nullopt;
    }
    // The same matrix drawImageUpright() ends with; a pure translation is what the raster engine copies
    // pixel for pixel, rounding the offset to whole pixels. The painter's own matrix, not its device
    // matrix: in a child widget that one holds the widget's place in the window, which the painter
    // adds again to whatever it draws after resetTransform().
    QTransform t = painter.combinedTransform();
    t.translate(rect.left(), rect.top() + rect.height());
    t.scale(1, -1);
    if (t.type() > QTransform::TxTranslate ||
        std::abs(rect.width() * devicePixelRatio - pixels.width()) >= 0.5 ||
        std::abs(rect.height() * devicePixelRatio - pixels.height()) >= 0.5) {
        return std::nullopt;
    }
    return QPoint(qRound(t.dx()), qRound(t.dy()));
}

} // namespace platform::layers

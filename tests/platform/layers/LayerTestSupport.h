// Helpers for the layer tests: a settable clock, y-up pixel probes and PNG output.
#pragma once

#include "platform/layers/Layer.h"
#include "platform/layers/Transaction.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QDir>
#include <QImage>

#include <cstdlib>
#include <memory>

namespace layertest {

// Installs a clock that only moves when told to.
class FakeClock {
public:
    FakeClock() {
        platform::layers::LayerClock::setOverride([this] { return now; });
    }
    ~FakeClock() { platform::layers::LayerClock::setOverride({}); }
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;
    void advance(double seconds) { now += seconds; }
    double now = 1000.0;
};

// The colour at (x, y) with y counted up from the image's bottom row, in image pixels.
inline QColor at(const QImage& image, int x, int y) {
    return image.pixelColor(x, image.height() - 1 - y);
}

inline bool near(const QColor& a, const QColor& b, int tolerance = 3) {
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance && std::abs(a.alpha() - b.alpha()) <= tolerance;
}

#define EXPECT_COLOR(actual, expected)                                                                       \
    EXPECT_TRUE(layertest::near((actual), (expected)))                                                       \
        << "got " << (actual).name(QColor::HexArgb).toStdString() << " expected "                            \
        << QColor(expected).name(QColor::HexArgb).toStdString()

// Writes the image as NAME.png under $CW_TEST_OUTPUT_DIR/layers when that is set.
inline void savePng(const QImage& image, const char* name) {
    const char* dir = std::getenv("CW_TEST_OUTPUT_DIR");
    if (!dir || !*dir) {
        return;
    }
    const QString path = QString::fromUtf8(dir) + QStringLiteral("/layers");
    QDir().mkpath(path);
    image.save(path + QLatin1Char('/') + QString::fromUtf8(name) + QStringLiteral(".png"));
}

// A layer with the given frame (anchor at the bottom-left corner) and background colour.
inline std::shared_ptr<platform::layers::Layer> box(const QRectF& frame, const QColor& color = QColor()) {
    auto layer = std::make_shared<platform::layers::Layer>();
    layer->setAnchorPoint(QPointF(0, 0));
    layer->setFrame(frame);
    if (color.isValid()) {
        layer->setBackgroundColor(color);
    }
    return layer;
}

} // namespace layertest

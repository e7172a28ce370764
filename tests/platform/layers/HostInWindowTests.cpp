// A layer host below another widget in a real window on an X server: what the window shows where the
// host lies is the host's own picture, pixel for pixel, for every way the renderer puts pixels down
// (text tiles, gradient rows, square borders, rounded backgrounds). Offscreen renders have no offset
// inside a window and cannot show where a host that is not at the window's corner paints.
#include "platform/layers/GradientLayer.h"
#include "platform/layers/LayerHost.h"
#include "platform/layers/LayerTestSupport.h"
#include "platform/layers/TiledTextLayer.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

namespace {

using namespace platform::layers;

// White bars on clear, so that tiles go down band by band.
class BarsSource : public TextLayoutSource {
public:
    QSizeF size() const override { return {100, 120}; }
    void paint(QPainter& painter, const QRectF&) const override {
        for (int bar = 0; bar < 6; ++bar) {
            painter.fillRect(QRectF(10, 6 + bar * 20, 80, 9), Qt::white);
        }
    }
};

std::shared_ptr<Layer> sampleTree() {
    auto root = std::make_shared<Layer>();
    auto text = std::make_shared<TiledTextLayer>();
    text->setAnchorPoint(QPointF(0, 0));
    text->setFrame(QRectF(20, 60, 100, 120));
    text->setSource(std::make_shared<BarsSource>());
    root->addSublayer(text);

    auto gradient = std::make_shared<GradientLayer>();
    gradient->setAnchorPoint(QPointF(0, 0));
    gradient->setFrame(QRectF(140, 120, 80, 60));
    gradient->setColors({QColor(255, 0, 0), QColor(0, 0, 255)});
    gradient->setStartPoint(QPointF(0.5, 0));
    gradient->setEndPoint(QPointF(0.5, 1));
    root->addSublayer(gradient);

    auto bordered = layertest::box(QRectF(140, 40, 80, 60));
    bordered->setBorderWidth(1);
    bordered->setBorderColor(Qt::gray);
    root->addSublayer(bordered);

    auto rounded = layertest::box(QRectF(20, 10, 100, 36), QColor(0, 160, 0));
    rounded->setCornerRadius(6);
    root->addSublayer(rounded);
    return root;
}

TEST(LayerHostInWindow, AHostBelowAnotherWidgetShowsItsOwnPicture) {
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) {
        GTEST_SKIP() << "needs an X server";
    }
    TransactionScope immediate;
    QWidget window;
    auto* column = new QVBoxLayout(&window);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* above = new QWidget;
    above->setFixedHeight(37); // an odd offset, like a bar's
    column->addWidget(above);
    auto* host = new LayerHost;
    host->setFixedSize(240, 200);
    column->addWidget(host);
    host->setRootLayer(sampleTree());
    window.show();

    const QImage expected = host->renderToImage();
    layertest::savePng(expected, "host-in-window-expected");
    const QPoint origin = host->mapTo(&window, QPoint(0, 0));
    ASSERT_EQ(origin.y(), 37);
    // Until the window shows the painted host (X maps and exposes it in its own time).
    QImage shown;
    const QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired()) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        if (host->framesPainted() == 0) {
            continue;
        }
        shown = window.screen()->grabWindow(window.winId()).toImage().copy(QRect(origin, host->size()));
        if (shown.convertToFormat(expected.format()) == expected) {
            break;
        }
    }
    layertest::savePng(shown, "host-in-window-shown");
    ASSERT_EQ(shown.size(), expected.size());
    int differing = 0;
    for (int y = 0; y < expected.height(); ++y) {
        for (int x = 0; x < expected.width(); ++x) {
            differing += (shown.pixel(x, y) & 0xffffff) != (expected.pixel(x, y) & 0xffffff);
        }
    }
    EXPECT_EQ(differing, 0) << "the window shows the host's picture moved or cut";
}

} // namespace

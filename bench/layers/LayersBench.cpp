// One prompter frame: a scrolled 1920 x 1080 layer tree with tiled text beside drawing the whole
// QTextLayout of the script every frame.
#include "platform/layers/Layer.h"
#include "platform/layers/LayerPainting.h"
#include "platform/layers/LayerRenderer.h"
#include "platform/layers/TileCache.h"
#include "platform/layers/TiledTextLayer.h"
#include "platform/layers/Transaction.h"
#include "support/Ratios.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

using namespace platform::layers;

namespace {

constexpr int viewWidth = 1920;
constexpr int viewHeight = 1080;
constexpr double textWidth = 1800;
constexpr double fontSize = 72;
constexpr double pointsPerFrame = 3; // about 180 points a second at 60 frames a second

QString script() {
    static const char* words[] = {"the",     "presenter", "reads", "aloud", "while",  "script",  "scrolls",
                                  "upwards", "smoothly",  "past",  "a",     "steady", "reading", "line",
                                  "and",     "every",     "word",  "stays", "sharp",  "on",      "glass"};
    QString text;
    unsigned seed = 7;
    for (int i = 0; i < 20000; ++i) {
        seed = seed * 1103515245u + 12345u;
        text += QString::fromLatin1(words[(seed >> 16) % (sizeof(words) / sizeof(words[0]))]);
        text += (i % 90 == 89) ? QChar(QChar::LineSeparator) : QChar(' ');
    }
    return text;
}

QFont scriptFont() {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(fontSize);
    return font;
}

// The whole script as one wrapped QTextLayout, measured against the layer metrics device.
std::shared_ptr<QTextLayout> layOutScript(double* height) {
    auto layout = std::make_shared<QTextLayout>(script(), scriptFont(), layerMetricsDevice());
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    option.setAlignment(Qt::AlignHCenter);
    layout->setTextOption(option);
    layout->setCacheEnabled(true);
    layout->beginLayout();
    double y = 0;
    for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
        line.setLineWidth(textWidth);
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout->endLayout();
    *height = y;
    return layout;
}

// Hands the prompter's layout to a tiled layer: paints only the lines inside the asked rectangle.
class LayoutSource : public TextLayoutSource {
public:
    LayoutSource(std::shared_ptr<QTextLayout> layout, double height)
        : layout_(std::move(layout))
        , height_(height) {}
    QSizeF size() const override { return {textWidth, height_}; }
    void paint(QPainter& painter, const QRectF& rect) const override {
        painter.setPen(QColor(240, 230, 120));
        layout_->draw(&painter, QPointF(0, 0), {}, rect);
    }

private:
    std::shared_ptr<QTextLayout> layout_;
    double height_;
};

struct Script {
    Script() { layout = layOutScript(&height); }
    std::shared_ptr<QTextLayout> layout;
    double height = 0;
};

const Script& sharedScript() {
    static const Script s;
    return s;
}

QImage frameImage() {
    QImage image(viewWidth, viewHeight, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    return image;
}

void BM_TiledTextFrame(benchmark::State& state) {
    const Script& s = sharedScript();
    TransactionScope immediate;
    auto root = std::make_shared<Layer>();
    root->setAnchorPoint(QPointF(0, 0));
    root->setFrame(QRectF(0, 0, viewWidth, viewHeight));
    root->setBackgroundColor(Qt::black);
    root->setMasksToBounds(true);
    auto scroll = std::make_shared<Layer>();
    scroll->setAnchorPoint(QPointF(0, 0));
    scroll->setFrame(QRectF(0, 0, viewWidth, viewHeight));
    root->addSublayer(scroll);
    auto text = std::make_shared<TiledTextLayer>();
    text->setAnchorPoint(QPointF(0, 0));
    text->setFrame(QRectF(60, viewHeight / 2.0 - s.height, textWidth, s.height));
    text->setSource(std::make_shared<LayoutSource>(s.layout, s.height));
    scroll->addSublayer(text);

    QImage image = frameImage();
    double offset = 0;
    for (auto _ : state) {
        offset = offset + pointsPerFrame > s.height ? 0 : offset + pointsPerFrame;
        scroll->setPosition(QPointF(0, offset));
        QPainter painter(&image);
        painter.translate(0, viewHeight);
        painter.scale(1, -1);
        LayerRenderer::render(painter, *root, QRectF(0, 0, viewWidth, viewHeight), LayerClock::now());
    }
    state.counters["tiles"] = text->tilesRendered();
    state.counters["cacheMB"] = static_cast<double>(TileCache::shared()->bytesUsed()) / (1024 * 1024);
}
BENCHMARK(BM_TiledTextFrame)->Unit(benchmark::kMicrosecond);

enum class Clip { none, view };

// The whole script's layout drawn into every frame, scrolled on by a frame's step each time.
void drawWholeLayoutFrames(benchmark::State& state, Clip clip) {
    const Script& s = sharedScript();
    QImage image = frameImage();
    double offset = 0;
    for (auto _ : state) {
        offset = offset + pointsPerFrame > s.height ? 0 : offset + pointsPerFrame;
        QPainter painter(&image);
        painter.fillRect(QRect(0, 0, viewWidth, viewHeight), Qt::black);
        painter.setPen(QColor(240, 230, 120));
        const QPointF origin(60, viewHeight / 2.0 - offset);
        if (clip == Clip::view) {
            s.layout->draw(&painter, origin, {},
                           QRectF(0, 0, viewWidth, viewHeight)); // clip in painter space
        } else {
            s.layout->draw(&painter, origin);
        }
    }
}

// Reference: the whole script's layout drawn into every frame.
void BM_WholeLayoutFrame(benchmark::State& state) {
    drawWholeLayoutFrames(state, Clip::none);
}
BENCHMARK(BM_WholeLayoutFrame)->Unit(benchmark::kMicrosecond);

// A second, kinder reference: the same layout drawn with a clip rectangle, so Qt skips invisible lines.
void BM_ClippedLayoutFrame(benchmark::State& state) {
    drawWholeLayoutFrames(state, Clip::view);
}
BENCHMARK(BM_ClippedLayoutFrame)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    return benchsupport::runWithRatios(
        argc, argv,
        {{"BM_TiledTextFrame", "BM_WholeLayoutFrame"}, {"BM_TiledTextFrame", "BM_ClippedLayoutFrame"}},
        "well below 1");
}

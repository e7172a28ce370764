// The prompter's frame cost through the layer engine beside drawing the whole script's layout
// every frame, repaints per scroll step while a script plays, the layout time of a long script,
// and the view's peak memory at 4K.
#include "cuewright/model/Project.h"
#include "cuewright/prompter/PrompterTextLayout.h"
#include "cuewright/prompter/PrompterView.h"
#include "cuewright/prompter/PrompterViewController.h"
#include "platform/layers/Layer.h"
#include "platform/layers/LayerPainting.h"
#include "platform/layers/LayerRenderer.h"
#include "platform/layers/TileCache.h"
#include "platform/layers/Transaction.h"
#include "platform/text/Color.h"
#include "platform/text/Font.h"
#include "platform/text/TextAttributes.h"
#include "platform/ui/MainQueueBridge.h"
#include "support/Ratios.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QPainter>
#include <QResizeEvent>
#include <QTextLayout>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr double pointsPerFrame = 4; // a brisk reading pace at 60 frames a second

platform::AttributedString script(int words) {
    static const char* vocabulary[] = {"the",     "presenter", "reads",    "aloud", "while", "script",
                                       "scrolls", "upward",    "smoothly", "past",  "a",     "steady",
                                       "reading", "line",      "and",      "every", "word",  "stays",
                                       "sharp",   "on",        "glass"};
    QString text;
    unsigned seed = 7;
    for (int i = 0; i < words; ++i) {
        seed = seed * 1103515245u + 12345u;
        text += QString::fromLatin1(vocabulary[(seed >> 16) % 21]);
        text += (i % 90 == 89) ? QChar(u'\n') : QChar(u' ');
    }
    platform::Attributes attributes;
    attributes.font = platform::Font{QStringLiteral("DejaVu Sans"), 36, false, false};
    attributes.foregroundColor = platform::Color(0.95, 0.9, 0.5);
    return platform::AttributedString(text, attributes);
}

std::unique_ptr<cw::PrompterView> makeView(int w, int h, int words) {
    auto view = std::make_unique<cw::PrompterView>();
    view->resize(w, h);
    QResizeEvent event(QSize(w, h), QSize());
    QApplication::sendEvent(view.get(), &event);
    // The display first, while the text is short: the script is laid out once, below.
    view->updateDisplay([](cw::PrompterDisplayState& s) {
        s.prompterMargin = 0.1;
        s.prompterWordCountFactor = 0.5f;
        s.overlayType = std::getenv("BENCH_NO_OVERLAY") ? cw::OverlayType::none : cw::OverlayType::fadeOut;
        s.indicatorType = cw::IndicatorType::arrow;
    });
    view->setText(script(words));
    view->layoutText();
    view->relayout(false);
    view->setScrollPosition(0.2, false, true);
    return view;
}

long statusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0) {
            return std::atol(line.c_str() + prefix.size());
        }
    }
    return 0;
}

void renderFrame(cw::PrompterView& view, QImage& image) {
    QPainter painter(&image);
    painter.translate(0, image.height());
    painter.scale(1, -1);
    platform::layers::LayerRenderer::render(painter, view.rootLayer(),
                                            QRectF(0, 0, image.width(), image.height()),
                                            platform::layers::LayerClock::now());
}

// Peak memory of a view holding a 100,000-word script at 3840 × 2160, scrolled through a stretch.
// Runs first, so the process's high-water mark is this view's.
void BM_PeakMemory4K(benchmark::State& state) {
    const long before = statusKiB("VmRSS");
    for (auto _ : state) {
        auto view = makeView(3840, 2160, 100000);
        QImage image(3840, 2160, QImage::Format_ARGB32_Premultiplied);
        const double step = 40.0 / view->textHeight();
        double progress = 0.2;
        for (int frame = 0; frame < 300; ++frame) {
            progress += step;
            view->setScrollPosition(progress, false, false);
            renderFrame(*view, image);
        }
        state.counters["tileCacheMB"] = static_cast<double>(view->tileCache()->bytesUsed()) / (1024 * 1024);
        state.counters["rssGrowthMB"] = static_cast<double>(statusKiB("VmRSS") - before) / 1024;
        state.counters["peakRssMB"] = static_cast<double>(statusKiB("VmHWM")) / 1024;
        state.counters["textLayers"] = static_cast<double>(view->textLayers().size());
    }
}
BENCHMARK(BM_PeakMemory4K)->Iterations(1)->Unit(benchmark::kMillisecond);

// Scrolls a view of the benchmark's size through frames at the reading pace, each painted by `paint`,
// in the steady state (tiles cached as they come in).
template <typename Paint>
std::unique_ptr<cw::PrompterView> scrollFrames(benchmark::State& state, Paint paint) {
    const int w = static_cast<int>(state.range(0));
    const int h = static_cast<int>(state.range(1));
    auto view = makeView(w, h, 20000);
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    const double step = pointsPerFrame / view->textHeight();
    double progress = 0.2;
    for (int warm = 0; warm < 30; ++warm) {
        progress += step;
        view->setScrollPosition(progress, false, false);
        paint(*view, image);
    }
    for (auto _ : state) {
        progress = progress + step > 0.95 ? 0.2 : progress + step;
        view->setScrollPosition(progress, false, false);
        paint(*view, image);
    }
    return view;
}

// One scrolled frame through the layer engine.
void BM_PrompterFrame(benchmark::State& state) {
    auto view = scrollFrames(state, renderFrame);
    state.counters["tileCacheMB"] = static_cast<double>(view->tileCache()->bytesUsed()) / (1024 * 1024);
}
// 3833 × 2157: a window of no round size, where text and band widths fall between pixels.
BENCHMARK(BM_PrompterFrame)
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->Args({3833, 2157})
    ->Unit(benchmark::kMicrosecond);

// The same frame as the view paints it on screen, through its paint event: the host's own background
// fill (when the layers do not cover it) and the widget machinery included.
void BM_HostFrame(benchmark::State& state) {
    scrollFrames(state, [](cw::PrompterView& view, QImage& image) { view.render(&image); });
}
BENCHMARK(BM_HostFrame)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMicrosecond);

// A shown view whose paint events are timed, and where the text stands in each frame painted: the
// scroll layer's position at the time the frame shows.
class FrameProbe : public QObject {
public:
    explicit FrameProbe(cw::PrompterView& view)
        : view_(view) {
        view.installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Paint || painting_) {
            return false;
        }
        const double at = view_.frameTime();
        platform::layers::LayerClock::setOverride([at] { return at; });
        positions.push_back(view_.scrollLayer().presentationPosition().y());
        platform::layers::LayerClock::setOverride({});
        QElapsedTimer timer;
        timer.start();
        painting_ = true;
        static_cast<QObject*>(watched)->event(event);
        painting_ = false;
        paintNs += timer.nsecsElapsed();
        return true;
    }
    std::vector<double> positions;
    qint64 paintNs = 0;

private:
    cw::PrompterView& view_;
    bool painting_ = false;
};

// A script playing at three lines a second in a shown 1920 × 1080 prompter, for 120 scroll steps
// (two seconds): repaints per step, the drawing time per step and per frame, and how even the
// text's moves between frames are (their spread over their mean). Argument 1: frames come from the
// scroll step alone; 0, as before: the view's own frame tick paints too, beside the step.
void BM_PlayingRepaints(benchmark::State& state) {
    const bool fromStep = state.range(0) == 1;
    auto project = cw::Project::create();
    project->setText(script(20000));
    project->setScrollSpeed(100, 0.1, 3.0);
    auto controller = cw::PrompterViewController::create(project);
    cw::PrompterView& view = *controller->prompterView();
    view.resize(1920, 1080);
    view.show();
    controller->start();
    // Without an editor, the prompter's own lines give the script its running time.
    controller->publishLineMetrics();
    project->setProgress(0.2, false, true);
    while (view.framesPainted() == 0) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    QApplication::processEvents(QEventLoop::AllEvents, 100);
    FrameProbe probe(view);
    project->play();
    for (auto _ : state) {
        view.setClockedExternally(fromStep);
        probe.positions.clear();
        probe.paintNs = 0;
        const int ticks0 = controller->scrollTicks();
        const int frames0 = view.framesPainted();
        QEventLoop loop;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, [&] {
            if (controller->scrollTicks() - ticks0 >= 120) {
                loop.quit();
            }
        });
        check.start(1);
        loop.exec();
        const double steps = controller->scrollTicks() - ticks0;
        const double frames = view.framesPainted() - frames0;
        std::vector<double> moves;
        for (std::size_t i = 1; i < probe.positions.size(); ++i) {
            moves.push_back(probe.positions[i] - probe.positions[i - 1]);
        }
        double mean = 0;
        for (double m : moves) {
            mean += m / static_cast<double>(moves.size());
        }
        double spread = 0;
        for (double m : moves) {
            spread += (m - mean) * (m - mean) / static_cast<double>(moves.size());
        }
        state.counters["repaintsPerStep"] = frames / steps;
        state.counters["drawMsPerStep"] = static_cast<double>(probe.paintNs) / 1e6 / steps;
        state.counters["drawMsPerFrame"] = frames > 0 ? static_cast<double>(probe.paintNs) / 1e6 / frames : 0;
        state.counters["movePx"] = mean;
        state.counters["moveSpread"] = mean != 0 ? std::sqrt(spread) / std::abs(mean) : 0;
    }
    project->pause();
}
BENCHMARK(BM_PlayingRepaints)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

// The naive way: the whole script as one QTextLayout, drawn into every frame.
void BM_NaiveFrame(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0));
    const int h = static_cast<int>(state.range(1));
    const double textWidth = w * 0.9 - 10;
    const double fontSize = textWidth / 5 * 0.5;
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(fontSize);
    QTextLayout layout(script(20000).string(), font, platform::layers::layerMetricsDevice());
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    option.setAlignment(Qt::AlignHCenter);
    layout.setTextOption(option);
    layout.setCacheEnabled(true);
    layout.beginLayout();
    double y = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(textWidth);
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout.endLayout();
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.setDotsPerMeterX(2835);
    image.setDotsPerMeterY(2835);
    double offset = 0.2 * y;
    for (auto _ : state) {
        offset = offset + pointsPerFrame > 0.95 * y ? 0.2 * y : offset + pointsPerFrame;
        QPainter painter(&image);
        painter.fillRect(image.rect(), Qt::black);
        painter.setPen(QColor(242, 230, 128));
        layout.draw(&painter, QPointF(w * 0.05 + 5, h / 2.0 - offset));
    }
}
BENCHMARK(BM_NaiveFrame)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMicrosecond);

// The cheapest possible frame, as the physical reference: one opaque screen-sized image drawn over
// the whole frame. Both images start on a page: the C library's copy slows down several times when
// source and destination sit at unlucky offsets from each other, and the reference is the best case.
void BM_ImageBlit(benchmark::State& state) {
    const int w = static_cast<int>(state.range(0));
    const int h = static_cast<int>(state.range(1));
    const std::size_t bytes = static_cast<std::size_t>(w) * h * 4;
    std::unique_ptr<uchar, decltype(&std::free)> sourceBits(
        static_cast<uchar*>(std::aligned_alloc(4096, bytes)), &std::free);
    std::unique_ptr<uchar, decltype(&std::free)> imageBits(
        static_cast<uchar*>(std::aligned_alloc(4096, bytes)), &std::free);
    QImage source(sourceBits.get(), w, h, w * 4, QImage::Format_RGB32);
    source.fill(QColor(20, 30, 40));
    QImage image(imageBits.get(), w, h, w * 4, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    for (auto _ : state) {
        QPainter painter(&image);
        painter.drawImage(0, 0, source);
    }
}
BENCHMARK(BM_ImageBlit)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMicrosecond);

// Laying out a 100,000-word script: font fitting, measuring, chunking and the text layers.
void BM_Layout100kWords(benchmark::State& state) {
    auto view = makeView(1920, 1080, 10);
    view->setText(script(100000));
    for (auto _ : state) {
        view->layoutText();
        benchmark::DoNotOptimize(view->textHeight());
    }
    state.counters["textLayers"] = static_cast<double>(view->textLayers().size());
    state.counters["lines"] = static_cast<double>(view->lineOffsets().size());
}
// One iteration: a second layout of the same text at the same width reuses the first's measurement.
BENCHMARK(BM_Layout100kWords)->Iterations(1)->Unit(benchmark::kMillisecond);

// Measuring a text of n one-word lines: short paragraphs share layouts, so the cost grows with n
// at a few microseconds a line rather than the cost of a layout each.
void BM_MeasureShortLines(benchmark::State& state) {
    platform::Attributes attributes;
    attributes.font = platform::Font{QStringLiteral("DejaVu Sans"), 100, false, false};
    const platform::AttributedString text(QStringLiteral("word\n").repeated(int(state.range(0))), attributes);
    const cw::LayerTypesetter typesetter;
    for (auto _ : state) {
        const auto metrics = cw::measurePrompterText(text, 1500, typesetter, 4096);
        benchmark::DoNotOptimize(metrics.totalHeight);
        state.counters["lines"] = static_cast<double>(metrics.lineOffsets.size());
    }
}
BENCHMARK(BM_MeasureShortLines)->Arg(100000)->Arg(400000)->Iterations(1)->Unit(benchmark::kMillisecond);

// Laying out a script that is one word of n letters (a pasted hash, a run of one key held down):
// QTextLayout alone takes time growing with n², breaking it ourselves in one pass grows with n.
void BM_LayoutLongWord(benchmark::State& state) {
    auto view = makeView(1920, 1080, 10);
    platform::Attributes attributes;
    attributes.font = platform::Font{QStringLiteral("DejaVu Sans"), 36, false, false};
    view->setText(platform::AttributedString(QString(static_cast<int>(state.range(0)), u'm'), attributes));
    for (auto _ : state) {
        view->layoutText();
        benchmark::DoNotOptimize(view->textHeight());
    }
    state.counters["lines"] = static_cast<double>(view->lineOffsets().size());
}
BENCHMARK(BM_LayoutLongWord)
    ->Arg(10000)
    ->Arg(40000)
    ->Arg(100000)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    platform::installMainQueueBridge();
    return benchsupport::runWithRatios(argc, argv,
                                       {{"BM_PrompterFrame/1920/1080", "BM_NaiveFrame/1920/1080"},
                                        {"BM_PrompterFrame/3840/2160", "BM_NaiveFrame/3840/2160"},
                                        {"BM_PrompterFrame/1920/1080", "BM_ImageBlit/1920/1080"},
                                        {"BM_PrompterFrame/3840/2160", "BM_ImageBlit/3840/2160"}},
                                       "naive at 1920 x 1080 at most 0.2, blit at most 2");
}

// HTML from another program pasted into the editor, in the shapes that held or killed a reader
// that was not bounded: each reports, beside its time, the longest the main thread went without
// turning its event loop (held_ms) and whether the HTML was read or refused (read = 1 or 0).
#include "cuewright/editor/ClipboardText.h"
#include "cuewright/editor/ScriptTextView.h"
#include "support/Defaults.h"
#include "support/MainThreadHold.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QClipboard>
#include <QMimeData>

#include <cstdlib>
#include <utility>
#include <vector>

namespace {

QString repeated(const char* piece, int times) {
    return QString::fromLatin1(piece).repeated(times);
}

// Each shape about a megabyte, or as the report of it had it.
const std::vector<std::pair<const char*, QString>>& shapes() {
    static const std::vector<std::pair<const char*, QString>> made = [] {
        QString attributes = QStringLiteral("<div");
        for (int i = 0; attributes.size() < (900 << 10); ++i) {
            attributes += QStringLiteral(" a%1").arg(i);
        }
        return std::vector<std::pair<const char*, QString>>{
            {"import", QStringLiteral("<style>@import url(\"/dev/zero\")</style>x")},
            {"background", QStringLiteral("<p style=\"background-image:url('/dev/zero')\">x</p>")},
            {"divs behind a quote",
             QStringLiteral("<div x'>") + repeated("<div>", 200000) + QStringLiteral("x")},
            {"divs in a textarea", QStringLiteral("<textarea>") + repeated("<div>", 200000)},
            {"divs in a script", QStringLiteral("<script>") + repeated("<div>", 200000)},
            {"wbr", repeated("<wbr>", 200000)},
            {"rules", QStringLiteral("<style>") + repeated("* { color: red }\n", 56000) +
                          QStringLiteral("</style>") + repeated("<b>x</b>", 4000)},
            {"wide cells", repeated("<tr><td colspan=\"20000\">x</td></tr>", 400)},
            {"attributes", attributes + QStringLiteral(">x")},
            {"dense runs", repeated("<b>a</b><i>b</i>", 65000)},
            {"plain paragraphs",
             repeated("<p>The news as it is read, and the rest of the text.</p>\n", 12000)},
            {"a page of paragraphs",
             repeated("<p>The <b>news</b> as <i>it</i> is <span style=\"color:red\">read</span>.</p>\n",
                      12000)},
        };
    }();
    return made;
}

void BM_PasteHtml(benchmark::State& state) {
    const auto& [name, html] = shapes()[size_t(state.range(0))];
    state.SetLabel(name);
    QWidget area;
    area.resize(1000, 700);
    auto* view = new cw::editor::ScriptTextView(&area);
    view->setKeyEventDelegate(nullptr, &benchsupport::defaults());
    view->setGeometry(area.rect());
    area.show();
    QApplication::processEvents();
    double held = 0;
    bool read = false;
    for (auto _ : state) {
        state.PauseTiming();
        view->clear();
        auto* mime = new QMimeData;
        mime->setHtml(html);
        mime->setText(QStringLiteral("plain"));
        QApplication::clipboard()->setMimeData(mime);
        state.ResumeTiming();
        held = std::max(
            held, benchsupport::longestHold([&] { view->paste(); }, [&] { return !view->isPasting(); }));
        read = !view->toPlainText().startsWith(QStringLiteral("plain"));
    }
    state.counters["held_ms"] = held;
    state.counters["read"] = read ? 1 : 0;
    state.SetBytesProcessed(state.iterations() * html.toUtf8().size());
}
BENCHMARK(BM_PasteHtml)->DenseRange(0, 11)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// The reading alone, without the paste rules and the insertion.
void BM_ReadHtml(benchmark::State& state) {
    const auto& [name, html] = shapes()[size_t(state.range(0))];
    state.SetLabel(name);
    for (auto _ : state) {
        benchmark::DoNotOptimize(cw::editor::ClipboardText::readHtml(html));
    }
    state.SetBytesProcessed(state.iterations() * html.toUtf8().size());
}
BENCHMARK(BM_ReadHtml)->DenseRange(0, 11)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

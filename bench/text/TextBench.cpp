// RTF import and export in MB/s beside Qt's own rich-text (HTML) reader and writer on the same text.
#include "platform/text/AttributedString.h"
#include "platform/text/QtTextFormat.h"
#include "platform/text/RtfReader.h"
#include "platform/text/RtfWriter.h"
#include "support/Ratios.h"
#include "support/SampleScript.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QTextCursor>
#include <QTextDocument>

#include <cstdlib>

using namespace platform;

namespace {

QTextDocument* documentOf(const AttributedString& text) {
    auto* document = new QTextDocument;
    QTextCursor cursor(document);
    for (const AttributedString::Run& run : text.runs()) {
        cursor.insertText(text.string().mid(run.range.location, run.range.length),
                          toCharFormat(run.attributes));
    }
    return document;
}

const AttributedString& script() {
    static const AttributedString text =
        benchsupport::sampleScript(10000, benchsupport::PauseUnderline::none);
    return text;
}

void BM_RtfRead(benchmark::State& state) {
    const QByteArray rtf = writeRtf(script());
    for (auto _ : state) {
        auto text = readRtf(rtf);
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(state.iterations() * rtf.size());
}
BENCHMARK(BM_RtfRead)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_QtHtmlRead(benchmark::State& state) {
    std::unique_ptr<QTextDocument> source(documentOf(script()));
    const QString html = source->toHtml();
    for (auto _ : state) {
        QTextDocument document;
        document.setHtml(html);
        benchmark::DoNotOptimize(document.characterCount());
    }
    state.SetBytesProcessed(state.iterations() * html.toUtf8().size());
}
BENCHMARK(BM_QtHtmlRead)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RtfWrite(benchmark::State& state) {
    qsizetype bytes = 0;
    for (auto _ : state) {
        const QByteArray rtf = writeRtf(script());
        bytes = rtf.size();
        benchmark::DoNotOptimize(rtf.data());
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_RtfWrite)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_QtHtmlWrite(benchmark::State& state) {
    std::unique_ptr<QTextDocument> source(documentOf(script()));
    qsizetype bytes = 0;
    for (auto _ : state) {
        const QString html = source->toHtml();
        bytes = html.size();
        benchmark::DoNotOptimize(html.data());
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_QtHtmlWrite)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    return benchsupport::runWithRatios(argc, argv,
                                       {{"BM_RtfRead", "BM_QtHtmlRead"}, {"BM_RtfWrite", "BM_QtHtmlWrite"}},
                                       "RTF import >= 20 MB/s");
}

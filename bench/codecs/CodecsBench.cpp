// DOCX and PDF import and DOCX export in MB/s beside our RTF codec on the same script.
#include "platform/codecs/OfficeDocuments.h"
#include "platform/text/AttributedString.h"
#include "platform/text/RtfReader.h"
#include "platform/text/RtfWriter.h"
#include "support/Ratios.h"
#include "support/SampleScript.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QPdfWriter>
#include <QTemporaryDir>
#include <QTextDocument>

#include <cstdlib>

using namespace platform;

namespace {

const AttributedString& script() {
    static const AttributedString text =
        benchsupport::sampleScript(10000, benchsupport::PauseUnderline::single);
    return text;
}

// Throughput counts the characters' UTF-8 size, so both formats are measured on the same work.
qsizetype textBytes() {
    static const qsizetype bytes = script().string().toUtf8().size();
    return bytes;
}

void BM_DocxRead(benchmark::State& state) {
    const QByteArray docx = docxData(script());
    for (auto _ : state) {
        auto text = readDocxData(docx);
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(state.iterations() * textBytes());
}
BENCHMARK(BM_DocxRead)->Unit(benchmark::kMillisecond)->UseRealTime();

// The script as a PDF that Qt lays out in pages: the reader sees real lines and paragraphs.
void BM_PdfRead(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("script.pdf"));
    {
        QPdfWriter writer(path);
        QTextDocument document;
        document.setPlainText(script().string());
        document.print(&writer);
    }
    for (auto _ : state) {
        auto text = readPdfFile(path);
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(state.iterations() * textBytes());
}
BENCHMARK(BM_PdfRead)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RtfRead(benchmark::State& state) {
    const QByteArray rtf = writeRtf(script());
    for (auto _ : state) {
        auto text = readRtf(rtf);
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(state.iterations() * textBytes());
}
BENCHMARK(BM_RtfRead)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DocxWrite(benchmark::State& state) {
    for (auto _ : state) {
        const QByteArray docx = docxData(script());
        benchmark::DoNotOptimize(docx.data());
    }
    state.SetBytesProcessed(state.iterations() * textBytes());
}
BENCHMARK(BM_DocxWrite)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RtfWrite(benchmark::State& state) {
    for (auto _ : state) {
        const QByteArray rtf = writeRtf(script());
        benchmark::DoNotOptimize(rtf.data());
    }
    state.SetBytesProcessed(state.iterations() * textBytes());
}
BENCHMARK(BM_RtfWrite)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    return benchsupport::runWithRatios(
        argc, argv,
        {{"BM_DocxRead", "BM_RtfRead"}, {"BM_PdfRead", "BM_DocxRead"}, {"BM_DocxWrite", "BM_RtfWrite"}},
        "DOCX import >= 10 MB/s of text");
}

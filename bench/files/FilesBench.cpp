// Script files: opening and saving a 100,000-word script as "cwr" and exporting it as RTF, in
// MB/s, beside our RTF codec alone on the same text (the part of the work that is not the file).
// Goals: open under 0.25 s, save under 0.5 s.
#include "cuewright/model/ScriptDocumentFile.h"
#include "cuewright/model/ScriptExporter.h"
#include "platform/defaults/Defaults.h"
#include "platform/text/RtfReader.h"
#include "platform/text/RtfWriter.h"
#include "support/Ratios.h"
#include "support/SampleScript.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>

#include <cstdlib>
#include <filesystem>

#include <unistd.h>

using namespace cw;
using namespace platform;
namespace fs = std::filesystem;

namespace {

// About 100,000 words: 3,300 paragraphs of 30 words with bold, coloured and accented runs,
// and a bookmark in every tenth paragraph.
Document sampleDocument(std::vector<Bookmark>& bookmarks) {
    const benchsupport::SampleStyles styles =
        benchsupport::sampleStyles(34, benchsupport::PauseUnderline::single);
    Document d;
    for (int i = 0; i < 3300; ++i) {
        const int start = d.text.length();
        benchsupport::appendSampleParagraph(d.text, styles);
        if (i % 10 == 0) {
            auto mark = std::make_shared<EmbeddedBookmark>();
            mark->id = QString::number(i);
            mark->userBlurb = QStringLiteral("Look up");
            d.text.addAttribute(CuewrightBookmarkAttributeName, QVariant::fromValue(mark), {start, 1});
            bookmarks.push_back(
                Bookmark{std::to_string(i), start, i + 1, i * 2.0, "Good evening", "Look up", i});
        }
    }
    return d;
}

struct Fixture {
    Fixture() {
        char pattern[] = "/tmp/cw-bench-files-XXXXXX";
        folder = ::mkdtemp(pattern);
        defaults = std::make_unique<Defaults>(
            Defaults::Options{folder / "defaults.json", std::chrono::hours(1), {}});
        document = sampleDocument(bookmarks);
        ScriptDocumentFile::save(folder / "script.cwr", document, bookmarks);
        textBytes = document.text.string().toUtf8().size();
    }
    ~Fixture() {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    fs::path folder;
    std::unique_ptr<Defaults> defaults;
    std::vector<Bookmark> bookmarks;
    Document document;
    qsizetype textBytes = 0;
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

// Throughput counts the characters' UTF-8 size, so every benchmark is measured on the same work.
void setThroughput(benchmark::State& state) {
    state.SetBytesProcessed(state.iterations() * fixture().textBytes);
}

void BM_CwrOpen(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) {
        Document d = ScriptDocumentFile::open(f.folder / "script.cwr", *f.defaults);
        benchmark::DoNotOptimize(d);
    }
    setThroughput(state);
}

void BM_CwrSave(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) {
        ScriptDocumentFile::save(f.folder / "saved.cwr", f.document, f.bookmarks);
    }
    setThroughput(state);
}

void BM_RtfExport(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) {
        ScriptExporter::exportRTF(f.folder / "export.rtf", f.document.text, Color::black());
    }
    setThroughput(state);
}

// References: the RTF codec alone, in memory.
void BM_RtfReadOnly(benchmark::State& state) {
    const QByteArray rtf = writeRtf(fixture().document.text);
    for (auto _ : state) {
        auto text = readRtf(rtf);
        benchmark::DoNotOptimize(text);
    }
    setThroughput(state);
}

void BM_RtfWriteOnly(benchmark::State& state) {
    for (auto _ : state) {
        QByteArray rtf = writeRtf(fixture().document.text);
        benchmark::DoNotOptimize(rtf);
    }
    setThroughput(state);
}

BENCHMARK(BM_CwrOpen)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RtfReadOnly)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CwrSave)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RtfWriteOnly)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RtfExport)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    return benchsupport::runWithRatios(argc, argv,
                                       {{"BM_CwrOpen", "BM_RtfReadOnly"},
                                        {"BM_CwrSave", "BM_RtfWriteOnly"},
                                        {"BM_RtfExport", "BM_RtfWriteOnly"}},
                                       "open under 250 ms, save under 500 ms");
}

// Measuring and chunking a long script with the real typesetter at a prompter's width, beside
// Qt's own document layout of the same text; and copying and editing its attributed text.
#include "cuewright/model/Project.h"
#include "cuewright/model/TextUtils.h"
#include "platform/activity/FakeActivityInhibitor.h"
#include "platform/defaults/Defaults.h"
#include "platform/text/QtTextFormat.h"
#include "support/Ratios.h"
#include "support/SampleScript.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QTextCursor>
#include <QTextDocument>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>

using namespace platform;

namespace {

constexpr double kWidth = 1728; // a 1920-point prompter less its 10 % margin
constexpr double kMaxChunkHeight = 4096;
constexpr int kWordsPerParagraph = 60;

// `words` words in paragraphs of 60, with bold and coloured runs, as a prompter shows them.
AttributedString sampleScript(int words) {
    static const char* const vocabulary[] = {
        "good", "evening", "and",     "welcome", "to", "the",    "programme", "tonight", "we",    "look",
        "at",   "harbour", "project", "café",    "on", "corner", "which",     "costs",   "three", "euros"};
    const auto [plain, bold, red] = benchsupport::sampleStyles(60, benchsupport::PauseUnderline::none);

    AttributedString text;
    QString run;
    for (int i = 0; i < words; ++i) {
        run += QString::fromUtf8(vocabulary[(i * 7 + i / 13) % 20]);
        const bool paragraphEnds = (i + 1) % kWordsPerParagraph == 0 || i + 1 == words;
        run += paragraphEnds ? u'\n' : u' ';
        if (i % 17 == 16 || paragraphEnds) {
            text.append(run, i % 34 == 33 ? bold : i % 51 == 50 ? red : plain);
            run.clear();
        }
    }
    return text;
}

const AttributedString& script(int words) {
    static std::map<int, AttributedString> cache;
    auto it = cache.find(words);
    if (it == cache.end()) {
        it = cache.emplace(words, sampleScript(words)).first;
    }
    return it->second;
}

void BM_TotalTextHeight(benchmark::State& state) {
    const AttributedString& text = script(int(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(cw::TextUtils::totalTextHeight(text, kWidth));
    }
    state.counters["words"] = double(state.range(0));
}
BENCHMARK(BM_TotalTextHeight)
    ->Arg(10000)
    ->Arg(50000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_LineChunkRanges(benchmark::State& state) {
    const AttributedString& text = script(int(state.range(0)));
    for (auto _ : state) {
        auto chunks = cw::TextUtils::lineChunkRanges(text, kMaxChunkHeight, kWidth);
        benchmark::DoNotOptimize(chunks.data());
    }
}
BENCHMARK(BM_LineChunkRanges)
    ->Arg(10000)
    ->Arg(50000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The reference: Qt lays the same runs out as one rich-text document at the same width.
void BM_QtDocumentHeight(benchmark::State& state) {
    const AttributedString& text = script(int(state.range(0)));
    for (auto _ : state) {
        QTextDocument document;
        document.setDocumentMargin(0);
        QTextCursor cursor(&document);
        for (const AttributedString::Run& run : text.runs()) {
            cursor.insertText(text.string().mid(run.range.location, run.range.length),
                              toCharFormat(run.attributes));
        }
        document.setTextWidth(kWidth);
        benchmark::DoNotOptimize(document.size().height());
    }
}
BENCHMARK(BM_QtDocumentHeight)
    ->Arg(10000)
    ->Arg(50000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A copy is shared until written; the edit then pays for one copy of the runs and the text.
void BM_CopyAndEdit(benchmark::State& state) {
    const AttributedString& text = script(int(state.range(0)));
    const int middle = text.length() / 2;
    Attributes bold;
    bold.font = Font{"DejaVu Sans", 60, true, false};
    for (auto _ : state) {
        AttributedString copy = text;
        copy.replaceCharacters({middle, 0}, QStringLiteral("inserted "));
        copy.addAttributes(bold, {middle, 8});
        benchmark::DoNotOptimize(copy.length());
    }
}
BENCHMARK(BM_CopyAndEdit)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond)->UseRealTime();

// What one keystroke costs the model: the editor hands the whole edited text to the project,
// which compares it with the stored one before storing it.
void BM_ProjectSetEditedText(benchmark::State& state) {
    static Defaults defaults(Defaults::Options{
        std::filesystem::temp_directory_path() / "bench-model-defaults.json", std::chrono::hours(1), {}});
    auto project = cw::Project::create(defaults);
    AttributedString a = script(int(state.range(0)));
    AttributedString b = a;
    b.replaceCharacters({b.length() / 2, 1}, QStringLiteral("x")); // same length: compared up to the middle
    bool flip = false;
    for (auto _ : state) {
        project->setText(flip ? a : b);
        flip = !flip;
    }
}
BENCHMARK(BM_ProjectSetEditedText)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    platform::setSharedActivityInhibitor(std::make_shared<platform::FakeActivityInhibitor>());

    benchmark::Initialize(&argc, argv);
    benchsupport::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios({{"BM_TotalTextHeight/10000", "BM_QtDocumentHeight/10000"},
                          {"BM_TotalTextHeight/50000", "BM_QtDocumentHeight/50000"},
                          {"BM_TotalTextHeight/100000", "BM_QtDocumentHeight/100000"},
                          {"BM_LineChunkRanges/100000", "BM_QtDocumentHeight/100000"}},
                         "measuring 100,000 words under 200 ms");

    // Times are in the benchmarks' own units (milliseconds here).
    std::printf("\nmeasuring per word (totalTextHeight)\n");
    const double per10k = reporter.time("BM_TotalTextHeight/10000") / 10000;
    for (int words : {10000, 50000, 100000}) {
        const double ms = reporter.time("BM_TotalTextHeight/" + std::to_string(words));
        if (ms > 0) {
            std::printf("  %6d words: %8.1f ms  %6.3f us/word  (x%.2f of the 10k rate)%s\n", words, ms,
                        ms * 1000 / words, per10k > 0 ? (ms / words) / per10k : 0.0,
                        words == 100000 ? (ms < 200 ? "  goal met" : "  goal missed") : "");
        }
    }
    benchmark::Shutdown();
    return 0;
}

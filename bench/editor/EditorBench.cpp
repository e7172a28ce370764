// Loading a long script into the editor's QTextEdit through the text bridge, beside a bare
// QTextEdit given the same text as plain text, as styled runs and as HTML; reading it back;
// counting its lines.
#include "cuewright/editor/LineMetrics.h"
#include "cuewright/editor/TextBridge.h"
#include "cuewright/model/TextUtils.h"
#include "platform/text/QtTextFormat.h"
#include "support/Ratios.h"
#include "support/SampleScript.h"

#include <benchmark/benchmark.h>

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

#include <cstdlib>

namespace {

// About 100,000 words (26 to a paragraph).
const platform::AttributedString& script() {
    static const platform::AttributedString text =
        benchsupport::sampleScript(100000 / 26, benchsupport::PauseUnderline::single);
    return text;
}

// One shown editor-sized text view, reused: loads replace its whole content.
QTextEdit& view() {
    static QTextEdit* edit = [] {
        auto* e = new QTextEdit;
        e->resize(1200, 800);
        e->show();
        QApplication::processEvents();
        return e;
    }();
    return *edit;
}

void finishLayout(QTextEdit& edit) {
    benchmark::DoNotOptimize(edit.document()->documentLayout()->documentSize());
}

void BM_LoadThroughBridge(benchmark::State& state) {
    QTextEdit& edit = view();
    for (auto _ : state) {
        cw::editor::setAttributedText(*edit.document(), script());
        finishLayout(edit);
    }
    state.counters["words"] = cw::TextUtils::wordCount(script().string());
}
BENCHMARK(BM_LoadThroughBridge)->Unit(benchmark::kMillisecond)->UseRealTime();

// The bridge's own share of a load: the inserts into a document without a view, no layout.
void BM_BridgeInsertsOnly(benchmark::State& state) {
    for (auto _ : state) {
        QTextDocument document;
        cw::editor::setAttributedText(document, script());
    }
}
BENCHMARK(BM_BridgeInsertsOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BareSetPlainText(benchmark::State& state) {
    QTextEdit& edit = view();
    for (auto _ : state) {
        edit.setPlainText(script().string());
        finishLayout(edit);
    }
}
BENCHMARK(BM_BareSetPlainText)->Unit(benchmark::kMillisecond)->UseRealTime();

// Plain text in the script's font: as many lines to lay out, one style.
void BM_BareSetPlainTextScriptFont(benchmark::State& state) {
    QTextEdit& edit = view();
    const QFont before = edit.document()->defaultFont();
    edit.document()->setDefaultFont(script().attributes(0).font->toQFont());
    for (auto _ : state) {
        edit.setPlainText(script().string());
        finishLayout(edit);
    }
    edit.document()->setDefaultFont(before);
}
BENCHMARK(BM_BareSetPlainTextScriptFont)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same runs inserted with Qt's formats alone (no exact values, no paragraph formats).
void BM_BareStyledInserts(benchmark::State& state) {
    QTextEdit& edit = view();
    const platform::AttributedString& text = script();
    for (auto _ : state) {
        edit.document()->clear();
        QTextCursor cursor(edit.document());
        cursor.beginEditBlock();
        for (const auto& run : text.runs()) {
            cursor.insertText(text.string().mid(run.range.location, run.range.length),
                              platform::toCharFormat(run.attributes));
        }
        cursor.endEditBlock();
        finishLayout(edit);
    }
}
BENCHMARK(BM_BareStyledInserts)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same styled text as Qt's own HTML (made once, outside the timing).
void BM_BareSetHtml(benchmark::State& state) {
    QTextEdit& edit = view();
    cw::editor::setAttributedText(*edit.document(), script());
    const QString html = edit.toHtml();
    for (auto _ : state) {
        edit.setHtml(html);
        finishLayout(edit);
    }
}
BENCHMARK(BM_BareSetHtml)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadBackThroughBridge(benchmark::State& state) {
    QTextEdit& edit = view();
    cw::editor::setAttributedText(*edit.document(), script());
    for (auto _ : state) {
        benchmark::DoNotOptimize(cw::editor::attributedText(*edit.document()).length());
    }
}
BENCHMARK(BM_ReadBackThroughBridge)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_MeasureLines(benchmark::State& state) {
    QTextEdit& edit = view();
    cw::editor::setAttributedText(*edit.document(), script());
    finishLayout(edit);
    for (auto _ : state) {
        benchmark::DoNotOptimize(cw::editor::measureLines(*edit.document()).lineCount);
    }
}
BENCHMARK(BM_MeasureLines)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    return benchsupport::runWithRatios(argc, argv,
                                       {{"BM_LoadThroughBridge", "BM_BareSetPlainText"},
                                        {"BM_LoadThroughBridge", "BM_BareSetPlainTextScriptFont"},
                                        {"BM_LoadThroughBridge", "BM_BareStyledInserts"},
                                        {"BM_LoadThroughBridge", "BM_BareSetHtml"}},
                                       "loading at most 1.5x the bare load");
}

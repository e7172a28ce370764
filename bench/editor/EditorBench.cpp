// Loading a long script into the editor's QTextEdit through the text bridge, beside a bare
// QTextEdit given the same text as plain text, as styled runs and as HTML; the editor's whole
// load through its controller; one keystroke in the middle of the script with the line
// publication, beside the same keystroke in a bare QTextEdit; reading the text back; counting
// its lines; a large text of each line structure against the same bytes in paragraphs; a tick of
// the editor following the prompter beside a bare view scrolled by height.
#include "cuewright/editor/EditorController.h"
#include "cuewright/editor/LineMetrics.h"
#include "cuewright/editor/ScriptTextView.h"
#include "cuewright/editor/TextBridge.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/ScriptImport.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/model/TextUtils.h"
#include "cuewright/model/UserDefaults.h"
#include "platform/defaults/Defaults.h"
#include "platform/text/QtTextFormat.h"
#include "platform/ui/MainQueueBridge.h"
#include "support/Ratios.h"
#include "support/SampleScript.h"
#include "support/Typing.h"

#include <benchmark/benchmark.h>

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>

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

// A script of about `words` words (26 to a paragraph).
const platform::AttributedString& scriptOf(int words) {
    static std::map<int, platform::AttributedString> scripts;
    auto [it, added] = scripts.try_emplace(words);
    if (added) {
        it->second = benchsupport::sampleScript(words / 26, benchsupport::PauseUnderline::single);
    }
    return it->second;
}

// The editor as the application builds it: a project, a shown script text view and its loaded
// controller, its lines counted (its timers never fire here: no event loop runs between keystrokes).
struct EditorFixture {
    explicit EditorFixture(const platform::AttributedString& text)
        : defaults(platform::Defaults::Options{
              std::filesystem::temp_directory_path() / "cw-bench-editor.json", std::chrono::hours(1), {}})
        , project((cw::registerUserDefaults(defaults), cw::Project::create(defaults))) {
        view.resize(1200, 800);
        view.show();
        QApplication::processEvents();
        project->setText(text);
        controller = std::make_shared<cw::editor::EditorController>(project, view, defaults);
        controller->load();
        while (controller->isLoadingText() || controller->isCountingLines()) {
            QApplication::processEvents();
        }
    }
    platform::Defaults defaults;
    std::shared_ptr<cw::Project> project;
    cw::editor::ScriptTextView view;
    std::shared_ptr<cw::editor::EditorController> controller;
};

// The whole load of the editor: the text at the editor's size, the script's alignment, the
// line publication.
void BM_EditorLoad(benchmark::State& state) {
    EditorFixture editor(scriptOf(int(state.range(0))));
    for (auto _ : state) {
        editor.controller->loadDocumentText(cw::editor::EditorController::Load::force);
    }
    state.counters["lines"] = editor.project->editor().lineCount;
}
BENCHMARK(BM_EditorLoad)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same with the script aligned otherwise than its paragraphs (left against centred).
void BM_EditorLoadRealigned(benchmark::State& state) {
    EditorFixture editor(scriptOf(int(state.range(0))));
    auto properties = editor.project->document().scriptProperties;
    properties.textAlignment = cw::TextAlignment::left;
    editor.project->setScriptProperties(properties);
    for (auto _ : state) {
        editor.controller->loadDocumentText(cw::editor::EditorController::Load::force);
    }
}
BENCHMARK(BM_EditorLoadRealigned)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

// One letter typed in the middle, with what the editor does at once: the line count, ranges and
// words per line published to the project (the text follows after the typing pause). The characters
// laid out again to count lines, per key, are the paragraph's, whatever the script's length.
void BM_EditorKeystroke(benchmark::State& state) {
    EditorFixture editor(scriptOf(int(state.range(0))));
    benchsupport::putCursorInTheMiddle(editor.view);
    const std::uint64_t relaid = cw::editor::relaidCharacterCount();
    for (auto _ : state) {
        benchsupport::typeLetter(editor.view);
    }
    state.counters["lines"] = editor.project->editor().lineCount;
    state.counters["relaidPerKey"] = double(cw::editor::relaidCharacterCount() - relaid) /
                                     double(std::max<benchmark::IterationCount>(1, state.iterations()));
}
BENCHMARK(BM_EditorKeystroke)->Arg(20000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same letter in a bare QTextEdit as wide as the editor, holding the same styled text at the
// editor's size, its layout finished.
void BM_BareKeystroke(benchmark::State& state) {
    const double size = EditorFixture(scriptOf(int(state.range(0)))).controller->lineHeight();
    QTextEdit& edit = view();
    edit.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    cw::editor::setAttributedText(*edit.document(), scriptOf(int(state.range(0))), size);
    finishLayout(edit);
    benchsupport::putCursorInTheMiddle(edit);
    for (auto _ : state) {
        benchsupport::typeLetter(edit);
        finishLayout(edit);
    }
}
BENCHMARK(BM_BareKeystroke)->Arg(20000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

// Plain text in a bare QTextEdit as wide as the editor, in the script's font at the editor's size:
// as many lines to lay out as the editor has.
void BM_BareSetPlainTextAtEditorSize(benchmark::State& state) {
    const platform::AttributedString& text = scriptOf(int(state.range(0)));
    const double size = EditorFixture(text).controller->lineHeight();
    QTextEdit& edit = view();
    edit.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    const QFont before = edit.document()->defaultFont();
    edit.document()->setDefaultFont(text.attributes(0).font->withPointSize(size).toQFont());
    for (auto _ : state) {
        edit.setPlainText(text.string());
        finishLayout(edit);
    }
    edit.document()->setDefaultFont(before);
}
BENCHMARK(BM_BareSetPlainTextAtEditorSize)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

// One tick of the editor following the prompter (33 a second while playing): the progress's
// counted line found in the editor's own layout and scrolled to, a line further each tick.
void BM_EditorFollowTick(benchmark::State& state) {
    EditorFixture editor(scriptOf(int(state.range(0))));
    editor.defaults.set(cw::settings::syncTeleprompterWindowToEditorScrolling, false); // the tick alone
    editor.controller->scrollToTransportPosition(/*animated=*/false);
    const int lines = editor.project->editor().lineCount;
    int tick = 0;
    for (auto _ : state) {
        editor.project->setProgress(double(tick++ % lines) / lines, false, true);
        editor.controller->scrollToTransportPosition(/*animated=*/false);
    }
    state.counters["lines"] = lines;
}
BENCHMARK(BM_EditorFollowTick)->Arg(100000)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The same progress steps, a bare QTextEdit holding the same text at the editor's size scrolled
// to the same share of its height.
void BM_BareFollowTick(benchmark::State& state) {
    EditorFixture editor(scriptOf(int(state.range(0))));
    editor.defaults.set(cw::settings::syncTeleprompterWindowToEditorScrolling, false);
    QTextEdit& edit = view();
    cw::editor::setAttributedText(*edit.document(), scriptOf(int(state.range(0))),
                                  editor.controller->lineHeight());
    finishLayout(edit);
    const int lines = editor.project->editor().lineCount;
    int tick = 0;
    for (auto _ : state) {
        editor.project->setProgress(double(tick++ % lines) / lines, false, true);
        const double height = edit.document()->documentLayout()->documentSize().height();
        edit.verticalScrollBar()->setValue(int(editor.project->transportState().progress * height));
    }
}
BENCHMARK(BM_BareFollowTick)->Arg(100000)->Unit(benchmark::kMicrosecond)->UseRealTime();

// About 2 MB of plain text, as a text file's import makes it, laid out in one of five ways: in
// paragraphs of about 80 words, as one paragraph, one word to a line, in paragraphs ended by CR
// alone, or as one run without a space.
enum class LineStructure { paragraphs, oneParagraph, wordPerLine, crEndings, noSpace };
const platform::AttributedString& structuredText(LineStructure structure) {
    static std::map<LineStructure, platform::AttributedString> texts;
    auto [it, added] = texts.try_emplace(structure);
    if (added) {
        const QString words[] = {QStringLiteral("alpha"), QStringLiteral("beta"), QStringLiteral("gamma"),
                                 QStringLiteral("delta"), QStringLiteral("epsilon")};
        QString text;
        for (int i = 0; text.size() < (2 << 20); ++i) {
            text += words[i % 5];
            const bool endsParagraph = i % 80 == 79;
            switch (structure) {
            case LineStructure::paragraphs:
                text += endsParagraph ? u'\n' : u' ';
                break;
            case LineStructure::oneParagraph:
                text += u' ';
                break;
            case LineStructure::wordPerLine:
                text += u'\n';
                break;
            case LineStructure::crEndings:
                text += endsParagraph ? u'\r' : u' ';
                break;
            case LineStructure::noSpace:
                break;
            }
        }
        platform::Defaults defaults(platform::Defaults::Options{std::filesystem::temp_directory_path() /
                                                                    "cw-bench-editor-import.json",
                                                                std::chrono::hours(1),
                                                                {}});
        cw::registerUserDefaults(defaults);
        it->second =
            cw::ScriptImport::plainText(text, cw::ScriptImport::DefaultStyle::fromUserDefaults(defaults));
    }
    return it->second;
}

// The editor's whole load of such a text, piece by piece with the event loop running between the
// pieces as in the application, to the line publication at its end.
void BM_EditorLoadLineStructure(benchmark::State& state) {
    EditorFixture editor(structuredText(LineStructure(state.range(0))));
    for (auto _ : state) {
        editor.controller->loadDocumentText(cw::editor::EditorController::Load::force);
        while (editor.controller->isLoadingText()) {
            QApplication::processEvents();
        }
    }
    state.counters["lines"] = editor.project->editor().lineCount;
}
BENCHMARK(BM_EditorLoadLineStructure)->DenseRange(0, 4)->Unit(benchmark::kMillisecond)->UseRealTime();

// One letter typed in the middle of such a text held as one paragraph (cut into many blocks), with
// the line publication: its lines are counted as one paragraph's.
void BM_EditorKeystrokeInOneParagraph(benchmark::State& state) {
    EditorFixture editor(structuredText(LineStructure(state.range(0))));
    while (editor.controller->isLoadingText()) {
        QApplication::processEvents();
    }
    benchsupport::putCursorInTheMiddle(editor.view);
    for (auto _ : state) {
        benchsupport::typeLetter(editor.view);
    }
    state.counters["lines"] = editor.project->editor().lineCount;
}
BENCHMARK(BM_EditorKeystrokeInOneParagraph)
    ->Arg(int(LineStructure::oneParagraph))
    ->Arg(int(LineStructure::noSpace))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A storm of combining marks (a letter under a thousand marks, over and over, 4 MB in UTF-8)
// going in piece by piece as the editor loads a long text, its lines counted as they come: the
// longest piece is the longest the main thread is held.
void BM_CountStormPieceByPiece(benchmark::State& state) {
    QString unit(u'e');
    for (int i = 0; i < 1000; ++i) {
        unit += QChar(char16_t(0x300 + i % 20));
    }
    const QString text = unit.repeated((4 << 20) / int(unit.toUtf8().size()));
    const cw::editor::LineCounting counting{1.5, 600};
    double longest = 0;
    for (auto _ : state) {
        QTextDocument document;
        document.setTextWidth(600);
        cw::editor::TextInsertion insertion(document, platform::AttributedString(text));
        for (bool done = false; !done;) {
            const auto start = std::chrono::steady_clock::now();
            const QTextBlock last = document.lastBlock();
            done = insertion.insert(cw::editor::EditorController::loadPieceCharacters);
            cw::editor::countLinesFrom(document, last, counting);
            longest = std::max(
                longest,
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        }
    }
    state.counters["longestPieceMs"] = longest;
}
BENCHMARK(BM_CountStormPieceByPiece)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    platform::installMainQueueBridge();
    return benchsupport::runWithRatios(
        argc, argv,
        {{"BM_LoadThroughBridge", "BM_BareSetPlainText"},
         {"BM_LoadThroughBridge", "BM_BareSetPlainTextScriptFont"},
         {"BM_LoadThroughBridge", "BM_BareStyledInserts"},
         {"BM_LoadThroughBridge", "BM_BareSetHtml"},
         {"BM_EditorLoad/100000", "BM_BareSetPlainTextAtEditorSize/100000"},
         {"BM_EditorLoadRealigned/100000", "BM_BareSetPlainTextAtEditorSize/100000"},
         {"BM_EditorKeystroke/20000", "BM_BareKeystroke/20000"},
         {"BM_EditorKeystroke/100000", "BM_BareKeystroke/100000"},
         {"BM_EditorFollowTick/100000", "BM_BareFollowTick/100000"},
         {"BM_EditorLoadLineStructure/1", "BM_EditorLoadLineStructure/0"},
         {"BM_EditorLoadLineStructure/2", "BM_EditorLoadLineStructure/0"},
         {"BM_EditorLoadLineStructure/3", "BM_EditorLoadLineStructure/0"}},
        "loading at most 1.5x the bare load, a keystroke at most 2x, a text of any line structure "
        "(one paragraph, a word to a line, CR endings) at most 2x the same bytes in paragraphs, a tick "
        "following the prompter at most 4x a bare scroll by height (microseconds either way)");
}

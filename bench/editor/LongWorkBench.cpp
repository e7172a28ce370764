// Long work on a large script and how long it holds the main thread: Print to PDF of a 4 MB
// script (off the main thread, in slices) beside Qt's own print of a QTextDocument of 2 MB (on
// the main thread, whole; at 3.4 MB and more its layout never ends), and Replace All over 2 MB of
// words and over 2 MB without a space, and its Undo and Redo; in the whole editor window, Replace
// All of 10,000,000 "x" by "yy" with its Undo and Redo, and a storm of combining marks opened and
// pasted, and the Cancel of a long paste and of a long Undo; with four prompter windows 700 px
// wide open, a 2.9 MB paste, a change of Words per Line and another prompter opened. Each reports, beside its
// time, the longest the main thread went without turning its event loop (held_ms).
#include "cuewright/editor/DocumentCommands.h"
#include "cuewright/editor/EditorController.h"
#include "cuewright/editor/EditorWindowController.h"
#include "cuewright/editor/FindBar.h"
#include "cuewright/editor/ProgressWindow.h"
#include "cuewright/editor/ScriptTextView.h"
#include "cuewright/editor/TextBridge.h"
#include "cuewright/model/Project.h"
#include "cuewright/prompter/PrompterView.h"
#include "cuewright/prompter/PrompterWindowController.h"
#include "platform/ui/FakeFileDialogs.h"
#include "support/Defaults.h"
#include "support/MainThreadHold.h"
#include "support/Ratios.h"
#include "support/SampleScript.h"

#include <benchmark/benchmark.h>

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPdfWriter>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <utility>

namespace {

// The sample script to at least `megabytes` of characters.
platform::AttributedString scriptOf(int megabytes) {
    const benchsupport::SampleStyles styles =
        benchsupport::sampleStyles(34, benchsupport::PauseUnderline::single);
    platform::AttributedString text;
    while (text.length() < megabytes << 20)
        benchsupport::appendSampleParagraph(text, styles);
    return text;
}

using benchsupport::longestHold;

void BM_PrintToPdf(benchmark::State& state) {
    QTemporaryDir dir;
    auto dialogs = std::make_shared<platform::FakeFileDialogs>();
    const auto previous = platform::setFileDialogs(dialogs);
    auto project = cw::Project::create(benchsupport::defaults());
    project->setText(scriptOf(int(state.range(0))));
    cw::editor::DocumentCommands commands(project, nullptr, benchsupport::defaults());
    double held = 0;
    int run = 0;
    for (auto _ : state) {
        const QString pdf = dir.filePath(QStringLiteral("script%1.pdf").arg(++run));
        dialogs->answerSave(pdf);
        held = std::max(held, longestHold([&] { commands.print(); },
                                          [&] { return QFile::exists(pdf) && !commands.printJob(); }));
    }
    state.counters["held_ms"] = held;
    state.SetBytesProcessed(state.iterations() * (std::int64_t(state.range(0)) << 20));
    platform::setFileDialogs(previous);
}
BENCHMARK(BM_PrintToPdf)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// The reference: Qt's own print of the same text in a QTextDocument (laid out at the printer's
// resolution), all on the main thread.
void BM_QtDocumentPrint(benchmark::State& state) {
    QTemporaryDir dir;
    const platform::AttributedString text = scriptOf(int(state.range(0)));
    double held = 0;
    for (auto _ : state) {
        held = std::max(held, longestHold(
                                  [&] {
                                      QPdfWriter writer(dir.filePath(QStringLiteral("qt.pdf")));
                                      writer.setResolution(1200);
                                      QTextDocument document;
                                      document.documentLayout()->setPaintDevice(&writer);
                                      cw::editor::setAttributedText(document, text);
                                      document.print(&writer);
                                  },
                                  [] { return true; }));
    }
    state.counters["held_ms"] = held;
    state.SetBytesProcessed(state.iterations() * (std::int64_t(state.range(0)) << 20));
}
BENCHMARK(BM_QtDocumentPrint)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// An editor text view with its find bar, shown.
struct ReplacingView {
    ReplacingView() {
        area.resize(1000, 700);
        view->setGeometry(area.rect());
        area.show();
        QApplication::processEvents();
    }
    // `text` in the view, the bar set to replace `needle` by `replacement`.
    void prepare(const platform::AttributedString& text, const QString& needle, const QString& replacement) {
        cw::editor::setAttributedText(*view->document(), text);
        bar->showBar(cw::editor::FindBar::Mode::replace);
        bar->findField().setText(needle);
        bar->replaceField().setText(replacement);
        QApplication::processEvents();
    }
    QWidget area;
    cw::editor::ScriptTextView* view = new cw::editor::ScriptTextView(&area);
    cw::editor::FindBar* bar = new cw::editor::FindBar(*view, &area);
};

// Replace All in an editor text view: words ("the" by "a") or a run without a space ("x" by "y").
void BM_ReplaceAll(benchmark::State& state) {
    const bool noSpace = state.range(0) != 0;
    const platform::AttributedString text =
        noSpace ? platform::AttributedString(QString(2 << 20, u'x')) : scriptOf(2);
    ReplacingView replacing;
    double held = 0;
    int replaced = 0;
    for (auto _ : state) {
        state.PauseTiming();
        replacing.prepare(text, noSpace ? QStringLiteral("x") : QStringLiteral("the"),
                          noSpace ? QStringLiteral("y") : QStringLiteral("a"));
        state.ResumeTiming();
        held =
            std::max(held, longestHold([&] { replaced = replacing.bar->replaceAll(); }, [] { return true; }));
    }
    state.counters["held_ms"] = held;
    state.counters["replaced"] = replaced;
    state.SetBytesProcessed(state.iterations() * (std::int64_t(2) << 20));
}
BENCHMARK(BM_ReplaceAll)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// Undo, then Redo, of that Replace All over 2 MB of words.
void BM_UndoRedoReplaceAll(benchmark::State& state) {
    ReplacingView replacing;
    replacing.prepare(scriptOf(2), QStringLiteral("the"), QStringLiteral("a"));
    replacing.bar->replaceAll();
    double held = 0;
    for (auto _ : state) {
        held = std::max(held, longestHold([&] { replacing.view->undo(); }, [] { return true; }));
        held = std::max(held, longestHold([&] { replacing.view->redo(); }, [] { return true; }));
    }
    state.counters["held_ms"] = held;
    state.SetBytesProcessed(state.iterations() * (std::int64_t(4) << 20));
}
BENCHMARK(BM_UndoRedoReplaceAll)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// The whole editor window holding `text`, loaded, its find bar shown for replacing.
struct EditorWindow {
    explicit EditorWindow(const platform::AttributedString& text) {
        project = cw::Project::create(benchsupport::defaults());
        project->setText(text);
        controller =
            cw::editor::EditorWindowController::create(project, {&benchsupport::defaults(), nullptr});
        controller->window()->resize(1200, 800);
        controller->showWindow();
        settle();
    }
    ~EditorWindow() {
        controller.reset();
        QApplication::processEvents();
    }
    cw::editor::EditorController& editor() const { return *controller->editorController(); }
    cw::editor::ScriptTextView& text() const { return editor().textView(); }
    // Until the text is in and what follows it is done.
    void settle() const {
        while (editor().isLoadingText())
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        QApplication::processEvents();
    }
    std::shared_ptr<cw::Project> project;
    std::shared_ptr<cw::editor::EditorWindowController> controller;
};

// Replace All in the editor window, then its Undo and its Redo, each followed by the re-sync the
// window runs when it becomes main again (the progress window gone), to the lines published: the
// longest hold of each. Arguments: millions of characters, and 1 for one run of "x" replaced by
// "yy", 0 for the sample script's words ("the" by "a").
void BM_WindowReplaceAll(benchmark::State& state) {
    const bool noSpace = state.range(1) != 0;
    const int characters = int(state.range(0)) * 1000000;
    EditorWindow window(noSpace ? platform::AttributedString(QString(characters, u'x'))
                                : scriptOf(int(state.range(0))));
    cw::editor::FindBar* bar = nullptr;
    double replaceHeld = 0;
    double undoHeld = 0;
    double redoHeld = 0;
    double cpuHeld[3] = {0, 0, 0}; // Replace All, Undo, Redo
    for (auto _ : state) {
        window.controller->performAction("showFindBar:", nullptr);
        bar = window.controller->findBar();
        bar->showBar(cw::editor::FindBar::Mode::replace);
        bar->findField().setText(noSpace ? QStringLiteral("x") : QStringLiteral("the"));
        bar->replaceField().setText(noSpace ? QStringLiteral("yy") : QStringLiteral("a"));
        const auto thenResync = [&](const std::function<void()>& work, double* cpu) {
            return longestHold(
                [&] {
                    work();
                    window.controller->resyncEditorController();
                },
                [&] {
                    return !window.editor().isCountingLines() && !window.text().isLayingOutInParts() &&
                           !bar->isCounting();
                },
                cpu);
        };
        replaceHeld = thenResync([&] { bar->replaceAll(); }, &cpuHeld[0]);
        undoHeld = thenResync([&] { window.text().undo(); }, &cpuHeld[1]);
        redoHeld = thenResync([&] { window.text().redo(); }, &cpuHeld[2]);
    }
    state.counters["replace_held_ms"] = replaceHeld;
    state.counters["undo_held_ms"] = undoHeld;
    state.counters["redo_held_ms"] = redoHeld;
    state.counters["held_ms"] = std::max({replaceHeld, undoHeld, redoHeld});
    state.counters["replace_held_cpu_ms"] = cpuHeld[0];
    state.counters["undo_held_cpu_ms"] = cpuHeld[1];
    state.counters["redo_held_cpu_ms"] = cpuHeld[2];
    state.counters["held_cpu_ms"] = std::max({cpuHeld[0], cpuHeld[1], cpuHeld[2]});
    state.counters["characters"] = window.text().document()->characterCount();
}
BENCHMARK(BM_WindowReplaceAll)
    ->Args({2, 1})
    ->Args({10, 1})
    ->Args({10, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

// A storm of combining marks: a letter under a thousand marks, over and over, 4 MB in UTF-8.
QString storm() {
    QString unit(u'e');
    for (int i = 0; i < 1000; ++i)
        unit += QChar(char16_t(0x300 + i % 20));
    return unit.repeated((4 << 20) / int(unit.toUtf8().size()));
}

// The storm opened in the editor window: the whole time to the text shown, and the longest hold.
void BM_WindowOpenStorm(benchmark::State& state) {
    const platform::AttributedString text(storm());
    double held = 0;
    double cpuHeld = 0;
    for (auto _ : state) {
        std::unique_ptr<EditorWindow> window;
        held = longestHold([&] { window = std::make_unique<EditorWindow>(text); }, [] { return true; },
                           &cpuHeld);
        state.counters["lines"] = window->project->editor().lineCount;
        state.PauseTiming();
        window.reset();
        state.ResumeTiming();
    }
    state.counters["held_ms"] = held;
    state.counters["held_cpu_ms"] = cpuHeld;
}
BENCHMARK(BM_WindowOpenStorm)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// The storm pasted as plain text into an empty script in the editor window, with the re-sync after
// it, to its lines published.
void BM_WindowPasteStorm(benchmark::State& state) {
    EditorWindow window{platform::AttributedString(QString())};
    double held = 0;
    double cpuHeld = 0;
    for (auto _ : state) {
        QApplication::clipboard()->setText(storm());
        bool resynced = false;
        held = longestHold([&] { window.text().paste(); },
                           [&] {
                               if (window.text().isPasting()) {
                                   return false;
                               }
                               if (!std::exchange(resynced, true)) {
                                   // As the window does when it is main again, the paste's window gone.
                                   window.controller->resyncEditorController();
                                   return false;
                               }
                               return !window.editor().isCountingLines() && !window.text().isLayingOutInParts();
                           },
                           &cpuHeld);
        state.counters["lines"] = window.project->editor().lineCount;
        state.PauseTiming();
        window.text().undo();
        window.settle();
        state.ResumeTiming();
    }
    state.counters["held_ms"] = held;
    state.counters["held_cpu_ms"] = cpuHeld;
}
BENCHMARK(BM_WindowPasteStorm)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// Cancel clicked in the editor window: of a paste of 2,000,000 short lines (range(0) 0), or of the
// Undo of Replace All over 10,000,000 "x" by "yy" (range(0) 1), once its window shows range(1)
// percent: the longest hold from the click to the text as it was and the re-sync the window runs
// once its progress window goes, and the time that took.
void BM_WindowCancel(benchmark::State& state) {
    const bool undo = state.range(0) != 0;
    QString lines;
    for (int i = 0; !undo && i < 2000000; ++i)
        lines += QStringLiteral("line %1\n").arg(i % 1000);
    EditorWindow window{
        platform::AttributedString(undo ? QString(10000000, u'x') : QStringLiteral("Before after"))};
    cw::editor::ScriptTextView& text = window.text();
    if (undo) {
        window.controller->performAction("showFindBar:", nullptr);
        cw::editor::FindBar* bar = window.controller->findBar();
        bar->showBar(cw::editor::FindBar::Mode::replace);
        bar->findField().setText(QStringLiteral("x"));
        bar->replaceField().setText(QStringLiteral("yy"));
        bar->replaceAll();
        window.settle();
    }
    const QString before = text.toPlainText();
    cw::editor::ProgressWindow::setDelayForTests(0);
    QElapsedTimer clock;
    qint64 last = -1;
    qint64 held = 0;
    const auto turn = [&] {
        if (last >= 0)
            held = std::max(held, clock.elapsed() - last);
        last = clock.elapsed();
    };
    bool resynced = false;
    QTimer watching;
    QObject::connect(&watching, &QTimer::timeout, [&] {
        for (QWidget* shown : QApplication::topLevelWidgets()) {
            auto* progress = shown->findChild<QProgressBar*>();
            if (last >= 0 || !shown->isVisible() || !progress ||
                shown->windowTitle() != (undo ? QStringLiteral("Undo") : QStringLiteral("Paste")) ||
                progress->value() < progress->maximum() * state.range(1) / 100)
                continue;
            clock.start();
            QObject::connect(shown, &QObject::destroyed, &text, [&] {
                QTimer::singleShot(0, &text,
                                   [&] { window.controller->resyncEditorController(), resynced = true; });
            });
            turn();
            shown->findChild<QPushButton*>()->click(); // a paste's walk back runs in it
            return;
        }
        turn();
    });
    for (auto _ : state) {
        last = -1;
        resynced = false;
        watching.start(0);
        if (undo) {
            text.undo();
        } else {
            QApplication::clipboard()->setText(lines);
            text.paste();
        }
        while (text.isInLongEdit() || (last >= 0 && !resynced))
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        turn();
        watching.stop();
        window.settle();
        if (last < 0 || text.toPlainText() != before)
            state.SkipWithError("not cancelled, or the cancel left the text changed");
    }
    cw::editor::ProgressWindow::setDelayForTests(std::nullopt);
    state.counters["held_ms"] = double(held);
    state.counters["cancel_ms"] = double(last);
}
BENCHMARK(BM_WindowCancel)
    ->Args({0, 40})
    ->Args({0, 70})
    ->Args({1, 50})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

// A prompter window on the editor window's script, 700 px wide, shown.
std::shared_ptr<cw::PrompterWindowController> openPrompter(const EditorWindow& window) {
    auto prompter = cw::PrompterWindowController::create(window.project, cw::TeleprompterWindowPreset::normal,
                                                         std::nullopt, {&benchsupport::defaults(), nullptr});
    prompter->showWindow();
    prompter->window()->resize(700, 500);
    return prompter;
}

// Every prompter shows the project's text, laid out whole.
bool prompted(const EditorWindow& window,
              const std::vector<std::shared_ptr<cw::PrompterWindowController>>& prompters) {
    for (const auto& prompter : prompters) {
        const cw::PrompterView* view = prompter->prompterView();
        if (!view || view->isLayingOutText() || !(view->text() == window.project->document().text))
            return false;
    }
    return true;
}

// With range(0) prompter windows 700 px wide open on an empty script: 2.9 MB of the sample script
// pasted as plain text, with the re-sync after it, to every prompter showing it; then Words per
// Line changed; then one more prompter opened on it. The longest hold of each.
void BM_WindowPasteWithPrompters(benchmark::State& state) {
    platform::AttributedString sample;
    const benchsupport::SampleStyles styles =
        benchsupport::sampleStyles(34, benchsupport::PauseUnderline::none);
    while (sample.length() < 2900000)
        benchsupport::appendSampleParagraph(sample, styles);
    EditorWindow window{platform::AttributedString(QString())};
    window.editor().setAutosaveInterval(std::chrono::milliseconds(0));
    std::vector<std::shared_ptr<cw::PrompterWindowController>> prompters;
    for (int i = 0; i < state.range(0); ++i)
        prompters.push_back(openPrompter(window));
    window.settle();
    double pasteHeld = 0;
    double factorHeld = 0;
    double openHeld = 0;
    for (auto _ : state) {
        QApplication::clipboard()->setText(sample.string());
        bool resynced = false;
        pasteHeld = longestHold([&] { window.text().paste(); },
                                [&] {
                                    if (window.text().isPasting())
                                        return false;
                                    if (!std::exchange(resynced, true)) {
                                        window.controller->resyncEditorController();
                                        return false;
                                    }
                                    return !window.editor().isCountingLines() &&
                                           !window.text().isLayingOutInParts() &&
                                           window.project->document().text.length() >= sample.length() &&
                                           prompted(window, prompters);
                                });
        factorHeld = longestHold(
            [&] {
                auto properties = window.project->document().scriptProperties;
                properties.prompterWordCountFactor = properties.prompterWordCountFactor == 0.5f ? 0.6f : 0.5f;
                window.project->setScriptProperties(properties);
            },
            [&] { return !window.editor().isCountingLines() && prompted(window, prompters); });
        std::shared_ptr<cw::PrompterWindowController> another;
        openHeld =
            longestHold([&] { another = openPrompter(window); }, [&] { return prompted(window, {another}); });
        state.counters["lines"] = double(another->prompterView()->lineStarts().size());
        state.PauseTiming();
        another->window()->close();
        another.reset();
        window.text().undo();
        window.settle();
        state.ResumeTiming();
    }
    state.counters["paste_held_ms"] = pasteHeld;
    state.counters["factor_held_ms"] = factorHeld;
    state.counters["open_held_ms"] = openHeld;
    state.counters["held_ms"] = std::max({pasteHeld, factorHeld, openHeld});
    for (const auto& prompter : prompters)
        prompter->window()->close();
}
BENCHMARK(BM_WindowPasteWithPrompters)
    ->Arg(0)
    ->Arg(1)
    ->Arg(4)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    return benchsupport::runWithRatios(argc, argv, {{"BM_PrintToPdf/4", "BM_QtDocumentPrint/2"}},
                                       "the main thread never held for long, whatever the size");
}

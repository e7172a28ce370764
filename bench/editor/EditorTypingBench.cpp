// One keystroke in the whole editor window on a 100,000-word script (bookmark column listing 300
// bookmarks, status bar, sidebar), with everything it sets off up to the repaint, beside the same
// keystroke in a bare QTextEdit holding the same script at the editor's font size; and the
// keystroke followed by the hand-over of the text to the project after a pause in typing.
#include "cuewright/editor/BookmarkListController.h"
#include "cuewright/editor/EditorController.h"
#include "cuewright/editor/EditorWindowController.h"
#include "cuewright/editor/ScriptTextView.h"
#include "cuewright/editor/TextBridge.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/SettingsKeys.h"
#include "support/Defaults.h"
#include "support/Ratios.h"
#include "support/SampleScript.h"
#include "support/Typing.h"

#include <benchmark/benchmark.h>

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QListWidget>
#include <QTextBlock>
#include <QTextEdit>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>

namespace {

constexpr int bookmarkCount = 300;

// About 100,000 words, with a line "*Scene n" (a bookmark) before every thirteenth paragraph.
const platform::AttributedString& bookmarkedScript() {
    static const platform::AttributedString text = [] {
        const benchsupport::SampleStyles styles =
            benchsupport::sampleStyles(34, benchsupport::PauseUnderline::single);
        const int paragraphs = 100000 / 26;
        platform::AttributedString made;
        int marks = 0;
        for (int i = 0; i < paragraphs; ++i) {
            if (i % (paragraphs / bookmarkCount) == 0 && marks < bookmarkCount)
                made.append(QStringLiteral("*Scene %1\n").arg(++marks), styles.plain);
            benchsupport::appendSampleParagraph(made, styles);
        }
        return made;
    }();
    return text;
}

// A letter typed, then everything it sets off that is due at once, painting included.
void typeLetterAndSettle(QWidget& widget) {
    benchsupport::typeLetter(widget);
    QApplication::processEvents();
}

// The window with the bookmarked script, the editor's insertion point in the middle of it.
struct TypingWindow {
    explicit TypingWindow(bool columnShown = true) {
        benchsupport::defaults().set(cw::settings::showBookmarkSidebar, columnShown);
        project = cw::Project::create(benchsupport::defaults());
        project->setText(bookmarkedScript());
        controller =
            cw::editor::EditorWindowController::create(project, {&benchsupport::defaults(), nullptr});
        controller->window()->resize(1200, 800);
        controller->showWindow();
        QApplication::processEvents();
        text = &controller->editorController()->textView();
        text->setFocus();
        benchsupport::putCursorInTheMiddle(*text);
        QApplication::processEvents();
    }
    ~TypingWindow() {
        controller.reset();
        QApplication::processEvents();
    }
    int listedBookmarks() const { return controller->bookmarkListController()->tableView().count(); }

    std::shared_ptr<cw::Project> project;
    std::shared_ptr<cw::editor::EditorWindowController> controller;
    cw::editor::ScriptTextView* text = nullptr;
};

void BM_WindowKeystroke(benchmark::State& state) {
    TypingWindow window(state.range(0) != 0);
    if (window.listedBookmarks() != bookmarkCount)
        state.SkipWithError("the bookmark column does not list the script's bookmarks");
    for (auto _ : state) {
        typeLetterAndSettle(*window.text);
    }
    state.counters["bookmarks"] = window.listedBookmarks();
}
// Argument: the bookmark column shown (1) or hidden (0).
BENCHMARK(BM_WindowKeystroke)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// Each keystroke handed over at once, as after a pause in typing: the project takes the text and
// the bookmark column reads the bookmarks again.
void BM_WindowKeystrokeAndHandOver(benchmark::State& state) {
    TypingWindow window;
    for (auto _ : state) {
        typeLetterAndSettle(*window.text);
        window.controller->editorController()->autosave();
        QApplication::processEvents();
    }
    state.counters["bookmarks"] = window.listedBookmarks();
}
BENCHMARK(BM_WindowKeystrokeAndHandOver)->Unit(benchmark::kMillisecond)->UseRealTime();

// The editor alone (its stacked views and controller, as large as in the window, the text view
// at the size it has there): what the window's other parts add is the difference to
// BM_WindowKeystroke/1.
void BM_EditorViewsKeystroke(benchmark::State& state) {
    QSize editorSize;
    QSize textViewSize;
    {
        TypingWindow window;
        editorSize = window.text->parentWidget()->size(); // the stacked views' container
        textViewSize = window.text->size();
    }
    auto project = cw::Project::create(benchsupport::defaults());
    project->setText(bookmarkedScript());
    const cw::editor::EditorViews views = cw::editor::makeEditorViews();
    views.text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff); // as in the window
    views.container->resize(editorSize);
    views.container->show();
    QApplication::processEvents();
    auto controller =
        std::make_shared<cw::editor::EditorController>(project, *views.text, benchsupport::defaults());
    controller->setViews(views.background, views.overlay);
    controller->load();
    QApplication::processEvents();
    views.text->setFocus();
    benchsupport::putCursorInTheMiddle(*views.text);
    QApplication::processEvents();
    for (auto _ : state) {
        typeLetterAndSettle(*views.text);
    }
    state.counters["textWidth"] = views.text->width();
    state.counters["windowTextWidth"] = textViewSize.width();
    controller.reset();
    delete views.container;
}
BENCHMARK(BM_EditorViewsKeystroke)->Unit(benchmark::kMillisecond)->UseRealTime();

// The reference: the same letter typed into a bare QTextEdit of the editor's text view's size
// (as many lines to lay out) holding the same script at the editor's font size, painted.
void BM_BareWindowKeystroke(benchmark::State& state) {
    double size = 0;
    QSize textViewSize;
    {
        TypingWindow window;
        size = window.controller->editorController()->lineHeight();
        textViewSize = window.text->size();
    }
    QTextEdit edit;
    edit.resize(textViewSize);
    edit.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    cw::editor::setAttributedText(*edit.document(), bookmarkedScript(), size);
    edit.show();
    benchmark::DoNotOptimize(edit.document()->documentLayout()->documentSize());
    edit.setFocus();
    benchsupport::putCursorInTheMiddle(edit);
    QApplication::processEvents();
    for (auto _ : state) {
        typeLetterAndSettle(edit);
        benchmark::DoNotOptimize(edit.document()->documentLayout()->documentSize());
    }
}
BENCHMARK(BM_BareWindowKeystroke)->Unit(benchmark::kMillisecond)->UseRealTime();

// A paragraph without a space grown by pastes of 16,000 characters to 256,000 in the editor
// (its views and controller, shown), then one letter typed at its end: the longest the main
// thread was held by one paste or the letter, with everything each set off that was due at once.
// The blocks stay within the limits however the paragraph grew, so the hold does not grow with it.
void BM_PastesGrowANoSpaceParagraph(benchmark::State& state) {
    auto project = cw::Project::create(benchsupport::defaults());
    project->setText(platform::AttributedString(QStringLiteral("Start")));
    const cw::editor::EditorViews views = cw::editor::makeEditorViews();
    views.container->resize(1000, 700);
    views.container->show();
    auto controller =
        std::make_shared<cw::editor::EditorController>(project, *views.text, benchsupport::defaults());
    controller->setViews(views.background, views.overlay);
    controller->load();
    QApplication::processEvents();
    views.text->setFocus();
    const QString piece(16000, u'x');
    double longest = 0;
    double letter = 0;
    for (auto _ : state) {
        state.PauseTiming();
        views.text->document()->clear();
        views.text->moveCursor(QTextCursor::End);
        QApplication::processEvents();
        state.ResumeTiming();
        longest = 0;
        const auto held = [&](auto&& step) {
            const auto start = std::chrono::steady_clock::now();
            step();
            QApplication::processEvents();
            const double ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            longest = std::max(longest, ms);
            return ms;
        };
        for (int i = 0; i < 16; ++i) {
            held([&] {
                QApplication::clipboard()->setText(piece);
                views.text->paste();
            });
        }
        views.text->moveCursor(QTextCursor::End);
        letter = held([&] { benchsupport::typeLetter(*views.text); });
    }
    int longestBlock = 0;
    for (QTextBlock block = views.text->document()->begin(); block.isValid(); block = block.next()) {
        longestBlock = std::max(longestBlock, block.length() - 1);
    }
    state.counters["longestHoldMs"] = longest;
    state.counters["letterMs"] = letter;
    state.counters["characters"] = views.text->document()->characterCount() - 1;
    state.counters["blocks"] = views.text->document()->blockCount();
    state.counters["longestBlock"] = longestBlock;
    controller.reset();
    delete views.container;
}
BENCHMARK(BM_PastesGrowANoSpaceParagraph)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    return benchsupport::runWithRatios(argc, argv,
                                       {{"BM_WindowKeystroke/1", "BM_BareWindowKeystroke"},
                                        {"BM_WindowKeystroke/0", "BM_BareWindowKeystroke"},
                                        {"BM_EditorViewsKeystroke", "BM_BareWindowKeystroke"},
                                        {"BM_WindowKeystroke/1", "BM_EditorViewsKeystroke"},
                                        {"BM_WindowKeystrokeAndHandOver", "BM_BareWindowKeystroke"}},
                                       "a keystroke in the window at most 2x the bare one");
}

// Opening a 100,000-word script (and a 500,000-word one) in the editor window, from its file to the first
// paint of the text, beside a bare QTextEdit given the same script from a file and painted once.
#include "cuewright/editor/EditorController.h"
#include "cuewright/editor/EditorWindowController.h"
#include "cuewright/editor/ScriptTextView.h"
#include "cuewright/editor/TextBridge.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/UserDefaults.h"
#include "platform/defaults/Defaults.h"
#include "support/Ratios.h"
#include "support/SampleScript.h"

#include <benchmark/benchmark.h>

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QTemporaryDir>
#include <QTextEdit>

#include <cstdlib>
#include <map>
#include <memory>

namespace {

using namespace std::chrono_literals;

// The script saved once as a "cwr" document and as plain text, in a folder of this run.
struct Files {
    QTemporaryDir dir;
    std::string cwr;
    QString txt;
    std::unique_ptr<platform::Defaults> defaults;
};

// The script of about `words` words, made once per length.
Files& files(int words = 100000) {
    static std::map<int, Files*> made;
    Files*& f = made[words];
    if (!f) {
        f = new Files;
        f->defaults = std::make_unique<platform::Defaults>(platform::Defaults::Options{
            f->dir.filePath(QStringLiteral("defaults.json")).toStdString(), 1h, {}});
        cw::registerUserDefaults(*f->defaults);
        auto project = cw::Project::create(*f->defaults);
        project->setText(benchsupport::sampleScript(words / 26, benchsupport::PauseUnderline::single));
        f->cwr = f->dir.filePath(QStringLiteral("script.cwr")).toStdString();
        project->save(f->cwr);
        f->txt = f->dir.filePath(QStringLiteral("script.txt"));
        project->exportPlainText(f->txt.toStdString());
    }
    return *f;
}

// Counts the paints of one widget.
class PaintCounter final : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// Shows the window by `show` and returns once `painted` has been painted (false when it never
// was).
template <class Show> bool showAndPaint(const Show& show, QWidget& window, QWidget& painted) {
    PaintCounter counter(&painted);
    show();
    QApplication::processEvents();
    if (counter.paints == 0)
        window.repaint();
    return counter.paints > 0;
}

void openEditorWindow(benchmark::State& state, int words) {
    Files& f = files(words);
    for (auto _ : state) {
        auto project = cw::Project::create(*f.defaults);
        project->loadDocument(f.cwr);
        auto controller = cw::editor::EditorWindowController::create(project, {f.defaults.get(), nullptr});
        QWidget* window = controller->window();
        window->resize(1200, 800);
        if (!showAndPaint([&] { controller->showWindow(); }, *window,
                          *controller->editorController()->textView().viewport()))
            state.SkipWithError("the editor was never painted");

        state.PauseTiming();
        controller.reset();
        QApplication::processEvents(); // what the window left for later
        state.ResumeTiming();
    }
}
void BM_OpenEditorWindow(benchmark::State& state) {
    openEditorWindow(state, 100000);
}
BENCHMARK(BM_OpenEditorWindow)->Unit(benchmark::kMillisecond)->UseRealTime();

// A long show's script: the window opens in time in proportion to the length. A script that
// would be laid out past what Qt's layout can reach (here 500,000 words and more) is shown
// smaller and its lines are counted at the prompter's size in a second pass.
void BM_OpenEditorWindowLong(benchmark::State& state) {
    openEditorWindow(state, int(state.range(0)));
}
BENCHMARK(BM_OpenEditorWindowLong)
    ->Arg(100000)
    ->Arg(500000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The reference: the script's text from a file into a new QTextEdit of the same size, laid out
// whole (as the editor must, to count its lines), then painted.
void bareTextEditOpen(benchmark::State& state, bool wholeLayout) {
    Files& f = files();
    for (auto _ : state) {
        QFile file(f.txt);
        if (!file.open(QIODevice::ReadOnly))
            state.SkipWithError("no script file");
        auto edit = std::make_unique<QTextEdit>();
        edit->resize(1200, 800);
        edit->setPlainText(QString::fromUtf8(file.readAll()));
        const auto show = [&] {
            edit->show();
            if (wholeLayout)
                benchmark::DoNotOptimize(edit->document()->documentLayout()->documentSize());
        };
        if (!showAndPaint(show, *edit, *edit->viewport()))
            state.SkipWithError("the text was never painted");

        state.PauseTiming();
        edit.reset();
        QApplication::processEvents();
        state.ResumeTiming();
    }
}
void BM_BareTextEditOpen(benchmark::State& state) {
    bareTextEditOpen(state, /*wholeLayout=*/true);
}
BENCHMARK(BM_BareTextEditOpen)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same, painted before the rest is laid out: Qt lays a long plain text out in steps.
void BM_BareTextEditOpenLazy(benchmark::State& state) {
    bareTextEditOpen(state, /*wholeLayout=*/false);
}
BENCHMARK(BM_BareTextEditOpenLazy)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same file read into a project and its styled runs put into a bare QTextEdit: what the
// window adds beyond the script's own styling.
void BM_BareTextEditOpenStyled(benchmark::State& state) {
    Files& f = files();
    for (auto _ : state) {
        auto project = cw::Project::create(*f.defaults);
        project->loadDocument(f.cwr);
        auto edit = std::make_unique<QTextEdit>();
        edit->resize(1200, 800);
        cw::editor::setAttributedText(*edit->document(), project->document().text);
        if (!showAndPaint([&] { edit->show(); }, *edit, *edit->viewport()))
            state.SkipWithError("the text was never painted");

        state.PauseTiming();
        edit.reset();
        QApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_BareTextEditOpenStyled)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    return benchsupport::runWithRatios(
        argc, argv,
        {{"BM_OpenEditorWindow", "BM_BareTextEditOpen"},
         {"BM_OpenEditorWindow", "BM_BareTextEditOpenStyled"},
         {"BM_OpenEditorWindow", "BM_BareTextEditOpenLazy"},
         {"BM_OpenEditorWindowLong/500000", "BM_OpenEditorWindowLong/100000"},
         {"BM_OpenEditorWindowLong/1000000", "BM_OpenEditorWindowLong/500000"}},
        "opening the window at most 2x the bare load; 500,000 words about 5x "
        "100,000 and under 3 s");
}

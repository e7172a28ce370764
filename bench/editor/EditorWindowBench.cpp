// Opening a 100,000-word script in the editor window, from its file to the first paint of the
// text, beside a bare QTextEdit given the same script from a file and painted once.
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

Files& files() {
    static Files* f = [] {
        auto* made = new Files;
        made->defaults = std::make_unique<platform::Defaults>(platform::Defaults::Options{
            made->dir.filePath(QStringLiteral("defaults.json")).toStdString(), 1h, {}});
        cw::registerUserDefaults(*made->defaults);
        auto project = cw::Project::create(*made->defaults);
        project->setText(benchsupport::sampleScript(100000 / 26, benchsupport::PauseUnderline::single));
        made->cwr = made->dir.filePath(QStringLiteral("script.cwr")).toStdString();
        project->save(made->cwr);
        made->txt = made->dir.filePath(QStringLiteral("script.txt"));
        project->exportPlainText(made->txt.toStdString());
        return made;
    }();
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

void BM_OpenEditorWindow(benchmark::State& state) {
    Files& f = files();
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
BENCHMARK(BM_OpenEditorWindow)->Unit(benchmark::kMillisecond)->UseRealTime();

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
    return benchsupport::runWithRatios(argc, argv,
                                       {{"BM_OpenEditorWindow", "BM_BareTextEditOpen"},
                                        {"BM_OpenEditorWindow", "BM_BareTextEditOpenStyled"},
                                        {"BM_OpenEditorWindow", "BM_BareTextEditOpenLazy"}},
                                       "opening the window at most 2x the bare load");
}

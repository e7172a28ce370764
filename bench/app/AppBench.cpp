// Start to first painted editor window: the application controller opening a 20,000-word
// script, beside a bare QMainWindow with a QTextEdit given the same text.
#include "cuewright/app/ApplicationController.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/TextUtils.h"
#include "cuewright/model/Workspace.h"
#include "platform/defaults/Defaults.h"
#include "platform/defaults/NotificationCenter.h"
#include "support/Ratios.h"
#include "support/SampleScript.h"

#include "AppBenchSupport.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEvent>
#include <QMainWindow>
#include <QTextEdit>

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;
using appbench::defaults;
using appbench::workDir;

namespace {

const platform::AttributedString& script() {
    static const platform::AttributedString text =
        benchsupport::sampleScript(20000 / 26, benchsupport::PauseUnderline::single);
    return text;
}

const std::string& scriptPath() {
    static const std::string path = [] {
        const std::string file = (workDir() / "long.cwr").string();
        cw::Workspace workspace(defaults());
        auto project = workspace.newProject();
        project->setText(script());
        project->save(file);
        workspace.closeProject(project);
        return file;
    }();
    return path;
}

// Counts paint events reaching any widget of one window.
class PaintWatcher : public QObject {
public:
    explicit PaintWatcher(QWidget* window)
        : window_(window) {
        qApp->installEventFilter(this);
    }
    ~PaintWatcher() override { qApp->removeEventFilter(this); }
    void setWindow(QWidget* window) { window_ = window; }
    bool painted() const { return painted_; }
    void waitForPaint() {
        while (!painted_) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && window_ != nullptr && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->window() == window_) {
            painted_ = true;
        }
        return false;
    }

private:
    QWidget* window_;
    bool painted_ = false;
};

void BM_StartToFirstPaintedEditorWindow(benchmark::State& state) {
    const std::string& path = scriptPath();
    platform::NotificationCenter center;
    for (auto _ : state) {
        PaintWatcher watcher(nullptr);
        auto app = cw::ApplicationController::create(appbench::environment(center));
        app->applicationWillFinishLaunching();
        app->openFile(QString::fromStdString(path));
        app->applicationDidFinishLaunching();
        watcher.setWindow(app->editorControllers().front()->window());
        watcher.waitForPaint();

        state.PauseTiming();
        for (const auto& project : app->workspace().projects()) {
            project->pause();
        }
        app.reset();
        QApplication::processEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        state.ResumeTiming();
    }
    state.counters["words"] = cw::TextUtils::wordCount(script().string());
}
BENCHMARK(BM_StartToFirstPaintedEditorWindow)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BareMainWindowWithTextEdit(benchmark::State& state) {
    const QString text = script().string();
    for (auto _ : state) {
        auto* window = new QMainWindow;
        PaintWatcher watcher(window);
        auto* edit = new QTextEdit(window);
        edit->setPlainText(text);
        window->setCentralWidget(edit);
        window->resize(1200, 800);
        window->show();
        watcher.waitForPaint();

        state.PauseTiming();
        delete window;
        QApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_BareMainWindowWithTextEdit)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    appbench::setUpProcess();
    QApplication app(argc, argv);
    const int status = benchsupport::runWithRatios(
        argc, argv, {{"BM_StartToFirstPaintedEditorWindow", "BM_BareMainWindowWithTextEdit"}},
        "at most 2x, and under 300 ms");
    fs::remove_all(workDir());
    return status;
}

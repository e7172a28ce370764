// Opening a 50 MB plain-text file in the application: the time to the first painted window and
// to the whole text in the editor, the longest the main loop stood still meanwhile, and the peak memory,
// beside reading the same file into a bare QTextDocument laid out at the editor's width. The file is written
// at run time.
#include "cuewright/app/ApplicationController.h"
#include "cuewright/app/LargeFileOpening.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/model/UserDefaults.h"
#include "cuewright/model/Workspace.h"
#include "platform/defaults/Defaults.h"
#include "platform/defaults/NotificationCenter.h"
#include "platform/ui/MainQueueBridge.h"
#include "support/Ratios.h"

#include <benchmark/benchmark.h>

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QTextDocument>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t fileBytes = std::size_t{50} << 20;

fs::path workDir() {
    static const fs::path dir = [] {
        fs::path path = fs::temp_directory_path() / ("cuewright-bench-open-" + std::to_string(::getpid()));
        fs::create_directories(path);
        return path;
    }();
    return dir;
}

// Lines of twelve words, as a long transcript reads.
const std::string& largeText() {
    static const std::string path = [] {
        const std::string file = (workDir() / "large.txt").string();
        const char* words[] = {"the",   "presenter", "reads",   "a",    "script", "aloud",  "while",
                               "every", "line",      "scrolls", "past", "at",     "steady", "pace"};
        std::mt19937 random(7);
        std::string text;
        text.reserve(fileBytes + 200);
        while (text.size() < fileBytes) {
            for (int i = 0; i < 12; ++i) {
                text += words[random() % std::size(words)];
                text += i == 11 ? '\n' : ' ';
            }
        }
        std::ofstream(file, std::ios::binary) << text;
        return file;
    }();
    return path;
}

platform::Defaults& defaults() {
    static platform::Defaults* store = [] {
        auto* d = new platform::Defaults({workDir() / "defaults.json", std::chrono::hours(1), {}});
        cw::registerUserDefaults(*d);
        return d;
    }();
    return *store;
}

// The peak resident memory from now on: the kernel's high-water mark is reset to what is
// resident now.
void resetPeakMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";
}
double peakMemoryMB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stod(line.substr(6)) / 1024.0;
        }
    }
    return 0;
}

// The time of the first paint of any window, from the watcher's making.
class FirstPaint : public QObject {
public:
    FirstPaint() {
        clock_.start();
        qApp->installEventFilter(this);
    }
    ~FirstPaint() override { qApp->removeEventFilter(this); }
    std::optional<qint64> ms() const { return ms_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!ms_ && event->type() == QEvent::Paint && watched->isWidgetType()) {
            ms_ = clock_.elapsed();
        }
        return false;
    }

private:
    QElapsedTimer clock_;
    std::optional<qint64> ms_;
};

class NoServers final : public cw::RemoteServers {
public:
    void startNetworking() override {}
    void stopNetworking() override {}
    void startBluetooth() override {}
    void stopBluetooth() override {}
};

void BM_OpenLargeTextInTheApplication(benchmark::State& state) {
    const std::string& path = largeText();
    platform::NotificationCenter center;
    defaults().set(cw::settings::startupMode, "DoNothing");
    for (auto _ : state) {
        cw::ApplicationEnvironment environment;
        environment.defaults = &defaults();
        environment.center = &center;
        environment.makeRemoteServers = [](cw::Workspace&) { return std::make_unique<NoServers>(); };
        environment.showsStartWindow = false;
        environment.buildInfo = cw::BuildInfo{};
        auto app = cw::ApplicationController::create(environment);
        app->applicationWillFinishLaunching();
        app->applicationDidFinishLaunching();
        resetPeakMemory();
        QElapsedTimer clock;
        clock.start();
        FirstPaint firstPaint;
        // The longest the main loop went without turning: how long a click, a key or the remote
        // control waited at worst.
        QElapsedTimer sinceTurn;
        qint64 longestStall = 0;
        QTimer turns;
        QObject::connect(&turns, &QTimer::timeout,
                         [&] { longestStall = std::max(longestStall, sinceTurn.restart()); });
        sinceTurn.start();
        turns.start(10);
        app->openFile(QString::fromStdString(path));
        while (app->editorControllers().empty() || !app->largeFileOpenings().empty()) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        turns.stop();
        const double wholeTextMs = static_cast<double>(clock.elapsed());
        state.counters["longestStallMs"] = static_cast<double>(longestStall);
        while (!firstPaint.ms()) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        state.counters["firstPaintMs"] = static_cast<double>(*firstPaint.ms());
        state.counters["wholeTextMs"] = wholeTextMs;
        state.counters["peakMB"] = peakMemoryMB();

        state.PauseTiming();
        app.reset();
        QApplication::processEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenLargeTextInTheApplication)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_BareTextDocument(benchmark::State& state) {
    const std::string& path = largeText();
    for (auto _ : state) {
        resetPeakMemory();
        QFile file(QString::fromStdString(path));
        if (!file.open(QIODevice::ReadOnly)) {
            state.SkipWithError("cannot read the text");
            return;
        }
        QTextDocument document;
        document.setTextWidth(700); // about the editor's text column
        document.setPlainText(QString::fromUtf8(file.readAll()));
        benchmark::DoNotOptimize(document.documentLayout()->documentSize());
        state.counters["peakMB"] = peakMemoryMB();
    }
}
BENCHMARK(BM_BareTextDocument)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("CUEWRIGHT_DEFAULTS_FILE", (workDir() / "standard-defaults.json").c_str(), 1);
    setenv("CUEWRIGHT_DATA_DIR", (workDir() / "data").c_str(), 1);
    QApplication app(argc, argv);
    platform::installMainQueueBridge(); // the read hands its text to the main thread as in the application
    const int status = benchsupport::runWithRatios(
        argc, argv, {{"BM_OpenLargeTextInTheApplication/iterations:1", "BM_BareTextDocument/iterations:1"}},
        "the first window painted within a second, the whole text as soon as Qt lays it out");
    fs::remove_all(workDir());
    return status;
}

// The real cuewright binary started on a Word document, again and again, and quit while its reader
// may still be at work: no reader is ever left behind, stuck or not.
#include <gtest/gtest.h>

// Xlib's macros after gtest, which uses the same names.
#include "EndToEndSupport.h"

#include <csignal>
#include <thread>

namespace fs = std::filesystem;
using namespace endtoend;

namespace {

// The processes, other than `except`, whose environment holds `entry`: the application and what
// it started carry the test's own.
std::vector<pid_t> processesWith(const std::string& entry, qint64 except) {
    std::vector<pid_t> found;
    for (const auto& process : fs::directory_iterator("/proc")) {
        const std::string name = process.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos || name == std::to_string(except)) {
            continue;
        }
        std::ifstream environ(process.path() / "environ");
        std::string variable;
        while (std::getline(environ, variable, '\0')) {
            if (variable == entry) {
                found.push_back(static_cast<pid_t>(std::stol(name)));
                break;
            }
        }
    }
    return found;
}

class DocReaderEndToEnd : public AppTest {
public:
    DocReaderEndToEnd()
        : AppTest(/*usesXdotool=*/false) {}
};

TEST_F(DocReaderEndToEnd, FiftyStartsLeaveNoReaderBehind) {
    setDefault(cw::settings::startupMode, "DoNothing");
    const fs::path doc = work / "sample.doc";
    fs::copy_file(CW_FIXTURES_DIR "/script-sample.doc", doc);
    const std::string marker =
        "CUEWRIGHT_INSTANCE_NAME=" + environment.value("CUEWRIGHT_INSTANCE_NAME").toStdString();
    for (int round = 0; round < 50; ++round) {
        SCOPED_TRACE("start " + std::to_string(round + 1));
        QProcess& app = start({pathArg(doc)});
        // Quit while the reader works when it is seen at work, else once its text is shown.
        std::vector<pid_t> readers;
        ASSERT_TRUE(waitFor(app, [&] {
            readers = processesWith(marker, app.processId());
            return !readers.empty() || findWindow(display, root, "Untitled");
        })) << "the application ended by itself";
        app.terminate();
        ASSERT_TRUE(app.waitForFinished(60000));
        EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
        // A reader the quit did not end is still there a minute later.
        for (int i = 0; i < 600 && !processesWith(marker, app.processId()).empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        for (const pid_t left : processesWith(marker, app.processId())) {
            std::ifstream status("/proc/" + std::to_string(left) + "/status");
            std::string line, seccomp;
            while (std::getline(status, line)) {
                if (line.starts_with("Seccomp:")) {
                    seccomp = line;
                }
            }
            ADD_FAILURE() << "process " << left << " outlived the application (" << seccomp << ")";
            ::kill(left, SIGKILL);
        }
        if (HasFailure()) {
            return;
        }
    }
}

} // namespace

CW_END_TO_END_MAIN()

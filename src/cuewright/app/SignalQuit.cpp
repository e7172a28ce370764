#include "cuewright/app/SignalQuit.h"

#include "base/Log.h"

#include <QSocketNotifier>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <map>

#include <fcntl.h>
#include <unistd.h>

namespace cw {

namespace {

// The pipe's ends, the signal waiting to be handled (0 when none) and the watchdog's delay; all
// the handlers touch.
int pipeEnds[2] = {-1, -1};
volatile std::sig_atomic_t signalPending = 0;
volatile std::sig_atomic_t watchdogSeconds = 0;
std::map<int, struct sigaction>& previousActions() {
    static std::map<int, struct sigaction> actions;
    return actions;
}

extern "C" void onSignal(int signal) {
    if (signalPending != 0) {
        // The first one is still in hand: the application is not answering, so end as asked.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    signalPending = signal;
    const int saved = errno;
    ::alarm(static_cast<unsigned>(watchdogSeconds));
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &number, 1);
    errno = saved;
}

// The quit asked for did not end in time (the main thread is held, or the quit is): end as the
// signal asked, leaving every file as it is.
extern "C" void onWatchdog(int) {
    const int signal = signalPending;
    if (signal == 0) {
        return; // answered meanwhile
    }
    static constexpr char line[] = "Quitting did not end in time: ending at once\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line, sizeof line - 1);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    ::_exit(128 + signal); // the signal was blocked in this thread
}

void installAction(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    struct sigaction previous {};
    ::sigaction(signal, &action, &previous);
    previousActions()[signal] = previous;
}

} // namespace

const std::vector<int>& SignalQuit::sessionEndSignals() {
    static const std::vector<int> caught{SIGTERM, SIGINT, SIGHUP};
    return caught;
}

SignalQuit::AnswerAwaited::AnswerAwaited() {
    if (signalPending != 0) {
        ::alarm(0);
        paused_ = true;
    }
}

SignalQuit::AnswerAwaited::~AnswerAwaited() {
    if (paused_ && signalPending != 0) {
        ::alarm(static_cast<unsigned>(watchdogSeconds));
    }
}

SignalQuit::SignalQuit(std::vector<int> caught, Handler handler, QObject* parent,
                       std::chrono::seconds watchdog)
    : QObject(parent)
    , signals_(std::move(caught))
    , handler_(std::move(handler)) {
    if (pipeEnds[0] >= 0) {
        base::fatal("SignalQuit: only one may be installed at a time");
    }
    if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) {
        base::log(std::string("Signals end the application at once: no pipe: ") + std::strerror(errno));
        signals_.clear();
        return;
    }
    signalPending = 0;
    watchdogSeconds =
        static_cast<std::sig_atomic_t>(std::max<std::chrono::seconds::rep>(watchdog.count(), 1));
    notifier_ = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SignalQuit::readSignals);
    installAction(SIGALRM, onWatchdog);
    for (int signal : signals_) {
        installAction(signal, onSignal);
    }
}

SignalQuit::~SignalQuit() {
    if (!signals_.empty()) {
        ::alarm(0);
        signals_.push_back(SIGALRM);
    }
    for (int signal : signals_) {
        ::sigaction(signal, &previousActions()[signal], nullptr);
        previousActions().erase(signal);
    }
    signalPending = 0;
    delete notifier_;
    for (int& end : pipeEnds) {
        if (end >= 0) {
            ::close(end);
            end = -1;
        }
    }
}

void SignalQuit::readSignals() {
    std::array<unsigned char, 16> numbers{};
    for (;;) {
        const ssize_t count = ::read(pipeEnds[0], numbers.data(), numbers.size());
        if (count <= 0) {
            return; // drained (EAGAIN), or the pipe is gone
        }
        for (ssize_t i = 0; i < count; ++i) {
            base::log("Quitting on signal " + std::to_string(numbers[static_cast<std::size_t>(i)]));
            if (handler_(numbers[static_cast<std::size_t>(i)])) {
                // Answered, and still running: the next signal asks again.
                signalPending = 0;
                ::alarm(0);
            }
        }
    }
}

} // namespace cw

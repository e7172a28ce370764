#include "cuewright/app/SignalQuit.h"

#include "base/Log.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <map>

#include <fcntl.h>
#include <unistd.h>

namespace cw {

namespace {

// The pipe's ends and whether a signal is waiting to be handled; all the handler touches.
int pipeEnds[2] = {-1, -1};
volatile std::sig_atomic_t signalPending = 0;
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
    signalPending = 1;
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &number, 1);
    errno = saved;
}

} // namespace

const std::vector<int>& SignalQuit::sessionEndSignals() {
    static const std::vector<int> caught{SIGTERM, SIGINT, SIGHUP};
    return caught;
}

SignalQuit::SignalQuit(std::vector<int> caught, Handler handler, QObject* parent)
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
    notifier_ = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SignalQuit::readSignals);
    for (int signal : signals_) {
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        struct sigaction previous {};
        ::sigaction(signal, &action, &previous);
        previousActions()[signal] = previous;
    }
}

SignalQuit::~SignalQuit() {
    for (int signal : signals_) {
        ::sigaction(signal, &previousActions()[signal], nullptr);
        previousActions().erase(signal);
    }
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
            }
        }
    }
}

} // namespace cw

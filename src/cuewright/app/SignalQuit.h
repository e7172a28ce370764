// Ending the application through its own quit path when the session or a user sends a signal.
#pragma once

#include <QObject>

#include <chrono>
#include <functional>
#include <vector>

class QSocketNotifier;

namespace cw {

// Catches the given signals and runs `handler` for each on the main thread's event loop (nested
// loops included): the signal handler itself only writes the signal's number into a pipe, which
// a QSocketNotifier reads. The handler is for quitting: a signal that comes while the one before
// is still being handled (its question is up, or the application is ending) ends the process at
// once with that signal's default action, so a wedged application can still be stopped. When
// the handler answers that the application goes on (the quit was cancelled), the next signal is
// handled as the first was.
// A main thread that does not get round to the signal, or whose quit does not end in time,
// cannot hold the process: the first signal also arms a watchdog (SIGALRM) that ends the process
// with that signal's default action `watchdog` later, unless the handler answered by then that the
// application goes on. Nothing is cleaned up then, so every recovery copy written stays. While a
// question waits for the user's answer (AnswerAwaited), the watchdog waits too.
// One at a time per process; destroying it restores the previous actions and disarms the
// watchdog. Main thread.
class SignalQuit final : public QObject {
    Q_OBJECT

public:
    // Returns whether the application goes on.
    using Handler = std::function<bool(int signal)>;
    // Well inside the 15 s a session gives a program between its signal and a kill.
    static constexpr std::chrono::seconds defaultWatchdog{10};

    // What ends a desktop session or a terminal's program: SIGTERM, SIGINT and SIGHUP.
    static const std::vector<int>& sessionEndSignals();

    // Held while the quit asks the user something (about edits that no copy keeps): the watchdog
    // does not end the process under the question, and starts counting again once it is answered.
    // Does nothing when no signal is being handled.
    class AnswerAwaited {
    public:
        AnswerAwaited();
        ~AnswerAwaited();
        AnswerAwaited(const AnswerAwaited&) = delete;
        AnswerAwaited& operator=(const AnswerAwaited&) = delete;

    private:
        bool paused_ = false;
    };

    SignalQuit(std::vector<int> caught, Handler handler, QObject* parent = nullptr,
               std::chrono::seconds watchdog = defaultWatchdog);
    ~SignalQuit() override;
    SignalQuit(const SignalQuit&) = delete;
    SignalQuit& operator=(const SignalQuit&) = delete;

private:
    void readSignals();

    std::vector<int> signals_;
    Handler handler_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace cw

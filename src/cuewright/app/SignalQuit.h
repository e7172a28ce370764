// Ending the application through its own quit path when the session or a user sends a signal.
#pragma once

#include <QObject>

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
// handled as the first was. One at a time per process; destroying it restores the previous
// actions. Main thread.
class SignalQuit final : public QObject {
    Q_OBJECT

public:
    // Returns whether the application goes on.
    using Handler = std::function<bool(int signal)>;

    // What ends a desktop session or a terminal's program: SIGTERM, SIGINT and SIGHUP.
    static const std::vector<int>& sessionEndSignals();

    SignalQuit(std::vector<int> caught, Handler handler, QObject* parent = nullptr);
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

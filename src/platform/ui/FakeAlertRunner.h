// An alert runner that answers from a script, for tests.
#pragma once

#include "platform/ui/AlertRunner.h"

#include <deque>
#include <variant>
#include <vector>

namespace platform {

// Shows nothing. Each run() records the alert and its window and answers the next scripted
// answer; with none left it answers `defaultAnswer` (the first button unless changed). While the
// application quits, run() records nothing and answers alertNoAnswer, as the real runner does.
class FakeAlertRunner : public AlertRunner {
public:
    // Queues the answer of a later run(): alertFirstButtonReturn + the button's position.
    void answer(int code) { script_.emplace_back(code); }
    // Queues pressing the button with this title; a title not on the alert answers the default.
    void answerButton(const QString& title) { script_.emplace_back(title); }

    int defaultAnswer = alertFirstButtonReturn;

    const std::vector<Alert>& shown() const { return shown_; }
    const std::vector<QWidget*>& windows() const { return windows_; }

protected:
    int show(const Alert& alert, QWidget* window) override;

private:
    std::deque<std::variant<int, QString>> script_;
    std::vector<Alert> shown_;
    std::vector<QWidget*> windows_;
};

} // namespace platform

// Modal alerts that wait for a button, behind an interface that tests replace.
#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class QMessageBox;
class QWidget;

namespace platform {

struct Alert {
    enum class Style { warning, informational, critical };

    QString messageText;
    QString informativeText;
    // In the order shown. The first is the default (Return); one titled "Cancel" answers Escape.
    QStringList buttons;
    Style style = Style::warning;

    friend bool operator==(const Alert&, const Alert&) = default;
};

// Answer codes: the first button answers 1000, the second 1001, and so on.
constexpr int alertFirstButtonReturn = 1000;
// The answer when no button was pressed: the application quit under the alert (a signal, the
// session ending), or was quitting when it was asked. Nothing a button does may follow from it.
constexpr int alertNoAnswer = 0;

// Marks the application as on its way out: from then on every alert answers alertNoAnswer, one
// already up as well once it returns. Main thread only.
void setApplicationQuitting(bool quitting);
bool applicationQuitting();

// Runs an alert modally and answers which button was pressed.
// Main thread only: run() blocks its caller in a nested event loop until a button is pressed.
class AlertRunner {
public:
    virtual ~AlertRunner();

    // Shows the alert modal to `window` (to the whole application when null), waits for a
    // button and returns alertFirstButtonReturn + its position. An alert without buttons gets
    // one, "OK". While the application quits, or once it has quit under the alert, answers
    // alertNoAnswer whatever show() did: a signal answers no question.
    int run(const Alert& alert, QWidget* window);

protected:
    // Shows the alert and answers as run() does; alertNoAnswer when no button was pressed.
    virtual int show(const Alert& alert, QWidget* window) = 0;
};

// The runner over QMessageBox. The window cannot be closed without pressing a button unless
// one answers Escape (a "Cancel" button, or the only button).
class MessageBoxAlertRunner : public AlertRunner {
public:
    // The box run() shows, unshown: its texts plain, the buttons in order, the first the default.
    static std::unique_ptr<QMessageBox> makeBox(const Alert& alert, QWidget* window);

protected:
    int show(const Alert& alert, QWidget* window) override;
};

// Runs the alert as a sheet of `window`: modal to that window alone, blocking the caller until
// a button is pressed; answers alertFirstButtonReturn + the button's position. Goes through
// alertRunner(), so a fake answers in tests. A null window makes the alert application-modal.
int runModalSheetForWindow(const Alert& alert, QWidget* window);
// The same on the application's main window (the active window; none: application-modal).
int runModalSheet(const Alert& alert);

// Keeps one descriptor in reserve (opened once; again after an alert gave it back). An alert
// shown when the process has no descriptor left (a save failed for want of one) needs one: X
// gives a new window its buffer through a descriptor, and without one the alert never draws and
// the application waits for good. MessageBoxAlertRunner closes the spare while its alert shows
// and takes it back afterwards, when a descriptor is free again. Main thread only.
void keepSpareDescriptor();

// The runner the application uses: MessageBoxAlertRunner unless another was installed.
AlertRunner& alertRunner();
// Installs the runner alertRunner() returns (tests install a fake); null restores the default.
// Returns the previous one.
std::shared_ptr<AlertRunner> setAlertRunner(std::shared_ptr<AlertRunner> runner);

} // namespace platform

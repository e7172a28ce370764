#include "platform/ui/AlertRunner.h"

#include "dispatch/MainThreadChecker.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace platform {

AlertRunner::~AlertRunner() = default;

static bool quittingNow = false;

void setApplicationQuitting(bool quitting) {
    CW_DCHECK_MAIN_THREAD();
    quittingNow = quitting;
}

bool applicationQuitting() {
    CW_DCHECK_MAIN_THREAD();
    return quittingNow;
}

int AlertRunner::run(const Alert& alert, QWidget* window) {
    CW_DCHECK_MAIN_THREAD();
    if (quittingNow) {
        return alertNoAnswer;
    }
    const int answer = show(alert, window);
    // The application quit while the alert was up: whatever the box says, nobody answered.
    return quittingNow ? alertNoAnswer : answer;
}

static QMessageBox::Icon iconFor(Alert::Style style) {
    switch (style) {
    case Alert::Style::warning:
        return QMessageBox::Warning;
    case Alert::Style::informational:
        return QMessageBox::Information;
    case Alert::Style::critical:
        return QMessageBox::Critical;
    }
    return QMessageBox::Warning;
}

static int spareDescriptor = -1;

void keepSpareDescriptor() {
    CW_DCHECK_MAIN_THREAD();
    if (spareDescriptor < 0) {
        spareDescriptor = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    }
}

namespace {
// Lends the spare descriptor to whatever the alert's window needs, for the alert's lifetime.
struct SpareDescriptorLent {
    SpareDescriptorLent() {
        if (spareDescriptor >= 0) {
            ::close(spareDescriptor);
            spareDescriptor = -1;
        }
    }
    ~SpareDescriptorLent() { keepSpareDescriptor(); }
    SpareDescriptorLent(const SpareDescriptorLent&) = delete;
    SpareDescriptorLent& operator=(const SpareDescriptorLent&) = delete;
};
} // namespace

std::unique_ptr<QMessageBox> MessageBoxAlertRunner::makeBox(const Alert& alert, QWidget* window) {
    auto box = std::make_unique<QMessageBox>(window);
    box->setIcon(iconFor(alert.style));
    // Messages carry file names and reasons from documents: never read as markup.
    box->setTextFormat(Qt::PlainText);
    box->setText(alert.messageText);
    box->setInformativeText(alert.informativeText);
    // What an alert says (an address to open by hand, a file name) can be selected and copied.
    constexpr Qt::TextInteractionFlags selectable = Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard;
    box->setTextInteractionFlags(selectable);
    if (auto* informative = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
        informative->setTextFormat(Qt::PlainText);
        informative->setTextInteractionFlags(selectable);
    }
    // Selectable from the keyboard too: Tab reaches the texts after the buttons.
    for (auto* label : box->findChildren<QLabel*>()) {
        if (label->textInteractionFlags() & Qt::TextSelectableByKeyboard) {
            label->setFocusPolicy(Qt::TabFocus);
        }
    }
    box->setWindowModality(window != nullptr ? Qt::WindowModal : Qt::ApplicationModal);

    const QStringList titles = alert.buttons.isEmpty() ? QStringList{QMessageBox::tr("OK")} : alert.buttons;
    QPushButton* escape = nullptr;
    QPushButton* first = nullptr;
    for (const QString& title : titles) {
        // One role for all keeps them in the caller's order; Return and Escape are set below.
        QPushButton* button = box->addButton(title, QMessageBox::ActionRole);
        first = first != nullptr ? first : button;
        if (escape == nullptr && (title == QLatin1String("Cancel") || title == QMessageBox::tr("Cancel"))) {
            escape = button;
        }
    }
    if (escape == nullptr && titles.size() == 1) {
        escape = first;
    }
    box->setDefaultButton(first);
    box->setEscapeButton(escape);
    return box;
}

int MessageBoxAlertRunner::show(const Alert& alert, QWidget* window) {
    const SpareDescriptorLent lent;
    const std::unique_ptr<QMessageBox> made = makeBox(alert, window);
    QMessageBox& box = *made;
    std::vector<QAbstractButton*> buttons;
    for (QAbstractButton* button : box.buttons()) {
        buttons.push_back(button);
    }
    // The window manager may leave the keyboard in a window this alert blocks (the one it was in,
    // or the one that had it before an alert closed): Return and Escape would do nothing. The
    // alert in front takes it from there; never from another application the person is in.
    static std::vector<QMessageBox*> shown;
    shown.push_back(&box);
    const auto takeKeyboard = [&box] {
        const QWindow* focus = QGuiApplication::focusWindow();
        const QWidget* parent = box.parentWidget() != nullptr ? box.parentWidget()->window() : nullptr;
        const bool blocked = focus != nullptr && focus != box.windowHandle() &&
                             (parent == nullptr || focus == parent->windowHandle());
        if (shown.back() == &box && blocked) {
            box.activateWindow();
        }
    };
    QObject::connect(qApp, &QGuiApplication::focusWindowChanged, &box, takeKeyboard);
    QTimer::singleShot(0, &box, takeKeyboard);
    box.exec();
    shown.pop_back();

    for (std::size_t i = 0; i < buttons.size(); ++i) {
        if (box.clickedButton() == buttons[i]) {
            return alertFirstButtonReturn + static_cast<int>(i);
        }
    }
    // The box went away without a button: the application quit under it.
    return alertNoAnswer;
}

int runModalSheetForWindow(const Alert& alert, QWidget* window) {
    return alertRunner().run(alert, window != nullptr ? window->window() : nullptr);
}

int runModalSheet(const Alert& alert) {
    return runModalSheetForWindow(alert, QApplication::activeWindow());
}

namespace {
std::shared_ptr<AlertRunner>& installedRunner() {
    static std::shared_ptr<AlertRunner> runner;
    return runner;
}
} // namespace

AlertRunner& alertRunner() {
    CW_DCHECK_MAIN_THREAD();
    if (!installedRunner()) {
        installedRunner() = std::make_shared<MessageBoxAlertRunner>();
    }
    return *installedRunner();
}

std::shared_ptr<AlertRunner> setAlertRunner(std::shared_ptr<AlertRunner> runner) {
    CW_DCHECK_MAIN_THREAD();
    auto previous = std::move(installedRunner());
    installedRunner() = std::move(runner);
    return previous;
}

} // namespace platform

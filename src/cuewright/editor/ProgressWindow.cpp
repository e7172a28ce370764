#include "cuewright/editor/ProgressWindow.h"

#include "dispatch/MainThreadChecker.h"
#include "platform/ui/PlainText.h"
#include "platform/ui/WindowFocus.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <utility>

namespace cw::editor {

static std::optional<int> testDelayMs;

void ProgressWindow::setDelayForTests(std::optional<int> ms) {
    testDelayMs = ms;
}

ProgressWindow::ProgressWindow(QString title, QString label, std::function<std::optional<double>()> progress,
                               std::function<void()> cancelled, QWidget* over, int delayMs,
                               Qt::WindowModality modality)
    : title_(std::move(title))
    , label_(std::move(label))
    , progress_(std::move(progress))
    , cancelled_(std::move(cancelled))
    , over_(over)
    , modality_(modality)
    , showTimer_(new QTimer(this))
    , updateTimer_(new QTimer(this)) {
    CW_DCHECK_MAIN_THREAD();
    showTimer_->setSingleShot(true);
    connect(showTimer_, &QTimer::timeout, this, &ProgressWindow::show);
    connect(updateTimer_, &QTimer::timeout, this, &ProgressWindow::update);
    showTimer_->start(testDelayMs.value_or(delayMs));
}

ProgressWindow::~ProgressWindow() {
    if (QWidget* window = window_.data()) {
        window_ = nullptr;
        disconnect(window, nullptr, this, nullptr);
        window->close();
    }
}

void ProgressWindow::bringForward() {
    if (!window_) {
        showTimer_->stop();
        show();
    }
    if (window_) {
        platform::bringForward(window_.data());
    }
}

void ProgressWindow::show() {
    if (window_) {
        return;
    }
    auto* window = over_ ? new QWidget(over_, Qt::Dialog) : new QWidget(nullptr, Qt::Window);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowModality(modality_);
    window->setWindowTitle(platform::plainWindowTitle(title_));
    auto* layout = new QVBoxLayout(window);
    auto* label = platform::plainTextLabel(new QLabel);
    label->setText(label_);
    bar_ = new QProgressBar;
    bar_->setMinimumWidth(360);
    auto* cancelButton = new QPushButton(QApplication::translate("ProgressWindow", "Cancel"));
    layout->addWidget(label);
    layout->addWidget(bar_);
    layout->addWidget(cancelButton, 0, Qt::AlignRight);
    const auto cancel = [this] {
        if (const auto cancelled = std::exchange(cancelled_, nullptr)) {
            cancelled();
        }
    };
    connect(cancelButton, &QPushButton::clicked, this, cancel);
    connect(new QShortcut(QKeySequence::Cancel, window), &QShortcut::activated, this, cancel);
    // Closing the window is a cancel too.
    connect(window, &QObject::destroyed, this, [this, cancel] {
        window_ = nullptr;
        bar_ = nullptr;
        updateTimer_->stop();
        cancel();
    });
    window_ = window;
    update();
    window->show();
    updateTimer_->start(100);
}

void ProgressWindow::update() {
    if (!bar_) {
        return;
    }
    const std::optional<double> done = progress_ ? progress_() : std::nullopt;
    if (!done) {
        bar_->setRange(0, 0);
        return;
    }
    bar_->setRange(0, 1000);
    bar_->setValue(static_cast<int>(std::clamp(*done, 0.0, 1.0) * 1000));
}

} // namespace cw::editor

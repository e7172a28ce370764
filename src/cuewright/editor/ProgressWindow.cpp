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
        window->removeEventFilter(this);
        window->close();
    }
}

QString ProgressWindow::cancellingLabel() {
    return QApplication::translate("ProgressWindow", "Cancelling\u2026");
}

void ProgressWindow::setProgress(std::function<std::optional<double>()> progress) {
    progress_ = std::move(progress);
    update();
}

void ProgressWindow::cancel() {
    const auto cancelled = std::exchange(cancelled_, nullptr);
    if (!cancelled) {
        return;
    }
    // Said at once, before the way back begins.
    label_ = cancellingLabel();
    if (window_) {
        labelShown_->setText(label_);
        cancelButton_->setEnabled(false);
        bar_->reset(); // the way back's own progress from the next update on
        window_->repaint();
    }
    cancelled(); // last: it may destroy this
}

bool ProgressWindow::eventFilter(QObject* watched, QEvent* event) {
    // Once cancelled, or with nothing to cancel, the window stays until the work is over.
    if (watched == window_.data() && event->type() == QEvent::Close && !cancelled_) {
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
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
    labelShown_ = platform::plainTextLabel(new QLabel);
    labelShown_->setText(label_);
    bar_ = new QProgressBar;
    bar_->setMinimumWidth(360);
    cancelButton_ = new QPushButton(QApplication::translate("ProgressWindow", "Cancel"));
    cancelButton_->setEnabled(cancelled_ != nullptr);
    layout->addWidget(labelShown_);
    layout->addWidget(bar_);
    layout->addWidget(cancelButton_, 0, Qt::AlignRight);
    connect(cancelButton_, &QPushButton::clicked, this, &ProgressWindow::cancel);
    connect(new QShortcut(QKeySequence::Cancel, window), &QShortcut::activated, this,
            &ProgressWindow::cancel);
    // Closing the window is a cancel too.
    window->installEventFilter(this);
    connect(window, &QObject::destroyed, this, [this] {
        window_ = nullptr;
        bar_ = nullptr;
        labelShown_ = nullptr;
        cancelButton_ = nullptr;
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

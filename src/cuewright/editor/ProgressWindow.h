// A small window that shows how far a long piece of work has come, with a Cancel button.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace cw::editor {

// Shows itself `delayMs` after it is made, unless the work ended first (work that is over within
// that time shows nothing): a dialog of `over` (kept in front of it by the window manager) titled
// `title`, with `label` above a bar that follows `progress` (0 to 1; a bar that only moves while
// none is known) ten times a second, and Cancel. Cancel, Escape in it or closing it runs
// `cancelled` once, and at once the window says "Cancelling…" with Cancel disabled: taking the
// work back is not to be stopped half-way, so from then on Escape and closing do nothing. Without
// `cancelled` it is such a window from the start. Destroying it closes the window. The texts are
// shown as plain text. Main thread only.
class ProgressWindow final : public QObject {
    Q_OBJECT

public:
    static constexpr int defaultDelayMs = 500;

    // An application-modal one keeps input from every other window while it shows.
    ProgressWindow(QString title, QString label, std::function<std::optional<double>()> progress,
                   std::function<void()> cancelled, QWidget* over, int delayMs = defaultDelayMs,
                   Qt::WindowModality modality = Qt::NonModal);
    ~ProgressWindow() override;
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;

    // Every window made from now on waits `ms` instead of its own delay; nullopt restores them.
    // For tests, whose machine may finish the work before the usual wait.
    static void setDelayForTests(std::optional<int> ms);

    // What the bar follows from now on (the way back once cancelled); null for nothing known.
    void setProgress(std::function<std::optional<double>()> progress);
    static QString cancellingLabel();

    // Shows the window now, if it was still to come, and brings it to the front.
    void bringForward();
    // The window once it shows; null before.
    QWidget* window() const { return window_; }

private:
    void show();
    void update();
    void cancel();
    bool eventFilter(QObject* watched, QEvent* event) override;

    QString title_;
    QString label_;
    std::function<std::optional<double>()> progress_;
    std::function<void()> cancelled_;
    QPointer<QWidget> over_;
    Qt::WindowModality modality_;
    QTimer* showTimer_ = nullptr;
    QTimer* updateTimer_ = nullptr;
    QPointer<QWidget> window_;
    QProgressBar* bar_ = nullptr;
    QLabel* labelShown_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
};

} // namespace cw::editor

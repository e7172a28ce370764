// Tells when a burst of resizes (a live resize) has ended.
#pragma once

#include <QObject>
#include <QPointer>

#include <chrono>

class QTimer;
#include <QWidget>

namespace platform {

// Watches one widget's size. Each resize of the visible widget starts or restarts a quiet
// period; when it passes without another resize, liveResizeEnded() is emitted once for the
// whole burst. Work too costly for every frame of a drag (laying text out anew) belongs there;
// cheap re-framing can follow every resize event as usual.
//
// Resizes of a hidden widget do not count (showing it resizes it once more anyway).
// Main thread only. The watcher is a child of the widget and dies with it.
class LiveResizeWatcher : public QObject {
    Q_OBJECT

public:
    explicit LiveResizeWatcher(QWidget* widget,
                               std::chrono::milliseconds quietPeriod = std::chrono::milliseconds(250));

    std::chrono::milliseconds quietPeriod() const;

    // A resize came and its quiet period has not yet passed.
    bool isResizing() const;

    // Ends a pending burst at once: emits liveResizeEnded() when one is pending, else nothing.
    void finishNow();

signals:
    void liveResizeEnded();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> widget_;
    QTimer* timer_;
};

} // namespace platform

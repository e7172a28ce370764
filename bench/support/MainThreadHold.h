// How long work held the main thread: the longest gap between turns of its event loop.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <functional>

namespace benchsupport {

// The longest the main thread went without turning its event loop while `work` ran and then
// until `done` held, in milliseconds.
inline double longestHold(const std::function<void()>& work, const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 longest = 0;
    QTimer turns;
    QObject::connect(&turns, &QTimer::timeout, [&] {
        longest = std::max(longest, clock.elapsed() - last);
        last = clock.elapsed();
    });
    turns.start(0);
    work();
    while (!done())
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    longest = std::max(longest, clock.elapsed() - last);
    return double(longest);
}

} // namespace benchsupport

// How long work held the main thread: the longest gap between turns of its event loop.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <time.h>

#include <algorithm>
#include <functional>

namespace benchsupport {

// The main thread's processor time in milliseconds: on a busy machine a hold's wall time grows
// with the other load, its processor time does not.
inline double threadMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// The longest the main thread went without turning its event loop while `work` ran and then
// until `done` held, in milliseconds; `cpu`, when given, takes the longest in processor time.
inline double longestHold(const std::function<void()>& work, const std::function<bool()>& done,
                          double* cpu = nullptr) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 longest = 0;
    double lastCpu = threadMilliseconds();
    double longestCpu = 0;
    const auto turn = [&] {
        longest = std::max(longest, clock.elapsed() - last);
        last = clock.elapsed();
        const double now = threadMilliseconds();
        longestCpu = std::max(longestCpu, now - lastCpu);
        lastCpu = now;
    };
    QTimer turns;
    QObject::connect(&turns, &QTimer::timeout, turn);
    turns.start(0);
    work();
    while (!done())
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    turn();
    if (cpu)
        *cpu = std::max(*cpu, longestCpu);
    return double(longest);
}

} // namespace benchsupport

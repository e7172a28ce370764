// The Qt event loop drains the dispatch main queue.
#include "dispatch/Queue.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <thread>

TEST(MainQueueBridge, TasksFromWorkersRunInTheEventLoop) {
    QEventLoop loop;
    bool onMain = false;
    std::thread worker([&] {
        dispatch::mainQueue()->async([&] {
            onMain = dispatch::isMainThread();
            loop.quit();
        });
    });
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    worker.join();
    EXPECT_TRUE(onMain);
}

TEST(MainQueueBridge, SyncFromAWorkerIsAnsweredByTheEventLoop) {
    QEventLoop loop;
    int answer = 0;
    std::thread worker([&] {
        answer = dispatch::mainQueue()->sync([] { return 42; });
        dispatch::mainQueue()->async([&] { loop.quit(); });
    });
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    worker.join();
    EXPECT_EQ(answer, 42);
}

// The Qt event loop drains the dispatch main queue: a worker's sync call is answered and its async
// task runs on the main thread.
#include "dispatch/Queue.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>

#include <thread>

TEST(MainQueueBridge, TasksFromWorkersRunInTheEventLoop) {
    QEventLoop loop;
    int answer = 0;
    bool onMain = false;
    std::thread worker([&] {
        answer = dispatch::mainQueue()->sync([] { return 42; });
        dispatch::mainQueue()->async([&] {
            onMain = dispatch::isMainThread();
            loop.quit();
        });
    });
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    worker.join();
    EXPECT_EQ(answer, 42);
    EXPECT_TRUE(onMain);
}

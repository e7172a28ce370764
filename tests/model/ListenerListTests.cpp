// The listener list over a listener type of its own: order, weak holding, threads, waiting.
#include "cuewright/model/ListenerList.h"
#include "dispatch/Queue.h"

#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

namespace {

struct Follower {
    std::string name;
    int priority = 0;
    Strings* log = nullptr;
    std::atomic<int> offMain{0};
    int listenerPriority() const { return priority; }
    void hear(const std::string& what) {
        offMain += dispatch::isMainThread() ? 0 : 1;
        log->push_back(name + ":" + what);
    }
};

struct ListenerListTest : ::testing::Test {
    std::shared_ptr<Follower> make(std::string name, int priority) {
        auto f = std::make_shared<Follower>();
        f->name = std::move(name);
        f->priority = priority;
        f->log = &log;
        EXPECT_TRUE(list.add(f));
        return f;
    }
    void send(const std::string& what) {
        list.notify([what](Follower& f) { f.hear(what); });
    }
    Strings log;
    cw::ListenerList<Follower> list{"test.listeners", "not on the main thread"};
};

} // namespace

TEST_F(ListenerListTest, FullPassesByPriorityOnceEachAndOnlyWhileHeld) {
    auto c = make("C", 10);
    auto a = make("A", 0);
    auto b = make("B", 10);
    EXPECT_TRUE(list.add(c)); // already there: still one entry
    EXPECT_FALSE(list.add(nullptr));
    send("1");
    send("2");
    EXPECT_EQ(log, (Strings{"A:1", "C:1", "B:1", "A:2", "C:2", "B:2"}));
    log.clear();
    list.remove(c.get());
    a.reset();
    send("3");
    EXPECT_EQ(log, Strings{"B:3"});
    EXPECT_EQ(list.sorted(), std::vector{b});
}

TEST_F(ListenerListTest, OtherThreadsDeliverOnTheMainThreadAndMayWaitButNotRegister) {
    auto b = make("B", 1);
    auto a = make("A", 0);
    auto late = std::make_shared<Follower>();
    testsupport::LogCapture capture;
    std::atomic<int> heardBeforeReturn{-1};
    std::thread worker([&] {
        EXPECT_FALSE(list.add(late));
        list.remove(a.get());
        list.notifyAndWait([](Follower& f) { f.hear("wait"); });
        heardBeforeReturn = int(b->log->size());
        send("post");
    });
    EXPECT_TRUE(dispatch::runMainUntil([&] { return log.size() == 4; }, 5s));
    worker.join();
    EXPECT_EQ(log, (Strings{"A:wait", "B:wait", "A:post", "B:post"}));
    EXPECT_EQ(heardBeforeReturn.load(), 2);
    EXPECT_EQ(a->offMain + b->offMain, 0);
    EXPECT_EQ(capture.lines(), (Strings{"not on the main thread", "not on the main thread"}));
}

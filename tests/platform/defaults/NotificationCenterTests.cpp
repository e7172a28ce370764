// The notification centre: matching, removal (also during a post), threads.
#include "platform/defaults/NotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using platform::Notification;
using platform::NotificationCenter;
using platform::ObserverToken;

TEST(NotificationCenter, DeliversByNameAndObjectInRegistrationOrderWithTheUserInfo) {
    NotificationCenter center;
    std::vector<std::string> heard;
    int poster = 0;
    int otherPoster = 0;
    center.addObserver("A", [&](const Notification&) { heard.push_back("a1"); });
    center.addObserver("", [&](const Notification& n) { heard.push_back("all:" + n.name); });
    center.addObserver(
        "A", [&](const Notification&) { heard.push_back("a-from-poster"); }, &poster);
    center.addObserver("A", [&](const Notification&) { heard.push_back("a2"); });

    center.post("A", &otherPoster);
    EXPECT_EQ(heard, (std::vector<std::string>{"a1", "all:A", "a2"}));
    heard.clear();
    center.post("A", &poster);
    EXPECT_EQ(heard, (std::vector<std::string>{"a1", "all:A", "a-from-poster", "a2"}));
    heard.clear();
    center.post("B");
    EXPECT_EQ(heard, (std::vector<std::string>{"all:B"}));

    Notification got;
    center.addObserver("N", [&](const Notification& n) { got = n; });
    center.post("N", &poster, {{"unit", "linesperminute"}, {"count", 3}});
    EXPECT_EQ(got.name, "N");
    EXPECT_EQ(got.object, &poster);
    ASSERT_EQ(got.userInfo.size(), 2u);
    EXPECT_EQ(*got.userInfo.at("unit").string(), "linesperminute");
    EXPECT_EQ(*got.userInfo.at("count").integer(), 3);
}

TEST(NotificationCenter, RemovesByTokenByOwnerAndByOwnerAndName) {
    NotificationCenter center;
    int owner = 0;
    int otherOwner = 0;
    int calls[4] = {};
    auto token = center.addObserver("A", [&](const Notification&) { ++calls[0]; });
    center.addObserver(&owner, "A", [&](const Notification&) { ++calls[1]; });
    center.addObserver(&owner, "B", [&](const Notification&) { ++calls[2]; });
    center.addObserver(&otherOwner, "A", [&](const Notification&) { ++calls[3]; });
    EXPECT_TRUE(token);

    center.removeObserver(token);
    center.removeObserver(&owner, "A");
    center.post("A");
    center.post("B");
    EXPECT_EQ(calls[0], 0);
    EXPECT_EQ(calls[1], 0);
    EXPECT_EQ(calls[2], 1);
    EXPECT_EQ(calls[3], 1);

    center.removeObserver(&owner);
    center.removeObserver(static_cast<const void*>(nullptr)); // no owner: removes nothing
    center.post("A");
    center.post("B");
    EXPECT_EQ(calls[2], 1);
    EXPECT_EQ(calls[3], 2);
}

TEST(NotificationCenter, AnObserverRemovedDuringAPostIsNotCalledByIt) {
    NotificationCenter center;
    ObserverToken second;
    int secondCalls = 0;
    int addedCalls = 0;
    center.addObserver("N", [&](const Notification&) {
        center.removeObserver(second);
        center.addObserver("N", [&](const Notification&) { ++addedCalls; });
    });
    second = center.addObserver("N", [&](const Notification&) { ++secondCalls; });
    center.post("N");
    EXPECT_EQ(secondCalls, 0);
    EXPECT_EQ(addedCalls, 0) << "an observer added during a post hears the next one";
    center.post("N");
    EXPECT_EQ(addedCalls, 1);
}

TEST(NotificationCenter, HandlersRunOnThePostingThread) {
    NotificationCenter center;
    std::thread::id where;
    center.addObserver("N", [&](const Notification&) { where = std::this_thread::get_id(); });
    std::thread poster([&] { center.post("N"); });
    const auto posterId = poster.get_id();
    poster.join();
    EXPECT_EQ(where, posterId);
}

TEST(NotificationCenter, ConcurrentPostsAndRegistrationsAreSafe) {
    NotificationCenter center;
    std::atomic<int> calls{0};
    center.addObserver("N", [&](const Notification&) { ++calls; });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i) {
                auto token =
                    center.addObserver(&threads, "M" + std::to_string(t), [](const Notification&) {});
                center.post("N");
                center.removeObserver(token);
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    EXPECT_EQ(calls.load(), 2000);
}

TEST(NotificationCenter, DefaultCenterIsShared) {
    EXPECT_EQ(&NotificationCenter::defaultCenter(), &NotificationCenter::defaultCenter());
}

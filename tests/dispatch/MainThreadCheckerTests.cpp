#include "dispatch/MainThreadChecker.h"

#include <gtest/gtest.h>

#include <thread>

// From MainThreadCheckerRelease.cpp, which is built with NDEBUG.
int releaseCheckedCall();

namespace {

void checkedOperation() {
    CW_DCHECK_MAIN_THREAD();
}

TEST(MainThreadChecker, PassesOnTheMainThreadAndStopsOffItInDebugBuilds) {
    checkedOperation();
#ifndef NDEBUG
    EXPECT_DEATH(std::thread(checkedOperation).join(), "checkedOperation.* called off the main thread");
#endif
}

TEST(MainThreadChecker, IsNothingInReleaseBuilds) {
    int result = 0;
    std::thread([&] { result = releaseCheckedCall(); }).join();
    EXPECT_EQ(result, 1);
}

} // namespace

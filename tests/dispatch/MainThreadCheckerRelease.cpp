// A release translation unit: the check must leave no call behind, not even one that would
// stop a constant expression.
#ifndef NDEBUG
#define NDEBUG
#endif
#include "dispatch/MainThreadChecker.h"

static constexpr int checkedInRelease() {
    CW_DCHECK_MAIN_THREAD();
    return 1;
}
static_assert(checkedInRelease() == 1, "CW_DCHECK_MAIN_THREAD must compile to nothing with NDEBUG");

int releaseCheckedCall() {
    return checkedInRelease();
}

// An activity inhibitor that only counts, for tests of whoever holds activities.
#pragma once

#include "platform/activity/ActivityInhibitor.h"

#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace platform {

// Records begins and ends and keeps nothing awake. Thread-safe.
class FakeActivityInhibitor : public ActivityInhibitor {
public:
    ActivityToken begin(const std::string& reason) override;
    void end(ActivityToken token) override;
    int openCount() const override;

    // The reasons of every begin(), in order.
    std::vector<std::string> reasons() const;
    int beginCount() const;
    // end() calls that closed an open activity (repeated or unknown tokens are not counted).
    int endCount() const;

private:
    mutable std::mutex mutex_;
    std::uint64_t nextId_ = 1;
    std::set<std::uint64_t> open_;
    std::vector<std::string> reasons_;
    int ends_ = 0;
};

} // namespace platform

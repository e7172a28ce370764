#include "platform/activity/FakeActivityInhibitor.h"

namespace platform {

ActivityToken FakeActivityInhibitor::begin(const std::string& reason) {
    std::lock_guard lock(mutex_);
    const ActivityToken token{nextId_++};
    open_.insert(token.id);
    reasons_.push_back(reason);
    return token;
}

void FakeActivityInhibitor::end(ActivityToken token) {
    std::lock_guard lock(mutex_);
    if (open_.erase(token.id) > 0) {
        ++ends_;
    }
}

int FakeActivityInhibitor::openCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(open_.size());
}

std::vector<std::string> FakeActivityInhibitor::reasons() const {
    std::lock_guard lock(mutex_);
    return reasons_;
}

int FakeActivityInhibitor::beginCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(reasons_.size());
}

int FakeActivityInhibitor::endCount() const {
    std::lock_guard lock(mutex_);
    return ends_;
}

} // namespace platform

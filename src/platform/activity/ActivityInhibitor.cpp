#include "platform/activity/ActivityInhibitor.h"

#include "platform/activity/DBusActivityInhibitor.h"

#include <mutex>

namespace platform {

ActivityInhibitor::~ActivityInhibitor() = default;

namespace {
std::mutex sharedMutex;
std::shared_ptr<ActivityInhibitor>& shared() {
    static std::shared_ptr<ActivityInhibitor> instance;
    return instance;
}
} // namespace

std::shared_ptr<ActivityInhibitor> sharedActivityInhibitor() {
    std::lock_guard lock(sharedMutex);
    if (!shared()) {
        shared() = std::make_shared<DBusActivityInhibitor>();
    }
    return shared();
}

std::shared_ptr<ActivityInhibitor> setSharedActivityInhibitor(std::shared_ptr<ActivityInhibitor> inhibitor) {
    std::lock_guard lock(sharedMutex);
    auto previous = std::move(shared());
    shared() = std::move(inhibitor);
    return previous;
}

} // namespace platform

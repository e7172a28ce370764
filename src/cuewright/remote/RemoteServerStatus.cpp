#include "cuewright/remote/RemoteServerStatus.h"

#include "dispatch/Queue.h"
#include "platform/defaults/NotificationCenter.h"

#include <mutex>

namespace cw {

namespace {

std::mutex& statusMutex() {
    static std::mutex mutex;
    return mutex;
}

RemoteServerStatus& stored() {
    static RemoteServerStatus status;
    return status;
}

} // namespace

RemoteServerStatus remoteServerStatus() {
    const std::lock_guard lock(statusMutex());
    return stored();
}

void setRemoteServerStatus(RemoteServerStatus status) {
    {
        const std::lock_guard lock(statusMutex());
        if (stored() == status)
            return;
        stored() = std::move(status);
    }
    dispatch::mainQueue()->async(
        [] { platform::NotificationCenter::defaultCenter().post(std::string(remoteServerStatusDidChange)); });
}

} // namespace cw

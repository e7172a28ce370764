#include "platform/netservice/FakeNetService.h"

#include "dispatch/Queue.h"

#include <algorithm>
#include <atomic>

namespace platform {

struct FakeNetService::Entry {
    bool isBrowse = false;
    Published published;
    BrowseCallbacks browse;
    PublishCallbacks publish;
    std::atomic<bool> alive{true};
};

namespace {

class FakeHandle : public NetService::Handle {
public:
    explicit FakeHandle(std::function<void()> end)
        : end_(std::move(end)) {}
    ~FakeHandle() override { end_(); }

private:
    std::function<void()> end_;
};

} // namespace

std::shared_ptr<FakeNetService::Entry> FakeNetService::add(Published published, BrowseCallbacks browse) {
    auto entry = std::make_shared<Entry>();
    entry->isBrowse = static_cast<bool>(browse.didFind) || static_cast<bool>(browse.didRemove);
    entry->published = std::move(published);
    entry->browse = std::move(browse);
    std::lock_guard lock(mutex_);
    entries_.push_back(entry);
    return entry;
}

NetService::HandlePtr FakeNetService::publish(const std::string& name, const std::string& type,
                                              const std::string& domain, std::uint16_t port,
                                              PublishCallbacks callbacks) {
    bool refused = false;
    std::optional<std::string> waiting;
    {
        std::lock_guard lock(mutex_);
        refused = std::find(refused_.begin(), refused_.end(), name) != refused_.end();
        waiting = unavailable_;
    }
    auto entry = refused ? nullptr : add({name, netServiceTypeWithoutDot(type), domain, port}, {});
    if (entry) {
        entry->publish = callbacks;
    }
    dispatch::mainQueue()->async([entry, refused, waiting, callbacks = std::move(callbacks)] {
        if (refused && callbacks.didNotPublish) {
            callbacks.didNotPublish(std::string(nameInUseReason));
        } else if (!refused && entry->alive && waiting && callbacks.isWaiting) {
            callbacks.isWaiting(*waiting);
        } else if (!refused && entry->alive && !waiting && callbacks.didPublish) {
            callbacks.didPublish();
        }
    });
    auto self = shared_from_this();
    return std::make_unique<FakeHandle>([self, entry] {
        if (!entry) {
            return;
        }
        entry->alive = false;
        std::lock_guard lock(self->mutex_);
        std::erase(self->entries_, entry);
    });
}

NetService::HandlePtr FakeNetService::browse(const std::string& type, const std::string& domain,
                                             BrowseCallbacks callbacks) {
    auto entry = add({"", netServiceTypeWithoutDot(type), domain, 0}, std::move(callbacks));
    entry->isBrowse = true;
    auto self = shared_from_this();
    return std::make_unique<FakeHandle>([self, entry] {
        entry->alive = false;
        std::lock_guard lock(self->mutex_);
        std::erase(self->entries_, entry);
    });
}

NetService::HandlePtr FakeNetService::resolve(const NetServiceInstance& service, std::chrono::milliseconds,
                                              ResolveCallback callback) {
    std::optional<ResolvedNetService> resolved;
    {
        std::lock_guard lock(mutex_);
        ++resolveCounts_[service.name];
        if (const auto found = resolutions_.find(service.name); found != resolutions_.end()) {
            resolved = found->second;
        }
    }
    auto alive = std::make_shared<std::atomic<bool>>(true);
    dispatch::mainQueue()->async([alive, resolved, callback = std::move(callback)] {
        if (*alive && callback) {
            callback(resolved, resolved ? std::string() : std::string("timed out"));
        }
    });
    return std::make_unique<FakeHandle>([alive] { *alive = false; });
}

std::vector<FakeNetService::Published> FakeNetService::published() const {
    std::lock_guard lock(mutex_);
    std::vector<Published> result;
    for (const auto& entry : entries_) {
        if (!entry->isBrowse) {
            result.push_back(entry->published);
        }
    }
    return result;
}

void FakeNetService::refuseName(const std::string& name) {
    std::lock_guard lock(mutex_);
    refused_.push_back(name);
}

void FakeNetService::acceptName(const std::string& name) {
    std::lock_guard lock(mutex_);
    std::erase(refused_, name);
}

void FakeNetService::setUnavailable(std::optional<std::string> reason) {
    std::vector<std::shared_ptr<Entry>> publications;
    {
        std::lock_guard lock(mutex_);
        unavailable_ = reason;
        std::copy_if(entries_.begin(), entries_.end(), std::back_inserter(publications),
                     [](const auto& entry) { return !entry->isBrowse; });
    }
    for (const auto& entry : publications) {
        dispatch::mainQueue()->async([entry, reason] {
            if (!entry->alive) {
                return;
            }
            if (reason && entry->publish.isWaiting) {
                entry->publish.isWaiting(*reason);
            } else if (!reason && entry->publish.didPublish) {
                entry->publish.didPublish();
            }
        });
    }
}

std::optional<std::string> FakeNetService::unavailableReason() const {
    std::lock_guard lock(mutex_);
    return unavailable_;
}

void FakeNetService::tell(const std::vector<NetServiceInstance>& services, bool found) {
    std::vector<std::shared_ptr<Entry>> browses;
    {
        std::lock_guard lock(mutex_);
        std::copy_if(entries_.begin(), entries_.end(), std::back_inserter(browses),
                     [](const auto& entry) { return entry->isBrowse; });
    }
    for (const auto& entry : browses) {
        for (size_t i = 0; i < services.size(); ++i) {
            const bool moreComing = i + 1 < services.size();
            dispatch::mainQueue()->async([entry, service = services[i], moreComing, found] {
                const auto& callback = found ? entry->browse.didFind : entry->browse.didRemove;
                if (entry->alive && callback) {
                    callback(service, moreComing);
                }
            });
        }
    }
}

void FakeNetService::announce(const std::vector<NetServiceInstance>& services) {
    tell(services, true);
}

void FakeNetService::withdraw(const std::vector<NetServiceInstance>& services) {
    tell(services, false);
}

size_t FakeNetService::browseCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(
        std::count_if(entries_.begin(), entries_.end(), [](const auto& entry) { return entry->isBrowse; }));
}

void FakeNetService::forgetResolution(const std::string& name) {
    std::lock_guard lock(mutex_);
    resolutions_.erase(name);
}

void FakeNetService::setResolution(const std::string& name, ResolvedNetService resolved) {
    std::lock_guard lock(mutex_);
    resolutions_[name] = std::move(resolved);
}

int FakeNetService::resolveCount(const std::string& name) const {
    std::lock_guard lock(mutex_);
    const auto found = resolveCounts_.find(name);
    return found == resolveCounts_.end() ? 0 : found->second;
}

} // namespace platform

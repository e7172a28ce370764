// A NetService for tests: records publications and plays the network's part in browsing.
#pragma once

#include "platform/netservice/NetService.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Nothing leaves the process. Publications succeed (unless the name is refused), browses hear
// what the test announces, resolutions answer what the test set. Callbacks are posted to the
// main queue, as the real service does. Thread-safe.
class FakeNetService : public NetService, public std::enable_shared_from_this<FakeNetService> {
public:
    struct Published {
        std::string name, type, domain;
        std::uint16_t port = 0;
        bool operator==(const Published&) const = default;
    };

    HandlePtr publish(const std::string& name, const std::string& type, const std::string& domain,
                      std::uint16_t port, PublishCallbacks callbacks) override;
    HandlePtr browse(const std::string& type, const std::string& domain, BrowseCallbacks callbacks) override;
    HandlePtr resolve(const NetServiceInstance& service, std::chrono::milliseconds timeout,
                      ResolveCallback callback) override;

    // What is published now (handles alive), in order.
    std::vector<Published> published() const;
    // Publishing this name fails with a collision.
    void refuseName(const std::string& name);
    // Publishing it succeeds again.
    void acceptName(const std::string& name);
    // No daemon runs (a reason) or one runs again (nullopt): publications wait, and are told so,
    // until one does.
    void setUnavailable(std::optional<std::string> reason);
    std::optional<std::string> unavailableReason() const override;

    // Tells every browse of the service type about these services as one batch (or their removal).
    void announce(const std::vector<NetServiceInstance>& services);
    void withdraw(const std::vector<NetServiceInstance>& services);
    size_t browseCount() const;

    // What resolving a name answers: an address, or (not set) a failure.
    void setResolution(const std::string& name, ResolvedNetService resolved);
    void forgetResolution(const std::string& name);
    // How many times each name was asked to resolve.
    int resolveCount(const std::string& name) const;

private:
    struct Entry;
    void tell(const std::vector<NetServiceInstance>& services, bool found);
    std::shared_ptr<Entry> add(Published published, BrowseCallbacks browse);

    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Entry>> entries_;
    std::vector<std::string> refused_;
    std::optional<std::string> unavailable_;
    std::map<std::string, ResolvedNetService> resolutions_;
    std::map<std::string, int> resolveCounts_;
};

} // namespace platform

// DNS-SD service discovery: publish a service, browse for a type, resolve what was found.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// A service seen by a browse: its instance name, type and domain, and where it was first seen
// (interface index and address protocol as the discovery layer numbers them; -1 for any).
struct NetServiceInstance {
    std::string name;
    std::string type;
    std::string domain;
    int interfaceIndex = -1;
    int protocol = -1;
    bool operator==(const NetServiceInstance& other) const {
        return name == other.name && type == other.type && domain == other.domain;
    }
};

// Where a resolved service listens. `address` is a whole sockaddr_in or sockaddr_in6 with the
// port set (and, for a link-local IPv6 address, the scope of the interface it was found on):
// send to it. `otherAddresses` are the further addresses its host announces, written alike: a
// host with several answers from any of them. `hostName` is for people to read.
struct ResolvedNetService {
    NetServiceInstance service;
    std::string hostName;
    std::vector<std::uint8_t> address;
    std::uint16_t port = 0;
    std::vector<std::vector<std::uint8_t>> otherAddresses = {};
};

// Publishing, browsing and resolving. Every operation returns at once with a handle; destroying
// the handle withdraws the publication, ends the browse or abandons the resolution, and no
// callback of it starts afterwards on the main thread. Callbacks are posted to the dispatch main
// queue and never run inside the call that started the operation. Operations may be started and
// handles destroyed on any thread, from inside a callback too.
//
// A type is written "_name._udp." or "_name._udp"; an empty domain means the default ones.
class NetService {
public:
    class Handle {
    public:
        virtual ~Handle() = default;
    };
    using HandlePtr = std::unique_ptr<Handle>;
    static constexpr std::string_view nameInUseReason = "name collision";
    // The longest instance name DNS-SD carries (one DNS label), in UTF-8 bytes: fewer characters
    // where they are not ASCII. The daemon refuses a longer one.
    static constexpr std::size_t maxNameBytes = 63;

    struct PublishCallbacks {
        // Published; again after each wait (below) that ends.
        std::function<void()> didPublish;
        // The service could not be published: `reason` is nameInUseReason when another service
        // on the network has the name (it is never renamed).
        std::function<void(const std::string& reason)> didNotPublish;
        // Nothing on the network sees the service, for no discovery daemon runs (at the start, or
        // it went away): `reason` says why. didPublish follows when one runs again.
        std::function<void(const std::string& reason)> isWaiting;
    };
    struct BrowseCallbacks {
        // One call per instance name; `moreComing` while a batch the daemon knows of is not
        // through yet.
        std::function<void(const NetServiceInstance& service, bool moreComing)> didFind;
        std::function<void(const NetServiceInstance& service, bool moreComing)> didRemove;
    };
    using ResolveCallback =
        std::function<void(const std::optional<ResolvedNetService>& resolved, const std::string& error)>;

    virtual ~NetService() = default;

    // Publishes `name` of `type` at `port` on every interface. Without a running daemon the
    // publication waits for one (logged, and said through isWaiting), and is published again when
    // a daemon comes back.
    virtual HandlePtr publish(const std::string& name, const std::string& type, const std::string& domain,
                              std::uint16_t port, PublishCallbacks callbacks) = 0;
    virtual HandlePtr browse(const std::string& type, const std::string& domain,
                             BrowseCallbacks callbacks) = 0;
    // Resolves once: the callback gets the address (and the host's other addresses that turn up
    // within a short wait), or nullopt and the reason (also after `timeout`, or at once without a
    // daemon).
    virtual HandlePtr resolve(const NetServiceInstance& service, std::chrono::milliseconds timeout,
                              ResolveCallback callback) = 0;

    // Why nothing can be found or published now (no daemon, no system bus); nullopt while the
    // discovery works. Any thread.
    virtual std::optional<std::string> unavailableReason() const { return std::nullopt; }

    // The application's discovery over the Avahi daemon; made on first use and kept.
    static std::shared_ptr<NetService> shared();
    // A discovery of its own over the daemon, with its own connection (and its own first log).
    static std::shared_ptr<NetService> make();
};

// The type as the discovery daemon writes it: without the closing dot.
std::string netServiceTypeWithoutDot(const std::string& type);

} // namespace platform

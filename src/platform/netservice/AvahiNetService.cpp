// NetService over the Avahi client library, on a threaded poll of its own.
#include "platform/netservice/NetService.h"

#include "base/Log.h"
#include "dispatch/Queue.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-client/publish.h>
#include <avahi-common/error.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/timeval.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <list>
#include <map>
#include <mutex>
#include <utility>

namespace platform {

std::string netServiceTypeWithoutDot(const std::string& type) {
    return !type.empty() && type.back() == '.' ? type.substr(0, type.size() - 1) : type;
}

namespace {

const char* domainOrNull(const std::string& domain) {
    return domain.empty() ? nullptr : domain.c_str();
}

// A host announces a handful of addresses; more from the network are not kept.
constexpr size_t maxOtherAddresses = 16;

std::string avahiError(int error) {
    return avahi_strerror(error);
}

// Set to false when a handle goes: callbacks already posted then do nothing.
using Alive = std::shared_ptr<std::atomic<bool>>;

void postToMain(const Alive& alive, std::function<void()> call) {
    dispatch::mainQueue()->async([alive, call = std::move(call)] {
        if (alive->load()) {
            call();
        }
    });
}

std::vector<std::uint8_t> socketAddress(const AvahiAddress& address, std::uint16_t port,
                                        AvahiIfIndex interface) {
    if (address.proto == AVAHI_PROTO_INET) {
        sockaddr_in in{};
        in.sin_family = AF_INET;
        in.sin_port = htons(port);
        std::memcpy(&in.sin_addr, &address.data.ipv4.address, sizeof in.sin_addr);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&in);
        return {bytes, bytes + sizeof in};
    }
    sockaddr_in6 in6{};
    in6.sin6_family = AF_INET6;
    in6.sin6_port = htons(port);
    std::memcpy(&in6.sin6_addr, address.data.ipv6.address, sizeof in6.sin6_addr);
    // A link-local address means nothing without the interface it was seen on.
    if (IN6_IS_ADDR_LINKLOCAL(&in6.sin6_addr) && interface >= 0) {
        in6.sin6_scope_id = static_cast<uint32_t>(interface);
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&in6);
    return {bytes, bytes + sizeof in6};
}

class AvahiNetService;

struct Publication {
    std::string name, type, domain;
    std::uint16_t port = 0;
    NetService::PublishCallbacks callbacks;
    Alive alive = std::make_shared<std::atomic<bool>>(true);
    AvahiEntryGroup* group = nullptr;
};

struct Browse {
    std::string type, domain;
    NetService::BrowseCallbacks callbacks;
    Alive alive = std::make_shared<std::atomic<bool>>(true);
    AvahiServiceBrowser* browser = nullptr;
    // Instances by name, with how many interface and protocol pairs show each.
    std::map<std::string, std::pair<NetServiceInstance, int>> seen;
    // Events held back until the daemon says it told all it knows for now.
    std::vector<std::pair<bool, NetServiceInstance>> batch; // true: found
    bool allForNow = false;
};

struct Resolution {
    NetServiceInstance service;
    NetService::ResolveCallback callback;
    Alive alive = std::make_shared<std::atomic<bool>>(true);
    AvahiServiceResolver* resolver = nullptr;
    AvahiTimeout* timeout = nullptr;
    AvahiNetService* owner = nullptr;
    // Once the service is found: its host's address records (IPv4, IPv6) are browsed for its
    // other addresses until the daemon has told all it knows, or a short wait ends.
    std::optional<ResolvedNetService> found;
    std::array<AvahiRecordBrowser*, 2> addressBrowsers{};
};

// Every Avahi call runs with the poll's lock held: our own calls take it, the poll thread holds
// it while it runs callbacks. Callbacks go on to the main queue.
class AvahiNetService : public NetService, public std::enable_shared_from_this<AvahiNetService> {
public:
    AvahiNetService();
    ~AvahiNetService() override;

    HandlePtr publish(const std::string& name, const std::string& type, const std::string& domain,
                      std::uint16_t port, PublishCallbacks callbacks) override;
    HandlePtr browse(const std::string& type, const std::string& domain, BrowseCallbacks callbacks) override;
    HandlePtr resolve(const NetServiceInstance& service, std::chrono::milliseconds timeout,
                      ResolveCallback callback) override;
    std::optional<std::string> unavailableReason() const override {
        const std::lock_guard lock(reasonMutex_);
        return unavailable_;
    }

    // Handles end their entries through these.
    void withdraw(Publication* publication);
    void endBrowse(Browse* browse);
    void abandon(Resolution* resolution);

private:
    class Lock {
    public:
        explicit Lock(AvahiThreadedPoll* poll)
            : poll_(poll) {
            avahi_threaded_poll_lock(poll_);
        }
        ~Lock() { avahi_threaded_poll_unlock(poll_); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        AvahiThreadedPoll* poll_;
    };

    static void clientCallback(AvahiClient* client, AvahiClientState state, void* userdata);
    static void groupCallback(AvahiEntryGroup* group, AvahiEntryGroupState state, void* userdata);
    static void browseCallback(AvahiServiceBrowser* browser, AvahiIfIndex interface, AvahiProtocol protocol,
                               AvahiBrowserEvent event, const char* name, const char* type,
                               const char* domain, AvahiLookupResultFlags flags, void* userdata);
    static void resolveCallback(AvahiServiceResolver* resolver, AvahiIfIndex interface,
                                AvahiProtocol protocol, AvahiResolverEvent event, const char* name,
                                const char* type, const char* domain, const char* hostName,
                                const AvahiAddress* address, uint16_t port, AvahiStringList* txt,
                                AvahiLookupResultFlags flags, void* userdata);
    static void resolveTimedOut(AvahiTimeout* timeout, void* userdata);
    static void addressCallback(AvahiRecordBrowser* browser, AvahiIfIndex interface, AvahiProtocol protocol,
                                AvahiBrowserEvent event, const char* name, uint16_t clazz, uint16_t type,
                                const void* rdata, size_t size, AvahiLookupResultFlags flags, void* userdata);
    // Browses the found host's addresses; finishes the resolution at once when it cannot.
    void browseAddresses(Resolution& resolution, AvahiIfIndex interface);
    void freeAddressBrowsers(Resolution& resolution);
    static void restartClient(AvahiTimeout* timeout, void* userdata);

    void createClient();
    void daemonRunning();
    void daemonLost(const std::string& why);
    // Makes a new client after `milliseconds` (once, however often asked meanwhile).
    void scheduleRestart(unsigned milliseconds);
    void registerPublication(Publication& publication);
    // Tells the publication that nothing sees it until a daemon runs.
    void tellWaiting(const Publication& publication) const;
    void startBrowser(Browse& browse);
    void startResolver(Resolution& resolution, std::chrono::milliseconds timeout);
    void finishResolution(Resolution& resolution, std::optional<ResolvedNetService> resolved,
                          std::string error);
    static void deliver(Browse& browse, bool found, const NetServiceInstance& service, bool moreComing);
    bool isRunning() const {
        return client_ != nullptr && avahi_client_get_state(client_) == AVAHI_CLIENT_S_RUNNING;
    }

    AvahiThreadedPoll* poll_ = nullptr;
    AvahiClient* client_ = nullptr;
    bool wasRunning_ = false;
    bool loggedWaiting_ = false;
    bool loggedNoBus_ = false;
    bool restartPending_ = false;
    static constexpr unsigned busRetrySeconds = 5;
    std::list<std::unique_ptr<Publication>> publications_;
    std::list<std::unique_ptr<Browse>> browses_;
    // Why the daemon cannot be used now; set and cleared on the poll thread.
    mutable std::mutex reasonMutex_;
    std::optional<std::string> unavailable_ = std::string("the Avahi daemon has not answered yet");
    void setUnavailable(std::optional<std::string> reason) {
        const std::lock_guard lock(reasonMutex_);
        unavailable_ = std::move(reason);
    }
    std::list<std::unique_ptr<Resolution>> resolutions_;
};

template <class Entry, void (AvahiNetService::*end)(Entry*)> class EntryHandle : public NetService::Handle {
public:
    EntryHandle(std::shared_ptr<AvahiNetService> service, Entry* entry)
        : service_(std::move(service))
        , entry_(entry) {}
    ~EntryHandle() override { ((*service_).*end)(entry_); }

private:
    std::shared_ptr<AvahiNetService> service_;
    Entry* entry_;
};

AvahiNetService::AvahiNetService() {
    poll_ = avahi_threaded_poll_new();
    if (poll_ == nullptr) {
        base::fatal("DNS-SD: could not make the Avahi poll");
    }
    if (avahi_threaded_poll_start(poll_) < 0) {
        base::fatal("DNS-SD: could not start the Avahi poll thread");
    }
    // The client's bus connection takes libdbus's locks in the order of the thread it is made on;
    // made here outside the poll's lock, and closed later by the poll thread inside it, the two
    // orders cross. So every client call, this first one too, holds the poll's lock.
    Lock lock(poll_);
    createClient();
}

AvahiNetService::~AvahiNetService() {
    {
        Lock lock(poll_);
        if (client_ != nullptr) {
            avahi_client_free(client_);
            client_ = nullptr;
        }
    }
    avahi_threaded_poll_stop(poll_);
    avahi_threaded_poll_free(poll_);
}

void AvahiNetService::createClient() {
    int error = 0;
    AvahiClient* client =
        avahi_client_new(avahi_threaded_poll_get(poll_), AVAHI_CLIENT_NO_FAIL, clientCallback, this, &error);
    if (client == nullptr) {
        // No system bus at all (no daemon alone is no error with NO_FAIL): try again later.
        setUnavailable("the Avahi daemon cannot be reached (" + avahiError(error) + ")");
        if (!loggedNoBus_) {
            loggedNoBus_ = true;
            base::log("DNS-SD: cannot reach the Avahi daemon (" + avahiError(error) +
                      "); trying again every " + std::to_string(busRetrySeconds) + " s");
        }
        scheduleRestart(busRetrySeconds * 1000);
        return;
    }
    loggedNoBus_ = false;
    client_ = client;
}

void AvahiNetService::clientCallback(AvahiClient* client, AvahiClientState state, void* userdata) {
    auto* self = static_cast<AvahiNetService*>(userdata);
    self->client_ = client; // the first call comes before avahi_client_new returns
    switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
        self->daemonRunning();
        return;
    case AVAHI_CLIENT_S_COLLISION:
        base::log("DNS-SD: the host name of this computer collides with another one on the network");
        [[fallthrough]];
    case AVAHI_CLIENT_S_REGISTERING:
        // Services come back once the host name is settled again.
        for (auto& publication : self->publications_) {
            if (publication->group != nullptr) {
                avahi_entry_group_reset(publication->group);
            }
        }
        return;
    case AVAHI_CLIENT_CONNECTING:
        self->setUnavailable(std::string("the Avahi daemon is not running"));
        if (self->wasRunning_) {
            self->daemonLost("the daemon went away");
        } else if (!self->loggedWaiting_) {
            self->loggedWaiting_ = true;
            base::log("DNS-SD: the Avahi daemon is not running; services are published when it starts");
        }
        return;
    case AVAHI_CLIENT_FAILURE:
        self->setUnavailable("the Avahi daemon failed (" + avahiError(avahi_client_errno(client)) + ")");
        self->daemonLost(avahiError(avahi_client_errno(client)));
        return;
    }
}

void AvahiNetService::daemonRunning() {
    setUnavailable(std::nullopt);
    if (loggedWaiting_ || wasRunning_) {
        base::log("DNS-SD: the Avahi daemon is running");
    }
    wasRunning_ = true;
    loggedWaiting_ = false;
    for (auto& publication : publications_) {
        if (publication->group == nullptr) {
            registerPublication(*publication);
        } else if (avahi_entry_group_is_empty(publication->group)) {
            avahi_entry_group_free(publication->group);
            publication->group = nullptr;
            registerPublication(*publication);
        }
    }
    for (auto& browse : browses_) {
        if (browse->browser == nullptr) {
            startBrowser(*browse);
        }
    }
}

void AvahiNetService::daemonLost(const std::string& why) {
    base::log("DNS-SD: lost the Avahi daemon (" + why + "); waiting for it to come back");
    // Freeing the client frees everything made on it; do it outside its own callback.
    for (auto& publication : publications_) {
        publication->group = nullptr;
        tellWaiting(*publication);
    }
    for (auto& browse : browses_) {
        browse->browser = nullptr;
        browse->seen.clear();
        browse->batch.clear();
        browse->allForNow = false;
    }
    for (auto& resolution : resolutions_) {
        resolution->resolver = nullptr;
        resolution->addressBrowsers = {};
        resolution->found.reset();
        if (resolution->callback) {
            finishResolution(*resolution, std::nullopt, "the DNS-SD daemon went away");
        }
    }
    scheduleRestart(0);
}

void AvahiNetService::scheduleRestart(unsigned milliseconds) {
    if (restartPending_) {
        return;
    }
    restartPending_ = true;
    const AvahiPoll* api = avahi_threaded_poll_get(poll_);
    timeval when{};
    api->timeout_new(api, avahi_elapse_time(&when, milliseconds, 0), restartClient, this);
}

void AvahiNetService::restartClient(AvahiTimeout* timeout, void* userdata) {
    auto* self = static_cast<AvahiNetService*>(userdata);
    avahi_threaded_poll_get(self->poll_)->timeout_free(timeout);
    self->restartPending_ = false;
    if (self->client_ != nullptr) {
        avahi_client_free(self->client_);
        self->client_ = nullptr;
    }
    self->wasRunning_ = false;
    self->loggedWaiting_ = true; // already said that we wait
    self->createClient();
}

void AvahiNetService::registerPublication(Publication& publication) {
    publication.group = avahi_entry_group_new(client_, groupCallback, &publication);
    if (publication.group == nullptr) {
        const std::string reason = avahiError(avahi_client_errno(client_));
        base::log("DNS-SD: cannot publish \"" + publication.name + "\": " + reason);
        postToMain(publication.alive, [callback = publication.callbacks.didNotPublish, reason] {
            if (callback) {
                callback(reason);
            }
        });
        return;
    }
    int result = avahi_entry_group_add_service(publication.group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                               AvahiPublishFlags(0), publication.name.c_str(),
                                               publication.type.c_str(), domainOrNull(publication.domain),
                                               nullptr, publication.port, nullptr);
    if (result == 0) {
        result = avahi_entry_group_commit(publication.group);
    }
    if (result < 0) {
        const std::string reason =
            result == AVAHI_ERR_COLLISION ? std::string(nameInUseReason) : avahiError(result);
        base::log(result == AVAHI_ERR_COLLISION
                      ? "DNS-SD: the service name \"" + publication.name + "\" is already in use"
                      : "DNS-SD: cannot publish \"" + publication.name + "\": " + reason);
        postToMain(publication.alive, [callback = publication.callbacks.didNotPublish, reason] {
            if (callback) {
                callback(reason);
            }
        });
    }
}

void AvahiNetService::tellWaiting(const Publication& publication) const {
    const std::string reason = unavailableReason().value_or("the Avahi daemon is not running");
    postToMain(publication.alive, [callback = publication.callbacks.isWaiting, reason] {
        if (callback) {
            callback(reason);
        }
    });
}

void AvahiNetService::groupCallback(AvahiEntryGroup* group, AvahiEntryGroupState state, void* userdata) {
    auto* publication = static_cast<Publication*>(userdata);
    publication->group = group;
    switch (state) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED:
        postToMain(publication->alive, [callback = publication->callbacks.didPublish] {
            if (callback) {
                callback();
            }
        });
        return;
    case AVAHI_ENTRY_GROUP_COLLISION:
    case AVAHI_ENTRY_GROUP_FAILURE: {
        // Never renamed: the user chose the name.
        const bool collision = state == AVAHI_ENTRY_GROUP_COLLISION;
        const std::string reason = collision
                                       ? std::string(nameInUseReason)
                                       : avahiError(avahi_client_errno(avahi_entry_group_get_client(group)));
        base::log(collision ? "DNS-SD: the service name \"" + publication->name + "\" is already in use"
                            : "DNS-SD: publishing \"" + publication->name + "\" failed: " + reason);
        postToMain(publication->alive, [callback = publication->callbacks.didNotPublish, reason] {
            if (callback) {
                callback(reason);
            }
        });
        return;
    }
    case AVAHI_ENTRY_GROUP_UNCOMMITED:
    case AVAHI_ENTRY_GROUP_REGISTERING:
        return;
    }
}

NetService::HandlePtr AvahiNetService::publish(const std::string& name, const std::string& type,
                                               const std::string& domain, std::uint16_t port,
                                               PublishCallbacks callbacks) {
    auto entry = std::make_unique<Publication>();
    entry->name = name;
    entry->type = netServiceTypeWithoutDot(type);
    entry->domain = domain;
    entry->port = port;
    entry->callbacks = std::move(callbacks);
    Publication* publication = entry.get();
    {
        Lock lock(poll_);
        publications_.push_back(std::move(entry));
        if (isRunning()) {
            registerPublication(*publication);
        } else {
            tellWaiting(*publication);
        }
    }
    return std::make_unique<EntryHandle<Publication, &AvahiNetService::withdraw>>(shared_from_this(),
                                                                                  publication);
}

void AvahiNetService::withdraw(Publication* publication) {
    Lock lock(poll_);
    publication->alive->store(false);
    if (publication->group != nullptr) {
        avahi_entry_group_free(publication->group);
    }
    publications_.remove_if([&](const auto& entry) { return entry.get() == publication; });
}

void AvahiNetService::startBrowser(Browse& browse) {
    browse.browser =
        avahi_service_browser_new(client_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, browse.type.c_str(),
                                  domainOrNull(browse.domain), AvahiLookupFlags(0), browseCallback, &browse);
    if (browse.browser == nullptr) {
        base::log("DNS-SD: cannot browse for " + browse.type + ": " +
                  avahiError(avahi_client_errno(client_)));
    }
}

void AvahiNetService::deliver(Browse& browse, bool found, const NetServiceInstance& service,
                              bool moreComing) {
    auto callback = found ? browse.callbacks.didFind : browse.callbacks.didRemove;
    postToMain(browse.alive, [callback, service, moreComing] {
        if (callback) {
            callback(service, moreComing);
        }
    });
}

void AvahiNetService::browseCallback(AvahiServiceBrowser* browser, AvahiIfIndex interface,
                                     AvahiProtocol protocol, AvahiBrowserEvent event, const char* name,
                                     const char* type, const char* domain, AvahiLookupResultFlags,
                                     void* userdata) {
    auto* browse = static_cast<Browse*>(userdata);
    browse->browser = browser;
    switch (event) {
    case AVAHI_BROWSER_NEW:
    case AVAHI_BROWSER_REMOVE: {
        const bool found = event == AVAHI_BROWSER_NEW;
        auto& [instance, count] = browse->seen[name];
        if (found && count++ > 0) {
            return; // the same service on one more interface or protocol
        }
        if (!found && (count == 0 || --count > 0)) {
            if (count == 0) {
                browse->seen.erase(name);
            }
            return;
        }
        if (found) {
            instance = NetServiceInstance{name, type, domain, interface, protocol};
        }
        const NetServiceInstance service = instance;
        if (!found) {
            browse->seen.erase(name);
        }
        if (!browse->allForNow) {
            browse->batch.emplace_back(found, service);
            return;
        }
        deliver(*browse, found, service, false);
        return;
    }
    case AVAHI_BROWSER_ALL_FOR_NOW: {
        browse->allForNow = true;
        const auto batch = std::exchange(browse->batch, {});
        for (size_t i = 0; i < batch.size(); ++i) {
            deliver(*browse, batch[i].first, batch[i].second, i + 1 < batch.size());
        }
        return;
    }
    case AVAHI_BROWSER_FAILURE:
        base::log("DNS-SD: browsing for " + browse->type +
                  " failed: " + avahiError(avahi_client_errno(avahi_service_browser_get_client(browser))));
        return;
    case AVAHI_BROWSER_CACHE_EXHAUSTED:
        return;
    }
}

NetService::HandlePtr AvahiNetService::browse(const std::string& type, const std::string& domain,
                                              BrowseCallbacks callbacks) {
    auto entry = std::make_unique<Browse>();
    entry->type = netServiceTypeWithoutDot(type);
    entry->domain = domain;
    entry->callbacks = std::move(callbacks);
    Browse* browse = entry.get();
    {
        Lock lock(poll_);
        browses_.push_back(std::move(entry));
        if (isRunning()) {
            startBrowser(*browse);
        }
    }
    return std::make_unique<EntryHandle<Browse, &AvahiNetService::endBrowse>>(shared_from_this(), browse);
}

void AvahiNetService::endBrowse(Browse* browse) {
    Lock lock(poll_);
    browse->alive->store(false);
    if (browse->browser != nullptr) {
        avahi_service_browser_free(browse->browser);
    }
    browses_.remove_if([&](const auto& entry) { return entry.get() == browse; });
}

void AvahiNetService::finishResolution(Resolution& resolution, std::optional<ResolvedNetService> resolved,
                                       std::string error) {
    if (resolution.resolver != nullptr) {
        avahi_service_resolver_free(resolution.resolver);
        resolution.resolver = nullptr;
    }
    if (resolution.timeout != nullptr) {
        avahi_threaded_poll_get(poll_)->timeout_free(resolution.timeout);
        resolution.timeout = nullptr;
    }
    freeAddressBrowsers(resolution);
    auto callback = std::exchange(resolution.callback, nullptr);
    postToMain(resolution.alive, [callback, resolved = std::move(resolved), error = std::move(error)] {
        if (callback) {
            callback(resolved, error);
        }
    });
}

void AvahiNetService::resolveCallback(AvahiServiceResolver* resolver, AvahiIfIndex interface, AvahiProtocol,
                                      AvahiResolverEvent event, const char*, const char*, const char*,
                                      const char* hostName, const AvahiAddress* address, uint16_t port,
                                      AvahiStringList*, AvahiLookupResultFlags, void* userdata) {
    auto* resolution = static_cast<Resolution*>(userdata);
    resolution->resolver = resolver;
    if (!resolution->callback) {
        return;
    }
    if (event != AVAHI_RESOLVER_FOUND || address == nullptr) {
        const std::string reason =
            avahiError(avahi_client_errno(avahi_service_resolver_get_client(resolver)));
        resolution->owner->finishResolution(*resolution, std::nullopt, reason);
        return;
    }
    ResolvedNetService resolved;
    resolved.service = resolution->service;
    resolved.hostName = hostName != nullptr ? hostName : "";
    resolved.port = port;
    resolved.address = socketAddress(*address, port, interface);
    if (resolution->found) {
        return; // found again on another interface while its addresses are looked up
    }
    resolution->found = std::move(resolved);
    resolution->owner->browseAddresses(*resolution, interface);
}

void AvahiNetService::resolveTimedOut(AvahiTimeout*, void* userdata) {
    auto* resolution = static_cast<Resolution*>(userdata);
    if (resolution->callback) {
        // Found, but not all its addresses told in time: what is known serves.
        auto found = std::exchange(resolution->found, std::nullopt);
        const bool wasFound = found.has_value();
        resolution->owner->finishResolution(*resolution, std::move(found), wasFound ? "" : "timed out");
    }
}

void AvahiNetService::browseAddresses(Resolution& resolution, AvahiIfIndex interface) {
    // The service's own record is in hand: a host that tells no more addresses within this wait
    // is taken as it was found.
    constexpr unsigned addressWaitMs = 1500;
    if (resolution.resolver != nullptr) {
        avahi_service_resolver_free(resolution.resolver);
        resolution.resolver = nullptr;
    }
    const std::string host = resolution.found->hostName;
    const uint16_t types[] = {AVAHI_DNS_TYPE_A, AVAHI_DNS_TYPE_AAAA};
    for (size_t i = 0; i < resolution.addressBrowsers.size(); ++i) {
        resolution.addressBrowsers[i] =
            host.empty() ? nullptr
                         : avahi_record_browser_new(client_, interface, AVAHI_PROTO_UNSPEC, host.c_str(),
                                                    AVAHI_DNS_CLASS_IN, types[i], AvahiLookupFlags(0),
                                                    addressCallback, &resolution);
    }
    if (resolution.addressBrowsers[0] == nullptr && resolution.addressBrowsers[1] == nullptr) {
        finishResolution(resolution, std::exchange(resolution.found, std::nullopt), {});
        return;
    }
    const AvahiPoll* api = avahi_threaded_poll_get(poll_);
    if (resolution.timeout != nullptr) {
        api->timeout_free(resolution.timeout);
    }
    timeval when{};
    resolution.timeout =
        api->timeout_new(api, avahi_elapse_time(&when, addressWaitMs, 0), resolveTimedOut, &resolution);
}

void AvahiNetService::freeAddressBrowsers(Resolution& resolution) {
    for (auto& browser : resolution.addressBrowsers) {
        if (browser != nullptr) {
            avahi_record_browser_free(browser);
            browser = nullptr;
        }
    }
}

void AvahiNetService::addressCallback(AvahiRecordBrowser* browser, AvahiIfIndex interface, AvahiProtocol,
                                      AvahiBrowserEvent event, const char*, uint16_t, uint16_t type,
                                      const void* rdata, size_t size, AvahiLookupResultFlags,
                                      void* userdata) {
    auto* resolution = static_cast<Resolution*>(userdata);
    if (!resolution->callback || !resolution->found) {
        return;
    }
    ResolvedNetService& found = *resolution->found;
    switch (event) {
    case AVAHI_BROWSER_NEW: {
        AvahiAddress address{};
        if (type == AVAHI_DNS_TYPE_A && size == sizeof address.data.ipv4.address) {
            address.proto = AVAHI_PROTO_INET;
            std::memcpy(&address.data.ipv4.address, rdata, size);
        } else if (type == AVAHI_DNS_TYPE_AAAA && size == sizeof address.data.ipv6.address) {
            address.proto = AVAHI_PROTO_INET6;
            std::memcpy(address.data.ipv6.address, rdata, size);
        } else {
            return;
        }
        auto bytes = socketAddress(address, found.port, interface);
        if (bytes != found.address &&
            std::find(found.otherAddresses.begin(), found.otherAddresses.end(), bytes) ==
                found.otherAddresses.end() &&
            found.otherAddresses.size() < maxOtherAddresses) {
            found.otherAddresses.push_back(std::move(bytes));
        }
        return;
    }
    case AVAHI_BROWSER_ALL_FOR_NOW:
    case AVAHI_BROWSER_FAILURE:
        for (auto& mine : resolution->addressBrowsers) {
            if (mine == browser) {
                avahi_record_browser_free(mine);
                mine = nullptr;
            }
        }
        if (resolution->addressBrowsers[0] == nullptr && resolution->addressBrowsers[1] == nullptr) {
            resolution->owner->finishResolution(*resolution, std::exchange(resolution->found, std::nullopt),
                                                {});
        }
        return;
    case AVAHI_BROWSER_REMOVE:
    case AVAHI_BROWSER_CACHE_EXHAUSTED:
        return;
    }
}

void AvahiNetService::startResolver(Resolution& resolution, std::chrono::milliseconds timeout) {
    if (!isRunning()) {
        finishResolution(resolution, std::nullopt, "the DNS-SD daemon is not running");
        return;
    }
    const auto& service = resolution.service;
    resolution.resolver = avahi_service_resolver_new(
        client_, service.interfaceIndex < 0 ? AVAHI_IF_UNSPEC : service.interfaceIndex,
        service.protocol < 0 ? AVAHI_PROTO_UNSPEC : service.protocol, service.name.c_str(),
        netServiceTypeWithoutDot(service.type).c_str(), domainOrNull(service.domain), AVAHI_PROTO_UNSPEC,
        AvahiLookupFlags(0), resolveCallback, &resolution);
    if (resolution.resolver == nullptr) {
        finishResolution(resolution, std::nullopt, avahiError(avahi_client_errno(client_)));
        return;
    }
    const AvahiPoll* api = avahi_threaded_poll_get(poll_);
    timeval when{};
    resolution.timeout =
        api->timeout_new(api, avahi_elapse_time(&when, static_cast<unsigned>(timeout.count()), 0),
                         resolveTimedOut, &resolution);
}

NetService::HandlePtr AvahiNetService::resolve(const NetServiceInstance& service,
                                               std::chrono::milliseconds timeout, ResolveCallback callback) {
    auto entry = std::make_unique<Resolution>();
    entry->service = service;
    entry->callback = std::move(callback);
    entry->owner = this;
    Resolution* resolution = entry.get();
    {
        Lock lock(poll_);
        resolutions_.push_back(std::move(entry));
        startResolver(*resolution, timeout);
    }
    return std::make_unique<EntryHandle<Resolution, &AvahiNetService::abandon>>(shared_from_this(),
                                                                                resolution);
}

void AvahiNetService::abandon(Resolution* resolution) {
    Lock lock(poll_);
    resolution->alive->store(false);
    resolution->callback = nullptr;
    if (resolution->resolver != nullptr) {
        avahi_service_resolver_free(resolution->resolver);
    }
    if (resolution->timeout != nullptr) {
        avahi_threaded_poll_get(poll_)->timeout_free(resolution->timeout);
    }
    freeAddressBrowsers(*resolution);
    resolutions_.remove_if([&](const auto& entry) { return entry.get() == resolution; });
}

} // namespace

std::shared_ptr<NetService> NetService::make() {
    return std::make_shared<AvahiNetService>();
}

std::shared_ptr<NetService> NetService::shared() {
    static const std::shared_ptr<NetService> service = make();
    return service;
}

} // namespace platform

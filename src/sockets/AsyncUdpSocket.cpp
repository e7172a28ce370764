#include "sockets/AsyncUdpSocket.h"

#include "base/Log.h"
#include "dispatch/Source.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace sockets {

// Default delegate methods: every callback is optional.
void AsyncUdpSocketDelegate::udpSocketDidConnectToAddress(AsyncUdpSocket&, const Address&) {}
void AsyncUdpSocketDelegate::udpSocketDidNotConnect(AsyncUdpSocket&, const SocketError&) {}
void AsyncUdpSocketDelegate::udpSocketDidSendDataWithTag(AsyncUdpSocket&, long) {}
void AsyncUdpSocketDelegate::udpSocketDidNotSendDataWithTag(AsyncUdpSocket&, long, const SocketError&) {}
void AsyncUdpSocketDelegate::udpSocketDidReceiveData(AsyncUdpSocket&, const Data&, const Address&,
                                                     const FilterContext&) {}
void AsyncUdpSocketDelegate::udpSocketDidClose(AsyncUdpSocket&, const std::optional<SocketError>&) {}

// One queued datagram, or a connect request travelling through the send queue.
struct AsyncUdpSocket::SendPacket {
    bool isConnect = false;
    Data buffer;
    double timeout = -1.0; // negative: no time-out
    long tag = 0;
    bool hostGiven = false; // the caller named a host (refused on a connected socket)
    bool resolveInProgress = false;
    bool filterInProgress = false;
    std::vector<Address> resolvedAddresses;
    std::optional<SocketError> resolveError;
    Address address;
    int addressFamily = 0;
};

// Datagrams read but not yet delivered. The socket queue adds and stops reading at a bound; the
// delegate queue takes deliveries off (the socket queue takes off datagrams that never reach
// the delegate) and, when a stopped backlog has drained to half its bounds, restarts reading.
struct AsyncUdpSocket::Backlog {
    std::atomic<size_t> datagrams{0};
    std::atomic<size_t> bytes{0};
    std::atomic<size_t> maxDatagrams{kDefaultMaxReceiveBacklog.datagrams};
    std::atomic<size_t> maxBytes{kDefaultMaxReceiveBacklog.bytes};
    std::atomic<bool> paused{false};
    std::weak_ptr<AsyncUdpSocket> socket; // set by make(), only read after
    dispatch::QueuePtr socketQueue;

    bool isFull() const { return datagrams >= maxDatagrams || bytes >= maxBytes; }
    bool isDrained() const { return datagrams <= maxDatagrams / 2 && bytes <= maxBytes / 2; }
    void add(size_t size) {
        datagrams += 1;
        bytes += size;
    }
    void release(size_t size) {
        datagrams -= 1;
        bytes -= size;
        // Whoever clears `paused` restarts reading; the socket queue re-checks after setting it.
        if (paused.load() && isDrained() && paused.exchange(false)) {
            socketQueue->async([weak = socket] {
                if (auto self = weak.lock()) {
                    self->doReceive();
                }
            });
        }
    }
};

namespace {

// Socket state bits.
constexpr uint32_t kFlagSocketsCreated = 0x1;
constexpr uint32_t kFlagBound = 0x2;
constexpr uint32_t kFlagConnecting = 0x4;
constexpr uint32_t kFlagConnected = 0x8;
constexpr uint32_t kFlagReceiveOnce = 0x10;
constexpr uint32_t kFlagReceiveContinuous = 0x20;
constexpr uint32_t kFlagIPv4Deactivated = 0x40;
constexpr uint32_t kFlagIPv6Deactivated = 0x80;
constexpr uint32_t kFlagSend4SourceSuspended = 0x100;
constexpr uint32_t kFlagSend6SourceSuspended = 0x200;
constexpr uint32_t kFlagReceive4SourceSuspended = 0x400;
constexpr uint32_t kFlagReceive6SourceSuspended = 0x800;
constexpr uint32_t kFlagCloseAfterSends = 0x8000;
constexpr uint32_t kFlagReceiveFlipFlop = 0x10000;

// Configuration bits; they survive a close.
constexpr uint16_t kConfigIPv4Disabled = 0x1;
constexpr uint16_t kConfigIPv6Disabled = 0x2;
constexpr uint16_t kConfigPreferIPv4 = 0x4;
constexpr uint16_t kConfigPreferIPv6 = 0x8;

constexpr socklen_t kSize4 = sizeof(sockaddr_in);  // 16
constexpr socklen_t kSize6 = sizeof(sockaddr_in6); // 28

const char* const kUnknownInterface =
    "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.";
const char* const kHostNil = "The host param is nil. Should be domain name or IP address string.";
const char* const kSetsockoptFailed = "Error in setsockopt() function";

SocketError udpError(int code, std::string message) {
    return SocketError{kUdpSocketErrorDomain, code, std::move(message), {}};
}
SocketError badConfigError(std::string message) {
    return udpError(1, std::move(message));
}
SocketError badParamError(std::string message) {
    return udpError(2, std::move(message));
}
SocketError sendTimeoutError() {
    return udpError(3, "Send operation timed out");
}
SocketError otherError(std::string message) {
    return udpError(5, std::move(message));
}

// Stores the error when the caller asked for it; answers false for `return fail(...)`.
bool fail(SocketError* out, SocketError error) {
    if (out != nullptr) {
        *out = std::move(error);
    }
    return false;
}

template <class T> Address bytesOf(const T& address) {
    const auto* p = reinterpret_cast<const uint8_t*>(&address);
    return Address(p, p + sizeof(T));
}

Address makeAddress4(in_addr addr, uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr = addr;
    return bytesOf(sa);
}

Address makeAddress6(const in6_addr& addr, uint16_t port) {
    sockaddr_in6 sa{};
    sa.sin6_family = AF_INET6;
    sa.sin6_port = htons(port);
    sa.sin6_addr = addr;
    return bytesOf(sa);
}

Address loopback4(uint16_t port) {
    in_addr a{};
    a.s_addr = htonl(INADDR_LOOPBACK);
    return makeAddress4(a, port);
}

void setPort(Address& address, uint16_t port) {
    const uint16_t net = htons(port);
    std::memcpy(address.data() + 2, &net, sizeof net); // sin_port and sin6_port share offset 2
}

// Turns an interface description into an IPv4 and an IPv6 address (either may stay empty): none
// gives the wildcard addresses, "localhost" and "loopback" the loopback ones, anything else the
// first interface address whose interface name or address text matches.
void convertInterfaceDescription(const std::optional<std::string>& description, uint16_t port, Address* a4,
                                 Address* a6) {
    a4->clear();
    a6->clear();
    if (!description) {
        in_addr any{};
        any.s_addr = htonl(INADDR_ANY);
        *a4 = makeAddress4(any, port);
        *a6 = makeAddress6(in6addr_any, port);
        return;
    }
    if (*description == "localhost" || *description == "loopback") {
        *a4 = loopback4(port);
        *a6 = makeAddress6(in6addr_loopback, port);
        return;
    }
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return;
    }
    for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr) {
            continue;
        }
        if (i->ifa_addr->sa_family == AF_INET && a4->empty()) {
            const auto* sa = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
            char text[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &sa->sin_addr, text, sizeof text);
            if (*description == i->ifa_name || *description == text) {
                *a4 = makeAddress4(sa->sin_addr, port);
            }
        } else if (i->ifa_addr->sa_family == AF_INET6 && a6->empty()) {
            const auto* sa = reinterpret_cast<const sockaddr_in6*>(i->ifa_addr);
            char text[INET6_ADDRSTRLEN] = {};
            inet_ntop(AF_INET6, &sa->sin6_addr, text, sizeof text);
            if (*description == i->ifa_name || *description == text) {
                Address a = bytesOf(*sa);
                setPort(a, port);
                *a6 = std::move(a);
            }
        }
    }
    freeifaddrs(list);
}

// A numeric group address: no name lookup ever happens here.
void convertNumericHost(const std::string& host, uint16_t port, Address* a4, Address* a6) {
    a4->clear();
    a6->clear();
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    addrinfo* result = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &result) != 0) {
        return;
    }
    for (addrinfo* r = result; r != nullptr; r = r->ai_next) {
        const auto* p = reinterpret_cast<const uint8_t*>(r->ai_addr);
        if (r->ai_family == AF_INET && a4->empty()) {
            a4->assign(p, p + kSize4);
        } else if (r->ai_family == AF_INET6 && a6->empty()) {
            a6->assign(p, p + kSize6);
        }
    }
    freeaddrinfo(result);
}

// The index of the interface that carries this IPv6 address, 0 when none does.
unsigned indexOfInterfaceAddr6(const Address& address) {
    if (address.size() != kSize6) {
        return 0;
    }
    sockaddr_in6 wanted{};
    std::memcpy(&wanted, address.data(), kSize6);
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return 0;
    }
    unsigned index = 0;
    for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr != nullptr && i->ifa_addr->sa_family == AF_INET6) {
            const auto* sa = reinterpret_cast<const sockaddr_in6*>(i->ifa_addr);
            if (std::memcmp(&sa->sin6_addr, &wanted.sin6_addr, sizeof(in6_addr)) == 0) {
                index = if_nametoindex(i->ifa_name);
                break;
            }
        }
    }
    freeifaddrs(list);
    return index;
}

using ResolveCompletion = std::function<void(std::vector<Address>, std::optional<SocketError>)>;

// Resolves on a global queue and calls `completion` on the socket queue. "localhost" and
// "loopback" answer 127.0.0.1 and ::1 without asking the resolver.
void asyncResolveHost(const std::string& host, uint16_t port, const dispatch::QueuePtr& socketQueue,
                      ResolveCompletion completion) {
    if (host.empty()) {
        socketQueue->async([completion = std::move(completion)] { completion({}, badParamError(kHostNil)); });
        return;
    }
    dispatch::globalQueue()->async([host, port, socketQueue, completion = std::move(completion)] {
        std::vector<Address> addresses;
        std::optional<SocketError> error;
        if (host == "localhost" || host == "loopback") {
            addresses.push_back(loopback4(port));
            addresses.push_back(makeAddress6(in6addr_loopback, port));
        } else {
            addrinfo hints{};
            hints.ai_family = AF_UNSPEC;
            hints.ai_socktype = SOCK_DGRAM;
            hints.ai_protocol = IPPROTO_UDP;
            addrinfo* result = nullptr;
            const int gai = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &result);
            if (gai != 0) {
                error = SocketError::fromGai(gai);
            } else {
                for (addrinfo* r = result; r != nullptr; r = r->ai_next) {
                    const auto* p = reinterpret_cast<const uint8_t*>(r->ai_addr);
                    if (r->ai_family == AF_INET) {
                        addresses.emplace_back(p, p + kSize4);
                    } else if (r->ai_family == AF_INET6) {
                        Address a(p, p + kSize6);
                        if (AsyncUdpSocket::portFromAddress(a) == 0) {
                            setPort(a, port);
                        }
                        addresses.push_back(std::move(a));
                    }
                }
                freeaddrinfo(result);
                if (addresses.empty()) {
                    error = SocketError::fromGai(EAI_FAIL);
                }
            }
        }
        socketQueue->async(
            [completion, addresses = std::move(addresses), error = std::move(error)]() mutable {
                completion(std::move(addresses), std::move(error));
            });
    });
}

// One non-blocking datagram socket; -1 and the error of the failing step otherwise.
int createSocket(int domain, int bufferSize, SocketError* error) {
    const int fd = ::socket(domain, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        fail(error, SocketError::fromErrno("Error in socket() function"));
        return -1;
    }
    auto failed = [&](const char* reason) {
        const int saved = errno;
        ::close(fd);
        fail(error, SocketError::fromErrno(saved, reason));
        return -1;
    };
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        return failed("Error enabling non-blocking IO on socket (fcntl)");
    }
    // No SO_REUSEADDR: on Linux it would let a second socket take the same unicast port silently.
    // SIGPIPE is avoided per send (MSG_NOSIGNAL).
    const int on = 1;
    if (domain == AF_INET6 && setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0) {
        return failed("Error enabling IPv6-only (setsockopt)"); // else the IPv4 twin's port clashes
    }
    if (setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bufferSize, sizeof bufferSize) != 0) {
        return failed("Error setting send buffer size (setsockopt)");
    }
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bufferSize, sizeof bufferSize) != 0) {
        return failed("Error setting receive buffer size (setsockopt)");
    }
    (void)setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on); // drop counts only: optional
    return fd;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Construction, queue discipline

std::shared_ptr<AsyncUdpSocket> AsyncUdpSocket::make(std::weak_ptr<AsyncUdpSocketDelegate> delegate,
                                                     dispatch::QueuePtr delegateQueue,
                                                     dispatch::QueuePtr socketQueue) {
    if (socketQueue && socketQueue->kind() == dispatch::Queue::Kind::concurrent) {
        base::fatal("The given socketQueue parameter must not be a concurrent queue.");
    }
    std::shared_ptr<AsyncUdpSocket> socket(
        new AsyncUdpSocket(std::move(delegate), std::move(delegateQueue), std::move(socketQueue)));
    socket->backlog_->socket = socket;
    return socket;
}

AsyncUdpSocket::AsyncUdpSocket(std::weak_ptr<AsyncUdpSocketDelegate> delegate,
                               dispatch::QueuePtr delegateQueue, dispatch::QueuePtr socketQueue)
    : inbox_(std::make_shared<SendInbox>())
    , delegate_(std::move(delegate))
    , delegateQueue_(std::move(delegateQueue))
    , socketQueue_(socketQueue ? std::move(socketQueue) : dispatch::Queue::makeSerial("AsyncUdpSocket"))
    , backlog_(std::make_shared<Backlog>()) {
    backlog_->socketQueue = socketQueue_;
    socketQueue_->setSpecific(&isOnSocketQueueOrTargetQueueKey_, this);
}

AsyncUdpSocket::~AsyncUdpSocket() {
    auto closeSilently = [this] { closeWithError(std::nullopt, /*notify=*/false); };
    if (onSocketQueue()) {
        closeSilently();
    } else {
        socketQueue_->sync(closeSilently);
        socketQueue_->sync([] {}); // the sources' cancel handlers close the descriptors: wait for them
    }
    socketQueue_->setSpecific(&isOnSocketQueueOrTargetQueueKey_, nullptr);
}

bool AsyncUdpSocket::onSocketQueue() const {
    return dispatch::currentSpecific(&isOnSocketQueueOrTargetQueueKey_) == this;
}

template <class F> auto AsyncUdpSocket::onQueueSync(F&& f) const {
    if (onSocketQueue()) {
        return f();
    }
    return socketQueue_->sync(f);
}

void AsyncUdpSocket::onQueueAsync(std::function<void(AsyncUdpSocket&)> f) {
    if (onSocketQueue()) {
        f(*this);
        return;
    }
    sealQueuedEntries(); // datagrams handed over before this call go first
    socketQueue_->async([weak = weak_from_this(), f = std::move(f)] {
        if (auto self = weak.lock()) {
            f(*self);
        }
    });
}

void AsyncUdpSocket::performBlock(const std::function<void()>& block) {
    onQueueSync([&] { block(); });
}

// ---------------------------------------------------------------------------------------------
// Accessors

std::shared_ptr<AsyncUdpSocketDelegate> AsyncUdpSocket::delegate() const {
    return onQueueSync([this] { return delegate_.lock(); });
}

dispatch::QueuePtr AsyncUdpSocket::delegateQueue() const {
    return onQueueSync([this] { return delegateQueue_; });
}

std::pair<std::shared_ptr<AsyncUdpSocketDelegate>, dispatch::QueuePtr>
AsyncUdpSocket::delegateAndQueue() const {
    return onQueueSync([this] { return std::make_pair(delegate_.lock(), delegateQueue_); });
}

void AsyncUdpSocket::setDelegate(std::weak_ptr<AsyncUdpSocketDelegate> delegate, SetMode mode) {
    if (mode == SetMode::synchronously) {
        onQueueSync([&] { delegate_ = std::move(delegate); });
        return;
    }
    onQueueAsync([delegate](AsyncUdpSocket& s) { s.delegate_ = delegate; });
}

void AsyncUdpSocket::setDelegateQueue(dispatch::QueuePtr queue, SetMode mode) {
    if (mode == SetMode::synchronously) {
        onQueueSync([&] { delegateQueue_ = std::move(queue); });
        return;
    }
    onQueueAsync([queue](AsyncUdpSocket& s) { s.delegateQueue_ = queue; });
}

void AsyncUdpSocket::setDelegate(std::weak_ptr<AsyncUdpSocketDelegate> delegate, dispatch::QueuePtr queue,
                                 SetMode mode) {
    if (mode == SetMode::synchronously) {
        onQueueSync([&] {
            delegate_ = std::move(delegate);
            delegateQueue_ = std::move(queue);
        });
        return;
    }
    onQueueAsync([delegate, queue](AsyncUdpSocket& s) {
        s.delegate_ = delegate;
        s.delegateQueue_ = queue;
    });
}

bool AsyncUdpSocket::isIPv4Enabled() const {
    return onQueueSync([this] { return (config_ & kConfigIPv4Disabled) == 0; });
}

void AsyncUdpSocket::setIPv4Enabled(bool enabled) {
    onQueueAsync([enabled](AsyncUdpSocket& s) {
        s.config_ = enabled ? (s.config_ & ~kConfigIPv4Disabled) : (s.config_ | kConfigIPv4Disabled);
    });
}

bool AsyncUdpSocket::isIPv6Enabled() const {
    return onQueueSync([this] { return (config_ & kConfigIPv6Disabled) == 0; });
}

void AsyncUdpSocket::setIPv6Enabled(bool enabled) {
    onQueueAsync([enabled](AsyncUdpSocket& s) {
        s.config_ = enabled ? (s.config_ & ~kConfigIPv6Disabled) : (s.config_ | kConfigIPv6Disabled);
    });
}

bool AsyncUdpSocket::isIPv4Preferred() const {
    return onQueueSync([this] { return (config_ & kConfigPreferIPv4) != 0; });
}

bool AsyncUdpSocket::isIPv6Preferred() const {
    return onQueueSync([this] { return (config_ & kConfigPreferIPv6) != 0; });
}

bool AsyncUdpSocket::isIPVersionNeutral() const {
    return onQueueSync([this] { return (config_ & (kConfigPreferIPv4 | kConfigPreferIPv6)) == 0; });
}

void AsyncUdpSocket::setPreferIPv4() {
    onQueueAsync([](AsyncUdpSocket& s) { s.config_ = (s.config_ | kConfigPreferIPv4) & ~kConfigPreferIPv6; });
}

void AsyncUdpSocket::setPreferIPv6() {
    onQueueAsync([](AsyncUdpSocket& s) { s.config_ = (s.config_ | kConfigPreferIPv6) & ~kConfigPreferIPv4; });
}

void AsyncUdpSocket::setIPVersionNeutral() {
    onQueueAsync([](AsyncUdpSocket& s) { s.config_ &= ~(kConfigPreferIPv4 | kConfigPreferIPv6); });
}

uint16_t AsyncUdpSocket::maxReceiveIPv4BufferSize() const {
    return onQueueSync([this] { return max4ReceiveSize_; });
}

void AsyncUdpSocket::setMaxReceiveIPv4BufferSize(uint16_t size) {
    onQueueAsync([size](AsyncUdpSocket& s) { s.max4ReceiveSize_ = size; });
}

uint32_t AsyncUdpSocket::maxReceiveIPv6BufferSize() const {
    return onQueueSync([this] { return max6ReceiveSize_; });
}

void AsyncUdpSocket::setMaxReceiveIPv6BufferSize(uint32_t size) {
    onQueueAsync([size](AsyncUdpSocket& s) { s.max6ReceiveSize_ = size; });
}

uint16_t AsyncUdpSocket::maxSendBufferSize() const {
    return onQueueSync([this] { return maxSendSize_; });
}

void AsyncUdpSocket::setMaxSendBufferSize(uint16_t size) {
    onQueueAsync([size](AsyncUdpSocket& s) { s.maxSendSize_ = size; });
}

AsyncUdpSocket::ReceiveBacklog AsyncUdpSocket::maxReceiveBacklog() const {
    return onQueueSync([this] { return ReceiveBacklog{backlog_->maxDatagrams, backlog_->maxBytes}; });
}

void AsyncUdpSocket::setMaxReceiveBacklog(ReceiveBacklog bound) {
    onQueueAsync([bound](AsyncUdpSocket& s) {
        s.backlog_->maxDatagrams = std::max<size_t>(bound.datagrams, 1);
        s.backlog_->maxBytes = std::max<size_t>(bound.bytes, 1);
    });
}

AsyncUdpSocket::ReceiveBacklog AsyncUdpSocket::receiveBacklog() const {
    return ReceiveBacklog{backlog_->datagrams, backlog_->bytes}; // a moment's view from any thread
}

uint64_t AsyncUdpSocket::receiveBacklogPauseCount() const {
    return onQueueSync([this] { return backlogPauses_; });
}

uint64_t AsyncUdpSocket::droppedDatagramCount() const {
    return onQueueSync([this] { return droppedDatagrams_; });
}

std::shared_ptr<void> AsyncUdpSocket::userData() const {
    return onQueueSync([this] { return userData_; });
}

void AsyncUdpSocket::setUserData(std::shared_ptr<void> data) {
    onQueueAsync([data = std::move(data)](AsyncUdpSocket& s) {
        if (s.userData_ != data) {
            s.userData_ = data;
        }
    });
}

bool AsyncUdpSocket::isConnected() const {
    return onQueueSync([this] { return (flags_ & kFlagConnected) != 0; });
}

bool AsyncUdpSocket::isClosed() const {
    return onQueueSync([this] { return (flags_ & kFlagSocketsCreated) == 0; });
}

bool AsyncUdpSocket::isIPv4() const {
    return onQueueSync([this] {
        return (flags_ & kFlagSocketsCreated) ? socket4FD_ != -1 : (config_ & kConfigIPv4Disabled) == 0;
    });
}

bool AsyncUdpSocket::isIPv6() const {
    return onQueueSync([this] {
        return (flags_ & kFlagSocketsCreated) ? socket6FD_ != -1 : (config_ & kConfigIPv6Disabled) == 0;
    });
}

void AsyncUdpSocket::maybeUpdateCachedLocalAddress(int family) const {
    const bool v4 = family == AF_INET;
    Address& cache = v4 ? cachedLocalAddress4_ : cachedLocalAddress6_;
    const int fd = v4 ? socket4FD_ : socket6FD_;
    if (!cache.empty() || (flags_ & kFlagBound) == 0 || fd == -1) {
        return;
    }
    sockaddr_storage sa{};
    socklen_t len = v4 ? kSize4 : kSize6;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        return;
    }
    const auto* p = reinterpret_cast<const uint8_t*>(&sa);
    cache.assign(p, p + len);
    (v4 ? cachedLocalHost4_ : cachedLocalHost6_) = hostFromAddress(cache);
    (v4 ? cachedLocalPort4_ : cachedLocalPort6_) = portFromAddress(cache);
}

Address AsyncUdpSocket::localAddress() const {
    return onQueueSync([this] { return socket4FD_ != -1 ? localAddressIPv4() : localAddressIPv6(); });
}

std::string AsyncUdpSocket::localHost() const {
    return onQueueSync([this] { return socket4FD_ != -1 ? localHostIPv4() : localHostIPv6(); });
}

uint16_t AsyncUdpSocket::localPort() const {
    return onQueueSync([this] { return socket4FD_ != -1 ? localPortIPv4() : localPortIPv6(); });
}

template <class T> T AsyncUdpSocket::cachedLocal(int family, T AsyncUdpSocket::*field) const {
    return onQueueSync([this, family, field] {
        maybeUpdateCachedLocalAddress(family);
        return this->*field;
    });
}

Address AsyncUdpSocket::localAddressIPv4() const {
    return cachedLocal(AF_INET, &AsyncUdpSocket::cachedLocalAddress4_);
}

std::string AsyncUdpSocket::localHostIPv4() const {
    return cachedLocal(AF_INET, &AsyncUdpSocket::cachedLocalHost4_);
}

uint16_t AsyncUdpSocket::localPortIPv4() const {
    return cachedLocal(AF_INET, &AsyncUdpSocket::cachedLocalPort4_);
}

Address AsyncUdpSocket::localAddressIPv6() const {
    return cachedLocal(AF_INET6, &AsyncUdpSocket::cachedLocalAddress6_);
}

std::string AsyncUdpSocket::localHostIPv6() const {
    return cachedLocal(AF_INET6, &AsyncUdpSocket::cachedLocalHost6_);
}

uint16_t AsyncUdpSocket::localPortIPv6() const {
    return cachedLocal(AF_INET6, &AsyncUdpSocket::cachedLocalPort6_);
}

Address AsyncUdpSocket::connectedAddress() const {
    return onQueueSync([this] { return cachedConnectedAddress_; });
}

std::string AsyncUdpSocket::connectedHost() const {
    return onQueueSync([this] { return cachedConnectedHost_; });
}

uint16_t AsyncUdpSocket::connectedPort() const {
    return onQueueSync([this] { return cachedConnectedPort_; });
}

int AsyncUdpSocket::socketFD() const {
    if (!onSocketQueue()) {
        return -1;
    }
    return socket4FD_ != -1 ? socket4FD_ : socket6FD_;
}

int AsyncUdpSocket::socket4FD() const {
    return onSocketQueue() ? socket4FD_ : -1;
}

int AsyncUdpSocket::socket6FD() const {
    return onSocketQueue() ? socket6FD_ : -1;
}

// ---------------------------------------------------------------------------------------------
// Checks, socket creation, sources, close

bool AsyncUdpSocket::preOp(SocketError* error) const {
    if (delegate_.expired()) {
        return fail(error,
                    badConfigError("Attempting to use socket without a delegate. Set a delegate first."));
    }
    if (!delegateQueue_) {
        return fail(
            error,
            badConfigError("Attempting to use socket without a delegate queue. Set a delegate queue first."));
    }
    return true;
}

bool AsyncUdpSocket::preBind(SocketError* error) const {
    if (!preOp(error)) {
        return false;
    }
    if (flags_ & kFlagBound) {
        return fail(error, badConfigError("Cannot bind a socket more than once."));
    }
    if (flags_ & (kFlagConnecting | kFlagConnected)) {
        return fail(error,
                    badConfigError("Cannot bind after connecting. If needed, bind first, then connect."));
    }
    if ((config_ & kConfigIPv4Disabled) && (config_ & kConfigIPv6Disabled)) {
        return fail(error,
                    badConfigError(
                        "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first."));
    }
    return true;
}

bool AsyncUdpSocket::preConnect(SocketError* error) const {
    if (!preOp(error)) {
        return false;
    }
    if (flags_ & (kFlagConnecting | kFlagConnected)) {
        return fail(error, badConfigError("Cannot connect a socket more than once."));
    }
    if ((config_ & kConfigIPv4Disabled) && (config_ & kConfigIPv6Disabled)) {
        return fail(error,
                    badConfigError(
                        "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first."));
    }
    return true;
}

bool AsyncUdpSocket::preJoin(SocketError* error) const {
    if (!preOp(error)) {
        return false;
    }
    if (!(flags_ & kFlagBound)) {
        return fail(error, badConfigError("Must bind a socket before joining a multicast group."));
    }
    if (flags_ & (kFlagConnecting | kFlagConnected)) {
        return fail(error, badConfigError("Cannot join a multicast group if connected."));
    }
    return true;
}

bool AsyncUdpSocket::createSockets(bool ipv4, bool ipv6, SocketError* error) {
    socketQueue_->assertOnQueue();
    if (flags_ & kFlagSocketsCreated) {
        base::fatal("Sockets have already been created");
    }
    if (ipv4) {
        socket4FD_ = createSocket(AF_INET, maxSendSize_, error);
        if (socket4FD_ == -1) {
            return false;
        }
    }
    if (ipv6) {
        socket6FD_ = createSocket(AF_INET6, maxSendSize_, error);
        if (socket6FD_ == -1) {
            if (socket4FD_ != -1) {
                ::close(socket4FD_);
                socket4FD_ = -1;
            }
            return false;
        }
    }
    if (ipv4) {
        setupSources(AF_INET);
    }
    if (ipv6) {
        setupSources(AF_INET6);
    }
    flags_ |= kFlagSocketsCreated;
    return true;
}

bool AsyncUdpSocket::createSocketsIfNeeded(SocketError* error) {
    if (flags_ & kFlagSocketsCreated) {
        return true;
    }
    return createSockets(!(config_ & kConfigIPv4Disabled), !(config_ & kConfigIPv6Disabled), error);
}

void AsyncUdpSocket::setupSources(int family) {
    const bool v4 = family == AF_INET;
    const int fd = v4 ? socket4FD_ : socket6FD_;
    auto send = dispatch::WriteSource::make(fd, socketQueue_);
    auto receive = dispatch::ReadSource::make(fd, socketQueue_);
    // The handlers run on the socket queue, and the sources are cancelled there (close, or the
    // destructor's hop) before this object goes away.
    send->setEventHandler([this, family] { onWriteEvent(family); });
    dispatch::ReadSource* rawReceive = receive.get();
    receive->setEventHandler([this, family, rawReceive] { onReadEvent(family, rawReceive->data()); });
    // The descriptor is closed once both sources have stopped using it.
    auto users = std::make_shared<int>(2);
    auto release = [fd, users] {
        if (--*users == 0) {
            ::close(fd);
        }
    };
    send->setCancelHandler(release);
    receive->setCancelHandler(release);
    if (v4) {
        send4Source_ = std::move(send);
        receive4Source_ = std::move(receive);
        socket4FDBytesAvailable_ = 0;
        systemDrops4_ = 0;
        flags_ |= kFlagSend4SourceSuspended | kFlagReceive4SourceSuspended;
    } else {
        send6Source_ = std::move(send);
        receive6Source_ = std::move(receive);
        socket6FDBytesAvailable_ = 0;
        systemDrops6_ = 0;
        flags_ |= kFlagSend6SourceSuspended | kFlagReceive6SourceSuspended;
    }
}

void AsyncUdpSocket::suspendSendSource(int family) {
    const bool v4 = family == AF_INET;
    auto& source = v4 ? send4Source_ : send6Source_;
    const uint32_t bit = v4 ? kFlagSend4SourceSuspended : kFlagSend6SourceSuspended;
    if (source && !(flags_ & bit)) {
        source->suspend();
        flags_ |= bit;
    }
}

void AsyncUdpSocket::resumeSendSource(int family) {
    const bool v4 = family == AF_INET;
    auto& source = v4 ? send4Source_ : send6Source_;
    const uint32_t bit = v4 ? kFlagSend4SourceSuspended : kFlagSend6SourceSuspended;
    if (source && (flags_ & bit)) {
        source->resume();
        flags_ &= ~bit;
    }
}

void AsyncUdpSocket::suspendReceiveSource(int family) {
    const bool v4 = family == AF_INET;
    auto& source = v4 ? receive4Source_ : receive6Source_;
    const uint32_t bit = v4 ? kFlagReceive4SourceSuspended : kFlagReceive6SourceSuspended;
    if (source && !(flags_ & bit)) {
        source->suspend();
        flags_ |= bit;
    }
}

void AsyncUdpSocket::resumeReceiveSource(int family) {
    const bool v4 = family == AF_INET;
    auto& source = v4 ? receive4Source_ : receive6Source_;
    const uint32_t bit = v4 ? kFlagReceive4SourceSuspended : kFlagReceive6SourceSuspended;
    if (source && (flags_ & bit)) {
        source->resume();
        flags_ &= ~bit;
    }
}

void AsyncUdpSocket::closeSocket(int family) {
    const bool v4 = family == AF_INET;
    int& fd = v4 ? socket4FD_ : socket6FD_;
    if (fd == -1) {
        return;
    }
    auto& send = v4 ? send4Source_ : send6Source_;
    auto& receive = v4 ? receive4Source_ : receive6Source_;
    // A cancelled source runs its cancel handler even when suspended; the last one closes fd.
    send->cancel();
    receive->cancel();
    send.reset();
    receive.reset();
    flags_ &= v4 ? ~(kFlagSend4SourceSuspended | kFlagReceive4SourceSuspended)
                 : ~(kFlagSend6SourceSuspended | kFlagReceive6SourceSuspended);
    fd = -1;
    (v4 ? socket4FDBytesAvailable_ : socket6FDBytesAvailable_) = 0;
    (v4 ? cachedLocalAddress4_ : cachedLocalAddress6_).clear();
    (v4 ? cachedLocalHost4_ : cachedLocalHost6_).clear();
    (v4 ? cachedLocalPort4_ : cachedLocalPort6_) = 0;
}

void AsyncUdpSocket::closeSockets() {
    closeSocket(AF_INET);
    closeSocket(AF_INET6);
    flags_ &= ~kFlagSocketsCreated;
}

void AsyncUdpSocket::closeWithError(std::optional<SocketError> error, bool notify) {
    socketQueue_->assertOnQueue();
    if (currentSend_) {
        endCurrentSend();
    }
    sendQueue_.clear();
    const uint32_t old = flags_;
    closeSockets();
    flags_ = 0;
    pendingFilterOperations_ = 0;
    ++openPeriod_;
    if ((old & kFlagSocketsCreated) && notify) {
        notifyDidClose(std::move(error));
    }
}

void AsyncUdpSocket::close() {
    if (onSocketQueue()) {
        closeWithError(std::nullopt); // the descriptors close when this task is done
        return;
    }
    socketQueue_->sync([this] { closeWithError(std::nullopt); });
    // The sources' cancel handlers, queued behind the close, release the descriptors: once they
    // have run, the ports are free for the caller to bind again.
    socketQueue_->sync([] {});
}

void AsyncUdpSocket::closeAfterSending() {
    // Always queued, so datagrams handed over before this call (also from the socket queue,
    // where sends are queued too) are sent first.
    sealQueuedEntries();
    socketQueue_->async([weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        self->flags_ |= kFlagCloseAfterSends;
        if (!self->currentSend_ && self->sendQueue_.empty()) {
            self->closeWithError(std::nullopt);
        }
    });
}

// ---------------------------------------------------------------------------------------------
// Bind

bool AsyncUdpSocket::bindToPort(uint16_t port, SocketError* error) {
    return bindToPort(port, std::nullopt, error);
}

bool AsyncUdpSocket::bindToPort(uint16_t port, const std::optional<std::string>& interface,
                                SocketError* error) {
    return onQueueSync([&]() -> bool {
        if (!preBind(error)) {
            return false;
        }
        Address a4;
        Address a6;
        convertInterfaceDescription(interface, port, &a4, &a6);
        if (a4.empty() && a6.empty()) {
            return fail(error, badParamError(kUnknownInterface));
        }
        const bool v4Disabled = config_ & kConfigIPv4Disabled;
        const bool v6Disabled = config_ & kConfigIPv6Disabled;
        if (v4Disabled && a6.empty()) {
            return fail(
                error, badParamError("IPv4 has been disabled and specified interface doesn't support IPv6."));
        }
        if (v6Disabled && a4.empty()) {
            return fail(
                error, badParamError("IPv6 has been disabled and specified interface doesn't support IPv4."));
        }
        const bool use4 = !v4Disabled && !a4.empty();
        const bool use6 = !v6Disabled && !a6.empty();
        if (!(flags_ & kFlagSocketsCreated) && !createSockets(use4, use6, error)) {
            return false;
        }
        auto bindOne = [&](int fd, const Address& a) {
            return ::bind(fd, reinterpret_cast<const sockaddr*>(a.data()),
                          static_cast<socklen_t>(a.size())) == 0;
        };
        if ((use4 && !bindOne(socket4FD_, a4)) || (use6 && !bindOne(socket6FD_, a6))) {
            SocketError e = SocketError::fromErrno("Error in bind() function");
            closeSockets();
            return fail(error, std::move(e));
        }
        flags_ |= kFlagBound;
        if (!use4) {
            flags_ |= kFlagIPv4Deactivated;
        }
        if (!use6) {
            flags_ |= kFlagIPv6Deactivated;
        }
        return true;
    });
}

bool AsyncUdpSocket::bindToAddress(const Address& address, SocketError* error) {
    return onQueueSync([&]() -> bool {
        if (!preBind(error)) {
            return false;
        }
        const int family = familyFromAddress(address);
        if (family == AF_UNSPEC) {
            return fail(error, badParamError("A valid IPv4 or IPv6 address was not given"));
        }
        const bool v4 = family == AF_INET;
        if (v4 && (config_ & kConfigIPv4Disabled)) {
            return fail(error, badParamError("IPv4 has been disabled and an IPv4 address was passed."));
        }
        if (!v4 && (config_ & kConfigIPv6Disabled)) {
            return fail(error, badParamError("IPv6 has been disabled and an IPv6 address was passed."));
        }
        if (!(flags_ & kFlagSocketsCreated) && !createSockets(v4, !v4, error)) {
            return false;
        }
        const int fd = v4 ? socket4FD_ : socket6FD_;
        const socklen_t len = v4 ? kSize4 : kSize6;
        if (::bind(fd, reinterpret_cast<const sockaddr*>(address.data()), len) != 0) {
            SocketError e = SocketError::fromErrno("Error in bind() function");
            closeSockets();
            return fail(error, std::move(e));
        }
        flags_ |= kFlagBound | (v4 ? kFlagIPv6Deactivated : kFlagIPv4Deactivated);
        return true;
    });
}

// ---------------------------------------------------------------------------------------------
// Receiving

bool AsyncUdpSocket::receiveOnce(SocketError* error) {
    return performReceiveRequest(kFlagReceiveOnce, kFlagReceiveContinuous, error);
}

bool AsyncUdpSocket::beginReceiving(SocketError* error) {
    return performReceiveRequest(kFlagReceiveContinuous, kFlagReceiveOnce, error);
}

bool AsyncUdpSocket::performReceiveRequest(uint32_t setFlag, uint32_t clearFlag, SocketError* error) {
    return onQueueSync([&]() -> bool {
        if (flags_ & setFlag) {
            return true;
        }
        if (!(flags_ & kFlagSocketsCreated)) {
            return fail(error,
                        badConfigError("Must bind socket before you can receive data. You can do this "
                                       "explicitly via bind, or implicitly via connect or by sending data."));
        }
        flags_ = (flags_ | setFlag) & ~clearFlag;
        socketQueue_->async([weak = weak_from_this()] {
            if (auto self = weak.lock()) {
                self->doReceive();
            }
        });
        return true;
    });
}

void AsyncUdpSocket::pauseReceiving() {
    onQueueAsync([](AsyncUdpSocket& s) {
        s.flags_ &= ~(kFlagReceiveOnce | kFlagReceiveContinuous);
        if (s.socket4FDBytesAvailable_ > 0) {
            s.suspendReceiveSource(AF_INET);
        }
        if (s.socket6FDBytesAvailable_ > 0) {
            s.suspendReceiveSource(AF_INET6);
        }
    });
}

void AsyncUdpSocket::onReadEvent(int family, uint64_t available) {
    // FIONREAD on a datagram socket is the size of the next datagram, and 0 for an empty one:
    // never an end of stream. Any read event means "something to read"; recvfrom finds out.
    (family == AF_INET ? socket4FDBytesAvailable_ : socket6FDBytesAvailable_) =
        std::max<uint64_t>(available, 1);
    doReceive();
}

void AsyncUdpSocket::onWriteEvent(int family) {
    if (currentSend_ && !currentSend_->isConnect && !currentSend_->resolveInProgress &&
        !currentSend_->filterInProgress) {
        doSend();
        return;
    }
    suspendSendSource(family);
}

void AsyncUdpSocket::waitForReadEvents() {
    if (socket4FDBytesAvailable_ == 0) {
        resumeReceiveSource(AF_INET);
    }
    if (socket6FDBytesAvailable_ == 0) {
        resumeReceiveSource(AF_INET6);
    }
}

void AsyncUdpSocket::doReceive() {
    socketQueue_->assertOnQueue();
    const uint64_t period = openPeriod_;
    for (;;) {
        const bool once = flags_ & kFlagReceiveOnce;
        if (period != openPeriod_) {
            return; // a delivery step closed the socket
        }
        if (!(flags_ & (kFlagReceiveOnce | kFlagReceiveContinuous)) ||
            (once && pendingFilterOperations_ > 0)) {
            if (socket4FDBytesAvailable_ > 0) {
                suspendReceiveSource(AF_INET);
            }
            if (socket6FDBytesAvailable_ > 0) {
                suspendReceiveSource(AF_INET6);
            }
            return;
        }
        const bool has4 = socket4FDBytesAvailable_ > 0;
        const bool has6 = socket6FDBytesAvailable_ > 0;
        if (!has4 && !has6) {
            waitForReadEvents();
            return;
        }
        if (backlog_->isFull() && pauseForBacklog()) {
            return;
        }
        int family = has6 ? AF_INET6 : AF_INET;
        if (flags_ & kFlagConnected) {
            family = socket4FD_ != -1 ? AF_INET : AF_INET6;
        } else if (has4 && has6) {
            const bool wasSet = flags_ & kFlagReceiveFlipFlop;
            flags_ ^= kFlagReceiveFlipFlop;
            family = wasSet ? AF_INET : AF_INET6;
        }
        const bool v4 = family == AF_INET;
        const int fd = v4 ? socket4FD_ : socket6FD_;
        uint64_t& available = v4 ? socket4FDBytesAvailable_ : socket6FDBytesAvailable_;
        const size_t max = v4 ? max4ReceiveSize_ : max6ReceiveSize_;
        if (receiveBuffer_.size() < std::max<size_t>(max, 1)) {
            receiveBuffer_.resize(std::max<size_t>(max, 1));
        }
        sockaddr_storage from{};
        iovec payload{receiveBuffer_.data(), max};
        alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(uint32_t))> control;
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = v4 ? kSize4 : kSize6;
        message.msg_iov = &payload;
        message.msg_iovlen = 1;
        message.msg_control = control.data();
        message.msg_controllen = control.size();
        ssize_t n = 0;
        do {
            n = ::recvmsg(fd, &message, 0);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                available = 0;
                continue; // the other family may still have data; else wait
            }
            closeWithError(SocketError::fromErrno("Error in recvfrom() function"));
            return;
        }
        const socklen_t fromLength = message.msg_namelen;
        if (const cmsghdr* c = CMSG_FIRSTHDR(&message);
            c != nullptr && c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL) {
            uint32_t systemCount = 0;
            std::memcpy(&systemCount, CMSG_DATA(c), sizeof systemCount);
            noteDrops(family, systemCount);
        }
        // FIONREAD told of the next datagram only: keep reading until recvfrom would block.
        available = std::max<uint64_t>(available > static_cast<uint64_t>(n) ? available - n : 0, 1);
        if (n == 0) {
            continue; // an empty datagram: nothing to deliver, and no reason to stop
        }
        if ((flags_ & kFlagConnected) && !isConnectedTo(from)) {
            continue; // not from our peer
        }
        backlog_->add(static_cast<size_t>(n));
        if (receiveFilter_ && receiveFilterQueue_) {
            Address sender(reinterpret_cast<const uint8_t*>(&from),
                           reinterpret_cast<const uint8_t*>(&from) + fromLength);
            Data data(receiveBuffer_.data(), receiveBuffer_.data() + n);
            if (receiveFilterAsync_) {
                ++pendingFilterOperations_;
                receiveFilterQueue_->async([weak = weak_from_this(), filter = receiveFilter_,
                                            socketQueue = socketQueue_, period, data = std::move(data),
                                            sender = std::move(sender)]() mutable {
                    FilterContext context;
                    const bool passed = filter(data, sender, context);
                    socketQueue->async([weak, period, passed, data = std::move(data),
                                        sender = std::move(sender), context = std::move(context)]() mutable {
                        if (auto self = weak.lock()) {
                            self->finishReceiveFilter(period, passed, std::move(data), std::move(sender),
                                                      std::move(context));
                        }
                    });
                });
                if (once) {
                    return; // the filter's answer continues
                }
                continue;
            }
            FilterContext context;
            bool passed = true;
            const ReceiveFilter& filter = receiveFilter_;
            receiveFilterQueue_->sync([&] { passed = filter(data, sender, context); });
            if (!passed) {
                backlog_->release(data.size());
                continue;
            }
            notifyDidReceive(std::move(data), std::move(sender), std::move(context));
        } else {
            notifyDidReceive(receiveBuffer_.data(), static_cast<size_t>(n), from, fromLength);
        }
        if (once) {
            flags_ &= ~kFlagReceiveOnce;
            return;
        }
    }
}

void AsyncUdpSocket::finishReceiveFilter(uint64_t period, bool passed, Data data, Address from,
                                         FilterContext context) {
    if (period != openPeriod_ || !passed) {
        backlog_->release(data.size());
    }
    if (period != openPeriod_) {
        return; // closed meanwhile: nothing may follow the close callback
    }
    --pendingFilterOperations_;
    if (passed) {
        notifyDidReceive(std::move(data), std::move(from), std::move(context));
    }
    if (flags_ & kFlagReceiveOnce) {
        if (passed) {
            flags_ &= ~kFlagReceiveOnce;
        } else if (pendingFilterOperations_ == 0) {
            doReceive();
        }
    }
}

// Stops reading at the backlog's bound: the read sources are suspended, so the system's buffer
// takes what arrives meanwhile and drops the rest. False when deliveries drained the backlog
// before the pause was in place, so reading goes on.
bool AsyncUdpSocket::pauseForBacklog() {
    suspendReceiveSource(AF_INET);
    suspendReceiveSource(AF_INET6);
    backlog_->paused = true;
    if (backlog_->isDrained() && backlog_->paused.exchange(false)) {
        return false; // the sources resume once both families have been read empty
    }
    ++backlogPauses_;
    return true;
}

// The system reports its running count of datagrams dropped on the descriptor (32 bits, may wrap).
void AsyncUdpSocket::noteDrops(int family, uint32_t systemCount) {
    uint32_t& last = family == AF_INET ? systemDrops4_ : systemDrops6_;
    droppedDatagrams_ += static_cast<uint32_t>(systemCount - last);
    last = systemCount;
}

// ---------------------------------------------------------------------------------------------
// Sending

void AsyncUdpSocket::sendData(Data data, long tag) {
    sendData(std::move(data), -1.0, tag);
}

void AsyncUdpSocket::sendData(Data data, double timeout, long tag) {
    if (data.empty()) {
        return;
    }
    auto packet = std::make_shared<SendPacket>();
    packet->buffer = std::move(data);
    packet->timeout = timeout;
    packet->tag = tag;
    queueEntry(std::move(packet));
}

void AsyncUdpSocket::sendData(Data data, const std::string& host, uint16_t port, double timeout, long tag) {
    if (data.empty()) {
        return;
    }
    auto packet = std::make_shared<SendPacket>();
    packet->buffer = std::move(data);
    packet->timeout = timeout;
    packet->tag = tag;
    packet->hostGiven = true;
    packet->resolveInProgress = true;
    // Resolution starts at once, before the packet's turn comes.
    asyncResolveHost(
        host, port, socketQueue_,
        [weak = weak_from_this(), packet](std::vector<Address> addresses, std::optional<SocketError> error) {
            auto self = weak.lock();
            packet->resolveInProgress = false;
            packet->resolvedAddresses = std::move(addresses);
            packet->resolveError = std::move(error);
            if (self && self->currentSend_ == packet) {
                self->doPreSend();
            }
        });
    queueEntry(std::move(packet));
}

void AsyncUdpSocket::sendData(Data data, const Address& address, double timeout, long tag) {
    if (data.empty()) {
        return;
    }
    auto packet = std::make_shared<SendPacket>();
    packet->buffer = std::move(data);
    packet->timeout = timeout;
    packet->tag = tag;
    packet->address = address;
    packet->addressFamily = familyFromAddress(address);
    queueEntry(std::move(packet));
}

// Datagrams on their way to the socket queue. Each run of sends gets one task there, which
// moves the whole run into the send queue, instead of a task per datagram. A hop of the socket's
// own (a setter, closeAfterSending) seals the run before it, so sends handed over after the
// hop start a new run whose task is queued behind it: the order of calls is kept.
struct AsyncUdpSocket::SendInbox {
    std::mutex mutex;
    std::deque<std::vector<std::shared_ptr<SendPacket>>> runs; // each with one task queued
    bool lastRunOpen = false;                                  // sends may still join the last run
};

void AsyncUdpSocket::queueEntry(std::shared_ptr<SendPacket> packet) {
    // Always queued, even on the socket queue: sends never report from inside the call.
    {
        std::lock_guard lock(inbox_->mutex);
        if (inbox_->lastRunOpen) {
            inbox_->runs.back().push_back(std::move(packet));
            return;
        }
        inbox_->runs.emplace_back().push_back(std::move(packet));
        inbox_->lastRunOpen = true;
    }
    socketQueue_->async([weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->takeQueuedEntries();
        }
    });
}

void AsyncUdpSocket::takeQueuedEntries() {
    std::vector<std::shared_ptr<SendPacket>> run;
    {
        std::lock_guard lock(inbox_->mutex);
        run = std::move(inbox_->runs.front());
        inbox_->runs.pop_front();
        if (inbox_->runs.empty()) {
            inbox_->lastRunOpen = false;
        }
    }
    for (auto& packet : run) {
        sendQueue_.push_back(std::move(packet));
    }
    maybeDequeueSend();
}

void AsyncUdpSocket::sealQueuedEntries() {
    std::lock_guard lock(inbox_->mutex);
    inbox_->lastRunOpen = false;
}

void AsyncUdpSocket::maybeDequeueSend() {
    socketQueue_->assertOnQueue();
    if (inDequeue_) {
        return; // the loop below picks up what the caller just finished
    }
    const uint64_t period = openPeriod_;
    inDequeue_ = true;
    while (!currentSend_ && !sendQueue_.empty() && period == openPeriod_) {
        if (!(flags_ & kFlagSocketsCreated)) {
            SocketError error;
            if (!createSocketsIfNeeded(&error)) {
                inDequeue_ = false;
                closeWithError(std::move(error));
                return;
            }
        }
        currentSend_ = std::move(sendQueue_.front());
        sendQueue_.pop_front();
        if (currentSend_->isConnect) {
            maybeConnect();
        } else if (currentSend_->resolveError) {
            const long tag = currentSend_->tag;
            SocketError error = *currentSend_->resolveError;
            currentSend_.reset();
            notifyDidNotSend(tag, std::move(error));
        } else {
            doPreSend();
        }
    }
    inDequeue_ = false;
    if (period == openPeriod_ && !currentSend_ && (flags_ & kFlagCloseAfterSends)) {
        closeWithError(std::nullopt);
    }
}

void AsyncUdpSocket::doPreSend() {
    const auto packet = currentSend_;
    if (flags_ & kFlagConnected) {
        if (packet->hostGiven) {
            failCurrentSend(badConfigError("Cannot specify destination of packet for connected socket"));
            return;
        }
        packet->address = cachedConnectedAddress_;
        packet->addressFamily = cachedConnectedFamily_;
    } else if (packet->resolveInProgress) {
        // The resolution's completion comes back here; nothing to write meanwhile.
        suspendSendSource(AF_INET);
        suspendSendSource(AF_INET6);
        return;
    } else if (packet->resolveError) {
        failCurrentSend(*packet->resolveError);
        return;
    } else if (!packet->address.empty()) {
        if (packet->addressFamily == AF_UNSPEC) {
            // sendto would fail and take the whole socket down with it: refuse this datagram only.
            failCurrentSend(badParamError("A valid IPv4 or IPv6 address was not given"));
            return;
        }
    } else {
        if (packet->resolvedAddresses.empty()) {
            failCurrentSend(
                badConfigError("You must specify destination of packet for a non-connected socket"));
            return;
        }
        SocketError error;
        const int family = chooseAddress(packet->resolvedAddresses, &packet->address, &error);
        if (family == 0) {
            failCurrentSend(error);
            return;
        }
        packet->addressFamily = family;
    }
    // Without a descriptor of that family sendto fails with EBADF and would close the socket.
    if ((packet->addressFamily == AF_INET ? socket4FD_ : socket6FD_) == -1) {
        failCurrentSend(
            badParamError(packet->addressFamily == AF_INET
                              ? "IPv4 has been disabled or deactivated and an IPv4 address was passed."
                              : "IPv6 has been disabled or deactivated and an IPv6 address was passed."));
        return;
    }
    if (!sendFilter_ || !sendFilterQueue_) {
        doSend();
        return;
    }
    if (sendFilterAsync_) {
        packet->filterInProgress = true;
        sendFilterQueue_->async(
            [weak = weak_from_this(), filter = sendFilter_, socketQueue = socketQueue_, packet] {
                const bool passed = filter(packet->buffer, packet->address, packet->tag);
                socketQueue->async([weak, packet, passed] {
                    auto self = weak.lock();
                    packet->filterInProgress = false;
                    if (!self || self->currentSend_ != packet) {
                        return; // dropped by a close meanwhile
                    }
                    if (passed) {
                        self->doSend();
                    } else {
                        self->finishCurrentSendAsSent();
                    }
                });
            });
        return;
    }
    bool passed = true;
    const SendFilter& filter = sendFilter_;
    sendFilterQueue_->sync([&] { passed = filter(packet->buffer, packet->address, packet->tag); });
    if (passed) {
        doSend();
    } else {
        finishCurrentSendAsSent();
    }
}

void AsyncUdpSocket::doSend() {
    if (!currentSend_ || currentSend_->isConnect) {
        base::fatal("Invalid logic");
    }
    SendPacket& packet = *currentSend_;
    const int family = packet.addressFamily == AF_INET ? AF_INET : AF_INET6;
    const int fd = family == AF_INET ? socket4FD_ : socket6FD_;
    if (!sendQueue_.empty() && sendBatch(fd, family)) {
        return;
    }
    ssize_t result = 0;
    do {
        if (flags_ & kFlagConnected) {
            result = ::send(fd, packet.buffer.data(), packet.buffer.size(), MSG_NOSIGNAL);
        } else {
            result = ::sendto(fd, packet.buffer.data(), packet.buffer.size(), MSG_NOSIGNAL,
                              reinterpret_cast<const sockaddr*>(packet.address.data()),
                              family == AF_INET ? kSize4 : kSize6); // the buffer may be longer
        }
    } while (result < 0 && errno == EINTR);
    flags_ |= kFlagBound; // the system has bound the socket by now
    if (result > 0) {
        finishCurrentSendAsSent();
        return;
    }
    if (result == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
        // Try again when the socket can take it; the time-out runs from the first refusal.
        resumeSendSource(family);
        if (!sendTimer_ && packet.timeout >= 0) {
            setupSendTimer(packet.timeout);
        }
        return;
    }
    closeWithError(SocketError::fromErrno("Error in send() function."));
}

namespace {
constexpr size_t kSendBatch = 32;
} // namespace

// Sends the current datagram together with those queued right behind it that are ready as they
// stand, with one system call, and reports them in order as their own sends would have. Only on
// an unconnected socket without a send filter: there, each datagram behind the current one
// would go straight to sendto as well, and a failure of one of them, which sendmmsg does not
// report, shows again when that one is sent alone next (a connected socket's pending error
// would be lost). False when no datagram is ready behind the current one.
bool AsyncUdpSocket::sendBatch(int fd, int family) {
    if ((flags_ & kFlagConnected) || (sendFilter_ && sendFilterQueue_)) {
        return false;
    }
    auto ready = [&](const SendPacket& p) {
        return !p.isConnect && !p.hostGiven && !p.resolveInProgress && !p.resolveError &&
               !p.address.empty() && p.addressFamily == family;
    };
    std::array<mmsghdr, kSendBatch> messages{};
    std::array<iovec, kSendBatch> parts{};
    size_t count = 0;
    auto add = [&](SendPacket& p) {
        parts[count] = iovec{p.buffer.data(), p.buffer.size()};
        msghdr& header = messages[count].msg_hdr;
        header.msg_name = p.address.data();
        header.msg_namelen = family == AF_INET ? kSize4 : kSize6; // the buffer may be longer
        header.msg_iov = &parts[count];
        header.msg_iovlen = 1;
        ++count;
    };
    add(*currentSend_);
    for (const auto& p : sendQueue_) {
        if (count == kSendBatch || !ready(*p)) {
            break;
        }
        add(*p);
    }
    if (count == 1) {
        return false;
    }
    int sent = 0;
    do {
        sent = ::sendmmsg(fd, messages.data(), static_cast<unsigned>(count), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    flags_ |= kFlagBound; // the system has bound the socket by now
    if (sent <= 0) {
        if (sent == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
            // As for a single datagram: try the current one again when the socket can take it.
            resumeSendSource(family);
            if (!sendTimer_ && currentSend_->timeout >= 0) {
                setupSendTimer(currentSend_->timeout);
            }
            return true;
        }
        closeWithError(SocketError::fromErrno("Error in send() function."));
        return true;
    }
    const long tag = currentSend_->tag;
    endCurrentSend();
    notifyDidSend(tag);
    for (int i = 1; i < sent; ++i) {
        notifyDidSend(sendQueue_.front()->tag);
        sendQueue_.pop_front();
    }
    maybeDequeueSend();
    return true;
}

void AsyncUdpSocket::failCurrentSend(const SocketError& error) {
    const long tag = currentSend_->tag;
    endCurrentSend();
    notifyDidNotSend(tag, error);
    maybeDequeueSend();
}

void AsyncUdpSocket::finishCurrentSendAsSent() {
    const long tag = currentSend_->tag;
    endCurrentSend();
    notifyDidSend(tag);
    maybeDequeueSend();
}

void AsyncUdpSocket::endCurrentSend() {
    if (sendTimer_) {
        sendTimer_->cancel();
        sendTimer_.reset();
    }
    currentSend_.reset();
}

void AsyncUdpSocket::setupSendTimer(double timeout) {
    if (sendTimer_ || timeout < 0) {
        base::fatal("Invalid logic");
    }
    sendTimer_ = dispatch::TimerSource::make(socketQueue_);
    sendTimer_->setEventHandler([this] { doSendTimeout(); }); // cancelled by endCurrentSend before we go
    // Capped at about 31 years: longer ones (or infinity) overflow the nanosecond clock and
    // would fire at once.
    const double seconds = std::min(timeout, 1e9);
    sendTimer_->schedule(dispatch::Clock::now() + std::chrono::duration_cast<dispatch::Duration>(
                                                      std::chrono::duration<double>(seconds)));
    sendTimer_->resume();
}

void AsyncUdpSocket::doSendTimeout() {
    if (!currentSend_) {
        return;
    }
    failCurrentSend(sendTimeoutError());
}

int AsyncUdpSocket::chooseAddress(const std::vector<Address>& addresses, Address* chosen,
                                  SocketError* error) const {
    if (addresses.empty()) {
        base::fatal("Expected at least one address");
    }
    const Address* first4 = nullptr;
    const Address* first6 = nullptr;
    bool fourFirst = false;
    for (const Address& a : addresses) {
        const int family = familyFromAddress(a);
        if (family == AF_INET && first4 == nullptr) {
            first4 = &a;
            fourFirst = first6 == nullptr;
        } else if (family == AF_INET6 && first6 == nullptr) {
            first6 = &a;
        } else if (family == AF_UNSPEC) {
            base::fatal("Addresses array contains invalid address");
        }
    }
    chosen->clear();
    auto refuse = [&](const char* text) {
        fail(error, otherError(text));
        return 0;
    };
    if ((config_ & kConfigIPv4Disabled) && !first6) {
        return refuse("IPv4 has been disabled and DNS lookup found no IPv6 address(es).");
    }
    if ((config_ & kConfigIPv6Disabled) && !first4) {
        return refuse("IPv6 has been disabled and DNS lookup found no IPv4 address(es).");
    }
    if ((flags_ & kFlagIPv4Deactivated) && !first6) {
        return refuse(
            "IPv4 has been deactivated due to bind/connect, and DNS lookup found no IPv6 address(es).");
    }
    if ((flags_ & kFlagIPv6Deactivated) && !first4) {
        return refuse(
            "IPv6 has been deactivated due to bind/connect, and DNS lookup found no IPv4 address(es).");
    }
    // A disabled or deactivated family has no descriptor to send on: leave it out of the choice.
    if ((config_ & kConfigIPv4Disabled) || (flags_ & kFlagIPv4Deactivated)) {
        first4 = nullptr;
    }
    if ((config_ & kConfigIPv6Disabled) || (flags_ & kFlagIPv6Deactivated)) {
        first6 = nullptr;
    }
    if (!first4 && !first6) {
        return refuse(
            "IPv4 has been deactivated due to bind/connect, and DNS lookup found no IPv6 address(es).");
    }
    const bool force4 = ((config_ & kConfigPreferIPv4) && first4) || !first6;
    const bool force6 = ((config_ & kConfigPreferIPv6) && first6) || !first4;
    const bool use4 = force4 || (!force6 && fourFirst);
    *chosen = use4 ? *first4 : *first6;
    return use4 ? AF_INET : AF_INET6;
}

// ---------------------------------------------------------------------------------------------
// Connect

bool AsyncUdpSocket::connectToHost(const std::string& host, uint16_t port, SocketError* error) {
    return onQueueSync([&]() -> bool {
        if (!preConnect(error)) {
            return false;
        }
        if (host.empty()) {
            return fail(error, badParamError(kHostNil));
        }
        if (!createSocketsIfNeeded(error)) {
            return false;
        }
        auto marker = std::make_shared<SendPacket>();
        marker->isConnect = true;
        marker->resolveInProgress = true;
        asyncResolveHost(host, port, socketQueue_,
                         [weak = weak_from_this(), marker](std::vector<Address> addresses,
                                                           std::optional<SocketError> resolveError) {
                             marker->resolveInProgress = false;
                             marker->resolvedAddresses = std::move(addresses);
                             marker->resolveError = std::move(resolveError);
                             if (auto self = weak.lock()) {
                                 self->maybeConnect();
                             }
                         });
        flags_ |= kFlagConnecting;
        sendQueue_.push_back(std::move(marker));
        maybeDequeueSend();
        return true;
    });
}

bool AsyncUdpSocket::connectToAddress(const Address& address, SocketError* error) {
    return onQueueSync([&]() -> bool {
        if (!preConnect(error)) {
            return false;
        }
        if (address.empty()) {
            return fail(error, badParamError("The address param is nil. Should be a valid address."));
        }
        if (!createSocketsIfNeeded(error)) {
            return false;
        }
        auto marker = std::make_shared<SendPacket>();
        marker->isConnect = true;
        marker->resolvedAddresses.push_back(address);
        flags_ |= kFlagConnecting;
        sendQueue_.push_back(std::move(marker));
        maybeDequeueSend();
        return true;
    });
}

void AsyncUdpSocket::maybeConnect() {
    socketQueue_->assertOnQueue();
    if (!currentSend_ || !currentSend_->isConnect || currentSend_->resolveInProgress) {
        return; // not its turn yet, or still resolving: whichever comes second does the work
    }
    const auto marker = currentSend_;
    if (marker->resolveError) {
        notifyDidNotConnect(*marker->resolveError);
    } else if (familyFromAddress(marker->resolvedAddresses.front()) == AF_UNSPEC) {
        notifyDidNotConnect(badParamError("A valid IPv4 or IPv6 address was not given"));
    } else {
        Address address;
        SocketError error;
        const int family = chooseAddress(marker->resolvedAddresses, &address, &error);
        if (family == 0) {
            notifyDidNotConnect(std::move(error));
        } else {
            const bool v4 = family == AF_INET;
            const int fd = v4 ? socket4FD_ : socket6FD_;
            int result = 0;
            do {
                result =
                    ::connect(fd, reinterpret_cast<const sockaddr*>(address.data()), v4 ? kSize4 : kSize6);
            } while (result != 0 && errno == EINTR);
            if (result != 0) {
                notifyDidNotConnect(SocketError::fromErrno("Error in connect() function"));
            } else {
                closeSocket(v4 ? AF_INET6 : AF_INET);
                flags_ |= kFlagConnected | kFlagBound | (v4 ? kFlagIPv6Deactivated : kFlagIPv4Deactivated);
                cachedConnectedAddress_ = address;
                cachedConnectedHost_ = hostFromAddress(address);
                cachedConnectedPort_ = portFromAddress(address);
                cachedConnectedFamily_ = family;
                notifyDidConnect(std::move(address));
            }
        }
    }
    flags_ &= ~kFlagConnecting;
    endCurrentSend();
    maybeDequeueSend();
}

bool AsyncUdpSocket::isConnectedTo(const sockaddr_storage& address) const {
    if (!(flags_ & kFlagConnected)) {
        base::fatal("Not connected");
    }
    if (cachedConnectedAddress_.empty()) {
        base::fatal("Expected cached connected address");
    }
    if (address.ss_family != cachedConnectedFamily_) {
        return false;
    }
    if (address.ss_family == AF_INET) {
        const auto& a = reinterpret_cast<const sockaddr_in&>(address);
        sockaddr_in b{};
        std::memcpy(&b, cachedConnectedAddress_.data(), kSize4);
        return a.sin_port == b.sin_port && a.sin_addr.s_addr == b.sin_addr.s_addr;
    }
    const auto& a = reinterpret_cast<const sockaddr_in6&>(address);
    sockaddr_in6 b{};
    std::memcpy(&b, cachedConnectedAddress_.data(), kSize6);
    return a.sin6_port == b.sin6_port && std::memcmp(&a.sin6_addr, &b.sin6_addr, sizeof(in6_addr)) == 0;
}

// ---------------------------------------------------------------------------------------------
// Multicast, broadcast, port reuse

bool AsyncUdpSocket::joinMulticastGroup(const std::string& group, SocketError* error) {
    return performMulticastRequest(true, group, std::nullopt, error);
}

bool AsyncUdpSocket::joinMulticastGroup(const std::string& group, const std::optional<std::string>& interface,
                                        SocketError* error) {
    return performMulticastRequest(true, group, interface, error);
}

bool AsyncUdpSocket::leaveMulticastGroup(const std::string& group, SocketError* error) {
    return performMulticastRequest(false, group, std::nullopt, error);
}

bool AsyncUdpSocket::leaveMulticastGroup(const std::string& group,
                                         const std::optional<std::string>& interface, SocketError* error) {
    return performMulticastRequest(false, group, interface, error);
}

bool AsyncUdpSocket::performMulticastRequest(bool join, const std::string& group,
                                             const std::optional<std::string>& interface,
                                             SocketError* error) {
    return onQueueSync([&]() -> bool {
        if (!preJoin(error)) {
            return false;
        }
        Address group4;
        Address group6;
        convertNumericHost(group, 0, &group4, &group6);
        if (group4.empty() && group6.empty()) {
            return fail(error, badParamError("Unknown group. Specify valid group IP address."));
        }
        Address if4;
        Address if6;
        convertInterfaceDescription(interface, 0, &if4, &if6);
        if (if4.empty() && if6.empty()) {
            return fail(error, badParamError(kUnknownInterface));
        }
        if (socket4FD_ != -1 && !group4.empty() && !if4.empty()) {
            sockaddr_in g{};
            sockaddr_in i{};
            std::memcpy(&g, group4.data(), kSize4);
            std::memcpy(&i, if4.data(), kSize4);
            ip_mreq request{};
            request.imr_multiaddr = g.sin_addr;
            request.imr_interface = i.sin_addr;
            const int option = join ? IP_ADD_MEMBERSHIP : IP_DROP_MEMBERSHIP;
            if (setsockopt(socket4FD_, IPPROTO_IP, option, &request, sizeof request) != 0) {
                return fail(error, SocketError::fromErrno(kSetsockoptFailed));
            }
            // One family from here on; leaving the other out of later choices keeps sends
            // away from its closed descriptor.
            closeSocket(AF_INET6);
            flags_ |= kFlagIPv6Deactivated;
            return true;
        }
        if (socket6FD_ != -1 && !group6.empty() && !if6.empty()) {
            sockaddr_in6 g{};
            std::memcpy(&g, group6.data(), kSize6);
            ipv6_mreq request{};
            request.ipv6mr_multiaddr = g.sin6_addr;
            request.ipv6mr_interface = indexOfInterfaceAddr6(if6);
            const int option = join ? IPV6_ADD_MEMBERSHIP : IPV6_DROP_MEMBERSHIP;
            if (setsockopt(socket6FD_, IPPROTO_IPV6, option, &request, sizeof request) != 0) {
                return fail(error, SocketError::fromErrno(kSetsockoptFailed));
            }
            closeSocket(AF_INET);
            flags_ |= kFlagIPv4Deactivated;
            return true;
        }
        return fail(error, badParamError("Socket, group, and interface do not have matching IP versions"));
    });
}

bool AsyncUdpSocket::sendIPv4MulticastOnInterface(const std::string& interface, SocketError* error) {
    return onQueueSync([&]() -> bool {
        if (!preOp(error) || !createSocketsIfNeeded(error)) {
            return false;
        }
        Address if4;
        Address if6;
        convertInterfaceDescription(interface, 0, &if4, &if6);
        if (if4.empty()) {
            return fail(error, badParamError("Unknown interface. Specify valid interface by IP address."));
        }
        if (socket4FD_ == -1) {
            return false;
        }
        sockaddr_in i{};
        std::memcpy(&i, if4.data(), kSize4);
        if (setsockopt(socket4FD_, IPPROTO_IP, IP_MULTICAST_IF, &i.sin_addr, sizeof i.sin_addr) != 0) {
            return fail(error, SocketError::fromErrno(kSetsockoptFailed));
        }
        return true;
    });
}

bool AsyncUdpSocket::sendIPv6MulticastOnInterface(const std::string& interface, SocketError* error) {
    return onQueueSync([&]() -> bool {
        if (!preOp(error) || !createSocketsIfNeeded(error)) {
            return false;
        }
        Address if4;
        Address if6;
        convertInterfaceDescription(interface, 0, &if4, &if6);
        if (if6.empty()) {
            return fail(error,
                        badParamError("Unknown interface. Specify valid interface by name (e.g. \"en1\")."));
        }
        if (socket6FD_ == -1) {
            return false;
        }
        const int index = static_cast<int>(indexOfInterfaceAddr6(if6));
        if (setsockopt(socket6FD_, IPPROTO_IPV6, IPV6_MULTICAST_IF, &index, sizeof index) != 0) {
            return fail(error, SocketError::fromErrno(kSetsockoptFailed));
        }
        return true;
    });
}

bool AsyncUdpSocket::enableReusePort(bool flag, SocketError* error) {
    return onQueueSync([&]() -> bool {
        if (!preOp(error) || !createSocketsIfNeeded(error)) {
            return false;
        }
        const int value = flag ? 1 : 0;
        bool ok = false;
        if (socket4FD_ != -1) {
            if (setsockopt(socket4FD_, SOL_SOCKET, SO_REUSEPORT, &value, sizeof value) != 0) {
                return fail(error, SocketError::fromErrno(kSetsockoptFailed));
            }
            ok = true;
        }
        if (socket6FD_ != -1) {
            if (setsockopt(socket6FD_, SOL_SOCKET, SO_REUSEPORT, &value, sizeof value) != 0) {
                fail(error, SocketError::fromErrno(kSetsockoptFailed));
            } else {
                ok = true;
            }
        }
        return ok;
    });
}

bool AsyncUdpSocket::enableBroadcast(bool flag, SocketError* error) {
    return onQueueSync([&]() -> bool {
        if (!preOp(error) || !createSocketsIfNeeded(error)) {
            return false;
        }
        if (socket4FD_ == -1) {
            return false; // IPv6 has no broadcast
        }
        const int value = flag ? 1 : 0;
        if (setsockopt(socket4FD_, SOL_SOCKET, SO_BROADCAST, &value, sizeof value) != 0) {
            return fail(error, SocketError::fromErrno(kSetsockoptFailed));
        }
        return true;
    });
}

// ---------------------------------------------------------------------------------------------
// Filters

void AsyncUdpSocket::setSendFilter(SendFilter filter, dispatch::QueuePtr queue, FilterMode mode) {
    if (filter && !queue) {
        base::fatal("Must provide a dispatch_queue in which to run the filter block.");
    }
    if (!filter) {
        queue = nullptr;
    }
    onQueueAsync([filter = std::move(filter), queue = std::move(queue), mode](AsyncUdpSocket& s) {
        s.sendFilter_ = filter;
        s.sendFilterQueue_ = queue;
        s.sendFilterAsync_ = mode == FilterMode::asynchronous;
    });
}

void AsyncUdpSocket::setReceiveFilter(ReceiveFilter filter, dispatch::QueuePtr queue, FilterMode mode) {
    if (filter && !queue) {
        base::fatal("Must provide a dispatch_queue in which to run the filter block.");
    }
    if (!filter) {
        queue = nullptr;
    }
    onQueueAsync([filter = std::move(filter), queue = std::move(queue), mode](AsyncUdpSocket& s) {
        s.receiveFilter_ = filter;
        s.receiveFilterQueue_ = queue;
        s.receiveFilterAsync_ = mode == FilterMode::asynchronous;
    });
}

// ---------------------------------------------------------------------------------------------
// Delegate callbacks: posted in the order the socket queue produces them.

// One delegate callback waiting for its turn. Only the fields of its kind mean anything: the
// others may hold what an earlier event left (kept for its buffer).
struct AsyncUdpSocket::DelegateEvent {
    enum class Kind : uint8_t { didConnect, didNotConnect, didSend, didNotSend, didReceive, didClose };
    Kind kind = Kind::didSend;
    long tag = 0;
    Data data;
    Address address;
    FilterContext context;
    std::optional<SocketError> error;
};

// Callbacks on their way to one delegate on one queue. The socket queue appends; one task on
// the delegate queue takes everything appended until it runs, so a burst of datagrams or sends
// costs one hop there, not one each. Delivered batches come back as `spare`, and their events'
// buffers are reused, so steady traffic allocates nothing per datagram.
//
// A batch is `scheduled` from its first event until its delivery task takes it. Sends and
// receipts start it `held`: its delivery task is posted by a flush task queued on the socket
// queue, so it goes out once the work queued there now is done (a window of sends gives one
// batch); any other callback, or a full batch, posts it at once.
struct AsyncUdpSocket::Outbox {
    explicit Outbox(std::shared_ptr<Backlog> b)
        : backlog(std::move(b)) {}
    const std::shared_ptr<Backlog> backlog; // each receipt delivered is taken off it
    std::mutex mutex;
    std::vector<DelegateEvent> events; // the first `count` wait for delivery
    size_t count = 0;
    std::vector<DelegateEvent> spare;
    bool scheduled = false;
    bool held = false;        // scheduled, but its delivery task is not posted yet
    bool flushQueued = false; // a flush task is queued on the socket queue
    // Set while scheduled: who hears the waiting events, where, and the socket they name.
    std::shared_ptr<AsyncUdpSocketDelegate> delegate;
    dispatch::QueuePtr queue;
    std::shared_ptr<AsyncUdpSocket> socket;
};

namespace {
// A batch held for a flush goes out when it reaches this many events; a delivered batch keeps
// at most this many for reuse, and no data buffer larger than kKeptBuffer, so a burst of big
// datagrams does not stay in memory.
constexpr size_t kBatchEvents = 64;
constexpr size_t kKeptBuffer = 2048;
} // namespace

// Appends an event, made by `fill`, for the current delegate. Events are appended on the socket
// queue only, in the order they happen; with no delegate or queue the event is dropped.
template <class Fill> bool AsyncUdpSocket::notify(Delivery delivery, Fill&& fill) {
    auto delegate = delegate_.lock();
    if (!delegate || !delegateQueue_) {
        return false;
    }
    if (!outbox_) {
        outbox_ = std::make_shared<Outbox>(backlog_);
    }
    std::unique_lock lock(outbox_->mutex);
    if (outbox_->scheduled && (outbox_->delegate != delegate || outbox_->queue != delegateQueue_)) {
        // The delegate or its queue changed: the waiting events still go where they were meant
        // to, the new ones go through a new outbox.
        const bool post = std::exchange(outbox_->held, false);
        lock.unlock();
        if (post) {
            postDelivery(outbox_);
        }
        outbox_ = std::make_shared<Outbox>(backlog_);
        lock = std::unique_lock(outbox_->mutex);
    }
    Outbox& box = *outbox_;
    if (!box.scheduled) {
        auto self = weak_from_this().lock();
        if (!self) {
            return false; // being destroyed: no callbacks
        }
        box.scheduled = true;
        box.held = true;
        box.delegate = std::move(delegate);
        box.queue = delegateQueue_;
        box.socket = std::move(self);
    }
    if (box.count == box.events.size()) {
        box.events.emplace_back();
    }
    fill(box.events[box.count++]);
    bool post = false;
    bool flush = false;
    if (box.held) {
        if (delivery == Delivery::now || box.count >= kBatchEvents) {
            box.held = false;
            post = true;
        } else if (!box.flushQueued) {
            box.flushQueued = true;
            flush = true;
        }
    }
    lock.unlock();
    if (post) {
        postDelivery(outbox_);
    }
    if (flush) {
        socketQueue_->async([box = outbox_] {
            bool post = false;
            {
                std::lock_guard lock(box->mutex);
                box->flushQueued = false;
                post = std::exchange(box->held, false);
            }
            if (post) {
                postDelivery(box);
            }
        });
    }
    return true;
}

// Called once per batch, by whoever cleared `held`: nothing else touches the batch until its
// delivery task runs.
void AsyncUdpSocket::postDelivery(const std::shared_ptr<Outbox>& box) {
    box->queue->async([box] { deliverEvents(*box); });
}

void AsyncUdpSocket::deliverEvents(Outbox& box) {
    std::vector<DelegateEvent> batch;
    size_t count = 0;
    std::shared_ptr<AsyncUdpSocketDelegate> delegate;
    std::shared_ptr<AsyncUdpSocket> socket;
    {
        std::lock_guard lock(box.mutex);
        batch.swap(box.events);
        box.events.swap(box.spare); // the next events reuse an earlier batch's buffers
        count = std::exchange(box.count, 0);
        box.scheduled = false;
        delegate = std::move(box.delegate);
        socket = std::move(box.socket);
        box.queue = nullptr;
    }
    for (size_t i = 0; i < count; ++i) {
        DelegateEvent& e = batch[i];
        switch (e.kind) {
        case DelegateEvent::Kind::didConnect:
            delegate->udpSocketDidConnectToAddress(*socket, e.address);
            break;
        case DelegateEvent::Kind::didNotConnect:
            delegate->udpSocketDidNotConnect(*socket, *e.error);
            break;
        case DelegateEvent::Kind::didSend:
            delegate->udpSocketDidSendDataWithTag(*socket, e.tag);
            break;
        case DelegateEvent::Kind::didNotSend:
            delegate->udpSocketDidNotSendDataWithTag(*socket, e.tag, *e.error);
            break;
        case DelegateEvent::Kind::didReceive:
            delegate->udpSocketDidReceiveData(*socket, e.data, e.address, e.context);
            box.backlog->release(e.data.size());
            break;
        case DelegateEvent::Kind::didClose:
            delegate->udpSocketDidClose(*socket, e.error);
            break;
        }
        e.context = nullptr; // the filter's context belongs to the delegate once delivered
        e.error.reset();
    }
    delegate = nullptr;
    if (batch.size() > kBatchEvents) {
        batch.resize(kBatchEvents);
    }
    for (DelegateEvent& e : batch) {
        if (e.data.capacity() > kKeptBuffer) {
            Data().swap(e.data);
        }
    }
    {
        std::lock_guard lock(box.mutex);
        if (box.spare.empty()) {
            box.spare.swap(batch);
        }
    }
    // The last reference to the socket may go here, as it would with any task that named it.
}

void AsyncUdpSocket::notifyDidConnect(Address address) {
    notify(Delivery::now, [&](DelegateEvent& e) {
        e.kind = DelegateEvent::Kind::didConnect;
        e.address = std::move(address);
    });
}

void AsyncUdpSocket::notifyDidNotConnect(SocketError error) {
    notify(Delivery::now, [&](DelegateEvent& e) {
        e.kind = DelegateEvent::Kind::didNotConnect;
        e.error = std::move(error);
    });
}

void AsyncUdpSocket::notifyDidSend(long tag) {
    notify(Delivery::batched, [&](DelegateEvent& e) {
        e.kind = DelegateEvent::Kind::didSend;
        e.tag = tag;
    });
}

void AsyncUdpSocket::notifyDidNotSend(long tag, SocketError error) {
    notify(Delivery::now, [&](DelegateEvent& e) {
        e.kind = DelegateEvent::Kind::didNotSend;
        e.tag = tag;
        e.error = std::move(error);
    });
}

void AsyncUdpSocket::notifyDidReceive(Data data, Address from, FilterContext context) {
    const size_t size = data.size();
    const bool queued = notify(Delivery::batched, [&](DelegateEvent& e) {
        e.kind = DelegateEvent::Kind::didReceive;
        e.data = std::move(data);
        e.address = std::move(from);
        e.context = std::move(context);
    });
    if (!queued) {
        backlog_->release(size);
    }
}

void AsyncUdpSocket::notifyDidReceive(const uint8_t* data, size_t length, const sockaddr_storage& from,
                                      size_t fromLength) {
    const bool queued = notify(Delivery::batched, [&](DelegateEvent& e) {
        e.kind = DelegateEvent::Kind::didReceive;
        e.data.assign(data, data + length); // into the buffer of a delivered event, when there is one
        const auto* address = reinterpret_cast<const uint8_t*>(&from);
        e.address.assign(address, address + fromLength);
        e.context = nullptr;
    });
    if (!queued) {
        backlog_->release(length);
    }
}

void AsyncUdpSocket::notifyDidClose(std::optional<SocketError> error) {
    notify(Delivery::now, [&](DelegateEvent& e) {
        e.kind = DelegateEvent::Kind::didClose;
        e.error = std::move(error);
    });
}

// ---------------------------------------------------------------------------------------------
// Address utilities (Linux layout: a 16-bit family at offset 0, no length byte)

std::string AsyncUdpSocket::hostFromSockaddr4(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    return inet_ntop(AF_INET, &address.sin_addr, text, sizeof text) ? std::string(text) : std::string();
}

std::string AsyncUdpSocket::hostFromSockaddr6(const sockaddr_in6& address) {
    char text[INET6_ADDRSTRLEN] = {};
    return inet_ntop(AF_INET6, &address.sin6_addr, text, sizeof text) ? std::string(text) : std::string();
}

uint16_t AsyncUdpSocket::portFromSockaddr4(const sockaddr_in& address) {
    return ntohs(address.sin_port);
}

uint16_t AsyncUdpSocket::portFromSockaddr6(const sockaddr_in6& address) {
    return ntohs(address.sin6_port);
}

bool AsyncUdpSocket::getHost(std::string* host, uint16_t* port, int* family, const Address& address) {
    if (address.size() >= kSize4) {
        sa_family_t fam = 0;
        std::memcpy(&fam, address.data(), sizeof fam);
        if (fam == AF_INET6 && address.size() >= kSize6) {
            sockaddr_in6 sa{};
            std::memcpy(&sa, address.data(), kSize6);
            if (host) {
                *host = hostFromSockaddr6(sa);
            }
            if (port) {
                *port = portFromSockaddr6(sa);
            }
            if (family) {
                *family = AF_INET6;
            }
            return true;
        }
        if (fam == AF_INET) {
            sockaddr_in sa{};
            std::memcpy(&sa, address.data(), kSize4);
            if (host) {
                *host = hostFromSockaddr4(sa);
            }
            if (port) {
                *port = portFromSockaddr4(sa);
            }
            if (family) {
                *family = AF_INET;
            }
            return true;
        }
    }
    if (host) {
        host->clear();
    }
    if (port) {
        *port = 0;
    }
    if (family) {
        *family = AF_UNSPEC;
    }
    return false;
}

std::string AsyncUdpSocket::hostFromAddress(const Address& address) {
    std::string host;
    getHost(&host, nullptr, nullptr, address);
    return host;
}

uint16_t AsyncUdpSocket::portFromAddress(const Address& address) {
    uint16_t port = 0;
    getHost(nullptr, &port, nullptr, address);
    return port;
}

int AsyncUdpSocket::familyFromAddress(const Address& address) {
    int family = AF_UNSPEC;
    getHost(nullptr, nullptr, &family, address);
    return family;
}

bool AsyncUdpSocket::isIPv4Address(const Address& address) {
    return familyFromAddress(address) == AF_INET;
}

bool AsyncUdpSocket::isIPv6Address(const Address& address) {
    return familyFromAddress(address) == AF_INET6;
}

} // namespace sockets

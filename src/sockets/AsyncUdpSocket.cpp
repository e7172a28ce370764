// The datagram socket: construction, queue discipline, accessors, bind and close.
#include "sockets/AsyncUdpSocketPrivate.h"

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

using namespace udp;

namespace {

// One non-blocking datagram socket; -1 and the error of the failing step otherwise.
int createSocket(int domain, int bufferSize, SocketError* error) {
    const int fd = openSocket(domain, SOCK_DGRAM, error);
    if (fd < 0) {
        return -1;
    }
    auto failed = [&](const char* reason) { return failSocketSetup(fd, reason, error); };
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
    (void)setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);    // drop counts only: optional
    (void)setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on); // arrival stamps: optional
    // The address each datagram came to, so that a reply can leave from it: optional.
    if (domain == AF_INET) {
        (void)setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    } else {
        (void)setsockopt(fd, IPPROTO_IPV6, IPV6_RECVPKTINFO, &on, sizeof on);
    }
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

AsyncUdpSocket::SendErrorPolicy AsyncUdpSocket::sendErrorPolicy() const {
    return onQueueSync([this] { return sendErrorPolicy_; });
}

void AsyncUdpSocket::setSendErrorPolicy(SendErrorPolicy policy) {
    onQueueAsync([policy](AsyncUdpSocket& s) { s.sendErrorPolicy_ = policy; });
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
        const InterfaceAddresses addresses = interfaceAddresses(interface, port);
        const Address& a4 = addresses.ipv4;
        const Address& a6 = addresses.ipv6;
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
// Address utilities, shared with the stream socket

std::string AsyncUdpSocket::hostFromSockaddr4(const sockaddr_in& address) {
    return sockets::hostFromSockaddr4(address);
}

std::string AsyncUdpSocket::hostFromSockaddr6(const sockaddr_in6& address) {
    return sockets::hostFromSockaddr6(address);
}

uint16_t AsyncUdpSocket::portFromSockaddr4(const sockaddr_in& address) {
    return sockets::portFromSockaddr4(address);
}

uint16_t AsyncUdpSocket::portFromSockaddr6(const sockaddr_in6& address) {
    return sockets::portFromSockaddr6(address);
}

bool AsyncUdpSocket::getHost(std::string* host, uint16_t* port, int* family, const Address& address) {
    if (sockets::getHost(host, port, family, address)) {
        return true;
    }
    // Unlike the shared form, this one answers "no address" through the outputs too.
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
    return sockets::hostFromAddress(address);
}

uint16_t AsyncUdpSocket::portFromAddress(const Address& address) {
    return sockets::portFromAddress(address);
}

int AsyncUdpSocket::familyFromAddress(const Address& address) {
    return sockets::familyFromAddress(address);
}

bool AsyncUdpSocket::isIPv4Address(const Address& address) {
    return sockets::isIPv4Address(address);
}

bool AsyncUdpSocket::isIPv6Address(const Address& address) {
    return sockets::isIPv6Address(address);
}

} // namespace sockets

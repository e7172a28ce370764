// The stream socket: construction, queue discipline, accessors, delegate calls and close.
#include "sockets/AsyncSocketPrivate.h"

#include "base/Log.h"
#include "dispatch/Source.h"

#include <cstring>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace sockets {

using namespace stream;

dispatch::QueuePtr AsyncSocketDelegate::newSocketQueueForConnection(const Address&, AsyncSocket&) {
    return nullptr;
}
void AsyncSocketDelegate::socketDidAcceptNewSocket(AsyncSocket&, std::shared_ptr<AsyncSocket>) {}
void AsyncSocketDelegate::socketDidConnectToHost(AsyncSocket&, const std::string&, uint16_t) {}
void AsyncSocketDelegate::socketDidConnectToUrl(AsyncSocket&, const std::string&) {}
void AsyncSocketDelegate::socketDidReadData(AsyncSocket&, const Data&, long) {}
void AsyncSocketDelegate::socketDidReadPartialData(AsyncSocket&, size_t, long) {}
double AsyncSocketDelegate::socketShouldTimeoutRead(AsyncSocket&, long, double, size_t) {
    return 0;
}
void AsyncSocketDelegate::socketDidWriteData(AsyncSocket&, long) {}
void AsyncSocketDelegate::socketDidWritePartialData(AsyncSocket&, size_t, long) {}
double AsyncSocketDelegate::socketShouldTimeoutWrite(AsyncSocket&, long, double, size_t) {
    return 0;
}
void AsyncSocketDelegate::socketDidCloseReadStream(AsyncSocket&) {}
void AsyncSocketDelegate::socketDidSecure(AsyncSocket&) {}
bool AsyncSocketDelegate::socketDidReceiveTrust(AsyncSocket&, const TlsTrust&, std::function<void(bool)>) {
    return false;
}
void AsyncSocketDelegate::socketDidDisconnect(AsyncSocket*, const std::optional<SocketError>&) {}

// ---------------------------------------------------------------------------------------------
// Construction, queue discipline

std::shared_ptr<AsyncSocket> AsyncSocket::make(std::weak_ptr<AsyncSocketDelegate> delegate,
                                               dispatch::QueuePtr delegateQueue,
                                               dispatch::QueuePtr socketQueue) {
    if (socketQueue && socketQueue->kind() == dispatch::Queue::Kind::concurrent) {
        base::fatal("The given socketQueue parameter must not be a concurrent queue.");
    }
    return std::shared_ptr<AsyncSocket>(
        new AsyncSocket(std::move(delegate), std::move(delegateQueue), std::move(socketQueue)));
}

AsyncSocket::AsyncSocket(std::weak_ptr<AsyncSocketDelegate> delegate, dispatch::QueuePtr delegateQueue,
                         dispatch::QueuePtr socketQueue)
    : delegate_(std::move(delegate))
    , delegateQueue_(std::move(delegateQueue))
    , socketQueue_(socketQueue ? std::move(socketQueue) : dispatch::Queue::makeSerial("AsyncSocket"))
    , preBuffer_(std::make_unique<PreBuffer>(4096))
    , tls_(std::make_unique<TlsState>(*this)) {
    socketQueue_->setSpecific(&isOnSocketQueueOrTargetQueueKey_, this);
}

AsyncSocket::~AsyncSocket() {
    auto close = [this] {
        flags_ |= kFlagDeallocating;
        closeWithError(std::nullopt);
    };
    if (onSocketQueue()) {
        close();
    } else {
        socketQueue_->sync(close);
        socketQueue_->sync([] {}); // the sources' cancel handlers close the descriptors: wait for them
    }
    socketQueue_->setSpecific(&isOnSocketQueueOrTargetQueueKey_, nullptr);
}

bool AsyncSocket::onSocketQueue() const {
    return dispatch::currentSpecific(&isOnSocketQueueOrTargetQueueKey_) == this;
}

void AsyncSocket::onQueueAsync(std::function<void(AsyncSocket&)> f) {
    if (onSocketQueue()) {
        f(*this);
        return;
    }
    postToQueue(std::move(f));
}

void AsyncSocket::postToQueue(std::function<void(AsyncSocket&)> f) {
    socketQueue_->async([weak = weak_from_this(), f = std::move(f)] {
        if (auto self = weak.lock()) {
            f(*self);
        }
    });
}

void AsyncSocket::performBlock(const std::function<void()>& block) {
    onQueueSync([&] { block(); });
}

void AsyncSocket::markSocketQueueTargetQueue(const dispatch::QueuePtr& queue) {
    queue->setSpecific(&isOnSocketQueueOrTargetQueueKey_, this);
}

void AsyncSocket::unmarkSocketQueueTargetQueue(const dispatch::QueuePtr& queue) {
    queue->setSpecific(&isOnSocketQueueOrTargetQueueKey_, nullptr);
}

void AsyncSocket::notify(std::function<void(AsyncSocketDelegate&, AsyncSocket&)> call) {
    auto delegate = delegate_.lock();
    auto self = weak_from_this().lock();
    if (!delegate || !delegateQueue_ || !self) {
        return;
    }
    delegateQueue_->async([delegate = std::move(delegate), self = std::move(self), call = std::move(call)] {
        call(*delegate, *self);
    });
}

// ---------------------------------------------------------------------------------------------
// Accessors

std::shared_ptr<AsyncSocketDelegate> AsyncSocket::delegate() const {
    return onQueueSync([this] { return delegate_.lock(); });
}

dispatch::QueuePtr AsyncSocket::delegateQueue() const {
    return onQueueSync([this] { return delegateQueue_; });
}

std::pair<std::shared_ptr<AsyncSocketDelegate>, dispatch::QueuePtr> AsyncSocket::delegateAndQueue() const {
    return onQueueSync([this] { return std::make_pair(delegate_.lock(), delegateQueue_); });
}

void AsyncSocket::setDelegate(std::weak_ptr<AsyncSocketDelegate> delegate, SetMode mode) {
    auto set = [delegate = std::move(delegate)](AsyncSocket& s) { s.delegate_ = delegate; };
    if (mode == SetMode::synchronously) {
        onQueueSync([&] { set(*this); });
    } else {
        onQueueAsync(set);
    }
}

void AsyncSocket::setDelegateQueue(dispatch::QueuePtr queue, SetMode mode) {
    auto set = [queue = std::move(queue)](AsyncSocket& s) { s.delegateQueue_ = queue; };
    if (mode == SetMode::synchronously) {
        onQueueSync([&] { set(*this); });
    } else {
        onQueueAsync(set);
    }
}

void AsyncSocket::setDelegate(std::weak_ptr<AsyncSocketDelegate> delegate, dispatch::QueuePtr queue,
                              SetMode mode) {
    auto set = [delegate = std::move(delegate), queue = std::move(queue)](AsyncSocket& s) {
        s.delegate_ = delegate;
        s.delegateQueue_ = queue;
    };
    if (mode == SetMode::synchronously) {
        onQueueSync([&] { set(*this); });
    } else {
        onQueueAsync(set);
    }
}

namespace {
void setBit(uint16_t& config, uint16_t bit, bool on) {
    config = on ? (config | bit) : (config & ~bit);
}
} // namespace

bool AsyncSocket::isIPv4Enabled() const {
    return onQueueSync([this] { return !(config_ & kConfigIPv4Disabled); });
}

void AsyncSocket::setIPv4Enabled(bool enabled) {
    onQueueAsync([enabled](AsyncSocket& s) { setBit(s.config_, kConfigIPv4Disabled, !enabled); });
}

bool AsyncSocket::isIPv6Enabled() const {
    return onQueueSync([this] { return !(config_ & kConfigIPv6Disabled); });
}

void AsyncSocket::setIPv6Enabled(bool enabled) {
    onQueueAsync([enabled](AsyncSocket& s) { setBit(s.config_, kConfigIPv6Disabled, !enabled); });
}

bool AsyncSocket::isIPv4PreferredOverIPv6() const {
    return onQueueSync([this] { return !(config_ & kConfigPreferIPv6); });
}

void AsyncSocket::setIPv4PreferredOverIPv6(bool preferred) {
    onQueueAsync([preferred](AsyncSocket& s) { setBit(s.config_, kConfigPreferIPv6, !preferred); });
}

double AsyncSocket::alternateAddressDelay() const {
    return onQueueSync([this] { return alternateAddressDelay_; });
}

void AsyncSocket::setAlternateAddressDelay(double seconds) {
    onQueueAsync([seconds](AsyncSocket& s) { s.alternateAddressDelay_ = seconds; });
}

bool AsyncSocket::autoDisconnectOnClosedReadStream() const {
    return onQueueSync([this] { return !(config_ & kConfigHalfDuplex); });
}

void AsyncSocket::setAutoDisconnectOnClosedReadStream(bool flag) {
    onQueueAsync([flag](AsyncSocket& s) { setBit(s.config_, kConfigHalfDuplex, !flag); });
}

std::shared_ptr<void> AsyncSocket::userData() const {
    return onQueueSync([this] { return userData_; });
}

void AsyncSocket::setUserData(std::shared_ptr<void> data) {
    onQueueAsync([data = std::move(data)](AsyncSocket& s) {
        if (s.userData_ != data) {
            s.userData_ = data;
        }
    });
}

bool AsyncSocket::isDisconnected() const {
    return onQueueSync([this] { return !(flags_ & kFlagStarted); });
}

bool AsyncSocket::isConnected() const {
    return onQueueSync([this] { return (flags_ & kFlagConnected) != 0; });
}

bool AsyncSocket::isIPv4() const {
    return onQueueSync([this] { return socket4FD_ != -1; });
}

bool AsyncSocket::isIPv6() const {
    return onQueueSync([this] { return socket6FD_ != -1; });
}

bool AsyncSocket::isSecure() const {
    return onQueueSync([this] { return (flags_ & kFlagSecure) != 0; });
}

Address AsyncSocket::connectedAddress() const {
    return onQueueSync([this] {
        const int fd = socket6FD_ != -1 ? socket6FD_ : socket4FD_;
        return fd == -1 ? Address{} : peerAddressOf(fd);
    });
}

Address AsyncSocket::localAddress() const {
    return onQueueSync([this] {
        const int fd = socket6FD_ != -1 ? socket6FD_ : socket4FD_;
        return fd == -1 ? Address{} : localAddressOf(fd);
    });
}

std::string AsyncSocket::connectedHost() const {
    return onQueueSync([this] {
        const int fd = socket4FD_ != -1 ? socket4FD_ : socket6FD_;
        return fd == -1 ? std::string() : hostFromAddress(peerAddressOf(fd));
    });
}

uint16_t AsyncSocket::connectedPort() const {
    return onQueueSync([this]() -> uint16_t {
        const int fd = socket4FD_ != -1 ? socket4FD_ : socket6FD_;
        return fd == -1 ? 0 : portFromAddress(peerAddressOf(fd));
    });
}

std::string AsyncSocket::localHost() const {
    return onQueueSync([this] {
        const int fd = socket4FD_ != -1 ? socket4FD_ : socket6FD_;
        return fd == -1 ? std::string() : hostFromAddress(localAddressOf(fd));
    });
}

uint16_t AsyncSocket::localPort() const {
    return onQueueSync([this]() -> uint16_t {
        const int fd = socket4FD_ != -1 ? socket4FD_ : socket6FD_;
        return fd == -1 ? 0 : portFromAddress(localAddressOf(fd));
    });
}

std::string AsyncSocket::connectedUrl() const {
    return onQueueSync([this] {
        if (socketUN_ == -1) {
            return std::string();
        }
        sockaddr_un sa{};
        socklen_t length = sizeof sa;
        if (getpeername(socketUN_, reinterpret_cast<sockaddr*>(&sa), &length) != 0) {
            return std::string();
        }
        return pathFromSockaddrUN(sa, length);
    });
}

int AsyncSocket::socketFD() const {
    if (!onSocketQueue()) {
        return -1;
    }
    return socket4FD_ != -1 ? socket4FD_ : socket6FD_;
}

int AsyncSocket::socket4FD() const {
    return onSocketQueue() ? socket4FD_ : -1;
}

int AsyncSocket::socket6FD() const {
    return onSocketQueue() ? socket6FD_ : -1;
}

int AsyncSocket::connectedFD() const {
    if (socket4FD_ != -1) {
        return socket4FD_;
    }
    return socket6FD_ != -1 ? socket6FD_ : socketUN_;
}

// ---------------------------------------------------------------------------------------------
// Checks before accepting or connecting; `verb` is "accept" or "connect".

bool AsyncSocket::checkDelegate(const char* verb, SocketError* error) const {
    if (delegate_.expired()) {
        return fail(error, badConfigError(std::string("Attempting to ") + verb +
                                          " without a delegate. Set a delegate first."));
    }
    if (!delegateQueue_) {
        return fail(error, badConfigError(std::string("Attempting to ") + verb +
                                          " without a delegate queue. Set a delegate queue first."));
    }
    return true;
}

bool AsyncSocket::checkIdle(const char* verb, SocketError* error) const {
    if (flags_ & kFlagStarted) {
        return fail(error, badConfigError(std::string("Attempting to ") + verb +
                                          " while connected or accepting connections. Disconnect first."));
    }
    return true;
}

bool AsyncSocket::resolveInterface(const std::optional<std::string>& interface, uint16_t port,
                                   InterfaceAddresses* addresses, SocketError* error) const {
    *addresses = streamInterfaceAddresses(interface, port);
    if (addresses->ipv4.empty() && addresses->ipv6.empty()) {
        return fail(error, badParamError(kUnknownInterface));
    }
    if ((config_ & kConfigIPv4Disabled) && addresses->ipv6.empty()) {
        return fail(error,
                    badParamError("IPv4 has been disabled and specified interface doesn't support IPv6."));
    }
    if ((config_ & kConfigIPv6Disabled) && addresses->ipv4.empty()) {
        return fail(error,
                    badParamError("IPv6 has been disabled and specified interface doesn't support IPv4."));
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Closing

void AsyncSocket::disconnect() {
    onQueueSync([this] {
        if (flags_ & kFlagStarted) {
            closeWithError(std::nullopt);
        }
    });
}

void AsyncSocket::disconnectAfter(uint32_t bits) {
    postToQueue([bits](AsyncSocket& s) {
        if (s.flags_ & kFlagStarted) {
            s.flags_ |= kFlagNoNewIO | bits;
            s.maybeClose();
        }
    });
}

void AsyncSocket::disconnectAfterReading() {
    disconnectAfter(kFlagCloseAfterReads);
}

void AsyncSocket::disconnectAfterWriting() {
    disconnectAfter(kFlagCloseAfterWrites);
}

void AsyncSocket::disconnectAfterReadingAndWriting() {
    disconnectAfter(kFlagCloseAfterReads | kFlagCloseAfterWrites);
}

void AsyncSocket::maybeClose() {
    const bool readsDone = readQueue_.empty() && !currentRead_;
    const bool writesDone = writeQueue_.empty() && !currentWrite_ && tls_->pendingOut() == 0;
    if (flags_ & kFlagCloseAfterReads) {
        if (readsDone && (!(flags_ & kFlagCloseAfterWrites) || writesDone)) {
            closeWithError(std::nullopt);
        }
    } else if ((flags_ & kFlagCloseAfterWrites) && writesDone) {
        closeWithError(std::nullopt);
    }
}

void AsyncSocket::closeWithError(std::optional<SocketError> error) {
    socketQueue_->assertOnQueue();
    endConnectTimeout();
    if (currentRead_) {
        endCurrentRead();
    }
    if (currentWrite_) {
        endCurrentWrite();
    }
    readQueue_.clear();
    writeQueue_.clear();
    preBuffer_->reset();
    closeTLS();
    // Connects in progress: their descriptors close below.
    for (auto* source : {&connect4Source_, &connect6Source_, &connectUNSource_}) {
        if (*source) {
            (*source)->cancel();
            source->reset();
        }
    }
    // Listening descriptors close here, not in a cancel handler that runs after we return: the
    // port must be free for a new listener the moment close is over. A cancelled source no longer
    // touches its descriptor.
    const std::pair<std::shared_ptr<dispatch::ReadSource>*, int*> listening[] = {
        {&accept4Source_, &socket4FD_}, {&accept6Source_, &socket6FD_}, {&acceptUNSource_, &socketUN_}};
    for (const auto& [source, fd] : listening) {
        if (*source) {
            (*source)->cancel();
            source->reset();
            ::close(*fd);
            *fd = -1;
        }
    }
    if (!readSource_ && !writeSource_) {
        for (int* fd : {&socket4FD_, &socket6FD_, &socketUN_}) {
            if (*fd != -1) {
                ::close(*fd);
                *fd = -1;
            }
        }
    } else {
        // A cancelled source runs its cancel handler also when suspended; the last one closes.
        if (readSource_) {
            readSource_->cancel();
            readSource_.reset();
        }
        if (writeSource_) {
            writeSource_->cancel();
            writeSource_.reset();
        }
        socket4FD_ = socket6FD_ = socketUN_ = -1;
    }
    socketPath_.clear(); // a listener's file stays; the next acceptOnUrl replaces it
    const bool started = flags_ & kFlagStarted;
    const bool deallocating = flags_ & kFlagDeallocating;
    socketFDBytesAvailable_ = 0;
    flags_ = 0;
    if (!started) {
        return;
    }
    if (deallocating) {
        auto delegate = delegate_.lock();
        if (delegate && delegateQueue_) {
            delegateQueue_->async([delegate, error] { delegate->socketDidDisconnect(nullptr, error); });
        }
        return;
    }
    notify([error = std::move(error)](AsyncSocketDelegate& d, AsyncSocket& s) {
        d.socketDidDisconnect(&s, error);
    });
}

// ---------------------------------------------------------------------------------------------
// Utilities

std::vector<Address> AsyncSocket::lookupHost(const std::string& host, uint16_t port, SocketError* error) {
    LookupResult result = sockets::lookupHost(host, port, SOCK_STREAM);
    if (result.error) {
        fail(error, *result.error);
    }
    return std::move(result.addresses);
}

Data AsyncSocket::CRLFData() {
    return Data{'\r', '\n'};
}

Data AsyncSocket::CRData() {
    return Data{'\r'};
}

Data AsyncSocket::LFData() {
    return Data{'\n'};
}

Data AsyncSocket::ZeroData() {
    return Data{0};
}

namespace stream {

InterfaceAddresses streamInterfaceAddresses(const std::optional<std::string>& description, uint16_t port) {
    if (!description || description->empty()) {
        return interfaceAddresses(std::nullopt, port);
    }
    const size_t colon = description->find(':');
    const std::string name = description->substr(0, colon);
    if (colon != std::string::npos && port == 0) {
        const std::string digits =
            description->substr(colon + 1, description->find(':', colon + 1) - colon - 1);
        char* end = nullptr;
        const long value = digits.empty() ? 0 : std::strtol(digits.c_str(), &end, 10);
        if (end != nullptr && *end == '\0' && value >= 1 && value <= 65535) {
            port = static_cast<uint16_t>(value);
        }
    }
    return interfaceAddresses(name.empty() ? std::nullopt : std::optional<std::string>(name), port);
}

} // namespace stream

} // namespace sockets

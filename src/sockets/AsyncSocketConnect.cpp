// The stream socket's connecting: host lookup, the race of both families, time-out.
#include "sockets/AsyncSocketPrivate.h"

#include "base/Log.h"
#include "dispatch/Source.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace sockets {

using namespace stream;

// ---------------------------------------------------------------------------------------------
// Connecting

bool AsyncSocket::preConnect(const std::optional<std::string>& interface, SocketError* error) {
    if (!checkDelegate("connect", error) || !checkIdle("connect", error)) {
        return false;
    }
    if ((config_ & kConfigIPv4Disabled) && (config_ & kConfigIPv6Disabled)) {
        return fail(error, badConfigError(kBothDisabled));
    }
    if (interface) {
        InterfaceAddresses addresses;
        if (!resolveInterface(interface, 0, &addresses, error)) {
            return false;
        }
        connectInterface4_ = std::move(addresses.ipv4);
        connectInterface6_ = std::move(addresses.ipv6);
    }
    readQueue_.clear();
    writeQueue_.clear();
    connectHostName_.clear();
    return true;
}

bool AsyncSocket::connectToHost(const std::string& host, uint16_t port, double timeout, SocketError* error) {
    return connectToHost(host, port, std::nullopt, timeout, error);
}

bool AsyncSocket::connectToHost(const std::string& host, uint16_t port,
                                const std::optional<std::string>& interface, double timeout,
                                SocketError* error) {
    return onQueueSync([&]() -> bool {
        if (host.empty()) {
            return fail(error,
                        badParamError("Invalid host parameter (nil or \"\"). Should be a domain name or IP "
                                      "address string."));
        }
        if (!preConnect(interface, error)) {
            return false;
        }
        // What a TLS client expects its certificate to name: the host name, or the address.
        const InterfaceAddresses numeric = numericHostAddresses(host, port);
        connectHostName_ = numeric.ipv4.empty() && numeric.ipv6.empty()
                               ? host
                               : hostFromAddress(numeric.ipv4.empty() ? numeric.ipv6 : numeric.ipv4);
        flags_ |= kFlagStarted;
        const uint64_t generation = stateIndex_;
        dispatch::globalQueue()->async([self = shared_from_this(), host, port, generation] {
            LookupResult result = sockets::lookupHost(host, port, SOCK_STREAM);
            self->socketQueue_->async([self, generation, result = std::move(result)] {
                if (generation != self->stateIndex_) {
                    return; // closed, timed out or restarted meanwhile
                }
                if (result.error) {
                    self->endConnectTimeout();
                    self->closeWithError(*result.error);
                    return;
                }
                Address a4;
                Address a6;
                for (const Address& a : result.addresses) {
                    Address& slot = isIPv4Address(a) ? a4 : a6;
                    if (slot.empty()) {
                        slot = a;
                    }
                }
                // A disabled family takes no part in the race.
                if (self->config_ & kConfigIPv4Disabled) {
                    a4.clear();
                }
                if (self->config_ & kConfigIPv6Disabled) {
                    a6.clear();
                }
                if (a4.empty() && a6.empty()) {
                    self->closeWithError(
                        otherError((self->config_ & kConfigIPv4Disabled)
                                       ? "IPv4 has been disabled and DNS lookup found no IPv6 address."
                                       : "IPv6 has been disabled and DNS lookup found no IPv4 address."));
                    return;
                }
                SocketError connectError;
                if (!self->connectWithAddresses(a4, a6, &connectError)) {
                    self->closeWithError(std::move(connectError));
                }
            });
        });
        startConnectTimeout(timeout);
        return true;
    });
}

bool AsyncSocket::connectToAddress(const Address& address, double timeout, SocketError* error) {
    return connectToAddress(address, std::nullopt, timeout, error);
}

bool AsyncSocket::connectToAddress(const Address& address, const std::optional<std::string>& interface,
                                   double timeout, SocketError* error) {
    return onQueueSync([&]() -> bool {
        const bool v4 = address.size() == sizeof(sockaddr_in) && isIPv4Address(address);
        const bool v6 = address.size() == sizeof(sockaddr_in6) && isIPv6Address(address);
        if (!v4 && !v6) {
            return fail(error, badParamError("A valid IPv4 or IPv6 address was not given"));
        }
        if (v4 && (config_ & kConfigIPv4Disabled)) {
            return fail(error, badParamError("IPv4 has been disabled and an IPv4 address was passed."));
        }
        if (v6 && (config_ & kConfigIPv6Disabled)) {
            return fail(error, badParamError("IPv6 has been disabled and an IPv6 address was passed."));
        }
        if (!preConnect(interface, error) ||
            !connectWithAddresses(v4 ? address : Address{}, v6 ? address : Address{}, error)) {
            return false;
        }
        connectHostName_ = hostFromAddress(address); // the certificate must name this address
        flags_ |= kFlagStarted;
        startConnectTimeout(timeout);
        return true;
    });
}

bool AsyncSocket::connectToAddresses(const std::vector<Address>& addresses, SocketError* error) {
    for (const Address& address : addresses) {
        if (connectToAddress(address, -1, error)) {
            return true;
        }
    }
    return false;
}

bool AsyncSocket::connectToUrl(const std::string& path, double timeout, SocketError* error) {
    return onQueueSync([&]() -> bool {
        if (path.empty()) {
            return fail(error, badParamError("Invalid unix domain socket url."));
        }
        if (!preConnect(std::nullopt, error)) {
            return false;
        }
        connectInterfaceUN_ = unixAddress(path);
        if (connectInterfaceUN_.empty()) {
            return fail(error, badParamError(kUnknownInterface));
        }
        flags_ |= kFlagStarted;
        SocketError createError;
        socketUN_ = createSocket(AF_UNIX, {}, &createError);
        if (socketUN_ == -1) {
            closeWithError(createError);
            return false;
        }
        connectSocket(socketUN_, connectInterfaceUN_, stateIndex_);
        startConnectTimeout(timeout);
        return true;
    });
}

// Both families' sockets are made now; the preferred one connects at once, the other after the
// alternate delay, and the first one up wins.
bool AsyncSocket::connectWithAddresses(const Address& a4, const Address& a6, SocketError* error) {
    if (!a4.empty()) {
        socket4FD_ = createSocket(AF_INET, connectInterface4_, error);
    }
    if (!a6.empty()) {
        socket6FD_ = createSocket(AF_INET6, connectInterface6_, error);
    }
    if (socket4FD_ == -1 && socket6FD_ == -1) {
        return false;
    }
    const bool sixFirst = ((config_ & kConfigPreferIPv6) && socket6FD_ != -1) || socket4FD_ == -1;
    const int firstFD = sixFirst ? socket6FD_ : socket4FD_;
    const int secondFD = sixFirst ? socket4FD_ : socket6FD_;
    const Address& second = sixFirst ? a4 : a6;
    const uint64_t generation = stateIndex_;
    connectSocket(firstFD, sixFirst ? a6 : a4, generation);
    if (secondFD != -1 && !second.empty()) {
        socketQueue_->asyncAfter(seconds(alternateAddressDelay_),
                                 [weak = weak_from_this(), secondFD, second, generation] {
                                     if (auto self = weak.lock()) {
                                         self->connectSocket(secondFD, second, generation);
                                     }
                                 });
    }
    return true;
}

int AsyncSocket::createSocket(int family, const Address& interface, SocketError* error) {
    const int fd = openSocket(family, SOCK_STREAM | SOCK_NONBLOCK, error);
    if (fd < 0) {
        return -1;
    }
    if (!interface.empty()) {
        const int on = 1;
        if (portFromAddress(interface) != 0) {
            setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        }
        if (::bind(fd, reinterpret_cast<const sockaddr*>(interface.data()),
                   static_cast<socklen_t>(interface.size())) != 0) {
            fail(error, SocketError::fromErrno("Error in bind() function"));
            ::close(fd);
            return -1;
        }
    }
    return fd;
}

// Never blocks: a connect in progress finishes when the descriptor turns writable, and SO_ERROR
// tells how. The watch belongs to this generation: whatever ends it cancels the watch and closes
// the descriptor on the socket queue, so no late result can touch a reused descriptor number.
void AsyncSocket::connectSocket(int fd, const Address& address, uint64_t generation) {
    if (generation != stateIndex_ || (fd != socket4FD_ && fd != socket6FD_ && fd != socketUN_)) {
        return;
    }
    // Even a connect that completes at once is reported through the watch, never from inside
    // the call that started it.
    const int result = ::connect(fd, reinterpret_cast<const sockaddr*>(address.data()),
                                 static_cast<socklen_t>(address.size()));
    if (result != 0 && errno != EINPROGRESS && errno != EINTR) {
        const int saved = errno;
        postToQueue([fd, generation, saved](AsyncSocket& s) {
            if (generation != s.stateIndex_) {
                return; // whatever ended the generation closed the descriptor
            }
            s.connectFailed(fd, generation, saved);
        });
        return;
    }
    auto source = dispatch::WriteSource::make(fd, socketQueue_);
    source->setEventHandler([this, fd, generation] { onConnectEvent(fd, generation); });
    source->resume();
    (fd == socket4FD_   ? connect4Source_
     : fd == socket6FD_ ? connect6Source_
                        : connectUNSource_) = std::move(source);
}

// While the other family is still trying, a failure is silent.
void AsyncSocket::connectFailed(int fd, uint64_t generation, int error) {
    closeSocket(fd);
    if (socket4FD_ == -1 && socket6FD_ == -1) {
        didNotConnect(generation, SocketError::fromErrno(error, "Error in connect() function"));
    }
}

void AsyncSocket::onConnectEvent(int fd, uint64_t generation) {
    auto& source = fd == socket4FD_ ? connect4Source_ : fd == socket6FD_ ? connect6Source_ : connectUNSource_;
    if (source) {
        source->cancel(); // detaches at once: the descriptor can take other sources now
        source.reset();
    }
    if (generation != stateIndex_) {
        return;
    }
    int soError = 0;
    socklen_t length = sizeof soError;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length) != 0) {
        soError = errno;
    }
    if (soError != 0) {
        connectFailed(fd, generation, soError);
        return;
    }
    closeUnusedSocket(fd);
    didConnect(generation);
}

void AsyncSocket::closeSocket(int fd) {
    if (fd == -1) {
        return;
    }
    for (auto [slot, source] :
         {std::pair{&socket4FD_, &connect4Source_}, std::pair{&socket6FD_, &connect6Source_},
          std::pair{&socketUN_, &connectUNSource_}}) {
        if (*slot == fd) {
            if (*source) {
                (*source)->cancel();
                source->reset();
            }
            ::close(fd);
            *slot = -1;
        }
    }
}

void AsyncSocket::closeUnusedSocket(int fd) {
    if (socket4FD_ != fd) {
        closeSocket(socket4FD_);
    } else if (socket6FD_ != fd) {
        closeSocket(socket6FD_);
    }
}

void AsyncSocket::didConnect(uint64_t generation) {
    if (generation != stateIndex_) {
        return;
    }
    flags_ |= kFlagConnected;
    endConnectTimeout();
    const int fd = connectedFD();
    if (socketUN_ != -1 && socket4FD_ == -1 && socket6FD_ == -1) {
        sockaddr_un sa{};
        socklen_t length = sizeof sa;
        std::string path;
        if (getpeername(fd, reinterpret_cast<sockaddr*>(&sa), &length) == 0) {
            path = pathFromSockaddrUN(sa, length);
        }
        notify([path](AsyncSocketDelegate& d, AsyncSocket& s) { d.socketDidConnectToUrl(s, path); });
    } else {
        const Address peer = peerAddressOf(fd);
        notify([host = hostFromAddress(peer), port = portFromAddress(peer)](
                   AsyncSocketDelegate& d, AsyncSocket& s) { d.socketDidConnectToHost(s, host, port); });
    }
    const int fl = fcntl(fd, F_GETFL);
    if (fl < 0 || fcntl(fd, F_SETFL, fl | O_NONBLOCK) != 0) {
        closeWithError(otherError("Error enabling non-blocking IO on socket (fcntl)"));
        return;
    }
    setupReadAndWriteSources(fd);
    maybeDequeueRead();
    maybeDequeueWrite();
}

void AsyncSocket::didNotConnect(uint64_t generation, SocketError error) {
    if (generation == stateIndex_) {
        closeWithError(std::move(error));
    }
}

void AsyncSocket::startConnectTimeout(double timeout) {
    if (timeout < 0) {
        return;
    }
    connectTimer_ = dispatch::TimerSource::make(socketQueue_);
    connectTimer_->setEventHandler([this] { // cancelled on the queue before we go
        endConnectTimeout();
        closeWithError(streamError(StreamError::connectTimeout, "Attempt to connect to host timed out"));
    });
    connectTimer_->schedule(dispatch::Clock::now() + seconds(timeout));
    connectTimer_->resume();
}

void AsyncSocket::endConnectTimeout() {
    if (connectTimer_) {
        connectTimer_->cancel();
        connectTimer_.reset();
    }
    ++stateIndex_;
    connectInterface4_.clear();
    connectInterface6_.clear();
}

} // namespace sockets

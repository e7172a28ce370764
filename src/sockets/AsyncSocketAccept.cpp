// The stream socket's listening and accepting, and wrapping a connected descriptor.
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
// Listening and accepting

int AsyncSocket::createListeningSocket(const Address& address, SocketError* error) {
    sa_family_t family = AF_UNSPEC;
    std::memcpy(&family, address.data(), sizeof family);
    const int fd = openSocket(family, SOCK_STREAM | SOCK_NONBLOCK, error);
    if (fd < 0) {
        return -1;
    }
    auto failed = [&](const char* reason) { return failSocketSetup(fd, reason, error); };
    const int on = 1;
    if (family != AF_UNIX && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
        return failed("Error enabling address reuse (setsockopt)");
    }
    // Else the IPv6 socket would take the IPv4 port too, and the IPv4 twin could not listen.
    if (family == AF_INET6 && setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0) {
        return failed("Error enabling IPv6-only (setsockopt)");
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(address.data()),
               static_cast<socklen_t>(address.size())) != 0) {
        return failed("Error in bind() function");
    }
    if (::listen(fd, 1024) != 0) {
        return failed("Error in listen() function");
    }
    return fd;
}

void AsyncSocket::setupAcceptSource(int fd, std::shared_ptr<dispatch::ReadSource>& slot) {
    slot = dispatch::ReadSource::make(fd, socketQueue_);
    // Each event takes every connection waiting, a bounded batch at a time, and stops when a
    // close (which closes `fd` itself) came in between.
    slot->setEventHandler([this, fd] {
        for (int i = 0; i < 64 && isListeningOn(fd) && doAccept(fd); ++i) {
        }
    });
    slot->resume();
}

bool AsyncSocket::acceptOnPort(uint16_t port, SocketError* error) {
    return acceptOnInterface(std::nullopt, port, error);
}

bool AsyncSocket::acceptOnInterface(const std::optional<std::string>& interface, uint16_t port,
                                    SocketError* error) {
    return onQueueSync([&]() -> bool {
        if (!checkDelegate("accept", error)) {
            return false;
        }
        const bool v4Disabled = config_ & kConfigIPv4Disabled;
        const bool v6Disabled = config_ & kConfigIPv6Disabled;
        if (v4Disabled && v6Disabled) {
            return fail(error, badConfigError(kBothDisabled));
        }
        if (!checkIdle("accept", error)) {
            return false;
        }
        readQueue_.clear();
        writeQueue_.clear();
        InterfaceAddresses addresses;
        if (!resolveInterface(interface, port, &addresses, error)) {
            return false;
        }
        const bool use4 = !v4Disabled && !addresses.ipv4.empty();
        const bool use6 = !v6Disabled && !addresses.ipv6.empty();
        if (use4) {
            socket4FD_ = createListeningSocket(addresses.ipv4, error);
            if (socket4FD_ == -1) {
                return false;
            }
        }
        if (use6) {
            if (use4 && portFromAddress(addresses.ipv6) == 0) {
                setPort(addresses.ipv6, portFromAddress(localAddressOf(socket4FD_)));
            }
            socket6FD_ = createListeningSocket(addresses.ipv6, error);
            if (socket6FD_ == -1) {
                if (socket4FD_ != -1) {
                    ::close(socket4FD_);
                    socket4FD_ = -1;
                }
                return false;
            }
        }
        if (use4) {
            setupAcceptSource(socket4FD_, accept4Source_);
        }
        if (use6) {
            setupAcceptSource(socket6FD_, accept6Source_);
        }
        flags_ |= kFlagStarted;
        return true;
    });
}

bool AsyncSocket::acceptOnUrl(const std::string& path, SocketError* error) {
    return onQueueSync([&]() -> bool {
        if (!checkDelegate("accept", error) || !checkIdle("accept", error)) {
            return false;
        }
        readQueue_.clear();
        writeQueue_.clear();
        // Checked first: a path that cannot be used must not cost the file already there.
        const Address address = unixAddress(path);
        if (address.empty()) {
            return fail(error,
                        badParamError("Invalid unix domain url. Specify a valid file url that does not "
                                      "exist (e.g. \"file:///tmp/socket\")"));
        }
        struct stat st {};
        if (!path.empty() && ::lstat(path.c_str(), &st) == 0 && ::unlink(path.c_str()) != 0) {
            return fail(error, otherError("Could not remove previous unix domain socket at given url."));
        }
        socketUN_ = createListeningSocket(address, error);
        if (socketUN_ == -1) {
            return false;
        }
        socketPath_ = path;
        setupAcceptSource(socketUN_, acceptUNSource_);
        flags_ |= kFlagStarted;
        return true;
    });
}

bool AsyncSocket::isListeningOn(int fd) const {
    return fd != -1 && (fd == socket4FD_ || fd == socket6FD_ || fd == socketUN_);
}

bool AsyncSocket::doAccept(int listenFD) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    int fd = -1;
    do {
        fd = ::accept4(listenFD, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return false; // nothing pending, or a failure the next event retries
    }
    const auto* p = reinterpret_cast<const uint8_t*>(&peer);
    Address address(p, p + std::min<size_t>(length, sizeof peer));
    auto delegate = delegate_.lock();
    auto self = weak_from_this().lock(); // null while the listener is being destroyed
    if (!delegateQueue_ || !delegate || !self) {
        ::close(fd); // nobody could take the connection
        return true;
    }
    const int which = listenFD == socket4FD_ ? AF_INET : listenFD == socket6FD_ ? AF_INET6 : AF_UNIX;
    delegateQueue_->async([self = std::move(self), delegate, delegateQueue = delegateQueue_, fd, which,
                           address = std::move(address)] {
        dispatch::QueuePtr queue = delegate->newSocketQueueForConnection(address, *self);
        auto child = AsyncSocket::make(delegate, delegateQueue, std::move(queue));
        // The child is nobody else's yet: its fields are set here, then its queue takes over.
        (which == AF_INET    ? child->socket4FD_
         : which == AF_INET6 ? child->socket6FD_
                             : child->socketUN_) = fd;
        child->flags_ = kFlagStarted | kFlagConnected;
        child->postToQueue([fd](AsyncSocket& s) {
            s.setupReadAndWriteSources(fd);
            s.maybeDequeueRead();
            s.maybeDequeueWrite();
        });
        delegate->socketDidAcceptNewSocket(*self, child);
    });
    return true;
}

std::shared_ptr<AsyncSocket> AsyncSocket::fromConnectedSocketFD(int fd,
                                                                std::weak_ptr<AsyncSocketDelegate> delegate,
                                                                dispatch::QueuePtr delegateQueue,
                                                                dispatch::QueuePtr socketQueue,
                                                                SocketError* error) {
    auto socket = make(std::move(delegate), std::move(delegateQueue), std::move(socketQueue));
    const bool ok = socket->onQueueSync([&]() -> bool {
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) {
            return fail(error,
                        otherError("Attempt to create socket from socket FD failed. getpeername() failed"));
        }
        if (peer.ss_family == AF_INET) {
            socket->socket4FD_ = fd;
        } else if (peer.ss_family == AF_INET6) {
            socket->socket6FD_ = fd;
        } else {
            return fail(error,
                        otherError("Attempt to create socket from socket FD failed. socket FD is neither "
                                   "IPv4 nor IPv6"));
        }
        socket->flags_ = kFlagStarted;
        socket->didConnect(socket->stateIndex_);
        return true;
    });
    return ok ? socket : nullptr;
}

} // namespace sockets

// The datagram socket's connect request, queued with the sends.
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

} // namespace sockets

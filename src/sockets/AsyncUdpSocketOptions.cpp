// The datagram socket's multicast, broadcast and port-reuse options.
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
        const InterfaceAddresses groups = numericHostAddresses(group, 0);
        const Address& group4 = groups.ipv4;
        const Address& group6 = groups.ipv6;
        if (group4.empty() && group6.empty()) {
            return fail(error, badParamError("Unknown group. Specify valid group IP address."));
        }
        const InterfaceAddresses interfaces = interfaceAddresses(interface, 0);
        const Address& if4 = interfaces.ipv4;
        const Address& if6 = interfaces.ipv6;
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
            request.ipv6mr_interface = interfaceIndexOfIPv6(if6);
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
        const InterfaceAddresses interfaces = interfaceAddresses(interface, 0);
        const Address& if4 = interfaces.ipv4;
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
        const InterfaceAddresses interfaces = interfaceAddresses(interface, 0);
        const Address& if6 = interfaces.ipv6;
        if (if6.empty()) {
            return fail(error,
                        badParamError("Unknown interface. Specify valid interface by name (e.g. \"en1\")."));
        }
        if (socket6FD_ == -1) {
            return false;
        }
        const int index = static_cast<int>(interfaceIndexOfIPv6(if6));
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

} // namespace sockets

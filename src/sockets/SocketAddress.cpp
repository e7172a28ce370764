#include "sockets/SocketAddress.h"

#include <cstring>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>

namespace sockets {

namespace {

constexpr size_t kSize4 = sizeof(sockaddr_in);  // 16
constexpr size_t kSize6 = sizeof(sockaddr_in6); // 28

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

sa_family_t familyByte(const Address& address) {
    sa_family_t family = AF_UNSPEC;
    if (address.size() >= sizeof family) {
        std::memcpy(&family, address.data(), sizeof family);
    }
    return family;
}

Address addressOf(int fd, int (*query)(int, sockaddr*, socklen_t*)) {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (query(fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
        return {};
    }
    const auto* p = reinterpret_cast<const uint8_t*>(&storage);
    return Address(p, p + std::min<size_t>(length, sizeof storage));
}

} // namespace

std::string hostFromSockaddr4(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    return inet_ntop(AF_INET, &address.sin_addr, text, sizeof text) ? std::string(text) : std::string();
}

std::string hostFromSockaddr6(const sockaddr_in6& address) {
    char text[INET6_ADDRSTRLEN] = {};
    return inet_ntop(AF_INET6, &address.sin6_addr, text, sizeof text) ? std::string(text) : std::string();
}

uint16_t portFromSockaddr4(const sockaddr_in& address) {
    return ntohs(address.sin_port);
}

uint16_t portFromSockaddr6(const sockaddr_in6& address) {
    return ntohs(address.sin6_port);
}

std::string pathFromSockaddrUN(const sockaddr_un& address, size_t length) {
    const size_t offset = offsetof(sockaddr_un, sun_path);
    if (length <= offset) {
        return {};
    }
    const size_t room = std::min(length - offset, sizeof address.sun_path);
    return std::string(address.sun_path, strnlen(address.sun_path, room));
}

bool getHost(std::string* host, uint16_t* port, int* family, const Address& address) {
    if (address.size() >= kSize4) {
        const sa_family_t fam = familyByte(address);
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
    return false;
}

std::string hostFromAddress(const Address& address) {
    std::string host;
    getHost(&host, nullptr, nullptr, address);
    return host;
}

uint16_t portFromAddress(const Address& address) {
    uint16_t port = 0;
    getHost(nullptr, &port, nullptr, address);
    return port;
}

int familyFromAddress(const Address& address) {
    int family = AF_UNSPEC;
    getHost(nullptr, nullptr, &family, address);
    return family;
}

bool isIPv4Address(const Address& address) {
    return familyFromAddress(address) == AF_INET;
}

bool isIPv6Address(const Address& address) {
    return familyFromAddress(address) == AF_INET6;
}

Address loopbackAddress4(uint16_t port) {
    in_addr a{};
    a.s_addr = htonl(INADDR_LOOPBACK);
    return makeAddress4(a, port);
}

Address loopbackAddress6(uint16_t port) {
    return makeAddress6(in6addr_loopback, port);
}

Address anyAddress4(uint16_t port) {
    in_addr any{};
    any.s_addr = htonl(INADDR_ANY);
    return makeAddress4(any, port);
}

Address anyAddress6(uint16_t port) {
    return makeAddress6(in6addr_any, port);
}

void setPort(Address& address, uint16_t port) {
    const uint16_t net = htons(port);
    std::memcpy(address.data() + 2, &net, sizeof net);
}

Address unixAddress(const std::string& path) {
    sockaddr_un sa{};
    if (path.empty() || path.size() >= sizeof sa.sun_path) {
        return {};
    }
    sa.sun_family = AF_UNIX;
    std::memcpy(sa.sun_path, path.data(), path.size());
    return bytesOf(sa);
}

bool isUnixAddress(const Address& address) {
    return familyByte(address) == AF_UNIX;
}

InterfaceAddresses interfaceAddresses(const std::optional<std::string>& description, uint16_t port) {
    InterfaceAddresses result;
    if (!description) {
        result.ipv4 = anyAddress4(port);
        result.ipv6 = anyAddress6(port);
        return result;
    }
    if (*description == "localhost" || *description == "loopback") {
        result.ipv4 = loopbackAddress4(port);
        result.ipv6 = loopbackAddress6(port);
        return result;
    }
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return result;
    }
    for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr) {
            continue;
        }
        if (i->ifa_addr->sa_family == AF_INET && result.ipv4.empty()) {
            const auto* sa = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
            if (*description == i->ifa_name || *description == hostFromSockaddr4(*sa)) {
                result.ipv4 = makeAddress4(sa->sin_addr, port);
            }
        } else if (i->ifa_addr->sa_family == AF_INET6 && result.ipv6.empty()) {
            const auto* sa = reinterpret_cast<const sockaddr_in6*>(i->ifa_addr);
            if (*description == i->ifa_name || *description == hostFromSockaddr6(*sa)) {
                Address a = bytesOf(*sa);
                setPort(a, port);
                result.ipv6 = std::move(a);
            }
        }
    }
    freeifaddrs(list);
    return result;
}

InterfaceAddresses numericHostAddresses(const std::string& host, uint16_t port) {
    InterfaceAddresses result;
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    addrinfo* list = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list) != 0) {
        return result;
    }
    for (addrinfo* r = list; r != nullptr; r = r->ai_next) {
        const auto* p = reinterpret_cast<const uint8_t*>(r->ai_addr);
        if (r->ai_family == AF_INET && result.ipv4.empty()) {
            result.ipv4.assign(p, p + kSize4);
        } else if (r->ai_family == AF_INET6 && result.ipv6.empty()) {
            result.ipv6.assign(p, p + kSize6);
        }
    }
    freeaddrinfo(list);
    return result;
}

unsigned interfaceIndexOfIPv6(const Address& address) {
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

LookupResult lookupHost(const std::string& host, uint16_t port, int socketType) {
    LookupResult result;
    if (host == "localhost" || host == "loopback") {
        result.addresses.push_back(loopbackAddress4(port));
        result.addresses.push_back(loopbackAddress6(port));
        return result;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = socketType;
    hints.ai_protocol = socketType == SOCK_STREAM ? IPPROTO_TCP : IPPROTO_UDP;
    addrinfo* list = nullptr;
    const int gai = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
    if (gai != 0) {
        result.error = SocketError::fromGai(gai);
        return result;
    }
    for (addrinfo* r = list; r != nullptr; r = r->ai_next) {
        const auto* p = reinterpret_cast<const uint8_t*>(r->ai_addr);
        if (r->ai_family == AF_INET) {
            result.addresses.emplace_back(p, p + kSize4);
        } else if (r->ai_family == AF_INET6) {
            Address a(p, p + kSize6);
            if (portFromAddress(a) == 0) {
                setPort(a, port);
            }
            result.addresses.push_back(std::move(a));
        }
    }
    freeaddrinfo(list);
    if (result.addresses.empty()) {
        result.error = SocketError::fromGai(EAI_FAIL);
    }
    return result;
}

Address localAddressOf(int fd) {
    return addressOf(fd, ::getsockname);
}

Address peerAddressOf(int fd) {
    return addressOf(fd, ::getpeername);
}

} // namespace sockets

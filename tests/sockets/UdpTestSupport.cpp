#include "sockets/UdpTestSupport.h"

#include <cstring>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace udptest {

Address loopbackAddress(int family, uint16_t port) {
    if (family == AF_INET) {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const auto* p = reinterpret_cast<const uint8_t*>(&sa);
        return Address(p, p + sizeof sa);
    }
    sockaddr_in6 sa{};
    sa.sin6_family = AF_INET6;
    sa.sin6_port = htons(port);
    sa.sin6_addr = in6addr_loopback;
    const auto* p = reinterpret_cast<const uint8_t*>(&sa);
    return Address(p, p + sizeof sa);
}

RawUdp::RawUdp(int family, uint16_t port)
    : family_(family) {
    fd_ = ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        throw std::runtime_error("socket failed");
    }
    if (family == AF_INET) { // it may ask loopback's broadcast address, as a controller asks a network's
        const int on = 1;
        (void)::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    }
    const Address a = loopbackAddress(family, port);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(a.data()), static_cast<socklen_t>(a.size())) != 0) {
        throw std::runtime_error(std::string("bind failed: ") + std::strerror(errno));
    }
    sockaddr_storage sa{};
    socklen_t len = sizeof sa;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = family == AF_INET ? ntohs(reinterpret_cast<sockaddr_in*>(&sa)->sin_port)
                              : ntohs(reinterpret_cast<sockaddr_in6*>(&sa)->sin6_port);
}

RawUdp::~RawUdp() {
    ::close(fd_);
}

Address RawUdp::address() const {
    return loopbackAddress(family_, port_);
}

void RawUdp::sendTo(uint16_t port, const Data& data) const {
    const Address a = loopbackAddress(family_, port);
    if (::sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(a.data()),
                 static_cast<socklen_t>(a.size())) < 0) {
        throw std::runtime_error(std::string("sendto failed: ") + std::strerror(errno));
    }
}

void RawUdp::sendTo(const Address& to, const Data& data) const {
    if (::sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(to.data()),
                 static_cast<socklen_t>(to.size())) < 0) {
        throw std::runtime_error(std::string("sendto failed: ") + std::strerror(errno));
    }
}

Address ipv4Address(const char* host, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, host, &a.sin_addr);
    const auto* b = reinterpret_cast<const uint8_t*>(&a);
    return Address(b, b + sizeof a);
}

std::optional<Data> RawUdp::receive(std::chrono::milliseconds timeout, Address* from) const {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) {
        return std::nullopt;
    }
    Data buffer(65536);
    sockaddr_storage sa{};
    socklen_t len = sizeof sa;
    const ssize_t n =
        ::recvfrom(fd_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&sa), &len);
    if (n < 0) {
        return std::nullopt;
    }
    buffer.resize(static_cast<size_t>(n));
    if (from) {
        const auto* b = reinterpret_cast<const uint8_t*>(&sa);
        from->assign(b, b + len);
    }
    return buffer;
}

} // namespace udptest

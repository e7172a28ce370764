// The IPv4 loopback address of a port, as the sockets library takes it.
#pragma once

#include "sockets/SocketAddress.h"

#include <cstdint>

#include <arpa/inet.h>
#include <netinet/in.h>

namespace benchsupport {

inline sockets::Address loopback(uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto* p = reinterpret_cast<const uint8_t*>(&sa);
    return sockets::Address(p, p + sizeof sa);
}

} // namespace benchsupport

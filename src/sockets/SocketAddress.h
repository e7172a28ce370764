// Socket addresses as byte buffers, and the conversions both socket classes make with them.
#pragma once

#include "sockets/SocketError.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct sockaddr_in;
struct sockaddr_in6;
struct sockaddr_un;

namespace sockets {

// Payloads, and addresses as whole sockaddr_in (16 bytes), sockaddr_in6 (28 bytes) or sockaddr_un
// (110 bytes) buffers in the system's own layout (a 16-bit family at offset 0, no length byte),
// ports in network byte order. An empty Address means "none".
using Data = std::vector<uint8_t>;
using Address = std::vector<uint8_t>;

// Hosts are inet_ntop texts: "" when that fails or the buffer is no IP address.
std::string hostFromSockaddr4(const sockaddr_in& address);
std::string hostFromSockaddr6(const sockaddr_in6& address);
uint16_t portFromSockaddr4(const sockaddr_in& address);
uint16_t portFromSockaddr6(const sockaddr_in6& address);
// The path of a unix-domain address, up to its first zero byte.
std::string pathFromSockaddrUN(const sockaddr_un& address, size_t length);

// Host, port and family (AF_INET or AF_INET6) of an IP address buffer; false with the outputs
// untouched for anything else, also for an AF_INET6 family in a buffer too short for sockaddr_in6.
bool getHost(std::string* host, uint16_t* port, int* family, const Address& address);
std::string hostFromAddress(const Address& address);
uint16_t portFromAddress(const Address& address);
int familyFromAddress(const Address& address); // AF_UNSPEC when no IP address
bool isIPv4Address(const Address& address);
bool isIPv6Address(const Address& address);

Address loopbackAddress4(uint16_t port);
Address loopbackAddress6(uint16_t port);
Address anyAddress4(uint16_t port);
Address anyAddress6(uint16_t port);
// Writes the port of an IP address buffer (sin_port and sin6_port share offset 2).
void setPort(Address& address, uint16_t port);
// A sockaddr_un for a path; empty for an empty path or one that does not fit (no silent cut).
Address unixAddress(const std::string& path);
// Whether a buffer holds an address of that family; unix-domain buffers may be short (a
// getpeername answer holds only the used part of the path).
bool isUnixAddress(const Address& address);

// An interface description turned into an IPv4 and an IPv6 address, either may be empty: none
// gives the wildcard addresses, "localhost" and "loopback" the loopback ones, anything else the
// first address of each family whose interface name or address text matches.
struct InterfaceAddresses {
    Address ipv4;
    Address ipv6;
};
InterfaceAddresses interfaceAddresses(const std::optional<std::string>& description, uint16_t port);
// A numeric host text (no name lookup ever happens): its first address of each family.
InterfaceAddresses numericHostAddresses(const std::string& host, uint16_t port);
// The index of the interface that carries this IPv6 address, 0 when none does.
unsigned interfaceIndexOfIPv6(const Address& address);

// Resolves a host name, blocking: the addresses of both families in the resolver's order, or the
// resolver's error. "localhost" and "loopback" answer 127.0.0.1 and ::1 without asking it.
// `socketType` is SOCK_DGRAM or SOCK_STREAM.
struct LookupResult {
    std::vector<Address> addresses;
    std::optional<SocketError> error;
};
LookupResult lookupHost(const std::string& host, uint16_t port, int socketType);

// The local and peer address of a descriptor (getsockname, getpeername); empty when that fails.
Address localAddressOf(int fd);
Address peerAddressOf(int fd);

} // namespace sockets

// Helpers for the datagram socket tests: a recording delegate and a plain loopback UDP socket.
#pragma once

#include "EventLog.h"
#include "sockets/AsyncUdpSocket.h"

#include <chrono>
#include <optional>

namespace udptest {

using sockets::Address;
using sockets::AsyncUdpSocket;
using sockets::Data;
using sockets::SocketError;
using sockettest::bytes;
using sockettest::text;

enum class Kind { connected, notConnected, sent, notSent, received, closed };
struct Event {
    Kind kind;
    long tag = 0;
    Data data{};
    Address address{};
    std::optional<SocketError> error{};
    sockets::FilterContext context{};
};

// Records every callback, in order, and lets the test wait for a condition on the record.
class RecordingDelegate : public sockets::AsyncUdpSocketDelegate, public sockettest::EventLog<Event, Kind> {
public:
    using Kind = udptest::Kind;
    void udpSocketDidConnectToAddress(AsyncUdpSocket&, const Address& address) override {
        record({.kind = Kind::connected, .address = address});
    }
    void udpSocketDidNotConnect(AsyncUdpSocket&, const SocketError& error) override {
        record({.kind = Kind::notConnected, .error = error});
    }
    void udpSocketDidSendDataWithTag(AsyncUdpSocket&, long tag) override {
        record({.kind = Kind::sent, .tag = tag});
    }
    void udpSocketDidNotSendDataWithTag(AsyncUdpSocket&, long tag, const SocketError& error) override {
        record({.kind = Kind::notSent, .tag = tag, .error = error});
    }
    void udpSocketDidReceiveData(AsyncUdpSocket&, const Data& data, const Address& address,
                                 const sockets::FilterContext& context) override {
        record({.kind = Kind::received, .data = data, .address = address, .context = context});
    }
    void udpSocketDidClose(AsyncUdpSocket&, const std::optional<SocketError>& error) override {
        record({.kind = Kind::closed, .error = error});
    }
};

// A plain blocking UDP socket on a loopback address, the other end of the tests.
class RawUdp {
public:
    explicit RawUdp(int family = 2 /*AF_INET*/, uint16_t port = 0);
    ~RawUdp();
    RawUdp(const RawUdp&) = delete;
    RawUdp& operator=(const RawUdp&) = delete;

    uint16_t port() const { return port_; }
    Address address() const; // its loopback address and port
    void sendTo(uint16_t port, const Data& data) const;
    void sendTo(const Address& to, const Data& data) const;
    // The next datagram, or nullopt after `timeout`.
    std::optional<Data> receive(std::chrono::milliseconds timeout = std::chrono::milliseconds(5000),
                                Address* from = nullptr) const;
    // The next datagram's text, or "(nothing)" after 5 s.
    std::string receiveText() const {
        const auto got = receive();
        return got ? text(*got) : "(nothing)";
    }

private:
    int family_;
    int fd_ = -1;
    uint16_t port_ = 0;
};

// Loopback address of a family with a port, built here rather than by the code under test.
Address loopbackAddress(int family, uint16_t port);
// An IPv4 address ("127.0.0.2") with a port.
Address ipv4Address(const char* host, uint16_t port);

} // namespace udptest

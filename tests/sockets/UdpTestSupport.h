// Helpers for the datagram socket tests: a recording delegate and a plain loopback UDP socket.
#pragma once

#include "EventLog.h"
#include "sockets/AsyncUdpSocket.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace udptest {

using sockets::Address;
using sockets::Data;

Data bytes(const std::string& text);
std::string text(const Data& data);

// Records every callback, in order, and lets the test wait for a condition on the record.
class RecordingDelegate : public sockets::AsyncUdpSocketDelegate {
public:
    enum class Kind { connected, notConnected, sent, notSent, received, closed };
    struct Event {
        Kind kind;
        long tag = 0;
        Data data;
        Address address;
        std::optional<sockets::SocketError> error;
        sockets::FilterContext context;
    };

    void udpSocketDidConnectToAddress(sockets::AsyncUdpSocket& sock, const Address& address) override;
    void udpSocketDidNotConnect(sockets::AsyncUdpSocket& sock, const sockets::SocketError& error) override;
    void udpSocketDidSendDataWithTag(sockets::AsyncUdpSocket& sock, long tag) override;
    void udpSocketDidNotSendDataWithTag(sockets::AsyncUdpSocket& sock, long tag,
                                        const sockets::SocketError& error) override;
    void udpSocketDidReceiveData(sockets::AsyncUdpSocket& sock, const Data& data, const Address& address,
                                 const sockets::FilterContext& context) override;
    void udpSocketDidClose(sockets::AsyncUdpSocket& sock,
                           const std::optional<sockets::SocketError>& error) override;

    std::vector<Event> events() const;
    std::vector<Event> events(Kind kind) const;
    size_t count(Kind kind) const;
    // Waits (up to 5 s) until `kind` has been seen `n` times; answers whether it was.
    bool waitFor(Kind kind, size_t n = 1) const;

private:
    void record(Event event) { log_.add(std::move(event)); }
    sockettest::EventLog<Event> log_;
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
    // The next datagram, or nullopt after `timeout`.
    std::optional<Data> receive(std::chrono::milliseconds timeout = std::chrono::milliseconds(5000),
                                Address* from = nullptr) const;

private:
    int family_;
    int fd_ = -1;
    uint16_t port_ = 0;
};

// Loopback address of a family with a port, as the socket expects it.
Address loopbackAddress(int family, uint16_t port);

} // namespace udptest

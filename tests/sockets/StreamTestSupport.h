// Helpers for the stream socket tests: a recording delegate and a byte relay.
#pragma once

#include "EventLog.h"
#include "sockets/AsyncSocket.h"

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace streamtest {

using sockets::AsyncSocket;
using sockets::Data;
using sockets::SocketError;
using sockettest::bytes;
using sockettest::text;

enum class Kind {
    accepted,
    connected,
    read,
    partialRead,
    wrote,
    partialWrite,
    readStreamClosed,
    secured,
    trust,
    readTimeout,
    disconnected
};
struct Event {
    Kind kind;
    long tag = 0;
    Data data{};
    size_t length = 0; // partial lengths, bytes done of a time-out question, certificates
    double elapsed = 0;
    std::string host{};
    uint16_t port = 0;
    std::optional<SocketError> error{};
    bool nullSocket = false;
};

// Records every callback in order; answers time-out questions and trust from settable fields.
class Recorder : public sockets::AsyncSocketDelegate, public sockettest::EventLog<Event, Kind> {
public:
    using Kind = streamtest::Kind;
    void socketDidAcceptNewSocket(AsyncSocket&, std::shared_ptr<AsyncSocket> newSocket) override;
    void socketDidConnectToHost(AsyncSocket&, const std::string& host, uint16_t port) override {
        record({.kind = Kind::connected, .host = host, .port = port});
    }
    void socketDidConnectToUrl(AsyncSocket&, const std::string& path) override {
        record({.kind = Kind::connected, .host = path});
    }
    void socketDidReadData(AsyncSocket&, const Data& data, long tag) override {
        record({.kind = Kind::read, .tag = tag, .data = data});
    }
    void socketDidReadPartialData(AsyncSocket&, size_t length, long tag) override {
        record({.kind = Kind::partialRead, .tag = tag, .length = length});
    }
    double socketShouldTimeoutRead(AsyncSocket& sock, long tag, double elapsed, size_t bytesDone) override;
    void socketDidWriteData(AsyncSocket&, long tag) override { record({.kind = Kind::wrote, .tag = tag}); }
    void socketDidWritePartialData(AsyncSocket&, size_t length, long tag) override {
        record({.kind = Kind::partialWrite, .tag = tag, .length = length});
    }
    void socketDidCloseReadStream(AsyncSocket&) override { record({.kind = Kind::readStreamClosed}); }
    void socketDidSecure(AsyncSocket&) override { record({.kind = Kind::secured}); }
    bool socketDidReceiveTrust(AsyncSocket& sock, const sockets::TlsTrust& trust,
                               std::function<void(bool)> completion) override;
    void socketDidDisconnect(AsyncSocket* sock, const std::optional<SocketError>& error) override {
        record({.kind = Kind::disconnected, .error = error, .nullSocket = sock == nullptr});
    }

    std::shared_ptr<AsyncSocket> child(size_t i) const;

    // Answers to the questions, consumed in order (0 once used up).
    std::vector<double> readExtensions;
    // Trust: nullopt = "not evaluated" (return false), else the answer given at once.
    std::optional<bool> trustAnswer;
    // Called on the delegate queue after a time-out question is recorded, before it is answered.
    std::function<void()> onReadTimeoutQuestion;
    // Called for every accepted child before it is recorded (set up its reads, TLS, ...).
    std::function<void(AsyncSocket&)> onAccept;

private:
    mutable std::mutex childrenMutex_;
    std::vector<std::shared_ptr<AsyncSocket>> children_;
};

// A TCP socket listening on 127.0.0.1 with `backlog`; its port goes to `port`.
int listenOnLoopback(int backlog, uint16_t* port, int flags = 0);
// A TCP socket connecting to 127.0.0.1:`port` (at once unless `flags` has SOCK_NONBLOCK).
int connectToLoopback(uint16_t port, int flags = 0);

// Forwards bytes between a client and a target port on 127.0.0.1 and keeps a copy of all.
class Relay {
public:
    explicit Relay(uint16_t targetPort);
    ~Relay();
    uint16_t port() const { return port_; }
    std::string seen() const; // both directions, in arrival order

private:
    void run();
    int listenFD_ = -1;
    uint16_t port_ = 0;
    uint16_t target_ = 0;
    int stopPipe_[2] = {-1, -1};
    mutable std::mutex mutex_;
    std::string seen_;
    std::thread thread_;
};

} // namespace streamtest

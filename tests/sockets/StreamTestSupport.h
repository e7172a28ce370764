// Helpers for the stream socket tests: a recording delegate, a test certificate, a byte relay.
#pragma once

#include "EventLog.h"
#include "sockets/AsyncSocket.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace streamtest {

using sockets::AsyncSocket;
using sockets::Data;

Data bytes(const std::string& text);
std::string text(const Data& data);

// Records every callback in order; answers time-out questions and trust from settable fields.
class Recorder : public sockets::AsyncSocketDelegate {
public:
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
        explicit Event(Kind k, long t = 0)
            : kind(k)
            , tag(t) {}
        Kind kind;
        long tag = 0;
        Data data;
        size_t length = 0; // partial lengths, bytes done of a time-out question
        double elapsed = 0;
        std::string host;
        uint16_t port = 0;
        std::optional<sockets::SocketError> error;
        bool nullSocket = false;
    };

    void socketDidAcceptNewSocket(AsyncSocket& sock, std::shared_ptr<AsyncSocket> newSocket) override;
    void socketDidConnectToHost(AsyncSocket& sock, const std::string& host, uint16_t port) override;
    void socketDidConnectToUrl(AsyncSocket& sock, const std::string& path) override;
    void socketDidReadData(AsyncSocket& sock, const Data& data, long tag) override;
    void socketDidReadPartialData(AsyncSocket& sock, size_t length, long tag) override;
    double socketShouldTimeoutRead(AsyncSocket& sock, long tag, double elapsed, size_t bytesDone) override;
    void socketDidWriteData(AsyncSocket& sock, long tag) override;
    void socketDidWritePartialData(AsyncSocket& sock, size_t length, long tag) override;
    void socketDidCloseReadStream(AsyncSocket& sock) override;
    void socketDidSecure(AsyncSocket& sock) override;
    bool socketDidReceiveTrust(AsyncSocket& sock, const sockets::TlsTrust& trust,
                               std::function<void(bool)> completion) override;
    void socketDidDisconnect(AsyncSocket* sock, const std::optional<sockets::SocketError>& error) override;

    std::vector<Event> events(Kind kind) const;
    size_t count(Kind kind) const;
    // Waits (up to 5 s) until `kind` has been seen `n` times; answers whether it was.
    bool waitFor(Kind kind, size_t n = 1) const;
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
    void record(Event event) { log_.add(std::move(event)); }
    sockettest::EventLog<Event> log_;
    mutable std::mutex childrenMutex_;
    std::vector<std::shared_ptr<AsyncSocket>> children_;
};

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

// The network remote-control server: answers JSON datagrams and announces itself over DNS-SD.
#pragma once

#include "cuewright/remote/ErrorReplyBudget.h"
#include "cuewright/remote/NetworkMessages.h"
#include "platform/netservice/NetService.h"
#include "sockets/AsyncUdpSocket.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

namespace cw {

class BonjourServer;

// What the server asks of its owner. Called on the main thread.
class BonjourServerDelegate {
public:
    virtual ~BonjourServerDelegate() = default;
    // The service was published.
    virtual void bonjourServerDidStart(BonjourServer& server) { (void)server; }
    // The service was withdrawn.
    virtual void bonjourServerDidStop(BonjourServer& server) { (void)server; }
    virtual NetworkAnswer bonjourServerAnswer(BonjourServer& server, const NetworkCommand& command) = 0;
};

// A failure of the server's socket (bind, receive); what() is the socket's message.
class RemoteSocketError : public std::runtime_error {
public:
    explicit RemoteSocketError(sockets::SocketError error);
    const sockets::SocketError& error() const { return error_; }

private:
    sockets::SocketError error_;
};

// One UDP port on both address families, one JSON request per datagram, one reply to its
// sender (time-out 1 s, tag 666). Datagrams are handled on the main queue; a datagram whose
// payload type is "error" (another server's reply) is never answered. The refusals of datagrams
// that are no request (not JSON, not a known command) are bounded by an ErrorReplyBudget, so
// that forged sources cannot turn the server into an amplifier; requests are always answered.
//
// Started once and never restarted: each start of the network makes a new server. start() and
// stop() may run on any one thread at a time (the workspace's management queue); the getters
// are thread-safe.
class BonjourServer : public sockets::AsyncUdpSocketDelegate,
                      public std::enable_shared_from_this<BonjourServer> {
public:
    static constexpr long replyTag = 666;
    static constexpr double replyTimeout = 1.0;
    // An error reply is at most this many times the datagram it answers; shorter datagrams get
    // none, so that no source, forged or not, earns more bytes than it sends by much.
    static constexpr std::size_t maxErrorReplyFactor = 3;

    // `now` is the clock of the refusal budget (the monotonic clock when empty).
    static std::shared_ptr<BonjourServer> make(std::shared_ptr<platform::NetService> netService,
                                               ErrorReplyBudget::Now now = {});
    ~BonjourServer() override;

    void setDelegate(std::weak_ptr<BonjourServerDelegate> delegate);
    std::shared_ptr<BonjourServerDelegate> delegate() const;

    // Binds `port` (0: a free one) on both families, starts receiving and publishes the service
    // under `name` at the port the socket really got. A bind or receive failure throws
    // RemoteSocketError and publishes nothing.
    void start(const std::string& name, std::uint16_t port);
    // Withdraws the service and closes the socket.
    void stop();

    // "" and 0 until started; then the name and the port in use.
    std::string name() const;
    std::uint16_t port() const;
    std::shared_ptr<sockets::AsyncUdpSocket> socket() const;
    bool isPublished() const;

    // Datagrams handled, replies sent, refusals withheld by the budget and error replies withheld
    // as too large for their datagram since the start (any thread).
    std::uint64_t handledCount() const { return handled_.load(); }
    std::uint64_t answeredCount() const { return answered_.load(); }
    std::uint64_t withheldCount() const { return withheld_.load(); }
    std::uint64_t tooShortCount() const { return tooShort_.load(); }

    // Parses, answers and replies to one datagram from `sender`. Main thread.
    void handle(const sockets::Data& request, const sockets::Address& sender);

    void udpSocketDidReceiveData(sockets::AsyncUdpSocket& sock, const sockets::Data& data,
                                 const sockets::Address& address,
                                 const sockets::FilterContext& context) override;

private:
    // The reply to one datagram; a refusal when the datagram was no request. Refusals and the
    // delegate's failures are errors.
    struct Reply {
        sockets::Data bytes;
        bool isRefusal = false;
        bool isError = false;
    };

    BonjourServer(std::shared_ptr<platform::NetService> netService, ErrorReplyBudget::Now now);
    Reply reply(const sockets::Data& request);
    void bindBoth(std::uint16_t port);

    const std::shared_ptr<platform::NetService> netService_;
    mutable std::mutex mutex_;
    std::weak_ptr<BonjourServerDelegate> delegate_;
    std::string name_;
    std::uint16_t port_ = 0;
    std::shared_ptr<sockets::AsyncUdpSocket> socket_;
    platform::NetService::HandlePtr publication_;
    bool published_ = false;
    std::atomic<std::uint64_t> handled_{0};
    std::atomic<std::uint64_t> answered_{0};
    std::atomic<std::uint64_t> withheld_{0};
    std::atomic<std::uint64_t> tooShort_{0};
    ErrorReplyBudget refusals_; // main thread
};

} // namespace cw

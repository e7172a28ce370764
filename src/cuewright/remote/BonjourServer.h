// The network remote-control server: answers JSON datagrams and announces itself over DNS-SD.
#pragma once

#include "cuewright/remote/NetworkMessages.h"
#include "cuewright/remote/ReplyBudget.h"
#include "platform/netservice/NetService.h"
#include "sockets/AsyncUdpSocket.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace cw {

class BonjourServer;

// Why no controller sees the service (the server still answers at its port).
enum class UnpublishedReason {
    nameInUse,   // another service on the network has its name
    nameTooLong, // more than NetService::maxNameBytes bytes: never offered to the discovery
    noDiscovery, // no discovery daemon runs (at the start, or it went away); published when one does
    failed,      // the discovery refused it for another reason
};

// What the server asks of its owner. Called on the main thread.
class BonjourServerDelegate {
public:
    virtual ~BonjourServerDelegate() = default;
    // The service was published.
    virtual void bonjourServerDidStart(BonjourServer& server) { (void)server; }
    // The service was withdrawn.
    virtual void bonjourServerDidStop(BonjourServer& server) { (void)server; }
    // The service is not published, or no longer (the server still answers at its port): `why`,
    // and the discovery's own words for it.
    virtual void bonjourServerDidNotPublish(BonjourServer& server, UnpublishedReason why,
                                            const std::string& detail) {
        (void)server, (void)why, (void)detail;
    }
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
// sender (time-out 1 s, tag 666), from the address the request came to. Datagrams are handled on the main
// queue; a datagram whose payload type is "error" (another server's reply) is never answered.
//
// No datagram can switch it off, and what it sends any address is bounded:
//  - a ReplyBudget admits each datagram before it reaches the main thread (a flood is dropped on
//    the socket's side, so the main thread and the memory stay free for others) and bounds the
//    replies and their bytes each source and all sources get (its header states the bounds: a
//    source within its rate gets back several times the bytes it sends);
//  - an error reply is never more than maxErrorReplyFactor times its datagram, and a reply too
//    large for a datagram is never tried: a short error goes instead;
//  - a reply the system refuses for its peer (a broadcast address, a datagram too large) is
//    dropped, counted and logged once, and the socket goes on;
//  - a socket that closes all the same (a receive error) is bound again on its port, and the log
//    says so, until stop().
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
    // The largest UDP payload over IPv4 (IPv6 takes 20 bytes more).
    static constexpr std::size_t maxReplyBytes = 65507;
    // The "generr" reason sent instead of a reply larger than that.
    static constexpr std::string_view replyTooLargeReason = "The reply is too large for a datagram.";
    // A command (anything but a status request) that waited longer than this between its arrival
    // and its turn on the main thread is not carried out: its sender no longer waits for it, and a
    // Pause clicked while this copy was busy must not pause it seconds later.
    static constexpr std::chrono::milliseconds maxCommandWait{1000};
    static constexpr std::string_view commandTooLateReason =
        "The command came too late and was not carried out.";

    // `now` is the clock of the reply budget (the monotonic clock when empty).
    static std::shared_ptr<BonjourServer> make(std::shared_ptr<platform::NetService> netService,
                                               ReplyBudget::Now now = {}, ReplyLimits limits = {});
    ~BonjourServer() override;

    void setDelegate(std::weak_ptr<BonjourServerDelegate> delegate);
    std::shared_ptr<BonjourServerDelegate> delegate() const;

    // Binds `port` (0: a free one) on both families, starts receiving and publishes the service
    // under `name` at the port the socket really got (a name too long for the network is not
    // offered: the delegate hears so). A name in use elsewhere is never changed: it is published
    // once the network no longer shows it. A bind or receive failure throws RemoteSocketError
    // and publishes nothing.
    void start(const std::string& name, std::uint16_t port);
    // Withdraws the service and closes the socket for good.
    void stop();

    // "" and 0 until started; then the name and the port in use.
    std::string name() const;
    std::uint16_t port() const;
    std::shared_ptr<sockets::AsyncUdpSocket> socket() const;
    bool isPublished() const;

    // Since the start (any thread): datagrams handled to the end (answered or not, admitted or
    // not), replies handed to the socket, datagrams or replies the budget withheld, error replies
    // withheld as too large for their datagram, replies the system refused to send, and the times
    // the socket was bound again after it closed.
    std::uint64_t handledCount() const { return counters_->handled.load(); }
    std::uint64_t answeredCount() const { return counters_->answered.load(); }
    std::uint64_t withheldCount() const { return counters_->withheld.load(); }
    std::uint64_t tooShortCount() const { return counters_->tooShort.load(); }
    std::uint64_t unsentCount() const { return counters_->unsent.load(); }
    std::uint64_t rebindCount() const { return counters_->rebinds.load(); }

    // Parses, answers and replies to one datagram from `sender` that the budget admitted at
    // `arrival` (on the budget's clock; none: just now) and that came to the local address
    // `local`, which the reply leaves from (empty: the one the system picks). Main thread.
    void handle(const sockets::Data& request, const sockets::Address& sender,
                std::optional<ReplyBudget::Clock::time_point> arrival = std::nullopt,
                const sockets::Address& local = {});

    void udpSocketDidReceiveData(sockets::AsyncUdpSocket& sock, const sockets::Data& data,
                                 const sockets::Address& address,
                                 const sockets::FilterContext& context) override;
    void udpSocketDidNotSendDataWithTag(sockets::AsyncUdpSocket& sock, long tag,
                                        const sockets::SocketError& error) override;
    void udpSocketDidClose(sockets::AsyncUdpSocket& sock,
                           const std::optional<sockets::SocketError>& error) override;

private:
    // The reply to one datagram; refusals of datagrams that are no request and the delegate's
    // failures are errors.
    struct Reply {
        sockets::Data bytes;
        bool isError = false;
    };

    // What the receive filter learnt of an admitted datagram: when it came, and to which address.
    struct Admission {
        ReplyBudget::Clock::time_point arrival;
        sockets::Address local;
    };

    // Shared with the socket's receive filter, which may run after the server is gone.
    struct Counters {
        std::atomic<std::uint64_t> handled{0};
        std::atomic<std::uint64_t> answered{0};
        std::atomic<std::uint64_t> withheld{0};
        std::atomic<std::uint64_t> tooShort{0};
        std::atomic<std::uint64_t> unsent{0};
        std::atomic<std::uint64_t> rebinds{0};
    };

    BonjourServer(std::shared_ptr<platform::NetService> netService, ReplyBudget::Now now, ReplyLimits limits);
    Reply reply(const sockets::Data& request, std::optional<ReplyBudget::Clock::time_point> arrival);
    void bindBoth(std::uint16_t port);
    // Publishes name_ at port_ (again). With mutex_ held.
    void publish();
    // The name is in use: watches the network for it to be freed, then publishes again. Main
    // thread.
    void waitForName();
    // Main thread: the service is not seen; the delegate hears why.
    static void notPublished(const std::weak_ptr<BonjourServer>& weak, UnpublishedReason why,
                             const std::string& detail);
    // Binds the closed socket again on its port while the server runs; tries again each second
    // while that fails. Main thread.
    void listenAgain(bool firstTry);

    const std::shared_ptr<platform::NetService> netService_;
    mutable std::mutex mutex_;
    std::weak_ptr<BonjourServerDelegate> delegate_;
    std::string name_;
    std::uint16_t port_ = 0;
    std::shared_ptr<sockets::AsyncUdpSocket> socket_;
    platform::NetService::HandlePtr publication_;
    platform::NetService::HandlePtr nameWatch_; // while the name is in use elsewhere
    bool retriedUnseen_ = false;                // published again as the name's holder was not seen
    bool published_ = false;
    bool running_ = false; // from a successful start() to stop()
    const std::shared_ptr<Counters> counters_ = std::make_shared<Counters>();
    const ReplyBudget::Now now_;
    const std::shared_ptr<ReplyBudget> budget_;
    // The receive filter's queue: it runs in place on the socket's queue while it is idle.
    const dispatch::QueuePtr admissionQueue_;
};

} // namespace cw

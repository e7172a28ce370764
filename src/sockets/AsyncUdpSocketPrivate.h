// What the datagram socket's source files share: state bits, error builders, inner types.
#pragma once

#include "sockets/AsyncUdpSocket.h"
#include "sockets/SocketAddress.h"

#include <atomic>
#include <deque>
#include <mutex>

#include <netinet/in.h>
#include <sys/socket.h>

namespace sockets {

namespace udp {

// Socket state bits.
constexpr uint32_t kFlagSocketsCreated = 0x1;
constexpr uint32_t kFlagBound = 0x2;
constexpr uint32_t kFlagConnecting = 0x4;
constexpr uint32_t kFlagConnected = 0x8;
constexpr uint32_t kFlagReceiveOnce = 0x10;
constexpr uint32_t kFlagReceiveContinuous = 0x20;
constexpr uint32_t kFlagIPv4Deactivated = 0x40;
constexpr uint32_t kFlagIPv6Deactivated = 0x80;
constexpr uint32_t kFlagSend4SourceSuspended = 0x100;
constexpr uint32_t kFlagSend6SourceSuspended = 0x200;
constexpr uint32_t kFlagReceive4SourceSuspended = 0x400;
constexpr uint32_t kFlagReceive6SourceSuspended = 0x800;
constexpr uint32_t kFlagCloseAfterSends = 0x8000;
constexpr uint32_t kFlagReceiveFlipFlop = 0x10000;

// Configuration bits; they survive a close.
constexpr uint16_t kConfigIPv4Disabled = 0x1;
constexpr uint16_t kConfigIPv6Disabled = 0x2;
constexpr uint16_t kConfigPreferIPv4 = 0x4;
constexpr uint16_t kConfigPreferIPv6 = 0x8;

constexpr socklen_t kSize4 = sizeof(sockaddr_in);  // 16
constexpr socklen_t kSize6 = sizeof(sockaddr_in6); // 28

inline const char* const kUnknownInterface =
    "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.";
inline const char* const kHostNil = "The host param is nil. Should be domain name or IP address string.";
inline const char* const kSetsockoptFailed = "Error in setsockopt() function";

inline SocketError udpError(int code, std::string message) {
    return SocketError{kUdpSocketErrorDomain, code, std::move(message), {}};
}
inline SocketError badConfigError(std::string message) {
    return udpError(1, std::move(message));
}
inline SocketError badParamError(std::string message) {
    return udpError(2, std::move(message));
}
inline SocketError sendTimeoutError() {
    return udpError(3, "Send operation timed out");
}
inline SocketError otherError(std::string message) {
    return udpError(5, std::move(message));
}

using ResolveCompletion = std::function<void(std::vector<Address>, std::optional<SocketError>)>;

// Resolves on a global queue and calls `completion` on the socket queue. "localhost" and
// "loopback" answer 127.0.0.1 and ::1 without asking the resolver.
void asyncResolveHost(const std::string& host, uint16_t port, const dispatch::QueuePtr& socketQueue,
                      ResolveCompletion completion);

} // namespace udp

// One queued datagram, or a connect request travelling through the send queue.
struct AsyncUdpSocket::SendPacket {
    bool isConnect = false;
    Data buffer;
    double timeout = -1.0; // negative: no time-out
    long tag = 0;
    bool hostGiven = false; // the caller named a host (refused on a connected socket)
    bool resolveInProgress = false;
    bool filterInProgress = false;
    std::vector<Address> resolvedAddresses;
    std::optional<SocketError> resolveError;
    Address address;
    int addressFamily = 0;
    Address source; // the local address to send from; empty: the system picks
};

// Datagrams read but not yet delivered. The socket queue adds and stops reading at a bound; the
// delegate queue takes deliveries off (the socket queue takes off datagrams that never reach
// the delegate) and, when a stopped backlog has drained to half its bounds, restarts reading.
struct AsyncUdpSocket::Backlog {
    std::atomic<size_t> datagrams{0};
    std::atomic<size_t> bytes{0};
    std::atomic<size_t> maxDatagrams{kDefaultMaxReceiveBacklog.datagrams};
    std::atomic<size_t> maxBytes{kDefaultMaxReceiveBacklog.bytes};
    std::atomic<bool> paused{false};
    std::weak_ptr<AsyncUdpSocket> socket; // set by make(), only read after
    dispatch::QueuePtr socketQueue;

    bool isFull() const { return datagrams >= maxDatagrams || bytes >= maxBytes; }
    bool isDrained() const { return datagrams <= maxDatagrams / 2 && bytes <= maxBytes / 2; }
    void add(size_t size) {
        datagrams += 1;
        bytes += size;
    }
    void release(size_t size) {
        datagrams -= 1;
        bytes -= size;
        // Whoever clears `paused` restarts reading; the socket queue re-checks after setting it.
        if (paused.load() && isDrained() && paused.exchange(false)) {
            socketQueue->async([weak = socket] {
                if (auto self = weak.lock()) {
                    self->doReceive();
                }
            });
        }
    }
};

// Datagrams on their way to the socket queue. Each run of sends gets one task there, which
// moves the whole run into the send queue, instead of a task per datagram. A hop of the socket's
// own (a setter, closeAfterSending) seals the run before it, so sends handed over after the
// hop start a new run whose task is queued behind it: the order of calls is kept.
struct AsyncUdpSocket::SendInbox {
    std::mutex mutex;
    std::deque<std::vector<std::shared_ptr<SendPacket>>> runs; // each with one task queued
    bool lastRunOpen = false;                                  // sends may still join the last run
};

// One delegate callback waiting for its turn. Only the fields of its kind mean anything: the
// others may hold what an earlier event left (kept for its buffer).
struct AsyncUdpSocket::DelegateEvent {
    enum class Kind : uint8_t { didConnect, didNotConnect, didSend, didNotSend, didReceive, didClose };
    Kind kind = Kind::didSend;
    long tag = 0;
    Data data;
    Address address;
    FilterContext context;
    std::optional<SocketError> error;
};

// Callbacks on their way to one delegate on one queue. The socket queue appends; one task on
// the delegate queue takes everything appended until it runs, so a burst of datagrams or sends
// costs one hop there, not one each. Delivered batches come back as `spare`, and their events'
// buffers are reused, so steady traffic allocates nothing per datagram.
//
// A batch is `scheduled` from its first event until its delivery task takes it. Sends and
// receipts start it `held`: its delivery task is posted by a flush task queued on the socket
// queue, so it goes out once the work queued there now is done (a window of sends gives one
// batch); any other callback, or a full batch, posts it at once.
struct AsyncUdpSocket::Outbox {
    explicit Outbox(std::shared_ptr<Backlog> b)
        : backlog(std::move(b)) {}
    const std::shared_ptr<Backlog> backlog; // each receipt delivered is taken off it
    std::mutex mutex;
    std::vector<DelegateEvent> events; // the first `count` wait for delivery
    size_t count = 0;
    std::vector<DelegateEvent> spare;
    bool scheduled = false;
    bool held = false;        // scheduled, but its delivery task is not posted yet
    bool flushQueued = false; // a flush task is queued on the socket queue
    // Set while scheduled: who hears the waiting events, where, and the socket they name.
    std::shared_ptr<AsyncUdpSocketDelegate> delegate;
    dispatch::QueuePtr queue;
    std::shared_ptr<AsyncUdpSocket> socket;
};

template <class F> auto AsyncUdpSocket::onQueueSync(F&& f) const {
    if (onSocketQueue()) {
        return f();
    }
    return socketQueue_->sync(f);
}

} // namespace sockets

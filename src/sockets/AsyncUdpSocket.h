// An asynchronous UDP socket driven by dispatch queues, reporting to a delegate.
#pragma once

#include "dispatch/Queue.h"
#include "sockets/SocketAddress.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct sockaddr_in;
struct sockaddr_in6;
struct sockaddr_storage;

namespace dispatch {
class ReadSource;
class WriteSource;
class TimerSource;
} // namespace dispatch

namespace sockets {

class AsyncUdpSocket;

// What a receive filter hands on to the delegate with a datagram; null without a filter.
using FilterContext = std::shared_ptr<void>;

// Callbacks of an AsyncUdpSocket. Every method is optional (does nothing by default) and is
// called on the socket's delegate queue, in the order the socket produced the events; one task
// there may make several calls in a row (a burst of datagrams is delivered as one batch). By the
// time a callback runs, the socket may have moved on: ask it, do not assume.
class AsyncUdpSocketDelegate {
public:
    virtual ~AsyncUdpSocketDelegate() = default;

    // A connect request succeeded; `address` is the peer.
    virtual void udpSocketDidConnectToAddress(AsyncUdpSocket& sock, const Address& address);
    // A connect request failed; the socket stays open and unconnected.
    virtual void udpSocketDidNotConnect(AsyncUdpSocket& sock, const SocketError& error);
    // The datagram of `tag` was handed to the system, or dropped by the send filter.
    virtual void udpSocketDidSendDataWithTag(AsyncUdpSocket& sock, long tag);
    // The datagram of `tag` could not be sent (bad destination, resolver failure, time-out).
    virtual void udpSocketDidNotSendDataWithTag(AsyncUdpSocket& sock, long tag, const SocketError& error);
    // A datagram arrived from `address`; `context` is what the receive filter left, else null.
    virtual void udpSocketDidReceiveData(AsyncUdpSocket& sock, const Data& data, const Address& address,
                                         const FilterContext& context);
    // The socket closed: after close() with no error, else with the error that closed it. No
    // callback of that open period follows this one.
    virtual void udpSocketDidClose(AsyncUdpSocket& sock, const std::optional<SocketError>& error);
};

// A pair of non-blocking datagram sockets (IPv4 and IPv6, either may be absent) that live on one
// serial socket queue: that queue is the socket's only lock. Every public method may be called
// from any thread. Getters and the operations that answer (bind, connect, receive, the options,
// close) hop onto the socket queue synchronously, or run in place when called on it; setters and
// sends hop asynchronously. Delegate callbacks are never made from inside the call that started
// the operation.
//
// Errors of these synchronous operations come back as a false result and, when `error` is given,
// a SocketError; the delegate hears nothing of them. Asynchronous failures reach the delegate.
//
// Closing drops the datagram being sent and every queued datagram and connect request without a
// callback, then reports udpSocketDidClose once (only when sockets had been created). The object
// can be bound again after a close; its configuration, filters and delegate stay.
//
// Create with make(); destroying the last reference closes the sockets without a callback.
class AsyncUdpSocket : public std::enable_shared_from_this<AsyncUdpSocket> {
public:
    using SendFilter = std::function<bool(const Data& data, const Address& address, long tag)>;
    using ReceiveFilter =
        std::function<bool(const Data& data, const Address& address, FilterContext& context)>;
    enum class FilterMode { synchronous, asynchronous };
    enum class SetMode { asynchronously, synchronously };

    // A null socket queue makes a serial queue labelled "AsyncUdpSocket"; a global (concurrent)
    // queue is a programming error. A null delegate queue means no callbacks.
    static std::shared_ptr<AsyncUdpSocket> make(std::weak_ptr<AsyncUdpSocketDelegate> delegate = {},
                                                dispatch::QueuePtr delegateQueue = nullptr,
                                                dispatch::QueuePtr socketQueue = nullptr);
    ~AsyncUdpSocket();
    AsyncUdpSocket(const AsyncUdpSocket&) = delete;
    AsyncUdpSocket& operator=(const AsyncUdpSocket&) = delete;

    // Delegate and delegate queue.
    std::shared_ptr<AsyncUdpSocketDelegate> delegate() const;
    dispatch::QueuePtr delegateQueue() const;
    std::pair<std::shared_ptr<AsyncUdpSocketDelegate>, dispatch::QueuePtr> delegateAndQueue() const;
    void setDelegate(std::weak_ptr<AsyncUdpSocketDelegate> delegate, SetMode mode = SetMode::asynchronously);
    void setDelegateQueue(dispatch::QueuePtr queue, SetMode mode = SetMode::asynchronously);
    void setDelegate(std::weak_ptr<AsyncUdpSocketDelegate> delegate, dispatch::QueuePtr queue,
                     SetMode mode = SetMode::asynchronously);

    // Address families. Preferring one clears the other preference; neither is "neutral".
    bool isIPv4Enabled() const;
    void setIPv4Enabled(bool enabled);
    bool isIPv6Enabled() const;
    void setIPv6Enabled(bool enabled);
    bool isIPv4Preferred() const;
    bool isIPv6Preferred() const;
    bool isIPVersionNeutral() const;
    void setPreferIPv4();
    void setPreferIPv6();
    void setIPVersionNeutral();

    // Receive limits per datagram (longer datagrams arrive cut); the send size is given to
    // SO_SNDBUF and SO_RCVBUF when sockets are created and does not touch open ones.
    uint16_t maxReceiveIPv4BufferSize() const;
    void setMaxReceiveIPv4BufferSize(uint16_t size);
    uint32_t maxReceiveIPv6BufferSize() const;
    void setMaxReceiveIPv6BufferSize(uint32_t size);
    uint16_t maxSendBufferSize() const;
    void setMaxSendBufferSize(uint16_t size);

    // The receive backlog: datagrams read from the system but not yet delivered (waiting for the
    // delegate queue, or in an asynchronous receive filter). At either bound the socket stops
    // reading, so the system's receive buffer fills and the system drops what does not fit, as
    // it does for a socket nobody reads; reading resumes once deliveries bring the backlog to
    // half of both bounds. A new bound applies from the next read; each is at least 1.
    struct ReceiveBacklog {
        size_t datagrams = 0;
        size_t bytes = 0; // payload bytes
        bool operator==(const ReceiveBacklog&) const = default;
    };
    // Sized like a generous socket receive buffer: a few MiB at most, whatever the sender does.
    static constexpr ReceiveBacklog kDefaultMaxReceiveBacklog{2048, size_t{1} << 20};
    ReceiveBacklog maxReceiveBacklog() const;
    void setMaxReceiveBacklog(ReceiveBacklog bound);
    ReceiveBacklog receiveBacklog() const;
    // How many times reading stopped at the bound, since the object was made.
    uint64_t receiveBacklogPauseCount() const;
    // Datagrams the system dropped because the socket's receive buffer was full (while reading
    // was stopped, or because the socket fell behind), since the object was made. The system
    // tells with the next datagram read, so the count lags until one arrives.
    uint64_t droppedDatagramCount() const;

    // What a send that the system refuses does. `closeSocket`, the default: the socket closes
    // with the error (udpSocketDidClose) and that datagram gets no callback of its own, for
    // callers that take any send error as the end of their conversation. `failDatagram`: only
    // that datagram fails (udpSocketDidNotSendDataWithTag with the error) and the socket goes
    // on, as a server answering many peers needs: one peer's address that cannot be reached,
    // is a broadcast address (EACCES) or a datagram too large for it (EMSGSIZE) says nothing
    // about the next. A descriptor that is no longer a socket closes it either way. Survives a
    // close.
    enum class SendErrorPolicy { closeSocket, failDatagram };
    SendErrorPolicy sendErrorPolicy() const;
    void setSendErrorPolicy(SendErrorPolicy policy);

    std::shared_ptr<void> userData() const;
    void setUserData(std::shared_ptr<void> data);

    // State.
    bool isConnected() const;
    bool isClosed() const;
    // With sockets: that descriptor is open; before: that family is enabled.
    bool isIPv4() const;
    bool isIPv6() const;

    // The local address once bound (of the IPv4 socket when open, else the IPv6 one); empty
    // address and host, port 0 before.
    Address localAddress() const;
    std::string localHost() const;
    uint16_t localPort() const;
    Address localAddressIPv4() const;
    std::string localHostIPv4() const;
    uint16_t localPortIPv4() const;
    Address localAddressIPv6() const;
    std::string localHostIPv6() const;
    uint16_t localPortIPv6() const;

    // The peer of a connected socket (kept after a close until the next connect).
    Address connectedAddress() const;
    std::string connectedHost() const;
    uint16_t connectedPort() const;

    // Descriptors: -1 when absent or when not called on the socket queue (elsewhere a descriptor
    // could be closed at any moment).
    int socketFD() const;
    int socket4FD() const;
    int socket6FD() const;

    // Runs `block` on the socket queue and waits (in place when already there).
    void performBlock(const std::function<void()>& block);

    // Bind: once per open period, never after a connect request. A null interface means the
    // wildcard addresses; "localhost" and "loopback" mean 127.0.0.1 and ::1; otherwise an
    // interface name ("lo") or an address text of an interface.
    bool bindToPort(uint16_t port, SocketError* error = nullptr);
    bool bindToPort(uint16_t port, const std::optional<std::string>& interface, SocketError* error = nullptr);
    bool bindToAddress(const Address& address, SocketError* error = nullptr);

    // Connect: queued behind the datagrams already queued; the outcome arrives as
    // udpSocketDidConnectToAddress or udpSocketDidNotConnect. True means queued. An empty host or
    // address counts as none given.
    bool connectToHost(const std::string& host, uint16_t port, SocketError* error = nullptr);
    bool connectToAddress(const Address& address, SocketError* error = nullptr);

    // Receiving needs sockets (bind, connect, a send or an option operation made them).
    // receiveOnce delivers one datagram; beginReceiving every one until pauseReceiving.
    bool receiveOnce(SocketError* error = nullptr);
    bool beginReceiving(SocketError* error = nullptr);
    void pauseReceiving();

    // Sending: each returns at once, takes the payload over and ends in exactly one
    // udpSocketDidSendDataWithTag or udpSocketDidNotSendDataWithTag (unless the socket closes
    // first). Datagrams go out in queue order (ready ones behind each other may share one system
    // call). An empty payload is ignored. A negative time-out waits for the socket as long as it
    // takes. An empty host counts as none. Sends handed over in a row reach the socket queue as
    // one task: they keep their order among themselves and with the socket's other calls, but a
    // task posted straight onto the socket queue between two of them may run after both.
    void sendData(Data data, long tag);
    void sendData(Data data, double timeout, long tag);
    void sendData(Data data, const std::string& host, uint16_t port, double timeout, long tag);
    void sendData(Data data, const Address& address, double timeout, long tag);
    // As above, leaving from the local address `source` (its port is ignored) rather than the one
    // the system would pick for the route: a reply from the address its request came to (see
    // filteredDatagramDestination), which a host with several addresses needs. An empty `source`,
    // one of the other family, or a connected socket: the system picks.
    void sendData(Data data, const Address& address, const Address& source, double timeout, long tag);

    // Closes now, or once every queued datagram has been reported.
    void close();
    void closeAfterSending();

    // Multicast, broadcast and port reuse; these create the sockets when none exist.
    bool joinMulticastGroup(const std::string& group, SocketError* error = nullptr);
    bool joinMulticastGroup(const std::string& group, const std::optional<std::string>& interface,
                            SocketError* error = nullptr);
    bool leaveMulticastGroup(const std::string& group, SocketError* error = nullptr);
    bool leaveMulticastGroup(const std::string& group, const std::optional<std::string>& interface,
                             SocketError* error = nullptr);
    bool sendIPv4MulticastOnInterface(const std::string& interface, SocketError* error = nullptr);
    bool sendIPv6MulticastOnInterface(const std::string& interface, SocketError* error = nullptr);
    bool enableReusePort(bool flag, SocketError* error = nullptr);
    bool enableBroadcast(bool flag, SocketError* error = nullptr);

    // Filters run on their own queue (never the socket queue) over each datagram: the send filter
    // just before sending (false: dropped, reported as sent), the receive filter before delivery
    // (false: dropped; it may set a context for the delegate). A synchronous filter must not call
    // the socket. A null filter removes it; a filter without a queue is a programming error.
    void setSendFilter(SendFilter filter, dispatch::QueuePtr queue,
                       FilterMode mode = FilterMode::asynchronous);
    void setReceiveFilter(ReceiveFilter filter, dispatch::QueuePtr queue,
                          FilterMode mode = FilterMode::asynchronous);
    // Inside a receive filter: when the datagram it is given came in, as the system stamped it on
    // arrival (on the monotonic clock), however long it then waited to be read (a stopped process
    // reads it on waking). nullopt outside a filter, or when the system gave no stamp.
    static std::optional<std::chrono::steady_clock::time_point> filteredDatagramArrival();
    // Inside a receive filter: the local address the datagram came to (port 0; a link-local IPv6
    // one with its interface as scope), or for one sent to a broadcast address, the address of the
    // interface it came in on. nullopt outside a filter, for a multicast datagram over IPv6, or
    // when the system did not say.
    static std::optional<Address> filteredDatagramDestination();

    // Address utilities. Hosts are inet_ntop texts ("" when that fails or the buffer is no address).
    static std::string hostFromSockaddr4(const sockaddr_in& address);
    static std::string hostFromSockaddr6(const sockaddr_in6& address);
    static uint16_t portFromSockaddr4(const sockaddr_in& address);
    static uint16_t portFromSockaddr6(const sockaddr_in6& address);
    // False with "", 0 and AF_UNSPEC in the outputs for a buffer that holds no IP address.
    static bool getHost(std::string* host, uint16_t* port, int* family, const Address& address);
    static std::string hostFromAddress(const Address& address);
    static uint16_t portFromAddress(const Address& address);
    static int familyFromAddress(const Address& address);
    static bool isIPv4Address(const Address& address);
    static bool isIPv6Address(const Address& address);

    struct SendPacket;

private:
    AsyncUdpSocket(std::weak_ptr<AsyncUdpSocketDelegate> delegate, dispatch::QueuePtr delegateQueue,
                   dispatch::QueuePtr socketQueue);

    bool onSocketQueue() const;
    template <class F> auto onQueueSync(F&& f) const;
    void onQueueAsync(std::function<void(AsyncUdpSocket&)> f);

    bool preOp(SocketError* error) const;
    bool preBind(SocketError* error) const;
    bool preConnect(SocketError* error) const;
    bool preJoin(SocketError* error) const;
    bool createSockets(bool ipv4, bool ipv6, SocketError* error);
    bool createSocketsIfNeeded(SocketError* error);
    void setupSources(int family);
    void suspendSendSource(int family);
    void resumeSendSource(int family);
    void suspendReceiveSource(int family);
    void resumeReceiveSource(int family);
    void closeSocket(int family);
    void closeSockets();
    void closeWithError(std::optional<SocketError> error, bool notify = true);
    void maybeUpdateCachedLocalAddress(int family) const;
    // One cached local-address field of a family, refreshed first, read on the socket queue.
    template <class T> T cachedLocal(int family, T AsyncUdpSocket::*field) const;

    bool performReceiveRequest(uint32_t setFlag, uint32_t clearFlag, SocketError* error);
    void onReadEvent(int family, uint64_t available);
    void onWriteEvent(int family);
    void doReceive();
    void finishReceiveFilter(uint64_t period, bool passed, Data data, Address from, FilterContext context);
    bool pauseForBacklog();
    void noteDrops(int family, uint32_t systemCount);
    void waitForReadEvents();

    struct SendInbox;
    void queueEntry(std::shared_ptr<SendPacket> packet);
    void takeQueuedEntries();
    void sealQueuedEntries();
    void maybeDequeueSend();
    void doPreSend();
    void doSend();
    bool sendBatch(int fd, int family);
    void failCurrentSend(const SocketError& error);
    // A send the system refused with `errno`: the datagram fails, or the socket closes.
    void sendFailed();
    void finishCurrentSendAsSent();
    void endCurrentSend();
    void doSendTimeout();
    void setupSendTimer(double timeout);
    int chooseAddress(const std::vector<Address>& addresses, Address* chosen, SocketError* error) const;
    void maybeConnect();
    bool isConnectedTo(const sockaddr_storage& address) const;
    bool performMulticastRequest(bool join, const std::string& group,
                                 const std::optional<std::string>& interface, SocketError* error);

    struct DelegateEvent;
    struct Outbox;
    void notifyDidConnect(Address address);
    void notifyDidNotConnect(SocketError error);
    void notifyDidSend(long tag);
    void notifyDidNotSend(long tag, SocketError error);
    // Hands a datagram counted in the backlog on to the delegate, or takes it off the backlog.
    void notifyDidReceive(Data data, Address from, FilterContext context);
    void notifyDidReceive(const uint8_t* data, size_t length, const sockaddr_storage& from,
                          size_t fromLength);
    void notifyDidClose(std::optional<SocketError> error);
    enum class Delivery { now, batched };
    template <class Fill> bool notify(Delivery delivery, Fill&& fill);
    static void postDelivery(const std::shared_ptr<Outbox>& outbox);
    static void deliverEvents(Outbox& outbox);

    // Datagrams handed over, not yet on the socket queue: any thread, under the inbox's mutex.
    const std::shared_ptr<SendInbox> inbox_;
    // Everything below is touched on the socket queue only.
    std::weak_ptr<AsyncUdpSocketDelegate> delegate_;
    dispatch::QueuePtr delegateQueue_;
    ReceiveFilter receiveFilter_;
    dispatch::QueuePtr receiveFilterQueue_;
    bool receiveFilterAsync_ = false;
    SendFilter sendFilter_;
    dispatch::QueuePtr sendFilterQueue_;
    bool sendFilterAsync_ = false;
    uint32_t flags_ = 0;
    uint16_t config_ = 0;
    uint16_t max4ReceiveSize_ = 65535;
    uint32_t max6ReceiveSize_ = 65535;
    uint16_t maxSendSize_ = 65535;
    SendErrorPolicy sendErrorPolicy_ = SendErrorPolicy::closeSocket;
    int socket4FD_ = -1;
    int socket6FD_ = -1;
    dispatch::QueuePtr socketQueue_;
    std::shared_ptr<dispatch::WriteSource> send4Source_;
    std::shared_ptr<dispatch::WriteSource> send6Source_;
    std::shared_ptr<dispatch::ReadSource> receive4Source_;
    std::shared_ptr<dispatch::ReadSource> receive6Source_;
    std::shared_ptr<dispatch::TimerSource> sendTimer_;
    std::shared_ptr<SendPacket> currentSend_;
    std::deque<std::shared_ptr<SendPacket>> sendQueue_;
    uint64_t socket4FDBytesAvailable_ = 0;
    uint64_t socket6FDBytesAvailable_ = 0;
    uint32_t pendingFilterOperations_ = 0;
    mutable Address cachedLocalAddress4_;
    mutable std::string cachedLocalHost4_;
    mutable uint16_t cachedLocalPort4_ = 0;
    mutable Address cachedLocalAddress6_;
    mutable std::string cachedLocalHost6_;
    mutable uint16_t cachedLocalPort6_ = 0;
    Address cachedConnectedAddress_;
    std::string cachedConnectedHost_;
    uint16_t cachedConnectedPort_ = 0;
    int cachedConnectedFamily_ = 0;
    std::shared_ptr<void> userData_;
    std::vector<uint8_t> receiveBuffer_; // scratch for recvmsg, reused across datagrams
    std::shared_ptr<Outbox> outbox_;     // delegate callbacks on their way to the delegate queue
    struct Backlog;
    const std::shared_ptr<Backlog> backlog_; // shared with the outboxes, which take deliveries off
    uint64_t backlogPauses_ = 0;
    uint64_t droppedDatagrams_ = 0;
    uint32_t systemDrops4_ = 0; // the system's running drop count of each descriptor, last seen
    uint32_t systemDrops6_ = 0;
    uint64_t openPeriod_ = 0; // raised by every close; late answers of a former period are dropped
    bool inDequeue_ = false;  // maybeDequeueSend's loop is running
    // Its address is the socket queue's specific key; the value is the socket.
    char isOnSocketQueueOrTargetQueueKey_ = 0;
};

} // namespace sockets

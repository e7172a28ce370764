// The datagram socket's receive loop.
#include "sockets/AsyncUdpSocketPrivate.h"

#include "base/Log.h"
#include "dispatch/Source.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace sockets {

namespace {

// The arrival of the datagram the receive filter on this thread is looking at, and the address
// it came to.
thread_local std::optional<std::chrono::steady_clock::time_point> filteredArrival;
thread_local std::optional<Address> filteredDestination;

// Sets them for the filter's call.
class ArrivalScope {
public:
    ArrivalScope(std::optional<std::chrono::steady_clock::time_point> arrival,
                 const std::optional<Address>& destination) {
        filteredArrival = arrival;
        filteredDestination = destination;
    }
    ~ArrivalScope() {
        filteredArrival.reset();
        filteredDestination.reset();
    }
    ArrivalScope(const ArrivalScope&) = delete;
    ArrivalScope& operator=(const ArrivalScope&) = delete;
};

template <class SocketAddress> Address addressBytes(const SocketAddress& address) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&address);
    return Address(bytes, bytes + sizeof address);
}

// The local address a datagram came to, from its IP_PKTINFO or IPV6_PKTINFO; nullopt for any
// other control message.
std::optional<Address> packetDestination(const cmsghdr& c) {
    if (c.cmsg_level == IPPROTO_IP && c.cmsg_type == IP_PKTINFO) {
        in_pktinfo info{};
        std::memcpy(&info, CMSG_DATA(&c), sizeof info);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr = info.ipi_spec_dst; // the interface's own address for a broadcast
        return addressBytes(local);
    }
    if (c.cmsg_level == IPPROTO_IPV6 && c.cmsg_type == IPV6_PKTINFO) {
        in6_pktinfo info{};
        std::memcpy(&info, CMSG_DATA(&c), sizeof info);
        if (IN6_IS_ADDR_MULTICAST(&info.ipi6_addr)) {
            return std::nullopt; // no address to answer from
        }
        sockaddr_in6 local{};
        local.sin6_family = AF_INET6;
        local.sin6_addr = info.ipi6_addr;
        if (IN6_IS_ADDR_LINKLOCAL(&info.ipi6_addr)) {
            local.sin6_scope_id = info.ipi6_ifindex;
        }
        return addressBytes(local);
    }
    return std::nullopt;
}

// The system stamps arrivals on the real-time clock: its age now, taken from the monotonic clock.
std::chrono::steady_clock::time_point monotonicArrival(const timespec& stamp) {
    timespec realNow{};
    ::clock_gettime(CLOCK_REALTIME, &realNow);
    const auto age = std::chrono::seconds(realNow.tv_sec - stamp.tv_sec) +
                     std::chrono::nanoseconds(realNow.tv_nsec - stamp.tv_nsec);
    return std::chrono::steady_clock::now() -
           std::max(std::chrono::nanoseconds(0), std::chrono::nanoseconds(age));
}

} // namespace

std::optional<std::chrono::steady_clock::time_point> AsyncUdpSocket::filteredDatagramArrival() {
    return filteredArrival;
}

std::optional<Address> AsyncUdpSocket::filteredDatagramDestination() {
    return filteredDestination;
}

using namespace udp;

// ---------------------------------------------------------------------------------------------
// Receiving

bool AsyncUdpSocket::receiveOnce(SocketError* error) {
    return performReceiveRequest(kFlagReceiveOnce, kFlagReceiveContinuous, error);
}

bool AsyncUdpSocket::beginReceiving(SocketError* error) {
    return performReceiveRequest(kFlagReceiveContinuous, kFlagReceiveOnce, error);
}

bool AsyncUdpSocket::performReceiveRequest(uint32_t setFlag, uint32_t clearFlag, SocketError* error) {
    return onQueueSync([&]() -> bool {
        if (flags_ & setFlag) {
            return true;
        }
        if (!(flags_ & kFlagSocketsCreated)) {
            return fail(error,
                        badConfigError("Must bind socket before you can receive data. You can do this "
                                       "explicitly via bind, or implicitly via connect or by sending data."));
        }
        flags_ = (flags_ | setFlag) & ~clearFlag;
        socketQueue_->async([weak = weak_from_this()] {
            if (auto self = weak.lock()) {
                self->doReceive();
            }
        });
        return true;
    });
}

void AsyncUdpSocket::pauseReceiving() {
    onQueueAsync([](AsyncUdpSocket& s) {
        s.flags_ &= ~(kFlagReceiveOnce | kFlagReceiveContinuous);
        if (s.socket4FDBytesAvailable_ > 0) {
            s.suspendReceiveSource(AF_INET);
        }
        if (s.socket6FDBytesAvailable_ > 0) {
            s.suspendReceiveSource(AF_INET6);
        }
    });
}

void AsyncUdpSocket::onReadEvent(int family, uint64_t available) {
    // FIONREAD on a datagram socket is the size of the next datagram, and 0 for an empty one:
    // never an end of stream. Any read event means "something to read"; recvfrom finds out.
    (family == AF_INET ? socket4FDBytesAvailable_ : socket6FDBytesAvailable_) =
        std::max<uint64_t>(available, 1);
    doReceive();
}

void AsyncUdpSocket::onWriteEvent(int family) {
    if (currentSend_ && !currentSend_->isConnect && !currentSend_->resolveInProgress &&
        !currentSend_->filterInProgress) {
        doSend();
        return;
    }
    suspendSendSource(family);
}

void AsyncUdpSocket::waitForReadEvents() {
    if (socket4FDBytesAvailable_ == 0) {
        resumeReceiveSource(AF_INET);
    }
    if (socket6FDBytesAvailable_ == 0) {
        resumeReceiveSource(AF_INET6);
    }
}

void AsyncUdpSocket::doReceive() {
    socketQueue_->assertOnQueue();
    const uint64_t period = openPeriod_;
    for (;;) {
        const bool once = flags_ & kFlagReceiveOnce;
        if (period != openPeriod_) {
            return; // a delivery step closed the socket
        }
        if (!(flags_ & (kFlagReceiveOnce | kFlagReceiveContinuous)) ||
            (once && pendingFilterOperations_ > 0)) {
            if (socket4FDBytesAvailable_ > 0) {
                suspendReceiveSource(AF_INET);
            }
            if (socket6FDBytesAvailable_ > 0) {
                suspendReceiveSource(AF_INET6);
            }
            return;
        }
        const bool has4 = socket4FDBytesAvailable_ > 0;
        const bool has6 = socket6FDBytesAvailable_ > 0;
        if (!has4 && !has6) {
            waitForReadEvents();
            return;
        }
        if (backlog_->isFull() && pauseForBacklog()) {
            return;
        }
        int family = has6 ? AF_INET6 : AF_INET;
        if (flags_ & kFlagConnected) {
            family = socket4FD_ != -1 ? AF_INET : AF_INET6;
        } else if (has4 && has6) {
            const bool wasSet = flags_ & kFlagReceiveFlipFlop;
            flags_ ^= kFlagReceiveFlipFlop;
            family = wasSet ? AF_INET : AF_INET6;
        }
        const bool v4 = family == AF_INET;
        const int fd = v4 ? socket4FD_ : socket6FD_;
        uint64_t& available = v4 ? socket4FDBytesAvailable_ : socket6FDBytesAvailable_;
        const size_t max = v4 ? max4ReceiveSize_ : max6ReceiveSize_;
        if (receiveBuffer_.size() < std::max<size_t>(max, 1)) {
            receiveBuffer_.resize(std::max<size_t>(max, 1));
        }
        sockaddr_storage from{};
        iovec payload{receiveBuffer_.data(), max};
        alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(uint32_t)) + CMSG_SPACE(sizeof(timespec)) +
                                              CMSG_SPACE(sizeof(in6_pktinfo))>
            control;
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = v4 ? kSize4 : kSize6;
        message.msg_iov = &payload;
        message.msg_iovlen = 1;
        message.msg_control = control.data();
        message.msg_controllen = control.size();
        ssize_t n = 0;
        do {
            n = ::recvmsg(fd, &message, 0);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                available = 0;
                continue; // the other family may still have data; else wait
            }
            closeWithError(SocketError::fromErrno("Error in recvfrom() function"));
            return;
        }
        const socklen_t fromLength = message.msg_namelen;
        std::optional<std::chrono::steady_clock::time_point> arrival;
        std::optional<Address> destination;
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level != SOL_SOCKET) {
                if (auto local = packetDestination(*c)) {
                    destination = std::move(local);
                }
                continue;
            }
            if (c->cmsg_type == SO_RXQ_OVFL) {
                uint32_t systemCount = 0;
                std::memcpy(&systemCount, CMSG_DATA(c), sizeof systemCount);
                noteDrops(family, systemCount);
            } else if (c->cmsg_type == SCM_TIMESTAMPNS) {
                timespec stamp{};
                std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
                arrival = monotonicArrival(stamp);
            }
        }
        // FIONREAD told of the next datagram only: keep reading until recvfrom would block.
        available = std::max<uint64_t>(available > static_cast<uint64_t>(n) ? available - n : 0, 1);
        if (n == 0) {
            continue; // an empty datagram: nothing to deliver, and no reason to stop
        }
        if ((flags_ & kFlagConnected) && !isConnectedTo(from)) {
            continue; // not from our peer
        }
        backlog_->add(static_cast<size_t>(n));
        if (receiveFilter_ && receiveFilterQueue_) {
            Address sender(reinterpret_cast<const uint8_t*>(&from),
                           reinterpret_cast<const uint8_t*>(&from) + fromLength);
            Data data(receiveBuffer_.data(), receiveBuffer_.data() + n);
            if (receiveFilterAsync_) {
                ++pendingFilterOperations_;
                receiveFilterQueue_->async([weak = weak_from_this(), filter = receiveFilter_,
                                            socketQueue = socketQueue_, period, data = std::move(data),
                                            sender = std::move(sender), arrival,
                                            destination = std::move(destination)]() mutable {
                    FilterContext context;
                    bool passed = false;
                    {
                        const ArrivalScope scope(arrival, destination);
                        passed = filter(data, sender, context);
                    }
                    socketQueue->async([weak, period, passed, data = std::move(data),
                                        sender = std::move(sender), context = std::move(context)]() mutable {
                        if (auto self = weak.lock()) {
                            self->finishReceiveFilter(period, passed, std::move(data), std::move(sender),
                                                      std::move(context));
                        }
                    });
                });
                if (once) {
                    return; // the filter's answer continues
                }
                continue;
            }
            FilterContext context;
            bool passed = true;
            const ReceiveFilter& filter = receiveFilter_;
            receiveFilterQueue_->sync([&] {
                const ArrivalScope scope(arrival, destination);
                passed = filter(data, sender, context);
            });
            if (!passed) {
                backlog_->release(data.size());
                continue;
            }
            notifyDidReceive(std::move(data), std::move(sender), std::move(context));
        } else {
            notifyDidReceive(receiveBuffer_.data(), static_cast<size_t>(n), from, fromLength);
        }
        if (once) {
            flags_ &= ~kFlagReceiveOnce;
            return;
        }
    }
}

void AsyncUdpSocket::finishReceiveFilter(uint64_t period, bool passed, Data data, Address from,
                                         FilterContext context) {
    if (period != openPeriod_ || !passed) {
        backlog_->release(data.size());
    }
    if (period != openPeriod_) {
        return; // closed meanwhile: nothing may follow the close callback
    }
    --pendingFilterOperations_;
    if (passed) {
        notifyDidReceive(std::move(data), std::move(from), std::move(context));
    }
    if (flags_ & kFlagReceiveOnce) {
        if (passed) {
            flags_ &= ~kFlagReceiveOnce;
        } else if (pendingFilterOperations_ == 0) {
            doReceive();
        }
    }
}

// Stops reading at the backlog's bound: the read sources are suspended, so the system's buffer
// takes what arrives meanwhile and drops the rest. False when deliveries drained the backlog
// before the pause was in place, so reading goes on.
bool AsyncUdpSocket::pauseForBacklog() {
    suspendReceiveSource(AF_INET);
    suspendReceiveSource(AF_INET6);
    backlog_->paused = true;
    if (backlog_->isDrained() && backlog_->paused.exchange(false)) {
        return false; // the sources resume once both families have been read empty
    }
    ++backlogPauses_;
    return true;
}

// The system reports its running count of datagrams dropped on the descriptor (32 bits, may wrap).
void AsyncUdpSocket::noteDrops(int family, uint32_t systemCount) {
    uint32_t& last = family == AF_INET ? systemDrops4_ : systemDrops6_;
    droppedDatagrams_ += static_cast<uint32_t>(systemCount - last);
    last = systemCount;
}

} // namespace sockets

// The datagram socket's send queue and host resolution.
#include "sockets/AsyncUdpSocketPrivate.h"

#include "base/Log.h"
#include "dispatch/Source.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

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

using namespace udp;

namespace udp {

void asyncResolveHost(const std::string& host, uint16_t port, const dispatch::QueuePtr& socketQueue,
                      ResolveCompletion completion) {
    if (host.empty()) {
        socketQueue->async([completion = std::move(completion)] { completion({}, badParamError(kHostNil)); });
        return;
    }
    dispatch::globalQueue()->async([host, port, socketQueue, completion = std::move(completion)] {
        LookupResult result = lookupHost(host, port, SOCK_DGRAM);
        socketQueue->async([completion, result = std::move(result)]() mutable {
            completion(std::move(result.addresses), std::move(result.error));
        });
    });
}

} // namespace udp

namespace {

// A datagram waiting its turn; the packet type is the socket's private one.
template <class Packet> std::shared_ptr<Packet> newPacket(Data data, double timeout, long tag) {
    auto packet = std::make_shared<Packet>();
    packet->buffer = std::move(data);
    packet->timeout = timeout;
    packet->tag = tag;
    return packet;
}

// Control data that has a datagram of `family` leave from `source`: IP_PKTINFO or IPV6_PKTINFO.
struct SourceControl {
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(in6_pktinfo))> bytes{};
    size_t size = 0; // 0: none, the system picks the source
};

// Fills one control message with `info`; returns the room it takes.
template <typename Info> size_t putControl(cmsghdr* c, int level, int type, const Info& info) {
    c->cmsg_level = level;
    c->cmsg_type = type;
    c->cmsg_len = CMSG_LEN(sizeof info);
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
    return CMSG_SPACE(sizeof info);
}

SourceControl sourceControl(const Address& source, int family) {
    SourceControl control;
    if (source.empty() || AsyncUdpSocket::familyFromAddress(source) != family) {
        return control;
    }
    msghdr message{};
    message.msg_control = control.bytes.data();
    message.msg_controllen = control.bytes.size();
    cmsghdr* c = CMSG_FIRSTHDR(&message);
    if (family == AF_INET) {
        sockaddr_in local{};
        std::memcpy(&local, source.data(), sizeof local);
        in_pktinfo info{};
        info.ipi_spec_dst = local.sin_addr; // the route still picks the interface
        control.size = putControl(c, IPPROTO_IP, IP_PKTINFO, info);
        return control;
    }
    sockaddr_in6 local{};
    std::memcpy(&local, source.data(), sizeof local);
    in6_pktinfo info{};
    info.ipi6_addr = local.sin6_addr;
    info.ipi6_ifindex = local.sin6_scope_id; // a link-local address belongs to its interface
    control.size = putControl(c, IPPROTO_IPV6, IPV6_PKTINFO, info);
    return control;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Sending

void AsyncUdpSocket::sendData(Data data, long tag) {
    sendData(std::move(data), -1.0, tag);
}

void AsyncUdpSocket::sendData(Data data, double timeout, long tag) {
    if (data.empty()) {
        return;
    }
    auto packet = newPacket<SendPacket>(std::move(data), timeout, tag);
    queueEntry(std::move(packet));
}

void AsyncUdpSocket::sendData(Data data, const std::string& host, uint16_t port, double timeout, long tag) {
    if (data.empty()) {
        return;
    }
    auto packet = newPacket<SendPacket>(std::move(data), timeout, tag);
    packet->hostGiven = true;
    packet->resolveInProgress = true;
    // Resolution starts at once, before the packet's turn comes.
    asyncResolveHost(
        host, port, socketQueue_,
        [weak = weak_from_this(), packet](std::vector<Address> addresses, std::optional<SocketError> error) {
            auto self = weak.lock();
            packet->resolveInProgress = false;
            packet->resolvedAddresses = std::move(addresses);
            packet->resolveError = std::move(error);
            if (self && self->currentSend_ == packet) {
                self->doPreSend();
            }
        });
    queueEntry(std::move(packet));
}

void AsyncUdpSocket::sendData(Data data, const Address& address, double timeout, long tag) {
    if (data.empty()) {
        return;
    }
    auto packet = newPacket<SendPacket>(std::move(data), timeout, tag);
    packet->address = address;
    packet->addressFamily = familyFromAddress(address);
    queueEntry(std::move(packet));
}

void AsyncUdpSocket::sendData(Data data, const Address& address, const Address& source, double timeout,
                              long tag) {
    if (data.empty()) {
        return;
    }
    auto packet = newPacket<SendPacket>(std::move(data), timeout, tag);
    packet->address = address;
    packet->addressFamily = familyFromAddress(address);
    packet->source = source;
    queueEntry(std::move(packet));
}

void AsyncUdpSocket::queueEntry(std::shared_ptr<SendPacket> packet) {
    // Always queued, even on the socket queue: sends never report from inside the call.
    {
        std::lock_guard lock(inbox_->mutex);
        if (inbox_->lastRunOpen) {
            inbox_->runs.back().push_back(std::move(packet));
            return;
        }
        inbox_->runs.emplace_back().push_back(std::move(packet));
        inbox_->lastRunOpen = true;
    }
    socketQueue_->async([weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->takeQueuedEntries();
        }
    });
}

void AsyncUdpSocket::takeQueuedEntries() {
    std::vector<std::shared_ptr<SendPacket>> run;
    {
        std::lock_guard lock(inbox_->mutex);
        run = std::move(inbox_->runs.front());
        inbox_->runs.pop_front();
        if (inbox_->runs.empty()) {
            inbox_->lastRunOpen = false;
        }
    }
    for (auto& packet : run) {
        sendQueue_.push_back(std::move(packet));
    }
    maybeDequeueSend();
}

void AsyncUdpSocket::sealQueuedEntries() {
    std::lock_guard lock(inbox_->mutex);
    inbox_->lastRunOpen = false;
}

void AsyncUdpSocket::maybeDequeueSend() {
    socketQueue_->assertOnQueue();
    if (inDequeue_) {
        return; // the loop below picks up what the caller just finished
    }
    const uint64_t period = openPeriod_;
    inDequeue_ = true;
    while (!currentSend_ && !sendQueue_.empty() && period == openPeriod_) {
        if (!(flags_ & kFlagSocketsCreated)) {
            SocketError error;
            if (!createSocketsIfNeeded(&error)) {
                inDequeue_ = false;
                closeWithError(std::move(error));
                return;
            }
        }
        currentSend_ = std::move(sendQueue_.front());
        sendQueue_.pop_front();
        if (currentSend_->isConnect) {
            maybeConnect();
        } else if (currentSend_->resolveError) {
            const long tag = currentSend_->tag;
            SocketError error = *currentSend_->resolveError;
            currentSend_.reset();
            notifyDidNotSend(tag, std::move(error));
        } else {
            doPreSend();
        }
    }
    inDequeue_ = false;
    if (period == openPeriod_ && !currentSend_ && (flags_ & kFlagCloseAfterSends)) {
        closeWithError(std::nullopt);
    }
}

void AsyncUdpSocket::doPreSend() {
    const auto packet = currentSend_;
    if (flags_ & kFlagConnected) {
        if (packet->hostGiven) {
            failCurrentSend(badConfigError("Cannot specify destination of packet for connected socket"));
            return;
        }
        packet->address = cachedConnectedAddress_;
        packet->addressFamily = cachedConnectedFamily_;
    } else if (packet->resolveInProgress) {
        // The resolution's completion comes back here; nothing to write meanwhile.
        suspendSendSource(AF_INET);
        suspendSendSource(AF_INET6);
        return;
    } else if (packet->resolveError) {
        failCurrentSend(*packet->resolveError);
        return;
    } else if (!packet->address.empty()) {
        if (packet->addressFamily == AF_UNSPEC) {
            // sendto would fail and take the whole socket down with it: refuse this datagram only.
            failCurrentSend(badParamError("A valid IPv4 or IPv6 address was not given"));
            return;
        }
    } else {
        if (packet->resolvedAddresses.empty()) {
            failCurrentSend(
                badConfigError("You must specify destination of packet for a non-connected socket"));
            return;
        }
        SocketError error;
        const int family = chooseAddress(packet->resolvedAddresses, &packet->address, &error);
        if (family == 0) {
            failCurrentSend(error);
            return;
        }
        packet->addressFamily = family;
    }
    // Without a descriptor of that family sendto fails with EBADF and would close the socket.
    if ((packet->addressFamily == AF_INET ? socket4FD_ : socket6FD_) == -1) {
        failCurrentSend(
            badParamError(packet->addressFamily == AF_INET
                              ? "IPv4 has been disabled or deactivated and an IPv4 address was passed."
                              : "IPv6 has been disabled or deactivated and an IPv6 address was passed."));
        return;
    }
    if (!sendFilter_ || !sendFilterQueue_) {
        doSend();
        return;
    }
    if (sendFilterAsync_) {
        packet->filterInProgress = true;
        sendFilterQueue_->async(
            [weak = weak_from_this(), filter = sendFilter_, socketQueue = socketQueue_, packet] {
                const bool passed = filter(packet->buffer, packet->address, packet->tag);
                socketQueue->async([weak, packet, passed] {
                    auto self = weak.lock();
                    packet->filterInProgress = false;
                    if (!self || self->currentSend_ != packet) {
                        return; // dropped by a close meanwhile
                    }
                    if (passed) {
                        self->doSend();
                    } else {
                        self->finishCurrentSendAsSent();
                    }
                });
            });
        return;
    }
    bool passed = true;
    const SendFilter& filter = sendFilter_;
    sendFilterQueue_->sync([&] { passed = filter(packet->buffer, packet->address, packet->tag); });
    if (passed) {
        doSend();
    } else {
        finishCurrentSendAsSent();
    }
}

void AsyncUdpSocket::doSend() {
    if (!currentSend_ || currentSend_->isConnect) {
        base::fatal("Invalid logic");
    }
    SendPacket& packet = *currentSend_;
    const int family = packet.addressFamily == AF_INET ? AF_INET : AF_INET6;
    const int fd = family == AF_INET ? socket4FD_ : socket6FD_;
    if (!sendQueue_.empty() && sendBatch(fd, family)) {
        return;
    }
    ssize_t result = 0;
    do {
        if (flags_ & kFlagConnected) {
            result = ::send(fd, packet.buffer.data(), packet.buffer.size(), MSG_NOSIGNAL);
        } else {
            iovec payload{packet.buffer.data(), packet.buffer.size()};
            SourceControl control = sourceControl(packet.source, family);
            msghdr message{};
            message.msg_name = packet.address.data();
            message.msg_namelen = family == AF_INET ? kSize4 : kSize6; // the buffer may be longer
            message.msg_iov = &payload;
            message.msg_iovlen = 1;
            message.msg_control = control.size > 0 ? control.bytes.data() : nullptr;
            message.msg_controllen = control.size;
            result = ::sendmsg(fd, &message, MSG_NOSIGNAL);
        }
    } while (result < 0 && errno == EINTR);
    flags_ |= kFlagBound; // the system has bound the socket by now
    if (result > 0) {
        finishCurrentSendAsSent();
        return;
    }
    if (result == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
        // Try again when the socket can take it; the time-out runs from the first refusal.
        resumeSendSource(family);
        if (!sendTimer_ && packet.timeout >= 0) {
            setupSendTimer(packet.timeout);
        }
        return;
    }
    sendFailed();
}

void AsyncUdpSocket::sendFailed() {
    SocketError error = SocketError::fromErrno("Error in send() function.");
    const bool socketGone = error.code == EBADF || error.code == ENOTSOCK;
    if (sendErrorPolicy_ == SendErrorPolicy::failDatagram && !socketGone) {
        failCurrentSend(error);
        return;
    }
    closeWithError(std::move(error));
}

namespace {
constexpr size_t kSendBatch = 32;
} // namespace

// Sends the current datagram together with those queued right behind it that are ready as they
// stand, with one system call, and reports them in order as their own sends would have. Only on
// an unconnected socket without a send filter: there, each datagram behind the current one
// would go straight to sendto as well, and a failure of one of them, which sendmmsg does not
// report, shows again when that one is sent alone next (a connected socket's pending error
// would be lost). False when no datagram is ready behind the current one.
bool AsyncUdpSocket::sendBatch(int fd, int family) {
    if ((flags_ & kFlagConnected) || (sendFilter_ && sendFilterQueue_)) {
        return false;
    }
    auto ready = [&](const SendPacket& p) {
        return !p.isConnect && !p.hostGiven && !p.resolveInProgress && !p.resolveError &&
               !p.address.empty() && p.addressFamily == family;
    };
    std::array<mmsghdr, kSendBatch> messages{};
    std::array<iovec, kSendBatch> parts{};
    std::array<SourceControl, kSendBatch> controls{};
    size_t count = 0;
    auto add = [&](SendPacket& p) {
        parts[count] = iovec{p.buffer.data(), p.buffer.size()};
        controls[count] = sourceControl(p.source, family);
        msghdr& header = messages[count].msg_hdr;
        header.msg_name = p.address.data();
        header.msg_namelen = family == AF_INET ? kSize4 : kSize6; // the buffer may be longer
        header.msg_iov = &parts[count];
        header.msg_iovlen = 1;
        header.msg_control = controls[count].size > 0 ? controls[count].bytes.data() : nullptr;
        header.msg_controllen = controls[count].size;
        ++count;
    };
    add(*currentSend_);
    for (const auto& p : sendQueue_) {
        if (count == kSendBatch || !ready(*p)) {
            break;
        }
        add(*p);
    }
    if (count == 1) {
        return false;
    }
    int sent = 0;
    do {
        sent = ::sendmmsg(fd, messages.data(), static_cast<unsigned>(count), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    flags_ |= kFlagBound; // the system has bound the socket by now
    if (sent <= 0) {
        if (sent == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
            // As for a single datagram: try the current one again when the socket can take it.
            resumeSendSource(family);
            if (!sendTimer_ && currentSend_->timeout >= 0) {
                setupSendTimer(currentSend_->timeout);
            }
            return true;
        }
        sendFailed(); // the first datagram's error: the others are tried again after it
        return true;
    }
    const long tag = currentSend_->tag;
    endCurrentSend();
    notifyDidSend(tag);
    for (int i = 1; i < sent; ++i) {
        notifyDidSend(sendQueue_.front()->tag);
        sendQueue_.pop_front();
    }
    maybeDequeueSend();
    return true;
}

void AsyncUdpSocket::failCurrentSend(const SocketError& error) {
    const long tag = currentSend_->tag;
    endCurrentSend();
    notifyDidNotSend(tag, error);
    maybeDequeueSend();
}

void AsyncUdpSocket::finishCurrentSendAsSent() {
    const long tag = currentSend_->tag;
    endCurrentSend();
    notifyDidSend(tag);
    maybeDequeueSend();
}

void AsyncUdpSocket::endCurrentSend() {
    if (sendTimer_) {
        sendTimer_->cancel();
        sendTimer_.reset();
    }
    currentSend_.reset();
}

void AsyncUdpSocket::setupSendTimer(double timeout) {
    if (sendTimer_ || timeout < 0) {
        base::fatal("Invalid logic");
    }
    sendTimer_ = dispatch::TimerSource::make(socketQueue_);
    sendTimer_->setEventHandler([this] { doSendTimeout(); }); // cancelled by endCurrentSend before we go
    // Capped at about 31 years: longer ones (or infinity) overflow the nanosecond clock and
    // would fire at once.
    const double seconds = std::min(timeout, 1e9);
    sendTimer_->schedule(dispatch::Clock::now() + std::chrono::duration_cast<dispatch::Duration>(
                                                      std::chrono::duration<double>(seconds)));
    sendTimer_->resume();
}

void AsyncUdpSocket::doSendTimeout() {
    if (!currentSend_) {
        return;
    }
    failCurrentSend(sendTimeoutError());
}

int AsyncUdpSocket::chooseAddress(const std::vector<Address>& addresses, Address* chosen,
                                  SocketError* error) const {
    if (addresses.empty()) {
        base::fatal("Expected at least one address");
    }
    const Address* first4 = nullptr;
    const Address* first6 = nullptr;
    bool fourFirst = false;
    for (const Address& a : addresses) {
        const int family = familyFromAddress(a);
        if (family == AF_INET && first4 == nullptr) {
            first4 = &a;
            fourFirst = first6 == nullptr;
        } else if (family == AF_INET6 && first6 == nullptr) {
            first6 = &a;
        } else if (family == AF_UNSPEC) {
            base::fatal("Addresses array contains invalid address");
        }
    }
    chosen->clear();
    auto refuse = [&](const char* text) {
        fail(error, otherError(text));
        return 0;
    };
    if ((config_ & kConfigIPv4Disabled) && !first6) {
        return refuse("IPv4 has been disabled and DNS lookup found no IPv6 address(es).");
    }
    if ((config_ & kConfigIPv6Disabled) && !first4) {
        return refuse("IPv6 has been disabled and DNS lookup found no IPv4 address(es).");
    }
    if ((flags_ & kFlagIPv4Deactivated) && !first6) {
        return refuse(
            "IPv4 has been deactivated due to bind/connect, and DNS lookup found no IPv6 address(es).");
    }
    if ((flags_ & kFlagIPv6Deactivated) && !first4) {
        return refuse(
            "IPv6 has been deactivated due to bind/connect, and DNS lookup found no IPv4 address(es).");
    }
    // A disabled or deactivated family has no descriptor to send on: leave it out of the choice.
    if ((config_ & kConfigIPv4Disabled) || (flags_ & kFlagIPv4Deactivated)) {
        first4 = nullptr;
    }
    if ((config_ & kConfigIPv6Disabled) || (flags_ & kFlagIPv6Deactivated)) {
        first6 = nullptr;
    }
    if (!first4 && !first6) {
        return refuse(
            "IPv4 has been deactivated due to bind/connect, and DNS lookup found no IPv6 address(es).");
    }
    const bool force4 = ((config_ & kConfigPreferIPv4) && first4) || !first6;
    const bool force6 = ((config_ & kConfigPreferIPv6) && first6) || !first4;
    const bool use4 = force4 || (!force6 && fourFirst);
    *chosen = use4 ? *first4 : *first6;
    return use4 ? AF_INET : AF_INET6;
}

} // namespace sockets

// The datagram socket's delegate callbacks, batched onto the delegate queue.
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

// Default delegate methods: every callback is optional.
void AsyncUdpSocketDelegate::udpSocketDidConnectToAddress(AsyncUdpSocket&, const Address&) {}
void AsyncUdpSocketDelegate::udpSocketDidNotConnect(AsyncUdpSocket&, const SocketError&) {}
void AsyncUdpSocketDelegate::udpSocketDidSendDataWithTag(AsyncUdpSocket&, long) {}
void AsyncUdpSocketDelegate::udpSocketDidNotSendDataWithTag(AsyncUdpSocket&, long, const SocketError&) {}
void AsyncUdpSocketDelegate::udpSocketDidReceiveData(AsyncUdpSocket&, const Data&, const Address&,
                                                     const FilterContext&) {}
void AsyncUdpSocketDelegate::udpSocketDidClose(AsyncUdpSocket&, const std::optional<SocketError>&) {}

// ---------------------------------------------------------------------------------------------
// Delegate callbacks: posted in the order the socket queue produces them.

namespace {
// A batch held for a flush goes out when it reaches this many events; a delivered batch keeps
// at most this many for reuse, and no data buffer larger than kKeptBuffer, so a burst of big
// datagrams does not stay in memory.
constexpr size_t kBatchEvents = 64;
constexpr size_t kKeptBuffer = 2048;
} // namespace

// Appends an event, made by `fill`, for the current delegate. Events are appended on the socket
// queue only, in the order they happen; with no delegate or queue the event is dropped.
template <class Fill> bool AsyncUdpSocket::notify(Delivery delivery, Fill&& fill) {
    auto delegate = delegate_.lock();
    if (!delegate || !delegateQueue_) {
        return false;
    }
    if (!outbox_) {
        outbox_ = std::make_shared<Outbox>(backlog_);
    }
    std::unique_lock lock(outbox_->mutex);
    if (outbox_->scheduled && (outbox_->delegate != delegate || outbox_->queue != delegateQueue_)) {
        // The delegate or its queue changed: the waiting events still go where they were meant
        // to, the new ones go through a new outbox.
        const bool post = std::exchange(outbox_->held, false);
        lock.unlock();
        if (post) {
            postDelivery(outbox_);
        }
        outbox_ = std::make_shared<Outbox>(backlog_);
        lock = std::unique_lock(outbox_->mutex);
    }
    Outbox& box = *outbox_;
    if (!box.scheduled) {
        auto self = weak_from_this().lock();
        if (!self) {
            return false; // being destroyed: no callbacks
        }
        box.scheduled = true;
        box.held = true;
        box.delegate = std::move(delegate);
        box.queue = delegateQueue_;
        box.socket = std::move(self);
    }
    if (box.count == box.events.size()) {
        box.events.emplace_back();
    }
    fill(box.events[box.count++]);
    bool post = false;
    bool flush = false;
    if (box.held) {
        if (delivery == Delivery::now || box.count >= kBatchEvents) {
            box.held = false;
            post = true;
        } else if (!box.flushQueued) {
            box.flushQueued = true;
            flush = true;
        }
    }
    lock.unlock();
    if (post) {
        postDelivery(outbox_);
    }
    if (flush) {
        socketQueue_->async([box = outbox_] {
            bool post = false;
            {
                std::lock_guard lock(box->mutex);
                box->flushQueued = false;
                post = std::exchange(box->held, false);
            }
            if (post) {
                postDelivery(box);
            }
        });
    }
    return true;
}

// Called once per batch, by whoever cleared `held`: nothing else touches the batch until its
// delivery task runs.
void AsyncUdpSocket::postDelivery(const std::shared_ptr<Outbox>& box) {
    box->queue->async([box] { deliverEvents(*box); });
}

void AsyncUdpSocket::deliverEvents(Outbox& box) {
    std::vector<DelegateEvent> batch;
    size_t count = 0;
    std::shared_ptr<AsyncUdpSocketDelegate> delegate;
    std::shared_ptr<AsyncUdpSocket> socket;
    {
        std::lock_guard lock(box.mutex);
        batch.swap(box.events);
        box.events.swap(box.spare); // the next events reuse an earlier batch's buffers
        count = std::exchange(box.count, 0);
        box.scheduled = false;
        delegate = std::move(box.delegate);
        socket = std::move(box.socket);
        box.queue = nullptr;
    }
    for (size_t i = 0; i < count; ++i) {
        DelegateEvent& e = batch[i];
        switch (e.kind) {
        case DelegateEvent::Kind::didConnect:
            delegate->udpSocketDidConnectToAddress(*socket, e.address);
            break;
        case DelegateEvent::Kind::didNotConnect:
            delegate->udpSocketDidNotConnect(*socket, *e.error);
            break;
        case DelegateEvent::Kind::didSend:
            delegate->udpSocketDidSendDataWithTag(*socket, e.tag);
            break;
        case DelegateEvent::Kind::didNotSend:
            delegate->udpSocketDidNotSendDataWithTag(*socket, e.tag, *e.error);
            break;
        case DelegateEvent::Kind::didReceive:
            delegate->udpSocketDidReceiveData(*socket, e.data, e.address, e.context);
            box.backlog->release(e.data.size());
            break;
        case DelegateEvent::Kind::didClose:
            delegate->udpSocketDidClose(*socket, e.error);
            break;
        }
        e.context = nullptr; // the filter's context belongs to the delegate once delivered
        e.error.reset();
    }
    delegate = nullptr;
    if (batch.size() > kBatchEvents) {
        batch.resize(kBatchEvents);
    }
    for (DelegateEvent& e : batch) {
        if (e.data.capacity() > kKeptBuffer) {
            Data().swap(e.data);
        }
    }
    {
        std::lock_guard lock(box.mutex);
        if (box.spare.empty()) {
            box.spare.swap(batch);
        }
    }
    // The last reference to the socket may go here, as it would with any task that named it.
}

void AsyncUdpSocket::notifyDidConnect(Address address) {
    notify(Delivery::now, [&](DelegateEvent& e) {
        e.kind = DelegateEvent::Kind::didConnect;
        e.address = std::move(address);
    });
}

void AsyncUdpSocket::notifyDidNotConnect(SocketError error) {
    notify(Delivery::now, [&](DelegateEvent& e) {
        e.kind = DelegateEvent::Kind::didNotConnect;
        e.error = std::move(error);
    });
}

void AsyncUdpSocket::notifyDidSend(long tag) {
    notify(Delivery::batched, [&](DelegateEvent& e) {
        e.kind = DelegateEvent::Kind::didSend;
        e.tag = tag;
    });
}

void AsyncUdpSocket::notifyDidNotSend(long tag, SocketError error) {
    notify(Delivery::now, [&](DelegateEvent& e) {
        e.kind = DelegateEvent::Kind::didNotSend;
        e.tag = tag;
        e.error = std::move(error);
    });
}

void AsyncUdpSocket::notifyDidReceive(Data data, Address from, FilterContext context) {
    const size_t size = data.size();
    const bool queued = notify(Delivery::batched, [&](DelegateEvent& e) {
        e.kind = DelegateEvent::Kind::didReceive;
        e.data = std::move(data);
        e.address = std::move(from);
        e.context = std::move(context);
    });
    if (!queued) {
        backlog_->release(size);
    }
}

void AsyncUdpSocket::notifyDidReceive(const uint8_t* data, size_t length, const sockaddr_storage& from,
                                      size_t fromLength) {
    const bool queued = notify(Delivery::batched, [&](DelegateEvent& e) {
        e.kind = DelegateEvent::Kind::didReceive;
        e.data.assign(data, data + length); // into the buffer of a delivered event, when there is one
        const auto* address = reinterpret_cast<const uint8_t*>(&from);
        e.address.assign(address, address + fromLength);
        e.context = nullptr;
    });
    if (!queued) {
        backlog_->release(length);
    }
}

void AsyncUdpSocket::notifyDidClose(std::optional<SocketError> error) {
    notify(Delivery::now, [&](DelegateEvent& e) {
        e.kind = DelegateEvent::Kind::didClose;
        e.error = std::move(error);
    });
}

} // namespace sockets

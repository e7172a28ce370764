#include "cuewright/remote/BonjourServer.h"

#include "base/Log.h"
#include "cuewright/remote/RemoteProtocol.h"
#include "dispatch/MainThreadChecker.h"
#include "dispatch/Queue.h"

#include <nlohmann/json.hpp>

namespace cw {

RemoteSocketError::RemoteSocketError(sockets::SocketError error)
    : std::runtime_error(error.message)
    , error_(std::move(error)) {}

std::shared_ptr<BonjourServer> BonjourServer::make(std::shared_ptr<platform::NetService> netService,
                                                   ErrorReplyBudget::Now now) {
    return std::shared_ptr<BonjourServer>(new BonjourServer(std::move(netService), std::move(now)));
}

BonjourServer::BonjourServer(std::shared_ptr<platform::NetService> netService, ErrorReplyBudget::Now now)
    : netService_(std::move(netService))
    , refusals_(ErrorReplyBudget::Limits(), std::move(now)) {}

BonjourServer::~BonjourServer() {
    if (socket_) {
        socket_->close();
    }
}

void BonjourServer::setDelegate(std::weak_ptr<BonjourServerDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<BonjourServerDelegate> BonjourServer::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

std::string BonjourServer::name() const {
    std::lock_guard lock(mutex_);
    return name_;
}

std::uint16_t BonjourServer::port() const {
    std::lock_guard lock(mutex_);
    return port_;
}

std::shared_ptr<sockets::AsyncUdpSocket> BonjourServer::socket() const {
    std::lock_guard lock(mutex_);
    return socket_;
}

bool BonjourServer::isPublished() const {
    std::lock_guard lock(mutex_);
    return published_;
}

void BonjourServer::bindBoth(std::uint16_t port) {
    auto& socket = *socket_;
    sockets::SocketError error;
    if (!socket.bindToPort(port, &error)) {
        throw RemoteSocketError(error);
    }
    // With port 0 each family gets its own free port, and one service can name only one: try
    // to have the IPv6 socket on the port the system gave the IPv4 one.
    for (int attempt = 0; port == 0 && attempt < 8; ++attempt) {
        const std::uint16_t port4 = socket.localPortIPv4();
        const std::uint16_t port6 = socket.localPortIPv6();
        if (port4 == 0 || port6 == 0 || port4 == port6) {
            return;
        }
        socket.close();
        if (socket.bindToPort(port4, &error)) {
            return;
        }
        if (!socket.bindToPort(0, &error)) {
            throw RemoteSocketError(error);
        }
    }
}

void BonjourServer::start(const std::string& name, std::uint16_t port) {
    auto socket = sockets::AsyncUdpSocket::make(weak_from_this(), dispatch::mainQueue());
    {
        std::lock_guard lock(mutex_);
        name_ = name;
        port_ = port;
        socket_ = socket;
    }
    bindBoth(port);
    sockets::SocketError error;
    if (!socket->beginReceiving(&error)) {
        throw RemoteSocketError(error);
    }
    // The port the socket really has: with 0 configured it is the one the system chose.
    const std::uint16_t bound = socket->localPort();
    std::lock_guard lock(mutex_);
    port_ = bound;
    const std::weak_ptr<BonjourServer> weak = weak_from_this();
    platform::NetService::PublishCallbacks callbacks;
    callbacks.didPublish = [weak] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        {
            std::lock_guard lock(self->mutex_);
            self->published_ = true;
        }
        if (auto delegate = self->delegate()) {
            delegate->bonjourServerDidStart(*self);
        }
    };
    publication_ =
        netService_->publish(name, std::string(remoteServiceType), "", bound, std::move(callbacks));
}

void BonjourServer::stop() {
    std::shared_ptr<sockets::AsyncUdpSocket> socket;
    platform::NetService::HandlePtr publication;
    bool wasPublished = false;
    {
        std::lock_guard lock(mutex_);
        socket = socket_;
        publication = std::move(publication_);
        wasPublished = std::exchange(published_, false);
    }
    publication.reset();
    if (socket) {
        socket->close();
    }
    if (wasPublished) {
        dispatch::mainQueue()->async([weak = weak_from_this()] {
            auto self = weak.lock();
            if (!self) {
                return;
            }
            if (auto delegate = self->delegate()) {
                delegate->bonjourServerDidStop(*self);
            }
        });
    }
}

BonjourServer::Reply BonjourServer::reply(const sockets::Data& request) {
    nlohmann::json message;
    try {
        message = parseRemoteJson(request);
    } catch (const nlohmann::json::exception&) {
        return {remoteErrorReply(remoteErrors::protocolError, remoteErrors::malformedData), true, true};
    }
    if (isRemoteErrorMessage(message)) {
        return {};
    }
    NetworkCommand command;
    try {
        command = parseRemoteRequest(message);
    } catch (const BonjourServerError& error) {
        return {remoteErrorReply(error.replyName(), error.what()), true, true};
    }
    const auto delegate = this->delegate();
    if (!delegate) {
        return {remoteErrorReply(remoteErrors::generalError, remoteErrors::noDelegateReason), false, true};
    }
    const NetworkAnswer answer = delegate->bonjourServerAnswer(*this, command);
    return {remoteReply(answer), false, !std::holds_alternative<NetworkStatusReport>(answer.value)};
}

void BonjourServer::handle(const sockets::Data& request, const sockets::Address& sender) {
    CW_DCHECK_MAIN_THREAD();
    ++handled_;
    Reply answer = reply(request);
    auto socket = this->socket();
    if (answer.bytes.empty() || !socket) {
        return;
    }
    if (answer.isError && answer.bytes.size() > maxErrorReplyFactor * request.size()) {
        if (tooShort_++ == 0) {
            base::log("error replies to datagrams too short for them are withheld");
        }
        return;
    }
    if (answer.isRefusal && !refusals_.allowsReply(sender, request.size(), answer.bytes.size())) {
        ++withheld_;
        return;
    }
    ++answered_;
    socket->sendData(std::move(answer.bytes), sender, replyTimeout, replyTag);
}

void BonjourServer::udpSocketDidReceiveData(sockets::AsyncUdpSocket&, const sockets::Data& data,
                                            const sockets::Address& address, const sockets::FilterContext&) {
    handle(data, address);
}

} // namespace cw

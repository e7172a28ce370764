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
                                                   ReplyBudget::Now now, ReplyLimits limits) {
    return std::shared_ptr<BonjourServer>(new BonjourServer(std::move(netService), std::move(now), limits));
}

BonjourServer::BonjourServer(std::shared_ptr<platform::NetService> netService, ReplyBudget::Now now,
                             ReplyLimits limits)
    : netService_(std::move(netService))
    , now_(now ? std::move(now) : ReplyBudget::Now(ReplyBudget::Clock::now))
    , budget_(std::make_shared<ReplyBudget>(limits, now_))
    , admissionQueue_(dispatch::Queue::makeSerial("BonjourServer.admission")) {}

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
    socket->setSendErrorPolicy(sockets::AsyncUdpSocket::SendErrorPolicy::failDatagram);
    // What the budget does not admit never reaches the main thread.
    socket->setReceiveFilter(
        [budget = budget_, counters = counters_, now = now_](
            const sockets::Data& data, const sockets::Address& from, sockets::FilterContext& context) {
            if (budget->admits(from, data.size())) {
                // When it came in, not when it was read: a stopped process reads on waking.
                auto admitted = std::make_shared<Admission>();
                admitted->arrival = now();
                if (const auto stamped = sockets::AsyncUdpSocket::filteredDatagramArrival()) {
                    admitted->arrival -= std::max(ReplyBudget::Clock::duration::zero(),
                                                  std::chrono::steady_clock::now() - *stamped);
                }
                // The reply leaves from the address the request came to: a host with several
                // addresses would otherwise answer from the one the route picks.
                admitted->local =
                    sockets::AsyncUdpSocket::filteredDatagramDestination().value_or(sockets::Address());
                context = std::move(admitted);
                return true;
            }
            ++counters->withheld;
            ++counters->handled;
            return false;
        },
        admissionQueue_, sockets::AsyncUdpSocket::FilterMode::synchronous);
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
    running_ = true;
    if (name.size() > platform::NetService::maxNameBytes) {
        base::log("DNS-SD: the service name \"" + name + "\" is " + std::to_string(name.size()) +
                  " bytes long, more than the " + std::to_string(platform::NetService::maxNameBytes) +
                  " a name on the network holds; it is not announced");
        dispatch::mainQueue()->async([weak = weak_from_this()] {
            notPublished(weak, UnpublishedReason::nameTooLong, "name too long");
        });
        return;
    }
    publish();
}

void BonjourServer::publish() {
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
            self->retriedUnseen_ = false;
        }
        if (auto delegate = self->delegate()) {
            delegate->bonjourServerDidStart(*self);
        }
    };
    callbacks.didNotPublish = [weak](const std::string& reason) {
        const bool inUse = reason == platform::NetService::nameInUseReason;
        notPublished(weak, inUse ? UnpublishedReason::nameInUse : UnpublishedReason::failed, reason);
        if (auto self = weak.lock(); self && inUse) {
            self->waitForName();
        }
    };
    callbacks.isWaiting = [weak](const std::string& reason) {
        notPublished(weak, UnpublishedReason::noDiscovery, reason);
    };
    nameWatch_.reset();
    publication_.reset(); // the one refused, if any: its name is taken again below
    publication_ =
        netService_->publish(name_, std::string(remoteServiceType), "", port_, std::move(callbacks));
}

void BonjourServer::waitForName() {
    CW_DCHECK_MAIN_THREAD();
    std::lock_guard lock(mutex_);
    if (!running_ || nameWatch_) {
        return;
    }
    // The copy that holds the name goes (or had gone before the browse looked): publish again.
    // Each refusal starts one watch, so a name that stays taken is not asked for in a loop.
    const std::weak_ptr<BonjourServer> weak = weak_from_this();
    auto held = std::make_shared<bool>(false);
    auto firstBatch = std::make_shared<bool>(true);
    const auto retry = [weak](bool unseen) {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        std::lock_guard lock(self->mutex_);
        // Refused though nobody was seen holding it: not asked again until seen going.
        if (!self->running_ || !self->nameWatch_ || (unseen && self->retriedUnseen_)) {
            return;
        }
        self->retriedUnseen_ = unseen;
        base::log("DNS-SD: the service name \"" + self->name_ + "\" is free again; announcing it");
        self->publish();
    };
    platform::NetService::BrowseCallbacks callbacks;
    const std::string name = name_;
    // One name is one service however many interfaces show it (the browse tells it once), and a
    // browse that starts again after the daemon came back tells it again.
    callbacks.didFind = [name, held, firstBatch, retry](const platform::NetServiceInstance& service,
                                                        bool moreComing) {
        *held = *held || service.name == name;
        if (!moreComing && std::exchange(*firstBatch, false) && !*held) {
            retry(/*unseen=*/true);
        }
    };
    callbacks.didRemove = [name, held, retry](const platform::NetServiceInstance& service, bool) {
        if (service.name == name) {
            *held = false;
            retry(/*unseen=*/false);
        }
    };
    nameWatch_ = netService_->browse(std::string(remoteServiceType), "", std::move(callbacks));
}

void BonjourServer::notPublished(const std::weak_ptr<BonjourServer>& weak, UnpublishedReason why,
                                 const std::string& detail) {
    auto self = weak.lock();
    if (!self) {
        return;
    }
    {
        std::lock_guard lock(self->mutex_);
        if (!self->running_) {
            return; // stopped meanwhile: what it was is no news
        }
        self->published_ = false;
    }
    if (auto delegate = self->delegate()) {
        delegate->bonjourServerDidNotPublish(*self, why, detail);
    }
}

void BonjourServer::stop() {
    std::shared_ptr<sockets::AsyncUdpSocket> socket;
    platform::NetService::HandlePtr publication;
    bool wasPublished = false;
    platform::NetService::HandlePtr nameWatch;
    {
        std::lock_guard lock(mutex_);
        socket = socket_;
        running_ = false;
        publication = std::move(publication_);
        nameWatch = std::move(nameWatch_);
        wasPublished = std::exchange(published_, false);
    }
    nameWatch.reset();
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

BonjourServer::Reply BonjourServer::reply(const sockets::Data& request,
                                          std::optional<ReplyBudget::Clock::time_point> arrival) {
    nlohmann::json message;
    try {
        message = parseRemoteJson(request);
    } catch (const nlohmann::json::exception&) {
        return {remoteErrorReply(remoteErrors::protocolError, remoteErrors::malformedData), true};
    }
    if (isRemoteErrorMessage(message)) {
        return {};
    }
    NetworkCommand command;
    try {
        command = parseRemoteRequest(message);
    } catch (const BonjourServerError& error) {
        return {remoteErrorReply(error.replyName(), error.what()), true};
    }
    const auto delegate = this->delegate();
    if (!delegate) {
        return {remoteErrorReply(remoteErrors::generalError, remoteErrors::noDelegateReason), true};
    }
    if (arrival && command.command.kind != NetworkCommand::Kind::reportStatus &&
        now_() - *arrival > maxCommandWait) {
        return {remoteErrorReply(remoteErrors::generalError, commandTooLateReason), true};
    }
    const NetworkAnswer answer = delegate->bonjourServerAnswer(*this, command);
    return {remoteReply(answer), !std::holds_alternative<NetworkStatusReport>(answer.value)};
}

void BonjourServer::handle(const sockets::Data& request, const sockets::Address& sender,
                           std::optional<ReplyBudget::Clock::time_point> arrival,
                           const sockets::Address& local) {
    CW_DCHECK_MAIN_THREAD();
    Counters& counters = *counters_;
    Reply answer = reply(request, arrival);
    if (answer.bytes.size() > maxReplyBytes) {
        answer = {remoteErrorReply(remoteErrors::generalError, replyTooLargeReason), true};
    }
    const auto done = [&counters] { ++counters.handled; };
    auto socket = this->socket();
    if (answer.bytes.empty() || !socket) {
        budget_->allowsReply(sender, 0); // nothing drawn
        done();
        return;
    }
    if (answer.isError && answer.bytes.size() > maxErrorReplyFactor * request.size()) {
        budget_->allowsReply(sender, 0);
        if (counters.tooShort++ == 0) {
            base::log("error replies to datagrams too short for them are withheld");
        }
        done();
        return;
    }
    if (!budget_->allowsReply(sender, answer.bytes.size())) {
        ++counters.withheld;
        done();
        return;
    }
    ++counters.answered;
    socket->sendData(std::move(answer.bytes), sender, local, replyTimeout, replyTag);
    done();
}

void BonjourServer::udpSocketDidReceiveData(sockets::AsyncUdpSocket&, const sockets::Data& data,
                                            const sockets::Address& address,
                                            const sockets::FilterContext& context) {
    const auto admitted = std::static_pointer_cast<Admission>(context);
    if (!admitted) {
        handle(data, address);
        return;
    }
    handle(data, address, admitted->arrival, admitted->local);
}

void BonjourServer::udpSocketDidNotSendDataWithTag(sockets::AsyncUdpSocket&, long,
                                                   const sockets::SocketError& error) {
    if (counters_->unsent++ == 0) {
        base::log("remote control: a reply could not be sent (" + error.message +
                  "); replies that cannot be sent are dropped");
    }
}

void BonjourServer::udpSocketDidClose(sockets::AsyncUdpSocket& sock,
                                      const std::optional<sockets::SocketError>& error) {
    CW_DCHECK_MAIN_THREAD();
    {
        std::lock_guard lock(mutex_);
        // A close of our own (stop, the search for one port for both families) is no loss.
        if (!running_ || socket_.get() != &sock) {
            return;
        }
    }
    if (!sock.isClosed()) {
        return; // bound again already
    }
    base::log("remote control: the socket closed" + (error ? " (" + error->message + ")" : std::string()) +
              "; binding port " + std::to_string(port()) + " again");
    listenAgain(/*firstTry=*/true);
}

void BonjourServer::listenAgain(bool firstTry) {
    CW_DCHECK_MAIN_THREAD();
    // Held throughout, so a stop() on another thread cannot close the socket between the check
    // and the bind and leave a stopped server listening.
    std::lock_guard lock(mutex_);
    if (!running_ || !socket_ || !socket_->isClosed()) {
        return;
    }
    sockets::SocketError error;
    if (socket_->bindToPort(port_, &error) && socket_->beginReceiving(&error)) {
        ++counters_->rebinds;
        base::log("remote control: listening on port " + std::to_string(port_) + " again");
        return;
    }
    if (firstTry) {
        base::log("remote control: cannot listen on port " + std::to_string(port_) + " again (" +
                  error.message + "); trying again every second");
    }
    dispatch::mainQueue()->asyncAfter(std::chrono::seconds(1), [weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->listenAgain(/*firstTry=*/false);
        }
    });
}

} // namespace cw

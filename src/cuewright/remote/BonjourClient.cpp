#include "cuewright/remote/BonjourClient.h"

#include "base/Log.h"
#include "cuewright/remote/BonjourServer.h"
#include "cuewright/remote/RemoteProtocol.h"
#include "dispatch/MainThreadChecker.h"
#include "dispatch/Queue.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <string_view>
#include <utility>

namespace cw {

namespace {

// The address written out and the port; an IPv4-mapped IPv6 address as its IPv4 text.
std::optional<std::pair<std::string, std::uint16_t>> endpoint(const sockets::Address& address) {
    std::string host;
    std::uint16_t port = 0;
    if (!sockets::getHost(&host, &port, nullptr, address)) {
        return std::nullopt;
    }
    constexpr std::string_view mapped = "::ffff:";
    if (host.starts_with(mapped) && host.find('.') != std::string::npos) {
        host.erase(0, mapped.size());
    }
    return std::pair{host, port};
}

} // namespace

bool isFromServer(const ServerAddress& server, const sockets::Address& sender) {
    const auto from = endpoint(sender);
    if (!from) {
        return false;
    }
    if (server.address.empty()) {
        return from->first == server.hostName && from->second == server.port;
    }
    if (endpoint(server.address) == from) {
        return true;
    }
    // Its port at any address of its host: one with several answers from the one it picks.
    return from->second == server.port &&
           std::any_of(server.otherAddresses.begin(), server.otherAddresses.end(), [&](const auto& other) {
               const auto known = endpoint(other);
               return known && known->first == from->first;
           });
}

std::shared_ptr<BonjourClient> BonjourClient::make(std::shared_ptr<platform::NetService> netService) {
    return std::shared_ptr<BonjourClient>(
        new BonjourClient(netService ? std::move(netService) : platform::NetService::shared()));
}

BonjourClient::BonjourClient(std::shared_ptr<platform::NetService> netService)
    : netService_(std::move(netService)) {}

BonjourClient::~BonjourClient() {
    if (socket_) {
        socket_->close();
    }
}

void BonjourClient::start() {
    CW_DCHECK_MAIN_THREAD();
    socket_ = sockets::AsyncUdpSocket::make(weak_from_this(), dispatch::mainQueue());
    // A server announced at an address the system will not send to (a broadcast address) must
    // not cost the requests to every other server: that one request fails alone.
    socket_->setSendErrorPolicy(sockets::AsyncUdpSocket::SendErrorPolicy::failDatagram);
    sockets::SocketError error;
    if (!socket_->bindToPort(0, &error) || !socket_->beginReceiving(&error)) {
        throw RemoteSocketError(error);
    }
    const std::weak_ptr<BonjourClient> weak = weak_from_this();
    platform::NetService::BrowseCallbacks callbacks;
    callbacks.didFind = [weak](const platform::NetServiceInstance& service, bool moreComing) {
        if (auto self = weak.lock()) {
            self->didFind(service, moreComing);
        }
    };
    callbacks.didRemove = [weak](const platform::NetServiceInstance& service, bool moreComing) {
        if (auto self = weak.lock()) {
            self->didRemove(service, moreComing);
        }
    };
    base::log("netServiceBrowserWillSearch(_:)");
    browser_ = netService_->browse(std::string(remoteServiceType), "", std::move(callbacks));
}

void BonjourClient::stop() {
    CW_DCHECK_MAIN_THREAD();
    if (browser_) {
        browser_.reset();
        base::log("netServiceBrowserDidStopSearch(_:)");
    }
    for (auto& found : foundServices_) {
        found.resolution.reset();
    }
    resolveCount_ = 0;
    if (socket_) {
        socket_->close();
    }
}

std::vector<ServerAddress> BonjourClient::availableServers() const {
    std::vector<ServerAddress> servers;
    for (const auto& found : foundServices_) {
        if (found.resolved && !found.resolved->hostName.empty()) {
            ServerAddress server{found.service.name,
                                 found.resolved->hostName,
                                 found.resolved->port,
                                 found.resolved->address,
                                 {}};
            for (const auto& other : found.resolved->otherAddresses) {
                server.otherAddresses.emplace_back(other.begin(), other.end());
            }
            servers.push_back(std::move(server));
        }
    }
    return servers;
}

void BonjourClient::didFind(const platform::NetServiceInstance& service, bool moreComing) {
    const auto known = std::find_if(foundServices_.begin(), foundServices_.end(),
                                    [&](const Found& found) { return found.service == service; });
    if (known == foundServices_.end()) {
        foundServices_.push_back({service, std::nullopt, nullptr});
    }
    if (!moreComing) {
        resolveAll();
    }
}

void BonjourClient::didRemove(const platform::NetServiceInstance& service, bool moreComing) {
    std::erase_if(foundServices_, [&](const Found& found) {
        if (!(found.service == service)) {
            return false;
        }
        if (found.resolution) {
            --resolveCount_; // abandoned with the service: its answer never comes
        }
        return true;
    });
    if (!moreComing) {
        resolveAll();
    }
}

void BonjourClient::resolveAll() {
    if (foundServices_.empty() && resolveCount_ == 0) {
        // Nothing left to resolve, so no resolution would ever say that the list changed.
        serversChanged();
        return;
    }
    for (auto& found : foundServices_) {
        if (found.resolution) {
            --resolveCount_; // that resolution is abandoned for the new one
        }
        resolve(found);
    }
}

void BonjourClient::resolve(Found& found) {
    ++resolveCount_;
    const std::weak_ptr<BonjourClient> weak = weak_from_this();
    const std::string name = found.service.name;
    found.resolution = netService_->resolve(
        found.service, resolveTimeout,
        [weak, name](const std::optional<platform::ResolvedNetService>& resolved, const std::string&) {
            if (auto self = weak.lock()) {
                self->didResolve(name, resolved);
            }
        });
}

void BonjourClient::resolveAgain(const ServerAddress& server) {
    CW_DCHECK_MAIN_THREAD();
    const auto found = std::find_if(foundServices_.begin(), foundServices_.end(), [&](const Found& entry) {
        return entry.service.name == server.humanReadableName;
    });
    if (found != foundServices_.end() && !found->resolution) {
        resolve(*found);
    }
}

void BonjourClient::didResolve(const std::string& name,
                               const std::optional<platform::ResolvedNetService>& resolved) {
    const auto found = std::find_if(foundServices_.begin(), foundServices_.end(),
                                    [&](const Found& entry) { return entry.service.name == name; });
    if (found != foundServices_.end()) {
        // Dropping the handle inside its own callback is allowed; it runs no further.
        auto finished = std::move(found->resolution);
        if (resolved) {
            found->resolved = resolved;
        }
    }
    --resolveCount_;
    if (resolveCount_ <= 0) {
        resolveCount_ = 0;
        serversChanged();
    }
}

void BonjourClient::serversChanged() {
    if (delegate_ != nullptr) {
        delegate_->bonjourClientDidUpdateServers(*this);
    }
}

void BonjourClient::sendCommand(const NetworkCommand::Command& command, const ServerAddress& server) {
    CW_DCHECK_MAIN_THREAD();
    if (!socket_) {
        throw std::logic_error("the remote-control client was not started");
    }
    RemoteBytes request = remoteRequest(command);
    if (!server.address.empty()) {
        socket_->sendData(std::move(request), server.address, requestTimeout, requestTag);
        return;
    }
    socket_->sendData(std::move(request), server.hostName, server.port, requestTimeout, requestTag);
}

void BonjourClient::handleAnswer(const sockets::Data& data, const sockets::Address& from) {
    RemoteReply reply;
    try {
        reply = parseRemoteReply(data);
    } catch (const std::exception& error) {
        base::log(std::string("could not process answer: ") + error.what());
        return;
    }
    if (delegate_ == nullptr) {
        return;
    }
    if (const auto* report = std::get_if<NetworkStatusReport>(&reply)) {
        delegate_->bonjourClientDidReceive(*this, *report, from);
        return;
    }
    delegate_->bonjourClientDidFail(*this, std::get<RemoteErrorReason>(reply).reason, from);
}

void BonjourClient::udpSocketDidReceiveData(sockets::AsyncUdpSocket&, const sockets::Data& data,
                                            const sockets::Address& address, const sockets::FilterContext&) {
    // Whoever sends junk costs a comparison, not a parse and a log line per datagram.
    if (delegate_ != nullptr && !delegate_->bonjourClientExpectsReplyFrom(*this, address)) {
        noteStranger(address);
        return;
    }
    handleAnswer(data, address);
}

void BonjourClient::noteStranger(const sockets::Address& from) {
    if (strangers_.size() >= maxLoggedStrangers) {
        return;
    }
    const auto sender = endpoint(from);
    const std::string host = sender ? sender->first : std::string("an unknown address");
    if (!strangers_.insert(host).second) {
        return;
    }
    base::log("remote control: dropping datagrams from " + host + ", which is not the copy being driven" +
              (strangers_.size() == maxLoggedStrangers ? "; further senders are not logged" : ""));
}

} // namespace cw

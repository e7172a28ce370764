// The network remote-control client: finds servers over DNS-SD, sends commands, parses replies.
#pragma once

#include "cuewright/remote/NetworkMessages.h"
#include "platform/netservice/NetService.h"
#include "sockets/AsyncUdpSocket.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace cw {

// A resolved server. `address` is where requests go (with the interface scope of a link-local
// address); `otherAddresses` are the further addresses its host announces (a second address, a
// second interface), from which it may answer too. `hostName` is for people to read. Without an
// address requests go to the host name.
struct ServerAddress {
    std::string humanReadableName;
    std::string hostName;
    std::uint16_t port = 0;
    sockets::Address address;
    std::vector<sockets::Address> otherAddresses = {};
    bool operator==(const ServerAddress&) const = default;
};

// Whether a datagram from `sender` came from `server`: from the server's port at its address or
// any of its other addresses (an IPv4 one written as IPv4-mapped IPv6 too). Without an address of
// the server's, its host name must be the sender's address written out.
bool isFromServer(const ServerAddress& server, const sockets::Address& sender);

class RemoteControlClient;

// What the remote-control window hears from its client, on the main thread. A reply comes with
// the address it came from: anyone may send one.
class BonjourClientDelegate {
public:
    virtual ~BonjourClientDelegate() = default;
    virtual void bonjourClientDidUpdateServers(RemoteControlClient& client) = 0;
    virtual void bonjourClientDidReceive(RemoteControlClient& client, const NetworkStatusReport& report,
                                         const sockets::Address& from) = 0;
    virtual void bonjourClientDidFail(RemoteControlClient& client, const std::string& reason,
                                      const sockets::Address& from) = 0;
    // Whether a datagram from `from` may be a reply the delegate waits for. Any other is dropped
    // before it is read, and its sender logged once. All are, by default.
    virtual bool bonjourClientExpectsReplyFrom(RemoteControlClient& client, const sockets::Address& from) {
        (void)client, (void)from;
        return true;
    }
};

// The client as the window uses it (tests give the window a fake). Main thread only.
class RemoteControlClient {
public:
    virtual ~RemoteControlClient() = default;
    // Not owned; the delegate clears itself before it goes.
    virtual void setDelegate(BonjourClientDelegate* delegate) = 0;
    // Opens the socket (any free port) and starts looking for servers. A bind or receive
    // failure throws RemoteSocketError and starts no search.
    virtual void start() = 0;
    // Ends the search and closes the socket; nothing is delivered afterwards.
    virtual void stop() = 0;
    // The resolved servers in the order found.
    virtual std::vector<ServerAddress> availableServers() const = 0;
    // Sends one request (time-out 1 s, tag 667). Throws std::invalid_argument for a speed or a
    // direction that cannot be written (see remoteRequest), std::logic_error before start().
    virtual void sendCommand(const NetworkCommand::Command& command, const ServerAddress& server) = 0;
    // Why no server can be found now (the discovery daemon missing); nullopt while the search
    // works.
    virtual std::optional<std::string> discoveryUnavailableReason() const { return std::nullopt; }
    // Looks the server's address up again (it stopped answering: its address may have changed);
    // the delegate hears bonjourClientDidUpdateServers when that ends. Nothing while it is being
    // looked up already.
    virtual void resolveAgain(const ServerAddress& server) = 0;
};

// Finds servers of "_cuewright._udp.": each batch of found or removed services has every known
// service resolved again (time-out 5 s); when the last outstanding resolution ends (or the last
// service went) the delegate hears bonjourClientDidUpdateServers. A service that fails to resolve
// keeps its last address (or stays unlisted) until it resolves, is removed or is asked for again:
// the browse does not announce again a service it still holds. Replies are
// parsed into a status report or an error reason; a malformed one is logged and dropped.
class BonjourClient : public RemoteControlClient,
                      public sockets::AsyncUdpSocketDelegate,
                      public std::enable_shared_from_this<BonjourClient> {
public:
    static constexpr long requestTag = 667;
    static constexpr double requestTimeout = 1.0;
    static constexpr std::chrono::milliseconds resolveTimeout{5000};

    static std::shared_ptr<BonjourClient> make(std::shared_ptr<platform::NetService> netService = nullptr);
    std::optional<std::string> discoveryUnavailableReason() const override {
        return netService_->unavailableReason();
    }
    ~BonjourClient() override;

    void setDelegate(BonjourClientDelegate* delegate) override { delegate_ = delegate; }
    void start() override;
    void stop() override;
    std::vector<ServerAddress> availableServers() const override;
    void sendCommand(const NetworkCommand::Command& command, const ServerAddress& server) override;
    void resolveAgain(const ServerAddress& server) override;

    // Parses one reply from `from` and tells the delegate.
    void handleAnswer(const sockets::Data& data, const sockets::Address& from);
    // Senders remembered so that each is logged once; beyond this many no more are logged.
    static constexpr std::size_t maxLoggedStrangers = 64;
    int resolveCount() const { return resolveCount_; }

    void udpSocketDidReceiveData(sockets::AsyncUdpSocket& sock, const sockets::Data& data,
                                 const sockets::Address& address,
                                 const sockets::FilterContext& context) override;

private:
    explicit BonjourClient(std::shared_ptr<platform::NetService> netService);
    struct Found {
        platform::NetServiceInstance service;
        std::optional<platform::ResolvedNetService> resolved;
        platform::NetService::HandlePtr resolution;
    };
    void didFind(const platform::NetServiceInstance& service, bool moreComing);
    void didRemove(const platform::NetServiceInstance& service, bool moreComing);
    void resolveAll();
    void resolve(Found& found);
    void didResolve(const std::string& name, const std::optional<platform::ResolvedNetService>& resolved);
    void serversChanged();
    // A datagram from a sender the delegate waits for nothing from: logged once per address.
    void noteStranger(const sockets::Address& from);

    std::shared_ptr<platform::NetService> netService_;
    BonjourClientDelegate* delegate_ = nullptr;
    std::vector<Found> foundServices_;
    int resolveCount_ = 0;
    platform::NetService::HandlePtr browser_;
    std::shared_ptr<sockets::AsyncUdpSocket> socket_;
    std::set<std::string> strangers_;
};

} // namespace cw

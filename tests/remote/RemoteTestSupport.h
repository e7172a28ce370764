// Helpers of the remote-control tests: a plain UDP peer on loopback that pumps the main queue
// while it waits, and a server delegate answering through a function.
#pragma once

#include "cuewright/remote/BonjourClient.h"
#include "cuewright/remote/BonjourServer.h"
#include "dispatch/Queue.h"

#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace remotetest {

using namespace std::chrono_literals;
using nlohmann::json;

// A non-blocking datagram socket on 127.0.0.1 or ::1, or on another IPv4 loopback address
// (127.0.0.2 is another host to the server).
class Peer {
public:
    explicit Peer(int family = AF_INET, const char* ipv4Host = nullptr)
        : family_(family)
        , fd_(::socket(family, SOCK_DGRAM | SOCK_NONBLOCK, 0)) {
        const int size = 4 << 20;
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        if (ipv4Host != nullptr) {
            sockaddr_in local{};
            local.sin_family = AF_INET;
            ::inet_pton(AF_INET, ipv4Host, &local.sin_addr);
            if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
                ::close(fd_);
                fd_ = -1;
            }
        }
    }
    ~Peer() { ::close(fd_); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    bool isOpen() const { return fd_ >= 0; }

    // To `port` at the loopback address of its family, or at the IPv4 `ipv4Host`.
    bool send(uint16_t port, const std::string& bytes, const char* ipv4Host = nullptr) const {
        sockaddr_storage to{};
        socklen_t length = 0;
        if (family_ == AF_INET) {
            auto& in = reinterpret_cast<sockaddr_in&>(to);
            in.sin_family = AF_INET;
            in.sin_port = htons(port);
            in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (ipv4Host != nullptr) {
                ::inet_pton(AF_INET, ipv4Host, &in.sin_addr);
            }
            length = sizeof in;
        } else {
            auto& in6 = reinterpret_cast<sockaddr_in6&>(to);
            in6.sin6_family = AF_INET6;
            in6.sin6_port = htons(port);
            in6.sin6_addr = in6addr_loopback;
            length = sizeof in6;
        }
        // Full buffers are no failure here: the burst tests expect losses.
        for (int tries = 0; tries < 1000; ++tries) {
            if (::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), length) >= 0) {
                return true;
            }
            if (errno != EAGAIN && errno != ENOBUFS) {
                return false;
            }
            dispatch::drainMainQueue();
        }
        return false;
    }

    // The next datagram, pumping the main queue while waiting (5 s at most); `fromHost` gets the
    // address it came from.
    std::optional<std::string> receive(std::string* fromHost = nullptr, uint16_t* fromPort = nullptr) const {
        std::optional<std::string> got;
        dispatch::runMainUntil([&] { return (got = tryReceive(fromHost, fromPort)).has_value(); }, 5s);
        return got;
    }
    // The port the system gave it (once it sent or was bound).
    uint16_t port() const {
        sockaddr_storage local{};
        socklen_t length = sizeof local;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
        return ntohs(local.ss_family == AF_INET ? reinterpret_cast<sockaddr_in&>(local).sin_port
                                                : reinterpret_cast<sockaddr_in6&>(local).sin6_port);
    }
    std::optional<std::string> tryReceive(std::string* fromHost = nullptr,
                                          uint16_t* fromPort = nullptr) const {
        std::string buffer(65536, '\0');
        sockaddr_storage from{};
        socklen_t length = sizeof from;
        const ssize_t n =
            ::recvfrom(fd_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
        if (n < 0) {
            return std::nullopt;
        }
        buffer.resize(static_cast<size_t>(n));
        if (fromHost != nullptr) {
            char text[INET6_ADDRSTRLEN] = {};
            const void* address =
                from.ss_family == AF_INET
                    ? static_cast<const void*>(&reinterpret_cast<sockaddr_in&>(from).sin_addr)
                    : &reinterpret_cast<sockaddr_in6&>(from).sin6_addr;
            *fromHost = ::inet_ntop(from.ss_family, address, text, sizeof text) ? text : "";
        }
        if (fromPort != nullptr) {
            *fromPort = ntohs(from.ss_family == AF_INET ? reinterpret_cast<sockaddr_in&>(from).sin_port
                                                        : reinterpret_cast<sockaddr_in6&>(from).sin6_port);
        }
        return buffer;
    }
    static bool isResult(const std::string& reply) {
        return json::parse(reply, nullptr, false).value("paylodetype", "") == "result";
    }
    // Reads every datagram that has come; true when a status ("result") was among them.
    bool drainSeeingResult() const {
        bool seen = false;
        while (const auto reply = tryReceive()) {
            seen = isResult(*reply) || seen;
        }
        return seen;
    }
    // Sends and parses the reply (null when none came).
    json ask(uint16_t port, const std::string& request) const {
        if (!send(port, request)) {
            return nullptr;
        }
        const auto reply = receive();
        return reply ? json::parse(*reply, nullptr, false) : json(nullptr);
    }

private:
    int family_;
    int fd_;
};

// A server delegate whose answers come from a function.
class AnswerDelegate : public cw::BonjourServerDelegate {
public:
    std::function<cw::NetworkAnswer(const cw::NetworkCommand&)> answer;
    std::vector<cw::NetworkCommand> commands;
    int starts = 0;

    void bonjourServerDidStart(cw::BonjourServer&) override { ++starts; }
    std::vector<cw::UnpublishedReason> unpublished;
    void bonjourServerDidNotPublish(cw::BonjourServer&, cw::UnpublishedReason why,
                                    const std::string&) override {
        unpublished.push_back(why);
    }
    cw::NetworkAnswer bonjourServerAnswer(cw::BonjourServer&, const cw::NetworkCommand& command) override {
        commands.push_back(command);
        return answer ? answer(command) : cw::NetworkAnswer::noDocumentActive();
    }
};

// A client delegate that records what it is told.
class RecordingClientDelegate : public cw::BonjourClientDelegate {
public:
    int updates = 0;
    std::vector<cw::NetworkStatusReport> reports;
    std::vector<std::string> failures;
    void bonjourClientDidUpdateServers(cw::RemoteControlClient&) override { ++updates; }
    void bonjourClientDidReceive(cw::RemoteControlClient&, const cw::NetworkStatusReport& report,
                                 const sockets::Address&) override {
        reports.push_back(report);
    }
    void bonjourClientDidFail(cw::RemoteControlClient&, const std::string& reason,
                              const sockets::Address&) override {
        failures.push_back(reason);
    }
    // Whom replies are expected from; unset: anyone.
    std::function<bool(const sockets::Address&)> expects;
    bool bonjourClientExpectsReplyFrom(cw::RemoteControlClient&, const sockets::Address& from) override {
        return !expects || expects(from);
    }
};

inline cw::NetworkStatusReport sampleReport() {
    return {"/a/b/Talk.cwr", 40.0, 100.0, cw::TransportState::TransportStatus::playing, 0.25, 120.0, -1.0};
}

} // namespace remotetest

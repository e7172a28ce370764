// How many refusals the remote-control server may send, per source and in all.
#pragma once

#include "sockets/SocketAddress.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <unordered_map>

namespace cw {

// What an ErrorReplyBudget allows.
struct ErrorReplyLimits {
    double burstBytes = 4096;          // a new or quiet source may draw this much at once
    double bytesPerByteReceived = 2;   // each byte a source sends earns this much
    double refillBytesPerSecond = 512; // and the burst grows back at this rate
    double repliesPerSecond = 64;      // all sources together (also the burst of them)
    std::size_t maxSources = 4096;     // sources remembered; a new one beyond them gets nothing
};

// A refusal (the error reply to a datagram that is no request) is larger than what provoked it,
// and UDP sources can be forged: unbounded, the server would send a stranger's victim many
// times the bytes the stranger sends. The budget bounds the bytes refused to each source
// address (whatever its port) to a burst, plus a small multiple of the bytes that source sent,
// plus a slow refill of the burst over time; and the refusals to all sources together per second.
//
// Answers to well-formed requests never ask it. Not thread-safe: one thread (the server's main
// thread). The clock is injectable for tests; no real time passes inside.
class ErrorReplyBudget {
public:
    using Clock = std::chrono::steady_clock;
    using Now = std::function<Clock::time_point()>;

    using Limits = ErrorReplyLimits;

    explicit ErrorReplyBudget(Limits limits = Limits(), Now now = Clock::now);

    // A datagram of `receivedBytes` from `source` drew a refusal of `replyBytes`: whether it may
    // be sent. When it may, it is counted against both budgets.
    bool allowsReply(const sockets::Address& source, std::size_t receivedBytes, std::size_t replyBytes);

    const Limits& limits() const { return limits_; }

private:
    struct Credit {
        double bytes = 0;
        Clock::time_point updated;
    };

    Credit* creditOf(const std::string& host, Clock::time_point now);
    void forgetQuietSources(Clock::time_point now);
    double refilled(const Credit& credit, Clock::time_point now) const;

    Limits limits_;
    Now now_;
    std::unordered_map<std::string, Credit> sources_;
    Clock::time_point lastForget_{};
    double replies_ = 0; // refusals all sources may still draw
    Clock::time_point repliesUpdated_{};
    bool started_ = false;
};

} // namespace cw

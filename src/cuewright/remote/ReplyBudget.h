// How many datagrams the remote-control server takes and how many reply bytes it sends, per source
// and in all.
#pragma once

#include "sockets/SocketAddress.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

namespace cw {

// What a ReplyBudget allows. The defaults answer a controller that polls ten times a second while
// a slider is dragged at 40 steps a second (50 status replies a second, each up to 1,000 bytes: a
// script path of about 650 bytes) from the burst and the refill alone.
struct ReplyLimits {
    // Each source (an address, whatever its port):
    double requestBurst = 60;            // datagrams a new or quiet source may have handled at once
    double requestsPerSecond = 60;       // and then per second
    double burstBytes = 65536;           // reply bytes a new or quiet source may draw at once
    double refillBytesPerSecond = 51200; // the burst grows back at this rate
    double bytesPerByteReceived = 0.25;  // and each byte a source sends earns this much
    // All sources together, per second (also the burst of them). Each source may have handled
    // an equal part of `fairShare` of it, divided among the sources heard within the last second
    // (for a source heard for a second or more, among those alone); the rest is kept for such
    // known sources within their part. So a source that asks for less than its part is answered
    // whatever others ask, and a stream of new addresses neither shrinks its part nor takes the
    // rest from it.
    double repliesPerSecond = 400;
    double fairShare = 0.9;
    std::size_t maxSources = 4096; // sources remembered; a new one beyond them gets nothing
    // What a reply is reckoned at when its datagram is taken, before it is built.
    double expectedReplyBytes = 1024;
};

// UDP sources can be forged and a status reply is many times its request: unbounded, the server
// would send a stranger's victim many times the bytes the stranger sends, and a flood would keep
// the main thread busy with nothing else. The budget decides twice for each datagram:
//  - admits(), as it arrives and before anything reads it: whether it is handled at all. Each
//    source may have a burst of datagrams handled and then a steady number per second, all
//    sources together a number per second, shared fairly among the sources talking (a few loud
//    sources cannot starve a quiet one); and the source must have the bytes of a reply.
//  - allowsReply(), when its reply is built: whether the reply goes out. The bytes sent to each
//    source are bounded by a burst, a refill of it over time (what a busy controller needs) and a
//    fraction of the bytes that source sent.
//
// What that bounds, with the default limits (measured on the budget with a stepped clock):
//  - Each source, and so each victim of forged ones, gets at most 60 replies at once and then 60 a
//    second, and at most 64 KiB at once and then 50 KiB a second plus a quarter of the bytes sent
//    from its address.
//  - That bounds a rate, not the ratio to what a source sends. A status reply (about 300 bytes,
//    and its script's path besides) is 8 times a minimal request of 38 bytes, 25 times with a path
//    of 650 bytes: a source asking up to 60 times a second gets back that many times the bytes it
//    sends, and more with a longer path asked for slowly (110 times for a path of 4,000 bytes at
//    10 a second). A source gets back less than it sends only when it sends many times its 60 a
//    second (0.2 to 0.9 times at 2,000 a second, still 2.4 to 7 times at 200).
//  - All sources together have at most 400 datagrams a second handled.
//  - The fair shares hold against a few loud sources, not against many forged addresses: each of
//    N sources talking has about 360 / N of those 400. A controller polling every 0.3 s beside 400
//    flooding addresses got a quarter of its answers, beside 4,000 a fifth or none.
//
// Thread-safe: a datagram is admitted on the socket's side and its reply allowed on the main
// thread. The clock is injectable for tests; no real time passes inside.
class ReplyBudget {
public:
    using Clock = std::chrono::steady_clock;
    using Now = std::function<Clock::time_point()>;
    using Limits = ReplyLimits;

    explicit ReplyBudget(Limits limits = Limits(), Now now = Clock::now);

    // A datagram of `receivedBytes` from `source` arrived: whether to handle it. When it is
    // handled, one request of the source's, one of all sources' and the expected reply's bytes
    // are drawn.
    bool admits(const sockets::Address& source, std::size_t receivedBytes);
    // The admitted datagram's reply is `replyBytes` long: whether it may be sent. The expected
    // bytes drawn at admission come back first; the reply's own are drawn when it may.
    bool allowsReply(const sockets::Address& source, std::size_t replyBytes);

    const Limits& limits() const { return limits_; }

private:
    struct Credit {
        double requests = 0;
        double bytes = 0;
        double share = 0; // of the common budget
        Clock::time_point updated;
        Clock::time_point seen; // the last datagram
        Clock::time_point first;
    };

    Credit* creditOf(const std::string& host, Clock::time_point now);
    void forgetQuietSources(Clock::time_point now);
    void refill(Credit& credit, Clock::time_point now) const;
    double shareRate(const Credit& credit) const;
    bool isKnown(const Credit& credit) const;
    void countTalking(Clock::time_point now);
    bool isFull(const Credit& credit, Clock::time_point now) const;

    Limits limits_;
    Now now_;
    mutable std::mutex mutex_;
    std::unordered_map<std::string, Credit> sources_;
    Clock::time_point lastForget_{};
    double replies_ = 0; // datagrams all sources may still have handled
    Clock::time_point repliesUpdated_{};
    bool started_ = false;
    std::size_t talking_ = 0;      // sources heard within the last second
    std::size_t talkingKnown_ = 0; // those of them heard for a second or more
    Clock::time_point talkingCounted_{};
};

} // namespace cw

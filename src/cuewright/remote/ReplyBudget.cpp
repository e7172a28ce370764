#include "cuewright/remote/ReplyBudget.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include <netinet/in.h>

namespace cw {

namespace {

// The host part of an address as bytes (its family's address, without the port): cheaper than its
// text, which the budget would otherwise make for every datagram of a flood.
std::string hostKey(const sockets::Address& address) {
    const int family = sockets::familyFromAddress(address);
    if (family == AF_INET) {
        return std::string(reinterpret_cast<const char*>(address.data()) + offsetof(sockaddr_in, sin_addr),
                           sizeof(in_addr));
    }
    if (family == AF_INET6) {
        return std::string(reinterpret_cast<const char*>(address.data()) + offsetof(sockaddr_in6, sin6_addr),
                           sizeof(in6_addr));
    }
    return {};
}

double secondsBetween(ReplyBudget::Clock::time_point from, ReplyBudget::Clock::time_point to) {
    return std::max(0.0, std::chrono::duration<double>(to - from).count());
}

} // namespace

ReplyBudget::ReplyBudget(Limits limits, Now now)
    : limits_(limits)
    , now_(now ? std::move(now) : Now(Clock::now)) {}

// A source's part of the common budget, per second (and at most a second of it held). A known
// source's part is divided among the known sources talking, a new one's among all talking.
double ReplyBudget::shareRate(const Credit& credit) const {
    const std::size_t among = isKnown(credit) ? talkingKnown_ : talking_;
    return std::max(1.0,
                    limits_.fairShare * limits_.repliesPerSecond / double(std::max<std::size_t>(1, among)));
}

// Time refills a credit up to its burst, never beyond it, and never takes from what was earned.
void ReplyBudget::refill(Credit& credit, Clock::time_point now) const {
    const double seconds = secondsBetween(credit.updated, now);
    const auto grown = [&](double value, double burst, double rate) {
        return std::max(value, std::min(burst, value + rate * seconds));
    };
    credit.requests = grown(credit.requests, limits_.requestBurst, limits_.requestsPerSecond);
    credit.bytes = grown(credit.bytes, limits_.burstBytes, limits_.refillBytesPerSecond);
    // The share shrinks at once when more sources talk.
    const double share = shareRate(credit);
    credit.share = std::min(share, grown(credit.share, share, share));
    credit.updated = now;
}

// Known as of the last count, so that the shares follow the number of known sources counted.
bool ReplyBudget::isKnown(const Credit& credit) const {
    return secondsBetween(credit.first, talkingCounted_) >= 1.0;
}

// Known sources are counted apart, so that a stream of new (forged) addresses cannot shrink the
// shares of those that were there. Counted a few times a second, not for each datagram of a flood.
void ReplyBudget::countTalking(Clock::time_point now) {
    if (secondsBetween(talkingCounted_, now) < 0.1) {
        return;
    }
    talkingCounted_ = now;
    talking_ = talkingKnown_ = 0;
    for (const auto& [host, credit] : sources_) {
        if (secondsBetween(credit.seen, now) < 1.0) {
            ++talking_;
            talkingKnown_ += isKnown(credit);
        }
    }
}

bool ReplyBudget::isFull(const Credit& credit, Clock::time_point now) const {
    Credit grown = credit;
    refill(grown, now);
    return grown.requests >= limits_.requestBurst && grown.bytes >= limits_.burstBytes;
}

// A quiet source whose credit has grown back to the full burst is as good as new: it need not be
// kept. One still talking is, however little it asks: it has been heard for so long.
void ReplyBudget::forgetQuietSources(Clock::time_point now) {
    std::erase_if(sources_, [&](const auto& entry) {
        return secondsBetween(entry.second.seen, now) >= 1.0 && isFull(entry.second, now);
    });
    lastForget_ = now;
}

ReplyBudget::Credit* ReplyBudget::creditOf(const std::string& host, Clock::time_point now) {
    if (auto found = sources_.find(host); found != sources_.end()) {
        refill(found->second, now);
        return &found->second;
    }
    // Looked through at most once a second, so a flood of new sources costs no scan each.
    if (sources_.size() >= limits_.maxSources && secondsBetween(lastForget_, now) >= 1.0) {
        forgetQuietSources(now);
    }
    if (sources_.size() >= limits_.maxSources) {
        return nullptr;
    }
    ++talking_;
    Credit& credit =
        sources_.emplace(host, Credit{limits_.requestBurst, limits_.burstBytes, 0, now, now, now})
            .first->second;
    credit.share = shareRate(credit);
    return &credit;
}

bool ReplyBudget::admits(const sockets::Address& source, std::size_t receivedBytes) {
    std::lock_guard lock(mutex_);
    const Clock::time_point now = now_();
    if (!started_) {
        started_ = true;
        replies_ = limits_.repliesPerSecond;
        repliesUpdated_ = now;
        lastForget_ = now;
        talkingCounted_ = now;
    }
    replies_ = std::min(limits_.repliesPerSecond,
                        replies_ + limits_.repliesPerSecond * secondsBetween(repliesUpdated_, now));
    repliesUpdated_ = now;
    countTalking(now);

    Credit* credit = creditOf(hostKey(source), now);
    if (credit == nullptr) {
        return false;
    }
    credit->seen = now;
    credit->bytes += limits_.bytesPerByteReceived * double(receivedBytes);
    if (credit->requests < 1 || credit->bytes < limits_.expectedReplyBytes || credit->share < 1) {
        return false;
    }
    // A turn refused for want of the common budget is spent all the same: a loud source cannot
    // save up a share that it then spends in one go, ahead of the others.
    credit->share -= 1;
    // The shares leave part of the common budget unshared: a source heard for a second or more
    // that keeps within its share may draw on that part, though new sources have taken the rest.
    const double reserve = (1 - limits_.fairShare) * limits_.repliesPerSecond;
    if (replies_ < 1 && !(isKnown(*credit) && replies_ >= 1 - reserve)) {
        return false;
    }
    credit->requests -= 1;
    credit->bytes -= limits_.expectedReplyBytes;
    replies_ -= 1;
    return true;
}

bool ReplyBudget::allowsReply(const sockets::Address& source, std::size_t replyBytes) {
    std::lock_guard lock(mutex_);
    Credit* credit = creditOf(hostKey(source), now_());
    if (credit == nullptr) {
        return false;
    }
    credit->bytes += limits_.expectedReplyBytes;
    const auto cost = double(replyBytes);
    if (credit->bytes < cost) {
        return false;
    }
    credit->bytes -= cost;
    return true;
}

} // namespace cw

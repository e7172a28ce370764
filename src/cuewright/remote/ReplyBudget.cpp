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

// Time refills a credit up to its burst, never beyond it, and never takes from what was earned.
void ReplyBudget::refill(Credit& credit, Clock::time_point now) const {
    const double seconds = secondsBetween(credit.updated, now);
    const auto grown = [&](double value, double burst, double rate) {
        return std::max(value, std::min(burst, value + rate * seconds));
    };
    credit.requests = grown(credit.requests, limits_.requestBurst, limits_.requestsPerSecond);
    credit.bytes = grown(credit.bytes, limits_.burstBytes, limits_.refillBytesPerSecond);
    credit.updated = now;
}

bool ReplyBudget::isFull(const Credit& credit, Clock::time_point now) const {
    Credit grown = credit;
    refill(grown, now);
    return grown.requests >= limits_.requestBurst && grown.bytes >= limits_.burstBytes;
}

// A source whose credit has grown back to the full burst is as good as new: it need not be kept.
void ReplyBudget::forgetQuietSources(Clock::time_point now) {
    std::erase_if(sources_, [&](const auto& entry) { return isFull(entry.second, now); });
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
    return &sources_.emplace(host, Credit{limits_.requestBurst, limits_.burstBytes, now}).first->second;
}

bool ReplyBudget::admits(const sockets::Address& source, std::size_t receivedBytes) {
    std::lock_guard lock(mutex_);
    const Clock::time_point now = now_();
    if (!started_) {
        started_ = true;
        replies_ = limits_.repliesPerSecond;
        repliesUpdated_ = now;
        lastForget_ = now;
    }
    replies_ = std::min(limits_.repliesPerSecond,
                        replies_ + limits_.repliesPerSecond * secondsBetween(repliesUpdated_, now));
    repliesUpdated_ = now;

    Credit* credit = creditOf(hostKey(source), now);
    if (credit == nullptr) {
        return false;
    }
    credit->bytes += limits_.bytesPerByteReceived * double(receivedBytes);
    if (credit->requests < 1 || credit->bytes < limits_.expectedReplyBytes || replies_ < 1) {
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

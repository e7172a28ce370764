#include "cuewright/remote/ErrorReplyBudget.h"

#include <algorithm>
#include <utility>

namespace cw {

namespace {

double secondsBetween(ErrorReplyBudget::Clock::time_point from, ErrorReplyBudget::Clock::time_point to) {
    return std::max(0.0, std::chrono::duration<double>(to - from).count());
}

} // namespace

ErrorReplyBudget::ErrorReplyBudget(Limits limits, Now now)
    : limits_(limits)
    , now_(now ? std::move(now) : Now(Clock::now)) {}

// Time refills a credit up to the burst, never beyond it, and never takes from what was earned.
double ErrorReplyBudget::refilled(const Credit& credit, Clock::time_point now) const {
    const double grown = credit.bytes + limits_.refillBytesPerSecond * secondsBetween(credit.updated, now);
    return std::max(credit.bytes, std::min(limits_.burstBytes, grown));
}

// A source whose credit has grown back to the full burst is as good as new: it need not be kept.
void ErrorReplyBudget::forgetQuietSources(Clock::time_point now) {
    std::erase_if(sources_,
                  [&](const auto& entry) { return refilled(entry.second, now) >= limits_.burstBytes; });
    lastForget_ = now;
}

ErrorReplyBudget::Credit* ErrorReplyBudget::creditOf(const std::string& host, Clock::time_point now) {
    if (auto found = sources_.find(host); found != sources_.end()) {
        return &found->second;
    }
    // Looked through at most once a second, so a flood of new sources costs no scan each.
    if (sources_.size() >= limits_.maxSources && secondsBetween(lastForget_, now) >= 1.0) {
        forgetQuietSources(now);
    }
    if (sources_.size() >= limits_.maxSources) {
        return nullptr;
    }
    return &sources_.emplace(host, Credit{limits_.burstBytes, now}).first->second;
}

bool ErrorReplyBudget::allowsReply(const sockets::Address& source, std::size_t receivedBytes,
                                   std::size_t replyBytes) {
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

    Credit* credit = creditOf(sockets::hostFromAddress(source), now);
    if (credit == nullptr) {
        return false;
    }
    credit->bytes = refilled(*credit, now) + limits_.bytesPerByteReceived * double(receivedBytes);
    credit->updated = now;
    const auto cost = double(replyBytes);
    if (credit->bytes < cost || replies_ < 1) {
        return false;
    }
    credit->bytes -= cost;
    replies_ -= 1;
    return true;
}

} // namespace cw

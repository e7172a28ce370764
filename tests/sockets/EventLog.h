// A thread-safe record of delegate callbacks that a test can wait on.
#pragma once

#include "sockets/SocketAddress.h"
#include "sockets/SocketError.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace sockets {
// Failed comparisons of errors print their fields.
inline void PrintTo(const SocketError& e, std::ostream* os) {
    *os << e.domain << " " << e.code << " \"" << e.message << "\" (" << e.failureReason << ")";
}
} // namespace sockets

namespace sockettest {

inline sockets::Data bytes(const std::string& text) {
    return sockets::Data(text.begin(), text.end());
}
inline std::string text(const sockets::Data& data) {
    return std::string(data.begin(), data.end());
}

// Events carry a `kind`; waiting gives up after 30 s (a loaded 2-core machine under the
// sanitizers can take seconds; a passing run never waits that long).
template <class Event, class Kind> class EventLog {
public:
    std::vector<Event> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::vector<Event> events(Kind kind) const {
        std::lock_guard lock(mutex_);
        std::vector<Event> out;
        for (const Event& e : events_) {
            if (e.kind == kind) {
                out.push_back(e);
            }
        }
        return out;
    }
    size_t count(Kind kind) const { return events(kind).size(); }
    // Answers whether `kind` was seen `n` times in time.
    bool waitFor(Kind kind, size_t n = 1) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30), [&] {
            size_t seen = 0;
            for (const Event& e : events_) {
                seen += e.kind == kind ? 1 : 0;
            }
            return seen >= n;
        });
    }

protected:
    void record(Event event) {
        {
            std::lock_guard lock(mutex_);
            events_.push_back(std::move(event));
        }
        changed_.notify_all();
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Event> events_;
};

} // namespace sockettest

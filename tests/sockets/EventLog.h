// A thread-safe record of delegate callbacks that a test can wait on.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <vector>

namespace sockettest {

// Events carry a `kind`; waiting gives up after 30 s (a loaded 2-core machine under the
// sanitizers can take seconds; a passing run never waits that long).
template <class Event> class EventLog {
public:
    void add(Event event) {
        {
            std::lock_guard lock(mutex_);
            events_.push_back(std::move(event));
        }
        changed_.notify_all();
    }
    std::vector<Event> all() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    template <class Kind> std::vector<Event> of(Kind kind) const {
        std::lock_guard lock(mutex_);
        std::vector<Event> out;
        for (const Event& e : events_) {
            if (e.kind == kind) {
                out.push_back(e);
            }
        }
        return out;
    }
    // Answers whether `kind` was seen `n` times in time.
    template <class Kind> bool waitFor(Kind kind, size_t n) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30), [&] {
            size_t seen = 0;
            for (const Event& e : events_) {
                seen += e.kind == kind ? 1 : 0;
            }
            return seen >= n;
        });
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Event> events_;
};

} // namespace sockettest

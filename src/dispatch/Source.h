// Event sources: a strict timer, and read and write readiness of a file descriptor.
#pragma once

#include "dispatch/Queue.h"

#include <cstdint>
#include <memory>

namespace dispatch {

// A source delivers events to its event handler on its target queue.
//
// Contract:
//  - A source starts suspended; `resume` starts delivery. Suspensions are counted: each
//    `suspend` needs one `resume`. No event handler starts while the source is suspended.
//  - Events of one source never overlap: the next event is delivered after the handler of
//    the previous one returned. Pending events coalesce (`data()` tells how many or how much).
//  - `cancel` is thread-safe and idempotent. No event handler starts after it returns: called
//    from another thread than a running handler's, it waits for that handler to return, so a
//    handler must not wait for a thread that may cancel its source. The cancel handler runs exactly once on
//    the target queue, after any running event handler, also when the source is suspended at the time. Then
//    both handlers are released, which breaks cycles through captured handles.
//  - Destroying the handle cancels the source.
//
// The handlers run on the target queue; they may call any method of the source.
class Source {
public:
    virtual ~Source();
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    void setEventHandler(Task handler);
    void setCancelHandler(Task handler);

    void resume();
    void suspend();
    void cancel();
    bool isCancelled() const;

    // Inside the event handler: for a timer, the number of firings since the last handler;
    // for a read source, the bytes readable (FIONREAD; for a datagram socket the size of the
    // next datagram, which may be 0); for a write source, 1.
    uint64_t data() const;

    struct Core;

protected:
    explicit Source(std::shared_ptr<Core> core);
    std::shared_ptr<Core> core_;
};

// A strict timer on the monotonic clock: no coalescing, no leeway.
class TimerSource : public Source {
public:
    static std::shared_ptr<TimerSource> make(QueuePtr target);

    // Arms the timer: first event at `start`, then every `interval` after it (absolute
    // deadlines, so the cadence does not drift). An interval of zero fires once.
    // May be called again to re-arm; an earlier schedule is replaced.
    void schedule(Clock::time_point start, Duration interval = Duration::zero());

private:
    using Source::Source;
};

// Readiness of a descriptor for reading. The descriptor must stay open until the source is
// cancelled: cancel() takes it off the event thread before it returns, so it may be closed right
// after cancel() (unless the source's event handler is running on this thread, and so goes on
// after it) or in the cancel handler. A read and a write source on one descriptor share one
// registration with the event thread.
class ReadSource : public Source {
public:
    static std::shared_ptr<ReadSource> make(int fd, QueuePtr target);

private:
    using Source::Source;
};

// Readiness of a descriptor for writing; the same rules as ReadSource.
class WriteSource : public Source {
public:
    static std::shared_ptr<WriteSource> make(int fd, QueuePtr target);

private:
    using Source::Source;
};

} // namespace dispatch

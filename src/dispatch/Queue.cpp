#include "dispatch/Queue.h"

#include "base/Log.h"
#include "dispatch/Source.h"
#include "dispatch/ThreadPool.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <semaphore>
#include <utility>
#include <vector>

#include <unistd.h>

namespace dispatch {

// The queues whose tasks the calling thread is running, innermost first. A frame lives on
// the stack of the code that runs a task.
struct Frame {
    const Queue* queue;
    Frame* outer;
};
static thread_local Frame* tlsTop = nullptr;

namespace {

class FrameGuard {
public:
    explicit FrameGuard(const Queue* q)
        : frame_{q, tlsTop} {
        tlsTop = &frame_;
    }
    ~FrameGuard() { tlsTop = frame_.outer; }
    FrameGuard(const FrameGuard&) = delete;
    FrameGuard& operator=(const FrameGuard&) = delete;

private:
    Frame frame_;
};

[[noreturn]] void uncaught(const Queue& q) {
    std::string what = "unknown exception";
    try {
        throw;
    } catch (const std::exception& e) {
        what = e.what();
    } catch (...) {
    }
    base::fatal("uncaught exception in a task of queue \"" + q.label() + "\": " + what);
}

// A sync call waiting for its task on another thread.
struct SyncCall {
    void (*fn)(void*);
    void* ctx;
    std::exception_ptr error;
    std::binary_semaphore done{0};

    void run() {
        try {
            fn(ctx);
        } catch (...) {
            error = std::current_exception();
        }
        done.release();
    }
};

} // namespace

// Serial queues: `active` says that one thread owns the queue (a drain, or a sync running
// inline). It is taken by exchanging false for true and given up by storing false, without the
// mutex, so an inline sync on an idle queue costs two atomic operations. `queued` counts the
// tasks in `tasks`; whoever gives up `active` looks at it afterwards and takes the queue back
// for a drain when tasks arrived meanwhile (an async that found the queue owned relies on it).
struct Queue::Impl {
    mutable std::mutex mutex;
    std::deque<Task> tasks;
    std::atomic<bool> active{false};    // serial: owned by a drain or an inline sync
    std::atomic<std::size_t> queued{0}; // serial: tasks.size(), readable without the mutex
    QueuePtr keepAlive;                 // serial: held by the drain that owns the queue
    bool wakePending = false;           // main: a wake-up was sent and not yet answered
    std::condition_variable changed;    // main: tasks arrived (for runMainUntil)
    std::vector<std::pair<const void*, void*>> specifics;
};

Queue::Queue(std::string label, Kind kind)
    : label_(std::move(label))
    , kind_(kind)
    , impl_(std::make_unique<Impl>()) {}

Queue::~Queue() = default;

QueuePtr Queue::makeSerial(std::string label) {
    return QueuePtr(new Queue(std::move(label), Kind::serial));
}

namespace {

std::mutex& wakeupMutex() {
    static auto* m = new std::mutex;
    return *m;
}
std::function<void()>& wakeupFunction() {
    static auto* f = new std::function<void()>;
    return *f;
}

// Gives up ownership of a serial queue; true when tasks arrived meanwhile and the caller owns
// it again (and must see that they run).
bool releaseSerial(Queue::Impl* impl) {
    impl->active.store(false);
    return impl->queued.load() > 0 && !impl->active.exchange(true);
}

// Runs with ownership of the queue (and impl->keepAlive set) until no task is left.
void drainSerial(Queue* q, Queue::Impl* impl) {
    FrameGuard frame(q);
    QueuePtr release = std::move(impl->keepAlive); // keeps the queue alive to the end
    for (;;) {
        Task task;
        {
            std::lock_guard lock(impl->mutex);
            if (!impl->tasks.empty()) {
                task = std::move(impl->tasks.front());
                impl->tasks.pop_front();
                impl->queued.fetch_sub(1);
            }
        }
        if (!task) {
            if (releaseSerial(impl)) {
                continue;
            }
            break;
        }
        try {
            task();
        } catch (...) {
            uncaught(*q);
        }
    }
}

} // namespace

void Queue::async(Task task) {
    switch (kind_) {
    case Kind::serial: {
        {
            std::lock_guard lock(impl_->mutex);
            impl_->tasks.push_back(std::move(task));
            impl_->queued.fetch_add(1);
        }
        if (!impl_->active.exchange(true)) {
            scheduleDrain();
        }
        return;
    }
    case Kind::concurrent:
        ThreadPool::shared().submit([self = this, task = std::move(task)] {
            FrameGuard frame(self);
            try {
                task();
            } catch (...) {
                uncaught(*self);
            }
        });
        return;
    case Kind::main: {
        bool wake = false;
        {
            std::lock_guard lock(impl_->mutex);
            impl_->tasks.push_back(std::move(task));
            if (!impl_->wakePending) {
                impl_->wakePending = true;
                wake = true;
            }
        }
        impl_->changed.notify_all();
        if (wake) {
            std::lock_guard lock(wakeupMutex());
            if (wakeupFunction()) {
                wakeupFunction()();
            }
        }
        return;
    }
    }
}

void Queue::asyncAfter(Duration delay, Task task) {
    auto timer = TimerSource::make(shared_from_this());
    TimerSource* raw = timer.get();
    // The handler owns the timer until it fires; cancelling releases the handler and the cycle.
    timer->setEventHandler([raw, timer, task = std::move(task)]() mutable {
        Task run = std::move(task);
        raw->cancel();
        if (run) {
            run();
        }
    });
    // A delay past the clock's range would wrap around into the past and fire at once.
    const auto now = Clock::now();
    const Duration room = Clock::time_point::max() - now;
    timer->schedule(now + std::clamp(delay, Duration::zero(), room));
    timer->resume();
}

void Queue::syncRaw(void (*fn)(void*), void* ctx) {
    if (kind_ == Kind::concurrent || isCurrent() || (kind_ == Kind::main && isMainThread())) {
        FrameGuard frame(this);
        fn(ctx);
        return;
    }
    if (kind_ == Kind::serial && !impl_->active.exchange(true)) {
        if (impl_->queued.load() > 0) {
            // Tasks submitted earlier still wait (their submitter found the queue owned):
            // they run first, on a drain, and this call waits its turn below.
            scheduleDrain();
        } else {
            // Idle: run here, owning the queue as a drain would.
            std::exception_ptr error;
            {
                FrameGuard frame(this);
                try {
                    fn(ctx);
                } catch (...) {
                    error = std::current_exception();
                }
            }
            if (releaseSerial(impl_.get())) {
                scheduleDrain();
            }
            if (error) {
                std::rethrow_exception(error);
            }
            return;
        }
    }
    SyncCall call{fn, ctx, nullptr};
    async([&call] { call.run(); });
    ThreadPool::shared().flushHandOff(); // what this thread kept must not wait for the sync
    call.done.acquire();
    if (call.error) {
        std::rethrow_exception(call.error);
    }
}

void Queue::scheduleDrain() {
    impl_->keepAlive = shared_from_this();
    Queue* self = this;
    Impl* impl = impl_.get();
    // From a worker, the drain usually continues on it right after the current job.
    ThreadPool::shared().handOff([self, impl] { drainSerial(self, impl); });
}

bool Queue::isCurrent() const {
    for (Frame* f = tlsTop; f != nullptr; f = f->outer) {
        if (f->queue == this) {
            return true;
        }
    }
    // The main thread is on the main queue whatever it is running.
    return kind_ == Kind::main && isMainThread();
}

void Queue::setSpecific(const void* key, void* value) {
    std::lock_guard lock(impl_->mutex);
    for (auto& [k, v] : impl_->specifics) {
        if (k == key) {
            v = value;
            return;
        }
    }
    impl_->specifics.emplace_back(key, value);
}

void* Queue::specific(const void* key) const {
    std::lock_guard lock(impl_->mutex);
    for (const auto& [k, v] : impl_->specifics) {
        if (k == key) {
            return v;
        }
    }
    return nullptr;
}

void Queue::assertOnQueueSlow() const {
    if (!isCurrent()) {
        base::fatal("must run on queue \"" + label_ + "\"");
    }
}

QueuePtr mainQueue() {
    static auto* q = new QueuePtr(new Queue("main", Queue::Kind::main));
    return *q;
}

QueuePtr globalQueue(QoS qos) {
    static auto* queues = new QueuePtr[5]{
        QueuePtr(new Queue("global.user-interactive", Queue::Kind::concurrent)),
        QueuePtr(new Queue("global.user-initiated", Queue::Kind::concurrent)),
        QueuePtr(new Queue("global.default", Queue::Kind::concurrent)),
        QueuePtr(new Queue("global.utility", Queue::Kind::concurrent)),
        QueuePtr(new Queue("global.background", Queue::Kind::concurrent)),
    };
    return queues[static_cast<int>(qos)];
}

void* currentSpecific(const void* key) {
    return tlsTop != nullptr ? tlsTop->queue->specific(key) : nullptr;
}

bool isMainThread() {
    return gettid() == getpid();
}

void setMainQueueWakeup(std::function<void()> wakeup) {
    bool pending = false;
    {
        std::lock_guard lock(wakeupMutex());
        wakeupFunction() = std::move(wakeup);
        pending = static_cast<bool>(wakeupFunction());
    }
    if (pending) {
        // Tasks may be waiting already: make sure they are drained.
        auto q = mainQueue();
        bool wake = false;
        {
            std::lock_guard lock(q->impl_->mutex);
            wake = !q->impl_->tasks.empty();
            q->impl_->wakePending = wake || q->impl_->wakePending;
        }
        if (wake) {
            std::lock_guard lock(wakeupMutex());
            wakeupFunction()();
        }
    }
}

size_t drainMainQueue() {
    if (!isMainThread()) {
        base::fatal("the main queue is drained on the main thread only");
    }
    auto q = mainQueue();
    auto& impl = *q->impl_;
    size_t count = 0;
    FrameGuard frame(q.get());
    for (;;) {
        Task task;
        {
            std::lock_guard lock(impl.mutex);
            if (impl.tasks.empty()) {
                impl.wakePending = false;
                return count;
            }
            task = std::move(impl.tasks.front());
            impl.tasks.pop_front();
        }
        try {
            task();
        } catch (...) {
            uncaught(*q);
        }
        ++count;
    }
}

bool runMainUntil(const std::function<bool()>& done, Duration timeout) {
    const auto deadline = Clock::now() + timeout;
    auto q = mainQueue();
    auto& impl = *q->impl_;
    for (;;) {
        drainMainQueue();
        if (done()) {
            return true;
        }
        std::unique_lock lock(impl.mutex);
        if (Clock::now() >= deadline) {
            return false;
        }
        // Wake for new tasks, and now and then to ask `done` again.
        impl.changed.wait_until(lock, std::min(deadline, Clock::now() + std::chrono::milliseconds(5)),
                                [&] { return !impl.tasks.empty(); });
    }
}

} // namespace dispatch

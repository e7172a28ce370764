#include "dispatch/Source.h"

#include "base/Log.h"
#include "dispatch/ThreadPool.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>

#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace dispatch {

namespace {
enum class SourceType { timer, read, write };
class EventLoop;
} // namespace

// Shared state of a source. Lock order: the event loop's mutex before a core's mutex.
struct Source::Core : std::enable_shared_from_this<Source::Core> {
    SourceType type;
    int fd; // the watched descriptor; for a timer our own timerfd
    QueuePtr target;
    uint64_t registration = 0; // id of the event-loop registration, 0 when detached

    std::mutex mutex;
    std::shared_ptr<const Task> handler;
    std::shared_ptr<const Task> cancelHandler;
    int suspendCount = 1;
    bool cancelled = false;
    bool detached = false;  // removed from the event loop after cancel
    bool pending = false;   // a delivery is queued or running
    bool running = false;   // the event handler is running
    std::thread::id runner; // the thread running it
    std::condition_variable handlerDone;
    bool cancelQueued = false; // the cancel handler has been handed to the target queue
    bool scheduled = false;    // timer: armed
    uint64_t timerCount = 0;   // timer: firings not yet delivered
    uint64_t data = 0;         // value of data() for the running handler

    // Read by the event loop under its own mutex: does this side want readiness events now?
    std::atomic<bool> wants{false};

    Core(SourceType t, int d, QueuePtr q)
        : type(t)
        , fd(d)
        , target(std::move(q)) {}

    void updateWantsLocked() {
        wants.store(!cancelled && suspendCount == 0 && !pending && (type != SourceType::timer || scheduled));
    }

    void onReady(); // event thread: the descriptor is ready
    void deliver(); // target queue: run the handler
    void runCancelHandler();
};

namespace {

struct Registration {
    int fd = -1;
    std::shared_ptr<Source::Core> reader; // read source or timer
    std::shared_ptr<Source::Core> writer;
    uint32_t armed = 0; // what the kernel watches for now (0 once an event disarmed it)
    bool added = false;
};

constexpr auto kSpareExit = std::chrono::seconds(15);

// One thread waiting in epoll for every source of the process.
class EventLoop {
public:
    static EventLoop& shared() {
        static auto* loop = new EventLoop; // never destroyed: the thread outlives static destruction
        return *loop;
    }

    void attach(const std::shared_ptr<Source::Core>& core) {
        std::lock_guard lock(mutex_);
        uint64_t id = 0;
        if (core->type != SourceType::timer) {
            if (auto it = idByFd_.find(core->fd); it != idByFd_.end()) {
                id = it->second;
            }
        }
        if (id == 0) {
            id = nextId_++;
            registrations_[id].fd = core->fd;
            if (core->type != SourceType::timer) {
                idByFd_[core->fd] = id;
            }
        }
        Registration& reg = registrations_[id];
        auto& slot = core->type == SourceType::write ? reg.writer : reg.reader;
        if (slot) {
            base::fatal("a descriptor has at most one read and one write source at a time");
        }
        slot = core;
        core->registration = id;
        rearmLocked(id);
    }

    void detach(Source::Core& core) {
        std::lock_guard lock(mutex_);
        auto it = registrations_.find(core.registration);
        if (it == registrations_.end()) {
            return;
        }
        Registration& reg = it->second;
        if (reg.reader.get() == &core) {
            reg.reader.reset();
        }
        if (reg.writer.get() == &core) {
            reg.writer.reset();
        }
        if (!reg.reader && !reg.writer) {
            if (reg.added) {
                epoll_ctl(epfd_, EPOLL_CTL_DEL, reg.fd, nullptr);
            }
            if (auto f = idByFd_.find(reg.fd); f != idByFd_.end() && f->second == it->first) {
                idByFd_.erase(f);
            }
            registrations_.erase(it);
        } else {
            rearmLocked(it->first);
        }
    }

    void rearm(uint64_t id) {
        std::lock_guard lock(mutex_);
        rearmLocked(id);
    }

private:
    EventLoop() {
        epfd_ = epoll_create1(EPOLL_CLOEXEC);
        if (epfd_ < 0) {
            base::fatal(std::string("epoll_create1 failed: ") + std::strerror(errno));
        }
        startThread();
    }

    // Another thread waits for events while one runs a delivery that takes long (see run).
    void startThread() {
        {
            std::lock_guard lock(mutex_);
            if (waiting_ > 0) {
                return;
            }
            if (parked_ > unparking_) {
                ++unparking_;
                spare_.notify_one();
                return;
            }
            ++threads_;
        }
        try {
            std::thread([this] { run(); }).detach();
        } catch (const std::system_error& e) {
            std::lock_guard lock(mutex_);
            if (--threads_ == 0) {
                base::fatal(std::string("dispatch: cannot start the event thread: ") + e.what());
            }
            base::log(std::string("dispatch: cannot start an event thread: ") + e.what());
        }
    }

    // One-shot registrations: every event disables the descriptor until it is re-armed with
    // what the sources want then, so a busy handler never makes this thread spin.
    void rearmLocked(uint64_t id) {
        auto it = registrations_.find(id);
        if (it == registrations_.end()) {
            return;
        }
        Registration& reg = it->second;
        uint32_t mask = 0;
        if (reg.reader && reg.reader->wants.load()) {
            mask |= EPOLLIN;
        }
        if (reg.writer && reg.writer->wants.load()) {
            mask |= EPOLLOUT;
        }
        epoll_event ev{};
        ev.events = mask | EPOLLONESHOT;
        ev.data.u64 = id;
        if (!reg.added) {
            if (mask == 0) {
                return; // nothing wanted yet; added on the first real interest
            }
            if (epoll_ctl(epfd_, EPOLL_CTL_ADD, reg.fd, &ev) != 0) {
                base::log("dispatch: cannot watch descriptor " + std::to_string(reg.fd) + ": " +
                          std::strerror(errno));
                return;
            }
            reg.added = true;
            reg.armed = mask;
            return;
        }
        if (mask == reg.armed) {
            return; // armed as wanted already, or disarmed by its event and nothing wanted now
        }
        if (epoll_ctl(epfd_, EPOLL_CTL_MOD, reg.fd, &ev) != 0) {
            base::log("dispatch: cannot re-arm descriptor " + std::to_string(reg.fd) + ": " +
                      std::strerror(errno));
        }
        reg.armed = mask;
    }

    // The first delivery of a batch whose queue is idle runs on this thread (a pool thread
    // would have to be woken for it), and so does the work it hands on, for a short while.
    // When one job runs long, the pool's watchdog has another thread wait for events meanwhile.
    // Once its batch is done, a thread that is not needed parks as a spare for the next such
    // stall (a busy timer stalls at every tick), and ends when not called for a while. Only
    // one thread waits in epoll at a time: a second waiter would be woken for events the busy
    // one would have picked up without sleeping.
    void run() {
        for (;;) {
            {
                std::unique_lock lock(mutex_);
                if (waiting_ > 0) {
                    ++parked_;
                    const bool called = spare_.wait_for(lock, kSpareExit, [this] { return unparking_ > 0; });
                    --parked_;
                    if (!called) {
                        --threads_;
                        return;
                    }
                    --unparking_;
                    if (waiting_ > 0) {
                        continue; // another thread took over meanwhile
                    }
                }
                ++waiting_;
            }
            epoll_event events[64];
            int n = epoll_wait(epfd_, events, 64, -1);
            {
                std::lock_guard lock(mutex_);
                --waiting_;
            }
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                base::fatal(std::string("epoll_wait failed: ") + std::strerror(errno));
            }
            ThreadPool::shared().runKeeping([&] { dispatchEvents(events, n); }, [this] { startThread(); });
        }
    }

    void dispatchEvents(const epoll_event* events, int n) {
        for (int i = 0; i < n; ++i) {
            std::shared_ptr<Source::Core> reader;
            std::shared_ptr<Source::Core> writer;
            const uint32_t ev = events[i].events;
            const uint64_t id = events[i].data.u64;
            {
                std::lock_guard lock(mutex_);
                auto it = registrations_.find(id);
                if (it == registrations_.end()) {
                    continue;
                }
                Registration& reg = it->second;
                const bool failed = (ev & (EPOLLERR | EPOLLHUP)) != 0;
                if ((ev & EPOLLIN) || (failed && (reg.armed & EPOLLIN))) {
                    reader = reg.reader;
                }
                if ((ev & EPOLLOUT) || (failed && (reg.armed & EPOLLOUT))) {
                    writer = reg.writer;
                }
                reg.armed = 0; // one-shot: the event disarmed the descriptor
            }
            if (reader) {
                reader->onReady();
            }
            if (writer) {
                writer->onReady();
            }
            rearm(id);
        }
    }

    int epfd_ = -1;
    std::mutex mutex_;
    int threads_ = 0;   // event threads alive
    int waiting_ = 0;   // event threads in (or about to enter) epoll_wait
    int parked_ = 0;    // spare event threads
    int unparking_ = 0; // spares called back
    std::condition_variable spare_;
    uint64_t nextId_ = 1;
    std::unordered_map<uint64_t, Registration> registrations_;
    std::unordered_map<int, uint64_t> idByFd_;
};

} // namespace

void Source::Core::onReady() {
    std::lock_guard lock(mutex);
    if (!wants.load()) {
        return;
    }
    if (type == SourceType::timer) {
        uint64_t expirations = 0;
        ssize_t n = ::read(fd, &expirations, sizeof expirations);
        if (n != sizeof expirations) {
            return; // re-armed or raced: nothing fired after all
        }
        timerCount += expirations;
    }
    pending = true;
    updateWantsLocked();
    target->async([self = shared_from_this()] { self->deliver(); });
}

void Source::Core::deliver() {
    std::shared_ptr<const Task> run;
    {
        std::lock_guard lock(mutex);
        if (!cancelled && suspendCount == 0) {
            switch (type) {
            case SourceType::timer:
                data = timerCount;
                timerCount = 0;
                break;
            case SourceType::read: {
                int available = 0;
                data = ioctl(fd, FIONREAD, &available) == 0 ? static_cast<uint64_t>(available) : 1;
                break;
            }
            case SourceType::write:
                data = 1;
                break;
            }
            run = handler;
            running = true;
            runner = std::this_thread::get_id();
        }
    }
    if (run && *run) {
        (*run)();
    }
    bool runCancel = false;
    {
        std::lock_guard lock(mutex);
        if (running) {
            running = false;
            handlerDone.notify_all();
        }
        pending = false;
        updateWantsLocked();
        if (cancelled && detached && !cancelQueued) {
            cancelQueued = true;
            runCancel = true;
        }
    }
    if (runCancel) {
        runCancelHandler();
        return;
    }
    if (wants.load()) {
        EventLoop::shared().rearm(registration);
    }
}

void Source::Core::runCancelHandler() {
    std::shared_ptr<const Task> run;
    // Released outside the lock: the handler may hold the last handle, whose destructor cancels.
    std::shared_ptr<const Task> released;
    {
        std::lock_guard lock(mutex);
        run = std::move(cancelHandler);
        released = std::move(handler); // break cycles through handles captured by the handlers
    }
    released.reset();
    if (run && *run) {
        (*run)();
    }
}

Source::Source(std::shared_ptr<Core> core)
    : core_(std::move(core)) {}

Source::~Source() {
    cancel();
}

void Source::setEventHandler(Task handler) {
    auto h = std::make_shared<const Task>(std::move(handler));
    std::lock_guard lock(core_->mutex);
    if (!core_->cancelled) {
        std::swap(core_->handler, h); // the old one goes with h, after the lock
    }
}

void Source::setCancelHandler(Task handler) {
    auto h = std::make_shared<const Task>(std::move(handler));
    std::lock_guard lock(core_->mutex);
    if (!core_->cancelQueued) {
        std::swap(core_->cancelHandler, h);
    }
}

void Source::resume() {
    {
        std::lock_guard lock(core_->mutex);
        if (core_->cancelled) {
            return;
        }
        if (core_->suspendCount == 0) {
            base::fatal("dispatch source resumed more often than suspended");
        }
        --core_->suspendCount;
        core_->updateWantsLocked();
        if (!core_->wants.load()) {
            return;
        }
        // A timer that fired while suspended delivers what it owes at once.
        if (core_->type == SourceType::timer && core_->timerCount > 0) {
            core_->pending = true;
            core_->updateWantsLocked();
            core_->target->async([c = core_] { c->deliver(); });
            return;
        }
    }
    EventLoop::shared().rearm(core_->registration);
}

void Source::suspend() {
    std::lock_guard lock(core_->mutex);
    if (core_->cancelled) {
        return;
    }
    ++core_->suspendCount;
    core_->updateWantsLocked(); // the event thread drops the interest at its next re-arm
}

void Source::cancel() {
    {
        std::unique_lock lock(core_->mutex);
        if (core_->cancelled) {
            return;
        }
        core_->cancelled = true;
        core_->updateWantsLocked();
        // A handler that passed its start on another thread finishes before cancel returns,
        // so none can be seen starting afterwards.
        if (core_->running && core_->runner != std::this_thread::get_id()) {
            ThreadPool::shared().flushHandOff(); // the handler may be waiting for it
            core_->handlerDone.wait(lock, [this] { return !core_->running; });
        }
    }
    EventLoop::shared().detach(*core_);
    bool queueCancel = false;
    {
        std::lock_guard lock(core_->mutex);
        core_->detached = true;
        if (core_->type == SourceType::timer && core_->fd >= 0) {
            ::close(core_->fd);
            core_->fd = -1;
        }
        if (!core_->pending && !core_->cancelQueued) {
            core_->cancelQueued = true;
            queueCancel = true;
        }
    }
    if (queueCancel) {
        core_->target->async([c = core_] { c->runCancelHandler(); });
    }
}

bool Source::isCancelled() const {
    std::lock_guard lock(core_->mutex);
    return core_->cancelled;
}

uint64_t Source::data() const {
    std::lock_guard lock(core_->mutex);
    return core_->data;
}

std::shared_ptr<TimerSource> TimerSource::make(QueuePtr target) {
    int fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd < 0) {
        base::fatal(std::string("timerfd_create failed: ") + std::strerror(errno));
    }
    auto core = std::make_shared<Core>(SourceType::timer, fd, std::move(target));
    EventLoop::shared().attach(core);
    return std::shared_ptr<TimerSource>(new TimerSource(std::move(core)));
}

static timespec toTimespec(Duration d) {
    const auto ns = d.count();
    return timespec{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

void TimerSource::schedule(Clock::time_point start, Duration interval) {
    {
        std::lock_guard lock(core_->mutex);
        if (core_->cancelled) {
            return;
        }
        itimerspec spec{};
        // An absolute time of zero would disarm the timer; the clock is far past it anyway.
        auto value = std::max(start.time_since_epoch(), Duration(1));
        spec.it_value = toTimespec(value);
        spec.it_interval = toTimespec(std::max(interval, Duration::zero()));
        uint64_t stale = 0;
        while (::read(core_->fd, &stale, sizeof stale) > 0) {
        }
        if (timerfd_settime(core_->fd, TFD_TIMER_ABSTIME, &spec, nullptr) != 0) {
            base::fatal(std::string("timerfd_settime failed: ") + std::strerror(errno));
        }
        core_->timerCount = 0;
        core_->scheduled = true;
        core_->updateWantsLocked();
    }
    EventLoop::shared().rearm(core_->registration);
}

std::shared_ptr<ReadSource> ReadSource::make(int fd, QueuePtr target) {
    auto core = std::make_shared<Core>(SourceType::read, fd, std::move(target));
    EventLoop::shared().attach(core);
    return std::shared_ptr<ReadSource>(new ReadSource(std::move(core)));
}

std::shared_ptr<WriteSource> WriteSource::make(int fd, QueuePtr target) {
    auto core = std::make_shared<Core>(SourceType::write, fd, std::move(target));
    EventLoop::shared().attach(core);
    return std::shared_ptr<WriteSource>(new WriteSource(std::move(core)));
}

} // namespace dispatch

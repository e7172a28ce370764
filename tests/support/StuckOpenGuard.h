// Keeps a test that opens a FIFO from hanging when the code under test blocks in open().
#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace testsupport {

// Frees a reader stuck opening the FIFO after a generous wait, so that a reader that blocks makes
// the test fail instead of hanging the run.
class StuckOpenGuard {
public:
    explicit StuckOpenGuard(std::filesystem::path fifo)
        : watcher_([this, fifo = std::move(fifo)] {
            std::unique_lock lock(mutex_);
            if (done_.wait_for(lock, std::chrono::seconds(20), [this] { return finished_; }))
                return;
            stuck_ = true;
            // A writer's arrival ends the reader's wait; it then reads an empty file.
            const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0)
                ::close(fd);
        }) {}
    ~StuckOpenGuard() { finish(); }
    StuckOpenGuard(const StuckOpenGuard&) = delete;
    StuckOpenGuard& operator=(const StuckOpenGuard&) = delete;

    // Whether the reader came back by itself.
    bool finish() {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        done_.notify_one();
        if (watcher_.joinable())
            watcher_.join();
        return !stuck_;
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    bool stuck_ = false;
    std::thread watcher_;
};

} // namespace testsupport

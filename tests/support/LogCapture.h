// Captures base::log lines in tests.
#pragma once

#include "base/Log.h"

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

// Captures base::log lines for the life of the object, from any thread, and restores the
// previous sink afterwards. Not copyable: the sink refers to this object.
class LogCapture {
public:
    LogCapture() {
        previous_ = base::setLogSink([this](std::string_view line) {
            std::lock_guard lock(mutex_);
            lines_.emplace_back(line);
        });
    }
    ~LogCapture() { base::setLogSink(previous_); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    base::LogSink previous_;
};

} // namespace testsupport

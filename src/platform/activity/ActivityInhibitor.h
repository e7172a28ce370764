// Keeping the display and the system awake while something runs (the "Play" activity).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// Identifies one begun activity. Opaque to callers; tokens are never reused within a process.
struct ActivityToken {
    std::uint64_t id = 0;
    friend bool operator==(const ActivityToken&, const ActivityToken&) = default;
};

// Holds the display and the system awake while at least one activity is open.
//
// Every begin() returns a new token and counts one open activity; end() with that token closes
// it. The machine is kept awake from the first open activity until the last one ends. Ending a
// token twice, or a token this inhibitor never gave out, does nothing: callers may keep a token
// after ending it (a paused project does) without harm.
//
// Thread-safe: begin() and end() may be called from any thread and return at once.
class ActivityInhibitor {
public:
    virtual ~ActivityInhibitor();

    virtual ActivityToken begin(const std::string& reason) = 0;
    virtual void end(ActivityToken token) = 0;

    // Activities begun and not yet ended.
    virtual int openCount() const = 0;
};

// The inhibitor the application uses: the session-bus one unless another was installed.
// Made on first use.
std::shared_ptr<ActivityInhibitor> sharedActivityInhibitor();

// Installs the inhibitor that sharedActivityInhibitor() returns (tests install a fake); null
// restores the session-bus default. Returns the previous one.
std::shared_ptr<ActivityInhibitor> setSharedActivityInhibitor(std::shared_ptr<ActivityInhibitor> inhibitor);

} // namespace platform

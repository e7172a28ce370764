// The prompter's copy of the transport: what the view shows, not what the project owns.
#pragma once

namespace cw {

// A plain value the view controller copies from the project every telemetry tick.
struct PrompterTransport {
    enum class Status { stopped, playing };
    Status status = Status::stopped;
    double progress = 0.0;   // 0...1 through the script
    double ffwdFactor = 1.0; // negative while running backwards

    bool isPlaying() const { return status == Status::playing; }
    bool operator==(const PrompterTransport&) const = default;
};

} // namespace cw

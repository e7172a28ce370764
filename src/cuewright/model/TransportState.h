// Where the transport stands: playing or not, how far through the script, which way and how fast.
#pragma once

#include <algorithm>

namespace cw {

struct TransportState {
    enum class TransportStatus { stopped = 0, playing = 1 };

    TransportStatus transportStatus = TransportStatus::stopped;
    double progress = 0.0;   // 0 is the top of the script, 1 its end
    double ffwdFactor = 1.0; // signed clock multiplier: 1 forward, -1 backward, ±5 while winding

    // The widest multiplier the application itself uses (fast winding either way).
    static constexpr double maxFfwdFactor = 5.0;
    static double heldFfwdFactor(double factor) { return std::clamp(factor, -maxFfwdFactor, maxFfwdFactor); }

    bool isPlaying() const { return transportStatus == TransportStatus::playing; }
    bool operator==(const TransportState&) const = default;
};

} // namespace cw

// The speed of a script: a percentage of its own range in lines per second.
#pragma once

#include <algorithm>

namespace platform {
class Defaults;
}

namespace cw {

// Document::SpeedProperties. The speed in lines per second is
// minScrollSpeedLPS + scrollSpeedPerc / 100 * (maxScrollSpeedLPS - minScrollSpeedLPS).
struct DocumentSpeedProperties {
    double scrollSpeedPerc = 31.0;
    double minScrollSpeedLPS = 0.1;
    double maxScrollSpeedLPS = 3.0;

    // The percentages the application's own controls offer. Speeds from outside (remote
    // controls, game controllers) are held to them before they are used or stored.
    static constexpr double minPercent = 0.0;
    static constexpr double maxPercent = 100.0;
    static double heldPercent(double percent) { return std::clamp(percent, minPercent, maxPercent); }

    double linesPerSecond() const {
        return minScrollSpeedLPS + scrollSpeedPerc / 100.0 * (maxScrollSpeedLPS - minScrollSpeedLPS);
    }

    // The speed and range last used, from the settings.
    static DocumentSpeedProperties fromUserDefaults(const platform::Defaults& defaults);
    static DocumentSpeedProperties fromUserDefaults();

    bool operator==(const DocumentSpeedProperties&) const = default;
};

} // namespace cw

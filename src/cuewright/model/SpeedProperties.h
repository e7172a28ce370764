// The speed of a script: a percentage of its own range in lines per second.
#pragma once

#include <algorithm>
#include <string_view>

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
    // The range the speed-range slider offers, in lines per second.
    static constexpr double minLinesPerSecond = 0.0;
    static constexpr double maxLinesPerSecond = 6.0;

    // These values held to what the controls offer, for values read from a file (`source` names
    // it in the log): a percentage that is no number takes `fallback`'s, a range with an end that
    // is no number, or whose minimum lies above its maximum, takes `fallback`'s range; the rest is
    // clamped into the controls' bounds. A range left without width takes `fallback`'s (the
    // defaults' when that has none either). Anything changed is logged in one line.
    DocumentSpeedProperties held(const DocumentSpeedProperties& fallback, std::string_view source) const;

    double linesPerSecond() const {
        return minScrollSpeedLPS + scrollSpeedPerc / 100.0 * (maxScrollSpeedLPS - minScrollSpeedLPS);
    }

    // The speed and range last used, from the settings.
    static DocumentSpeedProperties fromUserDefaults(const platform::Defaults& defaults);
    static DocumentSpeedProperties fromUserDefaults();

    bool operator==(const DocumentSpeedProperties&) const = default;
};

} // namespace cw

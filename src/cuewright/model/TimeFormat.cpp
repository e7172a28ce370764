#include "cuewright/model/TimeFormat.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace cw {

std::string formatTimestamp(double value) {
    if (!std::isfinite(value) || value > longestShownDuration || value < 0) {
        return "99:99:99";
    }
    const auto hours = static_cast<long long>(value / 3600);
    const double rest = value - static_cast<double>(hours) * 3600;
    const auto minutes = static_cast<long long>(rest / 60);
    const double seconds = rest - static_cast<double>(minutes) * 60;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%02lli:%02lli:%04.1f", hours, minutes, seconds);
    return buffer;
}

SplitDuration splitDuration(double value) {
    if (!std::isfinite(value) || value < 0) {
        return {};
    }
    constexpr double hair = 1e-3;
    const auto whole = static_cast<long long>(std::floor(std::min(value, longestShownDuration) + hair));
    return {static_cast<int>(whole / 3600), static_cast<int>(whole % 3600 / 60),
            static_cast<int>(whole % 60)};
}

} // namespace cw

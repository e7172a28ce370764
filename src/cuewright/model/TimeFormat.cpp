#include "cuewright/model/TimeFormat.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace cw {

std::string formatTimestamp(double value) {
    if (!std::isfinite(value) || value > longestShownDuration || value < 0) {
        return "99:99:99";
    }
    // Rounded to the tenth shown before it is split, so that 59.96 s carries into the minutes
    // (00:01:00.0) instead of reading 00:00:60.0.
    const long long tenths = std::llround(value * 10);
    const long long hours = tenths / 36000;
    const long long minutes = tenths % 36000 / 600;
    const long long seconds = tenths % 600;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%02lli:%02lli:%02lli.%lli", hours, minutes, seconds / 10,
                  seconds % 10);
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

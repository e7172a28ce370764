#include "cuewright/model/TimeFormat.h"

#include <cmath>
#include <cstdio>

namespace cw {

std::string formatTimestamp(double value) {
    if (!std::isfinite(value) || value > 31536000.0 || value < 0) {
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
    if (!std::isfinite(value) || value < 0 || value > 172800.0) {
        return {};
    }
    const int hours = static_cast<int>(value / 3600);
    const double rest = value - hours * 3600.0;
    const int minutes = static_cast<int>(rest / 60);
    const int seconds = static_cast<int>(rest - minutes * 60.0);
    return {hours, minutes, seconds};
}

} // namespace cw

// Clock texts for the status bar, the prompter and the remote control, and the run-time picker.
#pragma once

#include <string>

namespace cw {

// "HH:MM:SS.s" (hours have at least two digits), rounded to the tenth, which carries into the
// minutes and hours (59.96 gives 00:01:00.0). Values below 0, above 365 days or not finite give
// "99:99:99".
std::string formatTimestamp(double seconds);

struct SplitDuration {
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    bool operator==(const SplitDuration&) const = default;
};

// The longest duration the clocks show: formatTimestamp() gives up above it.
inline constexpr double longestShownDuration = 365.0 * 24 * 3600;

// Whole hours (any number of them), minutes and seconds, a value a hair below a whole second
// counting as that second (a running time chosen in whole seconds comes back with rounding
// errors); (0, 0, 0) below 0 or when not finite; above longestShownDuration, that duration.
SplitDuration splitDuration(double seconds);

} // namespace cw

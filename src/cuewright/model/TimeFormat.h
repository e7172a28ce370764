// Clock texts for the status bar, the prompter and the remote control, and the run-time picker.
#pragma once

#include <string>

namespace cw {

// "HH:MM:SS.s" (hours have at least two digits). Values below 0, above 365 days or not
// finite give "99:99:99".
std::string formatTimestamp(double seconds);

struct SplitDuration {
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    bool operator==(const SplitDuration&) const = default;
};

// Whole hours, minutes and seconds; (0, 0, 0) below 0, above 48 hours or when not finite.
SplitDuration splitDuration(double seconds);

} // namespace cw

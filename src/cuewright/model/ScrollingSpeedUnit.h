// The unit in which speeds are shown to the user.
#pragma once

#include "base/EnumTable.h"

namespace cw {

// Raw strings are stored under "defaulScrollingSpeedUnit"; the index is the pop-up's.
// Fallback: linesPerSecond.
enum class ScrollingSpeedUnit { linesPerSecond, linesPerMinute, wordsPerSecond, wordsPerMinute };

inline constexpr base::EnumTable<ScrollingSpeedUnit, 4> scrollingSpeedUnitTable{
    {{{ScrollingSpeedUnit::linesPerSecond, "linespersecond", 0},
      {ScrollingSpeedUnit::linesPerMinute, "linesperminute", 1},
      {ScrollingSpeedUnit::wordsPerSecond, "wordspersecond", 2},
      {ScrollingSpeedUnit::wordsPerMinute, "wordsperminute", 3}}},
    ScrollingSpeedUnit::linesPerSecond};
constexpr const auto& enumTable(ScrollingSpeedUnit) {
    return scrollingSpeedUnitTable;
}

} // namespace cw

// The prompter's display choices shared by the model, the prompter and the editor panes.
#pragma once

#include "base/EnumTable.h"

namespace cw {

// Each enumeration converts through base::rawValue, base::menuIndex, base::fromRawValue
// (ASCII letter case ignored) and base::fromMenuIndex; every conversion is total and answers
// anything outside its table with the fallback case named below.

// The reading indicator's mark. Fallback: none.
enum class IndicatorType { none, arrow, dot, line };

inline constexpr base::EnumTable<IndicatorType, 4> indicatorTypeTable{{{{IndicatorType::none, "none", 0},
                                                                        {IndicatorType::arrow, "arrow", 1},
                                                                        {IndicatorType::dot, "dot", 2},
                                                                        {IndicatorType::line, "line", 3}}},
                                                                      IndicatorType::none};
constexpr const auto& enumTable(IndicatorType) {
    return indicatorTypeTable;
}

// The reading indicator's colour. Fallback: red.
enum class IndicatorColor { green, white, red, yellow, orange, purple, blue };

inline constexpr base::EnumTable<IndicatorColor, 7> indicatorColorTable{
    {{{IndicatorColor::green, "green", 0},
      {IndicatorColor::white, "white", 1},
      {IndicatorColor::red, "red", 2},
      {IndicatorColor::yellow, "yellow", 3},
      {IndicatorColor::orange, "orange", 4},
      {IndicatorColor::purple, "purple", 5},
      {IndicatorColor::blue, "blue", 6}}},
    IndicatorColor::red};
constexpr const auto& enumTable(IndicatorColor) {
    return indicatorColorTable;
}

// The reading indicator's size. Fallback: medium.
enum class IndicatorSize { small, medium, large };

inline constexpr base::EnumTable<IndicatorSize, 3> indicatorSizeTable{{{{IndicatorSize::small, "small", 0},
                                                                        {IndicatorSize::medium, "medium", 1},
                                                                        {IndicatorSize::large, "large", 2}}},
                                                                      IndicatorSize::medium};
constexpr const auto& enumTable(IndicatorSize) {
    return indicatorSizeTable;
}

// How much of its layer the mark fills: 0.25, 0.5 or 0.75 (medium's for a value outside the
// enumeration).
constexpr double sizeFactor(IndicatorSize size) {
    switch (size) {
    case IndicatorSize::small:
        return 0.25;
    case IndicatorSize::medium:
        return 0.5;
    case IndicatorSize::large:
        return 0.75;
    }
    return 0.5;
}

// The overlay drawn around the reading position. Fallback: none.
enum class OverlayType { none, fadeOut, highlight, blackOut, blackOut3Lines, expanse };

inline constexpr base::EnumTable<OverlayType, 6> overlayTypeTable{
    {{{OverlayType::none, "none", 0},
      {OverlayType::fadeOut, "fadeout", 1},
      {OverlayType::highlight, "highlight", 2},
      {OverlayType::blackOut, "blackout", 3},
      {OverlayType::blackOut3Lines, "blackout3lines", 4},
      {OverlayType::expanse, "expanse", 5}}},
    OverlayType::none};
constexpr const auto& enumTable(OverlayType) {
    return overlayTypeTable;
}

// The unit of the prompter's speed read-out. Fallback: percentage.
enum class SpeedDisplayMode { percentage, wordsPerSecond, wordsPerMinute, linesPerSecond, linesPerMinute };

inline constexpr base::EnumTable<SpeedDisplayMode, 5> speedDisplayModeTable{
    {{{SpeedDisplayMode::percentage, "percentage", 0},
      {SpeedDisplayMode::wordsPerSecond, "wordspersecond", 1},
      {SpeedDisplayMode::wordsPerMinute, "wordsperminute", 2},
      {SpeedDisplayMode::linesPerSecond, "linespersecond", 3},
      {SpeedDisplayMode::linesPerMinute, "linesperminute", 4}}},
    SpeedDisplayMode::percentage};
constexpr const auto& enumTable(SpeedDisplayMode) {
    return speedDisplayModeTable;
}

} // namespace cw

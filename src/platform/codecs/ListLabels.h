// List labels ("1.", "b)", "iv.", "•") as word processors number their lists, kept as text.
#pragma once

#include "platform/text/Bullets.h"

#include <QString>

#include <array>

namespace platform::codecs {

// Levels of one list: 0 is the outermost.
inline constexpr int listLevels = 9;

enum class NumberFormat {
    decimal,
    decimalZero,
    lowerLetter,
    upperLetter,
    lowerRoman,
    upperRoman,
    bullet,
    none
};

// How one level of a list counts.
struct ListLevel {
    NumberFormat format = NumberFormat::decimal;
    int start = 1;
    // The level starts again when a level above this one (a smaller index) advances; the
    // level's own index by default, 0 for never.
    int restartBelow = -1;
    // The other levels' numbers in its label show as decimal ("1.1" under "I.").
    bool legal = false;
    // The label's pattern: U+0000..U+0008 stand for the numbers of levels 0..8.
    QString pattern;
    // What follows the label: '\t', ' ' or nothing.
    QString suffix = QStringLiteral("\t");
};

using ListLevels = std::array<ListLevel, listLevels>;

// The numbers of one list's levels as its paragraphs advance them. A value, no shared state.
class ListCounter {
public:
    // A paragraph of `level` (clamped to 0..8): its level advances (or takes its start when it
    // was not yet running), deeper levels that restart after it stop running. Returns the label
    // with its suffix; empty when the pattern gives no text.
    QString advance(int level, const ListLevels& levels);

private:
    std::array<int, listLevels> values_{};
    std::array<bool, listLevels> running_{};
};

// A number as a format writes it. Past what a format can write in a few characters (letters past
// "zzzz", roman numerals past 3999, zero or less in either) it is written in decimal; bullet and
// none write nothing.
QString numberText(int value, NumberFormat format);

// Label patterns are cut to this many characters: a label is a few characters, a file's is not trusted.
inline constexpr qsizetype maxLabelPattern = 64;

} // namespace platform::codecs

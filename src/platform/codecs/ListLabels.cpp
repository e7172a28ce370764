#include "platform/codecs/ListLabels.h"

#include <algorithm>
#include <utility>

namespace platform::codecs {

namespace {

// Far past any list, short of overflowing an int.
constexpr int maxNumber = 999'999'999;
// Word writes the 27th letter as "aa", the 53rd as "aaa": more than this many of a kind go decimal.
constexpr int maxLetterRepeats = 8;

QString romanText(int value, bool upper) {
    static constexpr std::pair<int, const char*> steps[] = {
        {1000, "m"}, {900, "cm"}, {500, "d"}, {400, "cd"}, {100, "c"}, {90, "xc"}, {50, "l"},
        {40, "xl"},  {10, "x"},   {9, "ix"},  {5, "v"},    {4, "iv"},  {1, "i"}};
    QString text;
    for (const auto& [step, letters] : steps) {
        for (; value >= step; value -= step)
            text += QLatin1String(letters);
    }
    return upper ? text.toUpper() : text;
}

int startOf(const ListLevel& level) {
    return std::clamp(level.start, 0, maxNumber);
}

} // namespace

QString numberText(int value, NumberFormat format) {
    switch (format) {
    case NumberFormat::decimal:
        break;
    case NumberFormat::decimalZero:
        if (value >= 0 && value < 10)
            return QLatin1Char('0') + QString::number(value);
        break;
    case NumberFormat::lowerLetter:
    case NumberFormat::upperLetter:
        if (value > 0 && (value - 1) / 26 < maxLetterRepeats) {
            const char16_t letter = (format == NumberFormat::lowerLetter ? u'a' : u'A') + (value - 1) % 26;
            return QString((value - 1) / 26 + 1, QChar(letter));
        }
        break;
    case NumberFormat::lowerRoman:
    case NumberFormat::upperRoman:
        if (value > 0 && value < 4000)
            return romanText(value, format == NumberFormat::upperRoman);
        break;
    case NumberFormat::bullet:
    case NumberFormat::none:
        return {};
    }
    return QString::number(value);
}

QString ListCounter::advance(int level, const ListLevels& levels) {
    level = std::clamp(level, 0, listLevels - 1);
    const ListLevel& own = levels[level];
    values_[level] = running_[level] ? std::min(values_[level], maxNumber - 1) + 1 : startOf(own);
    running_[level] = true;
    for (int deeper = level + 1; deeper < listLevels; ++deeper) {
        const int below = levels[deeper].restartBelow;
        if (level < (below < 0 || below > deeper ? deeper : below))
            running_[deeper] = false;
    }

    QString label;
    for (const QChar c : own.pattern) {
        if (c.unicode() >= listLevels) {
            label += c;
            continue;
        }
        const int which = c.unicode();
        const int value = running_[which] ? values_[which] : startOf(levels[which]);
        const NumberFormat format =
            own.legal && which != level ? NumberFormat::decimal : levels[which].format;
        label += numberText(value, format);
    }
    if (label.isEmpty())
        return {};
    return label + own.suffix;
}

} // namespace platform::codecs

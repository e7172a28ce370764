// The shared enumerations: raw strings, menu indexes, and their total conversions with fallbacks.
#include "cuewright/model/PrompterEnums.h"
#include "cuewright/model/ScrollingSpeedUnit.h"
#include "cuewright/model/TextAlignment.h"
#include "cuewright/model/UserDefaults.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using base::fromMenuIndex;
using base::fromRawValue;
using base::menuIndex;
using base::rawValue;
using namespace cw;

static_assert(indicatorTypeTable.isWellFormed());
static_assert(indicatorColorTable.isWellFormed());
static_assert(indicatorSizeTable.isWellFormed());
static_assert(overlayTypeTable.isWellFormed());
static_assert(speedDisplayModeTable.isWellFormed());
static_assert(scrollingSpeedUnitTable.isWellFormed());
static_assert(textAlignmentTable.isWellFormed());
static_assert(startupModeTable.isWellFormed());
static_assert(userInterfaceStyleTable.isWellFormed());
static_assert(fromRawValue<IndicatorType>("ARROW") == IndicatorType::arrow, "usable at compile time");

namespace {

// Every case in order: index i has raw string raws[i]; writing and reading each gives it back, in
// any case of letters.
template <class E> void expectTable(const std::vector<std::string>& raws) {
    for (int i = 0; i < static_cast<int>(raws.size()); ++i) {
        const E e = static_cast<E>(i);
        EXPECT_EQ(rawValue(e), raws[i]);
        EXPECT_EQ(menuIndex(e), i);
        EXPECT_EQ(fromMenuIndex<E>(i), e);
        EXPECT_EQ(fromRawValue<E>(raws[i]), e);
        std::string upper = raws[i];
        std::string capital = raws[i];
        for (char& c : upper) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        capital[0] = upper[0];
        EXPECT_EQ(fromRawValue<E>(upper), e) << upper;
        EXPECT_EQ(fromRawValue<E>(capital), e) << capital;
    }
}

// Unknown words and indexes read as the fallback, and an unknown case writes as the fallback.
template <class E>
void expectFallback(E fallback, std::initializer_list<const char*> words,
                    std::initializer_list<int> indexes) {
    for (const char* word : words) {
        EXPECT_EQ(fromRawValue<E>(word), fallback) << word;
    }
    for (const int index : indexes) {
        EXPECT_EQ(fromMenuIndex<E>(index), fallback) << index;
    }
    EXPECT_EQ(rawValue(static_cast<E>(42)), rawValue(fallback));
    EXPECT_EQ(menuIndex(static_cast<E>(42)), menuIndex(fallback));
}

} // namespace

TEST(Enumerations, CasesRawStringsAndIndexesInOrder) {
    expectTable<IndicatorType>({"none", "arrow", "dot", "line"});
    expectTable<IndicatorColor>({"green", "white", "red", "yellow", "orange", "purple", "blue"});
    expectTable<IndicatorSize>({"small", "medium", "large"});
    expectTable<OverlayType>({"none", "fadeout", "highlight", "blackout", "blackout3lines", "expanse"});
    expectTable<SpeedDisplayMode>(
        {"percentage", "wordspersecond", "wordsperminute", "linespersecond", "linesperminute"});
    expectTable<ScrollingSpeedUnit>({"linespersecond", "linesperminute", "wordspersecond", "wordsperminute"});
    expectTable<TextAlignment>({"left", "center", "right"});
    EXPECT_EQ(fromRawValue<OverlayType>("BlackOut3Lines"), OverlayType::blackOut3Lines);
    EXPECT_EQ(fromRawValue<SpeedDisplayMode>("LinesPerMinute"), SpeedDisplayMode::linesPerMinute);
}

TEST(Enumerations, UnknownValuesFallBack) {
    expectFallback(IndicatorType::none, {"", "arrows"}, {-1, 4});
    expectFallback(IndicatorColor::red, {"", "magenta"}, {-1, 7});
    expectFallback(IndicatorSize::medium, {"huge"}, {-1, 3});
    expectFallback(OverlayType::none, {"blackout4lines"}, {-1, 6});
    expectFallback(SpeedDisplayMode::percentage, {""}, {-1, 5});
    expectFallback(ScrollingSpeedUnit::linesPerSecond, {"lines per minute"}, {-1, 4});
    expectFallback(TextAlignment::center, {"justified"}, {-1, 3});
    EXPECT_EQ(sizeFactor(IndicatorSize::small), 0.25);
    EXPECT_EQ(sizeFactor(IndicatorSize::medium), 0.5);
    EXPECT_EQ(sizeFactor(IndicatorSize::large), 0.75);
}

TEST(Enumerations, StartupModeAndStyleMatchExactly) {
    EXPECT_EQ(startupMode("CreateNewDocument"), 0);
    EXPECT_EQ(startupMode("OpenMostRecentDocument"), 1);
    EXPECT_EQ(startupMode("DoNothing"), 2);
    EXPECT_EQ(startupMode("donothing"), 0) << "the start-up keys are compared exactly";
    EXPECT_EQ(startupMode(""), 0);

    EXPECT_EQ(userInterfaceStyle("UserInterfaceStyleSystemDefault"), 0);
    EXPECT_EQ(userInterfaceStyle("UserInterfaceStyleLight"), 1);
    EXPECT_EQ(userInterfaceStyle("UserInterfaceStyleDark"), 2);
    EXPECT_EQ(userInterfaceStyle("Dark"), 0);
}

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

// Every case in order: index i has raw string raws[i]; writing and reading each gives it back.
template <class E> void expectTable(const std::vector<std::string>& raws) {
    for (int i = 0; i < static_cast<int>(raws.size()); ++i) {
        const E e = static_cast<E>(i);
        EXPECT_EQ(rawValue(e), raws[i]);
        EXPECT_EQ(menuIndex(e), i);
        EXPECT_EQ(fromMenuIndex<E>(i), e);
        EXPECT_EQ(fromRawValue<E>(raws[i]), e);
        std::string upper = raws[i];
        for (char& c : upper) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        EXPECT_EQ(fromRawValue<E>(upper), e) << upper;
    }
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
}

TEST(Enumerations, IndicatorTypeAndColorReadAnyCaseAndFallBack) {
    EXPECT_EQ(fromRawValue<IndicatorType>("ARROW"), IndicatorType::arrow);
    EXPECT_EQ(fromRawValue<IndicatorType>("Arrow"), IndicatorType::arrow);
    EXPECT_EQ(fromRawValue<IndicatorType>(""), IndicatorType::none);
    EXPECT_EQ(fromRawValue<IndicatorType>("arrows"), IndicatorType::none);
    EXPECT_EQ(fromMenuIndex<IndicatorType>(-1), IndicatorType::none);
    EXPECT_EQ(fromMenuIndex<IndicatorType>(4), IndicatorType::none);
    EXPECT_EQ(rawValue(static_cast<IndicatorType>(42)), "none");

    EXPECT_EQ(fromRawValue<IndicatorColor>("Blue"), IndicatorColor::blue);
    EXPECT_EQ(fromRawValue<IndicatorColor>(""), IndicatorColor::red);
    EXPECT_EQ(fromRawValue<IndicatorColor>("magenta"), IndicatorColor::red);
    EXPECT_EQ(fromMenuIndex<IndicatorColor>(7), IndicatorColor::red);
    EXPECT_EQ(fromMenuIndex<IndicatorColor>(-1), IndicatorColor::red);
    EXPECT_EQ(rawValue(static_cast<IndicatorColor>(42)), "red");
    EXPECT_EQ(menuIndex(static_cast<IndicatorColor>(42)), 2);
}

TEST(Enumerations, PrompterChoicesFallBackAsDocumented) {
    EXPECT_EQ(fromRawValue<SpeedDisplayMode>(""), SpeedDisplayMode::percentage);
    EXPECT_EQ(fromRawValue<SpeedDisplayMode>("LinesPerMinute"), SpeedDisplayMode::linesPerMinute);
    EXPECT_EQ(fromMenuIndex<SpeedDisplayMode>(5), SpeedDisplayMode::percentage);

    EXPECT_EQ(fromRawValue<IndicatorSize>("LARGE"), IndicatorSize::large);
    EXPECT_EQ(fromRawValue<IndicatorSize>("huge"), IndicatorSize::medium);
    EXPECT_EQ(fromMenuIndex<IndicatorSize>(-1), IndicatorSize::medium);
    EXPECT_EQ(rawValue(static_cast<IndicatorSize>(9)), "medium");
    EXPECT_EQ(menuIndex(static_cast<IndicatorSize>(9)), 1);
    EXPECT_EQ(sizeFactor(IndicatorSize::small), 0.25);
    EXPECT_EQ(sizeFactor(IndicatorSize::medium), 0.5);
    EXPECT_EQ(sizeFactor(IndicatorSize::large), 0.75);

    EXPECT_EQ(fromRawValue<OverlayType>("BlackOut3Lines"), OverlayType::blackOut3Lines);
    EXPECT_EQ(fromRawValue<OverlayType>("blackout4lines"), OverlayType::none);
    EXPECT_EQ(fromMenuIndex<OverlayType>(6), OverlayType::none);
    EXPECT_EQ(rawValue(static_cast<OverlayType>(9)), "none");
    EXPECT_EQ(menuIndex(static_cast<OverlayType>(9)), 0);
}

TEST(Enumerations, SpeedUnitAndAlignmentFallBackAsDocumented) {
    EXPECT_EQ(fromRawValue<ScrollingSpeedUnit>("LINESPERMINUTE"), ScrollingSpeedUnit::linesPerMinute);
    EXPECT_EQ(fromRawValue<ScrollingSpeedUnit>("lines per minute"), ScrollingSpeedUnit::linesPerSecond);
    EXPECT_EQ(fromMenuIndex<ScrollingSpeedUnit>(4), ScrollingSpeedUnit::linesPerSecond);
    EXPECT_EQ(rawValue(static_cast<ScrollingSpeedUnit>(9)), "linespersecond");
    EXPECT_EQ(menuIndex(static_cast<ScrollingSpeedUnit>(9)), 0);

    EXPECT_EQ(fromRawValue<TextAlignment>("Right"), TextAlignment::right);
    EXPECT_EQ(fromRawValue<TextAlignment>("justified"), TextAlignment::center);
    EXPECT_EQ(rawValue(static_cast<TextAlignment>(9)), "center");
    EXPECT_EQ(menuIndex(static_cast<TextAlignment>(9)), 1);
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

#include "cuewright/model/TimeFormat.h"

#include <gtest/gtest.h>

#include <limits>

using cw::formatTimestamp;
using cw::splitDuration;

TEST(FormatTimestamp, FormatsHoursMinutesAndTenths) {
    EXPECT_EQ(formatTimestamp(0), "00:00:00.0");
    EXPECT_EQ(formatTimestamp(3723.46), "01:02:03.5");
    EXPECT_EQ(formatTimestamp(3723.44), "01:02:03.4");
    // A tenth that rounds up to a whole minute or hour carries into it.
    EXPECT_EQ(formatTimestamp(59.96), "00:01:00.0");
    EXPECT_EQ(formatTimestamp(119.95), "00:02:00.0");
    EXPECT_EQ(formatTimestamp(3599.97), "01:00:00.0");
    EXPECT_EQ(formatTimestamp(119.94), "00:01:59.9");
    EXPECT_EQ(formatTimestamp(100 * 3600.0), "100:00:00.0");
    EXPECT_EQ(formatTimestamp(31536000), "8760:00:00.0");
}

TEST(FormatTimestamp, OutOfRangeAndNonFiniteGiveTheOverflowText) {
    EXPECT_EQ(formatTimestamp(-1), "99:99:99");
    EXPECT_EQ(formatTimestamp(31536001), "99:99:99");
    EXPECT_EQ(formatTimestamp(std::numeric_limits<double>::quiet_NaN()), "99:99:99");
    EXPECT_EQ(formatTimestamp(std::numeric_limits<double>::infinity()), "99:99:99");
    EXPECT_EQ(formatTimestamp(-std::numeric_limits<double>::infinity()), "99:99:99");
}

TEST(SplitDuration, TruncatesEachPart) {
    EXPECT_EQ(splitDuration(3725.9), (cw::SplitDuration{1, 2, 5}));
    EXPECT_EQ(splitDuration(172800), (cw::SplitDuration{48, 0, 0}));
    EXPECT_EQ(splitDuration(0), (cw::SplitDuration{0, 0, 0}));
    EXPECT_EQ(splitDuration(299'581.05), (cw::SplitDuration{83, 13, 1})) << "beyond two days";
    EXPECT_EQ(splitDuration(3'232'725.7), (cw::SplitDuration{897, 58, 45}));
    EXPECT_EQ(splitDuration(3600 - 1e-7), (cw::SplitDuration{1, 0, 0})) << "a rounding error below the hour";
}

TEST(SplitDuration, BelowZeroAndNonFiniteGiveZeroAboveAYearAYear) {
    EXPECT_EQ(splitDuration(cw::longestShownDuration + 5), (cw::SplitDuration{8760, 0, 0}));
    EXPECT_EQ(splitDuration(-0.5), (cw::SplitDuration{}));
    EXPECT_EQ(splitDuration(std::numeric_limits<double>::quiet_NaN()), (cw::SplitDuration{}));
    EXPECT_EQ(splitDuration(std::numeric_limits<double>::infinity()), (cw::SplitDuration{}));
}

// Archived colours and fonts: the documented byte format, strict decoding and reader fallbacks.
#include "platform/defaults/ArchivedValues.h"

#include "platform/defaults/Defaults.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <limits>

using namespace std::chrono_literals;
using platform::ArchivedColor;
using platform::ArchivedColorSpace;
using platform::ArchivedFont;
using platform::Data;

// Stored settings files hold these bytes: the format may not drift.
TEST(ArchivedValues, TheBytesFollowTheDocumentedFormat) {
    EXPECT_EQ(platform::encodeColor(ArchivedColor{ArchivedColorSpace::genericGray, {0.5, 1.0}}),
              (Data{'C', 'W', 'C', 'L', 1, 6, 2,    0,   0, 0, 0, 0, 0, 0xE0, 0x3F, // 0.5
                    0,   0,   0,   0,   0, 0, 0xF0, 0x3F}));                        // 1.0
    EXPECT_EQ(platform::encodeFont(ArchivedFont{"Ab", 2.0, true, true}),
              (Data{'C', 'W', 'F', 'N', 1, 3, 0, 0, 0, 0, 0, 0, 0, 0x40, 2, 0, 0, 0, 'A', 'b'}));
}

TEST(ArchivedColor, EverySpaceRoundTrips) {
    for (int s = 1; s <= 8; ++s) {
        const auto space = static_cast<ArchivedColorSpace>(s);
        ArchivedColor c{space, {}};
        for (int i = 0; i < platform::componentCount(space); ++i) {
            c.components.push_back(0.1 * (i + 1) - 0.05);
        }
        EXPECT_EQ(platform::decodeColor(platform::encodeColor(c)), c) << s;
    }
    const auto wide = ArchivedColor{ArchivedColorSpace::extendedSRGB, {-0.2, 1.5, 0.3, 1.0}};
    EXPECT_EQ(platform::decodeColor(platform::encodeColor(wide)), wide) << "extended values are kept";
}

TEST(ArchivedColor, DecodingRefusesAnythingElse) {
    const Data good = platform::encodeColor(ArchivedColor::sRGB(0.01, 0.03, 0.08));
    ASSERT_TRUE(platform::decodeColor(good));
    for (size_t n = 0; n < good.size(); ++n) {
        EXPECT_FALSE(platform::decodeColor(Data(good.begin(), good.begin() + n))) << "truncated to " << n;
    }
    auto changed = [&](size_t at, std::uint8_t byte) {
        Data d = good;
        d[at] = byte;
        return d;
    };
    EXPECT_FALSE(platform::decodeColor(changed(0, 'X'))) << "magic";
    EXPECT_FALSE(platform::decodeColor(changed(4, 2))) << "version";
    EXPECT_FALSE(platform::decodeColor(changed(5, 0))) << "space";
    EXPECT_FALSE(platform::decodeColor(changed(5, 9))) << "space";
    EXPECT_FALSE(platform::decodeColor(changed(6, 3))) << "count";
    Data trailing = good;
    trailing.push_back(0);
    EXPECT_FALSE(platform::decodeColor(trailing));
    const auto nan = ArchivedColor::sRGB(std::numeric_limits<double>::quiet_NaN(), 0, 0);
    EXPECT_FALSE(platform::decodeColor(platform::encodeColor(nan)));
    EXPECT_FALSE(
        platform::decodeColor(platform::encodeColor(ArchivedColor{ArchivedColorSpace::sRGB, {1, 0, 0}})))
        << "a colour with a missing component";
}

TEST(ArchivedFont, RoundTripsAndRefusesBadBytes) {
    const ArchivedFont font{"Helvetica Neue", 34.0, false, true};
    EXPECT_EQ(platform::decodeFont(platform::encodeFont(font)), font);
    const ArchivedFont unicode{"Noto Sans CJK 日本語", 12.5, true, false};
    EXPECT_EQ(platform::decodeFont(platform::encodeFont(unicode)), unicode);

    const Data good = platform::encodeFont(font);
    for (size_t n = 0; n < good.size(); ++n) {
        EXPECT_FALSE(platform::decodeFont(Data(good.begin(), good.begin() + n))) << "truncated to " << n;
    }
    const std::pair<std::string, double> refused[] = {
        {"", 12},           {"X", 0}, {"X", -3}, {"X", std::numeric_limits<double>::infinity()},
        {"\xC0\xAF", 12},   // overlong UTF-8
        {"ab\xE2\x82", 12}, // truncated UTF-8
    };
    for (const auto& [family, size] : refused)
        EXPECT_FALSE(platform::decodeFont(platform::encodeFont(ArchivedFont{family, size, false, false})))
            << family << " " << size;
    Data badTraits = good;
    badTraits[5] = 4;
    EXPECT_FALSE(platform::decodeFont(badTraits));
    EXPECT_FALSE(platform::decodeFont(platform::encodeColor(ArchivedColor{}))) << "a colour is not a font";
}

TEST(ArchivedReaders, FallBackForAbsentWrongKindAndUndecodableValues) {
    testsupport::TempDir dir;
    platform::Defaults d(platform::Defaults::Options{dir / "defaults.json", 1h, {}});
    const auto fallback = ArchivedColor::sRGB(1, 1, 0);
    const auto stored = ArchivedColor::sRGB(0.95, 0.96, 0.9);
    EXPECT_EQ(platform::archivedColor(d, "color", fallback), fallback);
    d.set("color", "a string, not data");
    EXPECT_EQ(platform::archivedColor(d, "color", fallback), fallback);
    d.set("color", Data{1, 2, 3});
    EXPECT_EQ(platform::archivedColor(d, "color", fallback), fallback);
    platform::setArchivedColor(d, "color", stored);
    EXPECT_EQ(platform::archivedColor(d, "color", fallback), stored);

    const ArchivedFont fallbackFont{"System", 34, false, false};
    EXPECT_EQ(platform::archivedFont(d, "font", fallbackFont), fallbackFont);
    platform::setArchivedColor(d, "font", stored);
    EXPECT_EQ(platform::archivedFont(d, "font", fallbackFont), fallbackFont);
    platform::setArchivedFont(d, "font", ArchivedFont{"DejaVu Sans", 20, true, false});
    EXPECT_EQ(platform::archivedFont(d, "font", fallbackFont),
              (ArchivedFont{"DejaVu Sans", 20, true, false}));
}

// The JSON form of the defaults file and its base64.
#include "platform/defaults/ValueCoding.h"

#include <gtest/gtest.h>

using platform::Data;

TEST(Base64, RoundTripsEveryLengthAndRefusesBadText) {
    Data bytes;
    for (int n = 0; n < 40; ++n) {
        const auto text = platform::base64Encode(bytes);
        EXPECT_EQ(text.size() % 4, 0u);
        EXPECT_EQ(platform::base64Decode(text), bytes) << n;
        bytes.push_back(static_cast<std::uint8_t>(n * 37 + 200));
    }
    EXPECT_EQ(platform::base64Encode(Data{'M', 'a'}), "TWE=");
    EXPECT_FALSE(platform::base64Decode("TWE"));
    EXPECT_FALSE(platform::base64Decode("T=E="));
    EXPECT_FALSE(platform::base64Decode("TW\nE="));
    EXPECT_FALSE(platform::base64Decode("====")) << "padding only where it may stand";
}

TEST(DefaultsFileFormat, IsPlainJsonWhereJsonSuffices) {
    const auto text = platform::encodeDefaultsFile({{"b", true}, {"d", 31.0}, {"i", 3}, {"s", "x"}});
    EXPECT_EQ(text, "{\n  \"b\": true,\n  \"d\": 31.0,\n  \"i\": 3,\n  \"s\": \"x\"\n}\n");
}

TEST(DefaultsFileFormat, InvalidUtf8IsReplacedNotFatal) {
    const auto text = platform::encodeDefaultsFile({{"s", "ab\xff"}});
    auto back = platform::decodeDefaultsFile(text);
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->at("s").string());
}

TEST(DefaultsFileFormat, SaysWhyAFileIsRefused) {
    std::string why;
    EXPECT_FALSE(platform::decodeDefaultsFile("{\"a\": {\"@float\": \"many\"}}", &why));
    EXPECT_FALSE(why.empty());
}

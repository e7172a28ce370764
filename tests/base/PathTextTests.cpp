// File names kept in text formats: UTF-8 names stay as they are, others come back byte for byte.
#include "base/PathText.h"

#include <gtest/gtest.h>

namespace {

TEST(PathText, EveryNameComesBackAsItsBytesAndUtf8NamesStayReadable) {
    const struct {
        std::string path;
        bool utf8;
    } cases[] = {
        {"/home/ann/caf\xc3\xa9 100%.cwr", true},
        {"/home/ann/caf\xe9.cwr", false},
        {"/home/ann/na\xefve 50%.rtf", false},
        {"/x/\xed\xa0\x80.txt", false}, // a surrogate
        {"/x/\xc0\xaf.txt", false},
        {"/x/\xf4\x90\x80\x80", false}, // overlong; past U+10FFFF
        {"/x/\xf0\x9f\x8e\xac script.cwr", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(base::isUtf8(c.path), c.utf8) << c.path;
        const std::string text = base::pathAsText(c.path);
        EXPECT_TRUE(base::isUtf8(text)) << text;
        EXPECT_EQ(text == c.path, c.utf8) << text;
        EXPECT_EQ(base::pathFromText(text), c.path);
    }
}

} // namespace

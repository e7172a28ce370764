// The one atomic writer: where its working file goes, what it is called and what a refused
// replacement leaves behind.
#include "base/AtomicFile.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::string contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

TEST(AtomicFile, TheWorkingFileIsNamedByThePrefixBesideTheDestination) {
    const struct {
        std::string prefix;
        bool refuse;
    } cases[] = {
        {std::string(base::defaultTemporaryPrefix), false}, {"defaults.json.tmp-42-", false}, {".cw-", true}};
    for (const auto& c : cases) {
        testsupport::TempDir dir;
        const fs::path destination = dir / "defaults.json";
        base::writeFileAtomically(destination, "old");
        fs::path seen;
        const auto write = [&] {
            base::writeFileAtomically(destination, "new", {c.prefix, [&](const fs::path& working) {
                                                               seen = working;
                                                               return !c.refuse;
                                                           }});
        };
        if (c.refuse) {
            try {
                write();
                ADD_FAILURE() << "a refused replacement is an error";
            } catch (const base::FileWriteError& e) {
                EXPECT_EQ(e.code().value(), ECANCELED);
            }
        } else {
            write();
        }
        EXPECT_EQ(seen.parent_path(), dir.path()) << c.prefix;
        const std::string name = seen.filename().string();
        EXPECT_TRUE(name.starts_with(c.prefix) && name.size() == c.prefix.size() + 6) << name;
        EXPECT_EQ(contents(destination), c.refuse ? "old" : "new") << c.prefix;
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1)
            << "no working file is left behind";
    }
}

} // namespace

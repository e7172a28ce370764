// What other users of the machine may read of the files a save, an export, the settings and the
// recovery copies leave behind.
#include "ModelTestFiles.h"
#include "ProjectTestSupport.h"

#include "cuewright/model/RecoveryStore.h"
#include "cuewright/model/ScriptDocumentFile.h"
#include "cuewright/model/ScriptExporter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include <sys/stat.h>

namespace fs = std::filesystem;
using modeltest::documentWith;

namespace {

mode_t modeOf(const fs::path& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? (status.st_mode & 07777) : mode_t(-1);
}

// Each writer with the umask most systems use: a private script stays private, a new export or
// script gets the usual mode, the settings and everything in the Recovery folder are the user's
// alone, also when an earlier version left that folder open to others.
TEST(FilePrivacy, EachWriterLeavesTheModeItsFileCallsFor) {
    const mode_t umask = ::umask(022);
    const auto saveScript = [](const fs::path& dir) {
        cw::ScriptDocumentFile::save(dir / "a.cwr", documentWith("x"), {});
        return dir / "a.cwr";
    };
    const struct {
        const char* what;
        std::optional<mode_t> existing;
        std::function<fs::path(const fs::path& dir)> write;
        mode_t expected;
    } cases[] = {
        {"new script", std::nullopt, saveScript, 0644},
        {"private script", 0600, saveScript, 0600},
        {"private export", 0600,
         [](const fs::path& dir) {
             cw::ScriptExporter::exportPlainText(dir / "a.cwr", platform::AttributedString("x"));
             return dir / "a.cwr";
         },
         0600},
        {"settings", std::nullopt,
         [](const fs::path& dir) {
             platform::Defaults defaults({dir / "defaults.json", std::chrono::hours(1), {}});
             defaults.set("key", true);
             EXPECT_TRUE(defaults.synchronize());
             return dir / "defaults.json";
         },
         0600},
        {"recovery folder", std::nullopt,
         [](const fs::path& dir) {
             fs::create_directory(dir / "Recovery");
             ::chmod((dir / "Recovery").c_str(), 0755);
             EXPECT_TRUE(cw::RecoveryStore::open(dir / "Recovery"));
             return dir / "Recovery";
         },
         0700},
        {"recovery copy", std::nullopt,
         [](const fs::path& dir) {
             const auto store = cw::RecoveryStore::open(dir / "Recovery");
             store->write({"0a1b", "/home/someone/a.cwr", "a.cwr"}, documentWith("x"), {});
             EXPECT_EQ(modeOf(dir / "Recovery" / "index.json"), 0600u) << "index";
             return dir / "Recovery" / "0a1b.cwr";
         },
         0600},
    };
    for (const auto& c : cases) {
        testsupport::TempDir dir;
        if (c.existing) {
            cw::ScriptDocumentFile::save(dir / "a.cwr", documentWith("old"), {});
            ::chmod((dir / "a.cwr").c_str(), *c.existing);
        }
        EXPECT_EQ(modeOf(c.write(dir.path())), c.expected) << c.what;
    }
    ::umask(umask);
}

} // namespace

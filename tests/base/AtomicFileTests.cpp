// The one atomic writer: where its working file goes, what it is called and what a refused
// replacement leaves behind.
#include "base/AtomicFile.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include <sys/wait.h>
#include <unistd.h>

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
        {base::temporaryPrefix(), false}, {"defaults.json.tmp-42-", false}, {base::temporaryPrefix(), true}};
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

// A process that has ended: its pid names no living writer.
int endedProcess() {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    ::waitpid(child, nullptr, 0);
    return child;
}

// Working files carry their writer's pid; those of a writer that is gone are removed, anything
// else stays: a save in progress, names of another shape, the user's own files.
TEST(AtomicFile, OnlyWorkingFilesOfWritersThatAreGoneAreRemoved) {
    EXPECT_EQ(base::temporaryPrefix(), ".cw-" + std::to_string(::getpid()) + "-");
    const std::string gone = std::to_string(endedProcess());
    const std::string alive = std::to_string(::getpid());
    const struct {
        std::string name;
        bool removed;
    } cases[] = {
        {".cw-" + gone + "-aB3xY9", true},
        {".cw-" + alive + "-aB3xY9", false},   // this process, saving now
        {".cw-aB3xY9", false},                 // no pid: cannot be told
        {".cw-" + gone + "-notes.txt", false}, // not a working file's shape
        {".cw-" + gone + "-aB3x", false},
        {".cw-0-aB3xY9", false},
        {"cw-" + gone + "-aB3xY9", false},
        {"script.cwr", false},
    };
    testsupport::TempDir dir;
    for (const auto& c : cases) {
        std::ofstream(dir / c.name) << "x";
    }
    const std::vector<fs::path> removed = base::removeStaleTemporaryFiles(dir.path());
    for (const auto& c : cases) {
        EXPECT_EQ(!fs::exists(dir / c.name), c.removed) << c.name;
    }
    EXPECT_EQ(removed.size(), 1u);
}

} // namespace

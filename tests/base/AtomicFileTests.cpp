// The one atomic writer: where its working file goes, what it is called and what a refused
// replacement leaves behind.
#include "base/AtomicFile.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
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
            base::writeFileAtomically(destination, "new",
                                      {c.prefix,
                                       [&](const fs::path& working) {
                                           seen = working;
                                           return !c.refuse;
                                       },
                                       std::nullopt});
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

// A destination that is a symbolic link (a chain of them, relative or absolute, into another
// folder, or to no file yet) is written through: the file at its end is replaced and the links
// stay. Told to replace the link, the writer puts a plain file in its place and leaves what it
// led to alone. A loop of links is replaced as the link named.
TEST(AtomicFile, ALinkIsWrittenThroughUnlessToldToReplaceIt) {
    using Link = base::DestinationLink;
    const std::string v3 = "versions/talk-v3";
    const struct {
        const char* name;
        std::vector<std::pair<std::string, std::string>> links; // link name -> where it leads
        Link link;
        std::string written; // the file that ends up with the new bytes
    } cases[] = {
        {"a link into another folder", {{"current.cwr", v3}}, Link::writeThrough, v3},
        {"a chain of links", {{"current.cwr", "latest"}, {"latest", v3}}, Link::writeThrough, v3},
        {"an absolute link", {{"current.cwr", "<dir>/" + v3}}, Link::writeThrough, v3},
        {"a dangling link", {{"current.cwr", "versions/talk-v4"}}, Link::writeThrough, "versions/talk-v4"},
        {"the link replaced", {{"current.cwr", v3}}, Link::replace, "current.cwr"},
        {"a loop", {{"current.cwr", "loop"}, {"loop", "current.cwr"}}, Link::writeThrough, "current.cwr"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::TempDir dir;
        fs::create_directory(dir / "versions");
        base::writeFileAtomically(dir / v3, "old");
        for (const auto& [name, target] : c.links) {
            std::string to = target;
            if (to.starts_with("<dir>")) {
                to = dir.path().string() + to.substr(5);
            }
            fs::create_symlink(to, dir / name);
        }
        base::AtomicWriteOptions options;
        options.link = c.link;
        base::writeFileAtomically(dir / "current.cwr", "new", options);
        EXPECT_EQ(contents(dir / c.written), "new");
        EXPECT_FALSE(fs::is_symlink(dir / c.written));
        if (c.written != v3) {
            EXPECT_EQ(contents(dir / v3), "old");
        }
        for (const auto& [name, target] : c.links) {
            EXPECT_EQ(fs::is_symlink(dir / name), name != c.written) << name;
        }
        for (const fs::path& folder : {dir.path(), dir / "versions"}) {
            for (const auto& item : fs::directory_iterator(folder)) {
                EXPECT_FALSE(item.path().filename().string().starts_with(".cw-")) << item.path();
            }
        }
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
// else stays: a save in progress, names of another shape, the user's own files, and anything
// named like a working file that is no plain file of this user's (a folder, a link, another
// user's save on a shared folder).
TEST(AtomicFile, OnlyWorkingFilesOfWritersThatAreGoneAreRemoved) {
    EXPECT_EQ(base::temporaryPrefix(), ".cw-" + std::to_string(::getpid()) + "-");
    const std::string gone = std::to_string(endedProcess());
    const std::string alive = std::to_string(::getpid());
    enum class Kind { file, folder, link, othersFile };
    const struct {
        std::string name;
        bool removed;
        Kind kind = Kind::file;
    } cases[] = {
        {".cw-" + gone + "-aB3xY9", true},
        {".cw-" + alive + "-aB3xY9", false},   // this process, saving now
        {".cw-aB3xY9", false},                 // no pid: cannot be told
        {".cw-" + gone + "-notes.txt", false}, // not a working file's shape
        {".cw-" + gone + "-aB3x", false},
        {".cw-0-aB3xY9", false},
        {"cw-" + gone + "-aB3xY9", false},
        {"script.cwr", false},
        {".cw-" + gone + "-folder", false, Kind::folder},
        {".cw-" + gone + "-link00", false, Kind::link},
        {".cw-" + gone + "-other0", false, Kind::othersFile},
    };
    testsupport::TempDir dir;
    std::ofstream(dir / "script.txt") << "the user's";
    for (const auto& c : cases) {
        switch (c.kind) {
        case Kind::file:
        case Kind::othersFile:
            std::ofstream(dir / c.name) << "x";
            break;
        case Kind::folder:
            fs::create_directory(dir / c.name);
            break;
        case Kind::link:
            fs::create_symlink(dir / "script.txt", dir / c.name);
            break;
        }
    }
    // Another user's file: only an administrator can make one.
    const bool othersFile = ::chown((dir / cases[std::size(cases) - 1].name).c_str(), 65534, 65534) == 0;
    const std::vector<fs::path> removed = base::removeStaleTemporaryFiles(dir.path());
    for (const auto& c : cases) {
        if (c.kind == Kind::othersFile && !othersFile) {
            continue;
        }
        EXPECT_EQ(!fs::exists(fs::symlink_status(dir / c.name)), c.removed) << c.name;
    }
    EXPECT_EQ(removed.size(), 1u);
    EXPECT_EQ(contents(dir / "script.txt"), "the user's");
}

mode_t modeOf(const fs::path& file) {
    struct stat status {};
    return ::stat(file.c_str(), &status) == 0 ? (status.st_mode & 07777) : mode_t(-1);
}

// A file is readable by others only once it is complete and takes the destination's place, and
// then with the destination's mode, the usual mode of a new file, or the mode asked for.
TEST(AtomicFile, AFileBeingWrittenIsPrivateAndTakesItsFinalModeAtTheRename) {
    const mode_t umask = ::umask(022);
    const struct {
        std::optional<mode_t> existing;
        std::optional<mode_t> asked;
        mode_t expected;
    } cases[] = {
        {std::nullopt, std::nullopt, 0644}, {0600, std::nullopt, 0600},
        {0664, std::nullopt, 0664},         {0644, 0600, 0600},
        {std::nullopt, 0600, 0600},
    };
    for (const auto& c : cases) {
        testsupport::TempDir dir;
        const fs::path destination = dir / "script.txt";
        if (c.existing) {
            base::writeFileAtomically(destination, "old");
            ::chmod(destination.c_str(), *c.existing);
        }
        const base::TemporaryFile working = base::createTemporaryFileBeside(destination);
        EXPECT_EQ(modeOf(working.path), 0600u) << "the working file while it is written";
        ::close(working.fd);
        mode_t atRename = 0;
        base::writeFileAtomically(destination, "new",
                                  {base::temporaryPrefix(),
                                   [&](const fs::path& finished) {
                                       atRename = modeOf(finished);
                                       return true;
                                   },
                                   c.asked});
        EXPECT_EQ(atRename, c.expected);
        EXPECT_EQ(modeOf(destination), c.expected);
        EXPECT_EQ(contents(destination), "new");
    }
    ::umask(umask);
}

// Saves `destination` in a child that runs as another user whose groups are `groups` (the first
// its own), as a second member of a team saves a script the team shares. Returns the child's
// status.
int saveAs(uid_t user, const std::vector<gid_t>& groups, const fs::path& destination) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(groups.size(), groups.data()) != 0 || ::setgid(groups.front()) != 0 ||
            ::setuid(user) != 0) {
            ::_exit(2);
        }
        try {
            base::writeFileAtomically(destination, "edited by a colleague");
        } catch (...) {
            ::_exit(1);
        }
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
}

// A script of a group stays the group's when a member saves it; someone outside the group can
// still save it (the system gives it their own group then).
TEST(AtomicFile, ASavedFileKeepsTheGroupOfTheOriginalWhenTheUserIsInIt) {
    if (::geteuid() != 0) {
        // Without root: a supplementary group of this process stands for the team.
        std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
        groups.resize(static_cast<std::size_t>(std::max(::getgroups(int(groups.size()), groups.data()), 0)));
        std::erase(groups, ::getegid());
        if (groups.empty()) {
            GTEST_SKIP() << "needs root, or a supplementary group to save into";
        }
        testsupport::TempDir dir;
        const fs::path script = dir / "shared.txt";
        std::ofstream(script) << "first";
        ASSERT_EQ(::chown(script.c_str(), static_cast<uid_t>(-1), groups.front()), 0);
        ASSERT_EQ(::chmod(script.c_str(), 0664), 0);
        base::writeFileAtomically(script, "edited");
        struct stat status {};
        ASSERT_EQ(::stat(script.c_str(), &status), 0);
        EXPECT_EQ(status.st_gid, groups.front());
        EXPECT_EQ(status.st_mode & 07777, 0664u);
        return;
    }
    constexpr uid_t firstOwner = 4101, colleague = 4102;
    constexpr gid_t team = 4201, ownGroup = 4202;
    const struct {
        std::vector<gid_t> groups;
        mode_t mode;
        gid_t expected;
    } cases[] = {{{ownGroup, team}, 0664, team}, {{ownGroup}, 0666, ownGroup}};
    for (const auto& c : cases) {
        const testsupport::SharedFolder dir; // the colleague reaches it whatever TMPDIR is
        const fs::path script = dir / "shared.txt";
        std::ofstream(script) << "first";
        ASSERT_EQ(::chown(script.c_str(), firstOwner, team), 0);
        ASSERT_EQ(::chmod(script.c_str(), c.mode), 0);
        ASSERT_EQ(saveAs(colleague, c.groups, script), 0);
        struct stat status {};
        ASSERT_EQ(::stat(script.c_str(), &status), 0);
        EXPECT_EQ(status.st_gid, c.expected);
        EXPECT_EQ(status.st_uid, colleague);
        EXPECT_EQ(status.st_mode & 07777, c.mode);
        EXPECT_EQ(contents(script), "edited by a colleague");
    }
}

} // namespace

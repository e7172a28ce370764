// The defaults store: typed reads, domains, persistence, damaged files, atomic and concurrent saves.
#include "platform/defaults/Defaults.h"

#include "base/Log.h"
#include "support/LogCapture.h"
#include "support/ShortOfDescriptors.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <fstream>
#include <limits>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace std::chrono_literals;
using platform::Array;
using platform::Data;
using platform::Defaults;
using platform::Dictionary;
using platform::Value;
namespace fs = std::filesystem;
using testsupport::LogCapture;

namespace {

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const fs::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << text;
}

// Every file but the savers' lock file, which stays once made.
std::vector<fs::path> filesIn(const fs::path& dir) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().extension() != ".lock") {
            files.push_back(entry.path());
        }
    }
    return files;
}

std::vector<fs::path> filesStartingWith(const fs::path& dir, const std::string& prefix) {
    std::vector<fs::path> files;
    for (const auto& p : filesIn(dir)) {
        if (p.filename().string().starts_with(prefix)) {
            files.push_back(p);
        }
    }
    return files;
}

Defaults::Options optionsFor(const fs::path& file, std::chrono::milliseconds delay = 10s) {
    Defaults::Options o;
    o.file = file;
    o.saveDelay = delay;
    return o;
}

// Each test's own folder and the settings file in it.
class DefaultsTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    const fs::path file = dir / "defaults.json";
};

} // namespace

using DefaultsReads = DefaultsTest;
using DefaultsFile = DefaultsTest;
using DefaultsDamage = DefaultsTest;
using DefaultsAtomicity = DefaultsTest;
using DefaultsThreads = DefaultsTest;
using DefaultsProcesses = DefaultsTest;

// --- reads --------------------------------------------------------------------------------

TEST_F(DefaultsReads, AbsentKeysNumbersAndStringsAnswerLikeThePlatform) {
    Defaults d(optionsFor(file));
    EXPECT_FALSE(d.boolForKey("missing"));
    EXPECT_EQ(d.integerForKey("missing"), 0);
    EXPECT_EQ(d.doubleForKey("missing"), 0.0);
    EXPECT_EQ(d.floatForKey("missing"), 0.0f);
    EXPECT_FALSE(d.stringForKey("missing") || d.dataForKey("missing") || d.arrayForKey("missing") ||
                 d.dictionaryForKey("missing") || d.object("missing"));
    d.set("double", 3.9);
    d.set("negative", -3.9);
    d.set("int", 7);
    d.set("yes", "YES");
    d.set("no", "no");
    d.set("numeric", "12.5abc");
    d.set("flag", true);
    d.set("data", Data{1, 2});
    d.set("huge", std::numeric_limits<std::int64_t>::max());
    d.set("nan", std::numeric_limits<double>::quiet_NaN());

    EXPECT_EQ(d.integerForKey("double"), 3);
    EXPECT_EQ(d.integerForKey("negative"), -3);
    EXPECT_EQ(d.doubleForKey("int"), 7.0);
    EXPECT_TRUE(d.boolForKey("yes"));
    EXPECT_FALSE(d.boolForKey("no"));
    EXPECT_EQ(d.doubleForKey("numeric"), 12.5);
    EXPECT_EQ(d.integerForKey("numeric"), 12);
    EXPECT_EQ(d.integerForKey("flag"), 1);
    EXPECT_EQ(d.stringForKey("int"), "7");
    EXPECT_EQ(d.stringForKey("double"), "3.9");
    EXPECT_FALSE(d.stringForKey("data")) << "bytes have no string form";
    EXPECT_FALSE(d.dataForKey("yes")) << "a string is not data";
    EXPECT_EQ(d.integerForKey("data"), 0);
    EXPECT_EQ(d.integerForKey("huge"), std::numeric_limits<std::int64_t>::max()) << "no trip through double";
    EXPECT_EQ(d.integerForKey("nan"), 0);
}

TEST_F(DefaultsReads, UserValuesHideRegisteredOnesUntilRemoved) {
    Defaults d(optionsFor(file));
    d.registerDefaults({{"speed", 31.0}, {"name", "host"}});
    EXPECT_EQ(d.doubleForKey("speed"), 31.0);
    d.set("speed", 50.0);
    EXPECT_EQ(d.doubleForKey("speed"), 50.0);
    EXPECT_EQ(d.persistentObject("speed"), Value(50.0));
    EXPECT_FALSE(d.persistentObject("name"));
    d.removeObject("speed");
    EXPECT_EQ(d.doubleForKey("speed"), 31.0);
    d.registerDefaults({{"speed", 40.0}});
    EXPECT_EQ(d.doubleForKey("speed"), 40.0) << "a later registration replaces the key";
    EXPECT_EQ(d.stringForKey("name"), "host") << "and keeps the others";
}

// --- persistence --------------------------------------------------------------------------

TEST_F(DefaultsFile, EveryKindComesBackAsTheSameKindAndRegisteredOnesStayOut) {
    Data allBytes;
    for (int i = 0; i < 256; ++i) {
        allBytes.push_back(static_cast<std::uint8_t>(i));
    }
    const Dictionary nested{{"@data", "looks like a tag"}};
    const Dictionary values{
        {"bool", true},
        {"int", std::int64_t{-9007199254740993}},
        {"double", 31.0},
        {"tiny", 0.1},
        {"float", 0.65f},
        {"string", "Grüße \"quoted\"\n"},
        {"data", allBytes},
        {"empty data", Data{}},
        {"array", Array{1, 2.5, "three", Array{}, Dictionary{}}},
        {"dict", Dictionary{{"inner", Dictionary{{"x", 1.0f}}}, {"tagged", nested}}},
        {"tagged", nested},
        {"inf", std::numeric_limits<double>::infinity()},
        {"floatInf", -std::numeric_limits<float>::infinity()},
    };
    {
        Defaults d(optionsFor(file));
        d.registerDefaults({{"registered", 1}});
        for (const auto& [key, value] : values) {
            d.set(key, value);
        }
        ASSERT_TRUE(d.synchronize());
    }
    EXPECT_NE(readFile(file).find("31.0"), std::string::npos) << "a double is written as a double";
    Defaults reread(optionsFor(file));
    EXPECT_FALSE(reread.object("registered")) << "registered defaults are never written";
    for (const auto& [key, value] : values) {
        auto back = reread.persistentObject(key);
        ASSERT_TRUE(back) << key;
        EXPECT_EQ(*back, value) << key;
    }
    ASSERT_TRUE(reread.object("double"));
    EXPECT_EQ(reread.object("double")->type(), Value::Type::real);
    EXPECT_EQ(reread.floatForKey("float"), 0.65f);
    EXPECT_EQ(reread.doubleForKey("tiny"), 0.1);
}

// Both stores save only as they are destroyed.
TEST_F(DefaultsFile, DestroyingSavesAndKeepsThePermissionsTheUserGaveTheFile) {
    {
        Defaults d(optionsFor(file));
        d.set("first", 1);
    }
    ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
    {
        Defaults d(optionsFor(file));
        d.set("second", 2);
    }
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(Defaults(optionsFor(file)).integerForKey("second"), 2);
}

TEST_F(DefaultsFile, ABurstOfWritesIsOneSave) {
    auto options = optionsFor(file, 1h);
    std::atomic<int> saves{0};
    options.beforeRename = [&](const fs::path&) {
        ++saves;
        return true;
    };
    Defaults d(options);
    for (int i = 0; i < 100; ++i) {
        d.set("counter", i);
    }
    EXPECT_EQ(saves.load(), 0) << "nothing is written before the delay";
    ASSERT_TRUE(d.synchronize());
    EXPECT_EQ(saves.load(), 1);
    ASSERT_TRUE(d.synchronize());
    EXPECT_EQ(saves.load(), 1) << "nothing left to save";
    d.set("counter", 99);
    EXPECT_TRUE(d.synchronize());
    EXPECT_EQ(saves.load(), 1) << "writing the same value changes nothing";
}

TEST_F(DefaultsFile, PendingWritesReachTheFileWithoutSynchronize) {
    const auto nested = dir / "sub" / "defaults.json";
    Defaults d(optionsFor(nested, 1ms));
    d.set("key", "value");
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!fs::exists(nested) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(fs::exists(nested)) << "the folder is created and the save runs by itself";
    Defaults reread(optionsFor(nested));
    EXPECT_EQ(reread.stringForKey("key"), "value");
}

// --- damage and interrupted saves ---------------------------------------------------------

class DamagedFile : public DefaultsTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(DamagedFile, IsSetAsideLoggedAndTheStoreStartsFromTheDefaults) {
    writeFile(file, GetParam());
    LogCapture log;
    {
        Defaults d(optionsFor(file));
        d.registerDefaults({{"speed", 31.0}});
        EXPECT_EQ(d.doubleForKey("speed"), 31.0);
        EXPECT_FALSE(fs::exists(file));
        d.set("after", true);
        ASSERT_TRUE(d.synchronize());
    }
    const auto aside = filesStartingWith(dir.path(), "defaults.json.damaged-");
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(readFile(aside[0]), GetParam()) << "the user's file is kept as it was";
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("damaged"), std::string::npos);
    EXPECT_NE(lines[0].find(aside[0].string()), std::string::npos) << "the line says where it went";
    Defaults reread(optionsFor(file));
    EXPECT_TRUE(reread.boolForKey("after")) << "the new file is sound";
}

INSTANTIATE_TEST_SUITE_P(Defaults, DamagedFile,
                         ::testing::Values(std::string("{\"speed\": 31.0,"), std::string(""),
                                           std::string("[1, 2, 3]"), std::string("\xff\xfe garbage"),
                                           "{\"s\": \"" + std::string(9 << 20, 'x') + "\"}",
                                           std::string(100000, '[') + std::string(100000, ']')));

// Values that cannot be read cost their own settings alone: the rest is kept, the file as it was
// goes aside, the log says which in one line of bounded length, and once the next save has
// left them out the next start finds nothing to tell.
TEST_F(DefaultsDamage, UnreadableValuesAloneAreResetAndTheRestKept) {
    const std::string original =
        "{\"bad\": {\"@unknown\": 1}, \"bonjourName\": \"" + std::string(5000, 'n') +
        "\", \"d\": {\"@data\": \"not base64!\"}, \"good\": \"kept\", \"nul\": null, \"" +
        std::string(300, 'k') + "\": 1, \"speed\": 0.5}";
    writeFile(file, original);
    LogCapture log;
    {
        Defaults d(optionsFor(file));
        EXPECT_EQ(d.stringForKey("good"), "kept");
        EXPECT_EQ(d.doubleForKey("speed"), 0.5);
        EXPECT_FALSE(d.object("bonjourName"));
        EXPECT_FALSE(d.object("bad"));
        EXPECT_EQ(d.resetAtLoad().keys,
                  (std::vector<std::string>{"bad", "bonjourName", "d", std::string(256, 'k'), "nul"}));
        EXPECT_FALSE(d.resetAtLoad().all);
        ASSERT_TRUE(d.synchronize());
    }
    const auto aside = filesStartingWith(dir.path(), "defaults.json.damaged-");
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_TRUE(readFile(aside[0]) == original) << "the user's file is kept as it was";
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("\"bonjourName\""), std::string::npos);
    EXPECT_LE(lines[0].size(), base::kMaxLogLineBytes + 32);

    Defaults reread(optionsFor(file));
    EXPECT_FALSE(reread.resetAtLoad().any());
    EXPECT_EQ(reread.stringForKey("good"), "kept");
    EXPECT_LT(fs::file_size(file), 1000u);

    // Nor does the application store a string longer than any setting's.
    reread.set("bonjourName", std::string(100 << 20, 'n'));
    EXPECT_EQ(reread.stringForKey("bonjourName")->size(), 4096u);
    base::log("quoted: " + std::string(1 << 20, 'q'));
    EXPECT_LE(log.lines().back().size(), base::kMaxLogLineBytes + 32);
}

// A value its setting cannot hold is reset and named like an unreadable one; values of a kind it
// can read stay.
TEST_F(DefaultsDamage, ValuesOfAKindTheirSettingCannotHoldAreResetAndNamed) {
    const struct {
        const char* key;
        Value registered;
        const char* stored; // as JSON
        bool kept;
    } cases[] = {
        {"defaultTextColor", Data{1, 2, 3}, "12", false},
        {"defaultScrollSpeed", 31.0, "\"fast\"", false},
        {"bonjourName", "Studio", "[1, 2]", false},
        {"StartupMode", "OpenMostRecentDocument", "7", false},
        {"bonjourKey", 19824, "\"19825\"", true},
        {"autospawnPrompterWindow", true, "0", true},
        {"manualScrollingEnabled", false, "\"YES\"", true},
        {"defaultOverlayOpacity", 1.0f, "true", true},
        {"defaultFont", Data{4}, "{\"@data\": \"AQI=\"}", true},
    };
    std::string json = "{\"notRegistered\": \"anything\"";
    Dictionary registered;
    for (const auto& c : cases) {
        json += ", \"" + std::string(c.key) + "\": " + c.stored;
        registered.emplace(c.key, c.registered);
    }
    writeFile(file, json + "}");
    LogCapture log;
    {
        Defaults d(optionsFor(file));
        d.registerDefaults(registered);
        for (const auto& c : cases) {
            EXPECT_EQ(d.persistentObject(c.key).has_value(), c.kept) << c.key;
            if (!c.kept) {
                EXPECT_EQ(d.object(c.key), c.registered) << c.key;
            }
        }
        EXPECT_TRUE(d.persistentObject("notRegistered").has_value());
        std::vector<std::string> named = d.resetAtLoad().keys;
        std::sort(named.begin(), named.end());
        EXPECT_EQ(named, (std::vector<std::string>{"StartupMode", "bonjourName", "defaultScrollSpeed",
                                                   "defaultTextColor"}));
        EXPECT_FALSE(d.resetAtLoad().keptAs.empty());
        ASSERT_TRUE(d.synchronize());
    }
    EXPECT_EQ(filesStartingWith(dir.path(), "defaults.json.damaged-").size(), 1u);
    Defaults reread(optionsFor(file));
    reread.registerDefaults(registered);
    EXPECT_FALSE(reread.resetAtLoad().any()) << "the next start finds nothing to tell";
}

TEST_F(DefaultsDamage, ASecondDamagedFileDoesNotReplaceTheFirstOneSetAside) {
    LogCapture log;
    writeFile(file, "first");
    { Defaults d(optionsFor(file)); }
    writeFile(file, "second");
    { Defaults d(optionsFor(file)); }
    std::vector<std::string> contents;
    for (const auto& p : filesIn(dir.path())) {
        contents.push_back(readFile(p));
    }
    std::sort(contents.begin(), contents.end());
    EXPECT_EQ(contents, (std::vector<std::string>{"first", "second"}));
}

TEST_F(DefaultsDamage, AFileThatCannotBeReadIsNeverReplaced) {
    fs::create_directories(file / "child"); // a folder where the file should be: unreadable as a file
    LogCapture log;
    Defaults d(optionsFor(file));
    d.set("key", 1);
    EXPECT_EQ(d.integerForKey("key"), 1) << "the store keeps working in memory";
    EXPECT_FALSE(d.synchronize()) << "and says the value is not on disk";
    EXPECT_TRUE(fs::is_directory(file / "child"));
    EXPECT_FALSE(log.lines().empty());
}

TEST_F(DefaultsFile, ALinkedSettingsFileStaysALink) {
    const auto real = dir / "dotfiles-defaults.json";
    const auto link = dir / "defaults.json";
    writeFile(real, "{\"a\": 1}");
    fs::create_symlink(real, link);
    {
        Defaults d(optionsFor(link));
        EXPECT_EQ(d.integerForKey("a"), 1);
        d.set("a", 2);
        ASSERT_TRUE(d.synchronize());
    }
    EXPECT_TRUE(fs::is_symlink(link));
    Defaults reread(optionsFor(real));
    EXPECT_EQ(reread.integerForKey("a"), 2);
}

TEST_F(DefaultsAtomicity, ASaveInterruptedBeforeTheRenameLeavesThePreviousFileIntact) {
    {
        Defaults d(optionsFor(file));
        d.set("speed", 31.0);
        ASSERT_TRUE(d.synchronize());
    }
    const std::string before = readFile(file);

    bool interrupt = true;
    std::string temporaryContents;
    auto options = optionsFor(file);
    options.beforeRename = [&](const fs::path& temporary) {
        temporaryContents = readFile(temporary);
        return !interrupt;
    };
    LogCapture log;
    Defaults d(options);
    d.set("speed", 45.0);
    d.set("other", "x");
    EXPECT_FALSE(d.synchronize());
    EXPECT_NE(temporaryContents.find("45.0"), std::string::npos) << "the new version was complete";
    EXPECT_EQ(readFile(file), before);
    EXPECT_EQ(filesIn(dir.path()).size(), 1u) << "no temporary file is left behind";
    EXPECT_EQ(d.doubleForKey("speed"), 45.0);

    interrupt = false;
    EXPECT_TRUE(d.synchronize()) << "the next save writes what the failed one could not";
    Defaults reread(optionsFor(file));
    EXPECT_EQ(reread.doubleForKey("speed"), 45.0);
    EXPECT_EQ(reread.stringForKey("other"), "x");
}

TEST_F(DefaultsAtomicity, ASaveShortOfDescriptorsFailsClearlyAndKeepsTheOldFile) {
    // Wherever the descriptors run out (the lock, the reading, the working file, the umask):
    // no crash, the old file or the whole new one, a log line for a failure, no working file
    // left behind, and the new file no more open than the umask allows.
    for (const bool existing : {true, false}) {
        for (int spare = 0; spare <= 4; ++spare) {
            testsupport::TempDir fresh;
            const auto file = fresh / "defaults.json";
            if (existing) {
                Defaults d(optionsFor(file));
                d.set("speed", 31.0);
                ASSERT_TRUE(d.synchronize());
            }
            const std::string before = readFile(file);
            Defaults d(optionsFor(file));
            d.set("speed", 45.0);
            const std::string outcome = testsupport::inChildShortOfDescriptors(spare, [&] {
                ::umask(077);
                LogCapture log;
                if (d.synchronize())
                    return std::string("saved");
                std::string lines = "failed:";
                for (const std::string& line : log.lines())
                    lines += " " + line;
                return lines;
            });
            const std::string where = (existing ? "over a file, " : "a new file, ") + std::to_string(spare);
            if (outcome == "saved") {
                EXPECT_NE(readFile(file).find("45.0"), std::string::npos) << where;
                if (!existing) {
                    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
                              fs::perms::owner_read | fs::perms::owner_write)
                        << where;
                }
            } else {
                EXPECT_TRUE(outcome.starts_with("failed: ")) << where << ": " << outcome;
                EXPECT_NE(outcome.find("Too many open files"), std::string::npos) << where << ": " << outcome;
                EXPECT_EQ(readFile(file), before) << where;
            }
            EXPECT_EQ(filesIn(fresh.path()).size(), fs::exists(file) ? 1u : 0u)
                << where << ": no working file left";
        }
    }
}

// --- threads ------------------------------------------------------------------------------

TEST_F(DefaultsThreads, ConcurrentWritersAndReadersLoseNothing) {
    constexpr int kThreads = 8;
    constexpr int kKeys = 200;
    {
        Defaults d(optionsFor(file, 0ms)); // saves run all the time, beside the writes
        d.registerDefaults({{"shared", -1}});
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&d, t] {
                for (int k = 0; k < kKeys; ++k) {
                    d.set("t" + std::to_string(t) + "k" + std::to_string(k), t * 1000 + k);
                    d.set("shared", t);
                    (void)d.integerForKey("shared");
                    if (k % 50 == 0) {
                        d.synchronize();
                    }
                }
            });
        }
        for (auto& th : threads) {
            th.join();
        }
        ASSERT_TRUE(d.synchronize());
        const auto last = d.integerForKey("shared");
        Defaults reread(optionsFor(file));
        EXPECT_EQ(reread.integerForKey("shared"), last) << "the last write is the one on disk";
    }
    Defaults reread(optionsFor(file));
    for (int t = 0; t < kThreads; ++t) {
        for (int k = 0; k < kKeys; ++k) {
            ASSERT_EQ(reread.integerForKey("t" + std::to_string(t) + "k" + std::to_string(k)), t * 1000 + k);
        }
    }
}

// --- several processes on one file ---------------------------------------------------------

// Two stores on one file stand for two processes: each save writes only the keys its own store
// set or removed, over what the other one saved meanwhile.
TEST_F(DefaultsProcesses, EachSaveWritesOnlyItsOwnChanges) {
    writeFile(file, "{\"shared\": 1, \"gone\": 1, \"other\": 1}");
    Defaults a(optionsFor(file));
    Defaults b(optionsFor(file));
    a.set("a", 1);
    a.removeObject("gone");
    a.set("other", 2);
    a.removeObject("other"); // set, then removed: removed
    b.set("b", 2);
    b.set("shared", 2);
    ASSERT_TRUE(a.synchronize());
    ASSERT_TRUE(b.synchronize());
    a.set("shared", 3);
    ASSERT_TRUE(a.synchronize());
    Defaults reread(optionsFor(file));
    struct Expect {
        const char* key;
        std::optional<std::int64_t> value;
    };
    for (const Expect& e : {Expect{"a", 1}, Expect{"b", 2}, Expect{"shared", 3}, Expect{"gone", std::nullopt},
                            Expect{"other", std::nullopt}}) {
        const auto value = reread.persistentObject(e.key);
        EXPECT_EQ(value ? std::optional(reread.integerForKey(e.key)) : std::nullopt, e.value) << e.key;
    }
}

// Runs only as a child process of the tests below: writes its own keys, saving after each, or
// is killed in the middle of its first save.
TEST_F(DefaultsProcesses, ChildWritingItsOwnKeys) {
    const char* file = std::getenv("CW_DEFAULTS_CHILD_FILE");
    const char* prefix = std::getenv("CW_DEFAULTS_CHILD_PREFIX");
    if (!file || !prefix) {
        GTEST_SKIP() << "runs as a child process of the other tests of DefaultsProcesses";
    }
    auto options = optionsFor(file);
    if (std::getenv("CW_DEFAULTS_CHILD_KILL")) {
        options.beforeRename = [](const fs::path&) { return ::raise(SIGKILL) == 0; };
    }
    Defaults d(options);
    for (int k = 0; k < 30; ++k) {
        d.set(prefix + std::to_string(k), k);
        ASSERT_TRUE(d.synchronize());
    }
}

namespace {

// Runs one test of this program in a fresh process (a forked copy of this one could inherit a lock
// that a thread of ours held), with `env` before our own environment; its report is its exit status.
pid_t spawnTest(const std::string& test, std::vector<std::string> env) {
    for (char** e = environ; *e; ++e) {
        env.emplace_back(*e);
    }
    std::vector<char*> envp;
    for (auto& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    std::string self = fs::read_symlink("/proc/self/exe").string();
    std::string filter = "--gtest_filter=" + test;
    char* argv[] = {self.data(), filter.data(), nullptr};
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (::posix_spawn(&pid, self.c_str(), &quiet, nullptr, argv, envp.data()) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&quiet);
    return pid;
}

pid_t spawnChild(const fs::path& file, const std::string& prefix, bool killMidSave = false) {
    std::vector<std::string> env{"CW_DEFAULTS_CHILD_FILE=" + file.string(),
                                 "CW_DEFAULTS_CHILD_PREFIX=" + prefix};
    if (killMidSave) {
        env.emplace_back("CW_DEFAULTS_CHILD_KILL=1");
    }
    return spawnTest("DefaultsProcesses.ChildWritingItsOwnKeys", std::move(env));
}

int waitForChild(pid_t pid) {
    int status = -1;
    return ::waitpid(pid, &status, 0) == pid ? status : -1;
}

} // namespace

TEST_F(DefaultsProcesses, ProcessesSavingAtOnceKeepEachOthersKeys) {
    const std::vector<std::string> prefixes{"first", "second", "third"};
    std::vector<pid_t> children;
    for (const auto& prefix : prefixes) {
        children.push_back(spawnChild(file, prefix));
        ASSERT_GT(children.back(), 0);
    }
    for (pid_t pid : children) {
        const int status = waitForChild(pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    Defaults reread(optionsFor(file));
    for (const auto& prefix : prefixes) {
        for (int k = 0; k < 30; ++k) {
            EXPECT_EQ(reread.integerForKey(prefix + std::to_string(k)), k) << prefix << k;
        }
    }
}

// A writer killed mid-save leaves its temporary file; the next start removes it, unless its
// writer may still be saving (another process holds the lock and that writer is alive).
TEST_F(DefaultsProcesses, StaleTemporaryFilesAreRemovedAtStart) {
    writeFile(file, "{\"kept\": 1}");
    const pid_t killed = spawnChild(file, "killed", /*killMidSave=*/true);
    ASSERT_GT(killed, 0);
    const int status = waitForChild(killed);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    const auto left = filesStartingWith(dir.path(), "defaults.json.tmp-" + std::to_string(killed) + "-");
    ASSERT_EQ(left.size(), 1u) << "the killed writer left its temporary file";
    const auto live = dir / ("defaults.json.tmp-" + std::to_string(::getpid()) + "-Ef34Gh");
    const auto unnamed = dir / "defaults.json.tmp-Ij56Kl"; // an older writer's name: no pid
    const auto unrelated = dir / "defaults.json.damaged-20260101-000000";
    for (const auto& f : {live, unnamed, unrelated}) {
        writeFile(f, "{");
    }
    LogCapture log;
    {
        const int lockFd = ::open((file.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_EQ(::flock(lockFd, LOCK_EX), 0); // another process is saving now
        Defaults d(optionsFor(file));
        EXPECT_EQ(d.integerForKey("kept"), 1);
        EXPECT_FALSE(fs::exists(left[0]));
        EXPECT_TRUE(fs::exists(live));
        EXPECT_TRUE(fs::exists(unnamed));
        ::close(lockFd);
    }
    Defaults d(optionsFor(file));
    EXPECT_EQ(filesIn(dir.path()).size(), 2u) << "with the lock free, every temporary file is stale";
    EXPECT_TRUE(fs::exists(unrelated));
    EXPECT_EQ(d.integerForKey("kept"), 1);
}

// --- where the file lives -----------------------------------------------------------------

const uid_t homeless = 48611; // a user id without a passwd entry

// Runs only as a child process of the test below, as root: becomes a user without a home, makes
// the store and exits 1 when it read a planted value, 2 when it could not become that user.
TEST(DefaultsPath, ChildWithoutAHome) {
    const char* shared = std::getenv("CW_DEFAULTS_HOMELESS_TMPDIR");
    if (!shared) {
        GTEST_SKIP()
            << "runs as a child process of DefaultsPath.WithoutAHomeNothingPlantedInTheSharedFolderIsUsed";
    }
    ::unsetenv("HOME");
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("XDG_RUNTIME_DIR");
    ::unsetenv("CUEWRIGHT_DEFAULTS_FILE");
    ::setenv("TMPDIR", shared, 1);
    if (::setgroups(0, nullptr) != 0 || ::setresgid(homeless, homeless, homeless) != 0 ||
        ::setresuid(homeless, homeless, homeless) != 0) {
        ::_exit(2);
    }
    Defaults::Options options;
    options.file = Defaults::defaultFilePath();
    Defaults store(options);
    const bool planted = store.boolForKey("isBonjourEnabled") || store.stringForKey("bonjourName");
    store.set("bonjourName", std::string("mine"));
    store.synchronize();
    ::_exit(planted ? 1 : 0);
}

// A user without a home folder (no HOME, no passwd entry) keeps the settings in a temporary
// folder of their own: settings another user planted under fixed names in the shared temporary
// folder are never read, and nothing is written where that user could read it. The child runs
// as a user id without a passwd entry, so the test needs root.
TEST(DefaultsPath, WithoutAHomeNothingPlantedInTheSharedFolderIsUsed) {
    const passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() != 0 || nobody == nullptr) {
        GTEST_SKIP() << "needs root to run as a user without a passwd entry";
    }
    ASSERT_EQ(::getpwuid(homeless), nullptr);
    const testsupport::SharedFolder dir; // the child reaches it whatever TMPDIR is
    const fs::path shared = dir.path / "tmp";
    fs::create_directories(shared);
    fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
    fs::permissions(dir.path, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    const auto plant = [&](const fs::path& folder, fs::perms mode) {
        fs::create_directories(folder / "Cuewright");
        std::ofstream(folder / "Cuewright" / "defaults.json")
            << R"({"isBonjourEnabled": true, "bonjourName": "planted"})";
        for (const fs::path& p : {folder, folder / "Cuewright", folder / "Cuewright" / "defaults.json"}) {
            ASSERT_EQ(::chown(p.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        }
        fs::permissions(folder, mode);
    };
    struct Case {
        const char* name;
        bool ownFolderPlanted; // "cuewright-<uid>" made first by the other user
    };
    for (const Case c : {Case{"a fixed name", false}, Case{"the private folder's name", true}}) {
        SCOPED_TRACE(c.name);
        fs::remove_all(shared / "Cuewright");
        fs::remove_all(shared / ("cuewright-" + std::to_string(homeless)));
        plant(shared, fs::perms::all | fs::perms::sticky_bit);
        if (c.ownFolderPlanted) {
            plant(shared / ("cuewright-" + std::to_string(homeless)), fs::perms::all);
        }
        const pid_t child =
            spawnTest("DefaultsPath.ChildWithoutAHome", {"CW_DEFAULTS_HOMELESS_TMPDIR=" + shared.string()});
        ASSERT_GT(child, 0);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the planted settings were read; 2: no such user";
        // Whatever the child saved lies in a folder that only it may enter.
        for (const auto& entry : fs::recursive_directory_iterator(shared)) {
            struct stat st {};
            ASSERT_EQ(::lstat(entry.path().c_str(), &st), 0);
            if (st.st_uid == homeless && entry.path().parent_path() == shared) {
                EXPECT_TRUE(S_ISDIR(st.st_mode) && (st.st_mode & 077) == 0) << entry.path();
            }
        }
    }
}

TEST(DefaultsPath, EnvironmentChoosesTheFile) {
    const char* keepFile = std::getenv("CUEWRIGHT_DEFAULTS_FILE");
    const char* keepXdg = std::getenv("XDG_CONFIG_HOME");
    const std::string savedFile = keepFile ? keepFile : "";
    const std::string savedXdg = keepXdg ? keepXdg : "";

    setenv("CUEWRIGHT_DEFAULTS_FILE", "/somewhere/settings.json", 1);
    EXPECT_EQ(Defaults::defaultFilePath(), fs::path("/somewhere/settings.json"));
    unsetenv("CUEWRIGHT_DEFAULTS_FILE");
    setenv("XDG_CONFIG_HOME", "/xdg", 1);
    EXPECT_EQ(Defaults::defaultFilePath(), fs::path("/xdg/Cuewright/defaults.json"));
    setenv("XDG_CONFIG_HOME", "relative", 1);
    EXPECT_EQ(Defaults::defaultFilePath().filename(), "defaults.json");
    EXPECT_EQ(Defaults::defaultFilePath().parent_path().parent_path().filename(), ".config")
        << "a relative XDG_CONFIG_HOME is ignored";

    keepFile ? setenv("CUEWRIGHT_DEFAULTS_FILE", savedFile.c_str(), 1) : unsetenv("CUEWRIGHT_DEFAULTS_FILE");
    keepXdg ? setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1) : unsetenv("XDG_CONFIG_HOME");
}

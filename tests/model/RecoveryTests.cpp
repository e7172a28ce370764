// Recovery copies of unsaved edits: the store's folder, index and lock, and when the copies of
// open scripts are written, kept and removed.
#include "ModelTestFiles.h"
#include "ProjectTestSupport.h"

#include "cuewright/model/RecoveryStore.h"
#include "cuewright/model/ScriptDocumentFile.h"
#include "cuewright/model/ScriptRecovery.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <utility>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace projecttest;
namespace fs = std::filesystem;
using cw::RecoveryStore;
using cw::ScriptRecovery;
using modeltest::documentWith;
using modeltest::fileBytes;
using platform::AttributedString;

namespace {

TEST(RecoveryStoreTest, KeepsReplacesAndForgetsCopiesByTheirScripts) {
    testsupport::TempDir dir;
    const auto store = RecoveryStore::open(dir / "Recovery");
    ASSERT_TRUE(store);
    const RecoveryStore::Entry named{RecoveryStore::makeId(), "/home/me/talk.cwr", "talk.cwr"};
    const RecoveryStore::Entry untitled{RecoveryStore::makeId(), std::nullopt, "Untitled"};
    const RecoveryStore::Entry latin1{RecoveryStore::makeId(), "/home/me/r\xe9sum\xe9.cwr",
                                      "r\xe9sum\xe9.cwr"};

    RecoveryStore::open(dir / "Other")->write(latin1, documentWith("a name that is not UTF-8"), {});
    EXPECT_EQ(RecoveryStore::open(dir / "Other")->entries(), std::vector{latin1})
        << "read back byte for byte";
    store->write(named, documentWith("first draft"), {});
    // Named in the index before it is on disk: else a kill between the two leaves a copy that the
    // next start removes as a leftover.
    bool indexedFirst = false;
    cw::ScriptDocumentFile::SaveOptions options;
    options.beforeReplace = [&](const fs::path&) {
        indexedFirst =
            fileBytes(dir / "Recovery" / std::string(RecoveryStore::indexName)).find(untitled.id) !=
            std::string::npos;
        return true;
    };
    store->write(untitled, documentWith("no file yet"), {}, options);
    EXPECT_TRUE(indexedFirst);
    store->write(named, documentWith("second draft"), {});
    EXPECT_EQ(store->entries(), (std::vector{named, untitled}));
    EXPECT_EQ(store->read(named, platform::Defaults::standard()).text.string(), "second draft");
    EXPECT_EQ(store->read(untitled, platform::Defaults::standard()).text.string(), "no file yet");

    store->remove(named.id);
    store->remove("never-kept");
    EXPECT_EQ(store->entries(), std::vector{untitled});
    EXPECT_FALSE(fs::exists(store->copyPath(named.id)));
}

// Every file under `folder` with its bytes, links as where they point.
std::map<std::string, std::string> contents(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        const std::string name = fs::relative(item.path(), folder).string();
        files[name] = item.is_symlink()        ? "-> " + fs::read_symlink(item.path()).string()
                      : item.is_regular_file() ? fileBytes(item.path())
                                               : "folder";
    }
    return files;
}

// A Recovery folder that is a link (to the user's documents, say) is refused whole; in a real
// folder, a copy's name given to a link is neither listed nor followed, and the file behind it
// is left alone, and a file not named as our copies are is not taken for one.
TEST(RecoveryStoreTest, NothingIsReadOrRemovedThroughALink) {
    testsupport::TempDir dir;
    fs::create_directories(dir / "Documents");
    std::ofstream(dir / "Documents" / "talk.cwr") << "the user's script";
    std::ofstream(dir / "Documents" / "notes.txt") << "notes";
    std::ofstream(dir / "Documents" / (RecoveryStore::makeId() + ".cwr")) << "named like a copy";
    std::ofstream(dir / "Documents" / std::string(RecoveryStore::indexName)) << "{ damaged";
    const auto before = contents(dir / "Documents");
    fs::create_directory_symlink(dir / "Documents", dir / "Recovery");

    std::string whyNot;
    EXPECT_FALSE(RecoveryStore::open(dir / "Recovery", &whyNot));
    EXPECT_NE(whyNot.find("symbolic link"), std::string::npos) << whyNot;
    EXPECT_EQ(contents(dir / "Documents"), before);

    fs::remove(dir / "Recovery");
    fs::create_directory(dir / "Recovery");
    fs::create_symlink(dir / "Documents" / "talk.cwr", dir / "Recovery" / (RecoveryStore::makeId() + ".cwr"));
    // Nor is a file named as no copy of ours is, a script of the user's say.
    fs::copy_file(dir / "Documents" / "talk.cwr", dir / "Recovery" / "talk.cwr");
    const auto store = RecoveryStore::open(dir / "Recovery");
    ASSERT_TRUE(store);
    EXPECT_TRUE(store->entries().empty());
    EXPECT_EQ(contents(dir / "Documents"), before);
    EXPECT_EQ(fileBytes(dir / "Recovery" / "talk.cwr"), "the user's script");
}

// A Recovery folder, or the folder above it, of another user's or that others may write in is
// refused as a link is: nothing in it is read, written or removed, and the reason names it.
TEST(RecoveryStoreTest, AFolderOfAnotherUsersOrOpenToOthersIsRefused) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to give folders to another user";
    }
    constexpr uid_t otherUser = 65534;
    const struct {
        const char* what;
        uid_t parentOwner;
        mode_t parentMode;
        uid_t owner;
        gid_t group;
        mode_t mode;
        const char* reason;
    } cases[] = {
        {"another's, open to all", otherUser, 0777, otherUser, otherUser, 0777, "belongs to another user"},
        {"another's Recovery", 0, 0700, otherUser, otherUser, 0700, "belongs to another user"},
        {"own Recovery open to all", 0, 0700, 0, 0, 0777, "other users may write in"},
        {"own Recovery open to a shared group", 0, 0700, 0, 100, 0770, "other users may write in"},
        {"under a folder open to all", 0, 0777, 0, 0, 0700, "other users may write in"},
        {"under another's folder", otherUser, 0755, 0, 0, 0700, "belongs to another user"},
    };
    for (const auto& c : cases) {
        testsupport::TempDir dir;
        const fs::path parent = dir / "Cuewright";
        const fs::path folder = parent / "Recovery";
        fs::create_directories(folder);
        const RecoveryStore::Entry planted{RecoveryStore::makeId(), "/home/ann/talk.cwr", "talk.cwr"};
        RecoveryStore::open(folder)->write(planted, documentWith("planted by another user"), {});
        ASSERT_EQ(::chown(folder.c_str(), c.owner, c.group), 0);
        ASSERT_EQ(::chmod(folder.c_str(), c.mode), 0);
        ASSERT_EQ(::chown(parent.c_str(), c.parentOwner, c.parentOwner), 0);
        ASSERT_EQ(::chmod(parent.c_str(), c.parentMode), 0);
        const auto before = contents(folder);

        std::string whyNot;
        EXPECT_FALSE(RecoveryStore::open(folder, &whyNot)) << c.what;
        EXPECT_NE(whyNot.find(c.reason), std::string::npos) << c.what << ": " << whyNot;
        EXPECT_EQ(contents(folder), before) << c.what;
        struct stat status {};
        ASSERT_EQ(::stat(folder.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, c.mode) << c.what;
    }
}

// Whatever became of the index, no copy is lost: each comes back named as its script was, and a
// name left without its copy (a kill between removing the two) is dropped.
TEST(RecoveryStoreTest, ADamagedOrLostIndexIsMadeAgainFromTheCopies) {
    const std::vector<std::pair<const char*, std::function<void(const fs::path&)>>> damages = {
        {"not JSON", [](const fs::path& index) { std::ofstream(index) << "{\"scripts\": [{\"id\""; }},
        {"empty", [](const fs::path& index) { std::ofstream{index}; }},
        {"no list", [](const fs::path& index) { std::ofstream(index) << "{\"scripts\": 3}"; }},
        {"gone", [](const fs::path& index) { fs::remove(index); }},
        {"one name lost",
         [](const fs::path& index) {
             std::string json = fileBytes(index);
             json.erase(json.find("{", json.find("[")), json.find("}") - json.find("{", json.find("[")) + 2);
             std::ofstream(index) << json;
         }},
    };
    for (const auto& [name, damage] : damages) {
        testsupport::TempDir dir;
        const RecoveryStore::Entry named{RecoveryStore::makeId(), (dir / "talk.cwr").string(), "talk.cwr"};
        const RecoveryStore::Entry untitled{RecoveryStore::makeId(), std::nullopt, "Untitled"};
        const RecoveryStore::Entry discarded{RecoveryStore::makeId(), std::nullopt, "Untitled"};
        {
            const auto store = RecoveryStore::open(dir / "Recovery");
            store->write(named, documentWith("edited talk"), {});
            store->write(untitled, documentWith("no file yet"), {});
            store->write(discarded, documentWith("discarded"), {});
            fs::remove(store->copyPath(discarded.id));
            damage(dir / "Recovery" / std::string(RecoveryStore::indexName));
        }
        const auto store = RecoveryStore::open(dir / "Recovery");
        ASSERT_TRUE(store) << name;
        EXPECT_THAT(store->entries(), testing::UnorderedElementsAre(named, untitled)) << name;
        EXPECT_EQ(store->read(named, platform::Defaults::standard()).text.string(), "edited talk") << name;
        EXPECT_EQ(store->read(untitled, platform::Defaults::standard()).text.string(), "no file yet") << name;
        // The index written again names them for the next start too.
        EXPECT_NE(fileBytes(dir / "Recovery" / std::string(RecoveryStore::indexName)).find(named.id),
                  std::string::npos)
            << name;
    }
}

// The copies' file system turns read-only under a running store (mounted over read-only): the
// copy's mode cannot change, so its mark goes to the second folder, where the next start reads it.
TEST(RecoveryStoreTest, ACopyOnAFileSystemTurnedReadOnlyIsStillMarkedOlder) {
    testsupport::TempDir dir;
    const fs::path folder = dir / "Recovery";
    const RecoveryStore::Entry entry{RecoveryStore::makeId(), std::nullopt, "Untitled"};
    const pid_t child = ::fork();
    if (child == 0) {
        auto store = RecoveryStore::open(folder);
        store->setSecondMarkFolder(dir / "marks");
        store->write(entry, documentWith("kept"), {});
        const bool mounted =
            ::unshare(CLONE_NEWNS) == 0 &&
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
            ::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
            ::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
        store->markOlderThanEdits(entry.id); // an edit
        ::_exit(mounted ? 0 : 2);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    if (WEXITSTATUS(status) == 2) {
        GTEST_SKIP() << "cannot mount here";
    }
    auto store = RecoveryStore::open(folder);
    EXPECT_FALSE(store->isOlderThanEdits(entry.id)) << "the copy itself could carry no mark";
    store->setSecondMarkFolder(dir / "marks");
    EXPECT_TRUE(store->isOlderThanEdits(entry.id));
    store->write(entry, documentWith("kept again"), {});
    EXPECT_FALSE(store->isOlderThanEdits(entry.id)) << "a new copy leaves no mark behind";
}

// A second process keeps its copies in a folder of its own; once it has ended, the next store
// opened there takes them over, and an empty private folder goes with its process.
TEST(RecoveryStoreTest, ASecondProcessKeepsPrivateCopiesThatTheNextStartTakesOver) {
    testsupport::TempDir dir;
    const RecoveryStore::Entry entry{RecoveryStore::makeId(), std::nullopt, "Untitled"};
    auto first = RecoveryStore::open(dir / "Recovery");
    ASSERT_TRUE(first);
    EXPECT_FALSE(first->isPrivate());
    auto second = RecoveryStore::open(dir / "Recovery");
    ASSERT_TRUE(second);
    EXPECT_TRUE(second->isPrivate());
    EXPECT_EQ(second->folder().parent_path(), dir / "Recovery");
    second->write(entry, documentWith("typed in the second"), {});
    EXPECT_TRUE(RecoveryStore::open(dir / "Recovery")->entries().empty()) << "not while it runs";
    second.reset(); // killed
    first.reset();

    const auto next = RecoveryStore::open(dir / "Recovery");
    ASSERT_EQ(next->entries(), std::vector{entry});
    EXPECT_EQ(next->read(entry, platform::Defaults::standard()).text.string(), "typed in the second");
    std::set<std::string> files;
    for (const auto& item : fs::directory_iterator(dir / "Recovery")) {
        files.insert(item.path().filename().string());
    }
    EXPECT_EQ(files,
              (std::set<std::string>{".lock", std::string(RecoveryStore::indexName), entry.id + ".cwr"}));
}

// Scheduled writes wait here until the test runs them.
class ScriptRecoveryTest : public ProjectTest {
protected:
    ScriptRecoveryTest() { recovery = makeRecovery(); }

    std::unique_ptr<ScriptRecovery> makeRecovery() {
        auto store = RecoveryStore::open(folder());
        EXPECT_TRUE(store);
        return std::make_unique<ScriptRecovery>(
            std::move(store), defaults, [this](std::chrono::milliseconds delay, std::function<void()> fire) {
                delays.push_back(delay);
                scheduled.push_back(std::move(fire));
            });
    }
    fs::path folder() const { return dir / "Recovery"; }
    void runScheduled() {
        auto due = std::exchange(scheduled, {});
        for (auto& fire : due) {
            fire();
        }
    }
    std::vector<QString> keptTexts() {
        recovery->flush();
        std::vector<QString> texts;
        for (const auto& entry : recovery->store().entries()) {
            texts.push_back(recovery->store().read(entry, defaults).text.string());
        }
        return texts;
    }

    std::unique_ptr<ScriptRecovery> recovery;
    std::vector<std::chrono::milliseconds> delays;
    std::vector<std::function<void()>> scheduled;
};

// Edits are kept one interval after the first of them however long typing goes on, or at once
// when asked (the process ending), and only when there are any.
TEST_F(ScriptRecoveryTest, EditsAreKeptOneIntervalAfterTheFirstOfThemOrAtOnceWhenAsked) {
    recovery->follow(project);
    recovery->writeNow(*project);
    EXPECT_TRUE(keptTexts().empty()) << "nothing unsaved, nothing kept";
    project->setText(AttributedString("a"));
    project->setText(AttributedString("ab"));
    EXPECT_EQ(scheduled.size(), 1u) << "later edits ride along with the write already due";
    EXPECT_EQ(delays, std::vector{ScriptRecovery::defaultInterval});
    EXPECT_TRUE(keptTexts().empty());

    runScheduled();
    EXPECT_EQ(keptTexts(), std::vector<QString>{"ab"});
    const auto older = [&] {
        return recovery->store().isOlderThanEdits(recovery->store().entries().at(0).id);
    };
    EXPECT_FALSE(older());
    project->setText(AttributedString("abc"));
    EXPECT_TRUE((recovery->flush(), older())) << "an end now would bring back less than the edits, unsaid";
    runScheduled();
    EXPECT_EQ(keptTexts(), std::vector<QString>{"abc"});
    EXPECT_FALSE(older());
    project->setText(AttributedString("typed just before the end"));
    recovery->writeNow(*project);
    EXPECT_EQ(keptTexts(), std::vector<QString>{"typed just before the end"});
    EXPECT_FALSE(recovery->isWriteDue(*project));

    // An edit handed over as a write gathers the bookmarks is in the copy; the next marks it older.
    struct Editor : cw::ProjectEventListener {
        void projectWillGatherBookmarks(cw::Project& p) override { p.setText(AttributedString("held")); }
    };
    const auto editor = std::make_shared<Editor>();
    project->registerEventListener(editor);
    runScheduled(); // the write from before the last one, due no more
    project->setText(AttributedString("typed on"));
    runScheduled();
    EXPECT_EQ(keptTexts(), std::vector<QString>{"held"});
    project->setText(AttributedString("typed on and on"));
    EXPECT_TRUE((recovery->flush(), older()));
}

TEST_F(ScriptRecoveryTest, SavingOrDiscardingRemovesTheCopyUnlessTheProcessIsEnding) {
    struct Case {
        const char* name;
        std::function<void(ScriptRecovery&, cw::Project&)> end;
        bool kept;
    };
    const std::vector<Case> cases = {
        {"saved", [this](ScriptRecovery&, cw::Project& p) { p.save((dir / "saved.cwr").string()); }, false},
        {"closed unsaved", [](ScriptRecovery& r, cw::Project& p) { r.forget(p); }, false},
        {"taken back to the saved text",
         [](ScriptRecovery&, cw::Project& p) { p.setText(AttributedString()); }, false},
        {"ending",
         [](ScriptRecovery& r, cw::Project& p) {
             r.preserve();
             r.forget(p);
         },
         true},
    };
    for (const Case& c : cases) {
        recovery.reset();
        fs::remove_all(folder());
        recovery = makeRecovery();
        auto script = cw::Project::create(defaults);
        recovery->follow(script);
        script->setText(AttributedString(c.name));
        runScheduled();
        ASSERT_EQ(keptTexts().size(), 1u) << c.name;
        c.end(*recovery, *script);
        EXPECT_EQ(keptTexts().size(), c.kept ? 1u : 0u) << c.name;
    }
}

// The window's notice hangs on this: each script whose copy fails is told, by its name and
// without the copy's path, until its copy is written again or its script saved, whatever the
// copies of other scripts do.
TEST_F(ScriptRecoveryTest, EachFailingCopyIsToldUntilItIsWrittenAgainOrItsScriptSaved) {
    std::vector<ScriptRecovery::Problem> told;
    recovery->setProblemHandler([&](const ScriptRecovery::Problem& problem) { told.push_back(problem); });
    auto big = project;
    auto small = cw::Project::create(defaults);
    big->save((dir / "big.cwr").string());
    small->save((dir / "small.cwr").string());
    recovery->follow(big);
    recovery->follow(small);
    const auto edit = [&](const std::shared_ptr<cw::Project>& script, const char* text) {
        script->setText(AttributedString(text));
        runScheduled();
        recovery->flush();
        QCoreApplication::sendPostedEvents(nullptr, 0);
    };
    edit(big, "big");
    edit(small, "small");
    std::map<std::string, fs::path> copyOf;
    for (const auto& entry : recovery->store().entries()) {
        copyOf[entry.name] = recovery->store().copyPath(entry.id);
    }
    // A folder where a script's copy goes: that copy alone cannot be written.
    const auto block = [&](const std::string& name) {
        fs::remove(copyOf[name]);
        fs::create_directories(copyOf[name] / "in the way");
    };
    using Scripts = std::vector<std::string>;
    const struct {
        std::function<void()> step;
        Scripts failing;
    } steps[] = {
        {[&] { block("big.cwr"), edit(big, "big, edited"); }, {"big.cwr"}},
        {[&] { edit(small, "small, edited"); }, {"big.cwr"}},
        {[&] { block("small.cwr"), edit(small, "small, edited again"); }, {"big.cwr", "small.cwr"}},
        {[&] { fs::remove_all(copyOf["big.cwr"]), edit(big, "big, edited again"); }, {"small.cwr"}},
        {[&] { small->save((dir / "small.cwr").string()), edit(big, "big, once more"); }, {}},
    };
    for (const auto& s : steps) {
        const std::size_t before = told.size();
        s.step();
        ASSERT_FALSE(told.empty());
        EXPECT_EQ(told.back().scripts, s.failing);
        EXPECT_LE(told.size(), before + 1) << "told more than once";
        EXPECT_EQ(recovery->keepsEdits(*big),
                  std::find(s.failing.begin(), s.failing.end(), "big.cwr") == s.failing.end());
        if (!s.failing.empty()) {
            EXPECT_FALSE(told.back().reason.empty());
            EXPECT_EQ(told.back().reason.find(folder().string()), std::string::npos) << told.back().reason;
        }
    }
    EXPECT_EQ(keptTexts(), std::vector<QString>{"big, once more"});
    small->pause();
}

TEST_F(ScriptRecoveryTest, TheNextStartBringsTheEditsBackUnderTheirScriptsLeavingTheirFilesAlone) {
    const fs::path own = dir / "talk.cwr";
    project->setText(AttributedString("as saved"));
    project->save(own.string());
    const std::string savedBytes = fileBytes(own);
    recovery->follow(project);
    project->setText(AttributedString("as saved, then edited"));
    auto untitled = cw::Project::create(defaults);
    recovery->follow(untitled);
    untitled->setText(AttributedString("never saved"));
    runScheduled();
    recovery->preserve();
    recovery.reset(); // the process ends

    recovery = makeRecovery();
    const auto restored = recovery->restore([this] { return cw::Project::create(defaults); });
    ASSERT_EQ(restored.size(), 2u);
    EXPECT_EQ(restored[0]->document().text.string(), "as saved, then edited");
    EXPECT_EQ(restored[0]->representedPath(), own.string());
    EXPECT_EQ(restored[1]->document().text.string(), "never saved");
    EXPECT_EQ(restored[1]->representedPath(), std::nullopt);
    for (const auto& script : restored) {
        EXPECT_TRUE(script->hasUnsavedChanges());
    }
    EXPECT_EQ(fileBytes(own), savedBytes);

    // The file changed since the edits began (another window saved it): the first save asks.
    const auto other = cw::Project::create(defaults);
    other->setText(AttributedString("saved by another window"));
    other->save(own.string());
    other->pause();
    EXPECT_THROW(restored[0]->save(*restored[0]->representedPath()),
                 cw::ScriptDocumentFile::ChangedOnDiskError);
    EXPECT_EQ(cw::ScriptDocumentFile::open(own, defaults).text.string(), "saved by another window");

    // Saving anyway puts the edits in the script's own file and the copy goes.
    restored[0]->save(*restored[0]->representedPath(), cw::Project::ChangedOnDisk::overwrite);
    EXPECT_EQ(cw::ScriptDocumentFile::open(own, defaults).text.string(), "as saved, then edited");
    EXPECT_EQ(keptTexts(), std::vector<QString>{"never saved"});
    for (const auto& script : restored) {
        script->pause();
    }
    untitled->pause();
}

// Two instances edited one file, then ended: the first copy comes back bound to the file, the
// other named after it and bound to nothing, also at the start after. A working file that a
// killed save left beside the script goes; a copy that cannot be read is named.
TEST_F(ScriptRecoveryTest, OneFileComesBackToOneScriptAndAnUnreadableCopyIsNamed) {
    const fs::path own = dir / "talk.cwr";
    project->setText(AttributedString("as saved"));
    project->save(own.string());
    const std::string savedBytes = fileBytes(own);
    auto other = cw::Project::create(defaults);
    other->loadDocument(own.string());
    auto broken = cw::Project::create(defaults);
    broken->save((dir / "broken.cwr").string());
    const std::pair<std::shared_ptr<cw::Project>, const char*> edits[] = {
        {project, "edited here"}, {other, "edited in another instance"}, {broken, "never to be read"}};
    for (const auto& [script, text] : edits) {
        recovery->follow(script);
        script->setText(AttributedString(text));
    }
    runScheduled();
    recovery->flush();
    for (const auto& entry : recovery->store().entries()) {
        if (entry.name == "broken.cwr") {
            std::ofstream(recovery->store().copyPath(entry.id), std::ios::trunc) << "not a script";
        }
    }
    recovery->preserve();
    recovery.reset();
    const pid_t killed = ::fork();
    if (killed == 0) {
        ::_exit(0);
    }
    ::waitpid(killed, nullptr, 0);
    const fs::path working = dir / (".cw-" + std::to_string(killed) + "-aB3xY9");
    std::ofstream(working) << "half a save";

    for (int start = 0; start < 2; ++start) {
        recovery = makeRecovery();
        std::vector<RecoveryStore::Entry> unreadable;
        const auto restored =
            recovery->restore([this] { return cw::Project::create(defaults); }, &unreadable);
        ASSERT_EQ(restored.size(), 2u);
        EXPECT_EQ(restored[0]->representedPath(), own.string());
        EXPECT_EQ(restored[0]->document().text.string(), "edited here");
        EXPECT_EQ(restored[1]->representedPath(), std::nullopt) << "two scripts on one file";
        EXPECT_EQ(restored[1]->untitledName(), "talk (copy).cwr");
        EXPECT_EQ(restored[1]->document().text.string(), "edited in another instance");
        ASSERT_EQ(unreadable.size(), 1u);
        EXPECT_EQ(unreadable[0].name, "broken.cwr");
        EXPECT_EQ(restored[1]->proposedPath(), (dir / "talk (copy).cwr").string());
        EXPECT_FALSE(fs::exists(working)) << "the killed save's working file stayed";
        EXPECT_EQ(fileBytes(own), savedBytes);
        runScheduled();
        for (const auto& script : restored) {
            script->setText(AttributedString(script->document().text.string() + "."));
            script->setText(AttributedString(script->document().text.string().chopped(1)));
            script->pause();
        }
        runScheduled(); // the copies are written again, under the names they came back with
        recovery->preserve();
        recovery.reset();
    }
    for (const auto& [script, text] : edits) {
        script->pause();
    }
}

} // namespace

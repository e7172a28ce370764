// Recovery copies of unsaved edits: the store's folder, index and lock, and when the copies of
// open scripts are written, kept and removed.
#include "ProjectTestSupport.h"

#include "cuewright/model/RecoveryStore.h"
#include "cuewright/model/ScriptDocumentFile.h"
#include "cuewright/model/ScriptRecovery.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <utility>

using namespace projecttest;
namespace fs = std::filesystem;
using cw::RecoveryStore;
using cw::ScriptRecovery;
using platform::AttributedString;

namespace {

std::string fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

cw::Document documentWith(const QString& text) {
    cw::Document document;
    document.text = AttributedString(text);
    return document;
}

TEST(RecoveryStoreTest, KeepsReplacesAndForgetsCopiesByTheirScripts) {
    testsupport::TempDir dir;
    const auto store = RecoveryStore::open(dir / "Recovery");
    ASSERT_TRUE(store);
    const RecoveryStore::Entry named{RecoveryStore::makeId(), "/home/me/talk.cwr", "talk.cwr"};
    const RecoveryStore::Entry untitled{RecoveryStore::makeId(), std::nullopt, "Untitled"};

    store->write(named, documentWith("first draft"), {});
    store->write(untitled, documentWith("no file yet"), {});
    store->write(named, documentWith("second draft"), {});
    EXPECT_EQ(store->entries(), (std::vector{named, untitled}));
    EXPECT_EQ(store->read(named, platform::Defaults::standard()).text.string(), "second draft");
    EXPECT_EQ(store->read(untitled, platform::Defaults::standard()).text.string(), "no file yet");

    store->remove(named.id);
    store->remove("never-kept");
    EXPECT_EQ(store->entries(), std::vector{untitled});
    EXPECT_FALSE(fs::exists(store->copyPath(named.id)));
}

TEST(RecoveryStoreTest, ACopyIsNamedInTheIndexBeforeItIsOnDisk) {
    // Else a kill between the two leaves a copy that the next start removes as a leftover.
    testsupport::TempDir dir;
    const auto store = RecoveryStore::open(dir / "Recovery");
    const RecoveryStore::Entry entry{RecoveryStore::makeId(), std::nullopt, "Untitled"};
    bool named = false;
    cw::ScriptDocumentFile::SaveOptions options;
    options.beforeReplace = [&](const fs::path&) {
        named = fileBytes(dir / "Recovery" / std::string(RecoveryStore::indexName)).find(entry.id) !=
                std::string::npos;
        return true;
    };
    store->write(entry, documentWith("typed"), {}, options);
    EXPECT_TRUE(named);
}

TEST(RecoveryStoreTest, OneProcessHoldsTheFolderUntilItLetsGo) {
    testsupport::TempDir dir;
    auto first = RecoveryStore::open(dir / "Recovery");
    ASSERT_TRUE(first);
    EXPECT_FALSE(RecoveryStore::open(dir / "Recovery"));
    first.reset();
    EXPECT_TRUE(RecoveryStore::open(dir / "Recovery"));
}

TEST(RecoveryStoreTest, OpeningClearsWhatTheIndexDoesNotNameAndListsOnlyCopiesThatExist) {
    testsupport::TempDir dir;
    const RecoveryStore::Entry kept{RecoveryStore::makeId(), std::nullopt, "Untitled"};
    const RecoveryStore::Entry lost{RecoveryStore::makeId(), std::nullopt, "Untitled"};
    {
        const auto store = RecoveryStore::open(dir / "Recovery");
        store->write(kept, documentWith("kept"), {});
        store->write(lost, documentWith("lost"), {});
        fs::remove(store->copyPath(lost.id));
        // What a write killed half-way leaves behind.
        std::ofstream(dir / "Recovery" / ".cw-abc123") << "partial";
        std::ofstream(dir / "Recovery" / (RecoveryStore::makeId() + ".cwr")) << "unnamed";
    }
    const auto store = RecoveryStore::open(dir / "Recovery");
    EXPECT_EQ(store->entries(), std::vector{kept});
    std::set<std::string> files;
    for (const auto& item : fs::directory_iterator(dir / "Recovery")) {
        files.insert(item.path().filename().string());
    }
    EXPECT_EQ(files,
              (std::set<std::string>{".lock", std::string(RecoveryStore::indexName), kept.id + ".cwr"}));
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

TEST_F(ScriptRecoveryTest, EditsAreKeptOneIntervalAfterTheFirstOfThemHowEverLongTypingGoesOn) {
    recovery->follow(project);
    project->setText(AttributedString("a"));
    project->setText(AttributedString("ab"));
    EXPECT_EQ(scheduled.size(), 1u) << "later edits ride along with the write already due";
    EXPECT_EQ(delays, std::vector{ScriptRecovery::defaultInterval});
    EXPECT_TRUE(keptTexts().empty());

    runScheduled();
    EXPECT_EQ(keptTexts(), std::vector<QString>{"ab"});
    project->setText(AttributedString("abc"));
    runScheduled();
    EXPECT_EQ(keptTexts(), std::vector<QString>{"abc"});
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

TEST_F(ScriptRecoveryTest, WriteNowKeepsTheEditsAtOnceAndOnlyWhenThereAreAny) {
    recovery->follow(project);
    recovery->writeNow(*project);
    EXPECT_TRUE(keptTexts().empty()) << "nothing unsaved, nothing kept";
    project->setText(AttributedString("typed just before the end"));
    recovery->writeNow(*project);
    EXPECT_EQ(keptTexts(), std::vector<QString>{"typed just before the end"});
    EXPECT_FALSE(recovery->isWriteDue(*project));
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

    // Saving puts the edits in the script's own file and the copy goes.
    restored[0]->save(*restored[0]->representedPath());
    EXPECT_EQ(cw::ScriptDocumentFile::open(own, defaults).text.string(), "as saved, then edited");
    EXPECT_EQ(keptTexts(), std::vector<QString>{"never saved"});
    for (const auto& script : restored) {
        script->pause();
    }
    untitled->pause();
}

} // namespace

// Limits of the system a writer meets: a file-size limit (ulimit -f) and paths longer than
// SQLite's own limit on names.
#include "ModelTestFiles.h"

#include "base/AtomicFile.h"
#include "cuewright/model/RecoveryStore.h"
#include "cuewright/model/ScriptDocumentFile.h"
#include "cuewright/model/ScriptExporter.h"
#include "platform/defaults/Defaults.h"
#include "sql/Connection.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QScopeGuard>

#include <csignal>
#include <functional>
#include <random>

#include <sys/resource.h>

namespace fs = std::filesystem;
namespace ScriptExporter = cw::ScriptExporter;
using modeltest::documentWith;
using modeltest::fileBytes;
using modeltest::writeBytes;

namespace {

// Letters at random: even zipped (a Word export) it stays larger than the limit below.
QString randomWords(int size) {
    std::mt19937 random(7);
    QString text;
    while (text.size() < size) {
        text += random() % 6 == 0 ? QChar(u' ') : QChar(u'a' + char16_t(random() % 26));
    }
    return text;
}

// The process's file-size limit lowered for the life of the object, and SIGXFSZ ignored as the
// application ignores it, so that a write past the limit fails instead of ending the process.
struct FileSizeLimit {
    explicit FileSizeLimit(rlim_t bytes)
        : handler(std::signal(SIGXFSZ, SIG_IGN)) {
        ::getrlimit(RLIMIT_FSIZE, &previous);
        const rlimit lowered{bytes, previous.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, handler);
    }
    rlimit previous{};
    void (*handler)(int);
};

// A working file a writer left anywhere under `folder`, or nothing.
std::string workingFileUnder(const fs::path& folder) {
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        if (item.path().filename().string().starts_with(base::defaultTemporaryStem)) {
            return item.path().string();
        }
    }
    return {};
}

// Every writer stopped by `ulimit -f 200`: the user is told so in plain words, the file stays as
// it was, and no working file is left beside it.
TEST(FileLimits, AWritePastTheFileSizeLimitIsToldAndLeavesTheFileAsItWas) {
    const QString text = randomWords(600000);
    const platform::AttributedString attributed(text);
    const platform::Color black = platform::Color::black();
    const struct {
        const char* what;
        std::function<void(const fs::path& destination)> write;
    } writers[] = {
        {"script", [&](const fs::path& to) { cw::ScriptDocumentFile::save(to, documentWith(text), {}); }},
        {"recovery copy",
         [&](const fs::path& file) {
             const auto store = cw::RecoveryStore::open(file.parent_path() / "Recovery");
             ASSERT_TRUE(store);
             const cw::RecoveryStore::Entry entry{"0a1b", std::nullopt, "Untitled"};
             store->write(entry, documentWith("the copy as it was"), {});
             const std::string earlier = fileBytes(store->copyPath(entry.id));
             const auto kept = qScopeGuard([&] {
                 EXPECT_TRUE(fileBytes(store->copyPath(entry.id)) == earlier) << "the earlier copy changed";
             });
             store->write(entry, documentWith(text), {});
         }},
        {"plain text export", [&](const fs::path& to) { ScriptExporter::exportPlainText(to, attributed); }},
        {"RTF export", [&](const fs::path& to) { ScriptExporter::exportRTF(to, attributed, black); }},
        {"Word export", [&](const fs::path& to) { ScriptExporter::exportDOCX(to, attributed, black); }},
    };
    for (const auto& writer : writers) {
        testsupport::TempDir dir;
        const fs::path file = dir / "talk";
        writeBytes(file, "the file as it was");
        try {
            const FileSizeLimit limit(200 * 1024);
            writer.write(file);
            ADD_FAILURE() << writer.what << " written past the limit";
        } catch (const base::FileWriteError& error) {
            EXPECT_EQ(error.reason(), "the file is larger than this system allows") << writer.what;
        }
        EXPECT_EQ(fileBytes(file), "the file as it was") << writer.what << " changed the file";
        EXPECT_EQ(workingFileUnder(dir.path()), "") << writer.what;
    }

    // The settings keep what was saved before and go on in memory.
    testsupport::TempDir dir;
    platform::Defaults defaults({dir / "defaults.json", std::chrono::hours(1), {}});
    defaults.set("kept", true);
    ASSERT_TRUE(defaults.synchronize());
    const std::string before = fileBytes(dir / "defaults.json");
    const FileSizeLimit limit(200 * 1024);
    for (int key = 0; key < 100; ++key) { // each setting is held to 4 KiB
        defaults.set("long " + std::to_string(key), text.mid(key * 4000, 4000).toStdString());
    }
    EXPECT_FALSE(defaults.synchronize());
    EXPECT_TRUE(fileBytes(dir / "defaults.json") == before) << "the settings file changed";
}

// Scripts at paths longer than SQLite's own limit (512 bytes), up to near the system's (4,096):
// saved, opened, saved over, exported and kept as recovery copies; a database in WAL mode
// there, with its -wal and -shm files beside it, reads too.
TEST(FileLimits, AScriptInADeepFolderSavesAndOpens) {
    for (const std::size_t length : {700u, 3900u}) {
        testsupport::TempDir dir;
        fs::path folder = dir.path();
        while (folder.string().size() + 200 < length) {
            folder /= std::string(180, 'd');
        }
        fs::create_directories(folder);
        const fs::path script = folder / "talk.cwr";
        ASSERT_GT(script.string().size(), 512u);
        for (const char* words : {"the first draft", "the second draft"}) {
            cw::ScriptDocumentFile::save(script, documentWith(words), {});
            EXPECT_EQ(cw::ScriptDocumentFile::open(script).text.string(), words) << length;
        }
        ScriptExporter::exportPlainText(folder / "talk.txt", platform::AttributedString("exported"));
        EXPECT_EQ(fileBytes(folder / "talk.txt"), "exported");
        const auto store = cw::RecoveryStore::open(folder / "Recovery");
        ASSERT_TRUE(store) << length;
        const cw::RecoveryStore::Entry entry{"0a1b", script.string(), "talk.cwr"};
        store->write(entry, documentWith("unsaved words"), {});
        EXPECT_EQ(store->read(entry, platform::Defaults::standard()).text.string(), "unsaved words");
        EXPECT_EQ(workingFileUnder(folder), "") << length;

        const fs::path logged = folder / "logged.db";
        const auto writer = sql::Connection::open(logged.string());
        writer->execute("PRAGMA journal_mode = WAL; CREATE TABLE t (x); INSERT INTO t VALUES (42);");
        const auto reader = sql::Connection::open(logged.string(), sql::Connection::Access::readOnly);
        const std::optional<sql::Binding> value = reader->scalar("SELECT x FROM t");
        ASSERT_TRUE(value && std::holds_alternative<std::int64_t>(*value)) << length;
        EXPECT_EQ(std::get<std::int64_t>(*value), 42);
        EXPECT_TRUE(fs::exists(folder / "logged.db-wal"));
    }
}

} // namespace

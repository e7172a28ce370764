// The display database: where it lives, how it is made, and one row per display.
#include "cuewright/model/ScreenDatabase.h"

#include "ScreenTestSupport.h"
#include "base/Log.h"
#include "cuewright/model/DatabaseError.h"
#include "sql/Connection.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include <pwd.h>
#include <unistd.h>

using cw::DatabaseError;
using cw::ScreenDatabase;
using cw::ScreenDescription;
using cw::TextAlignment;
using screentests::ScopedEnvironment;
using screentests::ScopedSupportFolder;
namespace fs = std::filesystem;

namespace {

ScreenDescription monitor(std::string uuid) {
    ScreenDescription s;
    s.name = "DELL U2720Q";
    s.nickname = "Studio left";
    s.resolutionWidth = 2560;
    s.resolutionHeight = 1440;
    s.displayUUID = std::move(uuid);
    s.flipH = true;
    s.flipV = false;
    s.showControls = false;
    s.showTimestamp = true;
    s.showProgress = false;
    s.textAlignment = TextAlignment::right;
    s.isActive = true;
    return s;
}

std::int64_t rowCount(sql::Connection& db) {
    return std::get<std::int64_t>(*db.scalar("SELECT count(*) FROM screens"));
}

// What the SQL layer says of a script that fails to run.
std::string sqlErrorOf(const std::string& script) {
    auto db = sql::Connection::open(sql::Location::inMemory());
    try {
        db->execute(script);
    } catch (const sql::Result& error) {
        return error.what();
    }
    return {};
}

class ScreenDatabaseFile : public ::testing::Test {
protected:
    ScopedSupportFolder support;
    std::string path = support.databasePath().string();
};

} // namespace

// ---- where the file lives

TEST_F(ScreenDatabaseFile, LivesInTheApplicationSupportFolderWhichIsMadeOnDemand) {
    EXPECT_FALSE(fs::exists(support.folder()));
    EXPECT_EQ(ScreenDatabase::path(), path);
    EXPECT_TRUE(fs::is_directory(support.folder()));
}

TEST_F(ScreenDatabaseFile, FollowsXdgDataHomeAndThenTheHomeFolder) {
    ScopedEnvironment own(std::string(cw::applicationSupportVariable), std::nullopt);
    {
        ScopedEnvironment xdg("XDG_DATA_HOME", (support.dir() / "xdg").string());
        EXPECT_EQ(ScreenDatabase::path(), (support.dir() / "xdg" / "Cuewright" / "screens.db").string());
    }
    ScopedEnvironment home("HOME", (support.dir() / "home").string());
    ScopedEnvironment relative("XDG_DATA_HOME", "relative/data");
    EXPECT_EQ(ScreenDatabase::path(),
              (support.dir() / "home" / ".local" / "share" / "Cuewright" / "screens.db").string());
}

// Without the support folder the file goes to a temporary folder of this user's own; a name
// another user could have made first in the shared one is never used.
TEST_F(ScreenDatabaseFile, FallsBackToAPrivateTemporaryFolderWhenTheFolderCannotBeMade) {
    std::ofstream(support.dir() / "a-file") << "not a folder";
    ScopedEnvironment blocked(std::string(cw::applicationSupportVariable),
                              (support.dir() / "a-file" / "Cuewright").string());
    ScopedEnvironment noRuntime("XDG_RUNTIME_DIR", std::nullopt);
    const fs::path shared = support.dir() / "tmp";
    fs::create_directories(shared);
    fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
    ScopedEnvironment tmp("TMPDIR", shared.string());
    const fs::path own = shared / ("cuewright-" + std::to_string(::geteuid()));
    const std::string ownFile = (own / "cuewright_screens.db").string();

    EXPECT_EQ(ScreenDatabase::path(), ownFile);
    EXPECT_EQ(fs::status(own).permissions(), fs::perms::owner_all) << "made closed to others";

    // Planted before us: a link to an open folder, an open folder, and (as root) a folder of
    // another user holding a database. None is used; nothing is read from them.
    const fs::path open = support.dir() / "open";
    fs::create_directories(open);
    fs::permissions(open, fs::perms::all);
    struct Plant {
        const char* name;
        std::function<bool()> make;
    };
    const passwd* nobody = ::getpwnam("nobody");
    const Plant plants[] = {
        {"a link", [&] { return fs::create_directory_symlink(open, own), true; }},
        {"an open folder",
         [&] { return fs::create_directory(own) && (fs::permissions(own, fs::perms::all), true); }},
        {"another user's folder",
         [&] {
             if (::geteuid() != 0 || nobody == nullptr)
                 return false;
             fs::create_directory(own);
             fs::permissions(own, fs::perms::owner_all);
             auto planted = ScreenDatabase::create(ownFile, ScreenDatabase::schemaText());
             ScreenDescription screen;
             screen.displayUUID = "PLANTED";
             ScreenDatabase(planted).save(screen);
             planted.reset();
             return ::chown(own.c_str(), nobody->pw_uid, nobody->pw_gid) == 0 &&
                    ::chown(ownFile.c_str(), nobody->pw_uid, nobody->pw_gid) == 0;
         }},
    };
    for (const Plant& plant : plants) {
        fs::remove_all(own);
        if (!plant.make()) {
            continue; // needs root
        }
        SCOPED_TRACE(plant.name);
        const std::string path = ScreenDatabase::path();
        EXPECT_EQ(path, "");
        ScreenDatabase database(ScreenDatabase::create(path, ScreenDatabase::schemaText()));
        EXPECT_EQ(database.load("PLANTED"), std::nullopt);
    }
    fs::remove_all(own);
}

// ---- making the file

TEST_F(ScreenDatabaseFile, CreateMakesTheTableWithTheStoredColumns) {
    auto db = ScreenDatabase::create();
    ASSERT_TRUE(fs::exists(path));
    std::vector<std::string> names;
    for (const auto& row : db->prepareRowIterator("SELECT name FROM pragma_table_info('screens')")) {
        names.push_back(std::get<std::string>(*row.values[0]));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"display_uuid", "name", "flip_h", "flip_v", "show_controls",
                                               "show_timestamp", "show_progress", "text_alignment"}));
}

// A missing or failing schema leaves no file, so the next save starts afresh.
TEST_F(ScreenDatabaseFile, ASchemaThatIsMissingOrFailsIsReportedAndLeavesNoFile) {
    const std::string broken = "CREATE TABLE screens (display_uuid TEXT NOT NULL,;";
    const std::pair<std::optional<std::string>, std::string> cases[] = {
        {std::nullopt, "Schema file not found or damaged. Please re-install Cuewright."},
        {broken, "General SQLite error: " + sqlErrorOf(broken)},
    };
    for (const auto& [schema, text] : cases) {
        try {
            ScreenDatabase::create(path, schema);
            ADD_FAILURE() << "made with " << schema.value_or("no schema");
        } catch (const DatabaseError& error) {
            EXPECT_EQ(error.what(), text);
            EXPECT_EQ(error.kind(),
                      schema ? DatabaseError::Kind::sqLiteError : DatabaseError::Kind::canNotOpenSchemaFile);
        }
        EXPECT_FALSE(fs::exists(path));
    }
    ScreenDatabase database(ScreenDatabase::openForUpdate());
    database.save(monitor("A"));
    EXPECT_TRUE(database.load("A"));
}

TEST_F(ScreenDatabaseFile, AnEmptyFileLeftBehindGetsItsTableOnTheNextUpdate) {
    fs::create_directories(support.folder());
    std::ofstream(path).close();
    ScreenDatabase database(ScreenDatabase::openForUpdate());
    database.save(monitor("A"));
    EXPECT_EQ(database.load("A")->nickname, "Studio left");
}

// ---- rows

// Only the stored settings come back (no nickname as NULL), and a second save replaces the row.
TEST_F(ScreenDatabaseFile, RoundTripKeepsTheStoredSettingsAndNothingElseInOneRow) {
    ScreenDatabase database(ScreenDatabase::create());
    const std::string uuid = "37D8832A-2D66-02CA-B9F7-8F30A301B230";
    database.save(monitor(uuid));
    ScreenDescription expected = monitor(uuid);
    expected.name = "";
    expected.resolutionWidth = 0;
    expected.resolutionHeight = 0;
    expected.isActive = false;
    EXPECT_EQ(database.load(uuid), expected);

    ScreenDescription changed = monitor(uuid);
    changed.nickname.reset();
    changed.flipV = true;
    changed.textAlignment = TextAlignment::left;
    database.save(changed);
    EXPECT_EQ(rowCount(*database.db), 1);
    EXPECT_EQ(std::get<std::int64_t>(*database.db->scalar("SELECT name IS NULL FROM screens")), 1);
    const auto loaded = database.load(uuid);
    EXPECT_EQ(loaded->nickname, std::nullopt);
    EXPECT_TRUE(loaded->flipV);
    EXPECT_EQ(loaded->textAlignment, TextAlignment::left);
}

// The UUID is bound, not pasted into the statements, and looked up case-sensitively.
TEST_F(ScreenDatabaseFile, TheUUIDIsBoundAndLookedUpExactly) {
    ScreenDatabase database(ScreenDatabase::create());
    database.save(monitor("ABCDEF01-0000-0000-0000-000000000000"));
    const std::string hostile = "x' OR '1'='1";
    database.save(monitor(hostile));
    database.save(monitor(hostile));
    EXPECT_EQ(rowCount(*database.db), 2);
    EXPECT_EQ(database.load(hostile)->displayUUID, hostile);
    EXPECT_TRUE(database.load("ABCDEF01-0000-0000-0000-000000000000"));
    EXPECT_EQ(database.load("abcdef01-0000-0000-0000-000000000000"), std::nullopt);
    EXPECT_EQ(database.load("unknown"), std::nullopt);
}

// A failed insert or delete (the latter logged) keeps the earlier row and no transaction open.
TEST_F(ScreenDatabaseFile, AFailedInsertOrDeleteKeepsTheEarlierRow) {
    const std::pair<std::string, std::string> cases[] = {
        {"BEFORE INSERT ON screens BEGIN SELECT RAISE(ABORT, 'refused'); END;", ""},
        {"BEFORE DELETE ON screens BEGIN SELECT RAISE(ABORT, 'kept'); END;", "can't delete db screen: kept"},
    };
    for (const auto& [trigger, told] : cases) {
        fs::remove(path);
        ScreenDatabase database(ScreenDatabase::create());
        database.save(monitor("A"));
        database.db->execute("CREATE TRIGGER refuse " + trigger);
        std::vector<std::string> logged;
        base::LogSink previous = base::setLogSink([&](std::string_view line) { logged.emplace_back(line); });
        ScreenDescription changed = monitor("A");
        changed.flipH = false;
        EXPECT_THROW(database.save(changed), sql::Result);
        base::setLogSink(previous);
        ASSERT_EQ(logged.size(), told.empty() ? 0u : 1u);
        if (!told.empty()) {
            EXPECT_TRUE(logged[0].starts_with(told)) << logged[0];
        }
        EXPECT_EQ(rowCount(*database.db), 1);
        EXPECT_TRUE(database.load("A")->flipH);
        EXPECT_TRUE(database.db->isAutocommit());
    }
}

TEST_F(ScreenDatabaseFile, AlignmentIsReadIgnoringCaseAndUnknownWordsReadAsCenter) {
    ScreenDatabase database(ScreenDatabase::create());
    database.db->execute("INSERT INTO screens VALUES ('upper', NULL, 0, 0, 1, 1, 1, 'RIGHT');"
                         "INSERT INTO screens VALUES ('odd', NULL, 0, 0, 1, 1, 1, 'justified');");
    EXPECT_EQ(database.load("upper")->textAlignment, TextAlignment::right);
    EXPECT_EQ(database.load("odd")->textAlignment, TextAlignment::center);
}

TEST_F(ScreenDatabaseFile, WithoutAConnectionReadingAndWritingFail) {
    ScreenDatabase database;
    const std::function<void()> attempts[] = {[&] { database.save(monitor("A")); },
                                              [&] { (void)database.load("A"); }};
    for (const auto& attempt : attempts) {
        try {
            attempt();
            ADD_FAILURE() << "expected databaseNotOpen";
        } catch (const DatabaseError& error) {
            EXPECT_EQ(error, DatabaseError::databaseNotOpen());
            EXPECT_STREQ(error.what(), "Database connection is not open.");
        }
    }
}

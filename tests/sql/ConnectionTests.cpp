// Opening, locations, running SQL, transactions and savepoints, hooks, version, backup.
#include "SqlTestSupport.h"

#include "sql/Backup.h"

#include <sqlite3.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <stdexcept>
#include <thread>

using namespace sql;
using sqltest::count;
using sqltest::failure;
using sqltest::failureCode;
using sqltest::ScratchDir;

// ---- opening

TEST(ConnectionOpen, AccessModesAndUriParametersOnFiles) {
    EXPECT_EQ(Connection::openFlags(Connection::Access::readOnly), 0x10041); // full mutex, URI
    EXPECT_EQ(Connection::openFlags(Connection::Access::readWrite), 0x10046);
    ScratchDir dir;
    // '#' '%' and a space in a path would otherwise swallow or break the query items.
    for (const std::string& path : {dir.file("a.db"), dir.file("odd name #1 x=%20.db")}) {
        EXPECT_EQ(failure([&] { Connection::open(path, Connection::Access::readOnly); }),
                  "14 unable to open database file");
        auto db = Connection::open(path);
        EXPECT_FALSE(db->readonly());
        EXPECT_EQ(db->description(), std::filesystem::canonical(path).string());
        db->execute("CREATE TABLE t(a)");
        auto ro = Connection::open(path, Connection::Access::readOnly);
        EXPECT_TRUE(ro->readonly());
        EXPECT_THROW(ro->execute("INSERT INTO t VALUES (1)"), Result);
        using P = URIQueryParameter;
        auto uri =
            Connection::open(Location::uri(path, {P::mode(P::FileMode::readOnly), P::immutable(true)}));
        EXPECT_TRUE(uri->readonly());
        EXPECT_EQ(count(*uri, "t"), 0);
    }
}

TEST(ConnectionOpen, InMemoryAndTemporaryAreEmptyPrivateDatabases) {
    EXPECT_EQ(Location::inMemory().description(), ":memory:");
    EXPECT_EQ(Location::temporary().description(), "");
    auto a = Connection::open(Location::temporary());
    auto b = Connection::open(Location::temporary());
    a->execute("CREATE TABLE t(x)");
    EXPECT_THROW(b->execute("INSERT INTO t VALUES (1)"), Result);
}

TEST(LocationDescription, RendersQueryItemsInOrder) {
    using P = URIQueryParameter;
    const std::pair<std::string, std::string> cases[] = {
        {Location::uri("data.db").description(), "data.db"},
        {Location::uri("data.db", {P::mode(P::FileMode::readOnly), P::cache(P::CacheMode::shared)})
             .description(),
         "file:data.db?mode=ro&cache=shared"},
        {Location::uri("file:/a/b.db?vfs=unix", {P::nolock(true)}).description(),
         "file:/a/b.db?vfs=unix&nolock=1"},
        {Location::uri("/tmp/a b#1.db", {P::vfs("")}).description(), "file:/tmp/a%20b%231.db?vfs="},
        // A query of its own stays a query, before the parameters.
        {Location::uri("data.db?cache=private", {P::mode(P::FileMode::readOnly)}).description(),
         "file:data.db?cache=private&mode=ro"},
        {Location::uri("a b.db?vfs=unix#top", {P::nolock(true)}).description(),
         "file:a%20b.db?vfs=unix&nolock=1#top"},
        {Location::uri("x.db", {P::vfs("a&b")}).description(), "file:x.db?vfs=a%26b"},
        {P::immutable(true).description(), "immutable=1"},
        {P::powersafeOverwrite(false).description(), "psow=0"},
        {P::mode(P::FileMode::readWriteCreate).description(), "mode=rwc"},
        {P::mode(P::FileMode::memory).description(), "mode=memory"},
        {P::cache(P::CacheMode::private_).description(), "cache=private"},
        {P::modeOf("/x/y.db").description(), "modeof=/x/y.db"},
    };
    for (const auto& [description, expected] : cases) {
        EXPECT_EQ(description, expected);
    }
}

// ---- running SQL

TEST(ConnectionExecute, RunsEveryStatementKeepsThoseBeforeAFailureAndCounts) {
    auto db = sqltest::memory();
    db->execute("CREATE TABLE t(id INTEGER PRIMARY KEY, a); INSERT INTO t(a) VALUES (1)");
    EXPECT_EQ(
        sqltest::thrown([&] { db->execute("INSERT INTO t(a) VALUES (2); INSERT INTO nowhere VALUES (3)"); }),
        "no such table: nowhere (code: 1)");
    EXPECT_EQ(count(*db, "t"), 2);
    db->run("INSERT INTO t(a) VALUES (?)", {Binding(std::int64_t{5})});
    EXPECT_EQ(db->lastInsertRowid(), 3);
    db->run("INSERT INTO t(a) VALUES (:v)", NamedBindings{{":v", Binding(std::string("x"))}});
    EXPECT_EQ(db->lastInsertRowid(), 4);
    db->run("UPDATE t SET a = 0");
    EXPECT_EQ(db->changes(), 4);
    EXPECT_EQ(db->totalChanges(), 8);
    EXPECT_STREQ(Result("busy", 5, "SELECT 1").what(), "busy (SELECT 1) (code: 5)");
    for (const int code : {0, 100, 101, 5}) {
        EXPECT_EQ(Result::isSuccessCode(code), code != 5) << code;
    }
}

// ---- transactions

TEST(ConnectionTransaction, CommitsOnSuccessRollsBackAndRethrowsOnFailure) {
    auto db = sqltest::memoryWith("CREATE TABLE t(a)");
    db->transaction(TransactionMode::immediate, [&] { db->run("INSERT INTO t VALUES (1)"); });
    EXPECT_EQ(count(*db, "t"), 1);
    const auto rolledBack = sqltest::traced(*db, [&] {
        EXPECT_THROW(db->transaction([&] {
            db->run("INSERT INTO t VALUES (2)");
            throw std::runtime_error("block failed");
        }),
                     std::runtime_error);
    });
    EXPECT_EQ(rolledBack, (std::vector<std::string>{"BEGIN DEFERRED TRANSACTION", "INSERT INTO t VALUES (2)",
                                                    "ROLLBACK TRANSACTION"}));
    const auto released =
        sqltest::traced(*db, [&] { db->savepoint("a'b", [&] { db->run("INSERT INTO t VALUES (3)"); }); });
    EXPECT_EQ(released, (std::vector<std::string>{"SAVEPOINT 'a''b'", "INSERT INTO t VALUES (3)",
                                                  "RELEASE SAVEPOINT 'a''b'"}));
    // A nested failure rolls back only its own work.
    db->transaction([&] {
        EXPECT_THROW(db->savepoint("inner",
                                   [&] {
                                       db->run("INSERT INTO t VALUES (20)");
                                       throw std::runtime_error("inner");
                                   }),
                     std::runtime_error);
        db->run("INSERT INTO t VALUES (4)");
    });
    EXPECT_EQ(std::get<std::int64_t>(*db->scalar("SELECT sum(a) FROM t")), 8);
    EXPECT_TRUE(db->isAutocommit());
}

TEST(ConnectionTransaction, BlockRunningStatementsFromAnotherThreadDoesNotDeadlock) {
    auto db = sqltest::memoryWith("CREATE TABLE t(a)");
    std::thread other([&] {
        db->transaction([&] {
            EXPECT_TRUE(db->isOnQueue());
            for (int i = 0; i < 10; ++i) {
                db->run(Table("t").insert(Setter::assign(column<std::int64_t>("a"), i)));
            }
            db->savepoint("inner", [&] { db->execute("INSERT INTO t VALUES (99)"); });
        });
    });
    db->execute("INSERT INTO t VALUES (100)"); // queues behind the transaction
    other.join();
    EXPECT_EQ(count(*db, "t"), 12);
}

TEST(ConnectionSavepoint, FailedOutermostSavepointLeavesNoTransactionOpen) {
    ScratchDir dir;
    auto db = Connection::open(dir.file("s.db"));
    db->execute("CREATE TABLE t(a)");
    EXPECT_THROW(db->savepoint("s",
                               [&] {
                                   db->run("INSERT INTO t VALUES (1)");
                                   throw std::runtime_error("no");
                               }),
                 std::runtime_error);
    EXPECT_TRUE(db->isAutocommit());
    db->run("INSERT INTO t VALUES (2)");
    // A second connection sees the later write: it was committed, not left in a transaction.
    EXPECT_EQ(count(*Connection::open(dir.file("s.db"), Connection::Access::readOnly), "t"), 1);
}

TEST(ConnectionTransaction, FailedCommitRollsBackAndReportsTheCommitError) {
    auto db = sqltest::memoryWith("CREATE TABLE p(id INTEGER PRIMARY KEY); CREATE TABLE c(p REFERENCES p(id) "
                                  "DEFERRABLE INITIALLY DEFERRED); PRAGMA foreign_keys = 1");
    EXPECT_EQ(failureCode([&] { db->transaction([&] { db->run("INSERT INTO c VALUES (7)"); }); }),
              SQLITE_CONSTRAINT);
    EXPECT_TRUE(db->isAutocommit());
    EXPECT_EQ(count(*db, "c"), 0);
}

// ---- hooks and timeouts

TEST(ConnectionHooks, UpdateCommitAndRollbackHooksSeeTheirEvents) {
    auto db = sqltest::memoryWith("CREATE TABLE t(a)");
    std::vector<std::string> events;
    db->updateHook([&](Operation op, std::string_view dbName, std::string_view table, std::int64_t rowid) {
        events.push_back(std::to_string(static_cast<int>(op)) + std::string(dbName) + "." +
                         std::string(table) + "#" + std::to_string(rowid));
    });
    db->commitHook([&] { events.push_back("commit"); });
    db->rollbackHook([&] { events.push_back("rollback"); });
    db->run("INSERT INTO t VALUES (1)");
    db->run("UPDATE t SET a = 2");
    db->run("DELETE FROM t WHERE a = 2");
    EXPECT_EQ(events, (std::vector<std::string>{"0main.t#1", "commit", "1main.t#1", "commit", "2main.t#1",
                                                "commit"}));

    events.clear();
    db->commitHook([] { throw std::runtime_error("veto"); });
    EXPECT_THROW(db->run("INSERT INTO t VALUES (5)"), Result);
    EXPECT_EQ(count(*db, "t"), 0);
    EXPECT_EQ(events.back(), "rollback");

    db->commitHook(nullptr);
    db->updateHook(nullptr);
    events.clear();
    db->run("INSERT INTO t VALUES (6)");
    EXPECT_TRUE(events.empty());
}

TEST(ConnectionHooks, BusyHandlerIsAskedUntilItGivesUpAndTimeoutsAreClamped) {
    ScratchDir dir;
    auto a = Connection::open(dir.file("b.db"));
    auto b = Connection::open(dir.file("b.db"));
    a->execute("CREATE TABLE t(x); BEGIN EXCLUSIVE; INSERT INTO t VALUES (1)");
    std::vector<int> counts;
    b->busyHandler([&](int n) {
        counts.push_back(n);
        return n < 2;
    });
    EXPECT_EQ(failureCode([&] { b->scalar("SELECT count(*) FROM t"); }), SQLITE_BUSY);
    EXPECT_EQ(counts, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(failureCode([&] {
                  for (const Bindings& row : b->prepare("SELECT x FROM t")) {
                      (void)row;
                  }
              }),
              SQLITE_BUSY);
    a->execute("COMMIT");
    a->setBusyTimeout(1.5);
    EXPECT_EQ(a->busyTimeout(), 1.5);
    a->setBusyTimeout(1e12); // beyond 32-bit milliseconds: clamped, not undefined
    a->setBusyTimeout(std::nan(""));
}

// ---- version and pragmas

TEST(SQLiteVersionTest, ParsesThreeDecimalPartsOnly) {
    EXPECT_EQ(SQLiteVersion::parse("3.39.5"), (SQLiteVersion{3, 39, 5}));
    EXPECT_EQ(SQLiteVersion::parse("3.39.5.1"), SQLiteVersion{});
    EXPECT_EQ(SQLiteVersion::parse("3.x.1"), SQLiteVersion{});
    EXPECT_LT((SQLiteVersion{3, 9, 0}), (SQLiteVersion{3, 10, 0}));
    EXPECT_EQ((SQLiteVersion{3, 40, 1}).description(), "SQLite 3.40.1");
    EXPECT_EQ(sqltest::memory()->sqliteVersion(), SQLiteVersion::parse(sqlite3_libversion()));
}

TEST(ConnectionPragmas, UserVersionForeignKeysAndAttachedDatabases) {
    auto db = sqltest::memory();
    db->setUserVersion(7);
    EXPECT_EQ(db->userVersion(), 7);
    db->setUserVersion(std::nullopt);
    EXPECT_EQ(db->userVersion(), 0);
    EXPECT_FALSE(db->foreignKeys());
    db->setForeignKeys(true);
    EXPECT_TRUE(db->foreignKeys());
    db->setDeferForeignKeys(true);
    EXPECT_TRUE(db->deferForeignKeys());

    db->attach(Location::inMemory(), "a'ux"); // bound, so any name is safe
    db->execute("CREATE TABLE \"a'ux\".t (x); INSERT INTO \"a'ux\".t VALUES (1)");
    EXPECT_EQ(count(*db, "\"a'ux\".t"), 1);
    EXPECT_THROW(db->attach(Location::inMemory(), "a'ux"), Result);
    db->detach("a'ux");
    EXPECT_THROW(db->detach("a'ux"), Result);
}

// ---- backup

TEST(BackupTest, CopiesInLimitedStepsThenFinishes) {
    auto source = sqltest::memoryWith(
        "PRAGMA page_size = 512; CREATE TABLE t(a); WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
        "FROM n WHERE i < 200) INSERT INTO t SELECT zeroblob(100) FROM n");
    const auto pages = std::get<std::int64_t>(*source->scalar("PRAGMA page_count"));
    ASSERT_GT(pages, 8);
    auto target = sqltest::memory();
    auto backup = source->makeBackup(DatabaseName::main(), target, DatabaseName::main());
    backup->step(Backup::Pages::limited(4));
    EXPECT_EQ(backup->pageCount(), pages);
    EXPECT_EQ(backup->remainingPages(), pages - 4);
    while (!backup->isFinished()) {
        backup->step(Backup::Pages::limited(4));
    }
    EXPECT_EQ(backup->pageCount(), 0);
    EXPECT_EQ(backup->remainingPages(), 0);
    backup->step(); // a finished backup does nothing
    backup->finish();
    EXPECT_EQ(count(*target, "t"), 200);
    // An unknown source throws instead of finishing quietly.
    EXPECT_EQ(
        failure([&] { Backup(source, DatabaseName::attached("nosuch"), target, DatabaseName::main()); }),
        "1 unknown database nosuch");
}

TEST(BackupTest, BusyStepReportsItsOwnText) {
    ScratchDir dir;
    auto source = sqltest::memoryWith("CREATE TABLE t(a); INSERT INTO t VALUES (1)");
    const std::string path = dir.file("target.db");
    auto target = Connection::open(path);
    auto writer = Connection::open(path);
    // Whatever the target's handle said last, fresh or an earlier failure, is not this step's.
    for (const bool earlierFailure : {false, true}) {
        if (earlierFailure) {
            EXPECT_THROW(target->execute("SELECT * FROM nosuch"), Result);
        }
        writer->execute("BEGIN IMMEDIATE");
        auto backup = source->makeBackup(DatabaseName::main(), target, DatabaseName::main());
        EXPECT_EQ(failure([&] { backup->step(); }), "5 database is locked");
        writer->execute("COMMIT");
        backup->step(); // still running: the same backup goes on
        EXPECT_TRUE(backup->isFinished());
        EXPECT_EQ(count(*target, "t"), 1);
    }
}

// ---- errors under concurrent use

TEST(ConnectionThreads, EveryFailureReportsItsOwnMessage) {
    constexpr int threads = 8;
    constexpr int rounds = 300;
    std::string checks;
    for (int i = 0; i < threads; ++i) {
        checks += ", CONSTRAINT c" + std::to_string(i) + " CHECK (v <> " + std::to_string(i) + ")";
    }
    auto db = sqltest::memoryWith("CREATE TABLE v(v INTEGER" + checks + ")");
    std::atomic<int> wrong{0};
    std::vector<std::thread> pool;
    for (int i = 0; i < threads; ++i) {
        pool.emplace_back([&, i] {
            const std::string sql = "INSERT INTO v VALUES (" + std::to_string(i) + ")";
            const std::string expected = "19 CHECK constraint failed: c" + std::to_string(i);
            const std::function<void()> ways[] = {[&] { db->prepare(sql).step(); }, [&] { db->execute(sql); },
                                                  [&] { db->scalar(sql); }};
            for (int r = 0; r < rounds; ++r) {
                wrong += failure(ways[r % 3]) != expected ? 1 : 0;
            }
        });
    }
    for (auto& t : pool) {
        t.join();
    }
    EXPECT_EQ(wrong, 0);
}

// ---- bounds for files from outside

// An endless query ends at the deadline, a value over the length limit fails before it is made,
// and both leave the connection usable.
TEST(ConnectionBounds, DeadlineInterruptsAndLengthLimitRefusesLargeValues) {
    auto db = sqltest::memory();
    const std::string endless = "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n) "
                                "SELECT count(*) FROM n";
    db->setDeadline(std::chrono::steady_clock::now() + std::chrono::milliseconds(50));
    EXPECT_EQ(failure([&] { db->scalar(endless); }), "9 interrupted");
    EXPECT_EQ(failure([&] { db->scalar(endless); }), "9 interrupted") << "the deadline has passed";
    db->setDeadline(std::nullopt);
    EXPECT_EQ(db->scalar("SELECT 1"), Binding(std::int64_t{1}));

    db->execute("CREATE TABLE t (b BLOB); INSERT INTO t VALUES (zeroblob(1001))");
    db->limitValueLength(1000);
    EXPECT_EQ(failure([&] { db->scalar("SELECT b FROM t"); }), "18 string or blob too big")
        << "a stored value is refused as well";
    EXPECT_EQ(failure([&] { db->scalar("SELECT length(randomblob(900000000))"); }),
              "18 string or blob too big");
    EXPECT_EQ(db->scalar("SELECT length(randomblob(1000))"), Binding(std::int64_t{1000}));
    try {
        db->scalar("SELECT zeroblob(1001)");
        ADD_FAILURE() << "no failure";
    } catch (const Result& e) {
        EXPECT_TRUE(e.isTooBig());
        EXPECT_FALSE(e.isInterrupted());
    }
}

// Opening, locations, running SQL, transactions and savepoints, hooks, version, backup.
#include "SqlTestSupport.h"

#include "sql/Backup.h"

#include <sqlite3.h>

#include <atomic>
#include <cmath>
#include <stdexcept>
#include <thread>

using namespace sql;
using sqltest::count;
using sqltest::ScratchDir;

// ---- opening

TEST(ConnectionOpen, UsesFullMutexUriFlags) {
    EXPECT_EQ(Connection::openFlags(Connection::Access::readOnly), 0x10041);
    EXPECT_EQ(Connection::openFlags(Connection::Access::readWrite), 0x10046);
}

TEST(ConnectionOpen, ReadOnlyOfMissingFileFailsAndReadWriteCreatesIt) {
    ScratchDir dir;
    const std::string path = dir.file("new.db");
    try {
        Connection::open(path, Connection::Access::readOnly);
        FAIL() << "opened a missing file read-only";
    } catch (const Result& e) {
        EXPECT_EQ(e.code(), SQLITE_CANTOPEN);
        EXPECT_EQ(e.message(), "unable to open database file");
    }
    auto db = Connection::open(path);
    EXPECT_FALSE(db->readonly());
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(db->description(), std::filesystem::canonical(path).string());
}

TEST(ConnectionOpen, ReadOnlyConnectionRefusesWrites) {
    ScratchDir dir;
    Connection::open(dir.file("a.db"))->execute("CREATE TABLE t(a)");
    auto ro = Connection::open(dir.file("a.db"), Connection::Access::readOnly);
    EXPECT_TRUE(ro->readonly());
    EXPECT_THROW(ro->execute("INSERT INTO t VALUES (1)"), Result);
}

TEST(ConnectionOpen, InMemoryAndTemporaryAreEmptyPrivateDatabases) {
    EXPECT_EQ(Location::inMemory().description(), ":memory:");
    EXPECT_EQ(Location::temporary().description(), "");
    auto a = Connection::open(Location::temporary());
    auto b = Connection::open(Location::temporary());
    a->execute("CREATE TABLE t(x)");
    EXPECT_THROW(b->execute("INSERT INTO t VALUES (1)"), Result);
}

TEST(ConnectionOpen, UriParametersApplyToTheOpenedFile) {
    ScratchDir dir;
    Connection::open(dir.file("a.db"))->execute("CREATE TABLE t(a)");
    auto db = Connection::open(
        Location::uri(dir.file("a.db"), {URIQueryParameter::mode(URIQueryParameter::FileMode::readOnly)}));
    EXPECT_TRUE(db->readonly());
}

TEST(ConnectionOpen, PathThatIsNoUrlStillGetsItsParameters) {
    // '#' '%' and a space in a path would otherwise swallow or break the query items.
    ScratchDir dir;
    const std::string path = dir.file("odd name #1 x=%20.db");
    Connection::open(path)->execute("CREATE TABLE t(a)");
    auto db =
        Connection::open(Location::uri(path, {URIQueryParameter::mode(URIQueryParameter::FileMode::readOnly),
                                              URIQueryParameter::immutable(true)}));
    EXPECT_TRUE(db->readonly());
    EXPECT_EQ(count(*db, "t"), 0);
}

// ---- URI rendering

TEST(LocationDescription, RendersQueryItemsInOrder) {
    using P = URIQueryParameter;
    EXPECT_EQ(Location::uri("data.db").description(), "data.db");
    EXPECT_EQ(Location::uri("data.db", {P::mode(P::FileMode::readOnly), P::cache(P::CacheMode::shared)})
                  .description(),
              "file:data.db?mode=ro&cache=shared");
    EXPECT_EQ(Location::uri("file:/a/b.db?vfs=unix", {P::nolock(true)}).description(),
              "file:/a/b.db?vfs=unix&nolock=1");
    EXPECT_EQ(Location::uri("/tmp/a b#1.db", {P::vfs("")}).description(), "file:/tmp/a%20b%231.db?vfs=");
    // A query of its own stays a query, before the parameters.
    EXPECT_EQ(Location::uri("data.db?cache=private", {P::mode(P::FileMode::readOnly)}).description(),
              "file:data.db?cache=private&mode=ro");
    EXPECT_EQ(Location::uri("a b.db?vfs=unix#top", {P::nolock(true)}).description(),
              "file:a%20b.db?vfs=unix&nolock=1#top");
    EXPECT_EQ(Location::uri("x.db", {P::vfs("a&b")}).description(), "file:x.db?vfs=a%26b");
}

TEST(LocationDescription, EachParameterBecomesTheItemSqliteKnows) {
    using P = URIQueryParameter;
    EXPECT_EQ(P::immutable(true).description(), "immutable=1");
    EXPECT_EQ(P::powersafeOverwrite(false).description(), "psow=0");
    EXPECT_EQ(P::mode(P::FileMode::readWriteCreate).description(), "mode=rwc");
    EXPECT_EQ(P::mode(P::FileMode::memory).description(), "mode=memory");
    EXPECT_EQ(P::cache(P::CacheMode::private_).description(), "cache=private");
    EXPECT_EQ(P::modeOf("/x/y.db").description(), "modeof=/x/y.db");
    EXPECT_EQ(P::vfs("").description(), "vfs=");
}

// ---- running SQL

TEST(ConnectionExecute, RunsEveryStatementAndKeepsThoseBeforeAFailure) {
    auto db = sqltest::memory();
    db->execute("CREATE TABLE t(a); INSERT INTO t VALUES (1)");
    EXPECT_EQ(count(*db, "t"), 1);
    try {
        db->execute("INSERT INTO t VALUES (2); INSERT INTO nowhere VALUES (3)");
        FAIL();
    } catch (const Result& e) {
        EXPECT_EQ(e.code(), SQLITE_ERROR);
        EXPECT_STREQ(e.what(), "no such table: nowhere (code: 1)");
    }
    EXPECT_EQ(count(*db, "t"), 2);
}

TEST(ResultDescription, NamesTheStatementWhenThereIsOne) {
    EXPECT_STREQ(Result("M", 1).what(), "M (code: 1)");
    EXPECT_STREQ(Result("busy", 5, "SELECT 1").what(), "busy (SELECT 1) (code: 5)");
    EXPECT_TRUE(Result::isSuccessCode(0));
    EXPECT_TRUE(Result::isSuccessCode(100));
    EXPECT_TRUE(Result::isSuccessCode(101));
    EXPECT_FALSE(Result::isSuccessCode(5));
}

TEST(ConnectionRun, ReportsChangesAndRowids) {
    auto db = sqltest::memory();
    db->execute("CREATE TABLE t(id INTEGER PRIMARY KEY, a)");
    db->run("INSERT INTO t(a) VALUES (?)", {Binding(std::int64_t{5})});
    EXPECT_EQ(db->lastInsertRowid(), 1);
    db->run("INSERT INTO t(a) VALUES (:v)", NamedBindings{{":v", Binding(std::string("x"))}});
    EXPECT_EQ(db->lastInsertRowid(), 2);
    db->run("UPDATE t SET a = 0");
    EXPECT_EQ(db->changes(), 2);
    EXPECT_EQ(db->totalChanges(), 4);
}

// ---- transactions

TEST(ConnectionTransaction, CommitsWhenTheBlockSucceeds) {
    auto db = sqltest::memory();
    db->execute("CREATE TABLE t(a)");
    db->transaction(TransactionMode::immediate, [&] { db->run("INSERT INTO t VALUES (1)"); });
    EXPECT_EQ(count(*db, "t"), 1);
    EXPECT_TRUE(db->isAutocommit());
}

TEST(ConnectionTransaction, RollsBackAndRethrowsTheBlocksError) {
    auto db = sqltest::memory();
    db->execute("CREATE TABLE t(a)");
    std::vector<std::string> trace;
    db->trace([&](std::string_view sql) { trace.emplace_back(sql); });
    EXPECT_THROW(db->transaction([&] {
        db->run("INSERT INTO t VALUES (1)");
        throw std::runtime_error("block failed");
    }),
                 std::runtime_error);
    db->trace(nullptr);
    EXPECT_EQ(count(*db, "t"), 0);
    EXPECT_TRUE(db->isAutocommit());
    ASSERT_EQ(trace.size(), 3u);
    EXPECT_EQ(trace[0], "BEGIN DEFERRED TRANSACTION");
    EXPECT_EQ(trace[2], "ROLLBACK TRANSACTION");
}

TEST(ConnectionTransaction, BlockRunningStatementsFromAnotherThreadDoesNotDeadlock) {
    auto db = sqltest::memory();
    db->execute("CREATE TABLE t(a)");
    std::thread other([&] {
        db->transaction([&] {
            EXPECT_TRUE(db->isOnQueue());
            for (int i = 0; i < 10; ++i) {
                db->run(Table("t").insert(Setter::assign(column<std::int64_t>("a"), i)));
            }
            db->savepoint("inner", [&] { db->execute("INSERT INTO t VALUES (99)"); });
        });
    });
    // Meanwhile this thread queues behind the transaction.
    db->execute("INSERT INTO t VALUES (100)");
    other.join();
    EXPECT_EQ(count(*db, "t"), 12);
}

TEST(ConnectionSavepoint, QuotesTheNameAndReleasesOnSuccess) {
    auto db = sqltest::memory();
    db->execute("CREATE TABLE t(a)");
    std::vector<std::string> trace;
    db->trace([&](std::string_view sql) { trace.emplace_back(sql); });
    db->savepoint("a'b", [&] { db->run("INSERT INTO t VALUES (1)"); });
    db->trace(nullptr);
    ASSERT_EQ(trace.size(), 3u);
    EXPECT_EQ(trace[0], "SAVEPOINT 'a''b'");
    EXPECT_EQ(trace[2], "RELEASE SAVEPOINT 'a''b'");
    EXPECT_TRUE(db->isAutocommit());
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
    auto other = Connection::open(dir.file("s.db"), Connection::Access::readOnly);
    EXPECT_EQ(count(*other, "t"), 1);
}

TEST(ConnectionSavepoint, NestedFailureRollsBackOnlyItsOwnWork) {
    auto db = sqltest::memory();
    db->execute("CREATE TABLE t(a)");
    db->transaction([&] {
        db->run("INSERT INTO t VALUES (1)");
        EXPECT_THROW(db->savepoint("inner",
                                   [&] {
                                       db->run("INSERT INTO t VALUES (2)");
                                       throw std::runtime_error("inner");
                                   }),
                     std::runtime_error);
        db->run("INSERT INTO t VALUES (3)");
    });
    EXPECT_EQ(std::get<std::int64_t>(*db->scalar("SELECT sum(a) FROM t")), 4);
}

TEST(ConnectionTransaction, FailedCommitRollsBackAndReportsTheCommitError) {
    auto db = sqltest::memory();
    db->execute("CREATE TABLE p(id INTEGER PRIMARY KEY); CREATE TABLE c(p REFERENCES p(id) DEFERRABLE "
                "INITIALLY DEFERRED);"
                "PRAGMA foreign_keys = 1");
    try {
        db->transaction([&] { db->run("INSERT INTO c VALUES (7)"); });
        FAIL();
    } catch (const Result& e) {
        EXPECT_EQ(e.code(), SQLITE_CONSTRAINT);
    }
    EXPECT_TRUE(db->isAutocommit());
    EXPECT_EQ(count(*db, "c"), 0);
}

// ---- hooks and timeouts

TEST(ConnectionHooks, UpdateCommitAndRollbackHooksSeeTheirEvents) {
    auto db = sqltest::memory();
    db->execute("CREATE TABLE t(a)");
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

TEST(ConnectionHooks, BusyHandlerIsAskedUntilItGivesUp) {
    ScratchDir dir;
    auto a = Connection::open(dir.file("b.db"));
    auto b = Connection::open(dir.file("b.db"));
    a->execute("CREATE TABLE t(x); BEGIN EXCLUSIVE; INSERT INTO t VALUES (1)");
    std::vector<int> counts;
    b->busyHandler([&](int n) {
        counts.push_back(n);
        return n < 2;
    });
    try {
        b->scalar("SELECT count(*) FROM t");
        FAIL();
    } catch (const Result& e) {
        EXPECT_EQ(e.code(), SQLITE_BUSY);
    }
    EXPECT_EQ(counts, (std::vector<int>{0, 1, 2}));
    a->execute("COMMIT");
}

TEST(ConnectionHooks, BusyTimeoutIsKeptAndClamped) {
    auto db = sqltest::memory();
    db->setBusyTimeout(1.5);
    EXPECT_EQ(db->busyTimeout(), 1.5);
    db->setBusyTimeout(1e12); // beyond 32-bit milliseconds: clamped, not undefined
    db->setBusyTimeout(std::nan(""));
}

// ---- version

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
    EXPECT_EQ(db->userVersion(), 0);
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
    EXPECT_EQ(sqltest::count(*db, "\"a'ux\".t"), 1);
    EXPECT_THROW(db->attach(Location::inMemory(), "a'ux"), Result);
    db->detach("a'ux");
    EXPECT_THROW(db->detach("a'ux"), Result);
}

// ---- backup

TEST(BackupTest, CopiesInLimitedStepsThenFinishes) {
    auto source = sqltest::memory();
    source->execute(
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
}

TEST(BackupTest, UnknownSourceDatabaseThrowsInsteadOfFinishingQuietly) {
    auto source = sqltest::memory();
    auto target = sqltest::memory();
    try {
        Backup b(source, DatabaseName::attached("nosuch"), target, DatabaseName::main());
        FAIL() << "a backup without a handle was made";
    } catch (const Result& e) {
        EXPECT_EQ(e.message(), "unknown database nosuch");
    }
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
        try {
            backup->step();
            ADD_FAILURE() << "a step past another writer's lock succeeded";
        } catch (const Result& e) {
            EXPECT_EQ(e.code(), SQLITE_BUSY);
            EXPECT_EQ(e.message(), "database is locked");
        }
        writer->execute("COMMIT");
        backup->step(); // still running: the same backup goes on
        EXPECT_TRUE(backup->isFinished());
        EXPECT_EQ(count(*target, "t"), 1);
    }
}

// ---- errors under concurrent use

TEST(ConnectionThreads, EveryFailureReportsItsOwnMessage) {
    auto db = sqltest::memory();
    constexpr int threads = 8;
    constexpr int rounds = 300;
    std::string checks;
    for (int i = 0; i < threads; ++i) {
        checks += ", CONSTRAINT c" + std::to_string(i) + " CHECK (v <> " + std::to_string(i) + ")";
    }
    db->execute("CREATE TABLE v(v INTEGER" + checks + ")");
    std::atomic<int> failures{0};
    std::atomic<int> wrong{0};
    std::vector<std::thread> pool;
    for (int i = 0; i < threads; ++i) {
        pool.emplace_back([&, i] {
            const std::string sql = "INSERT INTO v VALUES (" + std::to_string(i) + ")";
            const std::string expected = "CHECK constraint failed: c" + std::to_string(i);
            for (int r = 0; r < rounds; ++r) {
                try {
                    switch (r % 3) {
                    case 0:
                        db->prepare(sql).step();
                        break;
                    case 1:
                        db->execute(sql);
                        break;
                    default:
                        db->scalar(sql);
                        break;
                    }
                } catch (const Result& e) {
                    ++failures;
                    wrong += e.message() != expected ? 1 : 0;
                }
            }
        });
    }
    for (auto& t : pool) {
        t.join();
    }
    EXPECT_EQ(failures, threads * rounds);
    EXPECT_EQ(wrong, 0);
}

// Binding, stepping and reading: counts and names, value round trips, rows that fail.
#include "SqlTestSupport.h"

#include "sql/Functions.h"

#include <sqlite3.h>

#include <cstdlib>
#include <ctime>
#include <functional>

using namespace sql;
using namespace std::chrono;
using sqltest::count;

namespace {

class StatementTest : public ::testing::Test {
protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        db->execute("CREATE TABLE t(a, b)");
    }
    // The rows of `sql`, each as its values.
    std::vector<Bindings> rows(const std::string& sql) {
        std::vector<Bindings> out;
        for (const Bindings& row : db->prepare(sql)) {
            out.push_back(row);
        }
        return out;
    }
    std::shared_ptr<Connection> db = sqltest::memory();
};

Binding i64(std::int64_t v) {
    return Binding(v);
}

} // namespace

// ---- binding counts and names

TEST_F(StatementTest, WrongCountsAndUnknownNamesStopTheProgram) {
    auto s = db->prepare("INSERT INTO t VALUES (?, ?)");
    EXPECT_DEATH(s.bind(Bindings{i64(1), i64(2), i64(3)}), "2 values expected, 3 passed");
    EXPECT_DEATH(s.bind(1, 2, 3), "2 values expected, 3 passed");
    auto named = db->prepare("INSERT INTO t VALUES (:a, :b)");
    EXPECT_DEATH(named.bind(NamedBindings{{":c", std::nullopt}}), "parameter not found: :c");
}

TEST_F(StatementTest, BindingByNameRebindingAndEmptyLists) {
    db->run("INSERT INTO t VALUES (:a, :b)",
            NamedBindings{{":b", i64(2)}, {":a", Binding(std::string("x"))}});
    auto s = db->prepare("INSERT INTO t VALUES (?, ?)");
    s.bind(7, 8);
    s.bind(Bindings{}); // neither resets nor clears
    s.run();
    db->prepare("INSERT INTO t VALUES (?, ?)", Bindings{}).run(); // unbound parameters are NULL
    auto n = db->prepare("INSERT INTO t VALUES (:a, :b)");
    n.bind(NamedBindings{{":a", i64(1)}, {":b", i64(1)}}).run();
    n.bind(NamedBindings{{":a", i64(3)}}).run(); // :b cleared to NULL
    EXPECT_EQ(rows("SELECT a, b FROM t"), (std::vector<Bindings>{{Binding(std::string("x")), i64(2)},
                                                                 {i64(7), i64(8)},
                                                                 {std::nullopt, std::nullopt},
                                                                 {i64(1), i64(1)},
                                                                 {i64(3), std::nullopt}}));
}

// ---- value round trips

TEST_F(StatementTest, ValuesRoundTripThroughTheirStoredForms) {
    const std::string nul("a\0b", 3);
    const Date date = sys_days{2024y / 3 / 5} + 14h + 7min + 9s + 250ms;
    const Uuid uuid = Uuid::random();
    db->run("INSERT INTO t VALUES (?, ?)", {Binding(nul), Binding(Blob{})});
    db->prepare("INSERT INTO t VALUES (?, ?)").run(true, 42);
    db->prepare("INSERT INTO t VALUES (?, ?)").run(date, uuid);
    db->prepare("INSERT INTO t VALUES (?, ?)").run(Data{1, 2, 3}, std::optional<double>());
    auto s = db->prepare("SELECT a, b, length(CAST(a AS BLOB)), typeof(a), typeof(b) FROM t");
    ASSERT_TRUE(s.step());
    EXPECT_EQ(s.row().get<std::string>(0), nul); // embedded NUL kept
    EXPECT_EQ(std::get<std::string>(*s.row()[0]), nul);
    EXPECT_EQ(s.row().get<std::int64_t>(2), 3);
    EXPECT_EQ(*s.row()[1], Binding(Blob{})); // an empty blob, never NULL
    EXPECT_EQ(s.row().get<std::string>(4), "blob");
    ASSERT_TRUE(s.step());
    EXPECT_EQ(*s.row()[0], i64(1)); // bool and int bind as integers
    EXPECT_EQ(*s.row()[1], i64(42));
    EXPECT_TRUE(s.row().get<bool>(0));
    EXPECT_EQ(s.row().get<std::string>(3), "integer");
    ASSERT_TRUE(s.step());
    EXPECT_EQ(s.row().get<std::string>(0), "2024-03-05T14:07:09.250");
    EXPECT_EQ(fromBinding<Date>(s.row()[0]), date);
    EXPECT_EQ(s.row().get<std::string>(1), uuid.toString());
    EXPECT_EQ(fromBinding<Uuid>(s.row()[1]), uuid);
    ASSERT_TRUE(s.step());
    EXPECT_EQ(fromBinding<Data>(s.row()[0]), (Data{1, 2, 3}));
    EXPECT_FALSE(s.row()[1]);
    EXPECT_FALSE(s.step());
    const Blob bytes(std::vector<std::uint8_t>{0, 255, 1});
    auto blob = db->prepare("SELECT ?", {Binding(bytes)});
    ASSERT_TRUE(blob.step());
    EXPECT_EQ(blob.row().get<Blob>(0).bytes, (std::vector<std::uint8_t>{0, 255, 1}));
}

TEST(ValueConversion, DatesStoreUtcWhateverTheLocalZone) {
    const char* old = std::getenv("TZ");
    const std::string saved = old != nullptr ? old : "";
    setenv("TZ", "Pacific/Kiritimati", 1); // UTC+14
    tzset();
    const Date date = sys_days{1999y / 12 / 31} + 23h + 59min + 59s + 999ms;
    EXPECT_EQ(formatDate(date), "1999-12-31T23:59:59.999");
    EXPECT_EQ(parseDate("1999-12-31T23:59:59.999"), date);
    if (old != nullptr) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
    EXPECT_EQ(formatDate(Date{}), "1970-01-01T00:00:00.000");
    EXPECT_EQ(formatDate(sys_days{1969y / 12 / 31} + 23h + 59min + 59s + 1ms), "1969-12-31T23:59:59.001");
    for (const char* bad : {"2024-02-30T00:00:00.000", "2024-03-05 14:07:09.250", "2024-03-05T14:07:09"}) {
        EXPECT_FALSE(parseDate(bad)) << bad;
    }
    // Past the year 9999 a date is refused, not written unreadable.
    const Date last = sys_days{year{9999} / 12 / 31} + 23h + 59min + 59s + 999ms;
    EXPECT_EQ(parseDate(formatDate(last)), last);
    EXPECT_EQ(formatDate(sys_days{year{0} / 1 / 1}), "0000-01-01T00:00:00.000");
    for (const Date d : {last + 1ms, Date{sys_days{year{-1} / 12 / 31}}}) {
        EXPECT_THROW(formatDate(d), Result);
        EXPECT_THROW(Setter::assign(column<Date>("d"), d), Result);
    }
}

TEST(ValueConversion, UuidsBoolsAndBlobTexts) {
    const auto u = Uuid::parse("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->toString(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(Uuid::parse(u->toString()), u);
    EXPECT_FALSE(Uuid::parse("e621e1f8c36c-495a-93fc-0c247a3e6e5f0"));
    EXPECT_FALSE(Uuid::parse("g621e1f8-c36c-495a-93fc-0c247a3e6e5f"));
    EXPECT_NE(Uuid::random(), Uuid::random());
    EXPECT_EQ(Uuid::random().toString()[14], '4');
    EXPECT_EQ(fromBinding<bool>(i64(2)), true); // any non-zero integer
    EXPECT_EQ(fromBinding<bool>(i64(0)), false);
    EXPECT_EQ(fromBinding<bool>(Binding(std::string("1"))), std::nullopt);
    EXPECT_EQ(Blob(std::vector<std::uint8_t>{1, 171}).description(), "x'01ab'");
    EXPECT_EQ(Blob().description(), "x''");
}

// ---- stepping and scalars

TEST_F(StatementTest, ScalarOfNoRowIsAbsentAndNeverReadsAFinishedStatement) {
    EXPECT_FALSE(db->scalar("SELECT a FROM t"));
    db->execute("INSERT INTO t VALUES (5, 6)");
    auto s = db->prepare("SELECT a FROM t WHERE a = ?");
    EXPECT_EQ(s.scalar(5), i64(5));
    EXPECT_FALSE(s.scalar(6));
}

TEST_F(StatementTest, RunStartsFromTheFirstRowWhateverSteppedBefore) {
    db->execute(
        "CREATE TABLE log(x); CREATE TRIGGER tr AFTER INSERT ON t BEGIN INSERT INTO log VALUES (1); END;"
        "INSERT INTO t VALUES (1, 1), (2, 2), (3, 3)");
    auto ins = db->prepare("INSERT INTO t VALUES (?, ?)");
    ins.run(4, 4).run().run(5, 5);
    EXPECT_EQ(count(*db, "t"), 6);
    EXPECT_EQ(count(*db, "log"), 6);
    // A statement stepped midway, through the class or its handle, starts afresh on run() and
    // steps through every row in one start.
    int starts = 0;
    db->trace([&](std::string_view) { ++starts; });
    auto sel = db->prepare("SELECT a FROM t WHERE a > ? ORDER BY a");
    sel.bind(0);
    sel.run();
    EXPECT_EQ(starts, 1);
    ASSERT_EQ(sqlite3_step(sel.handle()), SQLITE_ROW);
    sel.run();
    EXPECT_EQ(starts, 3);
    ASSERT_TRUE(sel.step());
    sel.run();
    EXPECT_EQ(starts, 5);
    db->trace(nullptr);
    // Iterating twice yields the same rows.
    auto again = db->prepare("SELECT a, b FROM t ORDER BY a");
    std::vector<Bindings> first, second;
    for (const Bindings& row : again) {
        first.push_back(row);
    }
    for (const Bindings& row : again) {
        second.push_back(row);
    }
    ASSERT_EQ(first.size(), 6u);
    EXPECT_EQ(first, second);
}

TEST_F(StatementTest, ColumnNamesTheirMapAndPrepareErrors) {
    auto s = db->prepare("SELECT a, b AS a, 1 AS \"q\"\"\" FROM t");
    EXPECT_EQ(s.columnNames(), (std::vector<std::string>{"a", "a", "q\""}));
    auto map = s.columnNameMap();
    EXPECT_EQ(map->find("\"a\""), 1);
    EXPECT_EQ(map->find("\"q\"\"\""), 2);
    EXPECT_EQ(s.description(), "SELECT a, b AS a, 1 AS \"q\"\"\" FROM t");
    EXPECT_EQ(sqltest::failure([&] { db->prepare("SELECT nope FROM t"); }), "1 no such column: nope");
}

TEST_F(StatementTest, AFailingStepMidwayIsThrownFromEveryWayOfReading) {
    db->execute("INSERT INTO t VALUES (1, 0), (2, 0), (3, 0)");
    // Row 3 overflows at run time: the first two rows come, then the step fails.
    const char* sql =
        "SELECT CASE WHEN a = 3 THEN abs((-9223372036854775807 - 1) * (a - 2)) ELSE a END FROM t";
    int rows = 0;
    EXPECT_THROW(
        {
            for (const Bindings& row : db->prepare(sql)) {
                (void)row;
                ++rows;
            }
        },
        Result);
    EXPECT_EQ(rows, 2);
    auto again = db->prepare(sql);
    EXPECT_TRUE(again.failableNext());
    EXPECT_TRUE(again.failableNext());
    EXPECT_THROW(again.failableNext(), Result);
    EXPECT_THROW(db->prepare(sql).run(), Result);
}

// ---- user function values

TEST(FunctionValues, ArgumentsAndResultsCrossIntact) {
    auto db = sqltest::memory();
    // An identity function made of the two converters.
    ASSERT_EQ(sqlite3_create_function_v2(
                  db->handle(), "same", 1, SQLITE_UTF8, nullptr,
                  [](sqlite3_context* ctx, int n, sqlite3_value** v) {
                      setFunctionResult(functionArguments(n, v)[0], ctx);
                  },
                  nullptr, nullptr, nullptr),
              SQLITE_OK);
    for (const auto& v : Bindings{i64(-3), Binding(2.5), Binding(std::string("a\0b", 3)), Binding(Blob{}),
                                  Binding(Blob(std::vector<std::uint8_t>{9})), std::nullopt}) {
        EXPECT_EQ(db->prepare("SELECT same(?)").scalar(v), v);
    }
}

// ---- values the database refuses, statements with no SQL

TEST_F(StatementTest, ValuesTheConnectionRefusesToBindThrowInsteadOfStoringNull) {
    sqlite3_limit(db->handle(), SQLITE_LIMIT_LENGTH, 100);
    const std::string text(200, 'x');
    const Blob blob(std::vector<std::uint8_t>(200, 1));
    const std::function<void()> binds[] = {
        [&] { db->prepare("INSERT INTO t VALUES (?, 1)").run(text); },
        [&] { db->prepare("INSERT INTO t VALUES (?, 1)").run(blob); },
        [&] { db->run("INSERT INTO t VALUES (?, 1)", {Binding(text)}); },
        [&] {
            db->run("INSERT INTO t VALUES (:a, 1)", NamedBindings{{":a", Binding(blob)}});
        },
        [&] { db->run(Table("t").insert(Setter::assign(column<std::string>("a"), text))); },
    };
    for (const auto& bind : binds) {
        EXPECT_EQ(sqltest::failureCode(bind), SQLITE_TOOBIG);
    }
    EXPECT_EQ(count(*db, "t"), 0);
}

TEST_F(StatementTest, SqlWithoutAStatementRunsAsNothing) {
    for (const char* sql : {"", "  ", "-- nothing", "/* x */ ;"}) {
        EXPECT_NO_THROW(db->run(sql)) << sql;
        EXPECT_NO_THROW(db->execute(sql)) << sql;
        EXPECT_EQ(db->scalar(sql), std::nullopt) << sql;
        Statement s = db->prepare(sql);
        EXPECT_EQ(s.columnCount(), 0);
        EXPECT_FALSE(s.step());
        EXPECT_FALSE(s.failableNext());
        EXPECT_TRUE(s.begin() == s.end());
        s.bind(NamedBindings{});
        s.reset();
        EXPECT_EQ(s.description(), "");
        EXPECT_FALSE(db->prepareRowIterator(sql).failableNext());
    }
}

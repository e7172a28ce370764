// Typed queries on a live database: column maps with star expansion, lookups, rows that fail,
// running inserts, updates, deletes and scalar queries, as the script and display files use them.
#include "SqlTestSupport.h"

#include <gmock/gmock.h>

#include <functional>
#include <thread>

using namespace sql;
using sqltest::count;

namespace {

class RowTest : public ::testing::Test {
protected:
    void SetUp() override {
        db->execute("CREATE TABLE t(a INTEGER, b TEXT); CREATE TABLE u(a INTEGER, c REAL);"
                    "INSERT INTO t VALUES (1, 'one'), (2, NULL); INSERT INTO u VALUES (1, 1.5)");
    }
    std::shared_ptr<Connection> db = sqltest::memory();
    const Table t{"t"};
    const Table u{"u"};
    const Expression<std::int64_t> a = column<std::int64_t>("a");
    const Expression<std::optional<std::string>> b = column<std::optional<std::string>>("b");
};

std::map<std::string, int> entries(const ColumnMap& map) {
    std::map<std::string, int> out;
    for (const auto& k : map.keys()) {
        out[k] = *map.find(k);
    }
    return out;
}

} // namespace

// ---- column maps

TEST_F(RowTest, ColumnMapsOfSelectedColumnsAndStars) {
    using Map = std::map<std::string, int>;
    EXPECT_EQ(entries(*db->columnNameMap(t.select(a, b))), (Map{{"\"a\"", 0}, {"\"b\"", 1}}));
    EXPECT_EQ(entries(*db->columnNameMap(t.select(starExpression()))), (Map{{"\"a\"", 0}, {"\"b\"", 1}}));
    const auto joined = t.join(u, eq(t.namespace_(a), u.namespace_(a)));
    EXPECT_EQ(entries(*db->columnNameMap(joined)),
              (Map{{"\"t\".\"a\"", 0}, {"\"t\".\"b\"", 1}, {"\"u\".\"a\"", 2}, {"\"u\".\"c\"", 3}}));
    EXPECT_EQ(entries(*db->columnNameMap(joined.select(u.namespace_(starExpression())))),
              (Map{{"\"u\".\"a\"", 0}, {"\"u\".\"c\"", 1}}));
    EXPECT_EQ(entries(*db->columnNameMap(t.select(t.namespace_(starExpression())))),
              (Map{{"\"t\".\"a\"", 0}, {"\"t\".\"b\"", 1}}));
    EXPECT_EQ(entries(*db->columnNameMap(t.select(a, a))), (Map{{"\"a\"", 1}}));
    EXPECT_EQ(db->columnNameMap(t.select())->size(), 0u);
    // The star of an aliased join expands that source.
    const auto q = t.join(u.alias("x"), Expression<bool>("1")).select(Expression<>("\"x\".*"));
    EXPECT_EQ(entries(*db->columnNameMap(q)), (Map{{"\"x\".\"a\"", 0}, {"\"x\".\"c\"", 1}}));
    EXPECT_EQ(sqltest::queryError([&] { db->columnNameMap(t.select(Expression<>("\"v\".*"))); }),
              "noSuchTable: No such table: \"v\"");
}

// ---- lookups

TEST_F(RowTest, LookupBySuffixAndAmbiguity) {
    const auto joined = t.join(u, eq(t.namespace_(a), u.namespace_(a)));
    auto row = db->pluck(joined);
    ASSERT_TRUE(row);
    EXPECT_EQ(
        sqltest::queryError([&] { row->get(a); }),
        R"(ambiguousColumn: Ambiguous column `"a"` (please disambiguate: ["\"t\".\"a\"", "\"u\".\"a\""]))");
    EXPECT_EQ(row->get(b), "one");
    EXPECT_EQ(row->get(u.namespace_(a)), 1);
    EXPECT_EQ(row->get(column<double>("c")), 1.5);
    // The bare text a is no key nor suffix.
    EXPECT_EQ(
        sqltest::queryError([&] { row->get(Expression<std::int64_t>("a")); }),
        R"(noSuchColumn: No such column `a` in columns ["\"t\".\"a\"", "\"t\".\"b\"", "\"u\".\"a\"", "\"u\".\"c\""])");
}

TEST_F(RowTest, NullsOtherStoredTypesAndUnparsableDates) {
    db->execute("CREATE TABLE f(flag INTEGER, at TEXT); INSERT INTO f VALUES (2, 'yesterday'), (0, NULL)");
    auto rows = db->prepareRowIterator(t.order(a)).map([&](const Row& r) { return r; });
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].get(b), std::nullopt);
    EXPECT_EQ(sqltest::queryError([&] { rows[1].get(column<std::string>("b")); }),
              "unexpectedNullValue: Unexpected null value for column `\"b\"`");
    // TEXT read as an integer: absent from the optional form, an error from the other.
    EXPECT_EQ(rows[0].get(column<std::optional<std::int64_t>>("b")), std::nullopt);
    EXPECT_THROW(rows[0].get(column<std::int64_t>("b")), QueryError);
    EXPECT_EQ(rows[0].get(column<bool>("a")), true);
    auto flags = db->prepareRowIterator(Table("f")).map([](const Row& r) { return r; });
    EXPECT_TRUE(flags[0].get(column<bool>("flag"))); // 2 is true
    EXPECT_FALSE(flags[1].get(column<bool>("flag")));
    EXPECT_THROW(flags[0].get(column<std::optional<Date>>("at")), QueryError);
    EXPECT_EQ(flags[1].get(column<std::optional<Date>>("at")), std::nullopt);
}

TEST_F(RowTest, RowsOutliveTheirStatementLoopsGoOnAndPluckTakesOne) {
    std::optional<Row> kept;
    {
        auto it = db->prepareRowIterator(t);
        kept = it.failableNext();
    }
    EXPECT_EQ(kept->get(a), 1);
    auto names = db->prepareRowIterator(t).compactMap([&](const Row& r) { return r.get(b); });
    EXPECT_EQ(names, (std::vector<std::string>{"one"}));
    EXPECT_TRUE(
        db->prepareRowIterator(t).compactMap([](const Row&) { return std::optional<int>(); }).empty());
    auto raw = db->prepareRowIterator("SELECT a AS x FROM t WHERE a = ?", {Binding(std::int64_t{2})});
    EXPECT_EQ(raw.failableNext()->get(column<std::int64_t>("x")), 2);
    // A second loop goes on where the first stopped.
    auto rows = db->prepare(t.order(a));
    for (const Row& r : rows) {
        EXPECT_EQ(r.get(a), 1);
        break;
    }
    std::vector<std::int64_t> rest;
    for (const Row& r : rows) {
        rest.push_back(r.get(a));
    }
    EXPECT_EQ(rest, (std::vector<std::int64_t>{2}));
    // Pluck keeps the offset and gives nothing for no rows.
    db->execute("INSERT INTO t VALUES (3, 'x'), (4, 'y'), (5, 'z'), (6, 'w'), (7, 'v')");
    std::optional<Row> row;
    EXPECT_EQ(sqltest::traced(*db, [&] { row = db->pluck(t.order(a).limit(10, 5)); }),
              std::vector<std::string>{"SELECT * FROM \"t\" ORDER BY \"a\" LIMIT 1 OFFSET 5"});
    EXPECT_EQ(row->get(a), 6);
    EXPECT_FALSE(db->pluck(t.filter(eq(a, std::int64_t{99}))));
}

TEST_F(RowTest, EveryWayOfReadingReportsAFailedStep) {
    db->execute("CREATE VIEW bad AS SELECT CASE WHEN a = 2 THEN abs((-9223372036854775807 - 1) * (a - 1)) "
                "ELSE a END AS "
                "a FROM t");
    const Table bad("bad");
    int seen = 0;
    EXPECT_THROW(
        {
            for (const Row& r : db->prepare(bad)) {
                EXPECT_EQ(r.get(a), 1);
                ++seen;
            }
        },
        Result);
    EXPECT_EQ(seen, 1);
    EXPECT_THROW(db->prepareRowIterator(bad).map([](const Row& r) { return r.values.size(); }), Result);
    EXPECT_THROW(db->prepareRowIterator(bad).compactMap([](const Row&) { return std::optional<int>(1); }),
                 Result);
    EXPECT_THROW(db->pluck(bad.filter(eq(a, std::int64_t{2}))), Result);
}

// ---- running statements

TEST_F(RowTest, InsertReturnsTheRowidAndConstraintFailuresThrow) {
    db->execute("CREATE TABLE k(id INTEGER PRIMARY KEY, name TEXT UNIQUE)");
    const Table k("k");
    const auto name = column<std::string>("name");
    EXPECT_EQ(db->run(k.insert(Setter::assign(name, "x"))), 1);
    EXPECT_EQ(db->run(k.insert(Setter::assign(name, "y"))), 2);
    EXPECT_EQ(sqltest::failure([&] { db->run(k.insert(Setter::assign(name, "x"))); }),
              "19 UNIQUE constraint failed: k.name");
    EXPECT_EQ(db->run(k.insertMany({})), 0);
    EXPECT_EQ(count(*db, "k"), 2);
    EXPECT_EQ(db->run(k.filter(eq(name, "nope")).update(Setter::assign(name, "z"))), 0);
    db->run(k.insert(std::vector<Setter>{}));
    EXPECT_EQ(db->run(k.delete_()), 3);
    // From inside the queue it runs inline.
    db->sync([&] {
        EXPECT_TRUE(db->isOnQueue());
        EXPECT_EQ(db->run(t.insert(Setter::assign(a, 9), Setter::assign(b, std::nullopt))), 3);
    });
    EXPECT_FALSE(db->isOnQueue());
}

TEST_F(RowTest, ConcurrentInsertsEachGetTheirOwnRowid) {
    db->execute("CREATE TABLE k(id INTEGER PRIMARY KEY, w INTEGER)");
    const Table k("k");
    const auto w = column<std::int64_t>("w");
    std::vector<std::thread> threads;
    std::vector<std::vector<std::int64_t>> ids(4);
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&, i] {
            for (int n = 0; n < 200; ++n) {
                ids[i].push_back(db->run(k.insert(Setter::assign(w, std::int64_t{i}))));
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    for (int i = 0; i < 4; ++i) {
        for (std::int64_t id : ids[i]) {
            EXPECT_EQ(std::get<std::int64_t>(*db->scalar("SELECT w FROM k WHERE id = ?", {Binding(id)})), i);
        }
    }
}

TEST_F(RowTest, ScalarQueries) {
    EXPECT_EQ(db->scalar(t.count()), 2);
    EXPECT_EQ(db->scalar(Table("u").filter(Expression<bool>("0")).count()), 0);
    EXPECT_EQ(db->scalar(t.selectScalar(Expression<std::optional<std::int64_t>>("max(\"a\")"))), 2);
    EXPECT_EQ(db->scalar(u.filter(Expression<bool>("0"))
                             .selectScalar(Expression<std::optional<std::int64_t>>("max(\"a\")"))),
              std::nullopt);
    EXPECT_EQ(db->scalar(t.selectScalar(Expression<std::optional<std::int64_t>>("\"b\""))),
              std::nullopt); // TEXT
    EXPECT_EQ(db->scalar(t.exists()), true);
    EXPECT_THROW(db->scalar(t.filter(Expression<bool>("0")).selectScalar(a)), QueryError);
}

// ---- the two application files' round trip

TEST(ApplicationFiles, SchemaScriptInsertsAndSelectAllRoundTrip) {
    sqltest::ScratchDir dir;
    const Date when = Date{} + std::chrono::milliseconds(1709647629250);
    const Uuid id = Uuid::random();
    {
        auto db = Connection::open(dir.file("doc.cwr"));
        db->execute("CREATE TABLE properties(flip_h INTEGER, margin REAL, image BLOB, stamp TEXT, id TEXT, "
                    "note TEXT);"
                    "CREATE TABLE bookmarks(id INTEGER PRIMARY KEY, location INTEGER)");
        const Table p("properties");
        db->transaction([&] {
            db->run(p.insert(
                Setter::assign(column<bool>("flip_h"), true), Setter::assign(column<double>("margin"), 0.1f),
                Setter::assign(column<std::optional<Data>>("image"), Data{}),
                Setter::assign(column<Date>("stamp"), when), Setter::assign(column<Uuid>("id"), id),
                Setter::assign(column<std::optional<std::string>>("note"), std::nullopt)));
            for (int i = 0; i < 3; ++i) {
                db->run(Table("bookmarks").insert(Setter::assign(column<int>("location"), 10 - i)));
            }
        });
    }
    auto db = Connection::open(dir.file("doc.cwr"), Connection::Access::readOnly);
    auto row = db->pluck(Table("properties").select(starExpression()).limit(1));
    ASSERT_TRUE(row);
    EXPECT_EQ(row->get(column<std::optional<bool>>("flip_h")), true);
    EXPECT_EQ(static_cast<float>(row->get(column<double>("margin"))), 0.1f);
    EXPECT_EQ(row->get(column<double>("margin")), 0.10000000149011612);
    EXPECT_EQ(row->get(column<std::optional<Data>>("image")), Data{});
    EXPECT_EQ(row->get(column<Date>("stamp")), when);
    EXPECT_EQ(row->get(column<Uuid>("id")), id);
    EXPECT_EQ(row->get(column<std::optional<std::string>>("note")), std::nullopt);
    std::vector<int> locations;
    for (const Row& r :
         db->prepare(Table("bookmarks").select(starExpression()).order(column<std::int64_t>("id")))) {
        locations.push_back(r.get(column<int>("location")));
    }
    EXPECT_EQ(locations, (std::vector<int>{10, 9, 8}));
}

// ---- rows read in place, statements run without copying their values

TEST_F(RowTest, RowsReadInPlaceFollowEachColumnsStoredType) {
    db->execute("CREATE TABLE m(v); INSERT INTO m VALUES (1), ('a long text that needs the heap'), (NULL), "
                "(x'00ff'), (2.5), ('short'), (x''), ('')");
    const Bindings expected{Binding(std::int64_t{1}),
                            Binding(std::string("a long text that needs the heap")),
                            std::nullopt,
                            Binding(Blob(std::vector<std::uint8_t>{0, 255})),
                            Binding(2.5),
                            Binding(std::string("short")),
                            Binding(Blob{}),
                            Binding(std::string())};
    Bindings seen;
    std::vector<Row> copies;
    for (const Row& r : db->prepare(Table("m").order(rowidExpression()))) {
        seen.push_back(r.values.at(0));
        copies.push_back(r);
    }
    EXPECT_EQ(seen, expected);
    ASSERT_EQ(copies.size(), expected.size());
    for (std::size_t i = 0; i < copies.size(); ++i) {
        EXPECT_EQ(copies[i].values, Bindings{expected[i]}) << i; // later rows did not write into them
    }
    Bindings viaStatement;
    for (const Bindings& values : db->prepare("SELECT v FROM m ORDER BY rowid")) {
        viaStatement.push_back(values.at(0));
    }
    EXPECT_EQ(viaStatement, expected);
    EXPECT_EQ(db->prepareRowIterator(Table("m").order(rowidExpression())).map([](const Row& r) {
        return r.values.at(0);
    }),
              std::vector<std::optional<Binding>>(expected.begin(), expected.end()));
}

TEST_F(RowTest, ValuesBoundForOneRunAreGoneBeforeTheStatementRunsAgain) {
    db->execute("CREATE TABLE k(id INTEGER PRIMARY KEY, name TEXT UNIQUE, data BLOB)");
    const Table k("k");
    const auto name = column<std::string>("name");
    const auto data = column<Blob>("data");
    {
        std::string temporary(40, 'x');
        db->run(k.insert(Setter::assign(name, temporary),
                         Setter::assign(data, Blob(std::vector<std::uint8_t>(64, 7)))));
    }
    // The same text with no values: its parameters must be NULL, not the last run's values.
    db->run(Insert("INSERT INTO \"k\" (\"name\", \"data\") VALUES (?, ?)"));
    EXPECT_EQ(count(*db, "k WHERE name IS NULL AND data IS NULL"), 1);
    // A failing run leaves the statement ready for the next one.
    EXPECT_THROW(db->run(k.insert(Setter::assign(name, std::string(40, 'x')), Setter::assign(data, Blob{}))),
                 Result);
    EXPECT_EQ(db->run(k.insert(Setter::assign(name, "y"), Setter::assign(data, Blob{}))), 3);
    // Alternating statements each find their own.
    for (int i = 0; i < 3; ++i) {
        db->run(k.insert(Setter::assign(name, "n" + std::to_string(i)), Setter::assign(data, Blob{})));
        EXPECT_EQ(db->run(k.filter(eq(name, "n" + std::to_string(i)))
                              .update(Setter::assign(name, "u" + std::to_string(i)))),
                  1);
    }
    auto rows = db->prepareRowIterator("SELECT name, length(data) FROM k ORDER BY id").map([](const Row& r) {
        return r.values;
    });
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[0], (Bindings{Binding(std::string(40, 'x')), Binding(std::int64_t{64})}));
    EXPECT_EQ(rows[2], (Bindings{Binding(std::string("y")), Binding(std::int64_t{0})}));
    EXPECT_EQ(rows[5][0], Binding(std::string("u2")));
}

// ---- schema changes: nothing cached outlives them

TEST(SchemaChanges, StarReadsAndPreparesFollowTheCurrentSchema) {
    sqltest::ScratchDir dir;
    auto db = Connection::open(dir.file("s.db"));
    auto other = Connection::open(dir.file("s.db"));
    const Table s("s");
    const auto x = column<std::string>("x");
    const auto z = column<std::string>("z");
    auto first = [&](const Expression<std::string>& c) { return db->prepare(s).failableNext()->get(c); };
    db->execute("CREATE TABLE s(x TEXT, y TEXT); INSERT INTO s VALUES ('x1', 'y1')");
    EXPECT_EQ(first(x), "x1");
    EXPECT_EQ(db->pluck(s.select(x))->get(x), "x1");

    db->execute("DROP TABLE s; CREATE TABLE s(y TEXT, x TEXT); INSERT INTO s VALUES ('y2', 'x2')");
    EXPECT_EQ(first(x), "x2");
    db->execute("ALTER TABLE s ADD COLUMN z TEXT DEFAULT 'z3'");
    EXPECT_EQ(first(z), "z3");
    other->execute("DROP TABLE s; CREATE TABLE s(z TEXT, x TEXT); INSERT INTO s VALUES ('z4', 'x4')");
    EXPECT_EQ(first(x), "x4");
    EXPECT_EQ(first(z), "z4");

    {
        // Prepared before the change, stepped after it.
        RowIterator typed = db->prepare(s);
        RowIterator plain = db->prepareRowIterator("SELECT * FROM s");
        other->execute("DROP TABLE s; CREATE TABLE s(x TEXT, w TEXT); INSERT INTO s VALUES ('x5', 'w5')");
        EXPECT_EQ(typed.failableNext()->get(x), "x5");
        EXPECT_EQ(plain.failableNext()->get(x), "x5");
    }

    other->execute("DROP TABLE s");
    EXPECT_THROW(db->prepare(s.select(x)), Result);
    db->execute("CREATE TABLE s(x TEXT)");
    EXPECT_FALSE(db->pluck(s.select(x)));
    db->execute("DROP TABLE s");
    EXPECT_THROW(db->prepare(s.select(x)), Result);
}

// ---- integers are 64 bits wide; narrower reads refuse what they cannot hold

TEST_F(RowTest, WideIntegersRoundTripAndNarrowReadsThrow) {
    const std::int64_t big = 5000000000;
    db->prepare("INSERT INTO t VALUES (?, 'big')").run(big);
    const auto wide = t.filter(eq(b, std::string("big")));
    EXPECT_EQ(db->pluck(wide)->get(a), big);
    EXPECT_EQ(db->scalar(wide.selectScalar(a)), big);
    EXPECT_EQ(db->pluck(t.filter(eq(a, std::int64_t{1})))->get(column<int>("a")), 1);
    const std::function<void()> narrowReads[] = {
        [&] { db->pluck(wide)->get(column<int>("a")); },
        [&] { db->pluck(wide)->get(column<std::optional<int>>("a")); },
        [&] { db->scalar(wide.selectScalar(column<int>("a"))); },
        [&] { db->scalar(wide.selectScalar(column<std::optional<int>>("a"))); },
        [&] {
            auto s = db->prepare("SELECT a FROM t WHERE b = 'big'");
            s.step();
            s.row().get<int>(0);
        },
    };
    for (const auto& read : narrowReads) {
        EXPECT_THAT(sqltest::queryError(read), testing::StartsWith("valueOutOfRange: ")); // not wrapped
    }
    // Unsigned values bind when they fit, and are refused when they would turn negative.
    EXPECT_EQ(db->scalar("SELECT ?", {Binding(std::int64_t{4000000000})}),
              db->prepare("SELECT ?").scalar(std::uint32_t{4000000000}));
    EXPECT_EQ(db->prepare("SELECT ?").scalar(std::uint64_t{42}), Binding(std::int64_t{42}));
    EXPECT_THROW(db->prepare("SELECT ?").scalar(std::uint64_t{1} << 63), Result);
}

// ---- comparing with an absent value

TEST_F(RowTest, EqualityWithAnAbsentValueMatchesNulls) {
    EXPECT_EQ(db->pluck(t.filter(eq(b, std::nullopt)))->get(a), 2);
    EXPECT_EQ(db->pluck(t.filter(eq(b, std::optional<std::string>())))->get(a), 2);
    EXPECT_EQ(db->scalar(t.filter(ne(b, std::nullopt)).count()), 1);
    EXPECT_EQ(db->scalar(t.filter(ne(b, std::optional<std::string>("one"))).count()), 0);
}

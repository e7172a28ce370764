// Our own SQL functions, aggregates and collations, and the date builders' result types.
#include "SqlTestSupport.h"

#include <gmock/gmock.h>

#include "sql/CoreFunctions.h"

#include <sqlite3.h>

using namespace sql;

namespace {

std::shared_ptr<Connection> numbers() {
    return sqltest::memoryWith(
        "CREATE TABLE t (g INTEGER, v INTEGER, s TEXT, b BLOB);"
        "INSERT INTO t VALUES (1, 1, 'b', x''), (1, 2, NULL, NULL), (2, 10, 'a', x'0102'), (2, 20, "
        "'C', x'');");
}

std::vector<std::optional<Binding>> column(Connection& db, const std::string& sql, const Bindings& b = {}) {
    std::vector<std::optional<Binding>> out;
    for (const Row& row : db.prepareRowIterator(sql, b)) {
        out.push_back(row.values[0]);
    }
    return out;
}

} // namespace

TEST(CustomFunctions, TypedFunctionsRoundTripNullsAndEmptyBlobs) {
    auto db = numbers();
    const auto size =
        db->createFunction("size", true, [](std::optional<Blob> b) -> std::optional<std::int64_t> {
            if (!b) {
                return std::nullopt;
            }
            return static_cast<std::int64_t>(b->size());
        });
    const auto bytes = db->createFunction("bytes", true, [](std::optional<std::string_view> text) {
        return static_cast<std::int64_t>(text ? text->size() : 99);
    });
    const auto echo = db->createFunction("echo", true, [](const Blob& b) { return b; });
    const auto tag = db->createFunction("tag", false, [](std::optional<std::string> s, double n) {
        return s.value_or("none") + ":" + std::to_string(static_cast<int>(n));
    });
    const auto b = sql::column<std::optional<Blob>>("b");
    const auto s = sql::column<std::optional<std::string>>("s");
    const auto v = sql::column<std::int64_t>("v");
    EXPECT_EQ(size(b).templateText, "\"size\"(\"b\")");
    EXPECT_EQ(size(Blob()).bindings, (Bindings{Binding(Blob())}));
    const Expression<std::string> tagged = tag(s, 2.0);
    EXPECT_EQ(tagged.templateText, "\"tag\"(\"s\", ?)");
    EXPECT_EQ(tagged.bindings, (Bindings{Binding(2.0)}));

    const Table t("t");
    EXPECT_EQ(db->prepare(t.select(size(b)).order(v)).map([&](const Row& r) { return r.get(size(b)); }),
              (std::vector<std::optional<std::int64_t>>{0, std::nullopt, 2, 0}));
    EXPECT_EQ(db->prepare(t.select(bytes(s)).order(v)).map([&](const Row& r) { return r.get(bytes(s)); }),
              (std::vector<std::int64_t>{1, 99, 1, 1}));
    EXPECT_EQ(column(*db, "SELECT echo(x'')"), (std::vector<std::optional<Binding>>{Binding(Blob())}));
    EXPECT_EQ(db->prepare(t.select(tagged).order(v)).map([&](const Row& r) { return r.get(tagged); }),
              (std::vector<std::string>{"b:2", "none:2", "a:2", "C:2"}));
    // An INTEGER reaches a double argument; a NULL for a required argument fails the call.
    EXPECT_EQ(column(*db, "SELECT tag('x', 3)"), (std::vector<std::optional<Binding>>{Binding("x:3")}));
    EXPECT_THROW(column(*db, "SELECT echo(NULL)"), Result);
    (void)echo;
}

TEST(CustomFunctions, UntypedArgumentsReregistrationAndThrows) {
    auto db = numbers();
    std::vector<std::optional<Binding>> seen;
    db->createFunction("seen", std::nullopt, true, [&](const Bindings& args) -> std::optional<Binding> {
        seen.assign(args.begin(), args.end());
        return std::nullopt;
    });
    column(*db, "SELECT seen(1, 2.5, 'x', x'', NULL)");
    EXPECT_EQ(seen, (std::vector<std::optional<Binding>>{Binding(std::int64_t{1}), Binding(2.5), Binding("x"),
                                                         Binding(Blob()), std::nullopt}));

    db->createFunction("one", true, [] { return std::int64_t{1}; });
    db->createFunction("one", true, [] { return std::int64_t{2}; });
    EXPECT_EQ(column(*db, "SELECT one()"), (std::vector<std::optional<Binding>>{Binding(std::int64_t{2})}));

    db->createFunction("fails", true, []() -> std::int64_t { throw std::runtime_error("no answer"); });
    EXPECT_THAT(sqltest::failure([&] { column(*db, "SELECT fails()"); }), testing::HasSubstr("no answer"));
}

// Registering while a statement of the connection runs fails with SQLITE_BUSY: thrown, and
// the program goes on with the earlier registration.
TEST(CustomFunctions, RegistrationWhileAStatementRunsThrowsBusy) {
    auto db = numbers();
    db->createFunction("twice", true, [](std::int64_t v) { return 2 * v; });
    db->createCollation("plain", [](std::string_view a, std::string_view b) { return a.compare(b); });
    RowIterator running = db->prepareRowIterator("SELECT twice(v) FROM t");
    ASSERT_TRUE(running.failableNext());
    using sqltest::failureCode;
    EXPECT_EQ(failureCode([&] { db->createFunction("twice", true, [](std::int64_t v) { return 3 * v; }); }),
              SQLITE_BUSY);
    EXPECT_EQ(failureCode([&] {
                  db->createAggregation(
                      "twice", 1, true, [] { return 0; }, [](int s, const Bindings&) { return s; },
                      [](int s) { return std::optional<Binding>(std::int64_t{s}); });
              }),
              SQLITE_BUSY);
    EXPECT_EQ(failureCode([&] {
                  db->createCollation("plain", [](std::string_view, std::string_view) { return 0; });
              }),
              SQLITE_BUSY);
    EXPECT_EQ(running.failableNext()->values[0], Binding(std::int64_t{4}));
}

TEST(CustomAggregates, EveryGroupStartsFromAFreshState) {
    auto db = numbers();
    // The state is an object changed in place: a shared initial object would carry the
    // first group's sum into the second.
    db->createAggregation(
        "objectSum", 1, true, [] { return std::make_shared<std::int64_t>(0); },
        [](std::shared_ptr<std::int64_t> sum, const Bindings& args) {
            *sum += std::get<std::int64_t>(*args[0]);
            return sum;
        },
        [](const std::shared_ptr<std::int64_t>& sum) { return std::optional<Binding>(*sum); });
    db->createAggregation(
        "valueSum", std::nullopt, false, [] { return std::int64_t{0}; },
        [](std::int64_t sum, const Bindings& args) { return sum + std::get<std::int64_t>(*args[0]); },
        [](std::int64_t sum) { return std::optional<Binding>(sum); });
    for (const char* name : {"objectSum", "valueSum"}) {
        EXPECT_EQ(column(*db, std::string("SELECT ") + name + "(v) FROM t GROUP BY g ORDER BY g"),
                  (std::vector<std::optional<Binding>>{Binding(std::int64_t{3}), Binding(std::int64_t{30})}))
            << name;
        // No rows: the final step alone runs, from a fresh state.
        EXPECT_EQ(column(*db, std::string("SELECT ") + name + "(v) FROM t WHERE 0"),
                  (std::vector<std::optional<Binding>>{Binding(std::int64_t{0})}))
            << name;
    }
}

TEST(Collations, OrderByUsesTheComparatorAndReregistrationReplacesIt) {
    auto db = numbers();
    std::size_t longest = 0;
    db->createCollation("reverse", [&](std::string_view a, std::string_view b) {
        longest = std::max({longest, a.size(), b.size()});
        return b.compare(a);
    });
    const auto s = sql::column<std::optional<std::string>>("s");
    const auto sorted = [&] {
        return db
            ->prepare(Table("t")
                          .select(s)
                          .filter(isNot(s, std::nullopt))
                          .order(collate(s, Collation::custom("reverse"))))
            .map([&](const Row& r) { return r.get(s).value_or("?"); });
    };
    EXPECT_EQ(sorted(), (std::vector<std::string>{"b", "a", "C"}));
    EXPECT_EQ(longest, 1u); // the given lengths only, no terminator or neighbouring bytes
    db->createCollation("reverse", [](std::string_view a, std::string_view b) { return a.compare(b); });
    EXPECT_EQ(sorted(), (std::vector<std::string>{"C", "a", "b"}));
    EXPECT_EQ(Collation::custom("we\"ird").description(), "\"we\"\"ird\"");
}

// SQLite's date functions answer text and julianday a number: typed so, they read back.
TEST(DateBuilders, ResultsReadAsTextAndJuliandayAsReal) {
    auto db = numbers();
    const Table t("t");
    const auto one = [&](const auto& e) { return db->scalar(t.limit(1).selectScalar(e)); };
    const auto d = DateFunctions::date("now", {"start of month", "+1 month"});
    EXPECT_EQ(d.templateText, "date(?, ?, ?)");
    EXPECT_EQ(d.bindings, (Bindings{Binding("now"), Binding("start of month"), Binding("+1 month")}));
    ASSERT_TRUE(one(d));
    EXPECT_EQ(one(d)->size(), 10u);
    EXPECT_EQ(one(d)->substr(8), "01");
    EXPECT_EQ(one(DateFunctions::datetime("2024-03-05 14:07:09", {"+1 day"})), "2024-03-06 14:07:09");
    EXPECT_EQ(one(DateFunctions::time("2024-03-05 14:07:09")), "14:07:09");
    EXPECT_EQ(one(DateFunctions::strftime("%Y", "2024-03-05")), "2024");
    EXPECT_EQ(DateFunctions::strftime("%Y", "2024-03-05").bindings.size(), 2u);
    EXPECT_EQ(one(DateFunctions::julianday("2024-03-05")), 2460374.5);
    const Date when = std::chrono::sys_days(std::chrono::year(2024) / 3 / 5) + std::chrono::hours(1);
    EXPECT_EQ(DateFunctions::date(when).bindings, (Bindings{Binding("2024-03-05T01:00:00.000")}));
    EXPECT_EQ(one(DateFunctions::date(when)), "2024-03-05");
    EXPECT_EQ(one(DateFunctions::julianday(valueExpression(when))), 2460374.5 + 1.0 / 24);
    EXPECT_EQ(one(DateFunctions::date(sql::column<std::string>("s"))), std::nullopt); // 'b' is no date
}

// The SQL layer beside the raw sqlite3 C API and SQLiteCpp: 100,000 prepared inserts in one
// transaction, a full typed read of 100,000 rows (integer, real, text, blob), and 10,000
// one-row lookups each prepared as a typed query, and queries filtered and ordered by a
// function and a collation of our own, registered through the layer and through the C API.
#include "sql/Connection.h"
#include "sql/CoreFunctions.h"
#include "support/Ratios.h"

#include <SQLiteCpp/SQLiteCpp.h>
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int kRows = 100000;
constexpr const char* kSchema = "CREATE TABLE items(n INTEGER, x REAL, label TEXT, payload BLOB)";
constexpr const char* kInsert = "INSERT INTO items (n, x, label, payload) VALUES (?, ?, ?, ?)";
constexpr const char* kSelect = "SELECT n, x, label, payload FROM items";

// Texts and blobs long enough to need the heap, as real rows do.
struct Input {
    std::vector<std::string> labels;
    sql::Blob payload;
    Input()
        : payload(std::vector<std::uint8_t>(48, 0xab)) {
        labels.reserve(kRows);
        for (int i = 0; i < kRows; ++i) {
            labels.push_back("label of row number " + std::to_string(i));
        }
    }
};
const Input& input() {
    static const Input in;
    return in;
}

// What every reader produces: typed values, summed so nothing is optimised away.
struct Sink {
    std::int64_t n = 0;
    double x = 0;
    std::size_t bytes = 0;
    void add(std::int64_t a, double b, const std::string& s, const std::vector<std::uint8_t>& p) {
        n += a;
        x += b;
        bytes += s.size() + p.size();
    }
};

// ---- inserts

// Runs `insert` on a fresh database that `open` makes, once per iteration; opening the database
// and closing it again are not timed.
template <class Open, class Insert> void timeInserts(benchmark::State& state, Open open, Insert insert) {
    for (auto _ : state) {
        state.PauseTiming();
        auto db = open();
        state.ResumeTiming();
        insert(*db);
        state.PauseTiming();
        db.reset();
        state.ResumeTiming();
    }
}

std::shared_ptr<sql::Connection> openEmptyConnection() {
    auto db = sql::Connection::open(sql::Location::inMemory());
    db->execute(kSchema);
    return db;
}

// Every row of the input, through one prepared statement of ours.
void insertRows(sql::Connection& db, const Input& in) {
    db.transaction([&] {
        sql::Statement s = db.prepare(kInsert);
        for (int i = 0; i < kRows; ++i) {
            s.run(i, i * 0.5, in.labels[i], in.payload);
        }
    });
}

void BM_InsertRaw(benchmark::State& state) {
    const Input& in = input();
    auto open = [] {
        sqlite3* db = nullptr;
        sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr);
        sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
        return std::unique_ptr<sqlite3, int (*)(sqlite3*)>(db, sqlite3_close);
    };
    timeInserts(state, open, [&](sqlite3& db) {
        sqlite3_exec(&db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(&db, kInsert, -1, &s, nullptr);
        for (int i = 0; i < kRows; ++i) {
            sqlite3_reset(s);
            sqlite3_clear_bindings(s);
            sqlite3_bind_int64(s, 1, i);
            sqlite3_bind_double(s, 2, i * 0.5);
            sqlite3_bind_text64(s, 3, in.labels[i].data(), in.labels[i].size(), SQLITE_TRANSIENT,
                                SQLITE_UTF8);
            sqlite3_bind_blob64(s, 4, in.payload.bytes.data(), in.payload.bytes.size(), SQLITE_TRANSIENT);
            if (sqlite3_step(s) != SQLITE_DONE) {
                state.SkipWithError("insert failed");
            }
        }
        sqlite3_finalize(s);
        sqlite3_exec(&db, "COMMIT", nullptr, nullptr, nullptr);
    });
}
BENCHMARK(BM_InsertRaw)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_InsertStatement(benchmark::State& state) {
    const Input& in = input();
    timeInserts(state, openEmptyConnection, [&](sql::Connection& db) { insertRows(db, in); });
}
BENCHMARK(BM_InsertStatement)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_InsertBuilder(benchmark::State& state) {
    const Input& in = input();
    const sql::Table items("items");
    const auto n = sql::column<std::int64_t>("n");
    const auto x = sql::column<double>("x");
    const auto label = sql::column<std::string>("label");
    const auto payload = sql::column<sql::Blob>("payload");
    timeInserts(state, openEmptyConnection, [&](sql::Connection& db) {
        db.transaction([&] {
            for (int i = 0; i < kRows; ++i) {
                db.run(items.insert(sql::Setter::assign(n, i), sql::Setter::assign(x, i * 0.5),
                                    sql::Setter::assign(label, in.labels[i]),
                                    sql::Setter::assign(payload, in.payload)));
            }
        });
    });
}
BENCHMARK(BM_InsertBuilder)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_InsertSQLiteCpp(benchmark::State& state) {
    const Input& in = input();
    auto open = [] {
        auto db = std::make_unique<SQLite::Database>(
            ":memory:", SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE | SQLite::OPEN_FULLMUTEX);
        db->exec(kSchema);
        return db;
    };
    timeInserts(state, open, [&](SQLite::Database& db) {
        SQLite::Transaction transaction(db);
        SQLite::Statement s(db, kInsert);
        for (int i = 0; i < kRows; ++i) {
            s.bind(1, static_cast<std::int64_t>(i));
            s.bind(2, i * 0.5);
            s.bind(3, in.labels[i]);
            s.bind(4, in.payload.bytes.data(), static_cast<int>(in.payload.bytes.size()));
            s.exec();
            s.reset();
        }
        transaction.commit();
    });
}
BENCHMARK(BM_InsertSQLiteCpp)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- reads

// One filled file shared by every reader (a file, as the application reads its own).
const std::string& filledFile() {
    static const std::string path = [] {
        std::string p = "/tmp/cw_bench_sql_" + std::to_string(::getpid()) + ".db";
        std::remove(p.c_str());
        auto db = sql::Connection::open(p);
        db->execute(kSchema);
        insertRows(*db, input());
        std::atexit([] { std::remove(filledFile().c_str()); });
        return p;
    }();
    return path;
}

void BM_ReadRaw(benchmark::State& state) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(filledFile().c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX, nullptr);
    for (auto _ : state) {
        Sink sink;
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db, kSelect, -1, &s, nullptr);
        while (sqlite3_step(s) == SQLITE_ROW) {
            const std::int64_t n = sqlite3_column_int64(s, 0);
            const double x = sqlite3_column_double(s, 1);
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, 2));
            std::string label(text, static_cast<std::size_t>(sqlite3_column_bytes(s, 2)));
            const auto* blob = static_cast<const std::uint8_t*>(sqlite3_column_blob(s, 3));
            std::vector<std::uint8_t> payload(blob, blob + sqlite3_column_bytes(s, 3));
            sink.add(n, x, label, payload);
        }
        sqlite3_finalize(s);
        benchmark::DoNotOptimize(sink);
    }
    sqlite3_close(db);
}
BENCHMARK(BM_ReadRaw)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadStatement(benchmark::State& state) {
    auto db = sql::Connection::open(filledFile(), sql::Connection::Access::readOnly);
    for (auto _ : state) {
        Sink sink;
        sql::Statement s = db->prepare(kSelect);
        while (s.step()) {
            const sql::Cursor row = s.row();
            sink.add(row.get<std::int64_t>(0), row.get<double>(1), row.get<std::string>(2),
                     row.get<sql::Blob>(3).bytes);
        }
        benchmark::DoNotOptimize(sink);
    }
}
BENCHMARK(BM_ReadStatement)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadBuilder(benchmark::State& state) {
    auto db = sql::Connection::open(filledFile(), sql::Connection::Access::readOnly);
    const sql::Table items("items");
    const auto n = sql::column<std::int64_t>("n");
    const auto x = sql::column<double>("x");
    const auto label = sql::column<std::string>("label");
    const auto payload = sql::column<sql::Data>("payload");
    for (auto _ : state) {
        Sink sink;
        for (const sql::Row& row : db->prepare(items.select(sql::starExpression()))) {
            sink.add(row.get(n), row.get(x), row.get(label), row.get(payload));
        }
        benchmark::DoNotOptimize(sink);
    }
}
BENCHMARK(BM_ReadBuilder)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadSQLiteCpp(benchmark::State& state) {
    SQLite::Database db(filledFile(), SQLite::OPEN_READONLY | SQLite::OPEN_FULLMUTEX);
    for (auto _ : state) {
        Sink sink;
        SQLite::Statement s(db, kSelect);
        while (s.executeStep()) {
            const SQLite::Column blob = s.getColumn(3);
            const auto* p = static_cast<const std::uint8_t*>(blob.getBlob());
            sink.add(s.getColumn(0).getInt64(), s.getColumn(1).getDouble(), s.getColumn(2).getString(),
                     std::vector<std::uint8_t>(p, p + blob.getBytes()));
        }
        benchmark::DoNotOptimize(sink);
    }
}
BENCHMARK(BM_ReadSQLiteCpp)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadSQLiteCppByName(benchmark::State& state) {
    SQLite::Database db(filledFile(), SQLite::OPEN_READONLY | SQLite::OPEN_FULLMUTEX);
    for (auto _ : state) {
        Sink sink;
        SQLite::Statement s(db, "SELECT * FROM items");
        while (s.executeStep()) {
            const SQLite::Column blob = s.getColumn("payload");
            const auto* p = static_cast<const std::uint8_t*>(blob.getBlob());
            sink.add(s.getColumn("n").getInt64(), s.getColumn("x").getDouble(),
                     s.getColumn("label").getString(), std::vector<std::uint8_t>(p, p + blob.getBytes()));
        }
        benchmark::DoNotOptimize(sink);
    }
}
BENCHMARK(BM_ReadSQLiteCppByName)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- one-row lookups: each prepares a query and reads its row, where per-query costs (the
// statement cache, the schema check, the column map) show

constexpr int kLookups = 10000;

void BM_LookupRaw(benchmark::State& state) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(filledFile().c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX, nullptr);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "SELECT * FROM items WHERE rowid = ?", -1, &s, nullptr);
    for (auto _ : state) {
        Sink sink;
        for (int i = 1; i <= kLookups; ++i) {
            sqlite3_reset(s);
            sqlite3_bind_int64(s, 1, i);
            if (sqlite3_step(s) == SQLITE_ROW) {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, 2));
                std::string label(text, static_cast<std::size_t>(sqlite3_column_bytes(s, 2)));
                sink.add(sqlite3_column_int64(s, 0), sqlite3_column_double(s, 1), label, {});
            }
        }
        benchmark::DoNotOptimize(sink);
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
}
BENCHMARK(BM_LookupRaw)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LookupBuilder(benchmark::State& state) {
    auto db = sql::Connection::open(filledFile(), sql::Connection::Access::readOnly);
    const sql::Table items("items");
    const auto n = sql::column<std::int64_t>("n");
    const auto x = sql::column<double>("x");
    const auto label = sql::column<std::string>("label");
    for (auto _ : state) {
        Sink sink;
        for (int i = 1; i <= kLookups; ++i) {
            if (auto row = db->pluck(items.filter(sql::eq(sql::rowidExpression(), std::int64_t{i})))) {
                sink.add(row->get(n), row->get(x), row->get(label), {});
            }
        }
        benchmark::DoNotOptimize(sink);
    }
}
BENCHMARK(BM_LookupBuilder)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- our own function and collation: 100,000 calls of the function in the filter and as many
// in the sort keys, about 1.7 million comparisons of the collation

std::int64_t score(std::int64_t n, std::size_t length) {
    return (n * 31 + static_cast<std::int64_t>(length)) % 1000;
}
// Texts by their last byte first: a collation SQLite does not have.
int reversedCompare(std::string_view a, std::string_view b) {
    return std::lexicographical_compare(b.rbegin(), b.rend(), a.rbegin(), a.rend())   ? -1
           : std::lexicographical_compare(a.rbegin(), a.rend(), b.rbegin(), b.rend()) ? 1
                                                                                      : 0;
}
constexpr const char* kFunctionQuery = "SELECT \"n\" FROM \"items\" WHERE (\"score\"(\"n\", \"label\") < ?) "
                                       "ORDER BY \"score\"(\"n\", \"label\")";
constexpr const char* kCollationQuery =
    "SELECT \"n\" FROM \"items\" WHERE (\"n\" < ?) ORDER BY (\"label\" COLLATE \"reversed\")";

// Runs `sql` with the bound limit on the raw handle and sums the first column.
void runRaw(benchmark::State& state, sqlite3* db, const char* sql, std::int64_t limit) {
    for (auto _ : state) {
        std::int64_t sum = 0;
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
        sqlite3_bind_int64(s, 1, limit);
        while (sqlite3_step(s) == SQLITE_ROW) {
            sum += sqlite3_column_int64(s, 0);
        }
        sqlite3_finalize(s);
        benchmark::DoNotOptimize(sum);
    }
}

// The function and the collation registered with the C API.
void registerRaw(sqlite3* db) {
    sqlite3_create_function_v2(
        db, "score", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
        [](sqlite3_context* context, int, sqlite3_value** values) {
            if (sqlite3_value_type(values[0]) == SQLITE_NULL ||
                sqlite3_value_type(values[1]) == SQLITE_NULL) {
                sqlite3_result_error(context, "NULL argument", -1);
                return;
            }
            sqlite3_value_text(values[1]);
            sqlite3_result_int64(context, score(sqlite3_value_int64(values[0]),
                                                static_cast<std::size_t>(sqlite3_value_bytes(values[1]))));
        },
        nullptr, nullptr, nullptr);
    sqlite3_create_collation_v2(
        db, "reversed", SQLITE_UTF8, nullptr,
        [](void*, int la, const void* a, int lb, const void* b) {
            return reversedCompare(
                std::string_view(static_cast<const char*>(a), static_cast<std::size_t>(la)),
                std::string_view(static_cast<const char*>(b), static_cast<std::size_t>(lb)));
        },
        nullptr);
}

sqlite3* openRaw() {
    sqlite3* db = nullptr;
    sqlite3_open_v2(filledFile().c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX, nullptr);
    registerRaw(db);
    return db;
}

void BM_FunctionRaw(benchmark::State& state) {
    sqlite3* db = openRaw();
    runRaw(state, db, kFunctionQuery, 500);
    sqlite3_close(db);
}
BENCHMARK(BM_FunctionRaw)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CollationRaw(benchmark::State& state) {
    sqlite3* db = openRaw();
    runRaw(state, db, kCollationQuery, kRows);
    sqlite3_close(db);
}
BENCHMARK(BM_CollationRaw)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same queries built, registered and read through the layer.
template <class Query> void runOurs(benchmark::State& state, sql::Connection& db, const Query& query) {
    const auto n = sql::column<std::int64_t>("n");
    for (auto _ : state) {
        std::int64_t sum = 0;
        for (const sql::Row& row : db.prepare(query)) {
            sum += row.get(n);
        }
        benchmark::DoNotOptimize(sum);
    }
}

// The queries as the builder makes them; `scoreOf` renders the function's call.
template <class Score> auto functionQuery(const Score& scoreOf) {
    const auto n = sql::column<std::int64_t>("n");
    const auto label = sql::column<std::string>("label");
    return sql::Table("items")
        .select(n)
        .filter(sql::lt(scoreOf(n, label), std::int64_t{500}))
        .order(scoreOf(n, label));
}
auto collationQuery() {
    const auto n = sql::column<std::int64_t>("n");
    const auto label = sql::column<std::string>("label");
    return sql::Table("items")
        .select(n)
        .filter(sql::lt(n, std::int64_t{kRows}))
        .order(sql::collate(label, sql::Collation::custom("reversed")));
}
const auto rawScore = [](const auto& n, const auto& label) {
    return sql::Expression<std::int64_t>(sql::call("\"score\"", n, label));
};

template <class Query>
void runQuery(benchmark::State& state, sql::Connection& db, const Query& query, const char* sql) {
    if (query.expression().templateText != sql) {
        state.SkipWithError("not the raw benchmark's query");
    }
    runOurs(state, db, query);
}

void BM_Function(benchmark::State& state) {
    auto db = sql::Connection::open(filledFile(), sql::Connection::Access::readOnly);
    const auto scoreOf = db->createFunction(
        "score", true, [](std::int64_t n, std::string_view label) { return score(n, label.size()); });
    runQuery(state, *db, functionQuery(scoreOf), kFunctionQuery);
}
BENCHMARK(BM_Function)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same query through the layer, the function registered with the C API on its handle.
void BM_FunctionRegisteredRaw(benchmark::State& state) {
    auto db = sql::Connection::open(filledFile(), sql::Connection::Access::readOnly);
    registerRaw(db->handle());
    runQuery(state, *db, functionQuery(rawScore), kFunctionQuery);
}
BENCHMARK(BM_FunctionRegisteredRaw)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Collation(benchmark::State& state) {
    auto db = sql::Connection::open(filledFile(), sql::Connection::Access::readOnly);
    db->createCollation("reversed",
                        [](std::string_view a, std::string_view b) { return reversedCompare(a, b); });
    runQuery(state, *db, collationQuery(), kCollationQuery);
}
BENCHMARK(BM_Collation)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CollationRegisteredRaw(benchmark::State& state) {
    auto db = sql::Connection::open(filledFile(), sql::Connection::Access::readOnly);
    registerRaw(db->handle());
    runQuery(state, *db, collationQuery(), kCollationQuery);
}
BENCHMARK(BM_CollationRegisteredRaw)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    return benchsupport::runWithRatios(
        argc, argv,
        {{"BM_InsertStatement", "BM_InsertRaw"},
         {"BM_InsertBuilder", "BM_InsertRaw"},
         {"BM_InsertSQLiteCpp", "BM_InsertRaw"},
         {"BM_ReadStatement", "BM_ReadRaw"},
         {"BM_ReadBuilder", "BM_ReadRaw"},
         {"BM_ReadSQLiteCpp", "BM_ReadRaw"},
         {"BM_ReadSQLiteCppByName", "BM_ReadRaw"},
         {"BM_LookupBuilder", "BM_LookupRaw"},
         {"BM_InsertStatement", "BM_InsertSQLiteCpp"},
         {"BM_InsertBuilder", "BM_InsertSQLiteCpp"},
         {"BM_ReadStatement", "BM_ReadSQLiteCpp"},
         {"BM_ReadBuilder", "BM_ReadSQLiteCppByName"},
         {"BM_Function", "BM_FunctionRegisteredRaw"},
         {"BM_Collation", "BM_CollationRegisteredRaw"},
         {"BM_Function", "BM_FunctionRaw"},
         {"BM_Collation", "BM_CollationRaw"}},
        "Statement <= 1.10, builder insert <= 1.5, builder read <= 1.3 of raw; < 1 of SQLiteCpp; "
        "function and collation <= 1.15 of the same registered with the C API");
}

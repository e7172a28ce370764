// FTS5 MATCH queries over 100,000 rows, built with the full-text configuration and the query
// builder and read as typed rows, beside the same SQL through the raw sqlite3 C API.
#include "sql/Connection.h"
#include "sql/Row.h"
#include "sql/schema/FullText.h"
#include "support/Ratios.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace {

constexpr int kRows = 100000;
const sql::VirtualTable docs("docs");
const auto body = sql::column<std::string>("body");
// A word in one row of a hundred, and one in one row of ten: the second measures reading the
// rows as much as searching.
constexpr const char* kPatterns[] = {"tag42", "word7"};
constexpr const char* kQuery = R"(SELECT "ROWID", "body" FROM "docs" WHERE ("docs" MATCH ?))";

// The table from the builder's configuration, filled in one transaction.
std::shared_ptr<sql::Connection> filled() {
    auto db = sql::Connection::open(sql::Location::inMemory());
    db->execute(
        sql::create(docs, sql::fts5(sql::FTS5Config().column(body).tokenizer(sql::Tokenizer::porter()))));
    db->transaction([&] {
        sql::Statement insert = db->prepare("INSERT INTO docs (body) VALUES (?)");
        for (int i = 0; i < kRows; ++i) {
            insert.run("line " + std::to_string(i) + " word" + std::to_string(i % 10) + " tag" +
                       std::to_string(i % 100) + " of running text");
        }
    });
    return db;
}

auto query(const char* pattern) {
    return sql::matchFilter(docs.select(sql::rowidExpression(), body), pattern);
}

void BM_MatchRaw(benchmark::State& state) {
    auto owner = filled();
    sqlite3* db = owner->handle();
    const char* pattern = kPatterns[state.range(0)];
    for (auto _ : state) {
        std::int64_t sum = 0;
        std::size_t bytes = 0;
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db, kQuery, -1, &s, nullptr);
        sqlite3_bind_text(s, 1, pattern, -1, SQLITE_STATIC);
        while (sqlite3_step(s) == SQLITE_ROW) {
            sum += sqlite3_column_int64(s, 0);
            const std::string text(reinterpret_cast<const char*>(sqlite3_column_text(s, 1)),
                                   static_cast<std::size_t>(sqlite3_column_bytes(s, 1)));
            bytes += text.size();
        }
        sqlite3_finalize(s);
        benchmark::DoNotOptimize(sum);
        benchmark::DoNotOptimize(bytes);
    }
}
BENCHMARK(BM_MatchRaw)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_MatchBuilder(benchmark::State& state) {
    auto db = filled();
    const char* pattern = kPatterns[state.range(0)];
    if (query(pattern).expression().templateText != kQuery) {
        state.SkipWithError("not the raw benchmark's query");
    }
    for (auto _ : state) {
        std::int64_t sum = 0;
        std::size_t bytes = 0;
        for (const sql::Row& row : db->prepare(query(pattern))) {
            sum += row.get(sql::rowidExpression());
            bytes += row.get(body).size();
        }
        benchmark::DoNotOptimize(sum);
        benchmark::DoNotOptimize(bytes);
    }
}
BENCHMARK(BM_MatchBuilder)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    return benchsupport::runWithRatios(
        argc, argv, {{"BM_MatchBuilder/0", "BM_MatchRaw/0"}, {"BM_MatchBuilder/1", "BM_MatchRaw/1"}},
        "<= 1.1");
}

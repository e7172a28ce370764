// Record coding beside hand-written setters and typed reads of the same columns, in the same run:
// 100,000 one-row inserts in one transaction, the same in statements of 100 rows, and a full read
// of 100,000 rows into records.
#include "sql/Connection.h"
#include "sql/records/RecordCoding.h"
#include "support/Ratios.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace bench {

struct Item {
    std::int64_t n = 0;
    double x = 0;
    std::string label;
    sql::Data payload;
};
CW_SQL_RECORD(Item, n, x, label, payload)

} // namespace bench

namespace {

using bench::Item;

constexpr int kRows = 100000;
constexpr std::size_t kBatch = 100;
constexpr const char* kSchema = "CREATE TABLE items(n INTEGER, x REAL, label TEXT, payload BLOB)";

const sql::Table items("items");
const auto n = sql::column<std::int64_t>("n");
const auto x = sql::column<double>("x");
const auto label = sql::column<std::string>("label");
const auto payload = sql::column<sql::Data>("payload");

// Texts and blobs long enough to need the heap, as real rows do.
const std::vector<Item>& input() {
    static const std::vector<Item> in = [] {
        std::vector<Item> out;
        out.reserve(kRows);
        for (int i = 0; i < kRows; ++i) {
            out.push_back({i, i * 0.5, "label of row number " + std::to_string(i), sql::Data(48, 0xab)});
        }
        return out;
    }();
    return in;
}

std::vector<sql::Setter> handWrittenSetters(const Item& item) {
    std::vector<sql::Setter> setters;
    setters.reserve(4);
    setters.push_back(sql::Setter::assign(n, item.n));
    setters.push_back(sql::Setter::assign(x, item.x));
    setters.push_back(sql::Setter::assign(label, item.label));
    setters.push_back(sql::Setter::assign(payload, item.payload));
    return setters;
}

// Runs `insert` on a fresh in-memory database once per iteration; opening and closing it are
// not timed.
template <class Insert> void timeInserts(benchmark::State& state, Insert insert) {
    for (auto _ : state) {
        state.PauseTiming();
        auto db = sql::Connection::open(sql::Location::inMemory());
        db->execute(kSchema);
        state.ResumeTiming();
        db->transaction([&] { insert(*db); });
        state.PauseTiming();
        db.reset();
        state.ResumeTiming();
    }
}

void BM_InsertHandWritten(benchmark::State& state) {
    const auto& in = input();
    timeInserts(state, [&](sql::Connection& db) {
        for (const Item& item : in) {
            db.run(items.insert(sql::Setter::assign(n, item.n), sql::Setter::assign(x, item.x),
                                sql::Setter::assign(label, item.label),
                                sql::Setter::assign(payload, item.payload)));
        }
    });
}
BENCHMARK(BM_InsertHandWritten)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_InsertRecords(benchmark::State& state) {
    const auto& in = input();
    timeInserts(state, [&](sql::Connection& db) {
        for (const Item& item : in) {
            db.run(sql::insertRecord(items, item));
        }
    });
}
BENCHMARK(BM_InsertRecords)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_InsertManyHandWritten(benchmark::State& state) {
    const auto& in = input();
    timeInserts(state, [&](sql::Connection& db) {
        std::vector<std::vector<sql::Setter>> rows;
        for (std::size_t i = 0; i < in.size(); i += kBatch) {
            rows.clear();
            for (std::size_t j = i; j < i + kBatch && j < in.size(); ++j) {
                rows.push_back(handWrittenSetters(in[j]));
            }
            db.run(items.insertMany(rows));
        }
    });
}
BENCHMARK(BM_InsertManyHandWritten)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_InsertManyRecords(benchmark::State& state) {
    const auto& in = input();
    timeInserts(state, [&](sql::Connection& db) {
        for (std::size_t i = 0; i < in.size(); i += kBatch) {
            db.run(sql::insertRecords(items,
                                      std::span<const Item>(in).subspan(i, std::min(kBatch, in.size() - i))));
        }
    });
}
BENCHMARK(BM_InsertManyRecords)->Unit(benchmark::kMillisecond)->UseRealTime();

// One filled file shared by both readers.
const std::string& filledFile() {
    static const std::string path = [] {
        std::string p = "/tmp/cw_bench_sql_records_" + std::to_string(::getpid()) + ".db";
        std::remove(p.c_str());
        auto db = sql::Connection::open(p);
        db->execute(kSchema);
        db->transaction([&] {
            for (const Item& item : input()) {
                db->run(sql::insertRecord(items, item));
            }
        });
        std::atexit([] { std::remove(filledFile().c_str()); });
        return p;
    }();
    return path;
}

// What both readers produce: records, summed so nothing is optimised away.
struct Sink {
    std::int64_t n = 0;
    double x = 0;
    std::size_t bytes = 0;
    void add(const Item& item) {
        n += item.n;
        x += item.x;
        bytes += item.label.size() + item.payload.size();
    }
};

template <class Read> void timeReads(benchmark::State& state, Read read) {
    auto db = sql::Connection::open(filledFile(), sql::Connection::Access::readOnly);
    for (auto _ : state) {
        Sink sink;
        for (const sql::Row& row : db->prepare(items.select(sql::starExpression()))) {
            sink.add(read(row));
        }
        benchmark::DoNotOptimize(sink);
    }
}

void BM_ReadHandWritten(benchmark::State& state) {
    timeReads(state, [](const sql::Row& row) {
        return Item{row.get(n), row.get(x), row.get(label), row.get(payload)};
    });
}
BENCHMARK(BM_ReadHandWritten)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadRecords(benchmark::State& state) {
    timeReads(state, [](const sql::Row& row) { return sql::decodeRecord<Item>(row); });
}
BENCHMARK(BM_ReadRecords)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    return benchsupport::runWithRatios(argc, argv,
                                       {{"BM_InsertRecords", "BM_InsertHandWritten"},
                                        {"BM_InsertManyRecords", "BM_InsertManyHandWritten"},
                                        {"BM_ReadRecords", "BM_ReadHandWritten"}},
                                       "records <= 1.3 of hand-written setters and typed reads");
}

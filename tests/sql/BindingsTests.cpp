// Value lists that keep a few values in place, and the column lookup of rows: what the
// builder and the row reader rely on when lists grow, alias themselves or are moved.
#include "SqlTestSupport.h"

#include <numeric>
#include <vector>

using namespace sql;

namespace {

std::optional<Binding> text(std::string s) {
    return Binding(std::move(s));
}
std::optional<Binding> num(std::int64_t v) {
    return Binding(v);
}

// Long enough to live on the heap, so a lost or doubled move shows.
std::string longText(int i) {
    return "a text that does not fit in place, number " + std::to_string(i);
}

Bindings numbered(int count) {
    Bindings out;
    for (int i = 0; i < count; ++i) {
        out.push_back(text(longText(i)));
    }
    return out;
}

void expectNumbered(const Bindings& b, std::vector<int> order) {
    ASSERT_EQ(b.size(), order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(b[i], text(longText(order[i]))) << "at " << i;
    }
}

} // namespace

// ---- Bindings

TEST(Bindings, GrowsPastItsInlineRoomKeepingOrder) {
    for (int count : {0, 1, 4, 5, 9, 40}) {
        std::vector<int> order(static_cast<std::size_t>(count));
        std::iota(order.begin(), order.end(), 0);
        expectNumbered(numbered(count), order);
    }
}

TEST(Bindings, CopiesAndMovesInlineAndOnTheHeap) {
    for (int count : {3, 12}) {
        Bindings original = numbered(count);
        Bindings copy = original;
        EXPECT_EQ(copy, original);
        Bindings moved = std::move(original);
        EXPECT_EQ(moved, copy);
        EXPECT_TRUE(original.empty()); // NOLINT: a moved-from list is empty
        original.push_back(num(1));    // and usable
        EXPECT_EQ(original, (Bindings{num(1)}));

        Bindings target = numbered(7);
        target = moved;
        EXPECT_EQ(target, copy);
        target = numbered(2); // shrinking assignment
        expectNumbered(target, {0, 1});
        target = std::move(moved);
        EXPECT_EQ(target, copy);
        swap(target, original);
        EXPECT_EQ(original, copy);
        EXPECT_EQ(target, (Bindings{num(1)}));
    }
}

TEST(Bindings, InsertsItsOwnValues) {
    Bindings inPlace = numbered(2); // room left in place
    inPlace.insert(inPlace.begin(), inPlace.begin() + 1, inPlace.end());
    expectNumbered(inPlace, {1, 0, 1});

    Bindings growing = numbered(4); // must move to the heap while copying itself
    growing.insert(growing.begin() + 1, growing.begin(), growing.end());
    expectNumbered(growing, {0, 0, 1, 2, 3, 1, 2, 3});

    Bindings appended = numbered(3);
    appended.insert(appended.end(), appended.begin(), appended.end());
    expectNumbered(appended, {0, 1, 2, 0, 1, 2});
}

TEST(Bindings, ErasesResizesAndIndexes) {
    Bindings b = numbered(6);
    b.erase(b.begin() + 1, b.begin() + 3);
    expectNumbered(b, {0, 3, 4, 5});
    b.erase(b.begin());
    expectNumbered(b, {3, 4, 5});
    b.resize(5);
    EXPECT_EQ(b.size(), 5u);
    EXPECT_FALSE(b[4].has_value());
    b.resize(1);
    expectNumbered(b, {3});
    EXPECT_THROW(static_cast<void>(b.at(1)), std::out_of_range);
    b.clear();
    EXPECT_TRUE(b.empty());
}

TEST(Bindings, ConvertsToAndFromPlainVectors) {
    const std::vector<std::optional<Binding>> plain{num(1), std::nullopt, text(longText(0))};
    const Bindings b = plain;
    EXPECT_EQ(b, (Bindings{num(1), std::nullopt, text(longText(0))}));
    const std::vector<std::optional<Binding>> back = b;
    EXPECT_EQ(back, plain);
}

// ---- setters from temporaries

TEST(Bindings, SettersTakeTemporaryTextsAndBlobs) {
    auto db = sqltest::memory();
    db->execute("CREATE TABLE t(s TEXT, d BLOB, o TEXT)");
    const Table t("t");
    const auto s = column<std::string>("s");
    const auto d = column<Data>("d");
    const auto o = column<std::optional<std::string>>("o");
    db->run(t.insert(Setter::assign(s, longText(1)), Setter::assign(d, Data(40, 7)),
                     Setter::assign(o, std::optional<std::string>(longText(2)))));
    const std::optional<Row> row = db->pluck(t);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->get(s), longText(1));
    EXPECT_EQ(row->get(d), Data(40, 7));
    EXPECT_EQ(row->get(o), longText(2));
}

// ---- column lookup

TEST(ColumnLookup, FindsEveryKeyAmongManyAndNothingElse) {
    ColumnMap map;
    std::vector<std::string> keys;
    for (int i = 0; i < 70; ++i) {
        // Same lengths and same middle characters, short and long keys: many share a hash.
        keys.push_back("\"c" + std::to_string(i % 10) + std::string(static_cast<std::size_t>(i / 10), 'x') +
                       "\"");
        keys.push_back("\"t\".\"" + std::string(static_cast<std::size_t>(i), 'y') + "\"");
    }
    for (std::size_t i = 0; i < keys.size(); ++i) {
        map.set(keys[i], static_cast<int>(i));
    }
    ASSERT_EQ(map.size(), keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(map.find(keys[i]), static_cast<int>(i)) << keys[i];
    }
    for (const char* absent : {"", "\"c\"", "\"c1xxxxxxx\"", "\"t\".\"yz\"", "\"d0\"", "\"c0x"}) {
        EXPECT_EQ(map.find(absent), std::nullopt) << absent;
    }
    map.set(keys[5], 999); // a key set again takes the new index
    EXPECT_EQ(map.find(keys[5]), 999);
    EXPECT_EQ(map.size(), keys.size());
}

TEST(ColumnLookup, KeysDifferingInOneByteAnywhere) {
    for (std::size_t length : {1u, 3u, 5u, 8u, 12u, 16u, 17u, 40u}) {
        ColumnMap map;
        const std::string base(length, 'k');
        map.set(base, 0);
        for (std::size_t at = 0; at < length; ++at) {
            std::string other = base;
            other[at] = 'q';
            EXPECT_EQ(map.find(other), std::nullopt) << length << " " << at;
        }
        EXPECT_EQ(map.find(base), 0);
    }
}

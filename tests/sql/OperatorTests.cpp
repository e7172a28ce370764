// Operators, core and aggregate function builders and compound setters: their SQL, their
// binding order, and what SQLite answers for them on a known row.
#include "SqlTestSupport.h"

#include "sql/CoreFunctions.h"

using namespace sql;

namespace {

const auto x = column<std::int64_t>("x");
const auto a = column<std::int64_t>("a");
const auto b = column<std::int64_t>("b");
const auto c = column<std::int64_t>("c");
const auto n = column<std::optional<std::int64_t>>("n");
const auto r = column<double>("r");
const auto s = column<std::string>("s");
const auto name = column<std::optional<std::string>>("name");
const auto line = column<std::int64_t>("line");

std::shared_ptr<Connection> oneRow() {
    return sqltest::memoryWith(
        "CREATE TABLE t (x INTEGER, a INTEGER, b INTEGER, c INTEGER, n INTEGER, r REAL, s TEXT, "
        "name TEXT, line INTEGER);"
        "INSERT INTO t VALUES (6, 12, 10, 1, NULL, 2.567, 'abcdef', 'ab%c', 5);");
}

Binding i(std::int64_t v) {
    return Binding(v);
}
Binding t(const char* v) {
    return Binding(std::string(v));
}

struct Case {
    Expression<> e;
    std::string sql;
    Bindings bindings;
    std::optional<Binding> answer;
};

void check(const std::vector<Case>& cases) {
    auto db = oneRow();
    for (const Case& k : cases) {
        EXPECT_EQ(k.e.templateText, k.sql);
        EXPECT_EQ(k.e.bindings, k.bindings) << k.sql;
        EXPECT_EQ(db->scalar("SELECT " + k.e.templateText + " FROM t", k.e.bindings), k.answer) << k.sql;
    }
}

// Nullability and result types.
static_assert(std::is_same_v<decltype(x + 1), Expression<std::int64_t>>);
static_assert(std::is_same_v<decltype(2 * n), Expression<std::optional<std::int64_t>>>);
static_assert(std::is_same_v<decltype(x ^ n), Expression<std::optional<std::int64_t>>>);
static_assert(std::is_same_v<decltype(s + "g"), Expression<std::string>>);
static_assert(std::is_same_v<decltype(count(n)), Expression<std::int64_t>>);
static_assert(std::is_same_v<decltype(total(n)), Expression<double>>);
static_assert(std::is_same_v<decltype(avg(x)), Expression<std::optional<double>>>);
static_assert(std::is_same_v<decltype(max(x)), Expression<std::optional<std::int64_t>>>);
static_assert(std::is_same_v<decltype(ifnull(n, 3)), Expression<std::int64_t>>);
static_assert(std::is_same_v<decltype(like(name, "a%")), Expression<std::optional<bool>>>);
static_assert(
    std::is_same_v<decltype(inRange(RangeFrom<std::int64_t>{1}, n)), Expression<std::optional<bool>>>);
template <class A, class B>
concept Addable = requires(A l, B r) {
    l + r;
};
static_assert(!Addable<decltype(x), decltype(s)> && !Addable<decltype(s), int> &&
              !Addable<decltype(r), std::string>);

} // namespace

TEST(Operators, RenderBindAndAnswer) {
    const std::optional<std::int64_t> absent;
    check({
        {x + 1, "(\"x\" + ?)", {i(1)}, i(7)},
        {(a + b) * c, "((\"a\" + \"b\") * \"c\")", {}, i(22)},
        {20 - x, "(? - \"x\")", {i(20)}, i(14)},
        {r / 2.0, "(\"r\" / ?)", {Binding(2.0)}, Binding(1.2835)},
        {x % 4, "(\"x\" % ?)", {i(4)}, i(2)},
        {(x << 1) | (a >> 2), "((\"x\" << ?) | (\"a\" >> ?))", {i(1), i(2)}, i(15)},
        {a & b, "(\"a\" & \"b\")", {}, i(8)},
        {a ^ b, "(~((\"a\" & \"b\")) & (\"a\" | \"b\"))", {}, i(6)},
        {(a + 1) ^ 3, "(~(((\"a\" + ?) & ?)) & ((\"a\" + ?) | ?))", {i(1), i(3), i(1), i(3)}, i(14)},
        {-x, "-(\"x\")", {}, i(-6)},
        {~x, "~(\"x\")", {}, i(-7)},
        {n + 1, "(\"n\" + ?)", {i(1)}, std::nullopt},
        {s + "g", "(\"s\" || ?)", {t("g")}, t("abcdefg")},
        {is_(n, absent), "(\"n\" IS ?)", {std::nullopt}, i(1)},
        {isNot(absent, x), "(? IS NOT \"x\")", {std::nullopt}, i(1)},
        {eq(n, std::optional<std::int64_t>(5)), "(\"n\" = ?)", {i(5)}, std::nullopt},
        {!gt(x, 1), "NOT ((\"x\" > ?))", {i(1)}, i(0)},
        {allOf({gt(x, 1), lt(x, 10), eq(c, 1)}),
         "((\"x\" > ?) AND (\"x\" < ?) AND (\"c\" = ?))",
         {i(1), i(10), i(1)},
         i(1)},
        {anyOf({lt(x, 1), eq(c, 1)}), "((\"x\" < ?) OR (\"c\" = ?))", {i(1), i(1)}, i(1)},
    });
}

TEST(Operators, RangesRepeatTheOperandOnlyWhenHalfOpen) {
    check({
        {inRange(HalfOpenRange<std::int64_t>{6, 7}, x), "\"x\" >= ? AND \"x\" < ?", {i(6), i(7)}, i(1)},
        {inRange(HalfOpenRange<std::int64_t>{6, 7}, x + 1),
         "(\"x\" + ?) >= ? AND (\"x\" + ?) < ?",
         {i(1), i(6), i(1), i(7)},
         i(0)},
        {inRange(ClosedRange<std::int64_t>{1, 6}, x), "\"x\" BETWEEN ? AND ?", {i(1), i(6)}, i(1)},
        {inRange(RangeThrough<std::int64_t>{6}, x), "\"x\" <= ?", {i(6)}, i(1)},
        {inRange(RangeUpTo<std::int64_t>{6}, x), "\"x\" < ?", {i(6)}, i(0)},
        {inRange(RangeFrom<std::int64_t>{7}, n), "\"n\" >= ?", {i(7)}, std::nullopt},
    });
}

TEST(CoreFunctions, RenderBindAndAnswer) {
    check({
        {round(r), "round(\"r\")", {}, Binding(3.0)},
        {round(r, 2), "round(\"r\", ?)", {i(2)}, Binding(2.57)},
        {abs(-x), "abs(-(\"x\"))", {}, i(6)},
        {length(s), "length(\"s\")", {}, i(6)},
        {upper(lower(s)), "upper(lower(\"s\"))", {}, t("ABCDEF")},
        {trim(s, "af"), "trim(\"s\", ?)", {t("af")}, t("bcde")},
        {ltrim(s), "ltrim(\"s\")", {}, t("abcdef")},
        {rtrim(s, "f"), "rtrim(\"s\", ?)", {t("f")}, t("abcde")},
        {replace(s, "cd", "X"), "replace(\"s\", ?, ?)", {t("cd"), t("X")}, t("abXef")},
        {substr(s, HalfOpenRange<std::int64_t>{2, 5}), "substr(\"s\", ?, ?)", {i(2), i(3)}, t("bcd")},
        {substr(s, 4), "substr(\"s\", ?)", {i(4)}, t("def")},
        {ifnull(n, 3), "ifnull(\"n\", ?)", {i(3)}, i(3)},
        {ifnull(name, s), "ifnull(\"name\", \"s\")", {}, t("ab%c")},
        {in(x, {1, 6, 9}), "(\"x\" IN (?, ?, ?))", {i(1), i(6), i(9)}, i(1)},
        {in(x, {}), "(\"x\" IN ())", {}, i(0)},
        {like(name, "ab!%%", '!'), "(\"name\" LIKE ? ESCAPE ?)", {t("ab!%%"), t("!")}, i(1)},
        {like(s, "a_c%"), "(\"s\" LIKE ?)", {t("a_c%")}, i(1)},
        {like("abc", s), "(? LIKE \"s\")", {t("abc")}, i(0)},
        {glob(s, "a*"), "(\"s\" GLOB ?)", {t("a*")}, i(1)},
        {eq(collate(s, Collation::nocase()), "ABCDEF"), "((\"s\" COLLATE NOCASE) = ?)", {t("ABCDEF")}, i(1)},
        {zeroblob(2), "zeroblob(?)", {i(2)}, Binding(Blob(std::vector<std::uint8_t>{0, 0}))},
        {length(randomblob(3)), "length(randomblob(?))", {i(3)}, i(3)},
        {count(distinct(x)), "count(DISTINCT \"x\")", {}, i(1)},
        {countStar(), "count(*)", {}, i(1)},
        {sum(n), "sum(\"n\")", {}, std::nullopt},
        {total(n), "total(\"n\")", {}, Binding(0.0)},
        {avg(x + 1), "avg((\"x\" + ?))", {i(1)}, Binding(7.0)},
        {max(s), "max(\"s\")", {}, t("abcdef")},
        {min(x), "min(\"x\")", {}, i(6)},
    });
}

TEST(CompoundSetters, RenderAndChangeTheStoredValue) {
    auto db = oneRow();
    const Table table("t");
    const std::vector<std::pair<Setter, std::string>> cases = {
        {line += 5, "\"line\" = (\"line\" + ?)"},
        {++line, "\"line\" = (\"line\" + ?)"},
        {line--, "\"line\" = (\"line\" - ?)"},
        {line *= 3, "\"line\" = (\"line\" * ?)"},
        {x ^= 3, "\"x\" = (~((\"x\" & ?)) & (\"x\" | ?))"},
        {name += "!", "\"name\" = (\"name\" || ?)"},
        {n += 1, "\"n\" = (\"n\" + ?)"},
        {Setter::assign(a, x + 1), "\"a\" = (\"x\" + ?)"},
        {Setter::assign(n, a), "\"n\" = \"a\""},
    };
    for (const auto& [setter, sql] : cases) {
        EXPECT_EQ(setter.expression().templateText, sql);
        db->run(table.update(setter));
    }
    EXPECT_EQ((++line).expression().bindings, (Bindings{i(1)}));
    EXPECT_EQ((x ^= 3).expression().bindings, (Bindings{i(3), i(3)}));
    EXPECT_EQ(db->scalar("SELECT line || ' ' || x || ' ' || name || ' ' || ifnull(n, 'null') FROM t"),
              t("30 5 ab%c! 6"));
}

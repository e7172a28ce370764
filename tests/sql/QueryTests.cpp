// Rendering of expressions, SELECT, INSERT, UPDATE, DELETE and upserts: text and binding order.
#include "SqlTestSupport.h"

#include <cmath>

using namespace sql;

namespace {

Binding i64(std::int64_t v) {
    return Binding(v);
}
Binding str(const char* s) {
    return Binding(std::string(s));
}

const auto uuidCol = column<std::string>("display_uuid");
const auto nameCol = column<std::optional<std::string>>("name");
const Table screens("screens");

} // namespace

// ---- expressions

struct Rendered {
    Expression<> e;
    std::string text;
    Bindings bindings;
};

TEST(ExpressionRendering, TextAndBindingsInOrder) {
    const std::optional<std::string> none, some("x");
    const Expression<> one("?", {i64(7)}), right("?", {i64(3)});
    const Rendered cases[] = {
        // Equality with an absent value renders IS.
        {eq(nameCol, std::nullopt), "(\"name\" IS ?)", {std::nullopt}},
        {eq(nameCol, none), "(\"name\" IS ?)", {std::nullopt}},
        {ne(nameCol, none), "(\"name\" IS NOT ?)", {std::nullopt}},
        {eq(none, nameCol), "(? IS \"name\")", {std::nullopt}},
        {ne(std::nullopt, nameCol), "(? IS NOT \"name\")", {std::nullopt}},
        {eq(nameCol, some), "(\"name\" = ?)", {str("x")}},
        {ne(some, nameCol), "(? != \"name\")", {str("x")}},
        {eq(uuidCol, "O'Neil"), "(\"display_uuid\" = ?)", {str("O'Neil")}},
        {not_(eq(uuidCol, "x")), "NOT ((\"display_uuid\" = ?))", {str("x")}},
        {and_(eq(nameCol, std::string("x")), gt(column<int>("n"), 3)),
         "((\"name\" = ?) AND (\"n\" > ?))",
         {str("x"), i64(3)}},
        {column<int>("id"), "\"id\"", {}},
        {rowidExpression(), "\"ROWID\"", {}},
        // Infix keeps the left bindings before the right.
        {binaryExpression(Expression<>("f(?, ?)", {i64(1), i64(2)}), right, "=", true),
         "(f(?, ?) = ?)",
         {i64(1), i64(2), i64(3)}},
        {binaryExpression(Expression<>("a"), right, "IS NOT", false), "a IS NOT ?", {i64(3)}},
        {andExpression(Expression<std::optional<bool>>("x", {i64(1)}),
                       Expression<std::optional<bool>>("y", {i64(2)})),
         "(x AND y)",
         {i64(1), i64(2)}},
        {joinExpressions({one}, ", "), "?", {i64(7)}},
        {joinExpressions({}, ", "), "", {}},
        {wrapInFunction("", one), "(?)", {i64(7)}},
        {wrapInFunction("lower", Expression<>("\"a\"")), "lower(\"a\")", {}},
        {cast<double>(column<std::int64_t>("n")), "CAST (\"n\" AS REAL)", {}},
        {desc(column<int>("id")), "\"id\" DESC", {}},
    };
    for (const Rendered& c : cases) {
        EXPECT_EQ(c.e.templateText, c.text);
        EXPECT_EQ(c.e.bindings, c.bindings) << c.text;
    }
    static_assert(std::is_same_v<decltype(eq(uuidCol, "x")), Expression<bool>>);
    static_assert(std::is_same_v<decltype(and_(eq(nameCol, some), gt(column<int>("n"), 3))),
                                 Expression<std::optional<bool>>>);
    EXPECT_EQ(quote("", '"'), "\"\"");
    EXPECT_EQ(quote("a\"b", '"'), "\"a\"\"b\"");
    EXPECT_EQ(quote("it's", '\''), "'it''s'");
    EXPECT_EQ(eq(uuidCol, "O'Neil").asSQL(), "(\"display_uuid\" = 'O''Neil')");
}

TEST(ExpressionRendering, AsSqlInlinesEveryKindOfBinding) {
    const Expression<> e("? ? ? ? ? ?", {std::nullopt, Binding(Blob(std::vector<std::uint8_t>{0, 255})),
                                         str("a'b"), i64(42), Binding(1.5), Binding(Blob{})});
    EXPECT_EQ(e.asSQL(), "NULL x'00ff' 'a''b' 42 1.5 x''");
    EXPECT_EQ(Expression<>("\"a?\" = ?", {i64(1)}).asSQL(),
              "\"a1\" = ?"); // one binding per '?', wherever it stands
}

TEST(ExpressionRendering, DoublesReadBackAsReal) {
    const std::pair<double, std::string> cases[] = {
        {1.0, "1.0"},        {-0.0, "-0.0"},        {2.5, "2.5"}, {1e20, "1e+20"},
        {HUGE_VAL, "1e999"}, {-HUGE_VAL, "-1e999"}, {NAN, "NULL"}};
    auto db = sqltest::memory();
    for (const auto& [value, text] : cases) {
        const std::string sql = Expression<>("?", {Binding(value)}).asSQL();
        EXPECT_EQ(sql, text);
        // An untyped column keeps what the literal is: an integer for "1", a real for "1.0".
        db->execute("DROP TABLE IF EXISTS t; CREATE TABLE t (k, v DEFAULT (" + sql +
                    ")); INSERT INTO t (k) VALUES (0)");
        EXPECT_EQ(db->scalar("SELECT typeof(v) FROM t"),
                  Binding(std::string(std::isnan(value) ? "null" : "real")))
            << text;
    }
}

// ---- SELECT

TEST(SelectRendering, QueriesBuildersNamesAndAliases) {
    const auto base = screens.filter(Expression<bool>("a")).alias("s").limit(3);
    const Table t = Table("t", "d").alias("a");
    const std::pair<std::string, std::string> cases[] = {
        {screens.expression().templateText, "SELECT * FROM \"screens\""},
        {screens.select(starExpression()).limit(1).expression().templateText,
         "SELECT * FROM \"screens\" LIMIT 1"},
        {Table("bookmarks")
             .select(starExpression())
             .order(column<std::int64_t>("id"))
             .expression()
             .templateText,
         "SELECT * FROM \"bookmarks\" ORDER BY \"id\""},
        {screens.count().expression().templateText, "SELECT count(*) FROM \"screens\""},
        {screens.limit(5, 10).expression().templateText, "SELECT * FROM \"screens\" LIMIT 5 OFFSET 10"},
        {Table("a\"b").expression().templateText, "SELECT * FROM \"a\"\"b\""},
        // Builders replace or keep as stated.
        {base.limit(std::nullopt).expression().templateText, "SELECT * FROM \"screens\" AS \"s\" WHERE a"},
        {base.limit(0).expression().templateText, "SELECT * FROM \"screens\" AS \"s\" WHERE a LIMIT 0"},
        {base.select(uuidCol).expression().templateText,
         "SELECT \"display_uuid\" FROM \"screens\" AS \"s\" WHERE a LIMIT 3"},
        {screens.select().expression().templateText, "SELECT  FROM \"screens\""},
        {screens.group(Expression<>("a"), Expression<>("b"))
             .group(Expression<>("c"))
             .expression()
             .templateText,
         "SELECT * FROM \"screens\" GROUP BY c"},
        {t.tableName(true).templateText, "\"d\".\"t\" AS \"a\""},
        {t.tableName(false).templateText, "\"d\".\"a\""},
        {t.tableNameQualified(false).templateText, "\"a\""},
        {Table("t", "d").tableNameQualified(true).templateText, "\"d\".\"t\""},
        {Table("t").namespace_(column<int>("c")).templateText, "\"t\".\"c\""},
        {Table("t").namespace_(starExpression()).templateText, "\"t\".*"},
        {Table("t").exists().templateText, "SELECT EXISTS (SELECT * FROM \"t\")"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(text, expected);
    }
}

TEST(SelectRendering, PartsComeInFixedOrderWithBindingsInThatOrder) {
    const Table u("u");
    const auto q = Table("t", "d")
                       .alias("x")
                       .selectDistinct(Expression<>("f(?)", {i64(1)}))
                       .join(JoinType::leftOuter, u.filter(Expression<bool>("u.k = ?", {i64(3)})),
                             Expression<bool>("x.a = ?", {i64(2)}))
                       .filter(Expression<bool>("p = ?", {i64(4)}))
                       .filter(Expression<bool>("q"))
                       .group(Expression<>("g(?)", {i64(5)}), Expression<>("h = ?", {i64(6)}))
                       .union_(Table("v").filter(Expression<bool>("w = ?", {i64(7)})).limit(2), true)
                       .order(Expression<>("o(?)", {i64(8)}))
                       .limit(3);
    const auto e = q.expression();
    EXPECT_EQ(e.templateText,
              "SELECT DISTINCT f(?) FROM \"d\".\"t\" AS \"x\" LEFT OUTER JOIN \"u\" ON (x.a = ? AND u.k = ?) "
              "WHERE (p = ? AND q) GROUP BY g(?) HAVING h = ? UNION ALL SELECT * FROM \"v\" WHERE w = ? "
              "LIMIT 2 ORDER BY o(?) LIMIT 3");
    EXPECT_EQ(e.bindings, (Bindings{i64(1), i64(2), i64(3), i64(4), i64(5), i64(6), i64(7), i64(8)}));
}

TEST(SelectRendering, CommonTableExpressions) {
    const Table n("n");
    const auto sub = Table("src").select(Expression<>("?", {i64(1)}));
    const auto q =
        n.with(n, std::vector<Expression<>>{column<int>("i")}, true, MaterializationHint::materialized, sub)
            .with(Table("m", "db"), std::nullopt, false, std::nullopt, Table("src2"));
    const auto e = q.expression();
    EXPECT_EQ(e.templateText,
              "WITH RECURSIVE \"n\" (\"i\") AS MATERIALIZED (SELECT ? FROM \"src\"), \"db\".\"m\" AS "
              "(SELECT * FROM \"src2\") SELECT * FROM \"n\"");
    EXPECT_EQ(e.bindings, (Bindings{i64(1)}));
    EXPECT_EQ(query::renderWithClause({{"t", std::nullopt, std::nullopt},
                                       std::vector<Expression<>>{},
                                       std::nullopt,
                                       std::make_shared<QueryClauses>("q", std::nullopt, std::nullopt)})
                  .templateText,
              "\"t\" () AS (SELECT * FROM \"q\")");
}

// ---- INSERT, UPDATE, DELETE, upsert

TEST(InsertRendering, ManyRowsShareTheFirstRowsColumnsAndNoneAreDefaultValues) {
    const auto many =
        screens.insertMany({{Setter::assign(uuidCol, "A"), Setter::assign(nameCol, std::string("a"))},
                            {Setter::assign(uuidCol, "B"), Setter::assign(nameCol, std::nullopt)}});
    EXPECT_EQ(many.templateText,
              "INSERT INTO \"screens\" (\"display_uuid\", \"name\") VALUES (?, ?), (?, ?)");
    EXPECT_EQ(many.bindings, (Bindings{str("A"), str("a"), str("B"), std::nullopt}));
    EXPECT_EQ(screens.insertMany(OnConflict::ignore, {}).templateText, ""); // no rows: nothing to run
    EXPECT_EQ(screens.insertMany({{}}).templateText, "INSERT INTO \"screens\" DEFAULT VALUES");
    EXPECT_EQ(screens.insert(std::vector<Setter>{}).templateText, "INSERT INTO \"screens\" DEFAULT VALUES");
    EXPECT_EQ(screens.insertDefaultValues().templateText, "INSERT INTO \"screens\" DEFAULT VALUES");
    EXPECT_EQ(screens.insert(Table("o").select(uuidCol)).templateText,
              "INSERT INTO \"screens\" SELECT \"display_uuid\" FROM \"o\"");
    EXPECT_THROW(screens.insertMany({{}, {}, {}}), Result); // one statement inserts one default row
    // Rows naming other columns are not matched by count.
    EXPECT_EQ(sqltest::failureCode([] {
                  screens.insertMany({{Setter::assign(uuidCol, "A"), Setter::assign(nameCol, std::nullopt)},
                                      {Setter::assign(nameCol, std::nullopt), Setter::assign(uuidCol, "B")}});
              }),
              21);
}

TEST(InsertRendering, UpsertDerivesItsUpdateList) {
    const auto up =
        screens.upsert({Setter::assign(uuidCol, "U"), Setter::assign(nameCol, std::string("n"))}, uuidCol);
    EXPECT_EQ(up.templateText,
              "INSERT INTO \"screens\" (\"display_uuid\", \"name\") VALUES (?, ?) ON CONFLICT "
              "(\"display_uuid\") DO UPDATE SET \"name\" = \"excluded\".\"name\"");
    EXPECT_EQ(up.bindings, (Bindings{str("U"), str("n")}));
    EXPECT_EQ(screens.upsert({Setter::assign(uuidCol, "U")}, uuidCol).templateText,
              "INSERT INTO \"screens\" (\"display_uuid\") VALUES (?) ON CONFLICT (\"display_uuid\") DO "
              "UPDATE SET ");
    // The comparison is on the SQL text: a qualified target keeps the bare column in the list.
    EXPECT_EQ(screens.upsert({Setter::assign(uuidCol, "U")}, screens.namespace_(uuidCol)).templateText,
              "INSERT INTO \"screens\" (\"display_uuid\") VALUES (?) ON CONFLICT "
              "(\"screens\".\"display_uuid\") DO UPDATE "
              "SET \"display_uuid\" = \"excluded\".\"display_uuid\"");
    const auto explicitSet =
        screens.upsert({Setter::assign(uuidCol, "U")}, uuidCol, {Setter::assign(nameCol, std::string("z"))});
    EXPECT_EQ(explicitSet.bindings, (Bindings{str("U"), str("z")}));
}

TEST(UpdateDeleteRendering, WhereOrderAndLimitFollowInThatOrder) {
    EXPECT_EQ(screens.update(Setter::assign(nameCol, std::string("n"))).templateText,
              "UPDATE \"screens\" SET \"name\" = ?");
    EXPECT_EQ(screens.delete_().templateText, "DELETE FROM \"screens\"");
    const auto q =
        screens.filter(Expression<bool>("a = ?", {i64(1)})).order(Expression<>("o(?)", {i64(2)})).limit(3, 4);
    const auto up = q.update(Setter::assign(column<int>("n"), 5), Setter::assign(column<int>("m"), 6));
    EXPECT_EQ(up.templateText,
              "UPDATE \"screens\" SET \"n\" = ?, \"m\" = ? WHERE a = ? ORDER BY o(?) LIMIT 3 OFFSET 4");
    EXPECT_EQ(up.bindings, (Bindings{i64(5), i64(6), i64(1), i64(2)}));
    const auto del = q.delete_();
    EXPECT_EQ(del.templateText, "DELETE FROM \"screens\" WHERE a = ? ORDER BY o(?) LIMIT 3 OFFSET 4");
    EXPECT_EQ(del.bindings, (Bindings{i64(1), i64(2)}));
    EXPECT_EQ(Setter::assign(column<bool>("f"), true).expression().asSQL(), "\"f\" = 1");
}

TEST(RawValues, ExactCaseSensitiveMatches) {
    EXPECT_EQ(onConflictRawValues.from("IGNORE"), OnConflict::ignore);
    EXPECT_EQ(onConflictRawValues.from("ignore"), std::nullopt);
    EXPECT_EQ(joinTypeRawValues.raw(JoinType::leftOuter), "LEFT OUTER");
    EXPECT_EQ(transactionModeRawValues.from("EXCLUSIVE"), TransactionMode::exclusive);
}

// One-row inserts reuse the text rendered for the same shape: everything that changes the text
// must give another one, and the bindings are always this insert's own.
TEST(InsertRendering, RepeatedShapesKeepTextAndBindingsExact) {
    const auto id = column<std::int64_t>("id");
    for (int round = 0; round < 2; ++round) {
        const auto a = screens.insert(Setter::assign(uuidCol, "A"), Setter::assign(id, std::int64_t{1}));
        EXPECT_EQ(a.templateText, "INSERT INTO \"screens\" (\"display_uuid\", \"id\") VALUES (?, ?)");
        EXPECT_EQ(a.bindings, (Bindings{str("A"), i64(1)}));
        EXPECT_EQ(
            screens.insert(Setter::assign(id, std::int64_t{2}), Setter::assign(uuidCol, "B")).templateText,
            "INSERT INTO \"screens\" (\"id\", \"display_uuid\") VALUES (?, ?)");
        EXPECT_EQ(Table("other")
                      .insert(Setter::assign(uuidCol, "A"), Setter::assign(id, std::int64_t{1}))
                      .templateText,
                  "INSERT INTO \"other\" (\"display_uuid\", \"id\") VALUES (?, ?)");
        EXPECT_EQ(Table("screens", "db").insert(Setter::assign(uuidCol, "A")).templateText,
                  "INSERT INTO \"db\".\"screens\" (\"display_uuid\") VALUES (?)");
        EXPECT_EQ(screens.alias("s").insert(Setter::assign(uuidCol, "A")).templateText,
                  "INSERT INTO \"s\" (\"display_uuid\") VALUES (?)");
        EXPECT_EQ(screens.insert(OnConflict::ignore, {Setter::assign(uuidCol, "A")}).templateText,
                  "INSERT OR IGNORE INTO \"screens\" (\"display_uuid\") VALUES (?)");
        EXPECT_EQ(screens.insert(Setter::assign(uuidCol, "A")).templateText,
                  "INSERT INTO \"screens\" (\"display_uuid\") VALUES (?)");
        const auto filtered =
            screens.filter(Expression<bool>("x = ?", {i64(round)})).insert(Setter::assign(uuidCol, "F"));
        EXPECT_EQ(filtered.templateText, "INSERT INTO \"screens\" (\"display_uuid\") VALUES (?) WHERE x = ?");
        EXPECT_EQ(filtered.bindings, (Bindings{str("F"), i64(round)}));
        EXPECT_EQ(screens.filter(Expression<bool>("y")).insert(Setter::assign(uuidCol, "F")).templateText,
                  "INSERT INTO \"screens\" (\"display_uuid\") VALUES (?) WHERE y");
        // A value or a column that is an expression of its own: its text and bindings count.
        const auto computed =
            screens.insert(Setter{Expression<>("\"c\""), Expression<>("? + ?", {i64(round), i64(7)})},
                           Setter{Expression<>("\"d\""), Expression<>("?", {str("d")})});
        EXPECT_EQ(computed.templateText, "INSERT INTO \"screens\" (\"c\", \"d\") VALUES (? + ?, ?)");
        EXPECT_EQ(computed.bindings, (Bindings{i64(round), i64(7), str("d")}));
        const auto boundColumn =
            screens.insert(Setter{Expression<>("f(?)", {i64(9)}), Expression<>("?", {i64(round)})});
        EXPECT_EQ(boundColumn.templateText, "INSERT INTO \"screens\" (f(?)) VALUES (?)");
        EXPECT_EQ(boundColumn.bindings, (Bindings{i64(9), i64(round)}));
    }
    for (int i = 0; i < 20; ++i) { // more shapes than are kept
        EXPECT_EQ(Table("t" + std::to_string(i)).insert(Setter::assign(uuidCol, "A")).templateText,
                  "INSERT INTO \"t" + std::to_string(i) + "\" (\"display_uuid\") VALUES (?)");
    }
}

TEST(InsertRendering, SettersPassedByNameAreLeftIntact) {
    const Setter kept = Setter::assign(uuidCol, "K");
    const auto ins = screens.insert(kept, Setter::assign(nameCol, std::nullopt));
    EXPECT_EQ(ins.bindings, (Bindings{str("K"), std::nullopt}));
    EXPECT_EQ(kept.value.bindings, (Bindings{str("K")}));
    std::vector<Setter> list{Setter::assign(uuidCol, "L")};
    EXPECT_EQ(screens.insert(list).bindings, (Bindings{str("L")}));
    EXPECT_EQ(list[0].value.bindings, (Bindings{str("L")}));
}

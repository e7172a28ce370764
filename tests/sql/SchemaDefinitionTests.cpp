// The schema model's parsing and rendering, and the schema reader on tables made by hand.
#include "SqlTestSupport.h"

#include <gmock/gmock.h>

#include "sql/schema/SchemaReader.h"

using namespace sql;

namespace {

using Kind = LiteralValue::Kind;
using PK = ColumnDefinition::PrimaryKey;

TEST(SchemaDefinitions, ParseStoredTexts) {
    // SQLite's own affinity rules: BIGINT, INT, DOUBLE and no type keep what they store.
    const std::pair<std::string, Affinity> affinities[] = {{"VARCHAR(20)", Affinity::TEXT},
                                                           {"BIGINT", Affinity::INTEGER},
                                                           {"int", Affinity::INTEGER},
                                                           {"DOUBLE", Affinity::REAL},
                                                           {"", Affinity::BLOB},
                                                           {"DECIMAL(10,5)", Affinity::NUMERIC},
                                                           {"FLOATING POINT", Affinity::INTEGER},
                                                           {"CLOB", Affinity::TEXT},
                                                           {"integer", Affinity::INTEGER}};
    for (const auto& [type, affinity] : affinities) {
        EXPECT_EQ(affinityOf(type), affinity) << type;
    }
    const std::pair<std::optional<std::string>, LiteralValue> literals[] = {
        {std::nullopt, LiteralValue::null()},
        {"NULL", LiteralValue::null()},
        {"'a''b'", LiteralValue::string("a'b")},
        {"\"x\"\"y\"", LiteralValue::string("x\"y")},
        {"x'0a'", LiteralValue::blob("0a")},
        {"null", LiteralValue::numeric("null")},
        {"42", LiteralValue::numeric("42")},
        {"(1+2)", LiteralValue::numeric("(1+2)")},
        {"CURRENT_TIMESTAMP", {Kind::currentTimestamp, ""}}};
    for (const auto& [stored, literal] : literals) {
        EXPECT_EQ(LiteralValue::parse(stored), literal) << stored.value_or("absent");
    }
    const std::pair<std::string, std::optional<PK>> keys[] = {
        {"CREATE TABLE t (id INTEGER PRIMARY KEY DESC ON CONFLICT IGNORE AUTOINCREMENT)",
         PK{true, OnConflict::ignore}},
        {"CREATE TABLE t (id INTEGER PRIMARY KEY ON CONFLICT ignore)", PK{false, OnConflict::ignore}},
        {"create table t (id integer primary key autoincrement)", PK{true, std::nullopt}},
        {"CREATE TABLE t (n DEFAULT 'primary key', id INTEGER PRIMARY KEY AUTOINCREMENT)",
         PK{true, std::nullopt}},
        {"CREATE TABLE t (id INTEGER)", std::nullopt}};
    for (const auto& [sql, key] : keys) {
        EXPECT_EQ(PK::parse(sql), key) << sql;
    }
    const std::string index = "CREATE INDEX i ON t (a DESC, \"b\" DESC, c) WHERE a > 0";
    EXPECT_EQ(IndexDefinition::parseWhere(index), "a > 0");
    EXPECT_EQ(IndexDefinition::parseOrders(index),
              (std::map<std::string, IndexOrder>{{"a", IndexOrder::DESC}, {"b", IndexOrder::DESC}}));
    EXPECT_EQ(IndexDefinition::parseWhere("CREATE INDEX i ON t (a)"), std::nullopt);
    EXPECT_TRUE(IndexDefinition::parseOrders("CREATE INDEX i ON t (a)").empty());
}

TEST(SchemaDefinitions, RenderSQL) {
    const ColumnDefinition id{"id",  PK{true, std::nullopt}, Affinity::INTEGER,
                              false, LiteralValue::null(),   std::nullopt};
    const ColumnDefinition text{"b",
                                std::nullopt,
                                Affinity::TEXT,
                                true,
                                LiteralValue::string("it's"),
                                ColumnDefinition::ForeignKey{"p", "b", "id", std::nullopt, "CASCADE"}};
    const IndexDefinition index{
        "t", "i", true, {"a", "b"}, "a > 0", std::map<std::string, IndexOrder>{{"b", IndexOrder::DESC}}};
    const TableDefinition table{"my t", {id, text}, {}};
    const TableDefinition target{"tmp_t", {id, text}, {}};
    const std::pair<std::string, std::string> cases[] = {
        {PK{true, OnConflict::replace}.toSQL(), "PRIMARY KEY ON CONFLICT REPLACE AUTOINCREMENT"},
        {PK{}.toSQL(), "PRIMARY KEY"},
        {id.toSQL(), R"("id" INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL)"},
        {text.toSQL(), R"("b" TEXT DEFAULT 'it''s' REFERENCES "p" ("id") ON DELETE CASCADE)"},
        {LiteralValue::blob("00FF").description(), "X'00FF'"},
        {index.toSQL(true), R"(CREATE UNIQUE INDEX IF NOT EXISTS "i" ON "t" ("a", "b" DESC) WHERE a > 0)"},
        {IndexDefinition{"t", "i", false, {"a", "b"}, std::nullopt, std::nullopt}.toSQL(),
         R"(CREATE INDEX "i" ON "t" ("a", "b"))"},
        // The table's name is quoted like every other.
        {table.toSQL(), "CREATE TABLE \"my t\" ( \"id\" INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL,\n" +
                            text.toSQL() + " )"},
        {table.copySQL(target), R"(INSERT INTO "tmp_t" ("id", "b") SELECT "id", "b" FROM "my t")"},
        {ForeignKeyError{"child", 7, "parent"}.description(), "child [7] => parent"},
    };
    for (const auto& [sql, expected] : cases) {
        EXPECT_EQ(sql, expected);
    }
    EXPECT_TRUE(
        (ObjectDefinition{ObjectType::index, "sqlite_autoindex_t_1", "t", 3, "CREATE ..."}.isInternal()));
    EXPECT_TRUE((ObjectDefinition{ObjectType::table, "t", "t", 2, std::nullopt}.isInternal()));
    EXPECT_FALSE((ObjectDefinition{ObjectType::table, "t", "t", 2, "CREATE TABLE t (a)"}.isInternal()));
}

TEST(SchemaDefinitions, IndexNameLimitCountsCharacters) {
    const std::pair<std::string, std::size_t> counts[] = {{"abc", 3},
                                                          {"caf\u00e9", 4},
                                                          {"cafe\u0301", 4},
                                                          {"\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7", 2},
                                                          {"\U0001F44D\U0001F3FD", 1},
                                                          {"\U0001F468\u200D\U0001F469\u200D\U0001F467", 1},
                                                          {"\xff\xfe", 2}};
    for (const auto& [text, count] : counts) {
        EXPECT_EQ(characterCount(text), count) << text;
    }
    std::string name(63, 'a');
    name += "\u00e9"; // 64 characters, 65 bytes
    EXPECT_NO_THROW((IndexDefinition{"t", name, false, {}, {}, {}}.checkNameLength()));
    EXPECT_THAT(sqltest::thrown<IndexError>(
                    [&] { IndexDefinition{"t", name + "x", false, {}, {}, {}}.checkNameLength(); }),
                testing::EndsWith("the limit is 64 characters"));
}

std::shared_ptr<Connection> handMade() {
    return sqltest::memoryWith(R"(
        CREATE TABLE parent (id INTEGER PRIMARY KEY AUTOINCREMENT, x TEXT NOT NULL DEFAULT 'a');
        CREATE TABLE child (id INTEGER PRIMARY KEY, p INTEGER, q VARCHAR(20) DEFAULT 3, r REFERENCES parent,
                            FOREIGN KEY (p) REFERENCES parent(id) ON DELETE CASCADE, UNIQUE (q));
        CREATE INDEX partial ON child (p DESC) WHERE p > 0;
        CREATE INDEX expression ON child (lower(q), p);
        CREATE TABLE pair (a, b, PRIMARY KEY (a, b));)");
}

TEST(SchemaReader, ReadsHandMadeTables) {
    auto db = handMade();
    SchemaReader reader(db);
    const ColumnDefinition::ForeignKey toParent{"parent", "p", "id", std::nullopt, "CASCADE"};
    const ColumnDefinition::ForeignKey implicit{"parent", "r", "id", std::nullopt, std::nullopt};
    EXPECT_EQ(reader.columnDefinitions("parent"),
              (std::vector<ColumnDefinition>{
                  {"id", PK{true, std::nullopt}, Affinity::INTEGER, true, LiteralValue::null(), std::nullopt},
                  {"x", std::nullopt, Affinity::TEXT, false, LiteralValue::string("a"), std::nullopt}}));
    EXPECT_EQ(reader.columnDefinitions("child"),
              (std::vector<ColumnDefinition>{
                  {"id", PK{}, Affinity::INTEGER, true, LiteralValue::null(), std::nullopt},
                  {"p", std::nullopt, Affinity::INTEGER, true, LiteralValue::null(), toParent},
                  {"q", std::nullopt, Affinity::TEXT, true, LiteralValue::numeric("3"), std::nullopt},
                  {"r", std::nullopt, Affinity::BLOB, true, LiteralValue::null(), implicit}}));
    const auto pair = reader.columnDefinitions("pair");
    EXPECT_TRUE(pair[0].primaryKey.has_value());
    EXPECT_FALSE(pair[1].primaryKey.has_value());
    // The UNIQUE constraint's automatic index is SQLite's own and left out.
    EXPECT_EQ(reader.indexDefinitions("child"),
              (std::vector<IndexDefinition>{
                  {"child", "expression", false, {"p"}, std::nullopt, std::map<std::string, IndexOrder>{}},
                  {"child",
                   "partial",
                   false,
                   {"p"},
                   "p > 0",
                   std::map<std::string, IndexOrder>{{"p", IndexOrder::DESC}}}}));
    EXPECT_EQ(reader.objectDefinitions("child", ObjectType::table).size(), 1u);
    // Every object, SQLite's own included; the same through the table of libraries before 3.33.
    const auto all = reader.objectDefinitions();
    EXPECT_EQ(all.size(), 8u);
    EXPECT_EQ(SchemaReader(db, SQLiteVersion{3, 32, 0}).objectDefinitions(), all);
    EXPECT_EQ(reader.tableSQL("none"), std::nullopt);
}

TEST(SchemaReader, Checks) {
    auto db = handMade();
    db->execute("CREATE TABLE w (k INTEGER PRIMARY KEY, p REFERENCES parent (id)) WITHOUT ROWID");
    EXPECT_TRUE(foreignKeyCheck(*db).empty());
    EXPECT_TRUE(integrityCheck(*db).empty());
    EXPECT_TRUE(integrityCheck(*db, "child").empty());
    db->execute("INSERT INTO child (id, p) VALUES (5, 9); INSERT INTO w VALUES (1, 9)");
    // The row of the table without row ids has none to report.
    EXPECT_EQ(foreignKeyCheck(*db), (std::vector<ForeignKeyError>{{"child", 5, "parent"}}));
    EXPECT_EQ(foreignKeyCheck(*db, "child").size(), 1u);
    // Keys that name no column, each table's pointing at the other's.
    db->execute("CREATE TABLE a (x INTEGER PRIMARY KEY, b REFERENCES b); CREATE TABLE b (y INTEGER PRIMARY "
                "KEY, a REFERENCES a)");
    EXPECT_EQ(SchemaReader(db).columnDefinitions("a").at(1).references->primaryKey, "y");
}

} // namespace

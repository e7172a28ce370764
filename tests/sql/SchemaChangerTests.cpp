// The schema changer: its native statements per library version, and rebuilds that keep every
// row, index, foreign key and counter without firing cascades, or refuse a table they cannot keep.
#include "SqlTestSupport.h"

#include <gmock/gmock.h>

#include "sql/schema/SchemaChanger.h"

#include <algorithm>

using namespace sql;

namespace {

using Op = SchemaChanger::Operation;
const SQLiteVersion current{3, 40, 1};
const SQLiteVersion beforeDropColumn{3, 34, 1};
const SQLiteVersion beforeRenameColumn{3, 24, 0};

// Every statement the connection starts, in order.
std::shared_ptr<std::vector<std::string>> record(Connection& db) {
    auto sent = std::make_shared<std::vector<std::string>>();
    db.trace([sent](std::string_view sql) { sent->emplace_back(sql); });
    return sent;
}

std::size_t position(const std::vector<std::string>& sent, std::string_view sql) {
    return static_cast<std::size_t>(std::find(sent.begin(), sent.end(), sql) - sent.begin());
}

TEST(SchemaChanger, NativeStatementsByVersion) {
    const ColumnDefinition added{
        "n", std::nullopt, Affinity::INTEGER, false, LiteralValue::numeric("0"), std::nullopt};
    const std::tuple<Op, SQLiteVersion, std::optional<std::string>> cases[] = {
        {Op::addColumn(added), beforeRenameColumn,
         R"(ALTER TABLE "t" ADD COLUMN "n" INTEGER DEFAULT 0 NOT NULL)"},
        {Op::dropColumn("c"), SQLiteVersion{3, 35, 0}, R"(ALTER TABLE "t" DROP COLUMN "c")"},
        {Op::dropColumn("c"), beforeDropColumn, std::nullopt},
        {Op::renameColumn("a", "b"), SQLiteVersion{3, 25, 0}, R"(ALTER TABLE "t" RENAME COLUMN "a" TO "b")"},
        {Op::renameColumn("a", "b"), beforeRenameColumn, std::nullopt},
        {Op::renameTable("u"), current, std::nullopt}};
    for (const auto& [op, version, sql] : cases) {
        EXPECT_EQ(SchemaChanger::alterTableSQL(op, "t", version), sql) << version.description();
    }
    const std::pair<ColumnDefinition, std::string> invalid[] = {
        {{"k", ColumnDefinition::PrimaryKey{}, Affinity::INTEGER, true, {}, {}},
         "can not add primary key column"},
        {{"k", {}, Affinity::TEXT, true, {LiteralValue::Kind::currentDate, ""}, {}}, "Invalid default value"},
        {{"k", {}, Affinity::TEXT, false, LiteralValue::null(), {}},
         "NOT NULL columns must have a default value other than NULL"}};
    auto db = sqltest::memoryWith("CREATE TABLE t (a, c)");
    SchemaChanger changer(db);
    for (const auto& [column, message] : invalid) {
        // The drop before the invalid add stays done.
        EXPECT_EQ(sqltest::thrown<SchemaChanger::Error>([&, &column = column] {
                      changer.alter("t", [&](auto& t) {
                          t.drop("c");
                          t.add(column);
                      });
                  }),
                  "Invalid column definition: " + message);
        db->execute("ALTER TABLE t ADD COLUMN c");
    }
    changer.alter("t", [&](auto& t) { t.add(added); });
    EXPECT_EQ(sqltest::count(*db, "pragma_table_info('t') WHERE name = 'n'"), 1);

    const auto sent = record(*db);
    changer.alter("t", [](auto&) {});
    changer.drop("t");
    changer.drop("t", true);
    EXPECT_EQ(*sent, (std::vector<std::string>{R"(DROP TABLE  "t")", R"(DROP TABLE IF EXISTS "t")"}));
}

// A parent whose name needs quoting, with typed columns, an AUTOINCREMENT counter past its
// largest row, an index, and children that cascade on delete.
constexpr const char* family = R"(
    CREATE TABLE "my parent" (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT, extra INT,
                              big BIGINT, d DOUBLE, e, n NUMERIC DEFAULT 1);
    CREATE INDEX by_name ON "my parent" (name DESC, big) WHERE big > 0;
    CREATE UNIQUE INDEX by_e ON "my parent" (e);
    CREATE VIEW large AS SELECT id FROM "my parent" WHERE big > 7;
    CREATE TABLE child (id INTEGER PRIMARY KEY, p INTEGER REFERENCES "my parent" (id) ON DELETE CASCADE);
    INSERT INTO "my parent" (name, extra, big, d, e) VALUES ('a', 1, 12345678901, 2.5, 1), ('b', 2, 7, 0.5, 2),
                                                            ('c', 3, 8, 1.5, 3);
    DELETE FROM "my parent" WHERE id = 3;
    INSERT INTO child (p) VALUES (1), (2);
    PRAGMA foreign_keys = 1;)";

TEST(SchemaChanger, RebuildKeepsRowsIndexesKeysAndCounter) {
    for (const SQLiteVersion version : {current, beforeDropColumn, beforeRenameColumn}) {
        SCOPED_TRACE(version.description());
        auto db = sqltest::memoryWith(family);
        const auto sent = record(*db);
        SchemaChanger changer(db, version);
        changer.alter("my parent", [](auto& t) {
            t.drop("extra");
            t.rename("name", "title");
        });
        // Enforcement goes off before the transaction and comes back after it.
        const bool rebuilt = version < SQLiteVersion{3, 35, 0};
        const std::size_t begin = position(*sent, "BEGIN DEFERRED TRANSACTION");
        EXPECT_EQ(begin < sent->size(), rebuilt);
        if (rebuilt) {
            EXPECT_LT(position(*sent, "PRAGMA foreign_keys = 0"), begin);
            EXPECT_GT(position(*sent, "PRAGMA foreign_keys = 1"), position(*sent, "COMMIT TRANSACTION"));
        }
        EXPECT_TRUE(db->foreignKeys());
        EXPECT_EQ(sqltest::count(*db, "child"), 2); // no cascade ran
        EXPECT_EQ(sqltest::count(*db, "sqlite_schema WHERE name LIKE 'tmp%'"), 0);
        EXPECT_EQ(
            db->scalar("SELECT group_concat(title || typeof(big) || big || typeof(d) || typeof(n), ',') "
                       "FROM \"my parent\""),
            Binding(std::string("ainteger12345678901realinteger,binteger7realinteger")));
        SchemaReader reader(db);
        EXPECT_EQ(reader.objectDefinitions("my parent", ObjectType::table).size(), 1u); // in main, not temp
        auto indexes = reader.indexDefinitions("my parent");
        std::sort(indexes.begin(), indexes.end(),
                  [](const auto& a, const auto& b) { return a.name < b.name; });
        EXPECT_EQ(indexes,
                  (std::vector<IndexDefinition>{
                      {"my parent", "by_e", true, {"e"}, std::nullopt, std::map<std::string, IndexOrder>{}},
                      {"my parent",
                       "by_name",
                       false,
                       {"title", "big"},
                       "big > 0",
                       std::map<std::string, IndexOrder>{{"title", IndexOrder::DESC}}}}));
        EXPECT_EQ(reader.foreignKeys("child").at(0).table, "my parent");
        EXPECT_TRUE(foreignKeyCheck(*db).empty());
        EXPECT_TRUE(integrityCheck(*db).empty());
        EXPECT_EQ(sqltest::count(*db, "large"), 1);
        // AUTOINCREMENT does not hand out the deleted row's number again.
        db->execute("INSERT INTO \"my parent\" (title) VALUES ('d')");
        EXPECT_EQ(db->lastInsertRowid(), 4);
        db->execute("DELETE FROM \"my parent\" WHERE id = 1");
        EXPECT_EQ(sqltest::count(*db, "child"), 1); // the cascade still holds
    }
}

// Names of columns as a list "a,b,c".
std::string columnsOf(Connection& db, const std::string& table) {
    const auto list = db.scalar("SELECT group_concat(name) FROM pragma_table_info(?)", {Binding(table)});
    return list ? std::get<std::string>(*list) : "";
}

TEST(SchemaChanger, RebuildLeavesAnAttachedTableInItsFile) {
    // The unqualified name leads where SQLite leads it: to the first attached database that
    // holds it, in any letter case; the second one's table is left alone.
    for (const SQLiteVersion version : {current, beforeDropColumn}) {
        SCOPED_TRACE(version.description());
        sqltest::ScratchDir dir;
        const std::string one = dir.file("one.db");
        const std::string two = dir.file("two.db");
        {
            auto db = sqltest::memory();
            db->attach(Location::uri(one), "one");
            db->attach(Location::uri(two), "two");
            db->execute("CREATE TABLE one.Items (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT, extra);"
                        "CREATE INDEX one.by_name ON Items (name DESC) WHERE name > 'a';"
                        "INSERT INTO one.Items (name, extra) VALUES ('b', 1), ('c', 2), ('d', 3);"
                        "DELETE FROM one.Items WHERE id = 3;"
                        "CREATE TABLE two.items (id, name, extra); INSERT INTO two.items VALUES (1, 'x', 2)");
            SchemaChanger(db, version).alter("items", [](auto& t) { t.drop("extra"); });
            EXPECT_EQ(sqltest::count(*db, "sqlite_temp_schema"), 0);
        }
        auto reopened = Connection::open(one);
        EXPECT_EQ(columnsOf(*reopened, "Items"), "id,name");
        EXPECT_EQ(reopened->scalar("SELECT group_concat(id || name) FROM Items"),
                  Binding(std::string("1b,2c")));
        EXPECT_EQ(reopened->scalar("SELECT group_concat(name || ' ' || tbl_name) FROM sqlite_schema "
                                   "WHERE type = 'table' AND name NOT LIKE 'sqlite%'"),
                  Binding(std::string("Items Items")));
        EXPECT_EQ(
            SchemaReader(reopened).indexDefinitions("Items"),
            (std::vector<IndexDefinition>{{"Items",
                                           "by_name",
                                           false,
                                           {"name"},
                                           "name > 'a'",
                                           std::map<std::string, IndexOrder>{{"name", IndexOrder::DESC}}}}));
        reopened->execute("INSERT INTO Items (name) VALUES ('e')");
        EXPECT_EQ(reopened->lastInsertRowid(), 4);
        EXPECT_EQ(columnsOf(*Connection::open(two), "items"), "id,name,extra");
    }
}

TEST(SchemaChanger, ColumnNamesMatchInAnyCaseAndAMissingOneIsRefused) {
    struct Case {
        const char* label;
        std::function<void(SchemaChanger::AlterTableDefinition&)> block;
        std::string columns;
        std::string indexed; // the column of index i and whether it is descending
        std::string error;
    };
    const std::string noSuchColumn = R"(1 no such column: ""nosuch"")";
    const Case cases[] = {
        {"drop", [](auto& t) { t.drop("NAME"); }, "id,v", "v0", "no failure"},
        {"rename", [](auto& t) { t.rename("NAME", "title"); }, "id,title,v", "title1", "no failure"},
        {"drop missing", [](auto& t) { t.drop("nosuch"); }, "id,Name,v", "v0", noSuchColumn},
        {"rename missing", [](auto& t) { t.rename("nosuch", "x"); }, "id,Name,v", "Name1", noSuchColumn},
    };
    // Native both, rebuilt drop, rebuilt both: the same outcome on every path.
    for (const SQLiteVersion version : {current, beforeDropColumn, beforeRenameColumn}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(version.description() + " " + c.label);
            // SQLite drops no indexed column itself; a rename renames it in the index.
            const std::string index = c.label[0] == 'd' ? "v" : "Name DESC";
            auto db = sqltest::memoryWith("CREATE TABLE t (id INTEGER PRIMARY KEY, Name TEXT, v);"
                                          "CREATE INDEX i ON t (" +
                                          index + "); INSERT INTO t VALUES (1, 'a', 2)");
            EXPECT_EQ(sqltest::failure([&] { SchemaChanger(db, version).alter("t", c.block); }), c.error);
            EXPECT_EQ(columnsOf(*db, "t"), c.columns);
            EXPECT_EQ(db->scalar("SELECT name || desc FROM pragma_index_xinfo('i') WHERE key"),
                      Binding(c.indexed));
            EXPECT_EQ(sqltest::count(*db, "t"), 1);
            EXPECT_EQ(sqltest::count(*db, "sqlite_schema WHERE name LIKE 'tmp%'"), 0);
        }
        // The last column cannot go, by either path.
        auto db = sqltest::memoryWith("CREATE TABLE u (Only)");
        EXPECT_THAT(
            sqltest::failure([&] { SchemaChanger(db, version).alter("u", [](auto& t) { t.drop("ONLY"); }); }),
            testing::EndsWith(R"( cannot drop column "ONLY": no other columns exist)"));
        EXPECT_EQ(columnsOf(*db, "u"), "Only");
        EXPECT_THAT(sqltest::failure(
                        [&] { SchemaChanger(db, version).alter("nosuch", [](auto& t) { t.drop("a"); }); }),
                    testing::EndsWith(" no such table: nosuch"));
    }
}

TEST(SchemaChanger, RefusesWhatTheModelCannotCarry) {
    const std::pair<std::string, std::string> cases[] = {
        {"CREATE TABLE t (a, b, PRIMARY KEY (a, b))", "a primary key over several columns"},
        {"CREATE TABLE t (a UNIQUE, b)", "a UNIQUE constraint"},
        {"CREATE TABLE t (a, b, CHECK (a > b))", "a CHECK constraint"},
        {"CREATE TABLE t (a TEXT COLLATE NOCASE, b)", "a COLLATE clause"},
        {"CREATE TABLE t (a INTEGER PRIMARY KEY, b) WITHOUT ROWID", "WITHOUT ROWID"},
        {"CREATE TABLE t (a INT PRIMARY KEY, b)", "primary key a declared INT, not INTEGER"},
        {"CREATE TABLE t (a, b, c AS (a + b))", "generated column c"},
        {"CREATE TABLE t (a NOT NULL ON CONFLICT IGNORE, b)",
         "an ON CONFLICT clause outside a column's primary key"},
        {"CREATE TABLE t (a, b REFERENCES t (a) DEFERRABLE INITIALLY DEFERRED)", "a deferrable foreign key"},
        {"CREATE TABLE p (x, y, PRIMARY KEY (x, y)); CREATE TABLE t (a, b, FOREIGN KEY (a, b) REFERENCES p "
         "(x, y))",
         "a foreign key over several columns"},
        {"CREATE TABLE t (a, b); CREATE TRIGGER tr AFTER INSERT ON t BEGIN SELECT 1; END", "trigger tr"},
        {"CREATE TABLE t (a, b); CREATE INDEX i ON t (lower(a))", "index i on an expression"},
        {"CREATE TABLE t (a, b); CREATE INDEX i ON t (a) WHERE a > 0\n AND a < 5",
         "the condition of index i does not read back"},
        {"CREATE TABLE t (a, b, \"my c\"); CREATE INDEX i ON t (\"my c\" DESC)",
         "the order of index i does not read back"},
        {"CREATE TABLE t (a, b); CREATE INDEX i ON t (a COLLATE NOCASE)", "index i has a COLLATE clause"},
    };
    for (const auto& [schema, problem] : cases) {
        auto db =
            sqltest::memoryWith(schema + ";INSERT INTO t (a, b) VALUES (2, 1); PRAGMA foreign_keys = 1");
        EXPECT_EQ(SchemaReader(db).rebuildProblems("t"), std::vector<std::string>{problem}) << schema;
        const std::int64_t columns = sqltest::count(*db, "pragma_table_info('t')");
        try {
            SchemaChanger(db, beforeDropColumn).alter("t", [](auto& t) { t.drop("b"); });
            ADD_FAILURE() << schema;
        } catch (const SchemaChanger::Error& e) {
            EXPECT_EQ(e.kind(), SchemaChanger::Error::Kind::cannotRebuild);
            EXPECT_EQ(std::string(e.what()), "Cannot rebuild table 't': it has " + problem);
        }
        EXPECT_EQ(sqltest::count(*db, "pragma_table_info('t')"), columns);
        EXPECT_TRUE(db->foreignKeys());
    }
    // A temporary table stays temporary; the index on the dropped column goes with it.
    auto temp = sqltest::memoryWith("CREATE TEMPORARY TABLE t (a, b); INSERT INTO t VALUES (1, 2);"
                                    "CREATE INDEX ia ON t (a); CREATE INDEX ib ON t (b)");
    SchemaChanger(temp, beforeDropColumn).alter("t", [](auto& t) { t.drop("b"); });
    EXPECT_EQ(sqltest::count(*temp, "temp.t"), 1);
    EXPECT_EQ(sqltest::count(*temp, "sqlite_schema"), 0);
    EXPECT_EQ(temp->scalar("SELECT group_concat(name) FROM sqlite_temp_schema WHERE type = 'index'"),
              Binding(std::string("ia")));
    // Keywords inside texts and names are no constraints.
    auto db = sqltest::memoryWith(
        "CREATE TABLE t (id integer primary key autoincrement, \"unique\" DEFAULT 'CHECK', "
        "b REFERENCES t (id) ON DELETE CASCADE NOT DEFERRABLE);"
        "CREATE INDEX i ON t (\"unique\" DESC, b) WHERE b > 'a'");
    EXPECT_TRUE(SchemaReader(db).rebuildProblems("t").empty());
}

TEST(SchemaChanger, FailedRebuildRollsBackAndRestores) {
    auto db = sqltest::memoryWith(family);
    SchemaChanger changer(db, beforeRenameColumn);
    // A child row whose parent is gone: the check after the rebuild refuses it.
    db->execute("PRAGMA foreign_keys = 0; INSERT INTO child (p) VALUES (9)");
    const ColumnDefinition note{"note", std::nullopt,         Affinity::TEXT,
                                true,   LiteralValue::null(), std::nullopt};
    EXPECT_EQ(sqltest::thrown<SchemaChanger::Error>([&] {
                  changer.alter("child", [&](auto& t) {
                      t.add(note);
                      t.rename("id", "key");
                  });
              }),
              "Foreign key errors: [child [3] => my parent]");
    EXPECT_FALSE(db->foreignKeys());
    // The native add stays; the rebuild's rename does not.
    EXPECT_EQ(sqltest::count(*db, "pragma_table_info('child') WHERE name IN ('id', 'note')"), 2);

    // An index name of 65 characters cannot be created again: nothing changes.
    db->execute("DELETE FROM child WHERE p = 9; PRAGMA foreign_keys = 1; CREATE INDEX " +
                std::string(65, 'i') + " ON \"my parent\" (d)");
    EXPECT_THROW(changer.alter("my parent", [](auto& t) { t.drop("extra"); }), IndexError);
    EXPECT_EQ(sqltest::count(*db, "pragma_table_info('my parent') WHERE name = 'extra'"), 1);
    EXPECT_TRUE(db->foreignKeys());

    // Inside a caller's transaction enforcement cannot be switched off: the rebuild fails at its
    // BEGIN, before anything cascades.
    db->execute("BEGIN");
    EXPECT_THROW(changer.alter("my parent", [](auto& t) { t.drop("extra"); }), Result);
    db->execute("COMMIT");
    EXPECT_EQ(sqltest::count(*db, "child"), 2);
    EXPECT_TRUE(db->foreignKeys());
}

} // namespace

// CREATE TABLE and the other schema statements: their exact SQL, each also run on a database in
// order, so that every text is one SQLite accepts.
#include "SqlTestSupport.h"

#include "sql/Operators.h"
#include "sql/schema/Statements.h"

using namespace sql;

namespace {

const Table bookmarks("bookmarks");
const Table screens("screens");
const auto id = column<std::int64_t>("id");
const auto line = column<std::int64_t>("line");
const auto excerpt = column<std::string>("excerpt");
const auto name = column<std::optional<std::string>>("name");
const auto location = column<std::optional<std::int64_t>>("location");
const auto data = column<std::optional<Blob>>("data");

struct Case {
    std::string sql;
    std::string expected;
};

TEST(SchemaStatements, RenderExactlyAndRunInOrder) {
    const Case cases[] = {
        {create(screens,
                [](TableBuilder& t) {
                    t.column(id, {.primaryKey = PrimaryKey::default_});
                    t.column(name);
                    t.unique(id, name);
                }),
         R"(CREATE TABLE "screens" ("id" INTEGER PRIMARY KEY NOT NULL, "name" TEXT, UNIQUE ("id", "name")))"},
        {create(bookmarks,
                [](TableBuilder& t) {
                    t.column(id, {.primaryKey = PrimaryKey::autoincrement});
                    t.column(excerpt);
                }),
         R"(CREATE TABLE "bookmarks" ("id" INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, "excerpt" TEXT NOT NULL))"},
        // Every column option and table constraint; column checks always in parentheses.
        {create(Table("marks"),
                [](TableBuilder& t) {
                    t.column(id);
                    t.column(line, {.unique = true,
                                    .check = inRange(ClosedRange<std::int64_t>{0, 9}, line),
                                    .defaultValue = 0});
                    t.column(name, {.check = not_(eq(name, "x?")),
                                    .defaultValue = "it's",
                                    .collate = Collation::nocase()});
                    t.column(location, {.references = references(screens, id)});
                    t.column(data, {.defaultValue = Blob(std::vector<std::uint8_t>{0x00, 0xff})});
                    t.primaryKey(id, line);
                    t.check(gt(line, -1));
                    t.foreignKey(location, screens, id, Dependency::cascade, Dependency::setNull);
                    t.foreignKey(std::tuple(id, name), screens, std::tuple(id, name), std::nullopt,
                                 Dependency::cascade);
                },
                {.ifNotExists = true}),
         R"(CREATE TABLE IF NOT EXISTS "marks" ("id" INTEGER NOT NULL, )"
         R"("line" INTEGER NOT NULL UNIQUE CHECK ("line" BETWEEN 0 AND 9) DEFAULT (0), )"
         R"("name" TEXT CHECK (NOT (("name" = 'x?'))) DEFAULT ('it''s') COLLATE NOCASE, )"
         R"("location" INTEGER REFERENCES "screens" ("id"), "data" BLOB DEFAULT (x'00ff'), )"
         R"(PRIMARY KEY ("id", "line"), CHECK (("line" > -1)), )"
         R"(FOREIGN KEY ("location") REFERENCES "screens" ("id") ON UPDATE CASCADE ON DELETE SET NULL, )"
         R"(FOREIGN KEY ("id", "name") REFERENCES "screens" ("id", "name") ON DELETE CASCADE))"},
        {create(Table("scratch"), [](TableBuilder& t) { t.column(id, {.primaryKey = PrimaryKey::default_}); },
                {.temporary = true, .ifNotExists = true, .withoutRowid = true}),
         R"(CREATE TEMPORARY TABLE IF NOT EXISTS "scratch" ("id" INTEGER PRIMARY KEY NOT NULL) WITHOUT ROWID)"},
        {create(Table("copy"), bookmarks.select(id).where(gt(id, 3))),
         R"(CREATE TABLE "copy" AS SELECT "id" FROM "bookmarks" WHERE ("id" > 3))"},
        {addColumn(bookmarks, line, {.defaultValue = 0}),
         R"(ALTER TABLE "bookmarks" ADD COLUMN "line" INTEGER NOT NULL DEFAULT (0))"},
        {addColumn(bookmarks, name, {.references = references(screens, id)}),
         R"(ALTER TABLE "bookmarks" ADD COLUMN "name" TEXT REFERENCES "screens" ("id"))"},
        {createIndex(bookmarks, {line, name}),
         R"(CREATE INDEX "index_bookmarks_on_line_name" ON "bookmarks" ("line", "name"))"},
        {createIndex(bookmarks, {line}, {.unique = true, .ifNotExists = true}),
         R"(CREATE UNIQUE INDEX IF NOT EXISTS "index_bookmarks_on_line" ON "bookmarks" ("line"))"},
        {createIndex(Table("Bookmarks"), {lower(excerpt), desc(line)}),
         R"(CREATE INDEX "index_bookmarks_on_lower_excerpt__line_desc" ON "Bookmarks" (lower("excerpt"), "line" DESC))"},
        {dropIndex(bookmarks, {line}, true), R"(DROP INDEX IF EXISTS "index_bookmarks_on_line")"},
        {create(View("recent"), bookmarks.select(id).where(gt(line, 3))),
         R"(CREATE VIEW "recent" AS SELECT "id" FROM "bookmarks" WHERE ("line" > 3))"},
        {drop(View("recent"), true), R"(DROP VIEW IF EXISTS "recent")"},
        {rename(bookmarks, Table("kept")), R"(ALTER TABLE "bookmarks" RENAME TO "kept")"},
        {create(VirtualTable("boxes"), Module("rtree", {id, column<double>("lo"), column<double>("hi")}),
                true),
         R"(CREATE VIRTUAL TABLE IF NOT EXISTS "boxes" USING "rtree"("id", "lo", "hi"))"},
        {drop(VirtualTable("boxes")), R"(DROP TABLE "boxes")"},
        {drop(Table("kept"), true), R"(DROP TABLE IF EXISTS "kept")"},
    };
    auto db = sqltest::memory();
    for (const Case& c : cases) {
        EXPECT_EQ(c.sql, c.expected);
        EXPECT_NO_THROW(db->execute(c.sql)) << c.sql;
    }
}

TEST(SchemaStatements, NamesQualifiersAndEdges) {
    const Table temp("bookmarks", "temp");
    const Case cases[] = {
        {create(temp, [](TableBuilder&) {}), R"(CREATE TABLE "temp"."bookmarks" ())"},
        {create(Table("a\"b").alias("x"), [](TableBuilder& t) { t.column(id); }),
         R"(CREATE TABLE "x" ("id" INTEGER NOT NULL))"},
        {create(Table("q?"),
                [](TableBuilder& t) { t.column(column<std::string>("w?"), {.defaultValue = "?"}); }),
         R"(CREATE TABLE "q?" ("w?" TEXT NOT NULL DEFAULT ('?')))"},
        {rename(temp, Table("screens")), R"(ALTER TABLE "temp"."bookmarks" RENAME TO "screens")"},
        {dropIndex(temp, {column<int>("Zeilé")}), R"(DROP INDEX "temp"."index_bookmarks_on_zeil_")"},
        {addColumn(bookmarks, name), R"(ALTER TABLE "bookmarks" ADD COLUMN "name" TEXT)"},
        {create(VirtualTable("v"), Module("m", {})), R"(CREATE VIRTUAL TABLE "v" USING "m"())"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.sql, c.expected);
    }
    EXPECT_EQ(dependencyRawValues.from("SET NULL"), Dependency::setNull);
    EXPECT_EQ(dependencyRawValues.from("set null"), std::nullopt);
}

} // namespace

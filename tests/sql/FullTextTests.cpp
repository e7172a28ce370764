// FTS4, FTS5 and R*Tree modules: their arguments, and tables made from them, filled and searched.
#include "SqlTestSupport.h"

#include "sql/Operators.h"
#include "sql/Row.h"
#include "sql/schema/FullText.h"

using namespace sql;

namespace {

const auto subject = column<std::string>("subject");
const auto body = column<std::string>("body");
const auto id = column<std::int64_t>("id");
const VirtualTable docs("docs");

TEST(FullText, ModuleArguments) {
    FTS4Config unindexed;
    unindexed.column(subject)
        .column(body, {FTSColumnOption::unindexed})
        .languageId("lid")
        .compress("zip")
        .uncompress("unzip")
        .matchInfo()
        .orderBy(FTS4Config::Order::desc);
    FTS4Config both;
    both.columns({subject}).prefix({3}).prefix({2}).externalContent(Table("src")).contentless();
    FTS5Config five;
    five.column(body)
        .column(id, {FTSColumnOption::unindexed})
        .tokenizer(Tokenizer::trigram(false))
        .contentRowId(id)
        .columnSize(0)
        .detail(FTS5Config::Detail::column);
    const std::pair<std::string, std::string> cases[] = {
        {create(docs, fts4({subject, body})), R"(CREATE VIRTUAL TABLE "docs" USING fts4("subject", "body"))"},
        {create(docs, fts4({subject}, Tokenizer::unicode61(false))),
         R"(CREATE VIRTUAL TABLE "docs" USING fts4("subject", tokenize=unicode61 "remove_diacritics=0"))"},
        {create(docs, fts4({subject}, Tokenizer::unicode61(std::nullopt, "-_-", ".")), true),
         R"(CREATE VIRTUAL TABLE IF NOT EXISTS "docs" USING fts4("subject", tokenize=unicode61 "tokenchars=-_" "separators=."))"},
        {create(docs, fts4(unindexed)),
         R"(CREATE VIRTUAL TABLE "docs" USING fts4("subject", "body", notindexed="body", languageid="lid", )"
         R"(compress="zip", uncompress="unzip", matchinfo="fts3", order="desc"))"},
        {create(docs, fts4(both)),
         R"(CREATE VIRTUAL TABLE "docs" USING fts4("subject", prefix="2,3", content=""))"},
        // FTS5 takes its tokenizer as one quoted text.
        {create(docs, fts5(five)),
         R"(CREATE VIRTUAL TABLE "docs" USING fts5("body", "id" UNINDEXED, tokenize='trigram case_sensitive 0', )"
         R"(content_rowid="id", columnsize=0, detail="column"))"},
        {create(docs, fts5(FTS5Config().column(body).tokenizer(Tokenizer::unicode61(true, "-'")))),
         R"(CREATE VIRTUAL TABLE "docs" USING fts5("body", tokenize='unicode61 remove_diacritics 1 tokenchars ''-'''''''))"},
        {create(docs, fts5(FTS5Config()
                               .column(body)
                               .prefix({3, 2})
                               .externalContent(Table("src", "main"))
                               .contentRowId(id))),
         R"(CREATE VIRTUAL TABLE "docs" USING fts5("body", prefix="2,3", content="src", content_rowid="id"))"},
        {create(VirtualTable("boxes"), rtree(id, {{column<double>("minX"), column<double>("maxX")},
                                                  {column<double>("minY"), column<double>("maxY")}})),
         R"(CREATE VIRTUAL TABLE "boxes" USING rtree("id", "minX", "maxX", "minY", "maxY"))"},
    };
    for (const auto& [sql, expected] : cases) {
        EXPECT_EQ(sql, expected);
        if (expected.find("compress") == std::string::npos) {
            auto db = sqltest::memory();
            EXPECT_NO_THROW(db->execute(sql)) << sql;
        }
    }
    const auto predicate = match(docs, "run*");
    EXPECT_EQ(predicate.templateText, R"(("docs" MATCH ?))");
    EXPECT_EQ(match(docs.alias("d"), column<std::optional<std::string>>("q")).templateText,
              R"(("d" MATCH "q"))");
    EXPECT_EQ(match(VirtualTable("docs", "aux"), "a").templateText, R"(("aux"."docs"."docs" MATCH ?))");
    EXPECT_EQ(matchFilter(docs.where(gt(id, 1)), "a").expression().templateText,
              R"(SELECT * FROM "docs" WHERE (("id" > ?) AND ("docs" MATCH ?)))");
}

// The row ids `pattern` finds in `table`, through the query builder.
std::vector<std::int64_t> search(Connection& db, const VirtualTable& table, const std::string& pattern) {
    return db.prepare(matchFilter(table.select(rowidExpression()), pattern).order(rowidExpression()))
        .map([](const Row& r) { return r.get(rowidExpression()); });
}

TEST(FullText, TablesFromConfigurationsFind) {
    struct Case {
        Module module;
        std::vector<std::pair<std::string, std::vector<std::int64_t>>> searches;
    };
    const std::vector<std::string> rows = {"The dogs were running home", "Un café crème", "abcdefgh",
                                           "Café Müller"};
    const Case cases[] = {
        {fts4({body}, Tokenizer::porter()), {{"run", {1}}, {"dog", {1}}, {"cafe", {}}}},
        {fts4({body}, Tokenizer::unicode61(true)), {{"cafe", {2, 4}}, {"muller", {4}}, {"run", {}}}},
        {fts5(FTS5Config().column(body).tokenizer(Tokenizer::porter())), {{"run", {1}}, {"dog", {1}}}},
        {fts5(FTS5Config().column(body).tokenizer(Tokenizer::unicode61(true))),
         {{"cafe", {2, 4}}, {"CRÈME", {2}}}},
        {fts5(FTS5Config().column(body).tokenizer(Tokenizer::unicode61(false))),
         {{"cafe", {}}, {"café", {2, 4}}}},
        {fts5(FTS5Config().column(body).tokenizer(Tokenizer::trigram(false))),
         {{"cdef", {3}}, {"CAF", {2, 4}}, {"AFÉ", {2, 4}}}},
        {fts5(FTS5Config().column(body).tokenizer(Tokenizer::trigram(true))), {{"CAF", {}}, {"Caf", {4}}}},
    };
    for (const Case& c : cases) {
        auto db = sqltest::memory();
        const std::string sql = create(docs, c.module);
        db->execute(sql);
        for (const std::string& row : rows) {
            db->run("INSERT INTO docs (body) VALUES (?)", {Binding(row)});
        }
        for (const auto& [pattern, found] : c.searches) {
            EXPECT_EQ(search(*db, docs, pattern), found) << sql << " MATCH " << pattern;
        }
    }
}

TEST(FullText, TableOfAnAttachedDatabaseFinds) {
    auto db = sqltest::memory();
    db->attach(Location::inMemory(), "aux");
    const VirtualTable aux("docs", "aux");
    db->execute(create(aux, fts5(FTS5Config().column(body))));
    db->execute("INSERT INTO aux.docs (body) VALUES ('hello world'), ('goodbye')");
    EXPECT_EQ(search(*db, aux, "hello"), std::vector<std::int64_t>{1});
}

TEST(FullText, RTreeRangeQuery) {
    auto db = sqltest::memory();
    const auto minX = column<double>("minX"), maxX = column<double>("maxX");
    const auto minY = column<double>("minY"), maxY = column<double>("maxY");
    const VirtualTable boxes("boxes");
    db->execute(create(boxes, rtree(id, {{minX, maxX}, {minY, maxY}})));
    for (int i = 0; i < 10; ++i) {
        db->run(
            "INSERT INTO boxes VALUES (?, ?, ?, ?, ?)",
            {Binding(std::int64_t{i}), Binding(i * 10.0), Binding(i * 10.0 + 5), Binding(0.0), Binding(1.0)});
    }
    const auto inside =
        boxes.select(id).where(ge(minX, 20.0)).where(le(maxX, 55.0)).where(le(minY, 0.5)).order(id);
    EXPECT_EQ(db->prepare(inside).map([&](const Row& r) { return r.get(id); }),
              (std::vector<std::int64_t>{2, 3, 4, 5}));
}

} // namespace

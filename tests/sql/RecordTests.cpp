// Records to setters and statements, rows back to records: which setters a record makes, the
// refused integer types, multi-row inserts, decoding errors and round trips of every field type.
#include "SqlTestSupport.h"
#include "sql/records/RecordCoding.h"

using namespace sql;
using sqltest::count;
using sqltest::thrown;

namespace rec {

struct Address {
    std::string street;
    std::int64_t number = 0;
    bool operator==(const Address&) const = default;
};
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(Address, street, number)

// Every field type the coding writes, in the columns of `kEverythingTable`.
struct Everything {
    bool flag = false;
    std::int64_t count = 0;
    long long wide = 0;
    double ratio = 0;
    float half = 0;
    std::string name;
    Data bytes;
    Blob blob;
    Date when{};
    Uuid id;
    Address address;
    std::vector<std::string> tags;
    std::optional<std::string> note;
    std::optional<std::int64_t> rank;
    std::optional<Address> home;
    bool operator==(const Everything&) const = default;
};
CW_SQL_RECORD(Everything, flag, count, wide, ratio, half, name, bytes, blob, when, id, address, tags, note,
              rank, home)
constexpr const char* kEverythingTable =
    "CREATE TABLE everything(flag, count, wide, ratio, half, name, bytes, blob, \"when\", id PRIMARY KEY, "
    "address, tags, note, rank DEFAULT 7, home)";

// Keys other than the member names, and a field that writes NULL while absent.
struct Note {
    std::int64_t id = 0;
    std::optional<std::string> title;
    std::optional<std::string> body;
    std::optional<std::string> remark;
};
constexpr auto sqlFields(const Note*) {
    return std::tuple{field("id", &Note::id), field("ti\"tle", &Note::title), field("body", &Note::body),
                      field("remark", &Note::remark, Absent::writeNull)};
}

template <class T> struct Holder { T value{}; };
template <class T> constexpr auto sqlFields(const Holder<T>*) {
    return std::tuple{field("value", &Holder<T>::value)};
}

} // namespace rec

using namespace rec;

namespace {

const Table notes("notes");

// "col = ?" per setter, and all bindings in order.
std::pair<std::vector<std::string>, Bindings> rendered(const std::vector<Setter>& setters) {
    std::vector<std::string> texts;
    Bindings bindings;
    for (const Setter& s : setters) {
        const Expression<> e = s.expression();
        texts.push_back(e.templateText);
        bindings.insert(bindings.end(), e.bindings.begin(), e.bindings.end());
    }
    return {texts, bindings};
}

Everything full() {
    Everything e;
    e.flag = true;
    e.count = -(std::int64_t{1} << 40);
    e.wide = 1LL << 50;
    e.ratio = 0.25;
    e.half = 1.5f;
    e.name = "Grüße, \"quoted\"";
    e.bytes = {0, 1, 255};
    e.blob = Blob(std::vector<std::uint8_t>{7, 8});
    e.when = Date(std::chrono::milliseconds(1709647629250));
    e.id = Uuid::random();
    e.address = {"Main Street", 5};
    e.tags = {"a", "b"};
    e.note = "";
    e.rank = 3;
    e.home = Address{"Home", 1};
    return e;
}

std::vector<Everything> readEverything(Connection& db) {
    return db.prepare(Table("everything").order(column<std::int64_t>("count"))).map([](const Row& row) {
        return decodeRecord<Everything>(row);
    });
}

template <class T> void expectRefused(const std::string& name) {
    EXPECT_EQ(thrown<CodingError>([] { (void)insertRecord(Table("t"), Holder<T>{}); }),
              "encoding an " + name + " is not supported");
    // Absent, it writes nothing, whatever the forcing flag.
    EXPECT_TRUE(encodeRecord(Holder<std::optional<T>>{}, Absent::writeNull).empty()) << name;
    auto db = sqltest::memoryWith("CREATE TABLE t(value); INSERT INTO t VALUES (1)");
    EXPECT_EQ(thrown<CodingError>([&] { (void)decodeRecord<Holder<T>>(*db->pluck(Table("t"))); }),
              "decoding an " + name + " is not supported");
}

} // namespace

TEST(RecordEncoding, SettersFollowFieldsThenOtherSetters) {
    const std::optional<Binding> null;
    struct Case {
        Note note;
        Absent forcing;
        std::vector<std::string> setters;
        Bindings bindings;
    };
    const std::vector<Case> cases = {
        // Absent: no setter; absent with a field that writes NULL: a NULL setter.
        {{1, std::nullopt, std::nullopt, std::nullopt},
         Absent::skip,
         {"\"id\" = ?", "\"remark\" = ?"},
         {Binding(1L), null}},
        {{2, "t", "b", "r"},
         Absent::skip,
         {"\"id\" = ?", "\"ti\"\"tle\" = ?", "\"body\" = ?", "\"remark\" = ?"},
         {Binding(2L), Binding("t"), Binding("b"), Binding("r")}},
        {{3, std::nullopt, std::nullopt, std::nullopt},
         Absent::writeNull,
         {"\"id\" = ?", "\"ti\"\"tle\" = ?", "\"body\" = ?", "\"remark\" = ?"},
         {Binding(3L), null, null, null}},
    };
    for (const Case& c : cases) {
        const auto [texts, bindings] = rendered(encodeRecord(c.note, c.forcing));
        EXPECT_EQ(texts, c.setters) << c.note.id;
        EXPECT_EQ(bindings, c.bindings) << c.note.id;
    }

    const Note note{4, std::nullopt, "b", std::nullopt};
    const std::vector<Setter> extra = {Setter::assign(column<std::int64_t>("extra"), std::int64_t{9})};
    const Insert insert = insertRecord(notes, note, extra);
    EXPECT_EQ(insert.templateText,
              "INSERT INTO \"notes\" (\"id\", \"body\", \"remark\", \"extra\") VALUES (?, ?, ?, ?)");
    EXPECT_EQ(insert.bindings, (Bindings{Binding(4L), Binding("b"), null, Binding(9L)}));
    EXPECT_EQ(insertRecord(notes, OnConflict::replace, note).templateText,
              "INSERT OR REPLACE INTO \"notes\" (\"id\", \"body\", \"remark\") VALUES (?, ?, ?)");
    EXPECT_EQ(upsertRecord(notes, note, column<std::int64_t>("id"), extra).templateText,
              "INSERT INTO \"notes\" (\"id\", \"body\", \"remark\", \"extra\") VALUES (?, ?, ?, ?) ON "
              "CONFLICT (\"id\") "
              "DO UPDATE SET \"body\" = \"excluded\".\"body\", \"remark\" = \"excluded\".\"remark\", "
              "\"extra\" = \"excluded\".\"extra\"");
    const Update update =
        updateRecord(notes.filter(eq(column<std::int64_t>("id"), std::int64_t{4})), note, extra);
    EXPECT_EQ(
        update.templateText,
        "UPDATE \"notes\" SET \"id\" = ?, \"body\" = ?, \"remark\" = ?, \"extra\" = ? WHERE (\"id\" = ?)");
    EXPECT_EQ(update.bindings, (Bindings{Binding(4L), Binding("b"), null, Binding(9L), Binding(4L)}));

    // A float is widened; a nested value is one JSON text.
    Holder<float> half{1.5f};
    EXPECT_EQ(rendered(encodeRecord(half)).second, (Bindings{Binding(1.5)}));
    EXPECT_EQ(rendered(encodeRecord(Holder<Address>{{"Main", 5}})).second,
              (Bindings{Binding(R"({"number":5,"street":"Main"})")}));
}

TEST(RecordEncoding, IntegerTypesOtherThan64BitsAreRefused) {
    expectRefused<std::int8_t>("Int8");
    expectRefused<std::int16_t>("Int16");
    expectRefused<int>("Int32");
    expectRefused<unsigned long long>("UInt");
    expectRefused<std::uint8_t>("UInt8");
    expectRefused<std::uint16_t>("UInt16");
    expectRefused<std::uint32_t>("UInt32");
    expectRefused<std::uint64_t>("UInt64");
}

TEST(RecordEncoding, InsertManyNamesOneColumnListOrRefuses) {
    const std::vector<Setter> extra = {Setter::assign(column<std::int64_t>("extra"), std::int64_t{9})};
    struct Case {
        const char* what;
        std::vector<Note> notes;
        std::vector<std::vector<std::optional<Binding>>> rows; // empty: refused
    };
    const std::optional<Binding> null;
    const std::vector<Case> cases = {
        {"no records insert nothing", {}, {}},
        {"same fields",
         {{1, "a", "x", {}}, {2, "b", "y", {}}},
         {{1L, "a", "x", null, 9L}, {2L, "b", "y", null, 9L}}},
        {"different counts write NULL",
         {{1, "a", "x", {}}, {2, {}, "y", {}}},
         {{1L, "a", "x", null, 9L}, {2L, null, "y", null, 9L}}},
        {"same count, other fields: refused", {{1, "a", {}, {}}, {2, {}, "y", {}}}, {}},
    };
    for (const Case& c : cases) {
        auto db =
            sqltest::memoryWith("CREATE TABLE notes(id, \"ti\"\"tle\" DEFAULT 'd', body, remark, extra)");
        const bool refused = c.rows.empty() && !c.notes.empty();
        if (refused) {
            EXPECT_THROW((void)insertRecords(notes, c.notes, extra), Result) << c.what;
        } else {
            const Insert insert = insertRecords(notes, c.notes, extra);
            EXPECT_EQ(insert.templateText.empty(), c.notes.empty()) << c.what;
            db->run(insert);
        }
        std::vector<std::vector<std::optional<Binding>>> rows;
        for (const Bindings& row : db->prepare("SELECT * FROM notes ORDER BY id")) {
            rows.emplace_back(row.begin(), row.end());
        }
        EXPECT_EQ(rows, refused ? decltype(rows){} : c.rows) << c.what;
    }
}

TEST(RecordDecoding, ErrorsAndLenientReads) {
    auto db = sqltest::memoryWith("CREATE TABLE n(value, other); INSERT INTO n VALUES (NULL, 1);"
                                  "CREATE TABLE two(value); INSERT INTO two VALUES (2)");
    const Row nulls = *db->pluck(Table("n"));
    const Row two = *db->pluck(Table("two"));
    EXPECT_EQ(thrown<QueryError>([&] { (void)decodeRecord<Holder<std::string>>(nulls); }),
              "Unexpected null value for column `\"value\"`");
    EXPECT_THROW((void)decodeRecord<Holder<std::string>>(two), QueryError); // INTEGER is no text
    EXPECT_TRUE(decodeRecord<Holder<bool>>(two).value);
    EXPECT_EQ(decodeRecord<Holder<std::optional<std::int64_t>>>(nulls).value, std::nullopt);
    EXPECT_EQ(thrown<CodingError>([&] { (void)decodeRecord<Holder<Address>>(two); }),
              "an unsupported type was found");

    // Only under a table-qualified key: absent when optional, found when required.
    const Row qualified = *db->pluck(Table("n")
                                         .join(Table("two"), Expression<bool>("1"))
                                         .select(Table("two").namespace_(starExpression())));
    EXPECT_EQ(decodeRecord<Holder<std::optional<std::int64_t>>>(qualified).value, std::nullopt);
    EXPECT_EQ(decodeRecord<Holder<std::int64_t>>(qualified).value, 2);
    EXPECT_THROW(
        (void)decodeRecord<Holder<std::int64_t>>(*db->pluck(Table("n").select(column<int>("other")))),
        QueryError); // no such column
}

TEST(RecordRoundTrip, EveryFieldTypeThroughInsertUpsertAndUpdate) {
    auto db = sqltest::memoryWith(kEverythingTable);
    const Table table("everything");
    Everything present = full();
    Everything absent = full();
    absent.count = 1;
    absent.id = Uuid::random();
    absent.note.reset();
    absent.home.reset();
    absent.rank.reset();
    db->run(insertRecord(table, present));
    db->run(insertRecord(table, absent));
    Everything withDefault = absent;
    withDefault.rank = 7; // the column's default, as the field was skipped
    EXPECT_EQ(readEverything(*db), (std::vector<Everything>{present, withDefault}));
    EXPECT_EQ(*db->scalar("SELECT address FROM everything LIMIT 1"),
              Binding(R"({"number":5,"street":"Main Street"})"));

    present.name = "changed";
    present.tags.clear();
    db->run(upsertRecord(table, present, column<Uuid>("id")));
    absent.ratio = -1;
    absent.rank = 8;
    db->run(updateRecord(table.filter(eq(column<Uuid>("id"), absent.id)), absent));
    EXPECT_EQ(readEverything(*db), (std::vector<Everything>{present, absent}));
}

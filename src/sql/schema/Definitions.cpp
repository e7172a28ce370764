#include "sql/schema/Definitions.h"

#include "base/Log.h"

#include <algorithm>
#include <cctype>
#include <regex>

namespace sql {

static bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

static std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

// Every doubled quote mark made single.
static std::string undoubled(std::string_view text, char mark) {
    std::string out;
    for (std::size_t at = 0; at < text.size(); ++at) {
        out += text[at];
        if (text[at] == mark && at + 1 < text.size() && text[at + 1] == mark) {
            ++at;
        }
    }
    return out;
}

static std::string inParentheses(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '(';
    out += text;
    out += ')';
    return out;
}

bool sameName(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

std::string qualifiedName(const std::optional<std::string>& database, std::string_view name) {
    return database ? quote(*database) + "." + quote(name) : quote(name);
}

bool ObjectDefinition::isInternal() const {
    return startsWith(name, "sqlite_") || !sql;
}

std::vector<std::string> sqlTexts(const std::vector<ObjectDefinition>& objects) {
    std::vector<std::string> out;
    for (const ObjectDefinition& o : objects) {
        if (o.sql) {
            out.push_back(*o.sql);
        }
    }
    return out;
}

Affinity affinityOf(std::string_view declaredType) {
    const std::string t = upper(declaredType);
    const auto has = [&](std::string_view part) { return t.find(part) != std::string::npos; };
    if (has("INT")) {
        return Affinity::INTEGER;
    }
    if (has("CHAR") || has("CLOB") || has("TEXT")) {
        return Affinity::TEXT;
    }
    if (has("BLOB") || t.empty()) {
        return Affinity::BLOB;
    }
    if (has("REAL") || has("FLOA") || has("DOUB")) {
        return Affinity::REAL;
    }
    return Affinity::NUMERIC;
}

// ---- literals

static const std::regex& singleQuotePattern() {
    static const std::regex r("^'(.*)'$");
    return r;
}
static const std::regex& doubleQuotePattern() {
    static const std::regex r("^\"(.*)\"$");
    return r;
}
static const std::regex& blobPattern() {
    static const std::regex r("^[xX]'(.*)'$");
    return r;
}

LiteralValue LiteralValue::parse(const std::optional<std::string>& stored) {
    if (!stored) {
        return null();
    }
    static const std::pair<std::string_view, Kind> keywords[] = {
        {"NULL", Kind::null},
        {"TRUE", Kind::true_},
        {"FALSE", Kind::false_},
        {"CURRENT_TIME", Kind::currentTime},
        {"CURRENT_TIMESTAMP", Kind::currentTimestamp},
        {"CURRENT_DATE", Kind::currentDate}};
    for (const auto& [word, kind] : keywords) {
        if (*stored == word) {
            return {kind, {}};
        }
    }
    std::smatch m;
    if (std::regex_search(*stored, m, singleQuotePattern())) {
        return string(undoubled(m[1].str(), '\''));
    }
    if (std::regex_search(*stored, m, doubleQuotePattern())) {
        return string(undoubled(m[1].str(), '"'));
    }
    if (std::regex_search(*stored, m, blobPattern())) {
        return blob(m[1].str());
    }
    return numeric(*stored);
}

std::string LiteralValue::description() const {
    switch (kind) {
    case Kind::numeric:
        return text;
    case Kind::string:
        return quote(text, '\'');
    case Kind::blob:
        return std::string(1, 'X').append(quote(text, '\''));
    case Kind::null:
        return "NULL";
    case Kind::true_:
        return "TRUE";
    case Kind::false_:
        return "FALSE";
    case Kind::currentTime:
        return "CURRENT_TIME";
    case Kind::currentDate:
        return "CURRENT_DATE";
    case Kind::currentTimestamp:
        return "CURRENT_TIMESTAMP";
    }
    return text;
}

// ---- columns

static std::string joined(const std::vector<std::string>& parts, std::string_view separator) {
    std::string out;
    for (const std::string& p : parts) {
        if (p.empty()) {
            continue;
        }
        if (!out.empty()) {
            out += separator;
        }
        out += p;
    }
    return out;
}

// The text with what stands inside quotes made blanks: names and texts are not keywords.
static std::string blankQuoted(std::string_view sql) {
    std::string out(sql);
    char mark = 0;
    for (char& c : out) {
        if (mark == 0 && (c == '\'' || c == '"' || c == '`')) {
            mark = c;
        } else if (mark != 0 && c == mark) {
            mark = 0; // a doubled mark closes and opens again
        } else if (mark != 0) {
            c = ' ';
        }
    }
    return out;
}

std::optional<ColumnDefinition::PrimaryKey> ColumnDefinition::PrimaryKey::parse(std::string_view tableSQL) {
    // SQL keywords are case-insensitive: a key written in lower case is still the key, and a
    // rebuild must not lose it.
    static const std::regex pattern(
        R"(PRIMARY KEY\s*(?:ASC|DESC)?\s*(?:ON CONFLICT (\w+)?)?\s*(AUTOINCREMENT)?)", std::regex::icase);
    const std::string text = blankQuoted(tableSQL);
    std::smatch m;
    if (!std::regex_search(text, m, pattern)) {
        return std::nullopt;
    }
    PrimaryKey key;
    if (m[1].matched) {
        key.onConflict = onConflictRawValues.from(upper(m[1].str()));
    }
    key.autoIncrement = m[2].matched;
    return key;
}

std::string ColumnDefinition::PrimaryKey::toSQL() const {
    return joined({"PRIMARY KEY",
                   onConflict ? "ON CONFLICT " + std::string(onConflictRawValues.raw(*onConflict)) : "",
                   autoIncrement ? "AUTOINCREMENT" : ""},
                  " ");
}

std::string ColumnDefinition::ForeignKey::toSQL() const {
    return joined({"REFERENCES", quote(table), inParentheses(quote(primaryKey)),
                   onUpdate ? "ON UPDATE " + *onUpdate : "", onDelete ? "ON DELETE " + *onDelete : ""},
                  " ");
}

std::string ColumnDefinition::toSQL() const {
    return joined(
        {quote(name), std::string(affinityRawValues.raw(type)),
         defaultValue.kind == LiteralValue::Kind::null ? "" : "DEFAULT " + defaultValue.description(),
         primaryKey ? primaryKey->toSQL() : "", nullable ? "" : "NOT NULL",
         references ? references->toSQL() : ""},
        " ");
}

// ---- indexes

IndexError::IndexError(std::string name, std::string table)
    : name_(std::move(name))
    , table_(std::move(table))
    , description_("Index name '" + name_ + "' on table '" + table_ + "' is too long; the limit is " +
                   std::to_string(IndexDefinition::maxNameLength) + " characters") {}

std::optional<std::string> IndexDefinition::parseWhere(std::string_view indexSQL) {
    static const std::regex pattern(R"(\sWHERE\s+(.+)$)");
    std::match_results<std::string_view::const_iterator> m;
    if (!std::regex_search(indexSQL.begin(), indexSQL.end(), m, pattern)) {
        return std::nullopt;
    }
    return m[1].str();
}

std::map<std::string, IndexOrder> IndexDefinition::parseOrders(std::string_view indexSQL) {
    static const std::regex pattern(R"re("?(\w+)"? DESC)re");
    std::map<std::string, IndexOrder> orders;
    using It = std::regex_iterator<std::string_view::const_iterator>;
    for (It it(indexSQL.begin(), indexSQL.end(), pattern); it != It(); ++it) {
        orders.emplace((*it)[1].str(), IndexOrder::DESC);
    }
    return orders;
}

void IndexDefinition::checkNameLength() const {
    if (characterCount(name) > maxNameLength) {
        throw IndexError(name, table);
    }
}

std::string IndexDefinition::toSQL(bool ifNotExists) const {
    std::vector<std::string> list;
    for (const std::string& c : columns) {
        std::string item = quote(c);
        if (orders) {
            if (auto o = orders->find(c); o != orders->end()) {
                item += ' ';
                item += indexOrderRawValues.raw(o->second);
            }
        }
        list.push_back(std::move(item));
    }
    return joined({"CREATE", unique ? "UNIQUE" : "", "INDEX", ifNotExists ? "IF NOT EXISTS" : "",
                   qualifiedName(database, name), "ON", quote(table), inParentheses(joined(list, ", ")),
                   where ? "WHERE " + *where : ""},
                  " ");
}

// ---- characters

// Code points that join the character before them into one the reader sees as one.
static bool isExtending(char32_t c) {
    static const std::pair<char32_t, char32_t> ranges[] = {
        {0x0300, 0x036F},   {0x0483, 0x0489},  {0x0591, 0x05BD}, {0x0610, 0x061A}, {0x064B, 0x065F},
        {0x0E31, 0x0E31},   {0x0E34, 0x0E3A},  {0x0E47, 0x0E4E}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF},
        {0x200C, 0x200D},   {0x20D0, 0x20FF},  {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}, {0x1F3FB, 0x1F3FF},
        {0xE0020, 0xE007F}, {0xE0100, 0xE01EF}};
    return std::any_of(std::begin(ranges), std::end(ranges),
                       [c](const auto& r) { return c >= r.first && c <= r.second; });
}

// The next code point of `text` from `at`, moving `at` past it; an invalid byte is itself.
static char32_t nextCodePoint(std::string_view text, std::size_t& at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char b = byte(at);
    const std::size_t length = b < 0x80           ? 1
                               : (b >> 5) == 0x6  ? 2
                               : (b >> 4) == 0xE  ? 3
                               : (b >> 3) == 0x1E ? 4
                                                  : 0;
    if (length <= 1 || at + length > text.size()) {
        ++at;
        return b;
    }
    char32_t c = b & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            ++at;
            return b;
        }
        c = (c << 6) | (byte(at + i) & 0x3F);
    }
    at += length;
    return c;
}

std::size_t characterCount(std::string_view utf8) {
    std::size_t count = 0;
    bool joinNext = false;        // after a zero-width joiner
    bool pendingRegional = false; // a regional indicator waiting for its pair (a flag)
    for (std::size_t at = 0; at < utf8.size();) {
        const char32_t c = nextCodePoint(utf8, at);
        const bool regional = c >= 0x1F1E6 && c <= 0x1F1FF;
        const bool extends = count > 0 && (joinNext || isExtending(c) || (regional && pendingRegional));
        if (!extends) {
            ++count;
        }
        if (regional) {
            pendingRegional = !(extends && pendingRegional);
        } else if (!extends) {
            pendingRegional = false;
        }
        joinNext = c == 0x200D;
    }
    return count;
}

// ---- checks and tables

std::string ForeignKeyError::description() const {
    return from + " [" + std::to_string(rowId) + "] => " + to;
}

std::string TableDefinition::toSQL(bool temporary) const {
    if (columns.empty()) {
        base::fatal("a table definition needs a column");
    }
    std::vector<std::string> list;
    for (const ColumnDefinition& c : columns) {
        list.push_back(c.toSQL());
    }
    // Quoted: a rebuilt table may have any name.
    return joined({"CREATE", temporary ? "TEMPORARY" : "", "TABLE", qualifiedName(database, name), "(",
                   joined(list, ",\n"), ")"},
                  " ");
}

std::string TableDefinition::quotedColumnList() const {
    std::vector<std::string> list;
    for (const ColumnDefinition& c : columns) {
        list.push_back(quote(c.name));
    }
    return joined(list, ", ");
}

std::string TableDefinition::copySQL(const TableDefinition& target) const {
    if (columns.empty() || columns.size() != target.columns.size()) {
        base::fatal("a table copy needs the same columns on both sides");
    }
    return "INSERT INTO " + qualifiedName(target.database, target.name) + " (" + target.quotedColumnList() +
           ") SELECT " + quotedColumnList() + " FROM " + qualifiedName(database, name);
}

} // namespace sql

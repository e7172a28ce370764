#include "sql/schema/FullText.h"

#include <algorithm>

namespace sql {

// Each UTF-8 character of `text` once, in order.
static std::string distinctCharacters(std::string_view text) {
    std::vector<std::string_view> seen;
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = at + 1;
        while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
            ++end;
        }
        const std::string_view c = text.substr(at, end - at);
        if (std::find(seen.begin(), seen.end(), c) == seen.end()) {
            seen.push_back(c);
            out += c;
        }
        at = end;
    }
    return out;
}

Tokenizer Tokenizer::unicode61(std::optional<bool> removeDiacritics, std::string_view tokenchars,
                               std::string_view separators) {
    Tokenizer t{"unicode61", {}};
    if (removeDiacritics) {
        t.options.emplace_back("remove_diacritics", *removeDiacritics ? "1" : "0");
    }
    if (!tokenchars.empty()) {
        t.options.emplace_back("tokenchars", distinctCharacters(tokenchars));
    }
    if (!separators.empty()) {
        t.options.emplace_back("separators", distinctCharacters(separators));
    }
    return t;
}

Tokenizer Tokenizer::trigram(bool caseSensitive) {
    return {"trigram", {{"case_sensitive", caseSensitive ? "1" : "0"}}};
}

std::string Tokenizer::description() const {
    std::string out = name;
    for (const auto& [key, value] : options) {
        out += ' ';
        out += quote(key + "=" + value, '"');
    }
    return out;
}

std::string Tokenizer::fts5Text() const {
    const auto bare = [](const std::string& v) {
        return !v.empty() && std::all_of(v.begin(), v.end(), [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        });
    };
    std::string out = name;
    for (const auto& [key, value] : options) {
        out += " " + key + " " + (bare(value) ? value : quote(value, '\''));
    }
    return quote(out, '\'');
}

// key=value, the value's bindings kept.
static Expression<> option(std::string_view key, const Expression<>& value) {
    return joinExpressions({Expression<>(std::string(key)), value}, "=");
}
static Expression<> quotedOption(std::string_view key, std::string_view value) {
    return option(key, Expression<>(quote(value, '"')));
}

// The options both modules share: columns, tokenize, prefix, content.
static std::vector<Expression<>> sharedOptions(const FTSSettings& s, bool fts5) {
    std::vector<Expression<>> out;
    for (const FTSSettings::Column& c : s.columns) {
        out.push_back(fts5 && c.unindexed ? joinExpressions({c.expression, Expression<>("UNINDEXED")}, " ")
                                          : c.expression);
    }
    if (s.tokenizer) {
        // FTS5 takes the tokenizer as one quoted text; FTS4 as bare words.
        out.push_back(
            option("tokenize", Expression<>(fts5 ? s.tokenizer->fts5Text() : s.tokenizer->description())));
    }
    if (!s.prefixes.empty()) {
        std::vector<int> sorted = s.prefixes;
        std::sort(sorted.begin(), sorted.end());
        std::string list;
        for (int p : sorted) {
            if (!list.empty()) {
                list += ',';
            }
            list += std::to_string(p);
        }
        out.push_back(quotedOption("prefix", list));
    }
    if (s.contentless) {
        out.push_back(quotedOption("content", ""));
    } else if (s.externalContent) {
        out.push_back(option("content", *s.externalContent));
    }
    return out;
}

std::vector<Expression<>> FTS4Config::options() const {
    std::vector<Expression<>> out = sharedOptions(settings, false);
    for (const FTSSettings::Column& c : settings.columns) {
        if (c.unindexed) {
            out.push_back(option("notindexed", c.expression));
        }
    }
    const std::pair<std::string_view, const std::optional<std::string>*> texts[] = {
        {"languageid", &languageIdColumn},
        {"compress", &compressFunction},
        {"uncompress", &uncompressFunction}};
    for (const auto& [key, value] : texts) {
        if (*value) {
            out.push_back(quotedOption(key, **value));
        }
    }
    if (matchInfoFts3) {
        out.push_back(quotedOption("matchinfo", "fts3"));
    }
    if (order) {
        out.push_back(quotedOption("order", *order == Order::asc ? "asc" : "desc"));
    }
    return out;
}

std::vector<Expression<>> FTS5Config::options() const {
    std::vector<Expression<>> out = sharedOptions(settings, true);
    if (contentRowIdColumn) {
        out.push_back(option("content_rowid", *contentRowIdColumn));
    }
    if (columnSizeValue) {
        out.push_back(option("columnsize", placeholderExpression(Binding(*columnSizeValue))));
    }
    if (detailValue) {
        static constexpr std::string_view names[] = {"full", "column", "none"};
        out.push_back(quotedOption("detail", names[static_cast<int>(*detailValue)]));
    }
    return out;
}

Module fts4(const FTS4Config& config) {
    return Module::builtIn("fts4", config.options());
}

Module fts4(const std::vector<Expression<>>& columns, std::optional<Tokenizer> tokenizer) {
    FTS4Config config;
    config.columns(columns).tokenizer(std::move(tokenizer));
    return fts4(config);
}

Module fts5(const FTS5Config& config) {
    return Module::builtIn("fts5", config.options());
}

Module rtree(const Expression<>& id, const std::vector<std::pair<Expression<>, Expression<>>>& pairs) {
    std::vector<Expression<>> arguments{id};
    for (const auto& [low, high] : pairs) {
        arguments.push_back(low);
        arguments.push_back(high);
    }
    return Module::builtIn("rtree", std::move(arguments));
}

Expression<> matchOperand(const VirtualTable& table) {
    const FromClause& from = table.clauses.from;
    if (from.alias || !from.database) {
        return table.tableName(false);
    }
    return Expression<>(quote(*from.database) + "." + quote(from.name) + "." + quote(from.name));
}

Expression<bool> match(const VirtualTable& table, const std::string& pattern) {
    return infixExpression<bool>(matchOperand(table), valueExpression(pattern), "MATCH", true);
}

} // namespace sql

#include "platform/defaults/ValueCoding.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>
#include <stdexcept>

namespace platform {

namespace {

using json = nlohmann::json;

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int base64Digit(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

// JSON has no NaN or infinity; those travel as strings inside their tag.
json finiteOrName(double d) {
    if (std::isnan(d)) {
        return "nan";
    }
    if (std::isinf(d)) {
        return d > 0 ? "inf" : "-inf";
    }
    return d;
}

double numberOrName(const json& j) {
    if (j.is_number()) {
        return j.get<double>();
    }
    if (j.is_string()) {
        const auto& s = j.get_ref<const std::string&>();
        if (s == "nan") {
            return std::numeric_limits<double>::quiet_NaN();
        }
        if (s == "inf") {
            return std::numeric_limits<double>::infinity();
        }
        if (s == "-inf") {
            return -std::numeric_limits<double>::infinity();
        }
    }
    throw std::invalid_argument("a tagged number is neither a number nor nan/inf/-inf");
}

json encode(const Value& v);

json encodeDictionary(const Dictionary& d) {
    json object = json::object();
    for (const auto& [key, value] : d) {
        object[key] = encode(value);
    }
    if (d.size() == 1 && !d.begin()->first.empty() && d.begin()->first[0] == '@') {
        return json{{"@dict", std::move(object)}};
    }
    return object;
}

json encode(const Value& v) {
    switch (v.type()) {
    case Value::Type::boolean:
        return *v.boolean();
    case Value::Type::integer:
        return *v.integer();
    case Value::Type::real:
        if (!std::isfinite(*v.real())) {
            return json{{"@double", finiteOrName(*v.real())}};
        }
        return *v.real();
    case Value::Type::floating:
        return json{{"@float", finiteOrName(static_cast<double>(*v.floating()))}};
    case Value::Type::string:
        return *v.string();
    case Value::Type::data:
        return json{{"@data", base64Encode(*v.data())}};
    case Value::Type::array: {
        json array = json::array();
        for (const auto& item : *v.array()) {
            array.push_back(encode(item));
        }
        return array;
    }
    case Value::Type::dictionary:
        return encodeDictionary(*v.dictionary());
    }
    return nullptr;
}

// Deeper nesting than any setting needs is taken for damage (and keeps the recursion bounded).
constexpr int kMaxDepth = 256;

Value decode(const json& j, int depth);

// The value of the member `key` of an object at `depth`.
Value decodeMember(const std::string& key, const json& value, int depth) {
    if (key.size() > kMaxSettingKeyBytes) {
        throw std::invalid_argument("a key longer than any setting's");
    }
    return decode(value, depth + 1);
}

Dictionary decodeMembers(const json& object, int depth) {
    if (depth > kMaxDepth) {
        throw std::invalid_argument("values nested too deeply");
    }
    Dictionary d;
    for (const auto& [key, value] : object.items()) {
        d.emplace(key, decodeMember(key, value, depth));
    }
    return d;
}

Value decodeObject(const json& j, int depth) {
    if (j.size() != 1 || j.begin().key().empty() || j.begin().key()[0] != '@') {
        return Value(decodeMembers(j, depth));
    }
    const std::string& tag = j.begin().key();
    const json& inner = j.begin().value();
    if (tag == "@float") {
        return Value(static_cast<float>(numberOrName(inner)));
    }
    if (tag == "@double") {
        return Value(numberOrName(inner));
    }
    if (tag == "@data") {
        if (!inner.is_string()) {
            throw std::invalid_argument("@data is not a string");
        }
        auto bytes = base64Decode(inner.get_ref<const std::string&>());
        if (!bytes) {
            throw std::invalid_argument("@data is not base64");
        }
        return Value(std::move(*bytes));
    }
    if (tag == "@dict" && inner.is_object()) {
        return Value(decodeMembers(inner, depth));
    }
    throw std::invalid_argument("unknown tag " + tag);
}

Value decode(const json& j, int depth) {
    if (depth > kMaxDepth) {
        throw std::invalid_argument("values nested too deeply");
    }
    switch (j.type()) {
    case json::value_t::boolean:
        return Value(j.get<bool>());
    case json::value_t::number_integer:
        return Value(j.get<std::int64_t>());
    case json::value_t::number_unsigned: {
        const auto u = j.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return Value(static_cast<double>(u));
        }
        return Value(static_cast<std::int64_t>(u));
    }
    case json::value_t::number_float:
        return Value(j.get<double>());
    case json::value_t::string:
        if (j.get_ref<const std::string&>().size() > kMaxSettingStringBytes) {
            throw std::invalid_argument("a string longer than any setting's");
        }
        return Value(j.get<std::string>());
    case json::value_t::array: {
        Array a;
        a.reserve(j.size());
        for (const auto& item : j) {
            a.push_back(decode(item, depth + 1));
        }
        return Value(std::move(a));
    }
    case json::value_t::object:
        return decodeObject(j, depth);
    case json::value_t::null:
    case json::value_t::binary:
    case json::value_t::discarded:
        break;
    }
    throw std::invalid_argument("a value is null or not JSON");
}

} // namespace

std::string base64Encode(const Data& bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned n = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        out += kBase64Alphabet[(n >> 18) & 63];
        out += kBase64Alphabet[(n >> 12) & 63];
        out += kBase64Alphabet[(n >> 6) & 63];
        out += kBase64Alphabet[n & 63];
    }
    if (i + 1 == bytes.size()) {
        const unsigned n = bytes[i] << 16;
        out += kBase64Alphabet[(n >> 18) & 63];
        out += kBase64Alphabet[(n >> 12) & 63];
        out += "==";
    } else if (i + 2 == bytes.size()) {
        const unsigned n = (bytes[i] << 16) | (bytes[i + 1] << 8);
        out += kBase64Alphabet[(n >> 18) & 63];
        out += kBase64Alphabet[(n >> 12) & 63];
        out += kBase64Alphabet[(n >> 6) & 63];
        out += '=';
    }
    return out;
}

std::optional<Data> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    Data out;
    out.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int d[4];
        int padding = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text[i + k];
            if (c == '=' && last && k >= 2) {
                d[k] = 0;
                ++padding;
                continue;
            }
            if (padding > 0) {
                return std::nullopt; // a digit after padding
            }
            d[k] = base64Digit(c);
            if (d[k] < 0) {
                return std::nullopt;
            }
        }
        const unsigned n = (d[0] << 18) | (d[1] << 12) | (d[2] << 6) | d[3];
        out.push_back(static_cast<std::uint8_t>(n >> 16));
        if (padding < 2) {
            out.push_back(static_cast<std::uint8_t>(n >> 8));
        }
        if (padding < 1) {
            out.push_back(static_cast<std::uint8_t>(n));
        }
    }
    return out;
}

std::string encodeDefaultsFile(const Dictionary& values) {
    json object = json::object();
    for (const auto& [key, value] : values) {
        object[key] = encode(value);
    }
    // Invalid UTF-8 in a string is replaced rather than failing the whole save.
    return object.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

std::optional<Dictionary> decodeDefaultsFile(std::string_view text, std::string* why,
                                             std::vector<std::string>* unreadable) {
    auto say = [&](std::string message) {
        if (why) {
            *why = std::move(message);
        }
        return std::nullopt;
    };
    json parsed = json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
    if (parsed.is_discarded()) {
        return say("not valid JSON");
    }
    if (!parsed.is_object()) {
        return say("not a JSON object");
    }
    // One member at a time: a value that cannot be read costs that setting alone.
    Dictionary values;
    for (const auto& [key, value] : parsed.items()) {
        try {
            values.emplace(key, decodeMember(key, value, 0));
        } catch (const std::exception& e) {
            if (!unreadable) {
                return say(e.what());
            }
            unreadable->push_back(key.substr(0, kMaxSettingKeyBytes));
        }
    }
    return values;
}

} // namespace platform

#include "sql/Value.h"

#include <sqlite3.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

namespace sql {

Blob::Blob(const void* data, std::size_t count) {
    if (count > 0) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        bytes.assign(p, p + count);
    }
}

std::string Blob::toHex() const {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 0xf];
    }
    return out;
}

std::string Blob::description() const {
    return "x'" + toHex() + "'";
}

// ---- Uuid

Uuid Uuid::random() {
    thread_local std::mt19937_64 engine{std::random_device{}()};
    Uuid u;
    for (int i = 0; i < 16; i += 8) {
        std::uint64_t r = engine();
        std::memcpy(u.bytes.data() + i, &r, 8);
    }
    u.bytes[6] = static_cast<std::uint8_t>((u.bytes[6] & 0x0f) | 0x40); // version 4
    u.bytes[8] = static_cast<std::uint8_t>((u.bytes[8] & 0x3f) | 0x80); // RFC 4122 variant
    return u;
}

static int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

static bool isDashPosition(std::size_t i) {
    return i == 8 || i == 13 || i == 18 || i == 23;
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
    if (text.size() != 36) {
        return std::nullopt;
    }
    Uuid u;
    std::size_t byte = 0;
    for (std::size_t i = 0; i < 36;) {
        if (isDashPosition(i)) {
            if (text[i] != '-') {
                return std::nullopt;
            }
            ++i;
            continue;
        }
        const int hi = hexValue(text[i]);
        const int lo = hexValue(text[i + 1]);
        if (hi < 0 || lo < 0) {
            return std::nullopt;
        }
        u.bytes[byte++] = static_cast<std::uint8_t>(hi * 16 + lo);
        i += 2;
    }
    return u;
}

std::string Uuid::toString() const {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(36);
    for (std::size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            out += '-';
        }
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0xf];
    }
    return out;
}

// ---- dates: always UTC, three fraction digits

std::string formatDate(Date date) {
    using namespace std::chrono;
    // Four digits of year: a wider or negative year would be written and never read back.
    static constexpr sys_days first{year{0} / 1 / 1};
    static constexpr sys_days pastLast{year{10000} / 1 / 1};
    if (date < first || date >= pastLast) {
        throw Result("date out of range: only the years 0000 to 9999 can be stored", SQLITE_MISMATCH);
    }
    const auto day = floor<days>(date);
    const year_month_day ymd{day};
    const hh_mm_ss<milliseconds> time{date - day};
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02d.%03d", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
    return buf;
}

static bool readNumber(std::string_view text, std::size_t pos, std::size_t len, int& out) {
    if (pos + len > text.size()) {
        return false;
    }
    out = 0;
    for (std::size_t i = pos; i < pos + len; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        out = out * 10 + (text[i] - '0');
    }
    return true;
}

std::optional<Date> parseDate(std::string_view text) {
    using namespace std::chrono;
    // yyyy-MM-ddTHH:mm:ss.SSS
    if (text.size() != 23 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != '.') {
        return std::nullopt;
    }
    int y, mo, d, h, mi, s, ms;
    if (!readNumber(text, 0, 4, y) || !readNumber(text, 5, 2, mo) || !readNumber(text, 8, 2, d) ||
        !readNumber(text, 11, 2, h) || !readNumber(text, 14, 2, mi) || !readNumber(text, 17, 2, s) ||
        !readNumber(text, 20, 3, ms)) {
        return std::nullopt;
    }
    const year_month_day ymd{year{y}, month{static_cast<unsigned>(mo)}, day{static_cast<unsigned>(d)}};
    if (!ymd.ok() || h > 23 || mi > 59 || s > 60) {
        return std::nullopt;
    }
    return sys_days{ymd} + hours{h} + minutes{mi} + seconds{s} + milliseconds{ms};
}

// ---- literals

static std::string quoted(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        out += c;
        if (c == '\'') {
            out += '\'';
        }
    }
    out += '\'';
    return out;
}

// Text SQLite reads back as a REAL: "1" would be an integer, "inf" a column name. NaN binds
// as NULL, so it is written as NULL.
static std::string realLiteral(double d) {
    if (std::isnan(d)) {
        return "NULL";
    }
    if (std::isinf(d)) {
        return d > 0 ? "1e999" : "-1e999";
    }
    char buf[32];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
    (void)ec;
    std::string text(buf, end);
    if (text.find_first_of(".e") == std::string::npos) {
        text += ".0";
    }
    return text;
}

std::string literal(const std::optional<Binding>& b) {
    if (!b) {
        return "NULL";
    }
    if (const auto* i = std::get_if<std::int64_t>(&*b)) {
        return std::to_string(*i);
    }
    if (const auto* d = std::get_if<double>(&*b)) {
        return realLiteral(*d);
    }
    if (const auto* s = std::get_if<std::string>(&*b)) {
        return quoted(*s);
    }
    return std::get<Blob>(*b).description();
}

} // namespace sql

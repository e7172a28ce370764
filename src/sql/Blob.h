// A BLOB value: the bytes of one SQLite blob, as a value type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sql {

// Equality compares length and bytes. An empty blob is a blob of zero bytes, never NULL.
struct Blob {
    std::vector<std::uint8_t> bytes;

    Blob() = default;
    explicit Blob(std::vector<std::uint8_t> b)
        : bytes(std::move(b)) {}
    // Copies `count` bytes from `data` (none when count is 0; data may then be null).
    Blob(const void* data, std::size_t count);

    bool empty() const { return bytes.empty(); }
    std::size_t size() const { return bytes.size(); }

    // Two lower-case hexadecimal digits per byte, nothing between them.
    std::string toHex() const;
    // The SQL blob literal: x'00ff'.
    std::string description() const;

    bool operator==(const Blob&) const = default;
};

} // namespace sql

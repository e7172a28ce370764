// A stretch of text in UTF-16 code units: where it starts and how many units it covers.
#pragma once

namespace platform {

struct TextRange {
    int location = 0;
    int length = 0;

    constexpr int end() const { return location + length; }
    constexpr bool isEmpty() const { return length == 0; }
    // True when location <= index < end.
    constexpr bool contains(int index) const { return index >= location && index < end(); }
    friend constexpr bool operator==(const TextRange&, const TextRange&) = default;
};

} // namespace platform

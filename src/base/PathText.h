// Keeping file names in text formats (JSON settings, indexes) when their bytes are not UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace base {

// Whether `bytes` are well-formed UTF-8 (no overlong forms, surrogates or code points past
// U+10FFFF).
bool isUtf8(std::string_view bytes);

// An absolute path as text that JSON can hold: the path itself when it is UTF-8, else a "file://"
// URL with every byte outside A–Z, a–z, 0–9, "-._~/" percent-encoded. pathFromText() turns either
// back into the same bytes.
std::string pathAsText(const std::string& path);
std::string pathFromText(const std::string& text);

} // namespace base

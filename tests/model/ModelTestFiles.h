// Reading and writing whole files, and a document of plain text, for the model's file tests.
#pragma once

#include "cuewright/model/Document.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace modeltest {

inline std::string fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeBytes(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline cw::Document documentWith(const QString& text) {
    cw::Document document;
    document.text = platform::AttributedString(text);
    return document;
}

} // namespace modeltest

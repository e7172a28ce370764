// The zip container of Office Open XML packages. libzip stays inside ZipPackage.cpp.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::codecs {

// Reads entries of one zip archive. Move-only; not for concurrent use.
class ZipReader {
public:
    // Opens the archive at path. Throws CodecError when the file is missing or is not a zip.
    static ZipReader openFile(const std::string& path);
    // Opens an archive held in memory; the reader keeps its own copy.
    static ZipReader openData(std::string data);

    ZipReader(ZipReader&&) noexcept;
    ZipReader& operator=(ZipReader&&) noexcept;
    ~ZipReader();

    // The inflated bytes of the entry named name (compared without case, as package part names
    // are), or nullopt when there is none. Throws CodecError when the entry inflates to more than
    // limit bytes, is encrypted or is damaged: the limit is what keeps a zip bomb out of memory.
    std::optional<std::string> read(std::string_view name, std::size_t limit) const;

private:
    struct Impl;
    explicit ZipReader(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> d;
};

// Collects entries and makes a deflated zip archive of them, in the order they were added.
class ZipWriter {
public:
    void add(std::string name, std::string data);
    // The archive's bytes. Throws CodecError when libzip fails.
    std::string finish() const;

private:
    struct Entry {
        std::string name;
        std::string data;
    };
    std::vector<Entry> entries;
};

} // namespace platform::codecs

// A fresh folder per test in the temp folder, removed afterwards.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace testsupport {

class TempDir {
public:
    TempDir() {
        // The temp folder, not the build tree: a socket's path in here must stay under 108 bytes.
        std::string pattern = (std::filesystem::temp_directory_path() / "cw-tmp-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

} // namespace testsupport

// A private folder for fuzz targets that must hand their input over as a file: in memory when
// there is one, removed when the run ends.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace fuzzsupport {

inline const std::filesystem::path& workFolder(const std::string& target) {
    struct Folder {
        explicit Folder(const std::string& target) {
            namespace fs = std::filesystem;
            const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
            path = base / ("cw-fuzz-" + target + "-" + std::to_string(::getpid()));
            fs::create_directories(path);
        }
        ~Folder() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
        std::filesystem::path path;
    };
    static const Folder folder(target);
    return folder.path;
}

inline void writeFile(const std::filesystem::path& path, const unsigned char* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

} // namespace fuzzsupport

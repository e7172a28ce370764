// A fresh folder per test in the temp folder, removed afterwards; and one that every user may
// reach, for what another user must reach.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <sys/stat.h>
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

// A folder of its own, under a random name, that every user may enter and write in, for another
// user's sockets and files. The test's temporary folder may lie in a private one (a home or
// runtime folder of mode 0700), or be too long for a socket's path: then it is made in /tmp or
// /var/tmp instead. Removed when destroyed.
struct SharedFolder {
    std::filesystem::path path;
    SharedFolder() {
        std::error_code ignored;
        for (const std::filesystem::path& base :
             {std::filesystem::temp_directory_path(ignored), std::filesystem::path("/tmp"),
              std::filesystem::path("/var/tmp")}) {
            std::string pattern = (base / "cw-shared-XXXXXX").string();
            if (base.is_absolute() && pattern.size() <= maxLength && everyoneEnters(base) &&
                ::mkdtemp(pattern.data()) != nullptr) {
                path = pattern;
                break;
            }
        }
        std::filesystem::permissions(path, std::filesystem::perms::all);
    }
    ~SharedFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    SharedFolder(const SharedFolder&) = delete;
    SharedFolder& operator=(const SharedFolder&) = delete;
    std::string operator/(const std::string& name) const { return (path / name).string(); }

private:
    // Room left for a socket's name within the 107 bytes of its path.
    static constexpr std::size_t maxLength = 64;
    // Whether every folder on the way to `folder` lets others through.
    static bool everyoneEnters(const std::filesystem::path& folder) {
        std::filesystem::path walked;
        for (const auto& part : folder) {
            walked /= part;
            struct stat status {};
            if (::stat(walked.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
                (status.st_mode & S_IXOTH) == 0) {
                return false;
            }
        }
        return true;
    }
};

} // namespace testsupport

#include "base/PrivateFolder.h"

#include "base/Log.h"

#include <cstdlib>
#include <string>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace base {

static bool isPrivateFolder(const std::filesystem::path& folder) {
    struct stat status {};
    if (::lstat(folder.c_str(), &status) != 0) {
        return false;
    }
    return S_ISDIR(status.st_mode) && status.st_uid == ::geteuid() && (status.st_mode & 077) == 0;
}

std::optional<std::filesystem::path> privateTemporaryFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime == '/') {
        if (isPrivateFolder(runtime)) {
            return std::filesystem::path(runtime).lexically_normal();
        }
    }
    std::error_code error;
    std::filesystem::path shared = std::filesystem::temp_directory_path(error);
    if (error) {
        shared = "/tmp";
    }
    const std::filesystem::path folder = shared / ("cuewright-" + std::to_string(::geteuid()));
    (void)::mkdir(folder.c_str(), 0700);
    if (isPrivateFolder(folder)) {
        return folder;
    }
    log(folder.string() + " is not a private folder of this user: not used");
    return std::nullopt;
}

} // namespace base

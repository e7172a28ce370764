#include "cuewright/model/ApplicationSupport.h"

#include "base/Log.h"
#include "base/PrivateFolder.h"

#include <cstdlib>
#include <string>
#include <system_error>

#include <mutex>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cw {

static std::optional<std::filesystem::path> environmentPath(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    return std::filesystem::path(value);
}

static std::optional<std::filesystem::path> homeDirectory() {
    if (auto home = environmentPath("HOME")) {
        return home;
    }
    const passwd* entry = ::getpwuid(::getuid());
    if (entry == nullptr || entry->pw_dir == nullptr || *entry->pw_dir == '\0') {
        return std::nullopt;
    }
    return std::filesystem::path(entry->pw_dir);
}

std::optional<std::filesystem::path> applicationSupportPath() {
    if (auto own = environmentPath(std::string(applicationSupportVariable).c_str())) {
        return own;
    }
    // A relative XDG_DATA_HOME is invalid and ignored, as the base-directory rules ask.
    if (auto data = environmentPath("XDG_DATA_HOME"); data && data->is_absolute()) {
        return *data / "Cuewright";
    }
    if (auto home = homeDirectory()) {
        return *home / ".local" / "share" / "Cuewright";
    }
    return std::nullopt;
}

std::optional<std::filesystem::path> applicationSupportDirectory() {
    std::optional<std::filesystem::path> directory = applicationSupportPath();
    if (!directory) {
        return std::nullopt;
    }
    // Made the user's alone whatever the umask: others may not write in it (see below).
    std::error_code error;
    std::filesystem::create_directories(directory->parent_path(), error);
    (void)::mkdir(directory->c_str(), 0700);
    struct stat status {};
    if (::stat(directory->c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        return std::nullopt;
    }
    static std::mutex mutex;
    static std::string told;
    const std::lock_guard lock(mutex);
    if (const std::optional<std::string> why = base::whyNotTheUsersOwn(*directory, status)) {
        if (*why != told) {
            base::log("The application-support folder is not used: " + *why);
            told = *why;
        }
        return std::nullopt;
    }
    return directory;
}

} // namespace cw

#include "base/PrivateFolder.h"

#include "base/Log.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

#include <grp.h>
#include <pwd.h>
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

static bool othersMayWrite(const struct stat& status) {
    if ((status.st_mode & S_IWOTH) != 0) {
        return true;
    }
    if ((status.st_mode & S_IWGRP) == 0) {
        return false;
    }
    const group* owners = ::getgrgid(status.st_gid);
    const passwd* user = ::getpwuid(::geteuid());
    if (owners == nullptr || user == nullptr || std::strcmp(owners->gr_name, user->pw_name) != 0) {
        return true;
    }
    for (char** member = owners->gr_mem; *member != nullptr; ++member) {
        if (std::strcmp(*member, user->pw_name) != 0) {
            return true;
        }
    }
    return false;
}

std::optional<std::string> whyNotTheUsersOwn(const std::filesystem::path& folder, const struct stat& status) {
    if (status.st_uid != ::geteuid()) {
        return folder.string() + " belongs to another user; nothing in it is touched";
    }
    if (othersMayWrite(status)) {
        return "other users may write in " + folder.string() + "; nothing in it is touched";
    }
    return std::nullopt;
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

void namePrivateRuntimeFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime == '/' && isPrivateFolder(runtime)) {
        return;
    }
    if (const std::optional<std::filesystem::path> own = privateTemporaryFolder()) {
        ::setenv("XDG_RUNTIME_DIR", own->c_str(), 1);
    }
}

} // namespace base

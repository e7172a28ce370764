#include "base/AtomicFile.h"

#include "base/Log.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <fstream>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace base {

namespace {

// `folder` is where the file was written: through a link, the folder of the file it leads to.
[[noreturn]] void fail(int error, const std::filesystem::path& destination,
                       const std::filesystem::path& folder) {
    throw FileWriteError(std::error_code(error, std::generic_category()), destination, folder);
}

std::string reason(std::error_code code, const std::filesystem::path& folder) {
    if (code.category() == std::generic_category() || code.category() == std::system_category()) {
        switch (code.value()) {
        case EROFS:
            return "the folder \"" + folder.string() + "\" is read-only";
        case EACCES:
        case EPERM:
            return "no permission to write in \"" + folder.string() + "\"";
        case ENOSPC:
        case EDQUOT:
            return "the disk is full";
        case EFBIG:
            return "the file is larger than this system allows";
        default:
            break;
        }
    }
    std::string text = code.message();
    if (!text.empty()) {
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    }
    return text;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd)
        : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    // Closes now so that a failing close (a full disk on some file systems) is seen.
    int close() {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

// Makes the rename durable; the destination is complete either way, so a failure is not reported.
void syncFolder(const std::filesystem::path& folder) {
    FileDescriptor fd(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0) {
        (void)::fsync(fd.get());
    }
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Read, not set: umask() would change it for every thread for a moment. When it cannot be read
// (no descriptor left to read it with) the file stays private rather than open to others.
mode_t processUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("Umask:")) {
            return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
        }
    }
    return 077;
}

// The six letters or digits mkstemp puts in place of "XXXXXX".
bool isMkstempSuffix(std::string_view text) {
    return text.size() == 6 && std::all_of(text.begin(), text.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c));
           });
}

} // namespace

FileWriteError::FileWriteError(std::error_code code, const std::filesystem::path& destination)
    : FileWriteError(code, destination, destination.parent_path()) {}

FileWriteError::FileWriteError(std::error_code code, const std::filesystem::path& destination,
                               const std::filesystem::path& folder)
    : std::system_error(code)
    , reason_(base::reason(code, folder))
    , message_("Could not save \"" + destination.string() + "\": " + reason_ + ".") {}

std::string temporaryPrefix(std::string_view stem) {
    return std::string(stem) + std::to_string(::getpid()) + "-";
}

bool temporaryFileWriterMayBeAlive(std::string_view nameAfterStem) {
    const char* first = nameAfterStem.data();
    const char* last = first + nameAfterStem.size();
    int pid = 0;
    const auto [dash, ec] = std::from_chars(first, last, pid);
    // Anything else may be a file of the user's, or a writer's that names its files otherwise.
    if (ec != std::errc() || pid <= 0 || dash == last || *dash != '-' ||
        !isMkstempSuffix(std::string_view(dash + 1, static_cast<std::size_t>(last - dash - 1)))) {
        return true;
    }
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

std::vector<std::filesystem::path> removeStaleTemporaryFiles(const std::filesystem::path& folder,
                                                             std::string_view stem) {
    std::vector<std::filesystem::path> removed;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder.empty() ? "." : folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!name.starts_with(stem) ||
            temporaryFileWriterMayBeAlive(std::string_view(name).substr(stem.size()))) {
            continue;
        }
        struct stat status {};
        if (::lstat(it->path().c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
            status.st_uid != ::geteuid()) {
            continue;
        }
        std::error_code ignored;
        if (std::filesystem::remove(it->path(), ignored)) {
            log("removed " + it->path().string() + ", left behind by an interrupted save");
            removed.push_back(it->path());
        }
    }
    return removed;
}

std::filesystem::path fileToReplace(const std::filesystem::path& destination, DestinationLink link) {
    if (link == DestinationLink::replace) {
        return destination;
    }
    std::filesystem::path file = destination;
    // As many links in a row as the system itself follows before it says ELOOP.
    for (int hop = 0; hop < 40; ++hop) {
        std::error_code error;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(file, error))) {
            return file;
        }
        const std::filesystem::path target = std::filesystem::read_symlink(file, error);
        if (error) {
            return file;
        }
        file = target.is_absolute() ? target : file.parent_path() / target;
    }
    return destination;
}

TemporaryFile createTemporaryFileBeside(const std::filesystem::path& destination, const std::string& prefix,
                                        DestinationLink link) {
    const std::filesystem::path folder = fileToReplace(destination, link).parent_path();
    std::string pattern = (folder / (prefix + "XXXXXX")).string();
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        fail(errno, destination, folder);
    }
    // mkstemp makes the file 0600: nobody else reads a script while it is written. It gets its
    // final mode just before it takes the destination's place.
    return TemporaryFile{pattern, fd};
}

void replaceFileAtomically(const std::filesystem::path& finishedFile,
                           const std::filesystem::path& destination, const BeforeReplaceHook& beforeReplace,
                           std::optional<mode_t> mode, DestinationLink link) {
    const std::filesystem::path replaced = fileToReplace(destination, link);
    FileDescriptor fd(::open(finishedFile.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0 || ::fsync(fd.get()) != 0) {
        fail(errno, destination, replaced.parent_path());
    }
    // Failures below keep the working copy's private mode: a sound file, only less shared.
    struct stat existing {};
    if (mode) {
        (void)::fchmod(fd.get(), *mode);
    } else if (::lstat(replaced.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
        // A script shared through a group stays the group's; the system refuses a group the user
        // is not in. Before the mode: a change of group clears the set-id bits.
        struct stat own {};
        if (::fstat(fd.get(), &own) == 0 && own.st_gid != existing.st_gid) {
            (void)::fchown(fd.get(), static_cast<uid_t>(-1), existing.st_gid);
        }
        if (::geteuid() == 0 && own.st_uid != existing.st_uid) {
            (void)::fchown(fd.get(), existing.st_uid, static_cast<gid_t>(-1)); // an administrator's edit
        }
        (void)::fchmod(fd.get(), existing.st_mode & 07777);
    } else {
        (void)::fchmod(fd.get(), 0666 & ~processUmask());
    }
    fd.close();
    if (beforeReplace && !beforeReplace(finishedFile)) {
        fail(ECANCELED, destination, replaced.parent_path());
    }
    if (::rename(finishedFile.c_str(), replaced.c_str()) != 0) {
        fail(errno, destination, replaced.parent_path());
    }
    syncFolder(replaced.parent_path());
}

void writeFileAtomically(const std::filesystem::path& destination, std::string_view bytes,
                         const AtomicWriteOptions& options) {
    const TemporaryFile created =
        createTemporaryFileBeside(destination, options.temporaryPrefix, options.link);
    const std::filesystem::path& temporary = created.path;
    FileDescriptor file(created.fd);
    try {
        if (!writeAll(file.get(), bytes)) {
            fail(errno ? errno : EIO, destination, temporary.parent_path());
        }
        if (file.close() != 0) {
            fail(errno, destination, temporary.parent_path());
        }
        replaceFileAtomically(temporary, destination, options.beforeReplace, options.mode, options.link);
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        throw;
    }
}

} // namespace base

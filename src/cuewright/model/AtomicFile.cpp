#include "cuewright/model/AtomicFile.h"

#include <atomic>
#include <cerrno>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cw {

namespace {

[[noreturn]] void fail(int error, const std::string& what, const std::filesystem::path& path) {
    throw std::system_error(error, std::generic_category(), what + " \"" + path.string() + "\"");
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

void syncFile(const std::filesystem::path& path) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        fail(errno, "Could not open", path);
    }
    if (::fsync(fd.get()) != 0) {
        fail(errno, "Could not write", path);
    }
}

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

std::filesystem::path temporaryPathBeside(const std::filesystem::path& destination) {
    static std::atomic<unsigned> counter{0};
    // Appended piece by piece: GCC 12 warns falsely about "." + std::string (-Wrestrict).
    std::string name(".");
    name += destination.filename().string();
    name += ".tmp-";
    name += std::to_string(::getpid());
    name += "-";
    name += std::to_string(counter.fetch_add(1));
    return destination.parent_path() / name;
}

} // namespace

void replaceFileAtomically(const std::filesystem::path& finishedFile,
                           const std::filesystem::path& destination, const BeforeReplaceHook& beforeReplace) {
    syncFile(finishedFile);
    struct stat existing {};
    if (::stat(destination.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
        // A failure here keeps the new file's own permissions, which is still a sound file.
        (void)::chmod(finishedFile.c_str(), existing.st_mode & 07777);
    }
    if (beforeReplace && !beforeReplace(finishedFile)) {
        fail(ECANCELED, "Could not replace", destination);
    }
    if (::rename(finishedFile.c_str(), destination.c_str()) != 0) {
        fail(errno, "Could not replace", destination);
    }
    syncFolder(destination.parent_path());
}

void writeFileAtomically(const std::filesystem::path& destination, std::string_view bytes,
                         const BeforeReplaceHook& beforeReplace) {
    std::filesystem::path temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = temporaryPathBeside(destination);
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            fail(errno, "Could not write", destination);
        }
    }
    if (fd < 0) {
        fail(EEXIST, "Could not write", destination);
    }
    FileDescriptor file(fd);
    try {
        if (!writeAll(file.get(), bytes)) {
            fail(errno ? errno : EIO, "Could not write", destination);
        }
        if (file.close() != 0) {
            fail(errno, "Could not write", destination);
        }
        replaceFileAtomically(temporary, destination, beforeReplace);
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        throw;
    }
}

} // namespace cw

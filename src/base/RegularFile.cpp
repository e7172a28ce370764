#include "base/RegularFile.h"

#include <cerrno>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace base {

RegularFile::~RegularFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

RegularFile::RegularFile(RegularFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1))
    , size_(other.size_) {}

[[noreturn]] static void fail(RegularFileError::Reason reason, int code, const std::string& path,
                              const std::string& cause) {
    throw RegularFileError(reason, code, "cannot read " + path + ": " + cause);
}

RegularFile openRegularFile(const std::string& path, FinalLink finalLink) {
    // O_NONBLOCK: opening a FIFO would otherwise wait for a writer, and some devices wait too.
    const int noFollow = finalLink == FinalLink::refuse ? O_NOFOLLOW : 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | noFollow);
    if (fd < 0 && errno == ELOOP && noFollow != 0)
        fail(RegularFileError::Reason::link, ELOOP, path, "a symbolic link, which may lead elsewhere");
    if (fd < 0) {
        const int code = errno;
        fail(RegularFileError::Reason::unreadable, code, path, std::generic_category().message(code));
    }
    RegularFile file(fd);
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        const int code = errno;
        fail(RegularFileError::Reason::unreadable, code, path, std::generic_category().message(code));
    }
    if (!S_ISREG(status.st_mode))
        fail(RegularFileError::Reason::notRegular, 0, path, "not a regular file");
    file.size_ = status.st_size;
    return file;
}

void requireRegularFile(const std::string& path) {
    openRegularFile(path);
}

} // namespace base

#include "platform/text/BoundedFile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace platform {

namespace {

std::string describe(const QString& path, const std::string& cause) {
    return "cannot read " + path.toStdString() + ": " + cause;
}

[[noreturn]] void fail(BoundedFileError::Reason reason, const QString& path, const std::string& cause) {
    throw BoundedFileError(reason, describe(path, cause));
}

std::string systemError(int code) {
    return std::generic_category().message(code);
}

struct Descriptor {
    int fd;
    ~Descriptor() { ::close(fd); }
};

} // namespace

QByteArray readBoundedFile(const QString& path, qint64 limit, LastLink lastLink) {
    // Non-blocking, so that opening a pipe does not wait for a writer; nothing but a regular
    // file gets as far as a read.
    const int noFollow = lastLink == LastLink::refuse ? O_NOFOLLOW : 0;
    const Descriptor file{
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | noFollow)};
    if (file.fd < 0 && errno == ELOOP && noFollow)
        fail(BoundedFileError::Reason::notRegular, path, "a symbolic link, which may lead elsewhere");
    if (file.fd < 0)
        fail(BoundedFileError::Reason::unreadable, path, systemError(errno));
    struct stat status {};
    if (::fstat(file.fd, &status) != 0)
        fail(BoundedFileError::Reason::unreadable, path, systemError(errno));
    if (!S_ISREG(status.st_mode))
        fail(BoundedFileError::Reason::notRegular, path, "not a regular file");
    const std::string tooLarge = "larger than the " + std::to_string(limit) + " bytes allowed";
    if (status.st_size > limit)
        fail(BoundedFileError::Reason::tooLarge, path, tooLarge);

    QByteArray data;
    data.resize(static_cast<qsizetype>(status.st_size) + 1);
    qsizetype filled = 0;
    for (;;) {
        if (filled == data.size()) {
            if (filled > limit)
                fail(BoundedFileError::Reason::tooLarge, path, tooLarge);
            data.resize(std::min<qsizetype>(filled * 2 + 4096, limit + 1));
        }
        const ssize_t got = ::read(file.fd, data.data() + filled, static_cast<size_t>(data.size() - filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            fail(BoundedFileError::Reason::unreadable, path, systemError(errno));
        if (got == 0)
            break;
        filled += got;
    }
    if (filled > limit)
        fail(BoundedFileError::Reason::tooLarge, path, tooLarge);
    data.truncate(filled);
    return data;
}

} // namespace platform

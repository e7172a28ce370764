#include "platform/text/BoundedFile.h"

#include "base/RegularFile.h"

#include <QFile>

#include <cerrno>
#include <system_error>

#include <unistd.h>

namespace platform {

namespace {

std::string describe(const std::filesystem::path& path, const std::string& cause) {
    return "cannot read " + path.string() + ": " + cause;
}

[[noreturn]] void fail(BoundedFileError::Reason reason, const std::filesystem::path& path,
                       const std::string& cause) {
    throw BoundedFileError(reason, describe(path, cause));
}

std::string systemError(int code) {
    return std::generic_category().message(code);
}

// Nothing but a regular file gets as far as a read, and a pipe is refused without waiting for a
// writer.
base::RegularFile openRegular(const std::filesystem::path& path, LastLink lastLink) {
    const auto finalLink = lastLink == LastLink::refuse ? base::FinalLink::refuse : base::FinalLink::follow;
    try {
        return base::openRegularFile(path.string(), finalLink);
    } catch (const base::RegularFileError& error) {
        if (error.reason() == base::RegularFileError::Reason::link)
            fail(BoundedFileError::Reason::notRegular, path, "a symbolic link, which may lead elsewhere");
        if (error.reason() == base::RegularFileError::Reason::notRegular)
            fail(BoundedFileError::Reason::notRegular, path, "not a regular file");
        fail(BoundedFileError::Reason::unreadable, path, systemError(error.code()));
    }
}

} // namespace

QByteArray readBoundedFile(const QString& path, qint64 limit, LastLink lastLink) {
    return readBoundedFile(std::filesystem::path(QFile::encodeName(path).toStdString()), limit, lastLink);
}

QByteArray readBoundedFile(const std::filesystem::path& path, qint64 limit, LastLink lastLink) {
    const base::RegularFile file = openRegular(path, lastLink);
    const qint64 size = file.size();
    const std::string tooLarge = "larger than the " + std::to_string(limit) + " bytes allowed";
    if (size > limit)
        fail(BoundedFileError::Reason::tooLarge, path, tooLarge);

    QByteArray data;
    data.resize(static_cast<qsizetype>(size) + 1);
    qsizetype filled = 0;
    for (;;) {
        if (filled == data.size()) {
            if (filled > limit)
                fail(BoundedFileError::Reason::tooLarge, path, tooLarge);
            data.resize(std::min<qsizetype>(filled * 2 + 4096, limit + 1));
        }
        const ssize_t got =
            ::read(file.fd(), data.data() + filled, static_cast<size_t>(data.size() - filled));
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

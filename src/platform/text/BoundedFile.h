// Reading whole files of outside input without letting their size or kind decide our memory.
#pragma once

#include <QByteArray>
#include <QString>

#include <filesystem>
#include <stdexcept>

namespace platform {

// A file could not be read within the bounds. what() names the file and the cause, for logs.
class BoundedFileError : public std::runtime_error {
public:
    enum class Reason { unreadable, notRegular, tooLarge };
    BoundedFileError(Reason reason, const std::string& message)
        : std::runtime_error(message)
        , reason_(reason) {}
    Reason reason() const { return reason_; }

private:
    Reason reason_;
};

// Whether a symbolic link as the path's last component is followed or refused (as notRegular):
// a file inside a package must not lead to one elsewhere.
enum class LastLink { follow, refuse };

// The bytes of the regular file at path when it holds at most limit bytes. Devices, pipes and
// folders are refused without reading a byte or waiting for a writer, and a file that grows
// past the limit while it is read is refused too. Throws BoundedFileError.
// The path is the file system's bytes, which need not be UTF-8; the QString form is for names that
// are.
QByteArray readBoundedFile(const std::filesystem::path& path, qint64 limit,
                           LastLink lastLink = LastLink::follow);
QByteArray readBoundedFile(const QString& path, qint64 limit, LastLink lastLink = LastLink::follow);

} // namespace platform

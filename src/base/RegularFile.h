// Opening files named from outside without waiting on pipes or devices.
#pragma once

#include <stdexcept>
#include <string>

#include <sys/types.h>

namespace base {

// A path that names no readable regular file. what() names the path and the cause, for logs.
class RegularFileError : public std::runtime_error {
public:
    enum class Reason { unreadable, notRegular, link };
    RegularFileError(Reason reason, int code, const std::string& message)
        : std::runtime_error(message)
        , reason_(reason)
        , code_(code) {}
    Reason reason() const { return reason_; }
    // errno of the failed call; 0 for notRegular.
    int code() const { return code_; }

private:
    Reason reason_;
    int code_;
};

// Whether a symbolic link as the path's last part is followed or refused (Reason::link).
enum class FinalLink { follow, refuse };

// A read-only descriptor of a regular file, closed with the object.
class RegularFile {
public:
    explicit RegularFile(int fd)
        : fd_(fd) {}
    ~RegularFile();
    RegularFile(RegularFile&& other) noexcept;
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;
    RegularFile& operator=(RegularFile&&) = delete;

    int fd() const { return fd_; }
    // The size when it was opened.
    off_t size() const { return size_; }

private:
    friend RegularFile openRegularFile(const std::string& path, FinalLink finalLink);

    int fd_;
    off_t size_ = 0;
};

// Opens the regular file at `path` for reading. The open does not block, so a FIFO without a
// writer or a device never holds the caller; anything but a regular file is refused before a byte
// is read. Throws RegularFileError.
RegularFile openRegularFile(const std::string& path, FinalLink finalLink = FinalLink::follow);

// The same check for readers that open the path themselves (SQLite, poppler, libzip): throws
// RegularFileError unless `path` names a readable regular file right now.
void requireRegularFile(const std::string& path);

} // namespace base

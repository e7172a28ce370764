// Plain text files: strict UTF-8.
#pragma once

#include <QByteArrayView>
#include <QString>

#include <filesystem>
#include <optional>
#include <stdexcept>

namespace platform {

// Decodes UTF-8 strictly: nullopt for any invalid byte, overlong form, surrogate, code point
// beyond U+10FFFF or sequence cut off at the end. A leading byte-order mark is dropped.
std::optional<QString> decodeUtf8Strict(QByteArrayView bytes);

// The largest plain-text file read: far beyond any script, far below what would strain memory
// (the text takes about three times the file's size once decoded and laid out).
inline constexpr qint64 kMaxPlainTextFileSize = qint64{64} << 20;

// A plain-text file could not be read, was too large or was not UTF-8. The text of what() is for logs;
// callers show their own message chosen by reason().
class PlainTextError : public std::runtime_error {
public:
    enum class Reason { unreadable, tooLarge, notUtf8 };
    PlainTextError(Reason reason, const std::string& message)
        : std::runtime_error(message)
        , reason_(reason) {}
    Reason reason() const { return reason_; }

private:
    Reason reason_;
};

// Reads a whole regular file of at most kMaxPlainTextFileSize bytes as strict UTF-8; throws
// PlainTextError.
QString readPlainTextFile(const QString& path);
// The same for a name in the file system's bytes, which need not be UTF-8.
QString readPlainTextFile(const std::filesystem::path& path);

} // namespace platform

#include "platform/text/PlainText.h"

#include "platform/text/BoundedFile.h"

#include <QFile>

namespace platform {

// Length of the valid UTF-8 sequence at `i`, or 0.
static qsizetype sequenceLength(const unsigned char* s, qsizetype i, qsizetype n) {
    const unsigned char c = s[i];
    auto cont = [&](qsizetype k) { return i + k < n && (s[i + k] & 0xC0) == 0x80; };
    if (c < 0x80) {
        return 1;
    }
    if (c >= 0xC2 && c <= 0xDF) {
        return cont(1) ? 2 : 0;
    }
    if (c >= 0xE0 && c <= 0xEF) {
        if (!cont(1) || !cont(2)) {
            return 0;
        }
        const unsigned char c1 = s[i + 1];
        if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 >= 0xA0)) {
            return 0; // overlong, or a surrogate
        }
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3)) {
            return 0;
        }
        const unsigned char c1 = s[i + 1];
        if ((c == 0xF0 && c1 < 0x90) || (c == 0xF4 && c1 >= 0x90)) {
            return 0; // overlong, or beyond U+10FFFF
        }
        return 4;
    }
    return 0;
}

std::optional<QString> decodeUtf8Strict(QByteArrayView bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        bytes = bytes.sliced(3);
    }
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        if (s[i] < 0x80) {
            ++i;
            continue;
        }
        const qsizetype length = sequenceLength(s, i, n);
        if (length == 0) {
            return std::nullopt;
        }
        i += length;
    }
    return QString::fromUtf8(bytes);
}

QString readPlainTextFile(const QString& path) {
    return readPlainTextFile(std::filesystem::path(QFile::encodeName(path).toStdString()));
}

QString readPlainTextFile(const std::filesystem::path& path) {
    try {
        std::optional<QString> text = decodeUtf8Strict(readBoundedFile(path, kMaxPlainTextFileSize));
        if (!text) {
            throw PlainTextError(PlainTextError::Reason::notUtf8, path.string() + " is not valid UTF-8 text");
        }
        return *text;
    } catch (const BoundedFileError& error) {
        const bool tooLarge = error.reason() == BoundedFileError::Reason::tooLarge;
        throw PlainTextError(tooLarge ? PlainTextError::Reason::tooLarge : PlainTextError::Reason::unreadable,
                             error.what());
    } catch (const std::bad_alloc&) {
        throw PlainTextError(PlainTextError::Reason::tooLarge,
                             "cannot read " + path.string() + ": too large for the memory available");
    }
}

} // namespace platform

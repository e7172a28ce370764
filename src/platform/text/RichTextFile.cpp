#include "platform/text/RichTextFile.h"

#include "base/Log.h"
#include "platform/text/BoundedFile.h"
#include "platform/text/RtfWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace platform {

std::optional<AttributedString> readRichTextFile(const QString& path,
                                                 RtfDocumentAttributes* documentAttributes) {
    return readRichTextFile(std::filesystem::path(QFile::encodeName(path).toStdString()), documentAttributes);
}

std::optional<AttributedString> readRichTextFile(const std::filesystem::path& path,
                                                 RtfDocumentAttributes* documentAttributes) {
    std::error_code ignored;
    const bool isPackage = std::filesystem::is_directory(path, ignored);
    const std::filesystem::path file = isPackage ? path / kRtfdTextFileName : path;
    // The package's text is read only when it lies inside the package: a link could carry
    // another file's text into the script, and out with it when the script is saved or sent.
    const LastLink lastLink = isPackage ? LastLink::refuse : LastLink::follow;
    try {
        return readRtf(readBoundedFile(file, kMaxRtfFileSize, lastLink), documentAttributes);
    } catch (const BoundedFileError& error) {
        // A missing file says so in the script; a refused one also says why in the log.
        if (error.reason() != BoundedFileError::Reason::unreadable)
            base::log(error.what());
    } catch (const std::bad_alloc&) {
        base::log("cannot read " + file.string() + ": too large for the memory available");
    }
    return std::nullopt;
}

void writeRtfFile(const QString& path, const AttributedString& text,
                  const RtfDocumentAttributes& documentAttributes) {
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        throw RichTextFileError("cannot write " + path.toStdString() + ": " + f.errorString().toStdString());
    }
    f.write(writeRtf(text, documentAttributes));
    if (!f.commit()) {
        throw RichTextFileError("cannot write " + path.toStdString() + ": " + f.errorString().toStdString());
    }
}

void writeRtfdFolder(const QString& path, const AttributedString& text,
                     const RtfDocumentAttributes& documentAttributes) {
    const QFileInfo info(path);
    if (info.exists() && !info.isDir()) {
        throw RichTextFileError("cannot write " + path.toStdString() + ": a file is in the way");
    }
    if (!QDir().mkpath(path)) {
        throw RichTextFileError("cannot create the folder " + path.toStdString());
    }
    writeRtfFile(QDir(path).filePath(QString::fromLatin1(kRtfdTextFileName)), text, documentAttributes);
}

} // namespace platform

// RTF and RTFD files on disk.
#pragma once

#include "platform/text/AttributedString.h"
#include "platform/text/RtfReader.h"

#include <QString>

#include <filesystem>
#include <optional>
#include <stdexcept>

namespace platform {

// A rich-text file could not be written. what() names the file and the cause.
class RichTextFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The largest RTF file read (pictures inside count): far beyond any script, far below what
// would strain memory.
inline constexpr qint64 kMaxRtfFileSize = qint64{128} << 20;

// Reads an RTF file, or an RTFD folder (its "TXT.rtf"); which one is told by what is at the path.
// Returns nullopt when nothing readable is there, when it is not a regular file or larger than
// kMaxRtfFileSize (both logged), when a folder's "TXT.rtf" is a symbolic link (logged), or when
// the content is not RTF.
std::optional<AttributedString> readRichTextFile(const QString& path,
                                                 RtfDocumentAttributes* documentAttributes = nullptr);
// The same for a name in the file system's bytes, which need not be UTF-8.
std::optional<AttributedString> readRichTextFile(const std::filesystem::path& path,
                                                 RtfDocumentAttributes* documentAttributes = nullptr);

// Writes the text as an RTF file, atomically (a temporary file replaces the destination).
void writeRtfFile(const QString& path, const AttributedString& text,
                  const RtfDocumentAttributes& documentAttributes = {});

// Writes an RTFD folder holding "TXT.rtf", creating the folder when needed.
void writeRtfdFolder(const QString& path, const AttributedString& text,
                     const RtfDocumentAttributes& documentAttributes = {});

// The name of the RTF file inside an RTFD folder.
inline constexpr char kRtfdTextFileName[] = "TXT.rtf";

} // namespace platform

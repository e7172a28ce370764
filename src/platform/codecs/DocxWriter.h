// Writes Word 2007 and later documents (Office Open XML, .docx).
#pragma once

#include "platform/codecs/RichDocument.h"

#include <string>

namespace platform::codecs {

// Makes a minimal, complete DOCX package of a RichDocument: content types, package
// relationships, the main document, a style sheet with a plain "Normal" style and settings that
// make word processors show the page colour. Every run carries its own properties, so the file
// reads the same wherever its styles are missing. Characters that XML cannot hold are dropped.
// Stateless: safe from any thread.
class DocxWriter {
public:
    // The package's bytes. Throws CodecError when the zip container cannot be made.
    static std::string write(const RichDocument& document);
};

} // namespace platform::codecs

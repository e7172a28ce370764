// Reads Word 97–2003 binary documents (.doc).
#pragma once

#include "platform/codecs/RichDocument.h"

#include <string>

namespace platform::codecs {

// Turns a Word document into a RichDocument through libwv: the text in paragraphs with their
// alignment and the characters' font, size, bold, italic, underline and colour (Word 97's
// sixteen-colour palette). Field codes are left out, their shown results kept; cell and page
// ends end a paragraph. Throws CodecError for a missing file, a file that is not a Word
// document, or an encrypted one.
//
// libwv crashes on some damaged files, so it runs in a short-lived child process: a file that
// kills it, or keeps it busy past a minute, is reported as damaged. Blocks the caller until the
// child is done; any thread may call.
class DocReader {
public:
    static RichDocument readFile(const std::string& path);
};

} // namespace platform::codecs

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
// libwv keeps global state: calls are serialized inside, so any thread may call, one read at a
// time.
class DocReader {
public:
    static RichDocument readFile(const std::string& path);
};

} // namespace platform::codecs

// Reads the text of PDF documents.
#pragma once

#include "platform/codecs/RichDocument.h"

#include <atomic>
#include <string>

namespace platform::codecs {

// Extracts a PDF's text through poppler, pages in order. Each word keeps its font family and
// size, bold and italic as its font's name tells them ("Helvetica-BoldOblique"), its colour, and
// an underline when one is drawn under it. The lines of a paragraph are joined into one
// paragraph; a paragraph ends at the end of a text block or page, at a gap of more than half a
// line, or after a line that ends well short of its column. Right-to-left text (Hebrew, Arabic),
// which a page holds in the order shown, comes back in the order written, Arabic in its letters
// rather than its presentation forms. Throws CodecError when the file
// cannot be opened as a PDF or is locked by a password. Safe from any thread.
class PdfReader {
public:
    // With `cancelled`, a read stops soon after it becomes true, within the page being read, and
    // throws CodecError. It must outlive the call.
    static RichDocument readFile(const std::string& path, const std::atomic<bool>* cancelled = nullptr);
};

} // namespace platform::codecs

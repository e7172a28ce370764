// Reads the text of PDF documents.
#pragma once

#include "platform/codecs/RichDocument.h"

#include <string>

namespace platform::codecs {

// Extracts a PDF's text through poppler: one paragraph per line of text, pages in order. Each
// word keeps its font family and size, and bold and italic as its font's name tells them
// ("Helvetica-BoldOblique"). PDFs carry no paragraphs, colours or underlines that can be read
// back reliably, so those stay unset. Throws CodecError when the file cannot be opened as a
// PDF or is locked by a password. Safe from any thread.
class PdfReader {
public:
    static RichDocument readFile(const std::string& path);
};

} // namespace platform::codecs

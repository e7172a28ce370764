// Reads Word 2007 and later documents (Office Open XML, .docx).
#pragma once

#include "platform/codecs/ReadLimits.h"
#include "platform/codecs/RichDocument.h"

#include <cstddef>
#include <string>

namespace platform::codecs {

// Turns a DOCX package into a RichDocument: the body's paragraphs with their alignment and the
// runs' fonts, sizes, bold, italic, underline and colours, worked out from the document defaults,
// the paragraph and character styles (basedOn chains, root first) and the run's own properties,
// in that order. Line breaks become U+2028, tabs '\t'; deleted text, field codes and drawings are
// left out. A list's paragraph begins with its label ("1.", "b)", "iv.", "•") and what follows
// the label (a tab unless the list says a space or nothing), counted as numbering.xml says. A
// table row is one paragraph: its cells joined by tabs, the paragraphs of a cell by line breaks.
// The page colour (w:background) comes along when the document has one.
//
// Hostile input fails cleanly: every failure throws CodecError (a failed allocation included), a
// part that inflates past partLimit bytes is refused before it fills memory, and so is a part
// with more markup, or a document with more paragraphs, runs or characters, than limits allow.
// Stateless: safe from any thread.
class DocxReader {
public:
    static constexpr std::size_t defaultPartLimit = std::size_t{256} << 20;

    static RichDocument readFile(const std::string& path, std::size_t partLimit = defaultPartLimit,
                                 const ReadLimits& limits = {});
    static RichDocument readData(std::string data, std::size_t partLimit = defaultPartLimit,
                                 const ReadLimits& limits = {});
};

} // namespace platform::codecs

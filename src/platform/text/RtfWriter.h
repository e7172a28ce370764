// Writing an attributed string as RTF.
#pragma once

#include "platform/text/RtfReader.h"

#include <QByteArray>

namespace platform {

class AttributedString;

// Writes the text as RTF (code page 1252, other characters as \u escapes with a "?" fallback).
// Kept: font family, size, bold, italic, foreground and background colours, underline style and
// colour, paragraph alignment, indents and spacing, line breaks and tabs; colours exactly, in an
// expanded colour table beside the classic one. Not written: bookmarks, the line-break mode and
// pass-through attributes. The document background colour, when given, is written as the
// document's background shape. Never fails.
QByteArray writeRtf(const AttributedString& text, const RtfDocumentAttributes& documentAttributes = {});

} // namespace platform

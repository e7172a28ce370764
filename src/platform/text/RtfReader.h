// Reading RTF into an attributed string.
#pragma once

#include "platform/text/AttributedString.h"
#include "platform/text/Color.h"

#include <QByteArrayView>

#include <optional>

namespace platform {

// What an RTF document says about itself beside its text.
struct RtfDocumentAttributes {
    std::optional<Color> backgroundColor;
    // The data ended before the document's group closed (a file cut short): the text is only
    // what came before its end.
    bool endedEarly = false;
};

// Reads RTF bytes. Returns nullopt when the data is not RTF (it must begin with "{\rtf").
// Anything after that header is read leniently: unknown control words are ignored, unknown
// starred destinations skipped, a truncated file gives the text read so far (and says it ended
// early). Nesting of any depth keeps its text, without recursing; only changes of formatting
// past the reader's few hundred distinct levels are dropped. Every character
// gets a font (the document's default when none is named) and a paragraph style; colours,
// underline and background only where the document sets them. A list's paragraph begins with the
// label its writer put there, without leading spaces and with a symbol font's bullet as the
// Unicode character it shows; a table row is one paragraph, its cells joined by tabs and a
// cell's paragraphs by line breaks; a table in a cell reads the same way within it, each of its
// rows a line. Never throws.
std::optional<AttributedString> readRtf(QByteArrayView data,
                                        RtfDocumentAttributes* documentAttributes = nullptr);

} // namespace platform

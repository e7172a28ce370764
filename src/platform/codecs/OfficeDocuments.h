// Word (DOCX, DOC) and PDF documents as attributed strings: the readers behind opening such
// files as scripts, and the DOCX writer behind exporting a script.
#pragma once

#include "platform/codecs/CodecError.h"
#include "platform/text/AttributedString.h"
#include "platform/text/Color.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <atomic>
#include <filesystem>
#include <optional>

namespace platform {

// What a word-processing document says about itself as a whole.
struct OfficeDocumentAttributes {
    std::optional<Color> backgroundColor;
    friend bool operator==(const OfficeDocumentAttributes&, const OfficeDocumentAttributes&) = default;
};

// Every character the readers return carries a font (the family and size the document names, else
// "Times New Roman" at 10 points, what Word shows for text that names none) with its bold and
// italic traits, and a paragraph style with its paragraph's alignment; foreground colour,
// underline style and colour, and background colour only where the document sets them. Paragraphs are
// separated by '\n', line breaks inside a paragraph are U+2028. All of them throw CodecError
// when the file cannot be read, is too large (see codecs::ReadLimits) or does not fit in memory;
// none of them returns partial text.

// A DOCX package (see codecs::DocxReader for what is read and how hostile input is kept out).
AttributedString readDocxFile(const QString& path, OfficeDocumentAttributes* documentAttributes = nullptr);
AttributedString readDocxFile(const std::filesystem::path& path,
                              OfficeDocumentAttributes* documentAttributes = nullptr);
AttributedString readDocxData(QByteArrayView data, OfficeDocumentAttributes* documentAttributes = nullptr);

// The DOCX package of the text: fonts, sizes, bold, italic, underline style and colour,
// foreground and background colours and paragraph alignment of each run, and the page colour. Throws
// CodecError when the package cannot be made.
QByteArray docxData(const AttributedString& text, const OfficeDocumentAttributes& documentAttributes = {});

// A Word 97–2003 document, through libwv. With `cancelled`, the read stops (throwing CodecError)
// soon after it becomes true.
AttributedString readDocFile(const QString& path, const std::atomic<bool>* cancelled = nullptr);
AttributedString readDocFile(const std::filesystem::path& path, const std::atomic<bool>* cancelled = nullptr);

// The text of a PDF: one paragraph per line, no colours or underlines (PDFs keep none that can
// be read back reliably); bold and italic as the fonts' names tell them. With `cancelled`, the
// read stops (throwing CodecError) soon after it becomes true.
AttributedString readPdfFile(const QString& path, const std::atomic<bool>* cancelled = nullptr);
AttributedString readPdfFile(const std::filesystem::path& path, const std::atomic<bool>* cancelled = nullptr);
// The readers' paths are the file system's bytes (names need not be UTF-8); the QString forms are
// for names that are.

} // namespace platform

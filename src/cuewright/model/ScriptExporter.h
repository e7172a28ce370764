// Exporting a script's text as plain text, RTF or DOCX.
#pragma once

#include "platform/text/AttributedString.h"
#include "platform/text/Color.h"

#include <filesystem>

namespace cw {

// Each export writes atomically (a new file beside the destination is synced and renamed over
// it) and throws std::system_error when the file cannot be written, leaving the destination as
// it was. They read nothing but their arguments, so they run on any thread.
namespace ScriptExporter {

// The characters as UTF-8 without a byte-order mark; an empty script gives an empty file.
void exportPlainText(const std::filesystem::path& destination, const platform::AttributedString& text);

// The text with its own look, and the script's background as the document's background.
// ProjectError::generalSaveError "Can't create RTF from provided range." when no RTF comes out.
void exportRTF(const std::filesystem::path& destination, const platform::AttributedString& text,
               const platform::Color& backgroundColor);

// docxText of the text as a DOCX package with the script's background as the page colour.
// platform::CodecError when the package cannot be made.
void exportDOCX(const std::filesystem::path& destination, const platform::AttributedString& text,
                const platform::Color& backgroundColor);

// What a DOCX export writes: every font at 14 points (family and traits kept), word wrapping in
// every paragraph style, and black text and underlines throughout.
platform::AttributedString docxText(const platform::AttributedString& text);

} // namespace ScriptExporter

} // namespace cw

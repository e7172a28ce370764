// libFuzzer target: the DOCX reader on arbitrary bytes, and the writer on what it read.
// Inputs that start like a zip are read as whole packages; anything else is taken as the XML of
// the main document, the style sheet and the numbering part (split at NULs) and packed into a
// valid zip, so that mutations reach the XML walk without having to forge zip checksums.
#include "platform/codecs/CodecError.h"
#include "platform/codecs/OfficeDocuments.h"
#include "platform/codecs/ZipPackage.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::string package;
    if (input.starts_with("PK")) {
        package = input;
    } else {
        const std::size_t split = input.find('\0');
        const std::size_t second = split == std::string::npos ? split : input.find('\0', split + 1);
        platform::codecs::ZipWriter zip;
        zip.add("word/document.xml", input.substr(0, split));
        if (split != std::string::npos)
            zip.add("word/styles.xml", input.substr(split + 1, second - split - 1));
        if (second != std::string::npos)
            zip.add("word/numbering.xml", input.substr(second + 1));
        package = zip.finish();
    }
    try {
        platform::OfficeDocumentAttributes document;
        const platform::AttributedString text = platform::readDocxData(package, &document);
        // What we read must write and read back to the same characters.
        const platform::AttributedString again = platform::readDocxData(platform::docxData(text, document));
        if (again.string() != text.string())
            __builtin_trap();
    } catch (const platform::CodecError&) {
    }
    return 0;
}

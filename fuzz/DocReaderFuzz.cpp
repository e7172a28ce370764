// libFuzzer target: the Word 97 import on arbitrary bytes, through its confined reader program as
// the application runs it, and the DOCX writer on what it read. With CW_FUZZ_DOC_MUST_PARSE set,
// an input that does not read stops the run: the fuzz stage first reads a good document that way,
// so that a reader that refuses everything in this build (and fuzzes nothing) fails the stage.
#include "FuzzWorkFolder.h"

#include "platform/codecs/CodecError.h"
#include "platform/codecs/DocReader.h"
#include "platform/codecs/OfficeDocuments.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool readerNamed =
        (platform::codecs::DocReader::setReaderProgram({CW_DOC_READER_PROGRAM, {}}), true);
    (void)readerNamed;
    static const bool mustParse = std::getenv("CW_FUZZ_DOC_MUST_PARSE") != nullptr;
    const std::filesystem::path path = fuzzsupport::workFolder("doc") / "input.doc";
    fuzzsupport::writeFile(path, data, size);
    try {
        const platform::AttributedString text = platform::readDocFile(QString::fromStdString(path.string()));
        if (mustParse)
            std::fprintf(stderr, "doc: read %lld characters\n", static_cast<long long>(text.string().size()));
        // What we read must write and read back to the same characters.
        if (platform::readDocxData(platform::docxData(text, {})).string() != text.string())
            __builtin_trap();
    } catch (const platform::CodecError& error) {
        if (mustParse) {
            std::fprintf(stderr, "doc: not read: %s\n", error.what());
            __builtin_trap();
        }
    }
    return 0;
}

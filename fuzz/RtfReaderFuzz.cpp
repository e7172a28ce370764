// libFuzzer target: the RTF reader on arbitrary bytes, and the writer on what it read.
#include "platform/text/RtfReader.h"
#include "platform/text/RtfWriter.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    platform::RtfDocumentAttributes document;
    if (auto text = platform::readRtf(bytes, &document)) {
        // What we read must write and read back to the same characters.
        const auto again = platform::readRtf(platform::writeRtf(*text, document));
        if (!again || again->string() != text->string()) {
            __builtin_trap();
        }
    }
    return 0;
}

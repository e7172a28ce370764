// libFuzzer target: the archived colour and font decoders on arbitrary bytes. Both formats are
// exact, so whatever decodes must encode to the very same bytes.
#include "platform/defaults/ArchivedValues.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const platform::Data bytes(data, data + size);
    if (const auto color = platform::decodeColor(bytes); color && platform::encodeColor(*color) != bytes)
        __builtin_trap();
    if (const auto font = platform::decodeFont(bytes); font && platform::encodeFont(*font) != bytes)
        __builtin_trap();
    return 0;
}

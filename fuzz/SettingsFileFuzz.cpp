// libFuzzer target: the settings file's decoder on arbitrary text, and the encoder on what it read.
#include "platform/defaults/ValueCoding.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string why;
    const auto values = platform::decodeDefaultsFile(text, &why);
    if (!values) {
        if (why.empty())
            __builtin_trap(); // a refusal always says why
        return 0;
    }
    // What was read writes out as a file that reads back and writes out the same again.
    const std::string encoded = platform::encodeDefaultsFile(*values);
    const auto again = platform::decodeDefaultsFile(encoded);
    if (!again || platform::encodeDefaultsFile(*again) != encoded)
        __builtin_trap();
    return 0;
}

// libFuzzer target: the "cwr" loader on arbitrary files, and a save and reload of what it read.
#include "cuewright/model/ScriptDocumentFile.h"
#include "platform/defaults/Defaults.h"

#include "FuzzWorkFolder.h"

#include <cstddef>
#include <cstdint>
#include <exception>

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fs::path& folder = fuzzsupport::workFolder("cwr");
    static platform::Defaults defaults(
        platform::Defaults::Options{folder / "defaults.json", std::chrono::hours(1), {}});
    const fs::path input = folder / "input.cwr";
    const fs::path again = folder / "again.cwr";
    fuzzsupport::writeFile(input, data, size);
    cw::Document document;
    try {
        document = cw::ScriptDocumentFile::open(input, defaults);
    } catch (const std::exception&) {
        return 0; // refusing a damaged file is the expected outcome
    }
    // What was read must save and read back to the same characters and speed.
    cw::ScriptDocumentFile::save(again, document, {});
    const cw::Document reread = cw::ScriptDocumentFile::open(again, defaults);
    if (reread.text.string() != document.text.string() ||
        reread.scriptProperties.indicatorType != document.scriptProperties.indicatorType) {
        __builtin_trap();
    }
    return 0;
}

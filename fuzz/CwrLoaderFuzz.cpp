// libFuzzer target: the "cwr" loader on arbitrary files, and a save and reload of what it read.
#include "cuewright/model/ScriptDocumentFile.h"
#include "platform/defaults/Defaults.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A private folder in memory when there is one (every input is written to a file first),
// removed when the run ends.
struct WorkFolder {
    WorkFolder() {
        const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        path = base / ("cw-fuzz-cwr-" + std::to_string(::getpid()));
        fs::create_directories(path);
    }
    ~WorkFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    fs::path path;
};

const fs::path& workFolder() {
    static const WorkFolder folder;
    return folder.path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static platform::Defaults defaults(
        platform::Defaults::Options{workFolder() / "defaults.json", std::chrono::hours(1), {}});
    const fs::path input = workFolder() / "input.cwr";
    const fs::path again = workFolder() / "again.cwr";
    {
        std::ofstream out(input, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
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

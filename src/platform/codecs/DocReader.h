// Reads Word 97–2003 binary documents (.doc).
#pragma once

#include "platform/codecs/RichDocument.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

class QByteArray;

namespace platform::codecs {

// Turns a Word document into a RichDocument through libwv: the text in paragraphs with their
// alignment and the characters' font, size, bold, italic, underline and colour (Word 97's
// sixteen-colour palette). Field codes are left out, their shown results kept; cell and page
// ends end a paragraph. Throws CodecError for a missing file, a file that is not a Word
// document, or an encrypted one.
//
// libwv crashes on some damaged files and loops or grows on others, so it runs in a short-lived
// child process with a time and an address-space limit in proportion to the file's size: a file
// that kills it or keeps it past either limit is reported as damaged. What it reads is bounded by
// ReadLimits. This process reads the file; the child gets its bytes in memory and is confined
// (ReaderConfinement.h) before libwv looks at any of them: a file that makes it do anything but
// allocate and reply ends it, and is reported as damaged; it can neither open nor look up a path.
// Blocks the caller until the child is done; any thread may call.
class DocReader {
public:
    // How long the child may run, and how much address space it may map beyond what it starts
    // with (this process's own).
    struct ChildLimits {
        std::chrono::milliseconds time;
        std::size_t memory;
    };
    static ChildLimits childLimitsFor(std::uintmax_t fileSize);

    // Runs in the child once it is confined, before anything is parsed, standing for a file that
    // took over the reader (tests).
    using ConfinedProbe = std::function<void()>;

    static RichDocument readFile(const std::string& path);
    static RichDocument readFile(const std::string& path, const ChildLimits& limits,
                                 const ConfinedProbe& probe = {});

private:
    static RichDocument readInChild(const QByteArray& input, const std::string& path,
                                    const ChildLimits& limits, const ConfinedProbe& probe);
};

} // namespace platform::codecs

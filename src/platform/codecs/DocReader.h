// Reads Word 97–2003 binary documents (.doc).
#pragma once

#include "platform/codecs/RichDocument.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform::codecs {

// Turns a Word document into a RichDocument through libwv: the text in paragraphs with their
// alignment and the characters' font, size, bold, italic, underline and colour (Word 97's
// sixteen-colour palette). Field codes are left out, their shown results kept; page ends end a
// paragraph. A list's paragraph begins with its label and what follows it, as in DocxReader; a
// table row is one paragraph, its cells joined by tabs and a cell's paragraphs by line breaks.
// Throws CodecError for a missing file, a file that is not a Word document, or an encrypted one.
//
// libwv crashes on some damaged files and loops or grows on others, so it runs in a short-lived
// reader program (cuewright-docreader, beside the application or in its libexec folder) with a
// time and an address-space limit in proportion to the file's size: a file that kills it or keeps
// it past either limit is reported as damaged. What it reads is bounded by ReadLimits. The reader
// is started with exec, never forked from this threaded process (a lock another thread held at a
// fork stays locked in the child); it dies with the thread that started it (PR_SET_PDEATHSIG), is
// killed and reaped on a cancel, and killed at exit. It gets the opened file, and is confined
// (ReaderConfinement.h) before libwv looks at any byte: a file that makes it do anything but
// allocate and reply ends it, and is reported as damaged; it can neither open nor look up a path.
// Blocks the caller until the reader is done; any thread may call.
class DocReader {
public:
    // How long the reader may run, and how much address space it may map beyond what it starts
    // with.
    struct ChildLimits {
        std::chrono::milliseconds time;
        std::size_t memory;
    };
    static ChildLimits childLimitsFor(std::uintmax_t fileSize);

    // The reader program and the arguments it gets after the ones readFile() gives it.
    struct ReaderProgram {
        std::string path;
        std::vector<std::string> arguments;
    };
    // The program found beside this executable (a build tree) or in ../libexec/cuewright (an
    // installation), unless setReaderProgram() named another; an empty path when there is none.
    static ReaderProgram readerProgram();
    // For programs that do not live beside the reader (tests). Call before any read.
    static void setReaderProgram(ReaderProgram program);

    static RichDocument readFile(const std::string& path, const std::atomic<bool>* cancelled = nullptr);
    // With `cancelled`, the read stops (throwing CodecError) soon after it becomes true, the reader
    // killed and reaped.
    static RichDocument readFile(const std::string& path, const ChildLimits& limits,
                                 const ReaderProgram& program, const std::atomic<bool>* cancelled = nullptr);

    // Runs in the reader once it is confined, before anything is parsed, standing for a file that
    // took over the reader (tests).
    using ConfinedProbe = std::function<void()>;
    // The reader program's main: reads the document readFile() handed over, replies and returns
    // the program's exit status. `argv` holds readFile()'s arguments first.
    static int readerMain(int argc, char** argv, const ConfinedProbe& probe = {});
};

} // namespace platform::codecs

// What the command line asks of a start: the usage, or the files to open.
#pragma once

#include <string>
#include <vector>

namespace cw {

// The program takes file names and "--help" ("-h") alone. Anything else that starts with "-" is
// an option it does not have and is refused by name, never read as a file; after "--" every
// argument is a file, so a file named like an option opens too. An empty argument names no file.
// Read before the application object is made: neither needs a display, and Qt never sees an
// argument to take as its own.
struct CommandLine {
    bool help = false;
    // The first option this program does not have; empty when none.
    std::string unknownOption;
    // As given, the file system's bytes.
    std::vector<std::string> files;

    static CommandLine parse(int argc, const char* const* argv);
};

} // namespace cw

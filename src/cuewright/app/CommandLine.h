// What the command line asks of a start: the usage, or the files to open.
#pragma once

#include <string>
#include <vector>

namespace cw {

// The program takes file names and "--help" ("-h") alone, besides the toolkit's own options a
// desktop session or a user may give any Qt program ("-platform xcb", "-session ID",
// "-qwindowgeometry 800x600", "-style=fusion", ...), which go to Qt as given. Anything else that
// starts with "-" is an option it does not have and is refused by name, never read as a file; a
// toolkit option without its value is refused too. After "--" every argument is a file, so a file
// named like an option opens too. An empty argument names no file. Read before the application
// object is made: neither needs a display.
struct CommandLine {
    bool help = false;
    // The first option this program does not have; empty when none.
    std::string unknownOption;
    // As given, the file system's bytes.
    std::vector<std::string> files;
    // The toolkit's options, each followed by its value when it takes one.
    std::vector<std::string> toolkitArguments;

    static CommandLine parse(int argc, const char* const* argv);
};

} // namespace cw

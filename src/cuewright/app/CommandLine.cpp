#include "cuewright/app/CommandLine.h"

#include <string_view>

namespace cw {

CommandLine CommandLine::parse(int argc, const char* const* argv) {
    CommandLine line;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (options && argument == "--") {
            options = false;
        } else if (options && (argument == "--help" || argument == "-h")) {
            line.help = true;
        } else if (options && argument.size() > 1 && argument.front() == '-') {
            if (line.unknownOption.empty()) {
                line.unknownOption = argument;
            }
        } else if (!argument.empty()) {
            line.files.emplace_back(argument);
        }
    }
    return line;
}

} // namespace cw

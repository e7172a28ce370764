#include "cuewright/app/CommandLine.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace cw {

namespace {

struct ToolkitOption {
    std::string_view name;
    bool takesValue;
};

// Qt's own options, in the single-dash spelling its sessions and documentation use.
constexpr std::array<ToolkitOption, 20> toolkitOptions{{
    {"-platform", true},        {"-platformpluginpath", true}, {"-platformtheme", true},
    {"-plugin", true},          {"-display", true},            {"-qwindowgeometry", true},
    {"-geometry", true},        {"-qwindowtitle", true},       {"-title", true},
    {"-qwindowicon", true},     {"-icon", true},               {"-name", true},
    {"-session", true},         {"-style", true},              {"-stylesheet", true},
    {"-reverse", false},        {"-nograb", false},            {"-dograb", false},
    {"-sync", false},           {"-widgetcount", false},
}};

const ToolkitOption* toolkitOption(std::string_view argument) {
    const auto found = std::find_if(toolkitOptions.begin(), toolkitOptions.end(),
                                    [&](const ToolkitOption& option) { return option.name == argument; });
    return found == toolkitOptions.end() ? nullptr : &*found;
}

// "-style=fusion": Qt reads these two with their value in the same argument too.
bool isJoinedToolkitOption(std::string_view argument) {
    const std::size_t equals = argument.find('=');
    if (equals == std::string_view::npos || equals + 1 == argument.size()) {
        return false; // "-style=" names no style
    }
    const std::string_view name = argument.substr(0, equals);
    return name == "-style" || name == "-stylesheet";
}

} // namespace

CommandLine CommandLine::parse(int argc, const char* const* argv) {
    CommandLine line;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (options && argument == "--") {
            options = false;
        } else if (options && (argument == "--help" || argument == "-h")) {
            line.help = true;
        } else if (const ToolkitOption* toolkit = options ? toolkitOption(argument) : nullptr) {
            if (toolkit->takesValue && i + 1 >= argc) {
                if (line.unknownOption.empty()) {
                    line.unknownOption = argument; // its value missing
                }
                continue;
            }
            line.toolkitArguments.emplace_back(argument);
            if (toolkit->takesValue) {
                line.toolkitArguments.emplace_back(argv[++i]);
            }
        } else if (options && isJoinedToolkitOption(argument)) {
            line.toolkitArguments.emplace_back(argument);
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

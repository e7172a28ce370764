// The line the application logs when it starts, from the table the build writes.
#pragma once

#include <optional>
#include <string>

namespace cw {

// Name, version, build and build date of this program; a value the build did not know is absent.
struct BuildInfo {
    std::optional<std::string> name;
    std::optional<std::string> version;
    std::optional<std::string> build;
    std::optional<std::string> date;

    // The table the build wrote (BuildInfo.h in the build folder).
    static BuildInfo current();
};

// "Welcome to NAME vVERSION (BUILD) - built on DATE!"; an absent or empty value reads "UNKNOWN".
std::string welcomeLine(const BuildInfo& info);

} // namespace cw

#include "cuewright/app/WelcomeLine.h"

#include "cuewright/app/BuildInfoTable.h"

namespace cw {

static std::optional<std::string> known(const char* value) {
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    return std::string(value);
}

BuildInfo BuildInfo::current() {
    return {known(buildinfo::name), known(buildinfo::version), known(buildinfo::build),
            known(buildinfo::date)};
}

std::string welcomeLine(const BuildInfo& info) {
    const auto text = [](const std::optional<std::string>& value) {
        return value && !value->empty() ? *value : std::string("UNKNOWN");
    };
    return "Welcome to " + text(info.name) + " v" + text(info.version) + " (" + text(info.build) +
           ") - built on " + text(info.date) + "!";
}

} // namespace cw

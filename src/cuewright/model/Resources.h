// Texts compiled into the binary (the database schemas), by resource name and type.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace cw {

// The text of the resource "name" of type "type" (":/name.type"), or nullopt when the binary
// has none.
std::optional<std::string> resourceText(std::string_view name, std::string_view type);

} // namespace cw

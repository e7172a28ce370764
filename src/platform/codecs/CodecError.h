// The error every document reader and writer of this folder throws.
#pragma once

#include <stdexcept>
#include <string>

namespace platform {

// A document could not be read or written; what() says why in words fit for an alert.
class CodecError : public std::runtime_error {
public:
    explicit CodecError(const std::string& description)
        : std::runtime_error(description) {}
};

} // namespace platform

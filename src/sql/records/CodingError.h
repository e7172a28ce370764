// The record coding's own errors: values it will not write and values it cannot read.
#pragma once

#include <stdexcept>
#include <string>

namespace sql {

// what() is the message, such as "encoding an Int8 is not supported".
class CodingError : public std::exception {
public:
    enum class Kind {
        invalidValue,  // a value the encoder does not write
        typeMismatch,  // a stored value, or a field type, the decoder does not read
        dataCorrupted, // stored data that cannot be read
    };

    CodingError(Kind kind, std::string message)
        : kind_(kind)
        , message_(std::move(message)) {}

    Kind kind() const { return kind_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    Kind kind_;
    std::string message_;
};

} // namespace sql

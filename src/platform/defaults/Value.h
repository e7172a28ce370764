// The value type of the defaults store and of notification user information.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace platform {

class Value;
using Data = std::vector<std::uint8_t>;
using Array = std::vector<Value>;
using Dictionary = std::map<std::string, Value, std::less<>>;

// One property-list value: a Boolean, a 64-bit integer, a double, a float, a string (UTF-8),
// bytes, an array or a dictionary with string keys. A value keeps the kind it was made with,
// so a double stays a double (31.0 reads back as 31.0, not 31) and a float keeps its exact
// binary value. Arrays and dictionaries are shared immutably, so copies are cheap.
class Value {
public:
    enum class Type { boolean, integer, real, floating, string, data, array, dictionary };

    Value()
        : v_(false) {}
    Value(bool b)
        : v_(b) {}
    Value(int i)
        : v_(std::int64_t{i}) {}
    Value(long i)
        : v_(std::int64_t{i}) {}
    Value(long long i)
        : v_(std::int64_t{i}) {}
    Value(double d)
        : v_(d) {}
    Value(float f)
        : v_(f) {}
    Value(std::string s)
        : v_(std::move(s)) {}
    Value(const char* s)
        : v_(std::string(s)) {} // not the Boolean a pointer would convert to
    Value(Data d)
        : v_(std::move(d)) {}
    Value(Array a);
    Value(Dictionary d);

    Type type() const { return static_cast<Type>(v_.index()); }

    // The stored value when it is of that kind, else null. Nothing is converted here;
    // the defaults store's typed reads do the platform's conversions.
    const bool* boolean() const { return std::get_if<bool>(&v_); }
    const std::int64_t* integer() const { return std::get_if<std::int64_t>(&v_); }
    const double* real() const { return std::get_if<double>(&v_); }
    const float* floating() const { return std::get_if<float>(&v_); }
    const std::string* string() const { return std::get_if<std::string>(&v_); }
    const Data* data() const { return std::get_if<Data>(&v_); }
    const Array* array() const;
    const Dictionary* dictionary() const;

    bool operator==(const Value& other) const;

private:
    std::variant<bool, std::int64_t, double, float, std::string, Data, std::shared_ptr<const Array>,
                 std::shared_ptr<const Dictionary>>
        v_;
};

} // namespace platform

#include "platform/defaults/Value.h"

namespace platform {

Value::Value(Array a)
    : v_(std::make_shared<const Array>(std::move(a))) {}

Value::Value(Dictionary d)
    : v_(std::make_shared<const Dictionary>(std::move(d))) {}

const Array* Value::array() const {
    const auto* p = std::get_if<std::shared_ptr<const Array>>(&v_);
    return p ? p->get() : nullptr;
}

const Dictionary* Value::dictionary() const {
    const auto* p = std::get_if<std::shared_ptr<const Dictionary>>(&v_);
    return p ? p->get() : nullptr;
}

bool Value::operator==(const Value& other) const {
    if (type() != other.type()) {
        return false;
    }
    if (const auto* a = array()) {
        return *a == *other.array();
    }
    if (const auto* d = dictionary()) {
        return *d == *other.dictionary();
    }
    return v_ == other.v_;
}

} // namespace platform

#include "base/OutsideInput.h"

namespace base {

namespace {
int openScopes = 0;
}

OutsideInputScope::OutsideInputScope() {
    ++openScopes;
}

OutsideInputScope::~OutsideInputScope() {
    --openScopes;
}

bool OutsideInputScope::isOpen() {
    return openScopes > 0;
}

} // namespace base

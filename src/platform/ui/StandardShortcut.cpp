#include "platform/ui/StandardShortcut.h"

#include "platform/keys/StandardKeys.h"

namespace platform {

QKeySequence standardShortcut(QKeySequence::StandardKey key) {
    return standardKeys(key).value(0);
}

} // namespace platform

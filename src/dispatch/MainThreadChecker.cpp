#include "dispatch/MainThreadChecker.h"

#include "base/Log.h"
#include "dispatch/Queue.h"

#include <string>

namespace dispatch {

void checkMainThread(const char* function) {
    if (!isMainThread()) {
        base::fatal(std::string(function) + " called off the main thread");
    }
}

} // namespace dispatch

#include "platform/bluetooth/PeripheralManager.h"

namespace platform::bluetooth {

const char* managerStateName(ManagerState state) {
    switch (state) {
    case ManagerState::resetting:
        return "Resetting";
    case ManagerState::unsupported:
        return "Unsupported";
    case ManagerState::unauthorized:
        return "Unauthorized";
    case ManagerState::poweredOff:
        return "Powered Off";
    case ManagerState::poweredOn:
        return "Powered On";
    case ManagerState::unknown:
        break;
    }
    return "Unknown";
}

} // namespace platform::bluetooth

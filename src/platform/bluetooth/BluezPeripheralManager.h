// The peripheral role over BlueZ's D-Bus API: a GATT application and an LE advertisement.
#pragma once

#include "platform/bluetooth/PeripheralManager.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform::bluetooth {

// The bus BlueZ is looked for on: this variable's address when set (tests start a private bus
// with a fake BlueZ there), else the system bus.
inline constexpr const char* bluezBusVariable = "CUEWRIGHT_BLUEZ_BUS_ADDRESS";

// A manager on the first adapter of "org.bluez" that offers GattManager1 and
// LEAdvertisingManager1. Its state is poweredOn while that adapter is powered, poweredOff while it
// is not, and unsupported without BlueZ or such an adapter; it follows BlueZ and its adapters
// coming and going, so an adapter plugged in later is noticed. The service is registered as an
// application through GattManager1, the advertisement (local name and service UUIDs) through
// LEAdvertisingManager1; BlueZ drops both when its adapter goes away.
//
// Reads and writes of the characteristic reach the delegate with the request's "offset" and
// "device" options; a result other than success goes back as the BlueZ error that BlueZ turns
// into that ATT code. Needs a Qt application object. Main thread only.
std::shared_ptr<PeripheralManager>
makeBluezPeripheralManager(std::weak_ptr<PeripheralManagerDelegate> delegate, std::string busAddress = {});

// "org.bluez.Error.NotSupported", ".InvalidOffset", ".InvalidValueLength", ".Failed" ("" for success).
std::string_view bluezErrorName(AttError error);
std::optional<AttError> attErrorFromBluezError(std::string_view name);

} // namespace platform::bluetooth

// A Bluetooth LE peripheral: one GATT service with one characteristic, and its advertisement.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform::bluetooth {

// ATT result codes a request is answered with.
enum class AttError : std::uint8_t {
    success = 0x00,
    readNotPermitted = 0x02,
    writeNotPermitted = 0x03,
    requestNotSupported = 0x06,
    invalidOffset = 0x07,
    invalidAttributeValueLength = 0x0D,
    unlikelyError = 0x0E,
};

// The states and numbering of the peripheral's radio as the application logs them.
enum class ManagerState {
    unknown = 0,
    resetting = 1,
    unsupported = 2,
    unauthorized = 3,
    poweredOff = 4,
    poweredOn = 5
};

// "Resetting", "Unsupported", "Unauthorized", "Powered Off", "Powered On", "Unknown".
const char* managerStateName(ManagerState state);

using Bytes = std::vector<std::uint8_t>;

struct ReadRequest {
    std::string characteristicUuid; // upper case
    std::string central;            // who asks ("" when the stack does not say)
    std::uint16_t offset = 0;
};

struct ReadResponse {
    AttError result = AttError::success;
    Bytes value; // only with success
};

struct WriteRequest {
    std::string characteristicUuid; // upper case
    std::string central;
    std::uint16_t offset = 0; // where this piece goes in the whole value
    Bytes value;
};

// One primary service holding one characteristic that can be read and written and has no fixed
// value: every read and write goes to the delegate.
struct GattService {
    std::string serviceUuid;
    std::string characteristicUuid;
};

struct AdvertisementData {
    std::string localName;
    std::vector<std::string> serviceUuids;
};

class PeripheralManager;

// Called on the main thread. Requests are answered synchronously.
class PeripheralManagerDelegate {
public:
    virtual ~PeripheralManagerDelegate() = default;
    virtual void peripheralManagerDidUpdateState(PeripheralManager& manager) = 0;
    // `error` is the stack's description when adding failed.
    virtual void peripheralManagerDidAddService(PeripheralManager& manager,
                                                const std::optional<std::string>& error) = 0;
    virtual void peripheralManagerDidStartAdvertising(PeripheralManager& manager,
                                                      const std::optional<std::string>& error) = 0;
    virtual ReadResponse peripheralManagerDidReceiveRead(PeripheralManager& manager,
                                                         const ReadRequest& request) = 0;
    virtual AttError peripheralManagerDidReceiveWrite(PeripheralManager& manager,
                                                      const WriteRequest& request) = 0;
};

// The peripheral role of the machine's Bluetooth stack. The delegate is held weakly; it hears of
// the first state soon after creation (never from inside the factory) and of every change later.
// Adding a service again replaces the one added before. Main thread only. Destroying the
// manager withdraws its service and advertisement.
class PeripheralManager {
public:
    virtual ~PeripheralManager() = default;
    virtual ManagerState state() const = 0;
    virtual void addService(const GattService& service) = 0;
    virtual void startAdvertising(const AdvertisementData& data) = 0;
    virtual void stopAdvertising() = 0;
    virtual bool isAdvertising() const = 0;
};

} // namespace platform::bluetooth

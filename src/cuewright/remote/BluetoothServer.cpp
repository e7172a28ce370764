#include "cuewright/remote/BluetoothServer.h"

#include "base/Log.h"
#include "cuewright/remote/RemoteProtocol.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/bluetooth/BluezPeripheralManager.h"

#include <algorithm>
#include <cctype>

namespace cw {

namespace bt = platform::bluetooth;

namespace {

bool sameUuid(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
    });
}

} // namespace

std::shared_ptr<BluetoothServer> BluetoothServer::make(dispatch::QueuePtr queue, Options options) {
    return std::shared_ptr<BluetoothServer>(new BluetoothServer(std::move(queue), std::move(options)));
}

BluetoothServer::BluetoothServer(dispatch::QueuePtr queue, Options options)
    : queue_(std::move(queue))
    , options_(std::move(options)) {
    if (!options_.makeManager) {
        options_.makeManager = [](std::weak_ptr<bt::PeripheralManagerDelegate> delegate) {
            return bt::makeBluezPeripheralManager(std::move(delegate));
        };
    }
}

void BluetoothServer::start() {
    CW_DCHECK_MAIN_THREAD();
    manager_ = options_.makeManager(weak_from_this());
}

void BluetoothServer::stop() {
    CW_DCHECK_MAIN_THREAD();
    writes_.clear();
    readSnapshots_.clear();
    if (manager_) {
        manager_->stopAdvertising();
    }
    // Switched off, the service obeys no central: the manager takes it from the stack as it goes,
    // and with it every way a read or a write reaches this server.
    manager_.reset();
    if (const auto delegate = delegate_.lock()) {
        delegate->bluetoothServerDidStop(*this);
    }
}

void BluetoothServer::peripheralManagerDidUpdateState(bt::PeripheralManager& manager) {
    if (manager.state() != bt::ManagerState::poweredOn) {
        base::log(std::string("managerstate is: ") + bt::managerStateName(manager.state()));
        return;
    }
    manager.addService({std::string(bluetoothServiceUuid), std::string(bluetoothCharacteristicUuid)});
}

void BluetoothServer::peripheralManagerDidAddService(bt::PeripheralManager& manager,
                                                     const std::optional<std::string>& error) {
    if (error) {
        base::log("add error: " + *error);
        return;
    }
    manager.startAdvertising({options_.localName, {std::string(bluetoothServiceUuid)}});
}

void BluetoothServer::peripheralManagerDidStartAdvertising(bt::PeripheralManager&,
                                                           const std::optional<std::string>& error) {
    if (error) {
        base::log("advertising error: " + *error);
    }
    if (const auto delegate = delegate_.lock()) {
        delegate->bluetoothServerDidStartAdvertising(*this);
    }
}

std::optional<BluetoothBytes> BluetoothServer::currentMessage() {
    const auto delegate = delegate_.lock();
    if (!delegate) {
        return bluetoothErrorMessage(bluetoothErrors::general, remoteErrors::noDelegateReason);
    }
    const NetworkCommand status{NetworkCommand::Command::of(NetworkCommand::Kind::reportStatus), 1};
    return bluetoothAnswerMessage(delegate->bluetoothServerAnswer(*this, status));
}

bt::ReadResponse BluetoothServer::peripheralManagerDidReceiveRead(bt::PeripheralManager&,
                                                                  const bt::ReadRequest& request) {
    if (!sameUuid(request.characteristicUuid, bluetoothCharacteristicUuid)) {
        return {bt::AttError::requestNotSupported, {}};
    }
    std::optional<BluetoothBytes> message;
    const auto snapshot = readSnapshots_.find(request.central);
    if (request.offset > 0 && snapshot != readSnapshots_.end()) {
        message = snapshot->second;
    } else {
        message = currentMessage();
        if (request.offset == 0 && message) {
            readSnapshots_[request.central] = *message;
        }
    }
    if (!message) {
        return {bt::AttError::unlikelyError, {}};
    }
    if (message->size() < request.offset) {
        return {bt::AttError::invalidOffset, {}};
    }
    return {bt::AttError::success, BluetoothBytes(message->begin() + request.offset, message->end())};
}

bt::AttError BluetoothServer::peripheralManagerDidReceiveWrite(bt::PeripheralManager&,
                                                               const bt::WriteRequest& request) {
    const std::string& central = request.central;
    auto pending = writes_.find(central);
    if (request.offset == 0) {
        if (pending != writes_.end()) {
            completeWrite(central); // a new value begins: the previous one is whole
        }
        pending = writes_.emplace(central, PendingWrite{}).first;
    } else if (pending == writes_.end() || pending->second.bytes.size() != request.offset) {
        if (pending != writes_.end()) {
            writes_.erase(pending);
        }
        return bt::AttError::invalidOffset;
    }
    auto& bytes = pending->second.bytes;
    if (bytes.size() + request.value.size() > maxValueLength) {
        writes_.erase(pending);
        return bt::AttError::invalidAttributeValueLength;
    }
    bytes.insert(bytes.end(), request.value.begin(), request.value.end());
    const std::uint64_t generation = nextGeneration_++;
    pending->second.generation = generation;
    dispatch::mainQueue()->asyncAfter(options_.writeSettle, [weak = weak_from_this(), central, generation] {
        const auto self = weak.lock();
        if (!self) {
            return;
        }
        const auto found = self->writes_.find(central);
        if (found != self->writes_.end() && found->second.generation == generation) {
            self->completeWrite(central);
        }
    });
    return bt::AttError::success;
}

void BluetoothServer::completeWrite(const std::string& central) {
    const auto found = writes_.find(central);
    if (found == writes_.end()) {
        return;
    }
    const BluetoothBytes bytes = std::move(found->second.bytes);
    writes_.erase(found);
    const auto command = parseBluetoothCommand(bytes);
    if (!command) {
        return;
    }
    if (const auto delegate = delegate_.lock()) {
        delegate->bluetoothServerAnswer(*this, *command);
    }
}

} // namespace cw

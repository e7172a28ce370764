// The Bluetooth LE remote control: the peripheral that speaks the text protocol.
#pragma once

#include "cuewright/remote/BluetoothProtocol.h"
#include "dispatch/Queue.h"
#include "platform/bluetooth/PeripheralManager.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace cw {

class BluetoothServer;

// The workspace's side. Called on the main thread.
class BluetoothServerDelegate {
public:
    virtual ~BluetoothServerDelegate() = default;
    virtual void bluetoothServerDidStartAdvertising(BluetoothServer& server) = 0;
    virtual void bluetoothServerDidStop(BluetoothServer& server) = 0;
    virtual NetworkAnswer bluetoothServerAnswer(BluetoothServer& server, const NetworkCommand& command) = 0;
};

struct BluetoothServerOptions {
    using ManagerFactory = std::function<std::shared_ptr<platform::bluetooth::PeripheralManager>(
        std::weak_ptr<platform::bluetooth::PeripheralManagerDelegate>)>;

    ManagerFactory makeManager; // unset: BlueZ's
    std::string localName;      // advertised
    // How long after a written piece the value counts as complete when no further piece of it
    // came: the stack delivers the pieces of a long write one by one, without saying which is last.
    std::chrono::milliseconds writeSettle{50};
};

// Offers one primary service with one characteristic (read and write) once the manager reports
// powered on, and advertises the local name and the service.
//
// - A write's pieces are joined per central by their offsets (a piece at offset 0 begins a new
//   value, each further piece must continue exactly where the value ends, 512 bytes at most) and
//   the whole value is parsed once no further piece came within writeSettle; a command it gives
//   goes to the delegate and its answer is dropped. Good pieces are acknowledged with success
//   whatever they parse to; a gap answers invalid offset, an overlong value invalid length, and
//   either drops the value.
// - A read at offset 0 builds the status (or error) message from the delegate's answer to
//   reportStatus and keeps it per central; reads at later offsets are served from that snapshot,
//   so a long read is never torn by a change between its pieces. An offset past the end answers
//   invalid offset; one at the end an empty value.
//
// Created, started and stopped on the main thread, which its callbacks also run on. The
// delegate is held weakly.
class BluetoothServer : public platform::bluetooth::PeripheralManagerDelegate,
                        public std::enable_shared_from_this<BluetoothServer> {
public:
    using Options = BluetoothServerOptions;
    static constexpr std::size_t maxValueLength = 512;

    // `queue` is the workspace's "Bluetooth Management Queue", kept for the server's owner.
    static std::shared_ptr<BluetoothServer> make(dispatch::QueuePtr queue, Options options);

    void setDelegate(std::weak_ptr<BluetoothServerDelegate> delegate) { delegate_ = std::move(delegate); }
    // Makes the manager; the service follows once it reports powered on.
    void start();
    // Withdraws the advertisement and the service (the manager goes) and tells the delegate.
    // From then on nothing a central reads or writes reaches the server, and a value still being
    // written is dropped.
    void stop();

    platform::bluetooth::PeripheralManager* manager() const { return manager_.get(); }
    const dispatch::QueuePtr& queue() const { return queue_; }

    void peripheralManagerDidUpdateState(platform::bluetooth::PeripheralManager& manager) override;
    void peripheralManagerDidAddService(platform::bluetooth::PeripheralManager& manager,
                                        const std::optional<std::string>& error) override;
    void peripheralManagerDidStartAdvertising(platform::bluetooth::PeripheralManager& manager,
                                              const std::optional<std::string>& error) override;
    platform::bluetooth::ReadResponse
    peripheralManagerDidReceiveRead(platform::bluetooth::PeripheralManager& manager,
                                    const platform::bluetooth::ReadRequest& request) override;
    platform::bluetooth::AttError
    peripheralManagerDidReceiveWrite(platform::bluetooth::PeripheralManager& manager,
                                     const platform::bluetooth::WriteRequest& request) override;

private:
    struct PendingWrite {
        BluetoothBytes bytes;
        std::uint64_t generation = 0;
    };

    BluetoothServer(dispatch::QueuePtr queue, Options options);
    std::optional<BluetoothBytes> currentMessage();
    void completeWrite(const std::string& central);

    dispatch::QueuePtr queue_;
    Options options_;
    std::weak_ptr<BluetoothServerDelegate> delegate_;
    std::shared_ptr<platform::bluetooth::PeripheralManager> manager_;
    std::map<std::string, PendingWrite> writes_;          // by central
    std::map<std::string, BluetoothBytes> readSnapshots_; // by central
    std::uint64_t nextGeneration_ = 1;
};

} // namespace cw

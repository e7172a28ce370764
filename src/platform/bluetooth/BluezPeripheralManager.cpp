#include "platform/bluetooth/BluezPeripheralManager.h"

#include "base/Log.h"
#include "platform/bluetooth/BluezObjects.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QPointer>

#include <array>
#include <atomic>
#include <cstdlib>
#include <utility>

namespace platform::bluetooth {

namespace {

const QString bluezService = QStringLiteral("org.bluez");
const QString objectManagerInterface = QStringLiteral("org.freedesktop.DBus.ObjectManager");
const QString adapterInterface = QStringLiteral("org.bluez.Adapter1");
const QString gattManagerInterface = QStringLiteral("org.bluez.GattManager1");
const QString advertisingManagerInterface = QStringLiteral("org.bluez.LEAdvertisingManager1");
const QString serviceInterface = QStringLiteral("org.bluez.GattService1");
const QString characteristicInterface = QStringLiteral("org.bluez.GattCharacteristic1");

constexpr std::array<std::pair<AttError, std::string_view>, 6> errorNames{{
    {AttError::readNotPermitted, "org.bluez.Error.NotPermitted"},
    {AttError::writeNotPermitted, "org.bluez.Error.NotPermitted"},
    {AttError::requestNotSupported, "org.bluez.Error.NotSupported"},
    {AttError::invalidOffset, "org.bluez.Error.InvalidOffset"},
    {AttError::invalidAttributeValueLength, "org.bluez.Error.InvalidValueLength"},
    {AttError::unlikelyError, "org.bluez.Error.Failed"},
}};

std::atomic<int> instanceCounter{0};

Bytes bytesOf(const QByteArray& data) {
    return {data.begin(), data.end()};
}

std::uint16_t offsetOption(const QVariantMap& options) {
    bool ok = false;
    const uint offset = options.value(QStringLiteral("offset")).toUInt(&ok);
    return ok && offset <= 0xFFFF ? static_cast<std::uint16_t>(offset) : 0;
}

std::string deviceOption(const QVariantMap& options) {
    const QVariant device = options.value(QStringLiteral("device"));
    if (device.canConvert<QDBusObjectPath>()) {
        return device.value<QDBusObjectPath>().path().toStdString();
    }
    return device.toString().toStdString();
}

// The bus BlueZ lives on, by a connection name of our own so that a private bus is ours alone.
QDBusConnection connectBus(const std::string& address, const QString& name) {
    QString busAddress = QString::fromStdString(address);
    if (busAddress.isEmpty()) {
        busAddress = QString::fromLocal8Bit(qgetenv(bluezBusVariable));
    }
    if (busAddress.isEmpty()) {
        return QDBusConnection::systemBus();
    }
    return QDBusConnection::connectToBus(busAddress, name);
}

// Only the first failure to find BlueZ or an adapter is logged per process.
std::atomic<bool> loggedUnavailable{false};

class BluezPeripheralManager : public QObject, public PeripheralManager {
public:
    BluezPeripheralManager(std::weak_ptr<PeripheralManagerDelegate> delegate, const std::string& busAddress)
        : delegate_(std::move(delegate))
        , number_(++instanceCounter)
        , connectionName_(QStringLiteral("cw-bluez-%1").arg(number_))
        , connection_(connectBus(busAddress, connectionName_))
        , basePath_(QStringLiteral("/org/cuewright/peripheral%1").arg(number_)) {
        registerBluezTypes();
        if (!connection_.isConnected()) {
            logUnavailable("no bus: " + connection_.lastError().message().toStdString());
            QMetaObject::invokeMethod(
                this, [this] { setState(ManagerState::unsupported); }, Qt::QueuedConnection);
            return;
        }
        watcher_ = new QDBusServiceWatcher(bluezService, connection_,
                                           QDBusServiceWatcher::WatchForOwnerChange, this);
        QObject::connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this, [this] { refresh(); });
        relay_ = new SignalRelay([this] { refresh(); }, this);
        for (const char* signal : {"InterfacesAdded", "InterfacesRemoved"}) {
            connection_.connect(bluezService, QStringLiteral("/"), objectManagerInterface,
                                QString::fromLatin1(signal), relay_, SLOT(relay(QDBusMessage)));
        }
        refresh();
    }

    ~BluezPeripheralManager() override {
        if (connection_.isConnected()) {
            if (advertising_) {
                callAdapter(advertisingManagerInterface, QStringLiteral("UnregisterAdvertisement"),
                            {QVariant::fromValue(QDBusObjectPath(advertisementPath()))});
            }
            if (applicationRegistered_) {
                callAdapter(gattManagerInterface, QStringLiteral("UnregisterApplication"),
                            {QVariant::fromValue(QDBusObjectPath(basePath_))});
            }
            for (const QString& path : exportedPaths_) {
                connection_.unregisterObject(path);
            }
        }
        if (connectionName_ != QDBusConnection::systemBus().name()) {
            QDBusConnection::disconnectFromBus(connectionName_);
        }
    }

    ManagerState state() const override { return state_; }
    bool isAdvertising() const override { return advertising_; }

    void addService(const GattService& service) override {
        exportApplication(service);
        if (adapter_.isEmpty()) {
            tellAddService(std::string("no Bluetooth adapter"));
            return;
        }
        if (applicationRegistered_) {
            callAdapter(gattManagerInterface, QStringLiteral("UnregisterApplication"),
                        {QVariant::fromValue(QDBusObjectPath(basePath_))});
            applicationRegistered_ = false;
        }
        const QString adapter = adapter_;
        callAdapter(gattManagerInterface, QStringLiteral("RegisterApplication"),
                    {QVariant::fromValue(QDBusObjectPath(basePath_)), QVariantMap()},
                    [this, adapter](const QDBusMessage& reply) {
                        if (reply.type() == QDBusMessage::ErrorMessage) {
                            tellAddService(reply.errorMessage().toStdString());
                            return;
                        }
                        applicationRegistered_ = adapter == adapter_;
                        tellAddService(std::nullopt);
                    });
    }

    void startAdvertising(const AdvertisementData& data) override {
        exportAdvertisement(data);
        if (adapter_.isEmpty()) {
            tellStartAdvertising(std::string("no Bluetooth adapter"));
            return;
        }
        if (advertising_) {
            callAdapter(advertisingManagerInterface, QStringLiteral("UnregisterAdvertisement"),
                        {QVariant::fromValue(QDBusObjectPath(advertisementPath()))});
            advertising_ = false;
        }
        callAdapter(advertisingManagerInterface, QStringLiteral("RegisterAdvertisement"),
                    {QVariant::fromValue(QDBusObjectPath(advertisementPath())), QVariantMap()},
                    [this](const QDBusMessage& reply) {
                        const bool failed = reply.type() == QDBusMessage::ErrorMessage;
                        advertising_ = !failed;
                        tellStartAdvertising(failed ? std::optional(reply.errorMessage().toStdString())
                                                    : std::nullopt);
                    });
    }

    void stopAdvertising() override {
        if (!advertising_) {
            return;
        }
        advertising_ = false;
        callAdapter(advertisingManagerInterface, QStringLiteral("UnregisterAdvertisement"),
                    {QVariant::fromValue(QDBusObjectPath(advertisementPath()))});
    }

    // Looks BlueZ's adapters up again (BlueZ or an adapter came, went or changed).
    void refresh() {
        QDBusMessage call = QDBusMessage::createMethodCall(
            bluezService, QStringLiteral("/"), objectManagerInterface, QStringLiteral("GetManagedObjects"));
        auto* pending = new QDBusPendingCallWatcher(connection_.asyncCall(call), this);
        QObject::connect(
            pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* watcher) {
                watcher->deleteLater();
                const QDBusMessage reply = watcher->reply();
                if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
                    logUnavailable("BlueZ does not answer: " + reply.errorMessage().toStdString());
                    adapterChanged({}, false);
                    return;
                }
                const auto objects = qdbus_cast<ManagedObjects>(reply.arguments().constFirst());
                for (auto it = objects.cbegin(); it != objects.cend(); ++it) {
                    const InterfaceProperties& interfaces = it.value();
                    if (interfaces.contains(adapterInterface) && interfaces.contains(gattManagerInterface) &&
                        interfaces.contains(advertisingManagerInterface)) {
                        adapterChanged(
                            it.key().path(),
                            interfaces.value(adapterInterface).value(QStringLiteral("Powered")).toBool());
                        return;
                    }
                }
                logUnavailable("no Bluetooth LE adapter");
                adapterChanged({}, false);
            });
    }

private:
    QString advertisementPath() const { return basePath_ + QStringLiteral("/advertisement0"); }
    QString servicePath() const { return basePath_ + QStringLiteral("/service0"); }
    QString characteristicPath() const { return servicePath() + QStringLiteral("/char0"); }

    static void logUnavailable(const std::string& why) {
        if (!loggedUnavailable.exchange(true)) {
            base::log("bluetooth: staying off (" + why + ")");
        }
    }

    void adapterChanged(const QString& adapter, bool powered) {
        if (adapter != adapter_) {
            // BlueZ dropped what we had registered on the old adapter.
            applicationRegistered_ = false;
            advertising_ = false;
            watchAdapter(/*watch=*/false);
            adapter_ = adapter;
            watchAdapter(/*watch=*/true);
        }
        setState(adapter_.isEmpty() ? ManagerState::unsupported
                                    : (powered ? ManagerState::poweredOn : ManagerState::poweredOff));
    }

    // The adapter's Powered property changes come as PropertiesChanged on its path.
    void watchAdapter(bool watch) {
        if (adapter_.isEmpty()) {
            return;
        }
        const QString properties = QStringLiteral("org.freedesktop.DBus.Properties");
        const QString changed = QStringLiteral("PropertiesChanged");
        if (watch) {
            connection_.connect(bluezService, adapter_, properties, changed, relay_,
                                SLOT(relay(QDBusMessage)));
        } else {
            connection_.disconnect(bluezService, adapter_, properties, changed, relay_,
                                   SLOT(relay(QDBusMessage)));
        }
    }

    void setState(ManagerState state) {
        if (state == state_ && reportedState_) {
            return;
        }
        state_ = state;
        reportedState_ = true;
        if (const auto delegate = delegate_.lock()) {
            delegate->peripheralManagerDidUpdateState(*this);
        }
    }

    void tellAddService(const std::optional<std::string>& error) {
        if (const auto delegate = delegate_.lock()) {
            delegate->peripheralManagerDidAddService(*this, error);
        }
    }
    void tellStartAdvertising(const std::optional<std::string>& error) {
        if (const auto delegate = delegate_.lock()) {
            delegate->peripheralManagerDidStartAdvertising(*this, error);
        }
    }

    void callAdapter(const QString& interface, const QString& method, const QVariantList& arguments,
                     std::function<void(const QDBusMessage&)> done = {}) {
        QDBusMessage call = QDBusMessage::createMethodCall(bluezService, adapter_, interface, method);
        call.setArguments(arguments);
        if (!done) {
            connection_.asyncCall(call);
            return;
        }
        auto* pending = new QDBusPendingCallWatcher(connection_.asyncCall(call), this);
        QObject::connect(pending, &QDBusPendingCallWatcher::finished, this,
                         [done = std::move(done)](QDBusPendingCallWatcher* watcher) {
                             watcher->deleteLater();
                             done(watcher->reply());
                         });
    }

    void exportObject(const QString& path, QObject* object) {
        connection_.unregisterObject(path);
        connection_.registerObject(path, object,
                                   QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties);
        if (!exportedPaths_.contains(path)) {
            exportedPaths_.append(path);
        }
    }

    void exportApplication(const GattService& service) {
        delete application_;
        const QString serviceUuid = QString::fromStdString(service.serviceUuid).toLower();
        const QString characteristicUuid = QString::fromStdString(service.characteristicUuid).toLower();
        ManagedObjects objects;
        objects[QDBusObjectPath(servicePath())][serviceInterface] = {
            {QStringLiteral("UUID"), serviceUuid},
            {QStringLiteral("Primary"), true},
        };
        objects[QDBusObjectPath(characteristicPath())][characteristicInterface] = {
            {QStringLiteral("UUID"), characteristicUuid},
            {QStringLiteral("Service"), QVariant::fromValue(QDBusObjectPath(servicePath()))},
            {QStringLiteral("Flags"), QStringList{QStringLiteral("read"), QStringLiteral("write")}},
        };
        application_ = new GattApplicationObject(objects, this);
        auto* serviceObject = new GattServiceObject(serviceUuid, application_);
        const std::string uuid = QString::fromStdString(service.characteristicUuid).toUpper().toStdString();
        auto* characteristic = new GattCharacteristicObject(
            characteristicUuid, QDBusObjectPath(servicePath()),
            [this, uuid](const QVariantMap& options, QString& errorName) {
                const ReadRequest request{uuid, deviceOption(options), offsetOption(options)};
                const auto delegate = delegate_.lock();
                const ReadResponse response = delegate
                                                  ? delegate->peripheralManagerDidReceiveRead(*this, request)
                                                  : ReadResponse{AttError::unlikelyError, {}};
                errorName = QString::fromLatin1(bluezErrorName(response.result));
                return QByteArray(reinterpret_cast<const char*>(response.value.data()),
                                  static_cast<qsizetype>(response.value.size()));
            },
            [this, uuid](const QByteArray& value, const QVariantMap& options, QString& errorName) {
                const WriteRequest request{uuid, deviceOption(options), offsetOption(options),
                                           bytesOf(value)};
                const auto delegate = delegate_.lock();
                const AttError result = delegate ? delegate->peripheralManagerDidReceiveWrite(*this, request)
                                                 : AttError::unlikelyError;
                errorName = QString::fromLatin1(bluezErrorName(result));
            },
            application_);
        exportObject(basePath_, application_);
        exportObject(servicePath(), serviceObject);
        exportObject(characteristicPath(), characteristic);
    }

    void exportAdvertisement(const AdvertisementData& data) {
        delete advertisement_;
        QStringList uuids;
        for (const auto& uuid : data.serviceUuids) {
            uuids.append(QString::fromStdString(uuid).toLower());
        }
        advertisement_ = new AdvertisementObject(uuids, QString::fromStdString(data.localName), this);
        exportObject(advertisementPath(), advertisement_);
    }

    std::weak_ptr<PeripheralManagerDelegate> delegate_;
    int number_;
    QString connectionName_;
    QDBusConnection connection_;
    QString basePath_;
    QDBusServiceWatcher* watcher_ = nullptr;
    SignalRelay* relay_ = nullptr;
    QString adapter_; // object path of the adapter in use; empty without one
    ManagerState state_ = ManagerState::unknown;
    bool reportedState_ = false;
    bool applicationRegistered_ = false;
    bool advertising_ = false;
    QPointer<GattApplicationObject> application_;
    QPointer<AdvertisementObject> advertisement_;
    QStringList exportedPaths_;
};

} // namespace

std::shared_ptr<PeripheralManager>
makeBluezPeripheralManager(std::weak_ptr<PeripheralManagerDelegate> delegate, std::string busAddress) {
    return std::make_shared<BluezPeripheralManager>(std::move(delegate), busAddress);
}

std::string_view bluezErrorName(AttError error) {
    for (const auto& [code, name] : errorNames) {
        if (code == error) {
            return name;
        }
    }
    return error == AttError::success ? std::string_view() : errorNames.back().second;
}

std::optional<AttError> attErrorFromBluezError(std::string_view name) {
    for (const auto& [code, errorName] : errorNames) {
        if (errorName == name) {
            return code;
        }
    }
    return std::nullopt;
}

} // namespace platform::bluetooth

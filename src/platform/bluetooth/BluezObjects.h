// The D-Bus objects our GATT application and advertisement show BlueZ (private to the layer).
// Their properties are read-only: any client of the bus may call Properties.Set on them.
#pragma once

#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <functional>

namespace platform::bluetooth {

using InterfaceProperties = QMap<QString, QVariantMap>;
using ManagedObjects = QMap<QDBusObjectPath, InterfaceProperties>;

// Registers the D-Bus types above once.
void registerBluezTypes();

// The application's root: BlueZ learns the service and characteristic from GetManagedObjects.
class GattApplicationObject : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.DBus.ObjectManager")

public:
    explicit GattApplicationObject(ManagedObjects objects, QObject* parent = nullptr)
        : QObject(parent)
        , objects_(std::move(objects)) {}

public slots:
    ManagedObjects GetManagedObjects() const { return objects_; }

private:
    ManagedObjects objects_;
};

class GattServiceObject : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.bluez.GattService1")
    Q_PROPERTY(QString UUID READ uuid)
    Q_PROPERTY(bool Primary READ isPrimary)

public:
    GattServiceObject(QString uuid, QObject* parent)
        : QObject(parent)
        , uuid_(std::move(uuid)) {}
    QString uuid() const { return uuid_; }
    bool isPrimary() const { return true; }

private:
    QString uuid_;
};

// Answers ReadValue and WriteValue through the handlers; an error name other than "" is sent
// back as the D-Bus error reply.
class GattCharacteristicObject : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.bluez.GattCharacteristic1")
    Q_PROPERTY(QString UUID READ uuid)
    Q_PROPERTY(QDBusObjectPath Service READ service)
    Q_PROPERTY(QStringList Flags READ flags)

public:
    using ReadHandler = std::function<QByteArray(const QVariantMap& options, QString& errorName)>;
    using WriteHandler =
        std::function<void(const QByteArray& value, const QVariantMap& options, QString& errorName)>;

    GattCharacteristicObject(QString uuid, QDBusObjectPath service, ReadHandler read, WriteHandler write,
                             QObject* parent)
        : QObject(parent)
        , uuid_(std::move(uuid))
        , service_(std::move(service))
        , flags_{QStringLiteral("read"), QStringLiteral("write")}
        , read_(std::move(read))
        , write_(std::move(write)) {}
    QString uuid() const { return uuid_; }
    QDBusObjectPath service() const { return service_; }
    QStringList flags() const { return flags_; }

public slots:
    QByteArray ReadValue(const QVariantMap& options);
    void WriteValue(const QByteArray& value, const QVariantMap& options);

private:
    QString uuid_;
    QDBusObjectPath service_;
    QStringList flags_;
    ReadHandler read_;
    WriteHandler write_;
};

// Receives D-Bus signals for code that is no QObject.
class SignalRelay : public QObject {
    Q_OBJECT

public:
    explicit SignalRelay(std::function<void()> fire, QObject* parent = nullptr)
        : QObject(parent)
        , fire_(std::move(fire)) {}

public slots:
    void relay(const QDBusMessage&) { fire_(); }

private:
    std::function<void()> fire_;
};

class AdvertisementObject : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.bluez.LEAdvertisement1")
    Q_PROPERTY(QString Type READ type)
    Q_PROPERTY(QStringList ServiceUUIDs READ serviceUuids)
    Q_PROPERTY(QString LocalName READ localName)

public:
    AdvertisementObject(QStringList serviceUuids, QString localName, QObject* parent)
        : QObject(parent)
        , serviceUuids_(std::move(serviceUuids))
        , localName_(std::move(localName)) {}
    QString type() const { return QStringLiteral("peripheral"); }
    QStringList serviceUuids() const { return serviceUuids_; }
    QString localName() const { return localName_; }

public slots:
    // BlueZ let go of the advertisement (its adapter went away).
    Q_NOREPLY void Release() {}

private:
    QStringList serviceUuids_;
    QString localName_;
};

} // namespace platform::bluetooth

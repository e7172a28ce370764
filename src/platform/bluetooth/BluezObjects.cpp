#include "platform/bluetooth/BluezObjects.h"

#include <QDBusMetaType>

namespace platform::bluetooth {

void registerBluezTypes() {
    static const bool registered = [] {
        qDBusRegisterMetaType<InterfaceProperties>();
        qDBusRegisterMetaType<ManagedObjects>();
        return true;
    }();
    static_cast<void>(registered);
}

QByteArray GattCharacteristicObject::ReadValue(const QVariantMap& options) {
    QString errorName;
    QByteArray value = read_(options, errorName);
    if (!errorName.isEmpty()) {
        sendErrorReply(errorName, errorName);
        return {};
    }
    return value;
}

void GattCharacteristicObject::WriteValue(const QByteArray& value, const QVariantMap& options) {
    QString errorName;
    write_(value, options, errorName);
    if (!errorName.isEmpty()) {
        sendErrorReply(errorName, errorName);
    }
}

} // namespace platform::bluetooth

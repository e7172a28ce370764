// The Bluetooth LE remote control: its text protocol, and the peripheral against a fake BlueZ on
// a private bus (run by with_private_bus.sh, which passes the bus in CUEWRIGHT_BLUEZ_BUS_ADDRESS).
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/remote/BluetoothProtocol.h"
#include "cuewright/remote/WorkspaceBluetooth.h"
#include "platform/bluetooth/BluezObjects.h"
#include "platform/bluetooth/BluezPeripheralManager.h"

#include "remote/InputTestSupport.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVirtualObject>

#include <cmath>
#include <limits>

namespace {

using cw::NetworkCommand;
using C = NetworkCommand::Command;
using K = NetworkCommand::Kind;
namespace bt = platform::bluetooth;

std::optional<NetworkCommand> parse(std::string_view text) {
    return cw::parseBluetoothCommand({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}
std::string textOf(const std::optional<cw::BluetoothBytes>& bytes) {
    return bytes ? std::string(bytes->begin(), bytes->end()) : "<none>";
}

TEST(BluetoothProtocolTest, ParsesCommands) {
    struct Case {
        const char* text;
        std::optional<NetworkCommand> command;
    };
    const Case cases[] = {
        {"v1:1,x1:x2,c1:c4", NetworkCommand{C::of(K::startPlayback), 1}},
        {"c1:c4", NetworkCommand{C::of(K::startPlayback), 1}},
        {"v1:7,c1:c3", NetworkCommand{C::of(K::reportStatus), 7}},
        {"v1:-2,c1:c6", NetworkCommand{C::of(K::rewind), -2}},
        {"v1:x,c1:c5", NetworkCommand{C::of(K::stopPlayback), 1}},
        {"v1:99999999999999999999,c1:c5", NetworkCommand{C::of(K::stopPlayback), 1}},
        {"c1:c4,c1:c5", NetworkCommand{C::of(K::stopPlayback), 1}},
        {"a:b:c,c1:c4", NetworkCommand{C::of(K::startPlayback), 1}},
        {"c1:c7,c9:55", NetworkCommand{C::setScrollSpeed(55), 1}},
        {"c1:c7,c9:+2.5e1", NetworkCommand{C::setScrollSpeed(25), 1}},
        {"c1:c8,c10:-1", NetworkCommand{C::setScrollDirection(-1), 1}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse(c.text), c.command) << c.text;
    }
    for (const char* text : {"x1:x3,c1:c4", "c1:c7", "c1:c7,c9:fast", "c1:c7,c9: 55", "c1:c7,c9:55 ",
                             "c1:c7,c9:nan", "c1:c7,c9:inf", "c1:c8,c10:-infinity", "c1:c7,c9:1e999",
                             "c1:c7,c9:0x10", "c1:c9", "v1:1", "c1:c4\xff", ""}) {
        EXPECT_EQ(parse(text), std::nullopt) << text;
    }
}

TEST(BluetoothProtocolTest, WritesMessagesAndNumbers) {
    const std::pair<double, const char*> numbers[] = {
        {31, "31.0"},
        {0.25, "0.25"},
        {100, "100.0"},
        {1e-05, "1e-05"},
        {0.0001, "0.0001"},
        {-1, "-1.0"},
        {0, "0.0"},
        {1234.5, "1234.5"},
        {1e16, "1e+16"},
        {0.1, "0.1"},
        {120.0 / 7, "17.142857142857142"},
        {std::numeric_limits<double>::infinity(), "inf"},
    };
    for (const auto& [value, text] : numbers) {
        EXPECT_EQ(cw::bluetoothNumberText(value), text);
    }
    cw::NetworkStatusReport report{"/x/Talk.cwr", 31,  100, cw::TransportState::TransportStatus::stopped,
                                   0.5,           120, 1};
    EXPECT_EQ(textOf(cw::bluetoothStatusMessage(report)),
              "v1:1,x1:x4,a3:31.0,a8:1.0,a6:120.0,a5:0.5,a7:a10,a2:Talk.cwr");
    report.filename = "Untitled";
    report.transportState = cw::TransportState::TransportStatus::playing;
    EXPECT_EQ(textOf(cw::bluetoothStatusMessage(report)),
              "v1:1,x1:x4,a3:31.0,a8:1.0,a6:120.0,a5:0.5,a7:a9,a2:Untitled");
    report.filename = "/x/Caf\xe9.cwr";
    EXPECT_FALSE(cw::bluetoothStatusMessage(report)) << "not UTF-8";
    EXPECT_EQ(textOf(cw::bluetoothAnswerMessage(cw::NetworkAnswer::noDocumentActive())),
              "v1:1,x1:x3,e1:e3,e2:No document active.");
    EXPECT_EQ(textOf(cw::bluetoothAnswerMessage(cw::NetworkAnswer::error("Busy"))),
              "v1:1,x1:x3,e1:e5,e2:Busy");
}

// A fake BlueZ: one powered adapter with both managers, and the phone.

const QString adapterPath = QStringLiteral("/org/bluez/hci0");

class FakeBluez : public QDBusVirtualObject {
public:
    explicit FakeBluez(QDBusConnection connection)
        : connection_(std::move(connection)) {}

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QString member = message.member();
        if (member == "GetManagedObjects" && message.path() == "/") {
            bt::InterfaceProperties interfaces;
            interfaces["org.bluez.Adapter1"] = {{"Powered", powered}};
            interfaces["org.bluez.GattManager1"] = {};
            interfaces["org.bluez.LEAdvertisingManager1"] = {};
            bt::ManagedObjects objects;
            objects[QDBusObjectPath(adapterPath)] = interfaces;
            connection.send(message.createReply(QVariant::fromValue(objects)));
            return true;
        }
        if (message.path() != adapterPath) {
            return false;
        }
        const QString path = message.arguments().value(0).value<QDBusObjectPath>().path();
        if (member == "RegisterApplication") {
            application = {message.service(), path};
        } else if (member == "UnregisterApplication") {
            application = {};
        } else if (member == "RegisterAdvertisement") {
            advertisement = {message.service(), path};
        } else if (member == "UnregisterAdvertisement") {
            advertisement = {};
        } else {
            return false;
        }
        connection.send(message.createReply());
        return true;
    }

    struct Registration {
        QString owner;
        QString path;
        bool isEmpty() const { return path.isEmpty(); }
    };
    Registration application;
    Registration advertisement;
    bool powered = true;

private:
    QDBusConnection connection_;
};

class BluetoothServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        bt::registerBluezTypes();
        ASSERT_FALSE(qEnvironmentVariableIsEmpty(bt::bluezBusVariable))
            << "run me through with_private_bus.sh";
        ASSERT_TRUE(bus.isConnected());
        scripts.defaults.set(cw::settings::bonjourName, "Studio");
    }
    void TearDown() override {
        scripts.workspace.ble().server.reset();
        bus.unregisterService("org.bluez");
        bus.unregisterObject("/", QDBusConnection::UnregisterTree);
        QDBusConnection::disconnectFromBus("fake-bluez");
    }

    void offerBluez() {
        ASSERT_TRUE(bus.registerVirtualObject("/", &bluez, QDBusConnection::SubPath));
        ASSERT_TRUE(bus.registerService("org.bluez"));
    }
    // Offers BlueZ, starts the remote control and waits until BlueZ holds its application and
    // advertisement.
    void startAdvertising() {
        offerBluez();
        bluetooth->startBluetooth();
        ASSERT_TRUE(inputtest::waitUntil(
            [&] { return !bluez.application.isEmpty() && !bluez.advertisement.isEmpty(); }));
        const auto objects =
            call(bluez.application.path, "org.freedesktop.DBus.ObjectManager", "GetManagedObjects");
        const auto managed = qdbus_cast<bt::ManagedObjects>(objects.arguments().value(0));
        for (auto it = managed.cbegin(); it != managed.cend(); ++it) {
            if (it->contains("org.bluez.GattCharacteristic1")) {
                characteristic = it.key().path();
                characteristicProperties = it->value("org.bluez.GattCharacteristic1");
            }
            if (it->contains("org.bluez.GattService1")) {
                service = it.key().path();
                serviceProperties = it->value("org.bluez.GattService1");
            }
        }
    }

    QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments = {}) {
        auto message = QDBusMessage::createMethodCall(bluez.application.owner, path, interface, method);
        message.setArguments(arguments);
        QDBusPendingCall pending = bus.asyncCall(message);
        EXPECT_TRUE(inputtest::waitUntil([&] { return pending.isFinished(); }));
        return pending.reply();
    }
    static QVariantMap options(int offset, const QString& device) {
        return {{"offset", QVariant::fromValue(static_cast<quint16>(offset))},
                {"device", QVariant::fromValue(QDBusObjectPath(adapterPath + "/dev_" + device))}};
    }
    QDBusMessage read(int offset, const QString& device = "AA") {
        return call(characteristic, "org.bluez.GattCharacteristic1", "ReadValue", {options(offset, device)});
    }
    static std::string valueOf(const QDBusMessage& reply) {
        return reply.arguments().value(0).toByteArray().toStdString();
    }
    QDBusMessage write(const std::string& piece, int offset = 0, const QString& device = "AA") {
        return call(characteristic, "org.bluez.GattCharacteristic1", "WriteValue",
                    {QByteArray::fromStdString(piece), options(offset, device)});
    }
    // Writes the pieces, then a new value, which completes them without waiting.
    void writeWhole(const std::vector<std::string>& pieces) {
        size_t offset = 0;
        for (const auto& piece : pieces) {
            EXPECT_EQ(write(piece, static_cast<int>(offset)).type(), QDBusMessage::ReplyMessage) << piece;
            offset += piece.size();
        }
        write("c1:c3");
    }

    inputtest::ScriptWorkspace scripts;
    QDBusConnection bus =
        QDBusConnection::connectToBus(qEnvironmentVariable(bt::bluezBusVariable), "fake-bluez");
    FakeBluez bluez{bus};
    std::shared_ptr<cw::WorkspaceBluetooth> bluetooth = cw::WorkspaceBluetooth::make(
        scripts.workspace,
        {{}, &scripts.defaults, [] { return std::string("Mac"); }, std::chrono::milliseconds(60000)});
    QString characteristic;
    QString service;
    QVariantMap characteristicProperties;
    QVariantMap serviceProperties;
};

bool logged(const testsupport::LogCapture& log, const std::string& line) {
    const auto lines = log.lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST_F(BluetoothServerTest, RegistersAReadOnlyServiceAndAdvertisement) {
    testsupport::LogCapture log;
    startAdvertising();
    EXPECT_EQ(serviceProperties.value("UUID").toString().toUpper().toStdString(), cw::bluetoothServiceUuid);
    EXPECT_TRUE(serviceProperties.value("Primary").toBool());
    EXPECT_EQ(characteristicProperties.value("UUID").toString().toUpper().toStdString(),
              cw::bluetoothCharacteristicUuid);
    EXPECT_EQ(characteristicProperties.value("Flags").toStringList(), QStringList({"read", "write"}));

    const auto properties = call(bluez.advertisement.path, "org.freedesktop.DBus.Properties", "GetAll",
                                 {QStringLiteral("org.bluez.LEAdvertisement1")});
    const auto advertised = qdbus_cast<QVariantMap>(properties.arguments().value(0));
    EXPECT_EQ(advertised.value("LocalName").toString(), "Studio");
    EXPECT_EQ(advertised.value("ServiceUUIDs").toStringList(),
              QStringList({QString::fromLatin1(cw::bluetoothServiceUuid.data()).toLower()}));
    EXPECT_EQ(advertised.value("Type").toString(), "peripheral");

    // Other clients cannot rewrite the service or the advertisement.
    struct Case {
        QString path;
        const char* interface;
        const char* property;
        QVariant value;
    };
    const Case cases[] = {
        {service, "org.bluez.GattService1", "UUID", QStringLiteral("0000")},
        {characteristic, "org.bluez.GattCharacteristic1", "UUID", QStringLiteral("0000")},
        {characteristic, "org.bluez.GattCharacteristic1", "Flags", QStringList{"notify"}},
        {characteristic, "org.bluez.GattCharacteristic1", "Service",
         QVariant::fromValue(QDBusObjectPath("/x"))},
        {bluez.advertisement.path, "org.bluez.LEAdvertisement1", "LocalName", QStringLiteral("Evil")},
        {bluez.advertisement.path, "org.bluez.LEAdvertisement1", "ServiceUUIDs", QStringList{"0000"}},
    };
    for (const Case& c : cases) {
        const QVariantList get{QString::fromLatin1(c.interface), QString::fromLatin1(c.property)};
        const QVariant before =
            call(c.path, "org.freedesktop.DBus.Properties", "Get", get).arguments().value(0);
        const auto set = call(c.path, "org.freedesktop.DBus.Properties", "Set",
                              {QString::fromLatin1(c.interface), QString::fromLatin1(c.property),
                               QVariant::fromValue(QDBusVariant(c.value))});
        EXPECT_EQ(set.type(), QDBusMessage::ErrorMessage) << c.property;
        const QVariant after =
            call(c.path, "org.freedesktop.DBus.Properties", "Get", get).arguments().value(0);
        EXPECT_TRUE(before.isValid()) << c.property;
        EXPECT_EQ(after.value<QDBusVariant>().variant(), before.value<QDBusVariant>().variant())
            << c.property;
    }

    bluetooth->stopBluetooth();
    EXPECT_TRUE(inputtest::waitUntil([&] { return bluez.advertisement.isEmpty(); }));
    EXPECT_TRUE(logged(log, "began BT listening"));
    EXPECT_TRUE(logged(log, "stopped BT listening"));
}

TEST_F(BluetoothServerTest, WritesDriveTheActiveScript) {
    startAdvertising();
    auto project = scripts.activeScript(240, 50);
    struct Case {
        std::vector<std::string> pieces;
        bool playing;
        double speed;
    };
    const Case cases[] = {
        {{"c1:c4"}, true, 50},
        {{"c1:c7,c9: 55"}, true, 50},
        {{"c1:c4,c1:c5"}, false, 50},
        {{"x1:x3,c1:c4"}, false, 50},
        {{"c1:c7,c9:nan"}, false, 50},
        {{"c1:c8,c10:inf"}, false, 50},
        {{"v1:1,x1:x2,c1:c7,c9:5", "5"}, false, 55}, // one long write in two pieces
        {{"v1:1,x1:x2,c1:c4", ",c1:c6"}, false, 55},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pieces.front());
        writeWhole(c.pieces);
        EXPECT_EQ(project->transportState().isPlaying(), c.playing);
        EXPECT_EQ(project->document().speedProperties.scrollSpeedPerc, c.speed);
        EXPECT_EQ(project->transportState().ffwdFactor, 1.0);
    }
    writeWhole({"c1:c8,c10:1e308"});
    EXPECT_EQ(project->transportState().ffwdFactor, 5.0) << "held to the fastest winding";
    EXPECT_EQ(write("5", 3).errorName(), "org.bluez.Error.InvalidOffset") << "a piece that continues nothing";
    EXPECT_EQ(write(std::string(600, 'x')).errorName(), "org.bluez.Error.InvalidValueLength");
}

// Remote control switched off with a value half written: the application leaves BlueZ, and
// neither that value nor any later read or write reaches the script.
TEST_F(BluetoothServerTest, SwitchedOffItObeysNoCentral) {
    startAdvertising();
    auto project = scripts.activeScript(240, 50);
    ASSERT_EQ(write("c1:c4").type(), QDBusMessage::ReplyMessage); // waits for more pieces
    const QString owner = bluez.application.owner;
    bluetooth->stopBluetooth();
    EXPECT_TRUE(
        inputtest::waitUntil([&] { return bluez.application.isEmpty() && bluez.advertisement.isEmpty(); }));
    bluez.application.owner = owner; // a central that BlueZ still lets through
    EXPECT_EQ(write("c1:c3").type(), QDBusMessage::ErrorMessage);
    EXPECT_EQ(write("c1:c4").type(), QDBusMessage::ErrorMessage);
    EXPECT_EQ(read(0).type(), QDBusMessage::ErrorMessage);
    EXPECT_FALSE(project->transportState().isPlaying());
}

TEST_F(BluetoothServerTest, AWriteCompletesWhenNoFurtherPieceComes) {
    bluetooth = cw::WorkspaceBluetooth::make(scripts.workspace,
                                             {{}, &scripts.defaults, {}, std::chrono::milliseconds(1)});
    startAdvertising();
    auto project = scripts.activeScript();
    write("c1:c4");
    EXPECT_TRUE(inputtest::waitUntil([&] { return project->transportState().isPlaying(); }));
}

TEST_F(BluetoothServerTest, ReadsServeOneSnapshotPerCentral) {
    startAdvertising();
    EXPECT_EQ(valueOf(read(0)), "v1:1,x1:x3,e1:e3,e2:No document active.");

    auto project = scripts.activeScript(240, 50); // 2 lines per second: 120 s
    project->setRepresentedPath("/x/Talk.cwr");
    project->setProgress(0.5, false, true);
    const std::string status = "v1:1,x1:x4,a3:50.0,a8:1.0,a6:120.0,a5:0.5,a7:a10,a2:Talk.cwr";
    EXPECT_EQ(valueOf(read(0)), status);

    // The status changes between the pieces of a long read: the pieces still make one message.
    project->setScrollSpeed(75, 1, 3);
    EXPECT_EQ(valueOf(read(20)), status.substr(20));
    EXPECT_EQ(valueOf(read(20, "BB")), valueOf(read(0, "BB")).substr(20)) << "another central reads afresh";

    const int n = static_cast<int>(status.size());
    const auto atEnd = read(n);
    EXPECT_EQ(atEnd.type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(valueOf(atEnd), "");
    const auto past = read(n + 1);
    EXPECT_EQ(bt::attErrorFromBluezError(past.errorName().toStdString()), bt::AttError::invalidOffset);
}

TEST_F(BluetoothServerTest, StaysOffUntilBluezAndAPoweredAdapterAppear) {
    testsupport::LogCapture log;
    bluetooth->startBluetooth();
    ASSERT_TRUE(inputtest::waitUntil([&] { return logged(log, "managerstate is: Unsupported"); }));
    bluez.powered = false;
    offerBluez();
    ASSERT_TRUE(inputtest::waitUntil([&] { return logged(log, "managerstate is: Powered Off"); }));
    EXPECT_TRUE(bluez.application.isEmpty());

    bluez.powered = true;
    auto changed =
        QDBusMessage::createSignal(adapterPath, "org.freedesktop.DBus.Properties", "PropertiesChanged");
    changed << QStringLiteral("org.bluez.Adapter1") << QVariantMap{{"Powered", true}} << QStringList();
    bus.send(changed);
    EXPECT_TRUE(inputtest::waitUntil([&] { return !bluez.advertisement.isEmpty(); }))
        << "noticed when powered";
}

} // namespace

// The "Play" activity: one bus inhibition while any activity is open; no bus is not an error.
#include "platform/activity/DBusActivityInhibitor.h"
#include "platform/activity/FakeActivityInhibitor.h"

#include "base/Log.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QObject>
#include <QProcess>
#include <QThread>

#include <map>
#include <mutex>
#include <string>
#include <vector>

using platform::ActivityToken;
using platform::DBusActivityInhibitor;
using testsupport::LogCapture;

// Stands in for the desktop's screensaver on a private bus. Lives on its own thread, so that it
// answers while the test thread waits in flush().
class FakeScreenSaver : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")

public:
    struct State {
        std::map<uint, std::pair<QString, QString>> active; // cookie: application, reason
        int inhibitCalls = 0;
        std::vector<uint> released;
    };
    State state() const {
        std::lock_guard lock(mutex_);
        return state_;
    }

public slots:
    uint Inhibit(const QString& application, const QString& reason) {
        std::lock_guard lock(mutex_);
        ++state_.inhibitCalls;
        state_.active[nextCookie_] = {application, reason};
        return nextCookie_++;
    }
    void UnInhibit(uint cookie) {
        std::lock_guard lock(mutex_);
        state_.released.push_back(cookie);
        state_.active.erase(cookie);
    }

private:
    mutable std::mutex mutex_;
    uint nextCookie_ = 41;
    State state_;
};

namespace {

// A dbus-daemon of the test's own. It stays our child (no --fork) so that stopping it also
// reaps it.
class PrivateBus {
public:
    PrivateBus() {
        daemon_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        if (!daemon_.waitForStarted(10000)) {
            return;
        }
        while (!daemon_.canReadLine() && daemon_.waitForReadyRead(10000)) {
        }
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    }
    ~PrivateBus() {
        daemon_.terminate();
        if (!daemon_.waitForFinished(5000)) {
            daemon_.kill();
            daemon_.waitForFinished(5000);
        }
    }
    const QString& address() const { return address_; }

private:
    QProcess daemon_;
    QString address_;
};

class DBusActivityInhibitorTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(bus_.address().isEmpty()) << "dbus-daemon did not start"; }

    void TearDown() override {
        if (serviceThread_.isRunning()) {
            serviceThread_.quit();
            serviceThread_.wait();
        }
        delete service_;
        QDBusConnection::disconnectFromBus("fake-screensaver");
    }

    FakeScreenSaver& startService() {
        service_ = new FakeScreenSaver;
        service_->moveToThread(&serviceThread_);
        serviceThread_.start();
        QDBusConnection connection = QDBusConnection::connectToBus(bus_.address(), "fake-screensaver");
        EXPECT_TRUE(connection.registerObject(DBusActivityInhibitor::objectPath, service_,
                                              QDBusConnection::ExportAllSlots));
        EXPECT_TRUE(connection.registerService(DBusActivityInhibitor::serviceName));
        return *service_;
    }

    std::string address() const { return bus_.address().toStdString(); }

    PrivateBus bus_;
    QThread serviceThread_;
    FakeScreenSaver* service_ = nullptr;
};

} // namespace

// Nested activities share one inhibition, named for the application and the reason, until the last
// one ends; a token ended twice or unknown ends nothing else; playing again inhibits again.
TEST_F(DBusActivityInhibitorTest, OneInhibitionWhileAnyActivityIsOpen) {
    FakeScreenSaver& service = startService();
    DBusActivityInhibitor inhibitor(address());
    const ActivityToken first = inhibitor.begin("Play");
    inhibitor.flush();
    auto state = service.state();
    ASSERT_EQ(state.active.size(), 1u);
    EXPECT_EQ(state.active.begin()->second, std::pair(QString("Cuewright"), QString("Play")));
    EXPECT_TRUE(inhibitor.isInhibiting());
    const uint cookie = state.active.begin()->first;

    const ActivityToken second = inhibitor.begin("Play");
    EXPECT_NE(first, second);
    EXPECT_EQ(inhibitor.openCount(), 2);
    inhibitor.end(first);
    inhibitor.end(first);
    inhibitor.end(ActivityToken{9999});
    inhibitor.flush();
    EXPECT_EQ(inhibitor.openCount(), 1);
    state = service.state();
    EXPECT_EQ(state.inhibitCalls, 1);
    EXPECT_EQ(state.active.size(), 1u);

    inhibitor.end(second);
    inhibitor.flush();
    state = service.state();
    EXPECT_TRUE(state.active.empty());
    EXPECT_EQ(state.released, std::vector<uint>{cookie});
    EXPECT_FALSE(inhibitor.isInhibiting());

    inhibitor.begin("Play");
    inhibitor.flush();
    state = service.state();
    EXPECT_EQ(state.active.size(), 1u);
    EXPECT_EQ(state.released.size(), 1u);
}

TEST_F(DBusActivityInhibitorTest, DestroyingTheInhibitorReleasesItsInhibition) {
    FakeScreenSaver& service = startService();
    {
        DBusActivityInhibitor inhibitor(address());
        inhibitor.begin("Play");
        inhibitor.flush();
        ASSERT_EQ(service.state().active.size(), 1u);
    }
    EXPECT_TRUE(service.state().active.empty());
}

// Without the service on the bus, or without a bus at all, it logs once and keeps counting.
TEST_F(DBusActivityInhibitorTest, WithoutTheServiceOrTheBusItLogsOnceAndGoesOn) {
    for (const std::string& where : {address(), std::string("unix:path=/nonexistent/cuewright-no-bus")}) {
        SCOPED_TRACE(where);
        LogCapture log;
        DBusActivityInhibitor inhibitor(where);
        const ActivityToken first = inhibitor.begin("Play");
        inhibitor.flush();
        inhibitor.end(first);
        inhibitor.flush();
        inhibitor.begin("Play");
        inhibitor.begin("Play");
        inhibitor.flush();
        const auto lines = log.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find("activity"), std::string::npos);
        EXPECT_EQ(inhibitor.openCount(), 2);
        EXPECT_FALSE(inhibitor.isInhibiting());
    }
}

// The fake counts like the real one; an installed inhibitor is the shared one until replaced.
TEST(FakeActivityInhibitor, CountsOpenActivitiesAndIsSharedOnceInstalled) {
    auto fake = std::make_shared<platform::FakeActivityInhibitor>();
    auto previous = platform::setSharedActivityInhibitor(fake);
    EXPECT_EQ(platform::sharedActivityInhibitor(), fake);
    const ActivityToken a = platform::sharedActivityInhibitor()->begin("Play");
    fake->begin("Play");
    fake->end(a);
    fake->end(a);
    EXPECT_EQ(fake->openCount(), 1);
    EXPECT_EQ(fake->beginCount(), 2);
    EXPECT_EQ(fake->endCount(), 1);
    EXPECT_EQ(fake->reasons(), (std::vector<std::string>{"Play", "Play"}));
    EXPECT_EQ(platform::setSharedActivityInhibitor(previous), fake);
}

#include "ActivityInhibitorTests.moc"

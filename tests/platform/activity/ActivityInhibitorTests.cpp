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
    struct Inhibition {
        QString application;
        QString reason;
    };

    std::map<uint, Inhibition> active() const {
        std::lock_guard lock(mutex_);
        return active_;
    }
    int inhibitCalls() const {
        std::lock_guard lock(mutex_);
        return inhibitCalls_;
    }
    std::vector<uint> released() const {
        std::lock_guard lock(mutex_);
        return released_;
    }

public slots:
    uint Inhibit(const QString& application, const QString& reason) {
        std::lock_guard lock(mutex_);
        ++inhibitCalls_;
        const uint cookie = nextCookie_++;
        active_[cookie] = {application, reason};
        return cookie;
    }
    void UnInhibit(uint cookie) {
        std::lock_guard lock(mutex_);
        released_.push_back(cookie);
        active_.erase(cookie);
    }

private:
    mutable std::mutex mutex_;
    uint nextCookie_ = 41;
    int inhibitCalls_ = 0;
    std::map<uint, Inhibition> active_;
    std::vector<uint> released_;
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

TEST_F(DBusActivityInhibitorTest, FirstBeginInhibitsWithApplicationAndReason) {
    FakeScreenSaver& service = startService();
    DBusActivityInhibitor inhibitor(address());
    inhibitor.begin("Play");
    inhibitor.flush();
    const auto active = service.active();
    ASSERT_EQ(active.size(), 1u);
    EXPECT_EQ(active.begin()->second.application, "Cuewright");
    EXPECT_EQ(active.begin()->second.reason, "Play");
    EXPECT_TRUE(inhibitor.isInhibiting());
}

TEST_F(DBusActivityInhibitorTest, NestedActivitiesShareOneInhibitionUntilTheLastEnds) {
    FakeScreenSaver& service = startService();
    DBusActivityInhibitor inhibitor(address());
    const ActivityToken first = inhibitor.begin("Play");
    const ActivityToken second = inhibitor.begin("Play");
    EXPECT_NE(first, second);
    EXPECT_EQ(inhibitor.openCount(), 2);
    inhibitor.flush();
    EXPECT_EQ(service.inhibitCalls(), 1);

    inhibitor.end(first);
    inhibitor.flush();
    EXPECT_EQ(service.active().size(), 1u);

    const uint cookie = service.active().begin()->first;
    inhibitor.end(second);
    inhibitor.flush();
    EXPECT_TRUE(service.active().empty());
    EXPECT_EQ(service.released(), std::vector<uint>{cookie});
    EXPECT_FALSE(inhibitor.isInhibiting());
}

TEST_F(DBusActivityInhibitorTest, EndingATokenTwiceDoesNotEndAnotherActivity) {
    FakeScreenSaver& service = startService();
    DBusActivityInhibitor inhibitor(address());
    const ActivityToken paused = inhibitor.begin("Play");
    inhibitor.begin("Play");
    inhibitor.end(paused);
    inhibitor.end(paused);
    inhibitor.end(ActivityToken{9999});
    inhibitor.flush();
    EXPECT_EQ(inhibitor.openCount(), 1);
    EXPECT_EQ(service.active().size(), 1u);
}

TEST_F(DBusActivityInhibitorTest, PlayingAgainAfterAPauseInhibitsAgain) {
    FakeScreenSaver& service = startService();
    DBusActivityInhibitor inhibitor(address());
    const ActivityToken first = inhibitor.begin("Play");
    inhibitor.flush();
    inhibitor.end(first);
    inhibitor.flush();
    inhibitor.begin("Play");
    inhibitor.flush();
    EXPECT_EQ(service.active().size(), 1u);
    EXPECT_EQ(service.released().size(), 1u);
}

TEST_F(DBusActivityInhibitorTest, DestroyingTheInhibitorReleasesItsInhibition) {
    FakeScreenSaver& service = startService();
    {
        DBusActivityInhibitor inhibitor(address());
        inhibitor.begin("Play");
        inhibitor.flush();
        ASSERT_EQ(service.active().size(), 1u);
    }
    EXPECT_TRUE(service.active().empty());
}

TEST_F(DBusActivityInhibitorTest, WithoutTheServiceItLogsOnceAndKeepsCounting) {
    LogCapture log;
    DBusActivityInhibitor inhibitor(address());
    const ActivityToken first = inhibitor.begin("Play");
    inhibitor.flush();
    inhibitor.end(first);
    inhibitor.begin("Play");
    inhibitor.begin("Play");
    inhibitor.flush();
    EXPECT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(inhibitor.openCount(), 2);
    EXPECT_FALSE(inhibitor.isInhibiting());
}

TEST(DBusActivityInhibitorNoBus, WithoutABusItLogsOnceAndGoesOn) {
    LogCapture log;
    DBusActivityInhibitor inhibitor("unix:path=/nonexistent/cuewright-no-bus");
    const ActivityToken first = inhibitor.begin("Play");
    inhibitor.flush();
    inhibitor.end(first);
    inhibitor.flush();
    inhibitor.begin("Play");
    inhibitor.flush();
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("activity"), std::string::npos);
    EXPECT_EQ(inhibitor.openCount(), 1);
}

TEST(FakeActivityInhibitor, CountsOpenActivitiesAndIgnoresRepeatedEnds) {
    platform::FakeActivityInhibitor fake;
    const ActivityToken a = fake.begin("Play");
    fake.begin("Play");
    fake.end(a);
    fake.end(a);
    EXPECT_EQ(fake.openCount(), 1);
    EXPECT_EQ(fake.beginCount(), 2);
    EXPECT_EQ(fake.endCount(), 1);
    EXPECT_EQ(fake.reasons(), (std::vector<std::string>{"Play", "Play"}));
}

TEST(SharedActivityInhibitor, AnInstalledInhibitorIsTheSharedOneUntilReplaced) {
    auto fake = std::make_shared<platform::FakeActivityInhibitor>();
    auto previous = platform::setSharedActivityInhibitor(fake);
    EXPECT_EQ(platform::sharedActivityInhibitor(), fake);
    platform::sharedActivityInhibitor()->begin("Play");
    EXPECT_EQ(fake->openCount(), 1);
    EXPECT_EQ(platform::setSharedActivityInhibitor(previous), fake);
}

#include "ActivityInhibitorTests.moc"

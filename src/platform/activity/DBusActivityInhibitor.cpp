#include "platform/activity/DBusActivityInhibitor.h"

#include "base/Log.h"
#include "dispatch/Queue.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QString>

#include <atomic>
#include <map>
#include <mutex>
#include <optional>

namespace platform {

namespace {
// A bus that does not answer must not hold up the next begin or end for long.
constexpr int callTimeoutMs = 3000;
std::atomic<int> connectionCounter{0};
} // namespace

struct DBusActivityInhibitor::State {
    // Set at construction, read-only afterwards.
    QString busAddress;
    QString applicationName;
    QString connectionName;
    dispatch::QueuePtr queue;

    // Guarded by mutex: what callers asked for.
    mutable std::mutex mutex;
    std::uint64_t nextId = 1;
    std::map<std::uint64_t, std::string> open; // ids grow, so the first entry is the oldest

    // Touched on `queue` only: what the bus holds.
    std::optional<QDBusConnection> connection;
    std::optional<uint> cookie;
    bool loggedFailure = false;
    std::atomic<bool> inhibiting{false};

    void failed(const QString& what) {
        if (loggedFailure) {
            return;
        }
        loggedFailure = true;
        base::log("activity: cannot keep the display awake (" + what.toStdString() + "); going on without");
    }

    QDBusConnection* bus() {
        if (QCoreApplication::instance() == nullptr) {
            failed(QStringLiteral("no application object"));
            return nullptr;
        }
        if (connection && connection->isConnected()) {
            return &*connection;
        }
        if (busAddress.isEmpty()) {
            connection = QDBusConnection::sessionBus();
        } else {
            QDBusConnection::disconnectFromBus(connectionName);
            connection = QDBusConnection::connectToBus(busAddress, connectionName);
        }
        if (!connection->isConnected()) {
            const QString error = connection->lastError().message();
            failed(error.isEmpty() ? QStringLiteral("no session bus") : error);
            return nullptr;
        }
        return &*connection;
    }

    // Brings the bus in line with the open activities.
    void reconcile() {
        std::optional<std::string> reason;
        {
            std::lock_guard lock(mutex);
            if (!open.empty()) {
                reason = open.begin()->second;
            }
        }
        if (reason && !cookie) {
            inhibit(QString::fromStdString(*reason));
        } else if (!reason && cookie) {
            uninhibit();
        }
        inhibiting = cookie.has_value();
    }

    void inhibit(const QString& reason) {
        QDBusConnection* connection = bus();
        if (connection == nullptr) {
            return;
        }
        QDBusMessage call = QDBusMessage::createMethodCall(serviceName, objectPath, interfaceName, "Inhibit");
        call << applicationName << reason;
        const QDBusMessage reply = connection->call(call, QDBus::Block, callTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            failed(reply.errorMessage().isEmpty() ? QStringLiteral("no answer from ") + serviceName
                                                  : reply.errorMessage());
            return;
        }
        bool ok = false;
        const uint value = reply.arguments().constFirst().toUInt(&ok);
        if (!ok) {
            failed(QStringLiteral("unexpected answer from ") + serviceName);
            return;
        }
        cookie = value;
    }

    void uninhibit() {
        const uint value = *cookie;
        cookie.reset();
        QDBusConnection* connection = bus();
        if (connection == nullptr) {
            return; // the bus went away, and with it our inhibition
        }
        QDBusMessage call =
            QDBusMessage::createMethodCall(serviceName, objectPath, interfaceName, "UnInhibit");
        call << value;
        const QDBusMessage reply = connection->call(call, QDBus::Block, callTimeoutMs);
        if (reply.type() == QDBusMessage::ErrorMessage) {
            failed(reply.errorMessage());
        }
    }
};

DBusActivityInhibitor::DBusActivityInhibitor(std::string busAddress, std::string applicationName)
    : state_(std::make_shared<State>()) {
    state_->busAddress = QString::fromStdString(busAddress);
    state_->applicationName = QString::fromStdString(applicationName);
    state_->connectionName = QStringLiteral("cw-activity-%1").arg(++connectionCounter);
    state_->queue = dispatch::Queue::makeSerial("platform.activity");
}

DBusActivityInhibitor::~DBusActivityInhibitor() {
    if (QCoreApplication::instance() == nullptr) {
        return; // too late for the bus; it drops our inhibition when the process ends
    }
    {
        std::lock_guard lock(state_->mutex);
        state_->open.clear();
    }
    auto state = state_;
    state->queue->sync([state] {
        state->reconcile();
        if (!state->busAddress.isEmpty() && state->connection) {
            state->connection.reset();
            QDBusConnection::disconnectFromBus(state->connectionName);
        }
    });
}

ActivityToken DBusActivityInhibitor::begin(const std::string& reason) {
    ActivityToken token;
    {
        std::lock_guard lock(state_->mutex);
        token.id = state_->nextId++;
        state_->open.emplace(token.id, reason);
    }
    auto state = state_;
    state_->queue->async([state] { state->reconcile(); });
    return token;
}

void DBusActivityInhibitor::end(ActivityToken token) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->open.erase(token.id) == 0) {
            return;
        }
    }
    auto state = state_;
    state_->queue->async([state] { state->reconcile(); });
}

int DBusActivityInhibitor::openCount() const {
    std::lock_guard lock(state_->mutex);
    return static_cast<int>(state_->open.size());
}

void DBusActivityInhibitor::flush() {
    state_->queue->sync([] {});
}

bool DBusActivityInhibitor::isInhibiting() const {
    return state_->inhibiting;
}

} // namespace platform

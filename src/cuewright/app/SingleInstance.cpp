#include "cuewright/app/SingleInstance.h"

#include "base/Log.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cw {

namespace {

// What the running instance writes back once it has the whole list.
constexpr char acknowledgement[] = "ok\n";

void log(const QString& line) {
    base::log(line.toStdString());
}

// A folder owned by this user that no one else may enter.
bool isPrivateFolder(const QString& folder) {
    struct stat status {};
    if (::lstat(QFile::encodeName(folder).constData(), &status) != 0)
        return false;
    return S_ISDIR(status.st_mode) && status.st_uid == ::geteuid() && (status.st_mode & 077) == 0;
}

QString privateFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtime) && isPrivateFolder(runtime))
        return QDir::cleanPath(runtime);
    // The temporary folder is shared: the folder is ours only when we own it and it is closed.
    const QString folder = QDir::tempPath() + QStringLiteral("/cuewright-") + QString::number(::geteuid());
    const QByteArray encoded = QFile::encodeName(folder);
    (void)::mkdir(encoded.constData(), 0700);
    if (isPrivateFolder(folder))
        return folder;
    log(QStringLiteral("%1 is not a private folder of this user: no single-instance socket").arg(folder));
    return {};
}

// Whether the other end of a connected local socket runs as this user.
bool peerIsThisUser(qintptr descriptor) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        return false;
    return credentials.uid == ::geteuid();
}

} // namespace

SingleInstance::SingleInstance(const QString& name, QObject* parent)
    : QObject(parent)
    , path_(socketPath(name)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultName() {
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty()) {
        user = QString::number(::getuid());
    }
    return QStringLiteral("cuewright-") + user;
}

QString SingleInstance::socketPath(const QString& name) {
    if (QDir::isAbsolutePath(name))
        return name;
    const QString folder = privateFolder();
    return folder.isEmpty() ? QString() : folder + u'/' + name;
}

bool SingleInstance::handOff(const QStringList& paths, int timeoutMs) const {
    if (path_.isEmpty()) {
        return false;
    }
    QLocalSocket socket;
    socket.connectToServer(path_);
    if (!socket.waitForConnected(timeoutMs)) {
        return false;
    }
    if (!peerIsThisUser(socket.socketDescriptor())) {
        log(QStringLiteral("%1 is held by another user: not handing anything over").arg(path_));
        return false;
    }
    QByteArray message;
    for (const QString& path : paths) {
        message += path.toUtf8() + '\n';
    }
    message += '\n'; // the end of the list
    socket.write(message);
    // A running instance that hangs still has the connection accepted by the system: only its
    // answer shows that it took the list.
    const QDeadlineTimer deadline(timeoutMs);
    while (!socket.canReadLine()) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            log(QStringLiteral("the running Cuewright at %1 did not answer within %2 ms: starting on its own")
                    .arg(path_)
                    .arg(timeoutMs));
            return false;
        }
    }
    return socket.readLine() == acknowledgement;
}

bool SingleInstance::listen(Handler handler) {
    handler_ = std::move(handler);
    if (path_.isEmpty()) {
        log(QStringLiteral("running as a lone instance: later starts will not find this one"));
        return false;
    }
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(path_)) {
        // Nobody answered on it (handOff failed first): a crashed or hung instance's socket.
        QLocalServer::removeServer(path_);
        if (!server_->listen(path_)) {
            log(QStringLiteral("cannot listen on %1 (%2): running as a lone instance")
                    .arg(path_, server_->errorString()));
            return false;
        }
    }
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::readConnection);
    return true;
}

void SingleInstance::readConnection() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!peerIsThisUser(socket->socketDescriptor())) {
            log(QStringLiteral("refused a hand-over from another user on %1").arg(path_));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            const QByteArray received = socket->peek(socket->bytesAvailable());
            if (received != "\n" && !received.endsWith("\n\n")) {
                return; // the list is not complete yet
            }
            QStringList paths;
            for (const QByteArray& line : socket->readAll().split('\n')) {
                if (!line.isEmpty()) {
                    paths << QString::fromUtf8(line);
                }
            }
            socket->write(acknowledgement);
            socket->disconnectFromServer(); // once the answer is written
            // Handled once this socket's own handling is over: opening may ask in a nested loop
            // (an error alert), where the socket, disconnected, is deleted under its handler.
            QTimer::singleShot(0, this, [this, paths] {
                if (handler_) {
                    handler_(paths);
                }
            });
        });
    }
}

} // namespace cw

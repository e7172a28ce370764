#include "cuewright/app/SingleInstance.h"

#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace cw {

SingleInstance::SingleInstance(QString name, QObject* parent)
    : QObject(parent)
    , name_(std::move(name)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultName() {
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty()) {
        user = QString::number(::getuid());
    }
    return QStringLiteral("cuewright-") + user;
}

bool SingleInstance::handOff(const QStringList& paths, int timeoutMs) const {
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(timeoutMs)) {
        return false;
    }
    QByteArray message;
    for (const QString& path : paths) {
        message += path.toUtf8() + '\n';
    }
    message += '\n'; // the end of the list
    socket.write(message);
    if (!socket.waitForBytesWritten(timeoutMs)) {
        return false;
    }
    // The running instance closes once it has read the list.
    socket.waitForDisconnected(timeoutMs);
    return true;
}

bool SingleInstance::listen(Handler handler) {
    handler_ = std::move(handler);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(name_)) {
        // Nobody answered on it (handOff failed first), so the socket is a crashed instance's.
        QLocalServer::removeServer(name_);
        if (!server_->listen(name_)) {
            return false;
        }
    }
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::readConnection);
    return true;
}

void SingleInstance::readConnection() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
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
            socket->disconnectFromServer();
            if (handler_) {
                handler_(paths);
            }
        });
    }
}

} // namespace cw

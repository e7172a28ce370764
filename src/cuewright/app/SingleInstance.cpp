#include "cuewright/app/SingleInstance.h"

#include "base/Log.h"
#include "dispatch/Queue.h"
#include "dispatch/Source.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QMetaObject>

#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace cw {

namespace {

// What the running instance writes back once it has the whole list.
constexpr char acknowledgement[] = "ok\n";

// The list on the wire: the sender's working folder, then each path, every field ended by a NUL
// (no path holds one), and an empty field after the last path. Bytes as the file system has them.
QByteArray encodeList(const QStringList& paths) {
    QByteArray message = QFile::encodeName(QDir::currentPath()) + '\0';
    for (const QString& path : paths) {
        message += QFile::encodeName(path) + '\0';
    }
    return message + '\0';
}

// The absolute paths of a whole list; nullopt while it is not complete.
std::optional<QStringList> decodeList(const QByteArray& received) {
    const qsizetype folderEnd = received.indexOf('\0');
    if (folderEnd < 0) {
        return std::nullopt;
    }
    const QDir senderFolder(QFile::decodeName(received.left(folderEnd)));
    QStringList paths;
    for (qsizetype start = folderEnd + 1;;) {
        const qsizetype end = received.indexOf('\0', start);
        if (end < 0) {
            return std::nullopt;
        }
        if (end == start) {
            return paths;
        }
        const QString path = QFile::decodeName(received.mid(start, end - start));
        paths << QDir::cleanPath(senderFolder.absoluteFilePath(path));
        start = end + 1;
    }
}

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

// The address of the local socket file `file`; none when the name is too long for one.
std::optional<sockaddr_un> socketAddress(const QByteArray& file) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (file.size() >= static_cast<qsizetype>(sizeof address.sun_path)) {
        return std::nullopt;
    }
    std::memcpy(address.sun_path, file.constData(), static_cast<std::size_t>(file.size()));
    return address;
}

// Whether a process still listens on the local socket at `address`, answering or not: a stopped
// one's connections wait in its queue (or find it full), a crashed one's are refused.
bool someoneListens(const sockaddr_un& address) {
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (probe < 0) {
        return false;
    }
    const bool listens =
        ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 || errno == EAGAIN;
    ::close(probe);
    return listens;
}

// Prefix of the names sockets are set aside under, beside the socket's own name.
QByteArray displacedPrefix(const QByteArray& socketFile) {
    return socketFile + ".displaced-";
}

// The sockets set aside beside `socketFile`, as paths.
std::vector<QByteArray> displacedSockets(const QByteArray& socketFile) {
    const qsizetype slash = socketFile.lastIndexOf('/');
    const QByteArray folder = slash > 0 ? socketFile.left(slash) : QByteArray("/");
    const QByteArray prefix = displacedPrefix(socketFile.mid(slash + 1));
    std::vector<QByteArray> found;
    DIR* entries = ::opendir(folder.constData());
    if (!entries) {
        return found;
    }
    while (const dirent* entry = ::readdir(entries)) {
        const QByteArray name(entry->d_name);
        if (name.startsWith(prefix)) {
            found.push_back(folder + '/' + name);
        }
    }
    ::closedir(entries);
    return found;
}

} // namespace

SingleInstance::SingleInstance(const QString& name, QObject* parent)
    : QObject(parent)
    , path_(socketPath(name)) {}

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

void SingleInstance::lock() {
    if (locked_ || path_.isEmpty()) {
        return;
    }
    const QByteArray file = QFile::encodeName(path_ + QStringLiteral(".lock"));
    if (lockFd_ < 0) {
        lockFd_ = ::open(file.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    }
    if (lockFd_ < 0) {
        log(QStringLiteral("cannot open %1 (%2): not waiting for other starts")
                .arg(QFile::decodeName(file), QString::fromLocal8Bit(std::strerror(errno))));
        return;
    }
    const QDeadlineTimer deadline(lockTimeoutMs);
    while (::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || deadline.hasExpired()) {
            log(QStringLiteral("another start holds %1: going on without waiting for it")
                    .arg(QFile::decodeName(file)));
            return;
        }
        ::usleep(10000);
    }
    locked_ = true;
}

// The descriptor stays open until the end, so that no free place opens up below the descriptors
// the process holds (the spare one kept for alerts is meant to be the only one).
void SingleInstance::unlock() {
    if (locked_) {
        ::flock(lockFd_, LOCK_UN);
        locked_ = false;
    }
}

bool SingleInstance::handOff(const QStringList& paths, int timeoutMs) {
    if (path_.isEmpty()) {
        return false;
    }
    // Whoever holds the lock is checking, or about to listen: its socket is there once we have it.
    lock();
    if (handOffLocked(paths, timeoutMs) || (restoreDisplaced() && handOffLocked(paths, timeoutMs))) {
        unlock();
        return true;
    }
    return false;
}

bool SingleInstance::handOffLocked(const QStringList& paths, int timeoutMs) const {
    QLocalSocket socket;
    socket.connectToServer(path_);
    if (!socket.waitForConnected(timeoutMs)) {
        return false;
    }
    if (!peerIsThisUser(socket.socketDescriptor())) {
        log(QStringLiteral("%1 is held by another user: not handing anything over").arg(path_));
        return false;
    }
    socket.write(encodeList(paths));
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

// The listening socket and the connections being read, all on `queue`.
struct SingleInstance::Listener {
    struct Connection {
        std::shared_ptr<dispatch::ReadSource> source;
        QByteArray received;
    };
    // More than any list of paths a start is given: the rest is not read.
    static constexpr qsizetype maxListBytes = qsizetype{4} << 20;

    dispatch::QueuePtr queue = dispatch::Queue::makeSerial("cuewright.single-instance");
    int fd = -1;
    QString path;
    std::shared_ptr<dispatch::ReadSource> accepting;
    std::map<int, Connection> connections;
    std::function<void(QStringList)> deliver;
    // Refusals are logged at most once a second, with a count: a flood of them is a line a second.
    // Shared with the timer that logs the rest, which may outlive the listener. On `queue` only.
    struct Refusals {
        QString path;
        int unlogged = 0;
        bool waiting = false;
    };
    std::shared_ptr<Refusals> refusals = std::make_shared<Refusals>();

    void acceptConnections();
    static void logRefusals(const std::shared_ptr<Refusals>& refusals, const dispatch::QueuePtr& queue);
    void read(int connection);
    void drop(int connection);
};

void SingleInstance::Listener::acceptConnections() {
    for (;;) {
        const int connection = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (connection < 0) {
            return; // none left (or a failure the next connection may not have)
        }
        if (!peerIsThisUser(connection)) {
            ::close(connection);
            ++refusals->unlogged;
            if (!refusals->waiting) {
                logRefusals(refusals, queue);
            }
            continue;
        }
        auto source = dispatch::ReadSource::make(connection, queue);
        source->setEventHandler([this, connection] { read(connection); });
        connections[connection].source = source;
        source->resume();
    }
}

// Logs the refusals since the last line, then waits a second before the next line may go out.
void SingleInstance::Listener::logRefusals(const std::shared_ptr<Refusals>& refusals,
                                           const dispatch::QueuePtr& queue) {
    if (refusals->unlogged == 0) {
        refusals->waiting = false;
        return;
    }
    log(refusals->unlogged == 1
            ? QStringLiteral("refused a hand-over from another user on %1").arg(refusals->path)
            : QStringLiteral("refused %1 hand-overs from another user on %2 within a second")
                  .arg(refusals->unlogged)
                  .arg(refusals->path));
    refusals->unlogged = 0;
    refusals->waiting = true;
    queue->asyncAfter(std::chrono::seconds(1), [refusals, queue] { logRefusals(refusals, queue); });
}

void SingleInstance::Listener::read(int connection) {
    Connection& state = connections[connection];
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(connection, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        }
        if (got <= 0 || state.received.size() + got > maxListBytes) {
            drop(connection); // gone, or sending without end, before the list was whole
            return;
        }
        state.received.append(buffer, got);
    }
    const std::optional<QStringList> paths = decodeList(state.received);
    if (!paths) {
        return; // the list is not complete yet
    }
    // The answer goes out now, before any file is opened: a sender without one starts on its own.
    (void)::send(connection, acknowledgement, sizeof acknowledgement - 1, MSG_NOSIGNAL);
    drop(connection);
    deliver(*paths);
}

void SingleInstance::Listener::drop(int connection) {
    const auto found = connections.find(connection);
    if (found == connections.end()) {
        return;
    }
    found->second.source->cancel();
    ::close(connection);
    connections.erase(found);
}

bool SingleInstance::listen(Handler handler) {
    handler_ = std::move(handler);
    if (path_.isEmpty()) {
        log(QStringLiteral("running as a lone instance: later starts will not find this one"));
        return false;
    }
    lock(); // held already after a hand-over that found no one
    const bool listening = listenLocked();
    unlock();
    return listening;
}

bool SingleInstance::listenLocked() {
    const QByteArray encoded = QFile::encodeName(path_);
    const std::optional<sockaddr_un> socketFile = socketAddress(encoded);
    if (!socketFile) {
        log(QStringLiteral("%1 is too long for a local socket: running as a lone instance").arg(path_));
        return false;
    }
    const sockaddr_un& address = *socketFile;
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const auto bindTo = [&] {
        return ::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    };
    bool bound = listener >= 0 && bindTo();
    struct stat status {};
    if (!bound && listener >= 0 && errno == EADDRINUSE && ::lstat(encoded.constData(), &status) == 0 &&
        S_ISSOCK(status.st_mode)) {
        // Nobody answered on it (handOff failed first). A crashed instance's socket goes; a living
        // one's is kept aside for when this one quits.
        if (someoneListens(address)) {
            displaced_ = displacedPrefix(encoded) + QByteArray::number(quint64(status.st_ino));
            if (::rename(encoded.constData(), displaced_.constData()) == 0) {
                log(QStringLiteral(
                        "the Cuewright at %1 did not answer: standing in for it until this one quits")
                        .arg(path_));
            } else {
                displaced_.clear();
            }
        } else {
            ::unlink(encoded.constData());
        }
        bound = bindTo();
    }
    if (!bound || ::chmod(encoded.constData(), 0600) != 0 || ::listen(listener, SOMAXCONN) != 0 ||
        ::lstat(encoded.constData(), &status) != 0) {
        log(QStringLiteral("cannot listen on %1 (%2): running as a lone instance")
                .arg(path_, QString::fromLocal8Bit(std::strerror(errno))));
        if (listener >= 0) {
            ::close(listener);
        }
        return false;
    }
    device_ = status.st_dev;
    inode_ = status.st_ino;
    listener_ = std::make_shared<Listener>();
    listener_->fd = listener;
    listener_->path = path_;
    listener_->refusals->path = path_;
    // Queued to the main thread as its own event: opening may ask in a nested loop (an error
    // alert). The destructor stops the queue before this object goes.
    listener_->deliver = [this](const QStringList& paths) {
        QMetaObject::invokeMethod(
            this,
            [this, paths] {
                if (handler_) {
                    handler_(paths);
                }
            },
            Qt::QueuedConnection);
    };
    listener_->accepting = dispatch::ReadSource::make(listener, listener_->queue);
    listener_->accepting->setEventHandler([listener = listener_.get()] { listener->acceptConnections(); });
    listener_->accepting->resume();
    return true;
}

QByteArray SingleInstance::currentSocketFile() const {
    const auto isOurs = [this](const QByteArray& file) {
        struct stat status {};
        return ::lstat(file.constData(), &status) == 0 && status.st_dev == device_ && status.st_ino == inode_;
    };
    const QByteArray encoded = QFile::encodeName(path_);
    if (isOurs(encoded)) {
        return encoded;
    }
    // Set aside, under the name of its own inode or, handed down, under that of the one above.
    for (const QByteArray& file : displacedSockets(encoded)) {
        if (isOurs(file)) {
            return file;
        }
    }
    return {};
}

bool SingleInstance::restoreDisplaced() const {
    const QByteArray encoded = QFile::encodeName(path_);
    const std::optional<sockaddr_un> address = socketAddress(encoded);
    if (!address || someoneListens(*address)) {
        return false;
    }
    for (const QByteArray& file : displacedSockets(encoded)) {
        struct stat status {};
        const std::optional<sockaddr_un> aside = socketAddress(file);
        if (!aside || ::lstat(file.constData(), &status) != 0 || !S_ISSOCK(status.st_mode)) {
            continue;
        }
        if (!someoneListens(*aside)) {
            ::unlink(file.constData()); // its instance ended while set aside, without a word
            continue;
        }
        if (::rename(file.constData(), encoded.constData()) == 0) {
            log(QStringLiteral("the Cuewright that stood in at %1 ended without giving the place back: "
                               "handing over to the one it stood in for")
                    .arg(path_));
            return true;
        }
    }
    return false;
}

void SingleInstance::leavePlace() {
    const QByteArray own = currentSocketFile();
    struct stat status {};
    if (!displaced_.isEmpty() && ::lstat(displaced_.constData(), &status) == 0 && S_ISSOCK(status.st_mode)) {
        // One step, so that a start finds a socket at every moment. When this one's file has gone
        // (removed by hand), the place is taken only when free.
        const QByteArray encoded = QFile::encodeName(path_);
        const QByteArray place = !own.isEmpty()                               ? own
                                 : ::lstat(encoded.constData(), &status) != 0 ? encoded
                                                                              : QByteArray();
        if (!place.isEmpty() && ::rename(displaced_.constData(), place.constData()) == 0) {
            return;
        }
    }
    if (!own.isEmpty()) {
        ::unlink(own.constData());
    }
}

SingleInstance::~SingleInstance() {
    if (listener_) {
        // No start connects while the place changes hands.
        lock();
        listener_->accepting->cancel(); // waits for an accept under way
        listener_->queue->sync([listener = listener_.get()] {
            while (!listener->connections.empty()) {
                listener->drop(listener->connections.begin()->first);
            }
        });
        ::close(listener_->fd);
        leavePlace();
    }
    if (lockFd_ >= 0) {
        ::close(lockFd_); // releases the lock when held
    }
}

} // namespace cw

#include "cuewright/app/SingleInstance.h"

#include "base/Log.h"
#include "dispatch/Queue.h"
#include "dispatch/Source.h"
#include "platform/ui/AlertRunner.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QRandomGenerator>
#include <QSysInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statfs.h>
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

// Makes `folder` closed to others, unless it is there; whether it is this user's alone.
bool madePrivate(const QString& folder) {
    (void)::mkdir(QFile::encodeName(folder).constData(), 0700);
    return isPrivateFolder(folder);
}

// The user's cache folder; empty when neither it nor the home folder is named.
QString cacheFolder() {
    const QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (QDir::isAbsolutePath(cache))
        return QDir::cleanPath(cache);
    const QString home = qEnvironmentVariable("HOME");
    return QDir::isAbsolutePath(home) ? QDir::cleanPath(home) + QStringLiteral("/.cache") : QString();
}

QString privateFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtime) && isPrivateFolder(runtime))
        return QDir::cleanPath(runtime);
    // The temporary folder is shared: the folder is ours only when we own it and it is closed.
    // Qt names no temporary folder when TMPDIR is not there; the name alone would then be made
    // at the root (as root may).
    const QString uid = QString::number(::geteuid());
    const QString temporaryRoot = QDir::tempPath();
    const QString temporary = QDir::isAbsolutePath(temporaryRoot)
                                  ? temporaryRoot + QStringLiteral("/cuewright-") + uid
                                  : QStringLiteral("$TMPDIR/cuewright-") + uid;
    if (QDir::isAbsolutePath(temporaryRoot) && madePrivate(temporary))
        return temporary;
    // Another user made it first, as anyone may there. Only this user makes folders in its cache
    // folder; one per host, as a home may be shared between machines and a socket is not.
    const QString cache = cacheFolder();
    QString host = QSysInfo::machineHostName();
    host.replace(u'/', u'_');
    const QString folder = cache + QStringLiteral("/cuewright-") + uid + u'-' + host;
    if (!cache.isEmpty() && QDir().mkpath(cache) && madePrivate(folder)) {
        log(QStringLiteral("%1 is not a private folder of this user: the single-instance socket lives in %2")
                .arg(temporary, folder));
        return folder;
    }
    log(QStringLiteral("%1 is not a private folder of this user: no single-instance socket").arg(temporary));
    return {};
}

// Whether the other end of a connected local socket runs as this user.
bool peerIsThisUser(int descriptor) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(descriptor, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        return false;
    return credentials.uid == ::geteuid();
}

// The address of the local socket `name` in `folderPath`, open as `folder`: the path itself when
// it fits in a socket address, else the same file reached through the folder's descriptor; none
// when neither fits.
std::optional<sockaddr_un> socketAddress(const QByteArray& folderPath, int folder, const QByteArray& name) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    QByteArray file = folderPath + '/' + name;
    if (file.size() >= static_cast<qsizetype>(sizeof address.sun_path)) {
        file = "/proc/self/fd/" + QByteArray::number(folder) + '/' + name;
    }
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

// A connection to the listener at `address`; -1 when none is made before the deadline (nobody
// listens, or its queue stays full).
int connectWithin(const sockaddr_un& address, const QDeadlineTimer& deadline) {
    for (;;) {
        const int connection = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (connection < 0) {
            return -1;
        }
        if (::connect(connection, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            return connection;
        }
        const int error = errno;
        ::close(connection);
        if (error != EAGAIN || deadline.hasExpired()) {
            return -1;
        }
        ::usleep(10000);
    }
}

enum class HandOver { taken, nobody, otherUser, noAnswer };

// Hands the list to the listener at `address`: connecting, then its answer, may each take up to
// `timeoutMs`. Given `stop`, the answer is waited for until it comes, the listener goes, or `stop`
// is set: a stopped listener has the connection waiting in its queue and answers once it runs.
HandOver handTo(const sockaddr_un& address, const QStringList& paths, int timeoutMs,
                const std::atomic<bool>* stop = nullptr) {
    const int connection = connectWithin(address, QDeadlineTimer(timeoutMs));
    if (connection < 0) {
        return HandOver::nobody;
    }
    const auto result = [&] {
        if (!peerIsThisUser(connection)) {
            return HandOver::otherUser;
        }
        const QByteArray message = encodeList(paths);
        const QDeadlineTimer deadline(timeoutMs);
        qsizetype sent = 0;
        QByteArray answer;
        const auto readAnswer = [&] {
            char buffer[64];
            ssize_t got = 0;
            while ((got = ::recv(connection, buffer, sizeof buffer, 0)) > 0) {
                answer.append(buffer, got);
            }
            return got == 0 || (errno != EAGAIN && errno != EINTR); // the other end is done
        };
        // A running instance that hangs still has the connection accepted by the system: only its
        // answer shows that it took the list.
        while (!answer.contains('\n')) {
            pollfd wait{connection, short(sent < message.size() ? POLLOUT : POLLIN), 0};
            const int ready = ::poll(&wait, 1, stop ? 200 : static_cast<int>(deadline.remainingTime()));
            if ((ready < 0 && errno == EINTR) || (ready == 0 && stop && !stop->load())) {
                continue;
            }
            if (ready <= 0) {
                (void)readAnswer(); // one that came at the last moment still counts
                break;
            }
            if (sent < message.size()) {
                const ssize_t put = ::send(connection, message.constData() + sent,
                                           static_cast<std::size_t>(message.size() - sent), MSG_NOSIGNAL);
                if (put < 0 && errno != EAGAIN && errno != EINTR) {
                    break;
                }
                sent += std::max<ssize_t>(put, 0);
            } else if (readAnswer()) {
                break;
            }
        }
        return answer.startsWith(acknowledgement) ? HandOver::taken : HandOver::noAnswer;
    }();
    ::close(connection);
    return result;
}

// The beginning of the names the sockets of the instance `name` are set aside under: short and of
// one length whatever the name, so that they fit a socket address wherever the name does.
QByteArray asidePrefix(const QByteArray& name) {
    quint64 hash = 14695981039346656037ull; // FNV-1a
    for (const char c : name) {
        hash = (hash ^ quint8(c)) * 1099511628211ull;
    }
    return "cw-aside-" + QByteArray::number(hash, 16).rightJustified(16, '0') + '-';
}

// A name never given before: a stand-in hands lists on to whatever socket has the name it set one
// aside under, so a name used again (as an inode number is) could send lists round in a circle.
QByteArray asideName(const QByteArray& name) {
    return asidePrefix(name) +
           QByteArray::number(QRandomGenerator::system()->generate64(), 16).rightJustified(16, '0');
}

// The names of the sockets of `name` set aside in `folder`, also those earlier versions set aside
// under the socket's own name.
std::vector<QByteArray> displacedSockets(int folder, const QByteArray& name) {
    const QByteArray prefixes[] = {asidePrefix(name), name + ".displaced-"};
    std::vector<QByteArray> found;
    const int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* entries = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!entries) {
        if (listing >= 0) {
            ::close(listing);
        }
        return found;
    }
    while (const dirent* entry = ::readdir(entries)) {
        const QByteArray entryName(entry->d_name);
        if (std::any_of(std::begin(prefixes), std::end(prefixes),
                        [&](const QByteArray& prefix) { return entryName.startsWith(prefix); })) {
            found.push_back(entryName);
        }
    }
    ::closedir(entries);
    return found;
}

// A regular file at `path` open for reading, and where it is; -1 for anything else, and on a
// network file system (there flock is the database's own lock). Never waits for a writer.
int openLockable(const std::string& path, struct stat& status) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct statfs system {};
    if (fd >= 0 && (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
                    (::fstatfs(fd, &system) == 0 && system.f_type == NFS_SUPER_MAGIC))) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Another copy's check, or its claim, holds the file for a moment only.
bool lockShared(int fd) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
            return true;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            return false;
        }
        ::usleep(1000);
    }
    return false;
}

} // namespace

ShownFileLocks::~ShownFileLocks() {
    hold({});
}

ShownFileLocks::Claim ShownFileLocks::claim(const std::string& path) {
    struct stat status {};
    const int fd = openLockable(path, status);
    if (fd < 0) {
        return Claim::notLockable;
    }
    if (std::any_of(held_.begin(), held_.end(), [&](const auto& held) {
            return held.second.device == status.st_dev && held.second.inode == status.st_ino;
        })) {
        ::close(fd);
        return Claim::mine;
    }
    if (held_.size() >= maxFiles) {
        ::close(fd);
        return Claim::notLockable;
    }
    // Shared, then exclusive for a moment: only a file no one else holds changes to exclusive,
    // and a change that fails gives up the shared lock too, so of two claiming at once the one
    // changing second finds the first gone. Back to shared, as every holder has it.
    if (!lockShared(fd) || ::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::flock(fd, LOCK_SH | LOCK_NB) != 0) {
        ::close(fd);
        return Claim::heldElsewhere;
    }
    release(path); // a file since replaced under the name
    held_[path] = {fd, status.st_dev, status.st_ino};
    return Claim::taken;
}

void ShownFileLocks::release(const std::string& path) {
    if (const auto found = held_.find(path); found != held_.end()) {
        ::close(found->second.fd);
        held_.erase(found);
    }
}

void ShownFileLocks::hold(const std::vector<std::string>& paths) {
    std::map<std::string, Held> kept;
    bool tooMany = false;
    for (const std::string& path : paths) {
        if (kept.count(path) != 0) {
            continue;
        }
        struct stat now {};
        const auto found = held_.find(path);
        if (found != held_.end() && ::stat(path.c_str(), &now) == 0 && now.st_dev == found->second.device &&
            now.st_ino == found->second.inode) {
            kept.insert(held_.extract(found));
            continue;
        }
        if (kept.size() >= maxFiles) {
            tooMany = true;
            continue;
        }
        const int fd = openLockable(path, now);
        if (fd < 0) {
            continue;
        }
        if (!lockShared(fd)) {
            ::close(fd);
            continue;
        }
        kept[path] = {fd, now.st_dev, now.st_ino};
    }
    for (const auto& [path, held] : held_) {
        ::close(held.fd);
    }
    held_ = std::move(kept);
    if (tooMany) {
        log(QStringLiteral("more than %1 scripts shown: the others are not marked as shown here")
                .arg(maxFiles));
    }
}

bool ShownFileLocks::heldElsewhere(const std::string& path) {
    struct stat status {};
    const int fd = openLockable(path, status);
    if (fd < 0) {
        return false; // opening it says what is wrong
    }
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd); // and the lock of the check with it
    return held;
}

bool ShownFileLocks::heldAlsoElsewhere(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return false;
    }
    const auto own = std::find_if(held_.begin(), held_.end(), [&](const auto& held) {
        return held.second.device == status.st_dev && held.second.inode == status.st_ino;
    });
    if (own == held_.end()) {
        return heldElsewhere(path);
    }
    // Only a file no one else holds changes to exclusive; a change that fails gives up the shared
    // lock as well, which is taken again.
    const int fd = own->second.fd;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        (void)::flock(fd, LOCK_SH | LOCK_NB);
        return false;
    }
    const bool elsewhere = errno == EWOULDBLOCK;
    (void)lockShared(fd);
    return elsewhere;
}

SingleInstance::SingleInstance(const QString& name, QObject* parent)
    : QObject(parent)
    , path_(socketPath(name)) {
    if (path_.isEmpty()) {
        return;
    }
    const QByteArray encoded = QFile::encodeName(path_);
    const qsizetype slash = encoded.lastIndexOf('/');
    folderPath_ = slash > 0 ? encoded.left(slash) : QByteArray("/");
    name_ = encoded.mid(slash + 1);
    folder_ = ::open(folderPath_.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder_ < 0) {
        log(QStringLiteral("cannot open the folder of %1 (%2): running as a lone instance")
                .arg(path_, QString::fromLocal8Bit(std::strerror(errno))));
        path_.clear();
    }
}

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
    const QByteArray file = name_ + ".lock";
    if (lockFd_ < 0) {
        lockFd_ = ::openat(folder_, file.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    }
    if (lockFd_ < 0) {
        log(QStringLiteral("cannot open %1.lock (%2): not waiting for other starts")
                .arg(path_, QString::fromLocal8Bit(std::strerror(errno))));
        return;
    }
    const QDeadlineTimer deadline(lockTimeoutMs);
    while (::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || deadline.hasExpired()) {
            log(QStringLiteral("another start holds %1.lock: going on without waiting for it").arg(path_));
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
    const std::optional<sockaddr_un> address = socketAddress(folderPath_, folder_, name_);
    if (!address) {
        return false; // told when listening
    }
    switch (handTo(*address, paths, timeoutMs)) {
    case HandOver::taken:
        return true;
    case HandOver::nobody:
        return false;
    case HandOver::otherUser:
        log(QStringLiteral("%1 is held by another user: not handing anything over").arg(path_));
        return false;
    case HandOver::noAnswer:
        log(QStringLiteral("the running Cuewright at %1 did not answer within %2 ms: starting on its own")
                .arg(path_)
                .arg(timeoutMs));
        return false;
    }
    return false;
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
    // Lists handed on to the instance stood in for, one at a time and in order, away from `queue`
    // (a stopped instance keeps each waiting).
    dispatch::QueuePtr handingOn = dispatch::Queue::makeSerial("cuewright.single-instance.hand-on");
    // Files another copy shows, handed on to the instance stood in for once it answers; set
    // `stopping` ends the waits.
    dispatch::QueuePtr waiting = dispatch::Queue::makeSerial("cuewright.single-instance.waiting");
    std::atomic<bool> stopping{false};
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
    // One that has gone already (it waited for this one while it was stopped) has started on its
    // own and opened the files itself.
    const bool answered = ::send(connection, acknowledgement, sizeof acknowledgement - 1, MSG_NOSIGNAL) ==
                          static_cast<ssize_t>(sizeof acknowledgement - 1);
    drop(connection);
    if (!answered) {
        log(QStringLiteral(
                "a start at %1 stopped waiting before it was answered: not opening what it handed over")
                .arg(path));
        return;
    }
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

bool SingleInstance::listen(Handler handler, Holds holds) {
    handler_ = std::move(handler);
    holds_ = std::move(holds);
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
    const std::optional<sockaddr_un> socketFile = socketAddress(folderPath_, folder_, name_);
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
    const auto statusOf = [&](const QByteArray& name) {
        return ::fstatat(folder_, name.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0;
    };
    if (!bound && listener >= 0 && errno == EADDRINUSE && statusOf(name_) && S_ISSOCK(status.st_mode)) {
        // Nobody answered on it (handOff failed first). A crashed instance's socket goes; a living
        // one's is kept aside for when this one quits.
        if (someoneListens(address)) {
            displaced_ = asideName(name_);
            if (::renameat(folder_, name_.constData(), folder_, displaced_.constData()) == 0) {
                log(QStringLiteral(
                        "the Cuewright at %1 did not answer: standing in for it until this one quits")
                        .arg(path_));
            } else {
                displaced_.clear();
            }
        } else {
            ::unlinkat(folder_, name_.constData(), 0);
        }
        bound = bindTo();
    }
    if (!bound || ::fchmodat(folder_, name_.constData(), 0600, 0) != 0 ||
        ::listen(listener, SOMAXCONN) != 0 || !statusOf(name_)) {
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
            this, [this, paths] { received(paths); }, Qt::QueuedConnection);
    };
    listener_->accepting = dispatch::ReadSource::make(listener, listener_->queue);
    listener_->accepting->setEventHandler([listener = listener_.get()] { listener->acceptConnections(); });
    listener_->accepting->resume();
    return true;
}

void SingleInstance::received(const QStringList& paths) {
    if (displaced_.isEmpty() || !holds_) {
        if (handler_) {
            handler_(paths);
        }
        return;
    }
    // Standing in: what this one shows comes forward here; the rest belongs to the instance that
    // was here first, which may show it (a second window of it here could save over its own).
    QStringList kept;
    QStringList handedOn;
    for (const QString& path : paths) {
        (holds_(path) ? kept : handedOn) << path;
    }
    if (!kept.isEmpty() && handler_) {
        handler_(kept);
    }
    if (!kept.isEmpty() && handedOn.isEmpty()) {
        return;
    }
    const std::optional<sockaddr_un> address = socketAddress(folderPath_, folder_, displaced_);
    listener_->handingOn->async([this, address, handedOn, path = path_] {
        if (address && handTo(*address, handedOn, defaultTimeoutMs) == HandOver::taken) {
            log(QStringLiteral("handed on to the Cuewright this one stands in for at %1").arg(path));
            return;
        }
        // Still stopped, or gone: this one opens them, but for those another copy shows (see
        // shownElsewhere). The destructor waits for this task.
        QMetaObject::invokeMethod(
            this,
            [this, handedOn] {
                if (handler_) {
                    handOnFailed_ = true;
                    handler_(handedOn);
                    handOnFailed_ = false;
                }
            },
            Qt::QueuedConnection);
    });
}

bool SingleInstance::shownElsewhere(const std::string& path) {
    if (!ShownFileLocks::heldElsewhere(path)) {
        return false;
    }
    const QString given = QFile::decodeName(QByteArray::fromStdString(path));
    log(QStringLiteral("%1 is shown by another copy of Cuewright: not opened here").arg(given));
    if (displaced_.isEmpty() || !listener_) {
        tellShownElsewhere(given, true);
    } else {
        handOnWhenAnswered(given, handOnFailed_);
    }
    return true;
}

void SingleInstance::handOnWhenAnswered(const QString& path, bool tried) {
    const std::optional<sockaddr_un> address = socketAddress(folderPath_, folder_, displaced_);
    if (!address) {
        tellShownElsewhere(path, false);
        return;
    }
    Listener* listener = listener_.get();
    if (!tried) {
        // As lists are handed on: taken at once when that instance answers. The destructor waits
        // for this task.
        listener->handingOn->async([this, address = *address, path, socket = path_] {
            if (handTo(address, {path}, defaultTimeoutMs) == HandOver::taken) {
                log(QStringLiteral("handed %1 on to the Cuewright this one stands in for at %2")
                        .arg(path, socket));
                return;
            }
            QMetaObject::invokeMethod(
                this, [this, path] { handOnWhenAnswered(path, true); }, Qt::QueuedConnection);
        });
        return;
    }
    tellShownElsewhere(path, false);
    // The destructor sets `stopping` and waits for this task.
    listener->waiting->async([this, listener, address = *address, path, socket = path_] {
        // One connection at a time waits in the stopped copy's queue.
        while (!listener->stopping.load()) {
            if (handTo(address, {path}, defaultTimeoutMs, &listener->stopping) == HandOver::taken) {
                log(QStringLiteral("handed %1 on to the Cuewright at %2 once it answered").arg(path, socket));
                return;
            }
            if (listener->stopping.load()) {
                return;
            }
            if (!ShownFileLocks::heldElsewhere(QFile::encodeName(path).toStdString())) {
                // The copy that showed it has ended or closed it: it opens here after all.
                QMetaObject::invokeMethod(
                    this,
                    [this, path] {
                        if (handler_) {
                            handler_({path});
                        }
                    },
                    Qt::QueuedConnection);
                return;
            }
            for (int tick = 0; tick < 10 && !listener->stopping.load(); ++tick) {
                ::usleep(100000); // its socket is gone or full while it still shows the file
            }
        }
    });
}

void SingleInstance::tellShownElsewhere(const QString& path, bool answers) {
    const QString name = QFileInfo(path).fileName();
    untoldAnswers_ = untold_.isEmpty() ? answers : untoldAnswers_ && answers;
    if (!untold_.contains(name)) {
        untold_ << name;
    }
    if (untold_.size() > 1) {
        return; // the alert about to go up names it too
    }
    // Not inside the opening that asked: the files after it open meanwhile.
    QMetaObject::invokeMethod(
        this,
        [this] {
            QStringList quoted;
            for (const QString& name : std::exchange(untold_, {})) {
                quoted << QStringLiteral("\u201c%1\u201d").arg(name);
            }
            platform::Alert alert;
            const QString names = quoted.join(QStringLiteral(", "));
            alert.messageText =
                quoted.size() == 1
                    ? (untoldAnswers_ ? tr("%1 is open in another copy of Cuewright.")
                                      : tr("%1 is open in another copy of Cuewright that does not answer."))
                          .arg(names)
                    : (untoldAnswers_ ? tr("%1 are open in another copy of Cuewright.")
                                      : tr("%1 are open in another copy of Cuewright that does not answer."))
                          .arg(names);
            alert.informativeText =
                untoldAnswers_
                    ? tr("A script is open in one copy only, so that no window saves over another.")
                    : tr("A script is open in one copy only, so that no window saves over another. It "
                         "comes forward there when that copy answers again.");
            alert.buttons = {tr("OK")};
            alert.style = platform::Alert::Style::warning;
            platform::alertRunner().run(alert, nullptr);
        },
        Qt::QueuedConnection);
}

QByteArray SingleInstance::currentSocketFile() const {
    const auto isOurs = [this](const QByteArray& name) {
        struct stat status {};
        return ::fstatat(folder_, name.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
               status.st_dev == device_ && status.st_ino == inode_;
    };
    if (isOurs(name_)) {
        return name_;
    }
    // Set aside, under the name given it then or, handed down, under that of the one above.
    for (const QByteArray& name : displacedSockets(folder_, name_)) {
        if (isOurs(name)) {
            return name;
        }
    }
    return {};
}

bool SingleInstance::restoreDisplaced() const {
    const std::optional<sockaddr_un> address = socketAddress(folderPath_, folder_, name_);
    if (!address || someoneListens(*address)) {
        return false;
    }
    for (const QByteArray& name : displacedSockets(folder_, name_)) {
        struct stat status {};
        const std::optional<sockaddr_un> aside = socketAddress(folderPath_, folder_, name);
        if (!aside || ::fstatat(folder_, name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISSOCK(status.st_mode)) {
            continue;
        }
        if (!someoneListens(*aside)) {
            ::unlinkat(folder_, name.constData(), 0); // its instance ended while set aside, without a word
            continue;
        }
        if (::renameat(folder_, name.constData(), folder_, name_.constData()) == 0) {
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
    if (!displaced_.isEmpty() &&
        ::fstatat(folder_, displaced_.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISSOCK(status.st_mode)) {
        // One step, so that a start finds a socket at every moment. When this one's file has gone
        // (removed by hand), the place is taken only when free.
        const QByteArray place = !own.isEmpty() ? own
                                 : ::fstatat(folder_, name_.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0
                                     ? name_
                                     : QByteArray();
        if (!place.isEmpty() &&
            ::renameat(folder_, displaced_.constData(), folder_, place.constData()) == 0) {
            return;
        }
    }
    if (!own.isEmpty()) {
        ::unlinkat(folder_, own.constData(), 0);
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
        listener_->handingOn->sync([] {}); // a list being handed on, which reaches back to this
        listener_->stopping = true;
        listener_->waiting->sync([] {});
        ::close(listener_->fd);
        leavePlace();
    }
    if (lockFd_ >= 0) {
        ::close(lockFd_); // releases the lock when held
    }
    if (folder_ >= 0) {
        ::close(folder_);
    }
}

} // namespace cw

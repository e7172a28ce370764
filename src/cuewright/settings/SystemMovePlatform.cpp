#include "cuewright/settings/AppMover.h"

#include "base/Log.h"
#include "base/RegularFile.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <linux/loop.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <unistd.h>

namespace cw {

std::optional<QString> SystemMovePlatform::environment(const char* name) const {
    if (!qEnvironmentVariableIsSet(name))
        return std::nullopt;
    return qEnvironmentVariable(name);
}

QString SystemMovePlatform::executablePath() const {
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

QString SystemMovePlatform::resolvedPath(const QString& path) const {
    const QString resolved = QFileInfo(path).canonicalFilePath();
    return resolved.isEmpty() ? QDir::cleanPath(path) : resolved;
}

QString SystemMovePlatform::homeFolder() const {
    return QDir::homePath();
}

QStringList SystemMovePlatform::downloadsFolders() const {
    return QStandardPaths::standardLocations(QStandardPaths::DownloadLocation);
}

static bool canWrite(const QString& path) {
    return ::access(QFile::encodeName(path).constData(), W_OK) == 0;
}

ApplicationsFolder SystemMovePlatform::describeFolder(const QString& folder,
                                                      const QString& bundleName) const {
    ApplicationsFolder f;
    const QFileInfo info(folder);
    f.path = info.exists() ? info.canonicalFilePath() : folder;
    f.exists = info.isDir();
    if (f.exists) {
        f.holdsAppImage = !QDir(f.path).entryList({QStringLiteral("*.AppImage")}, QDir::Files).isEmpty();
        f.isWritable = canWrite(f.path);
    } else {
        QString parent = QFileInfo(folder).absolutePath();
        while (!QFileInfo(parent).exists() && parent != QStringLiteral("/"))
            parent = QFileInfo(parent).absolutePath();
        f.isWritable = canWrite(parent);
    }
    const QFileInfo dest(f.path + u'/' + bundleName);
    f.destinationExists = dest.exists() || dest.isSymLink();
    f.destinationWritable = f.destinationExists && canWrite(dest.filePath());
    return f;
}

MovePlatform::Answer SystemMovePlatform::askToMove(const MovePlan& plan) {
    QMessageBox box(QMessageBox::Question, QString(), plan.title);
    box.setInformativeText(plan.informativeText);
    QPushButton* move =
        box.addButton(QApplication::translate("AppMover", moveTexts::moveButton), QMessageBox::AcceptRole);
    QPushButton* stay = box.addButton(QApplication::translate("AppMover", moveTexts::doNotMoveButton),
                                      QMessageBox::RejectRole);
    box.setDefaultButton(move);
    box.setEscapeButton(stay);
    auto* suppress = new QCheckBox(QApplication::translate("AppMover", "Do not ask again"));
    box.setCheckBox(suppress);
    box.activateWindow();
    box.exec();
    // Gone without a button (the application quit under it): neither moved nor never asked again.
    if (box.clickedButton() == nullptr)
        return Answer{false, false};
    return Answer{box.clickedButton() == move, suppress->isChecked()};
}

void SystemMovePlatform::showFailure(const QString& title, const QString& reason) {
    QMessageBox box(QMessageBox::Critical, QString(), title);
    box.setTextFormat(Qt::PlainText);
    box.setInformativeText(reason);
    box.exec();
}

int SystemMovePlatform::run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(-1) || !process.waitForFinished(-1))
        return -1;
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

bool SystemMovePlatform::startDetached(const QString& program, const QStringList& arguments) {
    return QProcess::startDetached(program, arguments);
}

bool SystemMovePlatform::moveToTrash(const QString& path) {
    return QFile::moveToTrash(path);
}

bool SystemMovePlatform::remove(const QString& path, QString& error) {
    QFile file(path);
    if (file.remove())
        return true;
    error = file.errorString();
    return false;
}

// Writes all of `size` bytes, going on after interruptions.
static bool writeAll(int fd, const char* data, ssize_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

std::optional<QString> SystemMovePlatform::copyBeside(const QString& from, const QString& to,
                                                      QString& error) {
    const QString folder = QFileInfo(to).absolutePath();
    if (!QDir().mkpath(folder)) {
        error = QStringLiteral("cannot make the folder");
        return std::nullopt;
    }
    try {
        const base::RegularFile source =
            base::openRegularFile(QFile::encodeName(from).toStdString(), base::FinalLink::refuse);
        QByteArray name = QFile::encodeName(folder + QStringLiteral("/.") + QFileInfo(to).fileName() +
                                            QStringLiteral(".XXXXXX"));
        const int target = ::mkostemp(name.data(), O_CLOEXEC);
        if (target < 0) {
            error = QString::fromLocal8Bit(std::strerror(errno));
            return std::nullopt;
        }
        char buffer[64 * 1024];
        bool ok = true;
        for (;;) {
            const ssize_t n = ::read(source.fd(), buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                ok = n == 0;
                break;
            }
            if (!(ok = writeAll(target, buffer, n)))
                break;
        }
        ok = ok && ::fchmod(target, 0755) == 0 && ::fsync(target) == 0;
        if (!ok)
            error = QString::fromLocal8Bit(std::strerror(errno));
        ok = ::close(target) == 0 && ok;
        if (!ok) {
            ::unlink(name.constData());
            return std::nullopt;
        }
        return QFile::decodeName(name);
    } catch (const base::RegularFileError& refused) {
        error = QString::fromStdString(refused.what());
        return std::nullopt;
    }
}

bool SystemMovePlatform::rename(const QString& from, const QString& to, QString& error) {
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    error = QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

int SystemMovePlatform::runPrivileged(const QString& script, const QString& input) {
    std::optional<base::RegularFile> file;
    try {
        file.emplace(base::openRegularFile(QFile::encodeName(input).toStdString(), base::FinalLink::refuse));
    } catch (const base::RegularFileError& refused) {
        log(QString::fromStdString(refused.what()));
        return -1;
    }
    const QByteArray helper = QFile::encodeName(privilegedHelper);
    const QByteArray code = script.toUtf8();
    char* const argv[] = {const_cast<char*>(helper.constData()), const_cast<char*>("/bin/sh"),
                          const_cast<char*>("-c"), const_cast<char*>(code.constData()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, file->fd(), STDIN_FILENO);
    pid_t child = -1;
    const int spawned = ::posix_spawnp(&child, helper.constData(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return spawned == ENOENT ? AppMover::helperMissing : -1;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A field of /proc/self/mountinfo, with its octal escapes ("\040" for a space) undone.
static QString mountField(const QByteArray& field) {
    QByteArray out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int code = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out += static_cast<char>(code);
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return QFile::decodeName(out);
}

std::optional<MovePlatform::Mount> SystemMovePlatform::mountHolding(const QString& path) const {
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly))
        return std::nullopt;
    std::optional<Mount> best;
    for (const QByteArray& line : table.readAll().split('\n')) {
        // id parent major:minor root mount-point options [optional fields] - type source options
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype separator = fields.indexOf("-");
        if (fields.size() < 5 || separator < 6 || separator + 2 >= fields.size())
            continue;
        const QString point = mountField(fields[4]);
        const bool holds =
            path == point || path.startsWith(point == QStringLiteral("/") ? point : point + u'/');
        if (holds && (!best || point.size() >= best->point.size()))
            best = Mount{point, mountField(fields[separator + 2]), mountField(fields[separator + 1])};
    }
    return best;
}

std::optional<MovePlatform::FileId> SystemMovePlatform::fileId(const QString& path) const {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return FileId{quint64(info.st_dev), quint64(info.st_ino)};
}

// The children of this process, from every thread's list.
static QStringList childProcesses() {
    QStringList children;
    QDirIterator threads(QStringLiteral("/proc/self/task"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (threads.hasNext()) {
        QFile list(threads.next() + QStringLiteral("/children"));
        if (list.open(QIODevice::ReadOnly))
            children += QString::fromLatin1(list.readAll()).split(u' ', Qt::SkipEmptyParts);
    }
    return children;
}

std::vector<MovePlatform::FileId> SystemMovePlatform::imagesOfMount(const Mount& mount) const {
    const QByteArray source = QFile::encodeName(mount.source);
    if (mount.source.startsWith(QStringLiteral("/dev/loop"))) {
        const int fd = ::open(source.constData(), O_RDONLY | O_CLOEXEC);
        loop_info64 status{};
        const bool known = fd >= 0 && ::ioctl(fd, LOOP_GET_STATUS64, &status) == 0;
        if (fd >= 0)
            ::close(fd);
        if (known)
            return {FileId{quint64(status.lo_device), quint64(status.lo_inode)}};
        return {};
    }
    if (mount.type.startsWith(QStringLiteral("fuse"))) {
        // The server holds /dev/fuse and the image open; a child of ours is one we started.
        for (const QString& child : childProcesses()) {
            std::vector<FileId> files;
            bool servesFuse = false;
            QDirIterator descriptors(QStringLiteral("/proc/%1/fd").arg(child), QDir::Files | QDir::System);
            while (descriptors.hasNext()) {
                const QString descriptor = descriptors.next();
                if (QFileInfo(descriptor).symLinkTarget() == QStringLiteral("/dev/fuse")) {
                    servesFuse = true;
                    continue;
                }
                struct stat info {};
                if (::stat(QFile::encodeName(descriptor).constData(), &info) == 0 && S_ISREG(info.st_mode))
                    files.push_back(FileId{quint64(info.st_dev), quint64(info.st_ino)});
            }
            if (servesFuse)
                return files;
        }
    }
    struct stat info {};
    if (mount.source.startsWith(u'/') && ::stat(source.constData(), &info) == 0 && S_ISREG(info.st_mode))
        return {FileId{quint64(info.st_dev), quint64(info.st_ino)}};
    return {};
}

bool SystemMovePlatform::isRunning(const QString& path) const {
    const QByteArray wanted = "APPIMAGE=" + QFile::encodeName(path);
    QDirIterator processes(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (processes.hasNext()) {
        const QString dir = processes.next();
        bool isPid = false;
        const qint64 pid = QFileInfo(dir).fileName().toLongLong(&isPid);
        if (!isPid || pid == processId())
            continue;
        QFile environ(dir + QStringLiteral("/environ"));
        if (!environ.open(QIODevice::ReadOnly))
            continue;
        if (environ.readAll().split('\0').contains(wanted))
            return true;
    }
    return false;
}

qint64 SystemMovePlatform::processId() const {
    return QCoreApplication::applicationPid();
}

void SystemMovePlatform::log(const QString& line) {
    base::log(line.toStdString());
}

void SystemMovePlatform::exit(int status) {
    std::exit(status);
}

} // namespace cw

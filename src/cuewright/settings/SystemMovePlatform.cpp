#include "cuewright/settings/AppMover.h"

#include "base/Log.h"

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

#include <cstdlib>

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
    return Answer{box.clickedButton() == move, suppress->isChecked()};
}

void SystemMovePlatform::showFailure(const QString& title) {
    QMessageBox box(QMessageBox::Critical, QString(), title);
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

bool SystemMovePlatform::copy(const QString& from, const QString& to, QString& error) {
    if (!QDir().mkpath(QFileInfo(to).absolutePath())) {
        error = QStringLiteral("cannot make the folder");
        return false;
    }
    QFile source(from);
    if (!source.copy(to)) {
        error = source.errorString();
        return false;
    }
    QFile::setPermissions(to, QFile::permissions(to) | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
    return true;
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

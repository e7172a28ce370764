#include "cuewright/settings/MovePlan.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace cw {

static QString tr(const char* text) {
    return QCoreApplication::translate("AppMover", text);
}

static bool isBelow(const QString& path, const QString& folder) {
    if (folder.isEmpty())
        return false;
    const QString prefix = folder.endsWith(u'/') ? folder : folder + u'/';
    return path.startsWith(prefix);
}

static bool isInApplicationsFolder(const MoveFacts& facts) {
    const QString& path = *facts.bundlePath;
    if (isBelow(path, facts.home.path) || isBelow(path, facts.system.path))
        return true;
    return path.split(u'/', Qt::SkipEmptyParts).contains(QStringLiteral("Applications"));
}

MovePlan planMove(const MoveFacts& facts) {
    if (!facts.bundlePath || facts.bundlePath->isEmpty() || facts.suppressed || isInApplicationsFolder(facts))
        return {};
    const bool home = facts.home.exists && facts.home.holdsAppImage;
    const ApplicationsFolder& folder = home ? facts.home : facts.system;
    MovePlan plan;
    plan.kind = MovePlan::Kind::offer;
    plan.title = tr(home ? moveTexts::titleHome : moveTexts::title);
    plan.destinationFolder = folder.path;
    plan.destinationPath = folder.path + u'/' + QFileInfo(*facts.bundlePath).fileName();
    plan.needsAuthorization = !folder.isWritable || (folder.destinationExists && !folder.destinationWritable);
    plan.informativeText = tr(moveTexts::informative);
    if (plan.needsAuthorization) {
        plan.informativeText += u' ' + tr(moveTexts::authorizationNote);
    } else {
        for (const QString& downloads : facts.downloadsFolders) {
            if (isBelow(*facts.bundlePath, downloads)) {
                plan.informativeText += u' ' + tr(moveTexts::downloadsNote);
                break;
            }
        }
    }
    return plan;
}

QString shellQuoted(const QString& text) {
    QString quoted = text;
    quoted.replace(u'\'', QStringLiteral("'\\''"));
    return u'\'' + quoted + u'\'';
}

QString relaunchScript(qint64 pid, const QString& destinationPath) {
    const QString dest = shellQuoted(destinationPath);
    return QStringLiteral("while /bin/kill -0 %1 >/dev/null 2>&1; do /bin/sleep 0.1; done; %2")
        .arg(pid)
        .arg(dest);
}

QString relaunchCommand(qint64 pid, const QString& destinationPath) {
    return u'(' + relaunchScript(pid, destinationPath) + QStringLiteral(") &");
}

QString privilegedInstallScript(const QString& destinationFolder, const QString& destinationPath) {
    return QStringLiteral("[ -f /dev/stdin ] || exit 1; /bin/mkdir -p %2 || exit 1; "
                          "if [ -e %1 ] || [ -L %1 ]; then { [ -f %1 ] && [ ! -L %1 ]; } || exit 1; fi; "
                          "t=$(/bin/mktemp %2/.cuewright-install.XXXXXX) || exit 1; "
                          "if /bin/cat >\"$t\" && /bin/chown 0:0 \"$t\" && /bin/chmod 0755 \"$t\" && "
                          "/bin/mv -f -T \"$t\" %1; then exit 0; fi; /bin/rm -f \"$t\"; exit 1")
        .arg(shellQuoted(destinationPath), shellQuoted(destinationFolder));
}

} // namespace cw

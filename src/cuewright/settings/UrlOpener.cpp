#include "cuewright/settings/UrlOpener.h"

#include "platform/ui/AlertRunner.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <utility>

namespace cw {

UrlOpener::~UrlOpener() = default;

void DesktopUrlOpener::open(const QUrl& url, Done done) {
    if (!url.isValid()) {
        done(false);
        return;
    }
    const QString program = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (program.isEmpty()) {
        done(QDesktopServices::openUrl(url));
        return;
    }
    // Answers once: the exit status, a failed start, or the time that counts as handed on.
    // Outside the process's signals: the answer may run an alert's loop.
    auto pending = std::make_shared<Done>(std::move(done));
    const auto answer = [pending](bool taken) {
        if (Done once = std::exchange(*pending, nullptr)) {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [once = std::move(once), taken] { once(taken); },
                Qt::QueuedConnection);
        }
    };
    // Without a parent: it lives until xdg-open ends, and one still running when the application
    // quits is left to it (destroying a QProcess kills its process, and with it perhaps the
    // browser it started).
    auto* process = new QProcess;
    process->setProgram(program);
    process->setArguments({QString::fromUtf8(url.toEncoded())});
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    QObject::connect(process, &QProcess::finished, process,
                     [process, answer](int code, QProcess::ExitStatus status) {
                         answer(status == QProcess::NormalExit && code == 0);
                         process->deleteLater();
                     });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, answer](QProcess::ProcessError error) {
                         if (error == QProcess::FailedToStart) {
                             answer(false);
                             process->deleteLater();
                         }
                     });
    QTimer::singleShot(handedOnAfter_, process, [answer] { answer(true); });
    process->start();
}

static std::shared_ptr<UrlOpener>& installedOpener() {
    static std::shared_ptr<UrlOpener> opener = std::make_shared<DesktopUrlOpener>();
    return opener;
}

UrlOpener& urlOpener() {
    return *installedOpener();
}

std::shared_ptr<UrlOpener> setUrlOpener(std::shared_ptr<UrlOpener> opener) {
    auto previous = installedOpener();
    installedOpener() = opener ? std::move(opener) : std::make_shared<DesktopUrlOpener>();
    return previous;
}

void openOrSayWhy(const QUrl& url) {
    urlOpener().open(url, [url](bool taken) {
        if (!taken) {
            sayNotOpened(url);
        }
    });
}

void sayNotOpened(const QUrl& url) {
    const auto tr = [](const char* text) { return QCoreApplication::translate("UrlOpener", text); };
    platform::Alert alert;
    if (url.isLocalFile()) {
        alert.messageText = tr("No file manager showed the folder.");
        alert.informativeText = tr("Open this folder yourself:") + u'\n' + url.toLocalFile();
        platform::runModalSheet(alert);
        return;
    }
    const bool mail = url.scheme() == QLatin1String("mailto");
    alert.messageText = mail ? tr("No mail program took the message.") : tr("No web browser took the page.");
    alert.informativeText = mail ? tr("Write to this address yourself:") : tr("Open this address yourself:");
    alert.informativeText += u'\n' + (mail ? url.path(QUrl::FullyDecoded) : url.toString(QUrl::FullyEncoded));
    platform::runModalSheet(alert);
}

} // namespace cw

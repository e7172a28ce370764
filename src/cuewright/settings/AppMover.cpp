#include "cuewright/settings/AppMover.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QThread>

#include <algorithm>

namespace cw {

namespace {

bool moveInProgress = false;

// Clears the in-progress flag on every way out.
struct InProgress {
    InProgress() { moveInProgress = true; }
    ~InProgress() { moveInProgress = false; }
    InProgress(const InProgress&) = delete;
    InProgress& operator=(const InProgress&) = delete;
};

} // namespace

AppMover::AppMover(MovePlatform& platform, platform::Defaults& defaults)
    : platform_(platform)
    , defaults_(defaults) {}

bool AppMover::isMoveInProgress() {
    return moveInProgress;
}

std::optional<QString> AppMover::runningAppImage() const {
    const std::optional<QString> image = platform_.environment("APPIMAGE");
    const std::optional<QString> mount = platform_.environment("APPDIR");
    if (!image || image->isEmpty() || !mount || mount->trimmed().isEmpty())
        return std::nullopt;
    // Inherited from another AppImage (a terminal or an editor started from one), they name
    // that program, whose mount does not hold us; and a folder above our executable is no mount.
    const std::optional<MovePlatform::Mount> own = platform_.mountHolding(platform_.executablePath());
    if (!own || own->point != platform_.resolvedPath(*mount))
        return std::nullopt;
    // The mount is the image's own: the runtime names it after the image's file.
    const QString name = QFileInfo(*image).fileName();
    if (name.isEmpty() ||
        (own->type != QStringLiteral("fuse.") + name && QFileInfo(own->source).fileName() != name))
        return std::nullopt;
    // A name says little: another file of that name elsewhere must not be taken for the image.
    const std::optional<MovePlatform::FileId> file = platform_.fileId(*image);
    const std::vector<MovePlatform::FileId> images = platform_.imagesOfMount(*own);
    if (!file || std::find(images.begin(), images.end(), *file) == images.end())
        return std::nullopt;
    return image;
}

MoveFacts AppMover::gatherFacts() const {
    MoveFacts facts;
    facts.bundlePath = runningAppImage();
    if (!facts.bundlePath || facts.bundlePath->isEmpty())
        return facts;
    facts.suppressed = defaults_.boolForKey(suppressKey);
    const QString name = QFileInfo(*facts.bundlePath).fileName();
    facts.home = platform_.describeFolder(platform_.homeFolder() + QStringLiteral("/Applications"), name);
    facts.system = platform_.describeFolder(QString::fromLatin1(systemApplicationsFolder), name);
    facts.downloadsFolders = platform_.downloadsFolders();
    return facts;
}

AppMover::Outcome AppMover::fail(const QString& reason) {
    platform_.showFailure(QCoreApplication::translate("AppMover", moveTexts::failureTitle), reason);
    return Outcome::failed;
}

// Why the copy with administrator rights did not happen, from the helper's status.
static QString privilegedFailure(int status) {
    const auto tr = [](const char* text) { return QCoreApplication::translate("AppMover", text); };
    if (status == AppMover::helperMissing)
        return tr("pkexec, which asks for the administrator's password, is not installed (it comes with "
                  "polkit). Install it, or copy the AppImage into /opt/Applications yourself.");
    if (status == 127)
        return tr("pkexec could not get the administrator's consent: no authentication agent is running, "
                  "or the password was not accepted.");
    return tr("The copy with administrator rights failed (status %1).").arg(status);
}

AppMover::Outcome AppMover::offerMoveToApplicationsFolder() {
    const MoveFacts facts = gatherFacts();
    const MovePlan plan = planMove(facts);
    if (plan.kind == MovePlan::Kind::nothingToDo)
        return Outcome::nothingToDo;
    const InProgress inProgress;
    const MovePlatform::Answer answer = platform_.askToMove(plan);
    if (!answer.move) {
        if (answer.suppress)
            defaults_.set(suppressKey, true);
        return Outcome::declined;
    }
    platform_.log(QStringLiteral("INFO -- Moving myself to the Applications folder"));
    Outcome early = Outcome::failed;
    if (!install(facts, plan, early))
        return early;

    const QString& bundle = *facts.bundlePath;
    QString error;
    if (!platform_.remove(bundle, error)) {
        platform_.log(QStringLiteral("WARNING -- Could not delete '%1': %2").arg(bundle, error));
        if (!platform_.moveToTrash(bundle))
            platform_.log(QStringLiteral(
                "WARNING -- Could not delete application after moving it to Applications folder"));
    }
    platform_.startDetached(
        QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"), relaunchCommand(platform_.processId(), plan.destinationPath)});
    platform_.exit(0);
    return Outcome::moved;
}

// Puts the copy in place. False when the routine ends here; `early` then says how (a failure
// has shown its alert already).
bool AppMover::install(const MoveFacts& facts, const MovePlan& plan, Outcome& early) {
    const QString& bundle = *facts.bundlePath;
    const QString& dest = plan.destinationPath;
    // "$APPIMAGE" ending in "/" would make the destination the Applications folder itself.
    const bool isOneAppImage = !bundle.trimmed().isEmpty() && !dest.trimmed().isEmpty() &&
                               QFileInfo(dest).fileName().endsWith(QStringLiteral(".AppImage"));
    if (plan.needsAuthorization) {
        const auto authorizationFailed = [&](const QString& reason) {
            platform_.log(
                QStringLiteral("ERROR -- Could not copy myself to /Applications with authorization"));
            early = fail(reason);
            return false;
        };
        if (!isOneAppImage)
            return authorizationFailed({});
        const int status =
            platform_.runPrivileged(privilegedInstallScript(plan.destinationFolder, dest), bundle);
        if (status == authorizationDismissed) {
            platform_.log(QStringLiteral("INFO -- Not moving because user canceled authorization"));
            early = Outcome::cancelledAuthorization;
            return false;
        }
        if (status != 0)
            return authorizationFailed(privilegedFailure(status));
        return true;
    }
    if (!isOneAppImage) {
        platform_.log(QStringLiteral("ERROR -- Could not copy myself to %1").arg(dest));
        early = fail();
        return false;
    }
    const ApplicationsFolder& folder = plan.destinationFolder == facts.home.path ? facts.home : facts.system;
    if (folder.destinationExists) {
        if (platform_.isRunning(dest)) {
            platform_.log(QStringLiteral("INFO -- Switching to an already running version"));
            platform_.startDetached(dest, {});
            platform_.exit(0);
            early = Outcome::switchedToRunningCopy;
            return false;
        }
    }
    // The copy is made beside the destination first: what stands there is moved away only once
    // the copy is whole, and the copy takes its place in one rename.
    const auto copyFailed = [&](const QString& error) {
        platform_.log(QStringLiteral("ERROR -- Could not copy '%1' to '%2' (%3)").arg(bundle, dest, error));
        platform_.log(QStringLiteral("ERROR -- Could not copy myself to %1").arg(dest));
        early = fail();
        return false;
    };
    QString error;
    const std::optional<QString> staged = platform_.copyBeside(bundle, dest, error);
    if (!staged)
        return copyFailed(error);
    QString ignored;
    if (folder.destinationExists && !platform_.moveToTrash(dest)) {
        platform_.remove(*staged, ignored);
        platform_.log(QStringLiteral("ERROR -- Could not trash '%1'").arg(dest));
        early = fail();
        return false;
    }
    if (!platform_.rename(*staged, dest, error)) {
        platform_.remove(*staged, ignored);
        return copyFailed(error);
    }
    return true;
}

void AppMover::offerOnMainThread() {
    QCoreApplication* app = QCoreApplication::instance();
    const auto offer = [] {
        SystemMovePlatform platform;
        AppMover(platform).offerMoveToApplicationsFolder();
    };
    if (app && QThread::currentThread() != app->thread()) {
        QMetaObject::invokeMethod(app, offer, Qt::QueuedConnection);
        return;
    }
    offer();
}

} // namespace cw

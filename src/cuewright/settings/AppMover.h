// Carrying out the move offer: asking, installing (with pkexec when needed), relaunching.
#pragma once

#include "cuewright/settings/MovePlan.h"
#include "platform/defaults/Defaults.h"

#include <QString>
#include <QStringList>

#include <string_view>
#include <vector>

namespace cw {

// What the move needs of the machine; tests give a fake.
class MovePlatform {
public:
    virtual ~MovePlatform() = default;

    virtual std::optional<QString> environment(const char* name) const = 0;
    // This process's executable, links resolved.
    virtual QString executablePath() const = 0;
    // The path with links resolved when it exists; otherwise as given, cleaned.
    virtual QString resolvedPath(const QString& path) const = 0;
    virtual QString homeFolder() const = 0;
    // The mount that holds `path` (the one with the longest mount point above it), from
    // /proc/self/mountinfo; nullopt when none is found.
    struct Mount {
        QString point;  // links resolved
        QString source; // as the mount table says ("Cuewright.AppImage", a device, ...)
        QString type;   // "fuse.Cuewright.AppImage", "ext4", ...
    };
    virtual std::optional<Mount> mountHolding(const QString& path) const = 0;
    // A file as the machine knows it, whatever its name: its device and inode.
    struct FileId {
        quint64 device = 0;
        quint64 inode = 0;
        bool operator==(const FileId&) const = default;
    };
    // The file at `path`, links followed; nullopt when there is none.
    virtual std::optional<FileId> fileId(const QString& path) const = 0;
    // The image files `mount` is made from: a loop device's backing file; for a FUSE mount the
    // files its server holds open, when the server is a child of this process (the AppImage
    // runtime starts it before it becomes us); else a source that names a file. Empty when none
    // is known.
    virtual std::vector<FileId> imagesOfMount(const Mount& mount) const = 0;
    virtual QStringList downloadsFolders() const = 0;
    virtual ApplicationsFolder describeFolder(const QString& folder, const QString& bundleName) const = 0;

    struct Answer {
        bool move = false;
        bool suppress = false; // the "do not ask again" box was ticked
    };
    // The offer, modal; its first button moves, the second (Escape) declines.
    virtual Answer askToMove(const MovePlan& plan) = 0;
    // The failure's alert; `reason`, when not empty, says why below the title.
    virtual void showFailure(const QString& title, const QString& reason) = 0;

    // Runs a program and waits: its exit status, or -1 when it could not start or crashed.
    virtual int run(const QString& program, const QStringList& arguments) = 0;
    // Runs `script` with /bin/sh as root through the privileged helper (pkexec) and waits. Its
    // standard input is `input`, opened here with this user's rights and only when it is a
    // regular file that is no link. The helper's status (authorizationDismissed when the user
    // dismissed it), helperMissing when there is no such program, or -1 when `input` was refused
    // or the helper could not run.
    virtual int runPrivileged(const QString& script, const QString& input) = 0;
    virtual bool startDetached(const QString& program, const QStringList& arguments) = 0;
    virtual bool moveToTrash(const QString& path) = 0;
    // On failure `error` says why.
    virtual bool remove(const QString& path, QString& error) = 0;
    // Copies the regular file `from` (never through a link) into a new executable file in the
    // folder of `to` (made when missing) and returns that file's path; `to` itself is not touched.
    virtual std::optional<QString> copyBeside(const QString& from, const QString& to, QString& error) = 0;
    // Renames `from` over `to` in one step.
    virtual bool rename(const QString& from, const QString& to, QString& error) = 0;
    // Whether a running process was started from the AppImage at `path`.
    virtual bool isRunning(const QString& path) const = 0;
    virtual qint64 processId() const = 0;
    virtual void log(const QString& line) = 0;
    // Ends the process (the fake records it and returns).
    virtual void exit(int status) = 0;
};

// The machine itself: $APPIMAGE, QStandardPaths, pkexec, QFile::moveToTrash, /proc, base::log.
class SystemMovePlatform final : public MovePlatform {
public:
    std::optional<QString> environment(const char* name) const override;
    QString executablePath() const override;
    QString resolvedPath(const QString& path) const override;
    QString homeFolder() const override;
    std::optional<Mount> mountHolding(const QString& path) const override;
    std::optional<FileId> fileId(const QString& path) const override;
    std::vector<FileId> imagesOfMount(const Mount& mount) const override;
    QStringList downloadsFolders() const override;
    ApplicationsFolder describeFolder(const QString& folder, const QString& bundleName) const override;
    Answer askToMove(const MovePlan& plan) override;
    void showFailure(const QString& title, const QString& reason) override;
    int run(const QString& program, const QStringList& arguments) override;
    int runPrivileged(const QString& script, const QString& input) override;
    bool startDetached(const QString& program, const QStringList& arguments) override;
    bool moveToTrash(const QString& path) override;
    bool remove(const QString& path, QString& error) override;
    std::optional<QString> copyBeside(const QString& from, const QString& to, QString& error) override;
    bool rename(const QString& from, const QString& to, QString& error) override;
    bool isRunning(const QString& path) const override;
    qint64 processId() const override;
    void log(const QString& line) override;
    void exit(int status) override;

    // The program that runs a command as root after asking for authorisation (tests give one).
    QString privilegedHelper = QStringLiteral("pkexec");
};

// Offers, once per launch, to move a downloaded AppImage into ~/Applications or
// /opt/Applications. Returns at once when not run as an AppImage: the runtime exports
// $APPIMAGE and $APPDIR to everything started from the image, and anyone can set them, so they
// count only when $APPDIR is the very mount that holds this executable, that mount is named after
// $APPIMAGE, and $APPIMAGE is, by device and inode, the image that mount is made from. Main
// thread only.
class AppMover {
public:
    static constexpr std::string_view suppressKey = "moveToApplicationsFolderAlertSuppress";
    static constexpr const char* systemApplicationsFolder = "/opt/Applications";
    // pkexec's status when the user dismissed the authentication dialog.
    static constexpr int authorizationDismissed = 126;
    // runPrivileged()'s answer when the helper is not installed.
    static constexpr int helperMissing = -2;

    enum class Outcome {
        nothingToDo,
        declined,
        cancelledAuthorization,
        failed,
        moved,
        switchedToRunningCopy
    };

    AppMover(MovePlatform& platform, platform::Defaults& defaults = platform::Defaults::standard());

    MoveFacts gatherFacts() const;
    // The AppImage this process runs from, or nullopt (see the class comment).
    std::optional<QString> runningAppImage() const;
    // The whole routine. After `moved` and `switchedToRunningCopy` the platform was told to exit.
    Outcome offerMoveToApplicationsFolder();

    // For the shell: runs the routine on the main thread with the machine's platform (queued
    // there when called from another thread).
    static void offerOnMainThread();

    // Set while the routine is between deciding to offer and any way out.
    static bool isMoveInProgress();

private:
    bool install(const MoveFacts& facts, const MovePlan& plan, Outcome& early);
    Outcome fail(const QString& reason = {});

    MovePlatform& platform_;
    platform::Defaults& defaults_;
};

} // namespace cw

// The offer to move a downloaded AppImage into an Applications folder: what to offer, from facts.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace cw {

// One candidate Applications folder as the machine shows it.
struct ApplicationsFolder {
    QString path;
    bool exists = false;
    bool holdsAppImage = false; // at least one "*.AppImage" file in it
    // The folder can be written (for a missing folder: its nearest existing parent can).
    bool isWritable = false;
    // About the bundle's name inside the folder.
    bool destinationExists = false;
    bool destinationWritable = false;
};

// What the move offer works from, gathered before anything is shown.
struct MoveFacts {
    // The running bundle: the AppImage file ($APPIMAGE); absent when not run as an AppImage.
    std::optional<QString> bundlePath;
    bool suppressed = false;   // "moveToApplicationsFolderAlertSuppress"
    ApplicationsFolder home;   // ~/Applications
    ApplicationsFolder system; // /opt/Applications
    QStringList downloadsFolders;
};

struct MovePlan {
    enum class Kind { nothingToDo, offer };
    Kind kind = Kind::nothingToDo;
    QString title;
    QString informativeText;
    QString destinationFolder;
    QString destinationPath; // the folder plus the bundle's file name
    bool needsAuthorization = false;

    bool operator==(const MovePlan&) const = default;
};

// Texts of the offer.
namespace moveTexts {
inline constexpr const char* titleHome = "Move to Applications folder in your Home folder?";
inline constexpr const char* title = "Move to Applications folder?";
inline constexpr const char* informative = "I can move myself to the Applications folder if you'd like.";
inline constexpr const char* authorizationNote = "Note that this will require an administrator password.";
inline constexpr const char* downloadsNote = "This will keep your Downloads folder uncluttered.";
inline constexpr const char* moveButton = "Move to Applications Folder";
inline constexpr const char* doNotMoveButton = "Do Not Move";
inline constexpr const char* failureTitle = "Could not move to Applications folder";
} // namespace moveTexts

// Nothing to do without a bundle, when suppressed, or when the bundle already lies in an
// Applications folder (below one of the two, or with a path component "Applications").
// Otherwise the offer: into ~/Applications when it exists and holds an AppImage, else into
// /opt/Applications; authorisation when the folder or an existing destination is not writable.
MovePlan planMove(const MoveFacts& facts);

// The text in single quotes for /bin/sh, each "'" written as '\'' ("a'b" gives 'a'\''b').
QString shellQuoted(const QString& text);

// The shell script that waits for process `pid` to end and starts the moved copy; relaunchCommand
// runs it in the background. The copy is executable already (both ways of installing make it so),
// and after a system install it is root's: nothing here could change its mode.
QString relaunchScript(qint64 pid, const QString& destinationPath);
QString relaunchCommand(qint64 pid, const QString& destinationPath);

// The privileged installation as one shell script, run as root with the AppImage as its standard
// input (opened by the unprivileged side, links refused). It copies only from that descriptor and
// only when it is a regular file, into a new file that is made root's with mode 0755 and then
// renamed over the destination. Anything but a regular file in the destination's place (a folder,
// a link) is refused before anything is written: nothing is removed for a copy that then fails.
QString privilegedInstallScript(const QString& destinationFolder, const QString& destinationPath);

} // namespace cw

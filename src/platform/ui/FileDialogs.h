// Open and save panels, behind an interface that tests replace.
#pragma once

#include "platform/ui/AlertRunner.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace platform {

// A kind of file a save panel offers: its label and its extensions (without the dot).
struct FileType {
    QString label;
    QStringList extensions;
    friend bool operator==(const FileType&, const FileType&) = default;
};

struct OpenPanel {
    QString title;
    // Extensions without the dot; empty allows every file.
    QStringList allowedExtensions;
    QString directory;
    bool allowsMultipleSelection = false;
    // What the filter of those extensions is called ("Images"); "Documents" when empty.
    QString filterLabel;
    friend bool operator==(const OpenPanel&, const OpenPanel&) = default;
};

struct SavePanel {
    QString title;
    // The button that writes ("Save" when empty).
    QString acceptLabel;
    QString nameFieldValue;
    QString directory;
    // The choice of file types (a save panel's pop-up); empty allows any name.
    std::vector<FileType> fileTypes;
    int selectedFileType = 0;
    // Called while the panel runs whenever the reader picks another file type.
    std::function<void(int)> fileTypeChanged;
    // An alert that refuses the final path (the file system's bytes) before anything is asked
    // about it: shown, and the panel stays open for another name. None accepts the path.
    std::function<std::optional<Alert>(const std::string& path)> refusal;

    friend bool operator==(const SavePanel& a, const SavePanel& b) {
        return a.title == b.title && a.acceptLabel == b.acceptLabel && a.nameFieldValue == b.nameFieldValue &&
               a.directory == b.directory && a.fileTypes == b.fileTypes &&
               a.selectedFileType == b.selectedFileType;
    }
};

struct SaveChoice {
    QString path;
    // The file type chosen last in the panel (index into SavePanel::fileTypes).
    int fileType = 0;
    friend bool operator==(const SaveChoice&, const SaveChoice&) = default;
};

// Runs open and save panels modally. Main thread only; each call blocks its caller until the
// panel closes. A panel the application quits under (applicationQuitting()) chose nothing.
class FileDialogs {
public:
    virtual ~FileDialogs();

    // The chosen paths; empty when cancelled.
    virtual QStringList runOpenPanel(const OpenPanel& panel, QWidget* window) = 0;
    // The chosen path, which carries an extension of the chosen type; nullopt when cancelled.
    // When a file is at that path, the user agreed to replace it: replaceQuestion() was asked
    // about the path returned, not about the name as typed.
    virtual std::optional<SaveChoice> runSavePanel(const SavePanel& panel, QWidget* window) = 0;
};

// The panels of QFileDialog.
class QtFileDialogs : public FileDialogs {
public:
    QStringList runOpenPanel(const OpenPanel& panel, QWidget* window) override;
    std::optional<SaveChoice> runSavePanel(const SavePanel& panel, QWidget* window) override;
};

// The answer of replaceQuestion() that replaces the file (its second button; the first keeps it).
constexpr int alertReplaceReturn = alertFirstButtonReturn + 1;

// Whether the file at `path` has no write permission for its user, as a person reads its mode
// (0444 counts as read-only even for root, who could write it); false when nothing is there.
bool isReadOnlyFile(const std::string& path);
// The question before a file at `path` is replaced: "“a.cwr” is read-only. Replace it anyway?"
// for a read-only file, else "“a.cwr” already exists. Do you want to replace it?"; none when no
// file (or a folder) is there. Cancel comes first, so Return keeps the file.
std::optional<Alert> replaceQuestion(const std::string& path);
// The read-only question alone: none unless the file is read-only.
std::optional<Alert> readOnlyQuestion(const std::string& path);
// Runs the question, when there is one, through alertRunner(): true when there was none or the
// answer was Replace.
bool agreedToReplace(const std::optional<Alert>& question, QWidget* window);
// What a save panel does with the final path of a choice: false after showing the panel's
// refusal, or when the replace question was declined; true when the path may be written.
bool acceptsSavePath(const SavePanel& panel, const QString& path, QWidget* window);

// "Label (*.a *.b)"; with no extensions every file: "Label (*)".
QString nameFilter(const QString& label, const QStringList& extensions);

// The path with the first of the extensions appended, unless it already ends in one of them
// (compared without regard to case). No extensions leave the path as it is.
QString withExtension(const QString& path, const QStringList& extensions);

// What a save panel writes for the name `typed` while the type `chosen` is picked: a name that
// ends in an extension of one of the panel's types chooses that type ("out.docx" is a Word
// document whatever the pop-up shows); any other name gets the chosen type's first extension.
SaveChoice savePanelChoice(const SavePanel& panel, const QString& typed, int chosen);

// The file system's bytes of a path that came as text (a dialog's choice, a hand-over). A name that
// is not UTF-8 cannot be spelled in a QString and comes back with U+FFFD in it; each part that is
// not there as spelled is taken to be the one entry of its folder that shows as that text. A part
// that matches nothing, or more than one entry, stays as spelled (a new file to save, say).
std::string fileSystemPath(const QString& path);

// A path as people read it: bytes that are not UTF-8 show as U+FFFD.
QString displayPath(const std::string& path);

// The dialogs the application uses: QtFileDialogs unless others were installed.
FileDialogs& fileDialogs();
// Installs the dialogs fileDialogs() returns (tests install a fake); null restores the default.
// Returns the previous ones.
std::shared_ptr<FileDialogs> setFileDialogs(std::shared_ptr<FileDialogs> dialogs);

} // namespace platform

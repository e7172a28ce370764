#include "platform/ui/FileDialogs.h"

#include "platform/ui/Appearance.h"

#include "dispatch/MainThreadChecker.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

namespace platform {

FileDialogs::~FileDialogs() = default;

QString nameFilter(const QString& label, const QStringList& extensions) {
    if (extensions.isEmpty()) {
        return label + QStringLiteral(" (*)");
    }
    QStringList patterns;
    for (const QString& extension : extensions) {
        patterns << QStringLiteral("*.") + extension;
    }
    return label + QStringLiteral(" (") + patterns.join(' ') + QStringLiteral(")");
}

QString withExtension(const QString& path, const QStringList& extensions) {
    if (extensions.isEmpty() || path.isEmpty()) {
        return path;
    }
    const QString suffix = QFileInfo(path).suffix();
    if (!suffix.isEmpty() && extensions.contains(suffix, Qt::CaseInsensitive)) {
        return path;
    }
    return path + QStringLiteral(".") + extensions.front();
}

SaveChoice savePanelChoice(const SavePanel& panel, const QString& typed, int chosen) {
    const QString suffix = QFileInfo(typed).suffix();
    for (std::size_t i = 0; !suffix.isEmpty() && i < panel.fileTypes.size(); ++i) {
        if (panel.fileTypes[i].extensions.contains(suffix, Qt::CaseInsensitive)) {
            return SaveChoice{typed, static_cast<int>(i)};
        }
    }
    if (chosen < 0 || static_cast<std::size_t>(chosen) >= panel.fileTypes.size()) {
        return SaveChoice{typed, chosen};
    }
    return SaveChoice{withExtension(typed, panel.fileTypes[static_cast<std::size_t>(chosen)].extensions),
                      chosen};
}

bool isReadOnlyFile(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || S_ISDIR(status.st_mode)) {
        return false;
    }
    // The bits that apply to this user, not access(): root may write anything, yet a file its
    // owner made read-only is one a person means to keep.
    mode_t write = S_IWOTH;
    if (status.st_uid == ::geteuid()) {
        write = S_IWUSR;
    } else if (status.st_gid == ::getegid() || ::group_member(status.st_gid) != 0) {
        write = S_IWGRP;
    }
    return (status.st_mode & write) == 0;
}

static QString fileNameOf(const std::string& path) {
    return displayPath(std::filesystem::path(path).filename().string());
}

static Alert replaceAlert(QString message, QString information) {
    Alert alert;
    alert.messageText = std::move(message);
    alert.informativeText = std::move(information);
    alert.buttons = {QFileDialog::tr("Cancel"), QFileDialog::tr("Replace")};
    alert.style = Alert::Style::warning;
    return alert;
}

std::optional<Alert> readOnlyQuestion(const std::string& path) {
    if (!isReadOnlyFile(path)) {
        return std::nullopt;
    }
    return replaceAlert(
        QFileDialog::tr("\u201C%1\u201D is read-only. Replace it anyway?").arg(fileNameOf(path)),
        QFileDialog::tr("You don\u2019t have permission to change it. Replacing it puts a new file in "
                        "its place."));
}

std::optional<Alert> replaceQuestion(const std::string& path) {
    std::error_code error;
    const auto status = std::filesystem::symlink_status(path, error);
    if (error || !std::filesystem::exists(status) || std::filesystem::is_directory(path, error)) {
        return std::nullopt;
    }
    if (auto readOnly = readOnlyQuestion(path)) {
        return readOnly;
    }
    const std::string folder = std::filesystem::path(path).parent_path().filename().string();
    return replaceAlert(
        QFileDialog::tr("\u201C%1\u201D already exists. Do you want to replace it?").arg(fileNameOf(path)),
        QFileDialog::tr("A file with the same name already exists in \u201C%1\u201D. Replacing it will "
                        "overwrite its contents.")
            .arg(displayPath(folder)));
}

bool agreedToReplace(const std::optional<Alert>& question, QWidget* window) {
    return !question || alertRunner().run(*question, window) == alertReplaceReturn;
}

bool acceptsSavePath(const SavePanel& panel, const QString& path, QWidget* window) {
    const std::string bytes = fileSystemPath(path);
    if (panel.refusal) {
        if (const std::optional<Alert> refused = panel.refusal(bytes)) {
            alertRunner().run(*refused, window);
            return false;
        }
    }
    return agreedToReplace(replaceQuestion(bytes), window);
}

// The desktop's own dialog draws in the desktop's colours; with light or dark chosen, Qt's dialog
// is used, which follows the application's palette.
static void followAppearance(QFileDialog& dialog) {
    if (Appearance::shared().style() != AppearanceStyle::system) {
        dialog.setOption(QFileDialog::DontUseNativeDialog);
    }
}

QStringList QtFileDialogs::runOpenPanel(const OpenPanel& panel, QWidget* window) {
    CW_DCHECK_MAIN_THREAD();
    QFileDialog dialog(window, panel.title, panel.directory);
    followAppearance(dialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(panel.allowsMultipleSelection ? QFileDialog::ExistingFiles
                                                     : QFileDialog::ExistingFile);
    if (!panel.allowedExtensions.isEmpty()) {
        const QString label = panel.filterLabel.isEmpty() ? QFileDialog::tr("Documents") : panel.filterLabel;
        dialog.setNameFilter(nameFilter(label, panel.allowedExtensions));
    }
    // The application quitting under the panel (a signal) chooses nothing, as with alerts.
    if (dialog.exec() != QDialog::Accepted || applicationQuitting()) {
        return {};
    }
    return dialog.selectedFiles();
}

namespace {

// Asks about the file that will be written, the extension of the chosen type added, while the
// panel is still open, so that another name can be typed; Qt's own question would be about the
// name as typed.
class SaveDialog final : public QFileDialog {
public:
    SaveDialog(const SavePanel& panel, QWidget* parent, const QString& directory,
               std::function<QString(const QString&)> finalPath)
        : QFileDialog(parent, panel.title, directory)
        , panel_(panel)
        , finalPath_(std::move(finalPath)) {
        setOption(QFileDialog::DontConfirmOverwrite);
    }

    // The final path the user agreed to, asked about while the panel ran.
    const QString& agreed() const { return agreed_; }

protected:
    void accept() override {
        const QStringList files = selectedFiles();
        // A folder typed is entered, nothing typed is nothing chosen: the panel's own business.
        // The desktop's own panel has closed by now (this one is not the active window): it cannot
        // stay open, so the choice is asked about once exec() returns.
        if (!isActiveWindow() || files.isEmpty() || files.constFirst().isEmpty() ||
            QFileInfo(files.constFirst()).isDir()) {
            QFileDialog::accept();
            return;
        }
        const QString path = finalPath_(files.constFirst());
        if (!acceptsSavePath(panel_, path, this)) {
            return; // the panel stays for another name
        }
        agreed_ = path;
        QFileDialog::accept();
    }

private:
    const SavePanel& panel_;
    std::function<QString(const QString&)> finalPath_;
    QString agreed_;
};

} // namespace

std::optional<SaveChoice> QtFileDialogs::runSavePanel(const SavePanel& panel, QWidget* window) {
    CW_DCHECK_MAIN_THREAD();
    QStringList filters;
    for (const FileType& type : panel.fileTypes) {
        filters << nameFilter(type.label, type.extensions);
    }
    int chosen = panel.selectedFileType;
    if (chosen < 0 || chosen >= filters.size()) {
        chosen = 0;
    }
    const auto finalPath = [&](const QString& path) { return savePanelChoice(panel, path, chosen).path; };
    QString directory = panel.directory;
    QString name = panel.nameFieldValue;
    // Around again when the desktop's own panel (which asks nothing of ours) chose a path that is
    // refused or whose file is to be kept.
    for (;;) {
        SaveDialog dialog(panel, window, directory, finalPath);
        followAppearance(dialog);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        if (!panel.acceptLabel.isEmpty()) {
            dialog.setLabelText(QFileDialog::Accept, panel.acceptLabel);
        }
        if (!filters.isEmpty()) {
            dialog.setNameFilters(filters);
            dialog.selectNameFilter(filters[chosen]);
            QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString& filter) {
                const auto index = static_cast<int>(filters.indexOf(filter));
                if (index < 0 || index == chosen) {
                    return;
                }
                chosen = index;
                if (panel.fileTypeChanged) {
                    panel.fileTypeChanged(chosen);
                }
            });
        }
        if (!name.isEmpty()) {
            dialog.selectFile(name);
        }
        if (dialog.exec() != QDialog::Accepted || applicationQuitting() || dialog.selectedFiles().isEmpty()) {
            return std::nullopt;
        }
        const SaveChoice choice = savePanelChoice(panel, dialog.selectedFiles().constFirst(), chosen);
        if (choice.path == dialog.agreed() || acceptsSavePath(panel, choice.path, window)) {
            return choice;
        }
        directory = QFileInfo(choice.path).absolutePath();
        name = QFileInfo(choice.path).fileName();
    }
}

namespace {
std::shared_ptr<FileDialogs>& installedDialogs() {
    static std::shared_ptr<FileDialogs> dialogs;
    return dialogs;
}
} // namespace

FileDialogs& fileDialogs() {
    CW_DCHECK_MAIN_THREAD();
    if (!installedDialogs()) {
        installedDialogs() = std::make_shared<QtFileDialogs>();
    }
    return *installedDialogs();
}

std::shared_ptr<FileDialogs> setFileDialogs(std::shared_ptr<FileDialogs> dialogs) {
    CW_DCHECK_MAIN_THREAD();
    auto previous = std::move(installedDialogs());
    installedDialogs() = std::move(dialogs);
    return previous;
}

std::string fileSystemPath(const QString& path) {
    namespace fs = std::filesystem;
    const fs::path spelled(QFile::encodeName(path).toStdString());
    std::error_code error;
    if (fs::exists(fs::symlink_status(spelled, error))) {
        return spelled.string();
    }
    fs::path resolved;
    for (const fs::path& part : spelled) {
        const fs::path candidate = resolved / part;
        if (resolved.empty() || fs::exists(fs::symlink_status(candidate, error))) {
            resolved = candidate;
            continue;
        }
        const QString shown = QFile::decodeName(QByteArray::fromStdString(part.string()));
        std::optional<fs::path> match;
        int matches = 0;
        std::error_code listing;
        for (fs::directory_iterator it(resolved, listing), end; !listing && it != end;
             it.increment(listing)) {
            if (QFile::decodeName(QByteArray::fromStdString(it->path().filename().string())) == shown) {
                match = it->path();
                ++matches;
            }
        }
        resolved = matches == 1 ? *match : candidate;
    }
    return resolved.string();
}

QString displayPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

} // namespace platform

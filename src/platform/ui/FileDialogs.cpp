#include "platform/ui/FileDialogs.h"

#include "platform/ui/Appearance.h"

#include "dispatch/MainThreadChecker.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

#include <filesystem>

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
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    return dialog.selectedFiles();
}

std::optional<SaveChoice> QtFileDialogs::runSavePanel(const SavePanel& panel, QWidget* window) {
    CW_DCHECK_MAIN_THREAD();
    QFileDialog dialog(window, panel.title, panel.directory);
    followAppearance(dialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    QStringList filters;
    for (const FileType& type : panel.fileTypes) {
        filters << nameFilter(type.label, type.extensions);
    }
    int chosen = panel.selectedFileType;
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        if (chosen < 0 || chosen >= filters.size()) {
            chosen = 0;
        }
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
    if (!panel.nameFieldValue.isEmpty()) {
        dialog.selectFile(panel.nameFieldValue);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    QString path = dialog.selectedFiles().constFirst();
    if (!panel.fileTypes.empty()) {
        path = withExtension(path, panel.fileTypes[static_cast<std::size_t>(chosen)].extensions);
    }
    return SaveChoice{path, chosen};
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

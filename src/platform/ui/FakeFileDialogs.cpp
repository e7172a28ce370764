#include "platform/ui/FakeFileDialogs.h"

namespace platform {

QStringList FakeFileDialogs::runOpenPanel(const OpenPanel& panel, QWidget*) {
    openPanels_.push_back(panel);
    if (openAnswers_.empty()) {
        return {};
    }
    QStringList paths = std::move(openAnswers_.front());
    openAnswers_.pop_front();
    if (!panel.allowsMultipleSelection && paths.size() > 1) {
        paths = paths.mid(0, 1);
    }
    return paths;
}

std::optional<SaveChoice> FakeFileDialogs::runSavePanel(const SavePanel& panel, QWidget* window) {
    savePanels_.push_back(panel);
    int fileType = panel.selectedFileType;
    // As the real panel, which stays open for another name when the replace question is declined.
    while (!saveAnswers_.empty()) {
        const SaveAnswer answer = std::move(saveAnswers_.front());
        saveAnswers_.pop_front();
        if (answer.fileType && *answer.fileType != fileType) {
            fileType = *answer.fileType;
            if (panel.fileTypeChanged) {
                panel.fileTypeChanged(fileType);
            }
        }
        if (answer.cancelled) {
            return std::nullopt;
        }
        const SaveChoice choice = savePanelChoice(panel, answer.path, fileType);
        if (acceptsSavePath(panel, choice.path, window)) {
            return choice;
        }
    }
    return std::nullopt;
}

} // namespace platform

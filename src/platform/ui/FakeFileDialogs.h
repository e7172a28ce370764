// Open and save panels that answer from a script, for tests.
#pragma once

#include "platform/ui/FileDialogs.h"

#include <deque>
#include <vector>

namespace platform {

// Shows nothing. Each run records the panel and answers the next scripted answer of its kind;
// with none left it answers as if cancelled. A save answer goes through savePanelChoice() (a
// type's extension typed chooses that type) and acceptsSavePath() as in the real panel (the refusal, the
// replace question, through alertRunner()); refused or declined, the next answer is taken, as another name
// typed into the panel still open.
class FakeFileDialogs : public FileDialogs {
public:
    QStringList runOpenPanel(const OpenPanel& panel, QWidget* window) override;
    std::optional<SaveChoice> runSavePanel(const SavePanel& panel, QWidget* window) override;

    void answerOpen(QStringList paths) { openAnswers_.push_back(std::move(paths)); }
    void cancelOpen() { openAnswers_.emplace_back(); }

    // Answers a save panel with the path. When `fileType` is given and differs from the panel's
    // selection, the panel's fileTypeChanged is called with it first, as a reader picking
    // another type would.
    void answerSave(QString path, std::optional<int> fileType = std::nullopt) {
        saveAnswers_.push_back(SaveAnswer{std::move(path), fileType, false});
    }
    void cancelSave(std::optional<int> fileType = std::nullopt) {
        saveAnswers_.push_back(SaveAnswer{{}, fileType, true});
    }

    const std::vector<OpenPanel>& openPanels() const { return openPanels_; }
    const std::vector<SavePanel>& savePanels() const { return savePanels_; }

private:
    struct SaveAnswer {
        QString path;
        std::optional<int> fileType;
        bool cancelled = false;
    };
    std::deque<QStringList> openAnswers_;
    std::deque<SaveAnswer> saveAnswers_;
    std::vector<OpenPanel> openPanels_;
    std::vector<SavePanel> savePanels_;
};

} // namespace platform

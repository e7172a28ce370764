#include "cuewright/model/Workspace.h"

#include "cuewright/model/Project.h"
#include "cuewright/model/ProjectError.h"
#include "cuewright/model/ScreenManager.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/defaults/Defaults.h"

#include <QString>

#include <algorithm>
#include <filesystem>

namespace cw {

Workspace::Workspace()
    : Workspace(platform::Defaults::standard()) {}

Workspace::Workspace(platform::Defaults& defaults, std::shared_ptr<platform::ScreenProvider> screens)
    : defaults_(&defaults)
    , screens_(std::move(screens))
    , net_{nullptr, dispatch::Queue::makeSerial(std::string(netManagementQueueLabel))}
    , ble_{nullptr, dispatch::Queue::makeSerial(std::string(bleManagementQueueLabel))} {}

// The servers' start and stop tasks reach into the workspace from their queues: let the last of
// them finish before it goes.
Workspace::~Workspace() {
    net_.netManagementQueue->sync([] {});
    ble_.bleManagementQueue->sync([] {});
}

void Workspace::setActiveProject(std::shared_ptr<Project> project) {
    CW_DCHECK_MAIN_THREAD();
    activeProject_ = std::move(project);
}

std::shared_ptr<Project> Workspace::makeProject() const {
    return Project::create(*defaults_, screens_);
}

std::shared_ptr<Project> Workspace::newProject() {
    CW_DCHECK_MAIN_THREAD();
    auto project = makeProject();
    project->editor().screenManager->refreshAvailableScreens();
    projects_.push_back(project);
    return project;
}

std::string Workspace::fileExtension(const std::string& path) {
    std::filesystem::path name(path);
    // An RTFD package is a folder, and folders often come with a closing slash.
    while (!name.empty() && !name.has_filename() && name.has_relative_path()) {
        name = name.parent_path();
    }
    const std::string extension = name.extension().string();
    if (extension.size() < 2) {
        return {};
    }
    return QString::fromStdString(extension.substr(1)).toLower().toStdString();
}

std::shared_ptr<Project> Workspace::openProject(const std::string& path) {
    CW_DCHECK_MAIN_THREAD();
    auto project = makeProject();
    const std::string extension = fileExtension(path);
    if (extension == "cwr") {
        project->loadDocument(path);
    } else if (extension == "rtf" || extension == "rtfd") {
        project->importRichText(path);
    } else if (extension == "txt" || extension == "text") {
        project->importPlainText(path);
    } else if (extension == "docx") {
        project->importDOCX(path);
    } else if (extension == "doc") {
        project->importDOC(path);
    } else if (extension == "pdf") {
        project->importPDF(path);
    } else {
        throw ProjectError::fileTypeNotSupported(path);
    }
    project->editor().screenManager->refreshAvailableScreens();
    projects_.push_back(project);
    return project;
}

std::shared_ptr<Project> Workspace::openReadScript(const std::string& path, Document document,
                                                   std::optional<base::FileStamp> stamp,
                                                   const QString& readNotice) {
    CW_DCHECK_MAIN_THREAD();
    auto project = makeProject();
    project->takeReadDocument(path, std::move(document), stamp, readNotice);
    project->editor().screenManager->refreshAvailableScreens();
    projects_.push_back(project);
    return project;
}

std::shared_ptr<Project> Workspace::openImportedText(const platform::AttributedString& text,
                                                     const QString& readNotice) {
    CW_DCHECK_MAIN_THREAD();
    auto project = makeProject();
    project->importStyledText(text, readNotice);
    project->editor().screenManager->refreshAvailableScreens();
    projects_.push_back(project);
    return project;
}

void Workspace::closeProject(std::shared_ptr<Project> project) {
    CW_DCHECK_MAIN_THREAD();
    const auto found = std::find(projects_.begin(), projects_.end(), project);
    if (found == projects_.end()) {
        return;
    }
    project->pause();
    projects_.erase(found);
    if (activeProject_ == project) {
        activeProject_.reset();
    }
}

} // namespace cw

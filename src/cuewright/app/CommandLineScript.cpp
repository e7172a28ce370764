#include "cuewright/app/CommandLineScript.h"

#include "cuewright/model/Workspace.h"

namespace cw {

std::shared_ptr<Project> openCommandLineScript(Workspace& workspace, const QString& path) {
    auto project = workspace.openProject(path.toStdString());
    workspace.setActiveProject(project);
    return project;
}

} // namespace cw

// Opening the script named on Cuewright's command line.
#pragma once

#include <QString>

#include <memory>

namespace cw {

class Project;
class Workspace;

// Opens `path` as the workspace opens every file: a "cwr" script as it is, every other format
// through its reader and in the prompter's style. The project becomes the active one. Throws
// what Workspace::openProject throws (ProjectError::fileTypeNotSupported for a type no reader
// takes, the reader's error for a file it cannot read). Main thread.
std::shared_ptr<Project> openCommandLineScript(Workspace& workspace, const QString& path);

} // namespace cw

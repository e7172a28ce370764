#include "cuewright/model/ProjectError.h"

namespace cw {

static std::string describe(ProjectError::Kind kind, const std::string& argument) {
    switch (kind) {
    case ProjectError::Kind::fileTypeNotSupported:
        return "The file format of the document " + argument + " is not supported.";
    case ProjectError::Kind::generalSaveError:
        return "An error occured during saving: " + argument + ".";
    case ProjectError::Kind::generalLoadError:
        return "An error occured during loading: " + argument + ".";
    case ProjectError::Kind::versionNotSupported:
        return "The document version is not supported by Cuewright. Please update Cuewright to the newest "
               "version.";
    }
    return argument;
}

ProjectError::ProjectError(Kind kind, std::string argument)
    : kind_(kind)
    , argument_(std::move(argument))
    , description_(describe(kind_, argument_)) {}

} // namespace cw

#include "cuewright/model/ProjectError.h"

namespace cw {

static std::string describe(ProjectError::Kind kind, const std::string& detail) {
    // The texts are shown as they always were, spelling included.
    switch (kind) {
    case ProjectError::Kind::fileTypeNotSupported:
        return "The file format of the document " + detail + " is not supported.";
    case ProjectError::Kind::generalSaveError:
        return "An error occured during saving: " + detail + ".";
    case ProjectError::Kind::generalLoadError:
        return "An error occured during loading: " + detail + ".";
    case ProjectError::Kind::versionNotSupported:
        return "The document version is not supported by Cuewright. Please update Cuewright to the newest "
               "version.";
    }
    return {};
}

ProjectError::ProjectError(Kind kind, std::string detail)
    : kind_(kind)
    , detail_(std::move(detail))
    , description_(describe(kind_, detail_)) {}

} // namespace cw

#include "cuewright/model/ProjectError.h"

#include <filesystem>

#include <unistd.h>

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
    case ProjectError::Kind::couldNotOpen:
        return detail; // made whole by couldNotOpen()
    }
    return {};
}

ProjectError ProjectError::couldNotOpen(std::string path, std::string_view because) {
    ProjectError error(Kind::couldNotOpen, couldNotOpenText(path, because));
    error.detail_ = std::move(path);
    return error;
}

std::string couldNotOpenText(const std::string& path, std::string_view because) {
    std::string text = "The file \u201C" + std::filesystem::path(path).filename().string() +
                       "\u201D couldn\u2019t be opened";
    if (!because.empty()) {
        text += " because ";
        text += because;
    }
    return text + ".";
}

std::string unreadableBecause(const std::string& path) {
    std::error_code ignored;
    if (!std::filesystem::exists(path, ignored)) {
        return "there is no such file";
    }
    if (::access(path.c_str(), R_OK) != 0) {
        return "you don\u2019t have permission to view it";
    }
    // A pipe or a device named like a document is refused unread, and said so. A folder is left
    // to the caller: an RTFD package is one.
    const std::filesystem::file_type type = std::filesystem::status(path, ignored).type();
    if (type != std::filesystem::file_type::regular && type != std::filesystem::file_type::directory) {
        return std::string(notAFileReason);
    }
    return {};
}

ProjectError::ProjectError(Kind kind, std::string detail)
    : kind_(kind)
    , detail_(std::move(detail))
    , description_(describe(kind_, detail_)) {}

} // namespace cw

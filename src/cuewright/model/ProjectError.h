// The error of opening and saving scripts.
#pragma once

#include <exception>
#include <string>

namespace cw {

// what() is the description shown to the user.
class ProjectError : public std::exception {
public:
    enum class Kind { fileTypeNotSupported, generalSaveError, generalLoadError, versionNotSupported };

    static ProjectError fileTypeNotSupported(std::string path) {
        return ProjectError(Kind::fileTypeNotSupported, std::move(path));
    }
    static ProjectError generalSaveError(std::string message) {
        return ProjectError(Kind::generalSaveError, std::move(message));
    }
    static ProjectError generalLoadError(std::string message) {
        return ProjectError(Kind::generalLoadError, std::move(message));
    }
    static ProjectError versionNotSupported() { return ProjectError(Kind::versionNotSupported); }

    Kind kind() const { return kind_; }
    // The path or message the error was made with; empty for versionNotSupported.
    const std::string& detail() const { return detail_; }
    const std::string& description() const { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

    bool operator==(const ProjectError& other) const {
        return kind_ == other.kind_ && detail_ == other.detail_;
    }

private:
    explicit ProjectError(Kind kind, std::string detail = {});

    Kind kind_;
    std::string detail_;
    std::string description_;
};

} // namespace cw

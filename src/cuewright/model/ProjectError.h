// The errors of opening, saving and exporting a script.
#pragma once

#include <exception>
#include <string>

namespace cw {

// what() is the description shown to the user in the document error alert.
class ProjectError : public std::exception {
public:
    enum class Kind { fileTypeNotSupported, generalSaveError, generalLoadError, versionNotSupported };

    // "The file format of the document " + path + " is not supported."
    static ProjectError fileTypeNotSupported(std::string path) {
        return ProjectError(Kind::fileTypeNotSupported, std::move(path));
    }
    // "An error occured during saving: " + message + "."
    static ProjectError generalSaveError(std::string message) {
        return ProjectError(Kind::generalSaveError, std::move(message));
    }
    // "An error occured during loading: " + message + "."
    static ProjectError generalLoadError(std::string message) {
        return ProjectError(Kind::generalLoadError, std::move(message));
    }
    static ProjectError versionNotSupported() { return ProjectError(Kind::versionNotSupported, {}); }

    Kind kind() const { return kind_; }
    // The path or message the error was made with; empty for versionNotSupported.
    const std::string& argument() const { return argument_; }
    const std::string& description() const { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

    bool operator==(const ProjectError& other) const {
        return kind_ == other.kind_ && argument_ == other.argument_;
    }

private:
    ProjectError(Kind kind, std::string argument);

    Kind kind_;
    std::string argument_;
    std::string description_;
};

} // namespace cw

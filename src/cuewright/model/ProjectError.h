// The error of opening and saving scripts.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace cw {

// what() is the description shown to the user.
class ProjectError : public std::exception {
public:
    enum class Kind {
        fileTypeNotSupported,
        generalSaveError,
        generalLoadError,
        versionNotSupported,
        couldNotOpen
    };

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
    // A file that cannot be read as a script, told by its name and `because` (couldNotOpenText);
    // detail() is the path.
    static ProjectError couldNotOpen(std::string path, std::string_view because);

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

// "The file “name” couldn’t be opened because <because>.", or without a reason when `because` is
// empty: how a file that cannot be opened is named to the user, whichever reader tried it.
std::string couldNotOpenText(const std::string& path, std::string_view because);

// Why the system refuses to read `path` right now ("there is no such file", "you don’t have
// permission to view it", "it is not a file" for a pipe or a device); empty when it does not.
std::string unreadableBecause(const std::string& path);
inline constexpr std::string_view notAFileReason = "it is not a file";

} // namespace cw

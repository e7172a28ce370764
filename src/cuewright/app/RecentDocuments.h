// The list behind "Open Recent": paths of scripts the user opened or saved, kept in the settings.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {
class Defaults;
}

namespace cw {

// Most recent first, at most `capacity` paths, no path twice. A path whose file is out of reach
// stays (a stick or a share not mounted now may be later): only Clear Menu and the capacity drop
// paths. Stored under "RecentDocuments" as an array of strings; a path whose bytes are not UTF-8
// (which the settings file cannot hold) is stored as a "file://" URL with those bytes
// percent-encoded.
// `defaults` must outlive it. Main thread only.
class RecentDocuments {
public:
    static constexpr std::string_view key = "RecentDocuments";
    static constexpr std::size_t capacity = 10;

    explicit RecentDocuments(platform::Defaults& defaults);

    // Moves the path to the front (adding it when new) and trims the list to capacity.
    void note(const std::string& path);
    // Most recent first, those out of reach included.
    std::vector<std::string> paths() const;
    // Whether the file at `path` is there now.
    static bool isAvailable(const std::string& path);
    void clear();

private:
    std::vector<std::string> stored() const;
    void store(const std::vector<std::string>& paths);

    platform::Defaults& defaults_;
};

} // namespace cw

// The list behind "Open Recent": paths of scripts the user opened or saved, kept in the settings.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {
class Defaults;
}

namespace cw {

// Most recent first, at most `capacity` paths, no path twice. Paths whose files are gone are
// dropped when the list is read. Stored under "RecentDocuments" as an array of strings; a path
// whose bytes are not UTF-8 (which the settings file cannot hold) is stored as a "file://" URL
// with those bytes percent-encoded.
// `defaults` must outlive it. Main thread only.
class RecentDocuments {
public:
    static constexpr std::string_view key = "RecentDocuments";
    static constexpr std::size_t capacity = 10;

    explicit RecentDocuments(platform::Defaults& defaults);

    // Moves the path to the front (adding it when new) and trims the list to capacity.
    void note(const std::string& path);
    // The paths of files that still exist, most recent first; forgets the others.
    std::vector<std::string> paths();
    void clear();

private:
    std::vector<std::string> stored() const;
    void store(const std::vector<std::string>& paths);

    platform::Defaults& defaults_;
};

} // namespace cw

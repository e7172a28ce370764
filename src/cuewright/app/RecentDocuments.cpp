#include "cuewright/app/RecentDocuments.h"

#include "platform/defaults/Defaults.h"

#include "base/PathText.h"

#include <algorithm>
#include <filesystem>

namespace cw {

RecentDocuments::RecentDocuments(platform::Defaults& defaults)
    : defaults_(defaults) {}

std::vector<std::string> RecentDocuments::stored() const {
    std::vector<std::string> paths;
    if (const auto array = defaults_.arrayForKey(key)) {
        for (const platform::Value& value : *array) {
            if (const std::string* path = value.string(); path && !path->empty()) {
                paths.push_back(base::pathFromText(*path));
            }
        }
    }
    return paths;
}

void RecentDocuments::store(const std::vector<std::string>& paths) {
    platform::Array array;
    for (const std::string& path : paths) {
        array.emplace_back(base::pathAsText(path));
    }
    defaults_.set(key, platform::Value(std::move(array)));
}

void RecentDocuments::note(const std::string& path) {
    std::vector<std::string> paths = stored();
    std::erase(paths, path);
    paths.insert(paths.begin(), path);
    if (paths.size() > capacity) {
        paths.resize(capacity);
    }
    store(paths);
}

std::vector<std::string> RecentDocuments::paths() const {
    return stored();
}

bool RecentDocuments::isAvailable(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

void RecentDocuments::clear() {
    store({});
}

} // namespace cw

#include "cuewright/remote/SettingsStorage.h"

#include <nlohmann/json.hpp>

namespace cw {

MemorySettingsStorage::MemorySettingsStorage()
    : values_(std::make_unique<nlohmann::json>(nlohmann::json::object())) {}

MemorySettingsStorage::~MemorySettingsStorage() = default;

nlohmann::json MemorySettingsStorage::value(const std::string& key) const {
    const auto found = values_->find(key);
    return found == values_->end() ? nlohmann::json() : *found;
}

void MemorySettingsStorage::setValue(const std::string& key, const nlohmann::json& value) {
    (*values_)[key] = value;
}

void MemorySettingsStorage::postNotification(const std::string& name) {
    posted_.push_back(name);
}

namespace {

std::shared_ptr<SettingsStorage>& installedStorage() {
    static std::shared_ptr<SettingsStorage> storage = std::make_shared<MemorySettingsStorage>();
    return storage;
}

} // namespace

SettingsStorage& settingsStorage() {
    return *installedStorage();
}

void setSettingsStorage(std::shared_ptr<SettingsStorage> storage) {
    installedStorage() = storage ? std::move(storage) : std::make_shared<MemorySettingsStorage>();
}

} // namespace cw

// The little of the settings store and the notification centre that key bindings need.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include <memory>
#include <string>
#include <vector>

namespace cw {

// Values by key and named notifications. The application puts its defaults store behind this;
// tests use MemorySettingsStorage. Main thread only, like the settings it stands for.
class SettingsStorage {
public:
    virtual ~SettingsStorage() = default;

    // The stored value; null when the key has none.
    virtual nlohmann::json value(const std::string& key) const = 0;
    virtual void setValue(const std::string& key, const nlohmann::json& value) = 0;
    // Posts the notification without an object.
    virtual void postNotification(const std::string& name) = 0;
};

// Keeps values in memory and records the names it posted, in order.
class MemorySettingsStorage : public SettingsStorage {
public:
    MemorySettingsStorage();
    ~MemorySettingsStorage() override;

    nlohmann::json value(const std::string& key) const override;
    void setValue(const std::string& key, const nlohmann::json& value) override;
    void postNotification(const std::string& name) override;

    const std::vector<std::string>& postedNotifications() const { return posted_; }

private:
    std::unique_ptr<nlohmann::json> values_; // an object
    std::vector<std::string> posted_;
};

// The storage that KeyBindings::load() and save() use: a MemorySettingsStorage until the
// application installs its own. Installing null restores a fresh memory storage.
SettingsStorage& settingsStorage();
void setSettingsStorage(std::shared_ptr<SettingsStorage> storage);

} // namespace cw

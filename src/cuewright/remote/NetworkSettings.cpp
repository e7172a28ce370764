#include "cuewright/remote/NetworkSettings.h"

#include "cuewright/model/SettingsKeys.h"
#include "cuewright/model/UserDefaults.h"

namespace cw {

std::string NetworkSettings::computerName() {
    return RegistrationHost::current().localizedName;
}

std::string NetworkSettings::bonjourName(const platform::Defaults& defaults, const std::string& hostName) {
    const auto stored = defaults.stringForKey(settings::bonjourName);
    if (!stored) {
        return std::string(fallbackName);
    }
    if (!stored->empty()) {
        return *stored;
    }
    return hostName.empty() ? std::string(fallbackName) : hostName;
}

void NetworkSettings::setBonjourName(const std::string& name, platform::Defaults& defaults,
                                     platform::NotificationCenter& center, const std::string& hostName) {
    const std::string before = bonjourName(defaults, hostName);
    defaults.set(settings::bonjourName, name);
    if (name != before) {
        center.post(std::string(networkStateDidChange));
    }
}

bool NetworkSettings::isBonjourEnabled(const platform::Defaults& defaults) {
    return defaults.boolForKey(settings::isBonjourEnabled);
}

void NetworkSettings::setBonjourEnabled(bool enabled, platform::Defaults& defaults,
                                        platform::NotificationCenter& center) {
    const bool before = isBonjourEnabled(defaults);
    defaults.set(settings::isBonjourEnabled, enabled);
    if (enabled != before) {
        center.post(std::string(networkStateDidChange));
    }
}

std::optional<std::uint16_t> NetworkSettings::port(const platform::Defaults& defaults) {
    const std::int64_t port = defaults.integerForKey(settings::bonjourKey);
    if (port < 0 || port > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(port);
}

void NetworkSettings::setPort(std::uint16_t port, platform::Defaults& defaults,
                              platform::NotificationCenter& center) {
    const std::optional<std::uint16_t> before = NetworkSettings::port(defaults);
    defaults.set(settings::bonjourKey, int{port});
    if (before != port) {
        center.post(std::string(networkStateDidChange));
    }
}

} // namespace cw

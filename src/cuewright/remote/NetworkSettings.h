// The settings of the network remote control: the service name, the switch and the port.
#pragma once

#include "platform/defaults/Defaults.h"
#include "platform/defaults/NotificationCenter.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cw {

struct NetworkSettings {
    // Posted (no object) when the name, the port or the switch changed; the application then
    // starts or stops the servers.
    static constexpr std::string_view networkStateDidChange =
        "NetworkStateDidchange"; // sic: observers use it
    static constexpr std::string_view fallbackName = "Cuewright";

    // The service name: the setting "bonjourName"; "Cuewright" when absent; when empty, the
    // computer's name, else "Cuewright".
    static std::string bonjourName(const platform::Defaults& defaults = platform::Defaults::standard(),
                                   const std::string& hostName = computerName());
    // Stores the name and posts networkStateDidChange when it differs from the name in use before.
    static void
    setBonjourName(const std::string& name, platform::Defaults& defaults = platform::Defaults::standard(),
                   platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter(),
                   const std::string& hostName = computerName());
    static bool isBonjourEnabled(const platform::Defaults& defaults = platform::Defaults::standard());
    // Stores the switch and posts networkStateDidChange when it changed.
    static void
    setBonjourEnabled(bool enabled, platform::Defaults& defaults = platform::Defaults::standard(),
                      platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter());
    // The port of "bonjourKey"; nullopt when the stored number lies outside 0...65535.
    static std::optional<std::uint16_t>
    port(const platform::Defaults& defaults = platform::Defaults::standard());
    // Stores the port (0: any free one) and posts networkStateDidChange when it changed.
    static void setPort(std::uint16_t port, platform::Defaults& defaults,
                        platform::NotificationCenter& center);

    // The computer's name shown to people ("" when it has none).
    static std::string computerName();
};

} // namespace cw

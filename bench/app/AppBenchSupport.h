// What the application benchmarks share: a folder of the run's own, a settings store in it, an
// environment whose remote control starts nothing, and a process whose settings stay in that folder.
#pragma once

#include "cuewright/app/ApplicationController.h"
#include "cuewright/model/UserDefaults.h"
#include "platform/defaults/Defaults.h"
#include "platform/defaults/NotificationCenter.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include <unistd.h>

namespace appbench {

// Removed by the program's main at the end.
inline const std::filesystem::path& workDir() {
    static const std::filesystem::path dir = [] {
        const std::filesystem::path path =
            std::filesystem::temp_directory_path() /
            ("cuewright-" + std::string(program_invocation_short_name) + "-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        return path;
    }();
    return dir;
}

inline platform::Defaults& defaults() {
    static platform::Defaults* store = [] {
        auto* d = new platform::Defaults({workDir() / "defaults.json", std::chrono::hours(1), {}});
        cw::registerUserDefaults(*d);
        return d;
    }();
    return *store;
}

class NoServers final : public cw::RemoteServers {
public:
    void startNetworking() override {}
    void stopNetworking() override {}
    void startBluetooth() override {}
    void stopBluetooth() override {}
};

// An application over the run's settings, with no start window and no remote control.
inline cw::ApplicationEnvironment environment(platform::NotificationCenter& center) {
    cw::ApplicationEnvironment environment;
    environment.defaults = &defaults();
    environment.center = &center;
    environment.makeRemoteServers = [](cw::Workspace&) { return std::make_unique<NoServers>(); };
    environment.showsStartWindow = false;
    environment.buildInfo = cw::BuildInfo{};
    return environment;
}

// Offscreen unless told, and nothing of the run lands in the user's own settings.
inline void setUpProcess() {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("CUEWRIGHT_DEFAULTS_FILE", (workDir() / "standard-defaults.json").c_str(), 1);
    setenv("CUEWRIGHT_DATA_DIR", (workDir() / "data").c_str(), 1);
}

} // namespace appbench

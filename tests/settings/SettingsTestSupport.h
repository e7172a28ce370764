// A private settings store and notification centre for the settings tests, with a log of posts.
#pragma once

#include "cuewright/model/UserDefaults.h"
#include "platform/defaults/Defaults.h"
#include "platform/defaults/NotificationCenter.h"
#include "support/TempDir.h"

#include <QDir>
#include <QString>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace settingstest {

struct Store {
    testsupport::TempDir dir;
    platform::Defaults defaults{
        platform::Defaults::Options{dir / "defaults.json", std::chrono::hours(1), {}}};
    platform::NotificationCenter center;
    std::vector<std::string> posted;

    Store() {
        cw::RegistrationHost host;
        host.localizedName = "Studio Mac";
        cw::registerUserDefaults(defaults, host);
        center.addObserver("", [this](const platform::Notification& n) { posted.push_back(n.name); });
    }
    long count(std::string_view name) const { return std::count(posted.begin(), posted.end(), name); }
};

// A folder of the test output, "settings" unless named (made when missing).
inline QString screenshotFolder(const char* name = "settings") {
    const char* root = std::getenv("CW_TEST_OUTPUT_DIR");
    const QString folder = QString::fromUtf8(root && *root ? root : "build/debug/test-output") + '/' + name;
    QDir().mkpath(folder);
    return folder;
}

} // namespace settingstest

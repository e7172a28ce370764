// The settings a benchmark runs with: the app's registered defaults, in a folder of its own.
#pragma once

#include "cuewright/model/UserDefaults.h"
#include "platform/defaults/Defaults.h"

#include <QTemporaryDir>

#include <chrono>

namespace benchsupport {

// One store for the whole run, never destroyed, so no benchmark's teardown races its writes.
inline platform::Defaults& defaults() {
    using namespace std::chrono_literals;
    static QTemporaryDir* dir = new QTemporaryDir;
    static platform::Defaults* made = [] {
        auto* d = new platform::Defaults(platform::Defaults::Options{
            dir->filePath(QStringLiteral("defaults.json")).toStdString(), 1h, {}});
        cw::registerUserDefaults(*d);
        return d;
    }();
    return *made;
}

} // namespace benchsupport

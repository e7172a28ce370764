// Helpers of the display-database and screen-manager tests.
#pragma once

#include "cuewright/model/ApplicationSupport.h"

#include "support/TempDir.h"

#include <cstdlib>
#include <optional>
#include <string>

namespace screentests {

// Sets (or, with nullopt, unsets) an environment variable and restores it afterwards.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::string name, const std::optional<std::string>& value)
        : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str())) {
            old_ = old;
        }
        apply(value);
    }
    ~ScopedEnvironment() { apply(old_); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    void apply(const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name_.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name_.c_str());
        }
    }
    std::string name_;
    std::optional<std::string> old_;
};

// A fresh application-support folder for one test, so no test touches the user's files.
class ScopedSupportFolder {
public:
    ScopedSupportFolder()
        : env_(std::string(cw::applicationSupportVariable), (dir_ / "support").string()) {}

    std::filesystem::path folder() const { return dir_ / "support"; }
    std::filesystem::path databasePath() const { return folder() / "screens.db"; }
    const testsupport::TempDir& dir() const { return dir_; }

private:
    testsupport::TempDir dir_;
    ScopedEnvironment env_;
};

} // namespace screentests

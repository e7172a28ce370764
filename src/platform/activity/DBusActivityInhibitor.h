// The activity inhibitor over the session bus's org.freedesktop.ScreenSaver service.
#pragma once

#include "platform/activity/ActivityInhibitor.h"

#include <memory>
#include <string>

namespace platform {

// Keeps the screensaver and idle sleep away through org.freedesktop.ScreenSaver:
// Inhibit(application name, reason) when the first activity opens, UnInhibit(cookie) when the
// last one ends. One inhibition is held however many activities are open; its reason is that
// of the oldest open activity.
//
// The bus work runs on a serial queue of its own, so begin() and end() never wait for the bus.
// Without a bus, or without the service on it, the first failure is logged once and the
// activities are still counted; every later begin tries the bus again, silently.
//
// Destroying the inhibitor releases a held inhibition (the bus also drops it when the process
// goes away).
class DBusActivityInhibitor : public ActivityInhibitor {
public:
    static constexpr const char* serviceName = "org.freedesktop.ScreenSaver";
    static constexpr const char* objectPath = "/org/freedesktop/ScreenSaver";
    static constexpr const char* interfaceName = "org.freedesktop.ScreenSaver";

    // An empty bus address means the session bus; tests pass a private bus's address.
    explicit DBusActivityInhibitor(std::string busAddress = {}, std::string applicationName = "Cuewright");
    ~DBusActivityInhibitor() override;
    DBusActivityInhibitor(const DBusActivityInhibitor&) = delete;
    DBusActivityInhibitor& operator=(const DBusActivityInhibitor&) = delete;

    ActivityToken begin(const std::string& reason) override;
    void end(ActivityToken token) override;
    int openCount() const override;

    // Waits until the bus work asked for so far is done. For tests and shutdown.
    void flush();
    // Whether an inhibition is held on the bus now (after flush(): whether it should be).
    bool isInhibiting() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

} // namespace platform

// One project's view of the attached displays and their prompter settings.
#pragma once

#include "cuewright/model/ScreenDescription.h"
#include "platform/screens/ScreenProvider.h"

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace platform {
class Defaults;
}

namespace cw {

// Keeps one ScreenDescription per attached display, keyed by display UUID. Stored settings come
// from the display database when a display is first seen; every change is written back to it
// and reported to the delegate. The database is opened only for the length of one refresh or
// one update.
//
// Each project's Editor owns one manager; the project is its delegate. The delegate is held
// weakly: the project owns the manager through its editor, so a strong hold would keep every
// project alive for ever.
//
// Main thread only (checked in debug builds), like the windows and panes that call it.
class ScreenManager {
public:
    // The displays as Qt reports them and the application's settings store.
    ScreenManager();
    // Any source of displays (tests use a fake) and settings store; `defaults` must outlive the
    // manager.
    ScreenManager(std::shared_ptr<platform::ScreenProvider> provider, platform::Defaults& defaults);
    ~ScreenManager();
    ScreenManager(const ScreenManager&) = delete;
    ScreenManager& operator=(const ScreenManager&) = delete;

    std::weak_ptr<ScreenManagerDelegate> delegate() const { return delegate_; }
    void setDelegate(std::weak_ptr<ScreenManagerDelegate> delegate) { delegate_ = std::move(delegate); }

    // Exactly the displays found by the last refresh, plus any description stored by update
    // since. Empty until the first refresh.
    const std::map<std::string, ScreenDescription>& availableScreens() const { return availableScreens_; }

    // Rebuilds availableScreens from the attached displays, in the provider's order. A display
    // the manager already holds, or held before it was detached, keeps its description (name,
    // nickname, settings, active state) with only its resolution brought up to date: a display
    // switched on whose cable came loose is still on when it returns, as its prompter waits for
    // it. A new one takes its stored settings, or when none are stored (or the database cannot
    // be read) no flips, centred text and the normal prompter preset's show settings; it starts
    // inactive either way. Displays without a size are left out; detached ones disappear from
    // availableScreens. Never fails, logs nothing.
    void refreshAvailableScreens();

    // Stores the description under its display UUID (among the detached ones when its display
    // is detached), with the attached display's present size whatever size it carries, saves it in the
    // display database and tells the delegate. A failure to save is logged
    // ("error while updating screen description: " and the error's text); the description is kept in memory
    // and the delegate told anyway.
    void update(ScreenDescription screen);

    // The first attached display with the description's UUID; nullopt when it is detached.
    std::optional<platform::ScreenInfo> screenForDisplayUUID(const ScreenDescription& screen) const;

private:
    std::shared_ptr<platform::ScreenProvider> provider_;
    platform::Defaults* defaults_;
    std::weak_ptr<ScreenManagerDelegate> delegate_;
    std::map<std::string, ScreenDescription> availableScreens_;
    // The descriptions of displays the last refreshes no longer found.
    std::map<std::string, ScreenDescription> detached_;
};

} // namespace cw

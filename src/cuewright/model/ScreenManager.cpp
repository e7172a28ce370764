#include "cuewright/model/ScreenManager.h"

#include "base/Log.h"
#include "cuewright/model/ScreenDatabase.h"
#include "cuewright/model/SettingsKeys.h"
#include "dispatch/MainThreadChecker.h"
#include "dispatch/Queue.h"
#include "platform/defaults/Defaults.h"
#include "sql/Connection.h"

#include <exception>
#include <utility>
#include <vector>

namespace cw {

ScreenManager::ScreenManager()
    : ScreenManager(std::make_shared<platform::QtScreenProvider>(), platform::Defaults::standard()) {}

ScreenManager::ScreenManager(std::shared_ptr<platform::ScreenProvider> provider, platform::Defaults& defaults)
    : provider_(std::move(provider))
    , defaults_(&defaults) {}

ScreenManager::~ScreenManager() = default;

// The stored settings of a display; nullopt when none are stored or they cannot be read.
static std::optional<ScreenDescription> storedSettings(const ScreenDatabase& database,
                                                       const std::string& uuid) {
    if (!database.db) {
        return std::nullopt;
    }
    try {
        return database.load(uuid);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void ScreenManager::refreshAvailableScreens() {
    CW_DCHECK_MAIN_THREAD();
    ScreenDatabase database;
    try {
        database.db = sql::Connection::open(ScreenDatabase::path(), sql::Connection::Access::readOnly);
    } catch (const std::exception&) {
        // No file yet, or an unreadable one: every new display gets the defaults.
    }

    std::vector<ScreenDescription> found;
    for (const platform::ScreenInfo& info : provider_->screens()) {
        if (!info.size) {
            continue;
        }
        ScreenDescription screen;
        screen.name = info.productName.empty() ? std::string("Unknown") : info.productName;
        screen.resolutionWidth = info.size->width;
        screen.resolutionHeight = info.size->height;
        if (std::optional<ScreenDescription> stored = storedSettings(database, info.displayUUID)) {
            screen.nickname = stored->nickname;
            screen.displayUUID = stored->displayUUID;
            screen.flipH = stored->flipH;
            screen.flipV = stored->flipV;
            screen.showControls = stored->showControls;
            screen.showTimestamp = stored->showTimestamp;
            screen.showProgress = stored->showProgress;
            screen.textAlignment = stored->textAlignment;
        } else {
            screen.nickname.reset();
            screen.displayUUID = info.displayUUID;
            screen.flipH = false;
            screen.flipV = false;
            screen.textAlignment = TextAlignment::center;
            screen.showControls = defaults_->boolForKey(settings::showControlsInTeleprompterWindow);
            screen.showTimestamp = defaults_->boolForKey(settings::showTimestampInTeleprompterWindow);
            screen.showProgress = defaults_->boolForKey(settings::showProgressInPrompterWindow);
        }
        screen.isActive = false;
        found.push_back(std::move(screen));
    }
    database.db.reset();

    std::map<std::string, ScreenDescription> previous = std::exchange(availableScreens_, {});
    previous.merge(detached_); // those held now win over those held before a detach
    for (ScreenDescription& screen : found) {
        auto known = previous.find(screen.displayUUID);
        if (known == previous.end()) {
            availableScreens_.insert_or_assign(screen.displayUUID, std::move(screen));
            continue;
        }
        ScreenDescription kept = std::move(known->second);
        previous.erase(known);
        kept.resolutionWidth = screen.resolutionWidth;
        kept.resolutionHeight = screen.resolutionHeight;
        availableScreens_.insert_or_assign(screen.displayUUID, std::move(kept));
    }
    detached_ = std::move(previous);
}

// Takes a copy: the caller may pass a description held in the map, which the delegate may rebuild.
void ScreenManager::update(ScreenDescription screen) {
    CW_DCHECK_MAIN_THREAD();
    // The size is the display's, not the writer's: a window that kept a description from before
    // the display changed size would write the old one back.
    if (const std::optional<platform::ScreenInfo> attached =
            provider_->screenForDisplayUUID(screen.displayUUID);
        attached && attached->size) {
        screen.resolutionWidth = attached->size->width;
        screen.resolutionHeight = attached->size->height;
    }
    const bool detached =
        !availableScreens_.contains(screen.displayUUID) && detached_.contains(screen.displayUUID);
    (detached ? detached_ : availableScreens_).insert_or_assign(screen.displayUUID, screen);
    try {
        ScreenDatabase database(ScreenDatabase::openForUpdate());
        database.save(screen);
    } catch (const std::exception& error) {
        base::log(std::string("error while updating screen description: ") + error.what());
    }
    if (std::shared_ptr<ScreenManagerDelegate> delegate = delegate_.lock()) {
        delegate->screenManagerDidUpdateScreen(screen);
    }
}

std::optional<platform::ScreenInfo>
ScreenManager::screenForDisplayUUID(const ScreenDescription& screen) const {
    CW_DCHECK_MAIN_THREAD();
    return provider_->screenForDisplayUUID(screen.displayUUID);
}

} // namespace cw

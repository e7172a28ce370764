// The Updates pane: which version this is and how it gets updated.
#pragma once

#include "cuewright/settings/SettingsPane.h"
#include "cuewright/settings/Updater.h"

namespace cw {

// Reads and writes no setting. Main thread only.
class UpdateSettingsViewController : public SettingsPane {
    Q_OBJECT

public:
    explicit UpdateSettingsViewController(
        platform::Defaults& defaults = platform::Defaults::standard(),
        platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter(),
        QObject* parent = nullptr);

    // Changes nothing: there is nothing to reset.
    void resetToDefaults() {}
    void checkForUpdates();

protected:
    QWidget* makeView() override;
    void viewDidLoad() override { attachToView(); }

private:
    Updater updater_;
};

} // namespace cw

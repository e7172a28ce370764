// "Check for Updates…": this build does not update itself, and says so.
#pragma once

#include "platform/ui/AlertRunner.h"

#include <QString>

class QWidget;

namespace cw {

// Checks nothing: new versions come with the distribution's package or a new download. It never
// claims the copy is up to date. Main thread only.
class Updater {
public:
    // The background check at start-up: nothing to do.
    void checkForUpdatesInBackground() {}

    // Shows how this copy is updated, modal to `window` (null: to the application), through
    // platform::alertRunner(); its second button opens the web site. Returns the alert's answer.
    int checkForUpdates(QWidget* window = nullptr);

    static platform::Alert alert();
    // One paragraph for the Updates pane and the alert.
    static QString explanation();
};

} // namespace cw

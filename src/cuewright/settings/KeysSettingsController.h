// The Keys pane: a key well for each of the eleven transport actions, when they fire, and
// listening while another application is in front.
#pragma once

#include "cuewright/settings/KeyWellButton.h"
#include "cuewright/settings/SettingsPane.h"

#include <array>

class QCheckBox;
class QComboBox;
class QLabel;

namespace cw {

// Refuses a key that another well holds with the same modifiers (only the wells count, not the
// store), the standard editing keys (Ctrl+C, Ctrl+Z, ...), which the script editor keeps for
// editing, and a key a menu item has (see platform/ui/MenuKeys.h), naming the item, saying why
// under the wells. Every save stores the whole set through KeyBindings (keeping the stored
// set's name), the trigger and the background choice, and posts "KeyBindingsDidChange" and
// "BackgroundEventListeningDidChange", changed or not. Main thread only.
class KeysSettingsController : public SettingsPane, public KeyWellButtonDelegate {
    Q_OBJECT

public:
    explicit KeysSettingsController(
        platform::Defaults& defaults = platform::Defaults::standard(),
        platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter(),
        QObject* parent = nullptr);

    struct Controls {
        // In action order; the reset tag of wells[i] is i + 1.
        std::array<KeyWellButton*, KeyBindings::actionCount> wells{};
        QComboBox* actionTrigger = nullptr; // 0: when the key comes up, 1: when it goes down
        QCheckBox* backgroundEvents = nullptr;
        QLabel* refusal = nullptr; // why the last recorded key was refused
    };
    const Controls& controls() {
        view();
        return controls_;
    }

    void loadBindings();
    void saveBindings();
    // Clears the well of tag 1 to 11 (other tags clear nothing), then saves.
    void resetBinding(int tag);

    void viewDidAppear() override { loadBindings(); }
    void viewWillDisappear() override;

    bool keyWellButtonIsKeyAvailable(const KeyWellButton& well, std::uint16_t keyCode,
                                     platform::ModifierFlags modifiers) override;
    void keyWellButtonDidChange() override { saveBindings(); }

protected:
    QWidget* makeView() override;
    void viewDidLoad() override;

private:
    Controls controls_;
};

} // namespace cw

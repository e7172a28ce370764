// The General pane: start-up, appearance, the editor while prompting, speed unit, line steps,
// the prompter's wheel and clicks.
#pragma once

#include "cuewright/settings/SettingsPane.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QSlider;

namespace cw {

// Every control writes its key as soon as the user changes it. Appearing reloads every control
// (with their signals blocked, so loading writes nothing); disappearing writes the appearance,
// autospawn, manual scrolling, editor, unit and wheel settings again. The unit pop-up follows
// "ScrollingSpeedUnitDidChange" while the pane is in view. Main thread only.
class GeneralSettingsViewController : public SettingsPane {
    Q_OBJECT

public:
    explicit GeneralSettingsViewController(
        platform::Defaults& defaults = platform::Defaults::standard(),
        platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter(),
        QObject* parent = nullptr);

    // Sliders hold hundredths of their value (duration in seconds, sensitivity factor).
    static constexpr int sliderScale = 100;

    struct Controls {
        QComboBox* startupMode = nullptr;        // items tagged 1 to 3 (item data)
        QComboBox* userInterfaceStyle = nullptr; // items tagged 1 to 3
        QCheckBox* autospawn = nullptr;
        QCheckBox* lockEditor = nullptr;
        QCheckBox* syncEditorAndPrompter = nullptr;
        QCheckBox* autoscrollEditor = nullptr;
        QComboBox* scrollingSpeedUnit = nullptr; // by index
        QCheckBox* manualScroll = nullptr;
        QSlider* manualScrollDuration = nullptr;
        QLabel* manualScrollLabel = nullptr;
        QSlider* manualScrollLineCount = nullptr;
        QLabel* manualScrollLineCountLabel = nullptr;
        QCheckBox* invertScrollWheel = nullptr;
        QCheckBox* scrollWheelChangesSpeed = nullptr;
        QCheckBox* oneClickPrompting = nullptr;
        QSlider* speedSliderSensitivity = nullptr;
        QLabel* speedSliderSensitivityLabel = nullptr;
    };
    // The controls, made with the view.
    const Controls& controls() {
        view();
        return controls_;
    }

    void loadSettings();
    void viewDidAppear() override;
    void viewWillDisappear() override;

    // The actions; each reads its own controls.
    void saveStartupMode();
    void saveUIMode();
    void saveAutospawn();
    void saveEditorSettings();
    void saveScrollingSpeedUnitState();
    void saveManualScrollState();
    void saveManualScrollLineCount();
    void saveInvertScrollWheelState();
    void saveScrollWheelControlSpeed();
    void saveOneClickPromptingState();
    void saveSpeedSliderSensitivity();

    // The labels' texts for a stored value.
    static QString durationText(double seconds);
    static QString lineCountText(long long count);
    static QString sensitivityText(double factor);

protected:
    QWidget* makeView() override;
    void viewDidLoad() override;

private:
    void selectSpeedUnit();
    void updateManualScrollLabels();

    Controls controls_;
};

} // namespace cw

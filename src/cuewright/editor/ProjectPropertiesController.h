// The sidebar's Script pane: the look and the speed of one script.
#pragma once

#include "cuewright/model/ProjectEventListener.h"
#include "cuewright/model/ScrollingSpeedUnit.h"
#include "cuewright/model/SpeedProperties.h"
#include "platform/defaults/Defaults.h"
#include "platform/defaults/NotificationCenter.h"
#include "platform/ui/ActionRoute.h"
#include "platform/ui/ViewController.h"

#include <QPointer>
#include <QString>

#include <memory>
#include <string_view>

class QCheckBox;
class QFont;
class QLabel;
class QPushButton;
class QSlider;
class QSpinBox;
class QTimer;

namespace cw {
class Project;
}

namespace cw::controls {
class ActionableLabelDivider;
class ColorWell;
class PrompterColorWell;
class RangeSlider;
class TimeControl;
} // namespace cw::controls

namespace cw::editor {

class SegmentedControl;

// Shows and edits one script's colours, font, alignment, mirroring, margins, word-count factor,
// speed, speed range and running time. It keeps no values of its own: every user change goes
// through a Project setter, and the controls are refilled from the project when it calls back.
// Filling the controls never writes to the project.
//
// While the transport plays, refreshes are held back (a change made in this pane still shows at
// once); a one-second timer then follows only the speed, and the next stop refreshes everything.
// Speeds show in the unit stored under "defaulScrollingSpeedUnit"; clicking the speed header
// steps the unit forwards, a right click backwards.
//
// Held by std::shared_ptr (it registers itself with the project when its view loads, and
// unregisters when destroyed). Main thread only.
class ProjectPropertiesController : public platform::ViewController,
                                    public platform::ActionResponder,
                                    public ProjectEventListener,
                                    public std::enable_shared_from_this<ProjectPropertiesController> {
    Q_OBJECT

public:
    static constexpr double defaultSpeedPercent = 31.0;
    static constexpr double defaultMinSpeed = 0.1;
    static constexpr double defaultMaxSpeed = 3.0;
    static constexpr float defaultMargin = 0.1f;
    static constexpr float defaultMarginAlignment = 0.0f;
    static constexpr float defaultWordCountFactor = 0.5f;
    // Lines per second at the range slider's right end: what files are held to as well.
    static constexpr double rangeSliderMax = DocumentSpeedProperties::maxLinesPerSecond;

    // `defaults` and `center` must outlive the controller. A null project is a programming error.
    explicit ProjectPropertiesController(
        std::shared_ptr<Project> project, platform::Defaults& defaults = platform::Defaults::standard(),
        platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter());
    ~ProjectPropertiesController() override;

    Project& project() const { return *project_; }

    // The pane's controls, made with the view (null before).
    struct Controls {
        controls::PrompterColorWell* backgroundColorWell = nullptr;
        controls::ColorWell* textColorWell = nullptr;
        QPushButton* fontButton = nullptr;
        QCheckBox* flipHorizontalChecker = nullptr;
        QCheckBox* flipVerticalChecker = nullptr;
        QSlider* prompterMarginSlider = nullptr;          // margin x 100
        QSlider* prompterMarginAlignmentSlider = nullptr; // alignment -1...1 x 100
        QSlider* wordCountSlider = nullptr;               // factor x 100
        QLabel* wordsPerLineLabel = nullptr;
        QSlider* scrollSpeedSlider = nullptr; // percentage 0...100
        QLabel* scrollSpeedLinesPerSecLabel = nullptr;
        QLabel* scrollSpeedLinesPerSecMinLabel = nullptr;
        QLabel* scrollSpeedLinesPerSecMaxLabel = nullptr;
        controls::RangeSlider* speedRangeSlider = nullptr;
        QLabel* speedRangeSliderLabel = nullptr;
        QLabel* speedRangeSliderMinLabel = nullptr;
        QLabel* speedRangeSliderMaxLabel = nullptr;
        controls::ActionableLabelDivider* speedUnitLabelDivider = nullptr;
        controls::TimeControl* runtimePicker = nullptr;
        QSpinBox* runtimeStepper = nullptr;
        SegmentedControl* alignmentSelector = nullptr; // segments 0 left, 1 center, 2 right
    };
    const Controls& controls() const { return controls_; }

    // --- Actions (also reachable by name through performAction) ------------------------------
    void resetTextColor();
    void changeBackgroundColor();
    void resetBackgroundColor();
    void changeTextAlignment();
    void selectFont();
    // The font chosen in the font panel: its family and traits at the editor's line height.
    void changeFont(const QFont& chosen);
    void resetFont();
    // Flips, margin, margin alignment and word-count factor from their controls; from `control`
    // alone when it is one of them, so that a control left stale while refreshes waited during
    // playback cannot undo a change made elsewhere.
    void syncPropertiesToProject(const QObject* control = nullptr);
    void syncAllPropertiesToProject() { syncPropertiesToProject(); }
    void changeSpeed();
    void changeSpeedRange();
    void resetScrollSpeed();
    void resetPrompterMargin();
    void resetWordCountFactor();
    void changeRuntimeByStepper();
    void changeSpeedUnit();
    void changeSpeedUnitDown();
    // The playback timer's tick: follows speed changes made elsewhere while refreshes wait.
    void updateSpeedStats();
    void speedUnitDidChange();
    // The running-time picker finished an edit: the script is made to last that long.
    void runtimeDidEndEditing();

    void refreshFromProject();
    void updateSpeedUnitLabels();
    void refreshTypingAttributes();

    bool isSpeedTimerRunning() const;
    ScrollingSpeedUnit speedUnit() const;
    // A speed in lines per second shown in `unit`.
    double inUnit(double linesPerSecond, ScrollingSpeedUnit unit) const;

    // platform::ActionResponder
    bool respondsToAction(std::string_view action) const override;
    void performAction(std::string_view action, QObject* sender) override;

    // ProjectEventListener
    void projectTextDidChange(Project&) override { refreshFromProject(); }
    void projectScriptPropertiesDidChange(Project&) override { refreshFromProject(); }
    void projectSpeedDidChange(Project&) override { refreshFromProject(); }
    void projectDidStartPlayback(Project&) override;
    void projectDidStopPlayback(Project&) override;
    void projectTypingAttributesDidChange(Project&) override { refreshTypingAttributes(); }
    void projectLineCountDidChange(Project&) override;
    void projectAverageWordsPerLineDidChange(Project&) override;

protected:
    QWidget* makeView() override;
    void viewDidLoad() override;

private:
    void letNextUpdateThrough() { letNextProjectStateUpdateThrough_ = true; }
    void stepSpeedUnit(int step);
    void applyRuntime();
    // The project's running time in the picker, split into whole hours, minutes and seconds.
    void showRunningTime();
    QString fontTitle() const;

    std::shared_ptr<Project> project_;
    platform::Defaults* defaults_;
    platform::NotificationCenter* center_;
    Controls controls_;
    QTimer* updateSpeedTimer_;
    bool letNextProjectStateUpdateThrough_ = false;
    bool registered_ = false;
};

} // namespace cw::editor

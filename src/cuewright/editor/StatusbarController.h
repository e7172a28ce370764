// The strip along the bottom of the editor window: speed, times, current line and the transport.
#pragma once

#include "cuewright/model/ProjectEventListener.h"
#include "platform/ui/ActionRoute.h"
#include "platform/ui/ViewController.h"

#include <QColor>
#include <QString>
#include <QWidget>

#include <memory>
#include <string_view>

class QLabel;

namespace platform {
class Defaults;
class NotificationCenter;
} // namespace platform

namespace cw {
class Project;
}

namespace cw::controls {
class NormalSlider;
}

namespace cw::editor {

class TransportController;

// The strip's background: a gradient while its window is main, two hairlines along the top
// edge whenever it is in a window. Follows its window's focus and appearance.
class StatusbarView : public QWidget {
    Q_OBJECT

public:
    explicit StatusbarView(QWidget* parent = nullptr);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

// Reads the project's speed, line count, progress and words per line and shows them; writes only
// the speed, through the project's setter. The speed unit is the "defaulScrollingSpeedUnit"
// setting; clicking the speed read-out switches every open status bar to the next unit.
//
// Made with create(); shared and held weakly by the project, which it joins when its view loads
// and leaves when destroyed. Its view holds the TransportController's view. The settings store and
// the notification centre must outlive it. Main thread only.
class StatusbarController final : public platform::ViewController,
                                  public ProjectEventListener,
                                  public platform::ActionResponder,
                                  public std::enable_shared_from_this<StatusbarController> {
    Q_OBJECT
    struct PrivateTag {};

public:
    static constexpr std::string_view missingProjectMessage = "use init(project:) instead!";
    static constexpr std::string_view changeSpeedAction = "changeSpeed";

    // A null project stops the program with missingProjectMessage.
    static std::shared_ptr<StatusbarController> create(std::shared_ptr<Project> project);
    static std::shared_ptr<StatusbarController> create(std::shared_ptr<Project> project,
                                                       platform::Defaults& defaults,
                                                       platform::NotificationCenter& center);
    StatusbarController(PrivateTag, std::shared_ptr<Project> project, platform::Defaults& defaults,
                        platform::NotificationCenter& center);
    ~StatusbarController() override;

    // The parts of the view (made on first use).
    controls::NormalSlider& speedSlider();
    QLabel& scrollSpeedLabel();
    QLabel& scrollSpeedMinLabel();
    QLabel& scrollSpeedMaxLabel();
    QLabel& timestampLabel();
    QLabel& timeDividerLabel();
    QLabel& runtimeLabel();
    QLabel& lineCountLabel();
    QWidget& transportAnchorView();
    const std::shared_ptr<TransportController>& transportController() const { return transportController_; }

    // The slider's value × 100 becomes the project's speed within its unchanged range.
    void changeSpeed();
    // The next unit, wrapping from words per minute back to lines per second.
    void changeSpeedUnit();

    void updateTimeLabels();
    void updateLineCountLabel();
    void updateSpeedLabels(const Project& project);
    void updateLabelColors(const QColor& color);

    // ActionResponder
    bool respondsToAction(std::string_view action) const override { return action == changeSpeedAction; }
    void performAction(std::string_view, QObject*) override { changeSpeed(); }

    // ProjectEventListener
    void projectScriptPropertiesDidChange(Project&) override { updateTimeLabels(); }
    void projectSpeedDidChange(Project& project) override;
    void projectTransportStateDidChange(Project&) override;
    void projectPositionDidJump(Project&, bool, bool) override { updateTimeLabels(); }
    void projectLineCountDidChange(Project&) override;
    void projectAverageWordsPerLineDidChange(Project& project) override { updateSpeedLabels(project); }

protected:
    QWidget* makeView() override;
    void viewDidLoad() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Parts;
    Parts& parts();
    // The label colour in a main window, the secondary one elsewhere.
    void followWindowFocus();
    // Hides the least needed parts while the strip is narrower than its row.
    void fitToWidth();

    std::shared_ptr<Project> project_;
    platform::Defaults* defaults_;
    platform::NotificationCenter* center_;
    std::shared_ptr<TransportController> transportController_;
    std::unique_ptr<Parts> parts_;
    int cachedLine_ = -1;
    int cachedLineCount_ = -1;
};

} // namespace cw::editor

// The sidebar's Overlay pane: what is drawn over and behind one script's text.
#pragma once

#include "cuewright/model/ProjectEventListener.h"
#include "platform/defaults/Defaults.h"
#include "platform/ui/ActionRoute.h"
#include "platform/ui/ViewController.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QSlider;

namespace cw {
class Project;
}

namespace cw::editor {

// Edits the overlay (type, opacity), the reading indicator (type, size, colour, position), the
// reading line and the background image (picture, shown or not, opacity) of one script through
// Project::setScriptProperties. The overlay and indicator choices are also stored as the settings
// new scripts start with; the background image never is. Refills its controls whenever the
// script properties change, from wherever; filling them never writes to the project.
//
// Held by std::shared_ptr (it registers itself with the project when its view loads and
// unregisters when destroyed). Main thread only.
class OverlayController : public platform::ViewController,
                          public platform::ActionResponder,
                          public ProjectEventListener,
                          public std::enable_shared_from_this<OverlayController> {
    Q_OBJECT

public:
    using ImageData = std::optional<std::vector<std::uint8_t>>;

    // `defaults` must outlive the controller. A null project is a programming error.
    explicit OverlayController(std::shared_ptr<Project> project,
                               platform::Defaults& defaults = platform::Defaults::standard());
    ~OverlayController() override;

    Project& project() const { return *project_; }

    // The pane's controls, made with the view (null before). Pop-up item indexes are the
    // enumerations' menu indexes; sliders show fractions x 100.
    struct Controls {
        QComboBox* indicatorTypeButton = nullptr;
        QSlider* indicatorPositionSlider = nullptr;
        QComboBox* indicatorSizeButton = nullptr;
        QComboBox* indicatorColorButton = nullptr;
        QCheckBox* showReadinglineCheckbox = nullptr;
        QComboBox* overlayTypeButton = nullptr;
        QSlider* overlayAlphaSlider = nullptr;
        QLabel* backgroundImageView = nullptr;
        QCheckBox* showBackgroundImageChecker = nullptr;
        QSlider* backgroundImageOpacitySlider = nullptr;
    };
    const Controls& controls() const { return controls_; }
    // The picture the image view shows, as the encoded bytes the script stores.
    const ImageData& shownImage() const { return shownImage_; }
    // How many times the image view was given a picture (a refresh with the same one gives none).
    int imageAssignments() const { return imageAssignments_; }

    // --- Actions (also reachable by name through performAction) ------------------------------
    void adjustOverlayType();
    void adjustOverlayOpacity();
    void resetOverlay();
    void adjustIndicatorType();
    void adjustIndicatorSize();
    void adjustIndicatorColor();
    void adjustIndicatorPosition();
    void toggleReadingLine();
    void resetIndicator();
    void adjustShowBackgroundImage() { syncPropertiesFromControls(); }
    void adjustBackgroundImageOpacity() { syncPropertiesFromControls(); }
    // The image view was given a picture (dropped or chosen): it becomes the script's.
    void adjustBackgroundImage(ImageData image);
    void clearBackgroundImage();
    // Asks for an image file (platform::fileDialogs()); a file that is no readable image clears it.
    void selectBackgroundImageFromDisk();
    // The largest picture file taken in.
    static constexpr qint64 maxImageFileSize = qint64{64} << 20;
    // The file's bytes when it is a regular file of at most maxImageFileSize bytes that reads as
    // a picture, else none.
    static ImageData imageFromFile(const QString& path);

    void refreshFromProject();
    void syncPropertiesFromControls();

    // platform::ActionResponder
    bool respondsToAction(std::string_view action) const override;
    void performAction(std::string_view action, QObject* sender) override;

    // ProjectEventListener
    void projectScriptPropertiesDidChange(Project&) override { refreshFromProject(); }

protected:
    QWidget* makeView() override;
    void viewDidLoad() override;
    // Pictures dropped on the image view: image files, or image data.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showImage(const ImageData& image);

    std::shared_ptr<Project> project_;
    platform::Defaults* defaults_;
    Controls controls_;
    ImageData shownImage_;
    int imageAssignments_ = 0;
    bool registered_ = false;
};

} // namespace cw::editor

#include "cuewright/editor/OverlayController.h"

#include "cuewright/controls/LabelButton.h"
#include "cuewright/controls/LabeledDivider.h"
#include "cuewright/editor/SidebarPaneLayout.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/SettingsKeys.h"
#include "platform/text/BoundedFile.h"
#include "platform/ui/FileDialogs.h"

#include "base/EnumTable.h"
#include "base/Log.h"

#include <QBoxLayout>
#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QMimeData>
#include <QPixmap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QStandardPaths>

#include <array>
#include <cmath>
#include <string>

namespace cw::editor {

namespace {

using Pane = OverlayController;

constexpr std::array<PaneAction<Pane>, 14> actions{{
    {"adjustOverlayType:", &Pane::adjustOverlayType},
    {"adjustOverlayOpacity:", &Pane::adjustOverlayOpacity},
    {"resetOverlay:", &Pane::resetOverlay},
    {"adjustIndicatorType:", &Pane::adjustIndicatorType},
    {"adjustIndicatorSize:", &Pane::adjustIndicatorSize},
    {"adjustIndicatorColor:", &Pane::adjustIndicatorColor},
    {"adjustIndicatorPosition:", &Pane::adjustIndicatorPosition},
    {"toggleReadingLine:", &Pane::toggleReadingLine},
    {"resetIndicator:", &Pane::resetIndicator},
    {"adjustShowBackgroundImage:", &Pane::adjustShowBackgroundImage},
    {"adjustBackgroundImageOpacity:", &Pane::adjustBackgroundImageOpacity},
    {"clearBackgroundImage:", &Pane::clearBackgroundImage},
    {"selectBackgroundImageFromDisk:", &Pane::selectBackgroundImageFromDisk},
    {"syncPropertiesFromControls:", &Pane::syncPropertiesFromControls},
}};

constexpr float defaultIndicatorPosition = 0.65f;
constexpr int imageViewHeight = 96;

int percentOf(float fraction) {
    return int(std::lround(fraction * 100.0));
}

template <class E> E chosen(const QComboBox* button) {
    return base::fromMenuIndex<E>(button->currentIndex());
}

template <class E> std::string rawString(E value) {
    return std::string(base::rawValue(value));
}

QComboBox* popUp(const QStringList& titles, QWidget* parent) {
    auto* button = new QComboBox(parent);
    button->addItems(titles);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // The longest title may be elided rather than widen the sidebar.
    button->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    button->setMinimumContentsLength(8);
    return button;
}

QStringList imageExtensions() {
    QStringList extensions;
    for (const QByteArray& format : QImageReader::supportedImageFormats())
        extensions << QString::fromLatin1(format);
    return extensions;
}

} // namespace

OverlayController::OverlayController(std::shared_ptr<Project> project, platform::Defaults& defaults)
    : project_(std::move(project))
    , defaults_(&defaults) {
    if (!project_)
        base::fatal("use init(project:) instead!");
}

OverlayController::~OverlayController() {
    if (registered_)
        project_->unregisterEventListener(static_cast<const ProjectEventListener*>(this));
}

QWidget* OverlayController::makeView() {
    auto* pane = new QWidget;
    pane->setObjectName(QStringLiteral("OverlayController"));
    Controls& c = controls_;
    QBoxLayout* column = paneform::column(pane);
    const auto reset = [&](std::string_view action) { return paneform::resetButton(this, action, pane); };
    const auto connectSlider = [this](QSlider* slider, void (OverlayController::*action)()) {
        connect(slider, &QSlider::valueChanged, this, [this, action] { (this->*action)(); });
    };
    const auto connectPopUp = [this](QComboBox* button, void (OverlayController::*action)()) {
        connect(button, &QComboBox::activated, this, [this, action] { (this->*action)(); });
    };

    auto* const overlay = paneform::divider(tr("Overlay"), pane);
    paneform::addHeader(column, overlay, reset("resetOverlay:"));
    c.overlayTypeButton = popUp({tr("None"), tr("Fade Out"), tr("Highlight"), tr("Black Out"),
                                 tr("Black Out (3 Lines)"), tr("Expanse")},
                                pane);
    connectPopUp(c.overlayTypeButton, &OverlayController::adjustOverlayType);
    paneform::row(column, tr("Type"))->addWidget(c.overlayTypeButton);
    c.overlayAlphaSlider = paneform::slider(0, 100, pane);
    connectSlider(c.overlayAlphaSlider, &OverlayController::adjustOverlayOpacity);
    paneform::row(column, tr("Opacity"))->addWidget(c.overlayAlphaSlider);

    auto* const indicator = paneform::divider(tr("Reading Indicator"), pane);
    paneform::addHeader(column, indicator, reset("resetIndicator:"));
    c.indicatorTypeButton = popUp({tr("None"), tr("Arrow"), tr("Dot"), tr("Line")}, pane);
    connectPopUp(c.indicatorTypeButton, &OverlayController::adjustIndicatorType);
    paneform::row(column, tr("Shape"))->addWidget(c.indicatorTypeButton);
    c.indicatorSizeButton = popUp({tr("Small"), tr("Medium"), tr("Large")}, pane);
    connectPopUp(c.indicatorSizeButton, &OverlayController::adjustIndicatorSize);
    paneform::row(column, tr("Size"))->addWidget(c.indicatorSizeButton);
    c.indicatorColorButton = popUp(
        {tr("Green"), tr("White"), tr("Red"), tr("Yellow"), tr("Orange"), tr("Purple"), tr("Blue")}, pane);
    connectPopUp(c.indicatorColorButton, &OverlayController::adjustIndicatorColor);
    paneform::row(column, tr("Color"))->addWidget(c.indicatorColorButton);
    c.indicatorPositionSlider = paneform::slider(0, 100, pane);
    c.indicatorPositionSlider->setToolTip(tr("Height of the reading position, from the bottom"));
    connectSlider(c.indicatorPositionSlider, &OverlayController::adjustIndicatorPosition);
    paneform::row(column, tr("Position"))->addWidget(c.indicatorPositionSlider);
    c.showReadinglineCheckbox = new QCheckBox(tr("Show reading line"), pane);
    connect(c.showReadinglineCheckbox, &QCheckBox::clicked, this, [this] { toggleReadingLine(); });
    column->addWidget(c.showReadinglineCheckbox);

    paneform::addHeader(column, paneform::divider(tr("Background Image"), pane));
    c.backgroundImageView = new QLabel(pane);
    c.backgroundImageView->setFixedHeight(imageViewHeight);
    c.backgroundImageView->setAlignment(Qt::AlignCenter);
    c.backgroundImageView->setFrameShape(QFrame::StyledPanel);
    c.backgroundImageView->setForegroundRole(QPalette::PlaceholderText);
    c.backgroundImageView->setText(tr("No Image"));
    c.backgroundImageView->setToolTip(tr("Drop an image here, or choose one"));
    c.backgroundImageView->setAcceptDrops(true);
    c.backgroundImageView->installEventFilter(this);
    column->addWidget(c.backgroundImageView);
    auto* choose = new QPushButton(tr("Choose…"), pane);
    auto* clear = new QPushButton(tr("Clear"), pane);
    connect(choose, &QPushButton::clicked, this, [this] { selectBackgroundImageFromDisk(); });
    connect(clear, &QPushButton::clicked, this, [this] { clearBackgroundImage(); });
    QBoxLayout* r = paneform::row(column);
    r->addWidget(choose, 1);
    r->addWidget(clear, 1);
    c.showBackgroundImageChecker = new QCheckBox(tr("Show background image"), pane);
    connect(c.showBackgroundImageChecker, &QCheckBox::clicked, this, [this] { adjustShowBackgroundImage(); });
    column->addWidget(c.showBackgroundImageChecker);
    c.backgroundImageOpacitySlider = paneform::slider(0, 100, pane);
    connectSlider(c.backgroundImageOpacitySlider, &OverlayController::adjustBackgroundImageOpacity);
    paneform::row(column, tr("Opacity"))->addWidget(c.backgroundImageOpacitySlider);
    return pane;
}

void OverlayController::viewDidLoad() {
    project_->registerEventListener(shared_from_this());
    registered_ = true;
    refreshFromProject();
}

void OverlayController::refreshFromProject() {
    if (!isViewLoaded())
        return;
    const Controls& c = controls_;
    const Document::ScriptProperties& p = project_->document().scriptProperties;
    // Filling the controls is not a user's change: none of their signals may reach the project.
    const QSignalBlocker blockers[] = {
        QSignalBlocker(c.indicatorTypeButton),         QSignalBlocker(c.indicatorSizeButton),
        QSignalBlocker(c.indicatorColorButton),        QSignalBlocker(c.indicatorPositionSlider),
        QSignalBlocker(c.overlayTypeButton),           QSignalBlocker(c.overlayAlphaSlider),
        QSignalBlocker(c.showReadinglineCheckbox),     QSignalBlocker(c.showBackgroundImageChecker),
        QSignalBlocker(c.backgroundImageOpacitySlider)};
    c.indicatorTypeButton->setCurrentIndex(base::menuIndex(p.indicatorType));
    c.indicatorSizeButton->setCurrentIndex(base::menuIndex(p.indicatorSize));
    c.indicatorColorButton->setCurrentIndex(base::menuIndex(p.indicatorColor));
    c.indicatorPositionSlider->setValue(percentOf(p.indicatorPosition));
    c.overlayTypeButton->setCurrentIndex(base::menuIndex(p.overlayType));
    c.overlayAlphaSlider->setValue(percentOf(p.overlayOpacity));
    c.showReadinglineCheckbox->setChecked(p.showReadingLine);
    if (shownImage_ != p.backgroundImage)
        showImage(p.backgroundImage);
    c.showBackgroundImageChecker->setChecked(p.showBackgroundImage);
    c.backgroundImageOpacitySlider->setValue(percentOf(p.backgroundImageOpacity));
}

void OverlayController::showImage(const ImageData& image) {
    shownImage_ = image;
    ++imageAssignments_;
    QLabel* view = controls_.backgroundImageView;
    QImage picture;
    if (image)
        picture = QImage::fromData(image->data(), int(image->size()));
    if (picture.isNull()) {
        view->setPixmap(QPixmap());
        view->setText(image ? tr("Unreadable image") : tr("No Image"));
        return;
    }
    const QSize room(std::max(view->width(), 200) - 8, imageViewHeight - 8);
    view->setPixmap(QPixmap::fromImage(picture.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

void OverlayController::syncPropertiesFromControls() {
    if (!isViewLoaded())
        return;
    const Controls& c = controls_;
    Document::ScriptProperties p = project_->document().scriptProperties;
    p.backgroundImage = shownImage_;
    p.showBackgroundImage = c.showBackgroundImageChecker->isChecked();
    p.backgroundImageOpacity = float(c.backgroundImageOpacitySlider->value() / 100.0);
    p.indicatorType = chosen<IndicatorType>(c.indicatorTypeButton);
    p.indicatorSize = chosen<IndicatorSize>(c.indicatorSizeButton);
    p.indicatorColor = chosen<IndicatorColor>(c.indicatorColorButton);
    p.indicatorPosition = float(c.indicatorPositionSlider->value() / 100.0);
    p.showReadingLine = c.showReadinglineCheckbox->isChecked();
    p.overlayType = chosen<OverlayType>(c.overlayTypeButton);
    p.overlayOpacity = float(c.overlayAlphaSlider->value() / 100.0);
    project_->setScriptProperties(p);
}

// Each adjustment stores the value the project kept, read back after the change.

void OverlayController::adjustOverlayType() {
    syncPropertiesFromControls();
    defaults_->set(settings::defaultOverlayType,
                   rawString(project_->document().scriptProperties.overlayType));
}

void OverlayController::adjustOverlayOpacity() {
    syncPropertiesFromControls();
    defaults_->set(settings::defaultOverlayOpacity, project_->document().scriptProperties.overlayOpacity);
}

void OverlayController::resetOverlay() {
    Document::ScriptProperties p = project_->document().scriptProperties;
    p.overlayType = OverlayType::none;
    p.overlayOpacity = 1.0f;
    project_->setScriptProperties(p);
    defaults_->set(settings::defaultOverlayType, rawString(OverlayType::none));
    defaults_->set(settings::defaultOverlayOpacity, 1.0f);
    refreshFromProject();
}

void OverlayController::adjustIndicatorType() {
    syncPropertiesFromControls();
    defaults_->set(settings::defaultIndicatorType,
                   rawString(project_->document().scriptProperties.indicatorType));
}

void OverlayController::adjustIndicatorSize() {
    syncPropertiesFromControls();
    defaults_->set(settings::defaultIndicatorSize,
                   rawString(project_->document().scriptProperties.indicatorSize));
}

void OverlayController::adjustIndicatorColor() {
    syncPropertiesFromControls();
    defaults_->set(settings::defaultIndicatorColor,
                   rawString(project_->document().scriptProperties.indicatorColor));
}

void OverlayController::adjustIndicatorPosition() {
    syncPropertiesFromControls();
    defaults_->set(settings::defaultIndicatorPosition,
                   project_->document().scriptProperties.indicatorPosition);
}

void OverlayController::toggleReadingLine() {
    syncPropertiesFromControls();
    defaults_->set(settings::defaultShowReadingLine, project_->document().scriptProperties.showReadingLine);
}

void OverlayController::resetIndicator() {
    defaults_->set(settings::defaultIndicatorType, rawString(IndicatorType::arrow));
    defaults_->set(settings::defaultIndicatorSize, rawString(IndicatorSize::medium));
    defaults_->set(settings::defaultIndicatorColor, rawString(IndicatorColor::red));
    defaults_->set(settings::defaultIndicatorPosition, defaultIndicatorPosition);
    defaults_->set(settings::defaultShowReadingLine, false);
    Document::ScriptProperties p = project_->document().scriptProperties;
    p.indicatorType = IndicatorType::arrow;
    p.indicatorPosition = defaultIndicatorPosition;
    p.indicatorSize = IndicatorSize::medium;
    p.indicatorColor = IndicatorColor::red;
    p.showReadingLine = false;
    project_->setScriptProperties(p);
    refreshFromProject();
}

void OverlayController::adjustBackgroundImage(ImageData image) {
    if (!isViewLoaded())
        return;
    showImage(image);
    syncPropertiesFromControls();
}

void OverlayController::clearBackgroundImage() {
    Document::ScriptProperties p = project_->document().scriptProperties;
    p.backgroundImage.reset();
    project_->setScriptProperties(p);
}

void OverlayController::selectBackgroundImageFromDisk() {
    platform::OpenPanel panel;
    panel.title = tr("Choose a Background Image");
    panel.allowedExtensions = imageExtensions();
    panel.filterLabel = tr("Images");
    // The pictures folder the desktop names, else home: never the folder the program started in.
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    panel.directory = !pictures.isEmpty() && QFileInfo(pictures).isDir() ? pictures : QDir::homePath();
    const QStringList paths =
        platform::fileDialogs().runOpenPanel(panel, isViewLoaded() ? view()->window() : nullptr);
    if (paths.isEmpty())
        return;
    Document::ScriptProperties p = project_->document().scriptProperties;
    p.backgroundImage = imageFromFile(paths.front());
    project_->setScriptProperties(p);
}

OverlayController::ImageData OverlayController::imageFromFile(const QString& path) {
    // Kept as the file's own bytes, so the script stores the picture as it was made. A pipe or
    // device named like a picture is refused unread instead of holding the window.
    QByteArray bytes;
    try {
        bytes = platform::readBoundedFile(path, maxImageFileSize);
    } catch (const platform::BoundedFileError& error) {
        base::log(error.what());
        return std::nullopt;
    }
    if (QImage::fromData(bytes).isNull())
        return std::nullopt;
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

bool OverlayController::eventFilter(QObject* watched, QEvent* event) {
    if (!isViewLoaded() || watched != controls_.backgroundImageView)
        return false;
    const auto droppedFile = [](const QMimeData* data) {
        return data->hasUrls() && data->urls().front().isLocalFile() ? data->urls().front().toLocalFile()
                                                                     : QString();
    };
    if (event->type() == QEvent::DragEnter) {
        auto* enter = static_cast<QDragEnterEvent*>(event);
        if (!droppedFile(enter->mimeData()).isEmpty() || enter->mimeData()->hasImage())
            enter->acceptProposedAction();
        return true;
    }
    if (event->type() != QEvent::Drop)
        return false;
    auto* drop = static_cast<QDropEvent*>(event);
    const QString path = droppedFile(drop->mimeData());
    ImageData image;
    if (!path.isEmpty()) {
        image = imageFromFile(path);
    } else if (drop->mimeData()->hasImage()) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        qvariant_cast<QImage>(drop->mimeData()->imageData()).save(&buffer, "PNG");
        image = std::vector<std::uint8_t>(png.begin(), png.end());
    }
    if (image)
        adjustBackgroundImage(std::move(image));
    drop->acceptProposedAction();
    return true;
}

bool OverlayController::respondsToAction(std::string_view action) const {
    return findPaneAction(actions, action) != nullptr;
}

void OverlayController::performAction(std::string_view action, QObject*) {
    if (const auto* entry = findPaneAction(actions, action))
        (this->*entry->perform)();
}

} // namespace cw::editor

#include "cuewright/displays/ScreenInfoViewController.h"

#include "base/Log.h"
#include "dispatch/MainThreadChecker.h"
#include "platform/ui/Appearance.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>
#include <exception>

namespace cw {

namespace {

// The row's panel: a rounded box a little lighter (dark) or darker (light) than the sidebar.
class RowView final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const bool dark = platform::isDarkMode(this);
        painter.setPen(QPen(dark ? QColor(255, 255, 255, 28) : QColor(0, 0, 0, 30), 1));
        painter.setBrush(dark ? QColor(255, 255, 255, 14) : QColor(0, 0, 0, 10));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    }
};

// One segment of the alignment control: the chosen one filled with the accent colour, read from
// the palette at paint time so that it follows the appearance.
class SegmentButton final : public QToolButton {
public:
    using QToolButton::QToolButton;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QPalette& p = palette();
        const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        painter.setPen(p.color(QPalette::Mid));
        painter.setBrush(isChecked() ? p.color(QPalette::Highlight) : p.color(QPalette::Button));
        painter.drawRect(box);
        painter.setPen(p.color(isChecked() ? QPalette::HighlightedText : QPalette::ButtonText));
        painter.drawText(rect(), Qt::AlignCenter, text());
    }
};

bool isOn(const QCheckBox* box) {
    return box->checkState() == Qt::Checked; // a mixed state reads as off
}

void setOn(QCheckBox* box, bool on) {
    box->setCheckState(on ? Qt::Checked : Qt::Unchecked);
}

long long wholePoints(double value) {
    return std::isfinite(value) ? static_cast<long long>(std::trunc(value)) : 0;
}

} // namespace

ScreenInfoViewController::ScreenInfoViewController(ScreenDescription screenInfo,
                                                   ScreenIdentificator::Options identification,
                                                   QObject* parent)
    : platform::ViewController(parent)
    , desc_(std::move(screenInfo))
    , identification_(std::move(identification)) {}

ScreenInfoViewController::~ScreenInfoViewController() {
    if (screenNameLabel_) {
        screenNameLabel_->removeEventFilter(this); // the field's focus-out outlives this object
    }
    if (identificator_) {
        identificator_->stop();
    }
}

QString ScreenInfoViewController::resolutionText(double width, double height) {
    return QStringLiteral("%1 x %2").arg(wholePoints(width)).arg(wholePoints(height));
}

QWidget* ScreenInfoViewController::makeView() {
    auto* row = new RowView;
    row->setFixedHeight(rowHeight);
    row->setMinimumWidth(200);

    auto checkBox = [row](const QString& title, const QString& tip) {
        auto* box = new QCheckBox(title, row);
        box->setToolTip(tip);
        return box;
    };
    screenCheckbox_ = checkBox(QString(), tr("Show a full-screen prompter on this display"));
    screenCheckbox_->setAccessibleName(tr("Prompter on this display"));
    screenNameLabel_ = new QLineEdit(row);
    screenNameLabel_->setAccessibleName(tr("Display name"));
    screenNameLabel_->installEventFilter(this);
    resolutionLabel_ = new QLabel(row);
    resolutionLabel_->setForegroundRole(QPalette::PlaceholderText);

    auto* identify = new QToolButton(row);
    identify->setText(tr("Identify"));
    identify->setToolTip(tr("Show a blinking frame on this display"));
    identify->setCheckable(true);
    identify->setAutoRaise(false);
    identificatorButton_ = identify;

    alignmentSegment_ = new QButtonGroup(row);
    alignmentSegment_->setExclusive(true);
    auto* segments = new QHBoxLayout;
    segments->setSpacing(0);
    const QString titles[] = {tr("Left"), tr("Center"), tr("Right")};
    for (int i = 0; i < 3; ++i) {
        auto* segment = new SegmentButton(row);
        segment->setMinimumHeight(22);
        segment->setText(titles[i]);
        segment->setCheckable(true);
        segment->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        alignmentSegment_->addButton(segment, i);
        segments->addWidget(segment);
    }

    flipHButton_ = checkBox(tr("Flip H"), tr("Mirror the text horizontally"));
    flipVButton_ = checkBox(tr("Flip V"), tr("Mirror the text vertically"));
    showControlsButton_ = checkBox(tr("Controls"), tr("Show the on-screen controls"));
    showTimestampButton_ = checkBox(tr("Time"), tr("Show the running time"));
    showProgressButton_ = checkBox(tr("Progress"), tr("Show the progress bar"));

    auto* top = new QHBoxLayout;
    top->addWidget(screenCheckbox_);
    top->addWidget(screenNameLabel_, 1);
    auto* second = new QHBoxLayout;
    second->addWidget(resolutionLabel_, 1);
    second->addWidget(identify);
    auto* flips = new QHBoxLayout;
    flips->addWidget(flipHButton_);
    flips->addWidget(flipVButton_);
    flips->addStretch(1);
    auto* shows = new QHBoxLayout;
    shows->addWidget(showControlsButton_);
    shows->addWidget(showTimestampButton_);
    shows->addWidget(showProgressButton_);
    shows->addStretch(1);

    auto* layout = new QVBoxLayout(row);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(4);
    layout->addLayout(top);
    layout->addLayout(second);
    layout->addLayout(segments);
    layout->addLayout(flips);
    layout->addLayout(shows);
    layout->addStretch(1);

    connect(screenCheckbox_, &QCheckBox::clicked, this, &ScreenInfoViewController::toggleScreen);
    connect(identify, &QToolButton::clicked, this, &ScreenInfoViewController::identifyScreen);
    connect(alignmentSegment_, &QButtonGroup::idClicked, this, &ScreenInfoViewController::didChangeUI);
    for (QCheckBox* box : {flipHButton_.data(), flipVButton_.data(), showControlsButton_.data(),
                           showTimestampButton_.data(), showProgressButton_.data()}) {
        connect(box, &QCheckBox::clicked, this, &ScreenInfoViewController::didChangeUI);
    }
    connect(screenNameLabel_, &QLineEdit::textEdited, this, [this] { beginNameEditing(); });
    return row;
}

void ScreenInfoViewController::viewDidLoad() {
    updateUI();
}

void ScreenInfoViewController::setDesc(ScreenDescription desc) {
    desc_ = std::move(desc);
    if (isViewLoaded()) {
        updateUI();
    }
}

void ScreenInfoViewController::showName() {
    screenNameLabel_->setText(QString::fromStdString(desc_.nickname.value_or(std::string())));
    screenNameLabel_->setPlaceholderText(QString::fromStdString(desc_.name));
}

void ScreenInfoViewController::updateUI() {
    CW_DCHECK_MAIN_THREAD();
    view();
    setOn(screenCheckbox_, desc_.isActive);
    if (editingName_) {
        screenNameLabel_->setPlaceholderText(QString::fromStdString(desc_.name)); // keep what is typed
    } else {
        showName();
    }
    resolutionLabel_->setText(resolutionText(desc_.resolutionWidth, desc_.resolutionHeight));
    setOn(flipHButton_, desc_.flipH);
    setOn(flipVButton_, desc_.flipV);
    setOn(showControlsButton_, desc_.showControls);
    setOn(showTimestampButton_, desc_.showTimestamp);
    setOn(showProgressButton_, desc_.showProgress);
    if (QAbstractButton* segment = alignmentSegment_->button(base::menuIndex(desc_.textAlignment))) {
        segment->setChecked(true);
    }
}

void ScreenInfoViewController::readUI() {
    CW_DCHECK_MAIN_THREAD();
    view();
    desc_.isActive = isOn(screenCheckbox_);
    const QString name = screenNameLabel_->text();
    desc_.nickname = name.isEmpty() ? std::nullopt : std::optional<std::string>(name.toStdString());
    desc_.flipH = isOn(flipHButton_);
    desc_.flipV = isOn(flipVButton_);
    desc_.showControls = isOn(showControlsButton_);
    desc_.showTimestamp = isOn(showTimestampButton_);
    desc_.showProgress = isOn(showProgressButton_);
    const int segment = alignmentSegment_->checkedId();
    if (segment >= 0 && segment <= 2) {
        desc_.textAlignment = base::fromMenuIndex<TextAlignment>(segment);
    }
}

void ScreenInfoViewController::didChangeUI() {
    readUI();
    if (delegate_ != nullptr) {
        delegate_->screenInfoControllerDidChange(desc_);
    }
}

void ScreenInfoViewController::toggleScreen() {
    readUI();
    if (delegate_ != nullptr) {
        delegate_->screenInfoControllerDidToggleScreen(desc_);
    }
}

void ScreenInfoViewController::identifyScreen() {
    CW_DCHECK_MAIN_THREAD();
    view();
    if (identificator_ && !identificator_->screen()) {
        identificator_.reset(); // its display was unplugged: look for it afresh
    }
    if (!identificator_) {
        try {
            identificator_ = std::make_unique<ScreenIdentificator>(desc_, identification_);
        } catch (const std::exception& error) {
            base::log(std::string("error: ") + error.what());
            identificatorButton_->setChecked(false); // a click checked it; nothing runs
            return;
        }
        identificator_->setScreenLostHandler([this] { identificatorButton_->setChecked(false); });
    }
    if (identificator_->isRunning()) {
        identificator_->stop();
    } else {
        identificator_->start();
    }
    identificatorButton_->setChecked(identificator_->isRunning());
}

void ScreenInfoViewController::stopIdentification() {
    if (!identificator_ || !identificator_->isRunning()) {
        return;
    }
    identificator_->stop();
    identificatorButton_->setChecked(false);
}

void ScreenInfoViewController::beginNameEditing() {
    if (!editingName_) {
        editingName_ = true;
        discardScreenNameEditing_ = false;
    }
}

void ScreenInfoViewController::endNameEditing() {
    if (!editingName_) {
        return;
    }
    editingName_ = false;
    const QString name = screenNameLabel_->text();
    const std::optional<std::string> typed =
        name.isEmpty() ? std::nullopt : std::optional<std::string>(name.toStdString());
    // Left as it was, the name changes nothing: no display is written or told.
    if (discardScreenNameEditing_ || typed == desc_.nickname) {
        showName();
        return;
    }
    didChangeUI();
}

bool ScreenInfoViewController::eventFilter(QObject* watched, QEvent* event) {
    if (watched != screenNameLabel_.data()) {
        return false;
    }
    switch (event->type()) {
    case QEvent::FocusIn:
        beginNameEditing();
        return false;
    case QEvent::FocusOut:
        endNameEditing();
        return false;
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Tab && nextKeyView_) {
            nextKeyView_->setFocus(Qt::TabFocusReason);
            return true;
        }
        if (key != Qt::Key_Return && key != Qt::Key_Enter && key != Qt::Key_Escape) {
            return false;
        }
        beginNameEditing();
        discardScreenNameEditing_ = key == Qt::Key_Escape;
        endNameEditing();
        screenNameLabel_->clearFocus();
        return true;
    }
    default:
        return false;
    }
}

} // namespace cw

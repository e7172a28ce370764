#include "platform/ui/ColorPanel.h"

#include "dispatch/MainThreadChecker.h"

#include <QColorDialog>
#include <QCoreApplication>

#include <utility>

namespace platform {

ColorPanel& ColorPanel::shared() {
    CW_DCHECK_MAIN_THREAD();
    static auto* instance = new ColorPanel; // lives as long as the application; never destroyed
    return *instance;
}

ColorPanel::ColorPanel() = default;

QColorDialog* ColorPanel::dialog() {
    if (dialog_) {
        return dialog_;
    }
    dialog_ = new QColorDialog;
    dialog_->setOptions(QColorDialog::NoButtons | QColorDialog::DontUseNativeDialog);
    dialog_->setWindowTitle(QColorDialog::tr("Colors"));
    dialog_->setModal(false);
    dialog_->setAttribute(Qt::WA_ShowWithoutActivating);
    connect(dialog_, &QColorDialog::currentColorChanged, this, &ColorPanel::dialogColorChanged);
    // The close box and Escape reject the dialog.
    connect(dialog_, &QDialog::finished, this, [this] { release(); });
    // A dialog left open at exit goes with the application.
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, dialog_, &QObject::deleteLater);
    return dialog_;
}

void ColorPanel::attach(ColorPanelClient* client, const QColor& color) {
    CW_DCHECK_MAIN_THREAD();
    if (client_ != client) {
        release();
        client_ = client;
    }
    QColorDialog* panel = dialog();
    settingColor_ = true;
    panel->setCurrentColor(color);
    settingColor_ = false;
    panel->show();
    panel->raise();
}

void ColorPanel::detach(ColorPanelClient* client) {
    if (client_ == client) {
        client_ = nullptr;
    }
}

void ColorPanel::close() {
    CW_DCHECK_MAIN_THREAD();
    if (dialog_ && dialog_->isVisible()) {
        dialog_->hide();
    }
    release();
}

bool ColorPanel::isVisible() const {
    return dialog_ && dialog_->isVisible();
}

QColor ColorPanel::color() const {
    return dialog_ ? dialog_->currentColor() : QColor();
}

void ColorPanel::dialogColorChanged(const QColor& color) {
    if (settingColor_ || client_ == nullptr) {
        return;
    }
    client_->colorPanelDidChangeColor(color);
}

void ColorPanel::release() {
    ColorPanelClient* released = std::exchange(client_, nullptr);
    if (released != nullptr) {
        released->colorPanelDidRelease();
    }
}

} // namespace platform

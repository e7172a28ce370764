#include "cuewright/settings/DownloadiOSAppWindowController.h"

#include "cuewright/controls/LinkLabel.h"
#include "cuewright/settings/CloseShortcut.h"
#include "cuewright/settings/HelpLinks.h"

#include <QLabel>
#include <QVBoxLayout>

namespace cw {

DownloadiOSAppWindowController::DownloadiOSAppWindowController(QObject* parent)
    : platform::WindowController(parent) {}

QWidget* DownloadiOSAppWindowController::makeWindow() {
    auto* window = new QWidget(nullptr, Qt::Window);
    window->setWindowTitle(tr("Cuewright Remote"));
    auto* column = new QVBoxLayout(window);
    column->setContentsMargins(36, 30, 36, 30);
    column->setSpacing(12);
    auto* title = new QLabel(tr("Control prompting from your phone or tablet"), window);
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.35);
    big.setWeight(QFont::DemiBold);
    title->setFont(big);
    title->setAlignment(Qt::AlignCenter);
    auto* text = new QLabel(tr("The Cuewright Remote app for iPhone and iPad starts, stops and steers the "
                               "prompter over your local network or Bluetooth. Switch on the remote "
                               "control in Settings, Remote control, then pick this computer in the app."),
                            window);
    text->setWordWrap(true);
    text->setAlignment(Qt::AlignCenter);
    text->setFixedWidth(420);
    linkLabel_ = new controls::LinkLabel(window);
    linkLabel_->setAddress(helpPageAddress(HelpPage::companionApp));
    column->addWidget(title);
    column->addWidget(text, 0, Qt::AlignHCenter);
    column->addSpacing(6);
    column->addWidget(linkLabel_, 0, Qt::AlignHCenter);
    window->setFixedSize(window->sizeHint());
    return window;
}

void DownloadiOSAppWindowController::windowDidLoad() {
    keepInWorkArea();
    addCloseShortcut(*this);
    linkLabel_->setActionBinding({nullptr, "visitShortlinkForiOSApp:"});
    updateWindowAppearance();
    registerForAppearanceChanges();
}

void DownloadiOSAppWindowController::showWindow() {
    platform::WindowController::showWindow();
    updateWindowAppearance();
    registerForAppearanceChanges();
}

} // namespace cw

#include "cuewright/app/StartWindow.h"

#include "platform/ui/ActionRoute.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace cw {

StartWindow::StartWindow(QMenuBar* menuBar, QMenu* recentMenu) {
    setObjectName(QStringLiteral("StartWindow"));
    setWindowTitle(tr("Cuewright"));
    auto* column = new QVBoxLayout(this);
    column->setMenuBar(menuBar);
    column->setContentsMargins(24, 16, 24, 24);
    auto* title =
        new QLabel(tr("<h2>Cuewright</h2><p>Write a script, then prompt it in a prompter window:<br>"
                      "Space plays and pauses, Backspace goes back to the top.</p>"),
                   this);
    column->addWidget(title);
    auto* row = new QHBoxLayout;
    newButton_ = new QPushButton(tr("New Script"), this);
    openButton_ = new QPushButton(tr("Open…"), this);
    recentButton_ = new QPushButton(tr("Open Recent"), this);
    recentButton_->setMenu(recentMenu);
    for (QPushButton* button : {newButton_, openButton_, recentButton_}) {
        row->addWidget(button);
    }
    column->addLayout(row);
    newButton_->setDefault(true);
    connect(newButton_, &QPushButton::clicked, this,
            [this] { platform::sendAction("newDocument:", nullptr, this); });
    connect(openButton_, &QPushButton::clicked, this,
            [this] { platform::sendAction("openDocument:", nullptr, this); });
    updateWindowAppearance();
    registerForAppearanceChanges();
}

void StartWindow::closeEvent(QCloseEvent* event) {
    // Closing the last window of the application means quitting; the controller decides.
    event->ignore();
    emit closeRequested();
}

} // namespace cw

// The small window shown while no script is open: the menus and New, Open and Open Recent.
#pragma once

#include "platform/ui/WindowAppearanceUpdatable.h"

#include <QWidget>

class QMenu;
class QMenuBar;
class QPushButton;

namespace cw {

// Stands for the window-less menu bar of other desktops: with no script window a Linux
// application has nowhere to show its menus. Its buttons send "newDocument:" and "openDocument:";
// Open Recent pops up the shared recent menu. Closing it quits the application (`closed` is
// emitted). It follows the user's light or dark choice as every window does. Main thread only.
class StartWindow final : public QWidget, public platform::WindowAppearanceUpdatable {
    Q_OBJECT

public:
    StartWindow(QMenuBar* menuBar, QMenu* recentMenu);

    QPushButton* newButton() const { return newButton_; }
    QPushButton* openButton() const { return openButton_; }
    QPushButton* recentButton() const { return recentButton_; }

signals:
    void closeRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    QWidget* appearanceWindow() const override { return const_cast<StartWindow*>(this); }

private:
    QPushButton* newButton_;
    QPushButton* openButton_;
    QPushButton* recentButton_;
};

} // namespace cw

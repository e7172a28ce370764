// Cancel clicked in a progress window while long work runs.
#pragma once

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

// Runs `work`, clicking Cancel in the progress window titled `title` once its bar is a sixth of the
// way; true when the window said at once that it cancels, Cancel disabled. After the click every
// progress window gets Cancel, Escape and a close in each turn: none may stop the walk back.
namespace cwtest {
inline bool cancelling(const QString& title, const std::function<void()>& work) {
    bool clicked = false;
    bool answered = false;
    QTimer watching;
    QObject::connect(&watching, &QTimer::timeout, [&] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            auto* progress = window->findChild<QProgressBar*>();
            auto* cancel = window->findChild<QPushButton*>();
            if (!window->isVisible() || !progress) {
            } else if (clicked) {
                cancel->click(), QTest::keyClick(window, Qt::Key_Escape), window->close();
            } else if (window->windowTitle() == title && progress->value() > progress->maximum() / 6) {
                cancel->click();
                clicked = true;
                answered = window->findChild<QLabel*>()->text() == "Cancelling\u2026" && !cancel->isEnabled();
                return;
            }
        }
    });
    watching.start(0);
    work();
    return answered;
}
} // namespace cwtest

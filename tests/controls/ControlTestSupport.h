// What the slider and time-control tests share: an action counter and an active window.
#pragma once

#include "platform/ui/ActionRoute.h"

#include <QApplication>
#include <QTest>
#include <QWidget>

#include <string>

namespace controltest {

// Performs one named action and counts it.
class CountingResponder : public QObject, public platform::ActionResponder {
public:
    explicit CountingResponder(std::string action)
        : action_(std::move(action)) {}
    bool respondsToAction(std::string_view action) const override { return action == action_; }
    void performAction(std::string_view, QObject* sender) override {
        ++count;
        lastSender = sender;
    }

    int count = 0;
    QObject* lastSender = nullptr;

private:
    std::string action_;
};

// Shows `window` and makes it the active window, so focus and key events reach its widgets.
inline bool activate(QWidget& window) {
    window.show();
    QApplication::setActiveWindow(&window);
    return QTest::qWaitForWindowActive(&window);
}

} // namespace controltest

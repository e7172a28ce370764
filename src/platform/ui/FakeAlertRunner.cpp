#include "platform/ui/FakeAlertRunner.h"

namespace platform {

int FakeAlertRunner::show(const Alert& alert, QWidget* window) {
    shown_.push_back(alert);
    windows_.push_back(window);
    if (script_.empty()) {
        return defaultAnswer;
    }
    const auto next = script_.front();
    script_.pop_front();
    if (const int* code = std::get_if<int>(&next)) {
        return *code;
    }
    const auto index = alert.buttons.indexOf(std::get<QString>(next));
    return index >= 0 ? alertFirstButtonReturn + static_cast<int>(index) : defaultAnswer;
}

} // namespace platform

#include "cuewright/controls/PrompterColorWell.h"

#include "platform/ui/WindowFocus.h"

#include <QFocusEvent>

namespace cw::controls {

PrompterColorWell::PrompterColorWell(QWidget* parent)
    : ColorWell(parent) {}

void PrompterColorWell::activate(bool exclusive) {
    if (exclusive_ && platform::isInWindow(this)) {
        setFocus(Qt::OtherFocusReason);
    }
    ColorWell::activate(exclusive);
}

void PrompterColorWell::focusOutEvent(QFocusEvent* event) {
    ColorWell::focusOutEvent(event);
    // Switching windows (to the panel, say) leaves the well its window's focus widget.
    const bool focusLeftWindow =
        event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason;
    if (exclusive_ && !focusLeftWindow && isActive()) {
        deactivate();
    }
}

} // namespace cw::controls

#include "cuewright/settings/CloseShortcut.h"

#include "platform/ui/WindowController.h"

#include <QShortcut>

namespace cw {

void addCloseShortcut(platform::WindowController& controller) {
    auto* shortcut = new QShortcut(QKeySequence::Close, controller.window());
    QObject::connect(shortcut, &QShortcut::activated, &controller, [&controller] { controller.close(); });
}

} // namespace cw

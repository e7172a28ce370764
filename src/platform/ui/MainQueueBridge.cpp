#include "platform/ui/MainQueueBridge.h"

#include "base/Log.h"
#include "dispatch/Queue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

namespace platform {

void installMainQueueBridge() {
    if (!dispatch::isMainThread() || QCoreApplication::instance() == nullptr) {
        base::fatal("installMainQueueBridge needs the application object, on the main thread");
    }
    QPointer<QCoreApplication> app = QCoreApplication::instance();
    dispatch::setMainQueueWakeup([app] {
        if (app) {
            QMetaObject::invokeMethod(
                app, [] { dispatch::drainMainQueue(); }, Qt::QueuedConnection);
        }
    });
}

} // namespace platform

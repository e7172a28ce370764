// Lets the Qt event loop run the dispatch main queue.
#pragma once

namespace platform {

// Makes the running QCoreApplication drain dispatch::mainQueue(): each batch of tasks posts one
// queued event to the application object. Call once, on the main thread, after the application
// object exists.
void installMainQueueBridge();

} // namespace platform

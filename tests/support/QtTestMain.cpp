// main() for test binaries that need Qt: an offscreen QApplication whose event loop also runs
// the dispatch main queue.
#include "platform/ui/MainQueueBridge.h"

#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    platform::installMainQueueBridge();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// Where the editor's tests write their pictures, and the two appearances they are taken in.
#pragma once

#include "platform/ui/Appearance.h"

#include <QDir>
#include <QString>

#include <cstdlib>

namespace editortest {

// A folder of the test output, "editor" unless named (made when missing); empty when it cannot be
// made.
inline QString screenshotFolder(const char* name = "editor") {
    const char* root = std::getenv("CW_TEST_OUTPUT_DIR");
    const QString folder = QString::fromUtf8(root && *root ? root : "build/debug/test-output") + '/' + name;
    return QDir().mkpath(folder) ? folder : QString();
}

struct NamedAppearance {
    platform::AppearanceStyle style;
    const char* name; // the file name's suffix
};
inline constexpr NamedAppearance lightAndDark[] = {{platform::AppearanceStyle::light, "light"},
                                                   {platform::AppearanceStyle::dark, "dark"}};

} // namespace editortest

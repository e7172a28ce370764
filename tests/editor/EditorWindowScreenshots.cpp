// Pictures of a whole editor window with a sample script, light and dark, on a real X server.
#include "cuewright/editor/BookmarkListController.h"
#include "cuewright/editor/EditorWindowController.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/model/UserDefaults.h"
#include "platform/defaults/Defaults.h"
#include "platform/text/TextAttributes.h"
#include "platform/ui/Appearance.h"

#include "support/TempDir.h"

#include "ScreenshotSupport.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>

using namespace std::chrono_literals;

namespace {

const char* const sampleScript =
    "*Opening\n"
    "Good evening, and welcome to the six o'clock news. I'm Alex Morgan.\n"
    "Tonight: the city council votes on the new harbour bridge, a record summer for the "
    "islands' ferries, and the weather for the long weekend.\n"
    "*Harbour bridge\n"
    "After three years of debate, the council meets tonight to decide the future of the harbour "
    "bridge. Supporters say it will cut the morning commute in half; opponents point to the "
    "cost and to the view from the old town.\n"
    "Our reporter Sam Okafor is at the town hall. Sam, what are you hearing?\n"
    "*Ferries\n"
    "The island ferries carried more passengers this summer than in any year since records began.\n"
    "*Weather\n"
    "And finally, the weather: sunshine in the morning, clouds rolling in by the afternoon.\n";

// The script in the default look, in an editor window of `size` with the bookmark column shown.
struct ShownWindow {
    testsupport::TempDir dir;
    platform::Defaults defaults{platform::Defaults::Options{dir / "defaults.json", 1h, {}}};
    std::shared_ptr<cw::Project> project;
    std::shared_ptr<cw::editor::EditorWindowController> controller;

    ShownWindow(const QString& text, QSize size) {
        cw::registerUserDefaults(defaults);
        defaults.set(cw::settings::showBookmarkSidebar, true);
        project = cw::Project::create(defaults);
        platform::Attributes body;
        body.font = cw::defaultFont(defaults);
        body.foregroundColor = cw::defaultTextColor(defaults);
        project->setText(platform::AttributedString(text, body));
        controller = cw::editor::EditorWindowController::create(project, {&defaults, nullptr});
        controller->window()->resize(size);
        controller->showWindow();
    }

    // Shown and laid out; false when the window never appeared.
    bool settled() {
        if (!QTest::qWaitForWindowExposed(controller->window()))
            return false;
        QTest::qWait(400); // the editor settles its layout
        return true;
    }
};

TEST(EditorWindowScreenshots, WholeWindowLightAndDark) {
    const QString folder = editortest::screenshotFolder();
    ASSERT_FALSE(folder.isEmpty());
    ShownWindow shown(QString::fromUtf8(sampleScript), QSize(1280, 800));
    ASSERT_TRUE(shown.settled());
    const auto& controller = shown.controller;
    shown.project->setProgress(0.3, /*animated=*/false, /*immediate=*/true);
    for (const auto& s : editortest::lightAndDark) {
        platform::Appearance::applyToWindow(controller->window(), s.style);
        QTest::qWait(100);
        const QString file = folder + "/editor-window-" + s.name + ".png";
        EXPECT_TRUE(controller->window()->grab().toImage().save(file)) << file.toStdString();
    }
}

// The window at 760 × 480 with the bookmark column shown, bookmarks with long labels among them,
// and the column alone.
TEST(EditorWindowScreenshots, NarrowWindowAndLongBookmarkLabels) {
    const QString folder = editortest::screenshotFolder();
    ASSERT_FALSE(folder.isEmpty());
    const QString longMarks = QStringLiteral(
        "*Interview with the harbour master about the bridge, the ferries and the summer timetable\n"
        "*Weather for the long weekend across the islands, with the ferry warnings read in full\n");
    ShownWindow shown(QString::fromUtf8(sampleScript) + longMarks, QSize(760, 480));
    ASSERT_TRUE(shown.settled());
    const auto& controller = shown.controller;
    for (const auto& s : editortest::lightAndDark) {
        platform::Appearance::applyToWindow(controller->window(), s.style);
        QTest::qWait(100);
        const QString window = folder + "/editor-window-760x480-" + s.name + ".png";
        EXPECT_TRUE(controller->window()->grab().toImage().save(window)) << window.toStdString();
        const QString column = folder + "/bookmark-column-long-labels-" + s.name + ".png";
        EXPECT_TRUE(controller->leftSidebarAnchorView()->grab().toImage().save(column))
            << column.toStdString();
    }
}

// A bookmark's row while its note is typed in place, light and dark.
TEST(EditorWindowScreenshots, BookmarkBeingRenamed) {
    const QString folder = editortest::screenshotFolder();
    ASSERT_FALSE(folder.isEmpty());
    ShownWindow shown(QString::fromUtf8(sampleScript), QSize(1280, 800));
    ASSERT_TRUE(shown.settled());
    const auto& controller = shown.controller;
    cw::editor::BookmarkListController& list = *controller->bookmarkListController();
    list.beginRename(1);
    QLineEdit* field = list.cellNoteEditor(1);
    ASSERT_TRUE(field && field->isVisible());
    QTest::keyClicks(field, QStringLiteral("Bridge vote tonight"));
    for (const auto& s : editortest::lightAndDark) {
        platform::Appearance::applyToWindow(controller->window(), s.style);
        QTest::qWait(100);
        const QString file = folder + "/bookmark-rename-" + s.name + ".png";
        EXPECT_TRUE(controller->window()->grab().toImage().save(file)) << file.toStdString();
    }
}

} // namespace

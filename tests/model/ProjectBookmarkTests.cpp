// Gathering bookmarks from the text and the editor's line table, and jumping between them.
#include "ProjectTestSupport.h"

#include "platform/text/TextAttributes.h"

using namespace projecttest;

namespace {

// Scripts of numbered lines, one visual line per paragraph (see ScriptProject).
using Bookmarks = ScriptProject;

} // namespace

TEST_F(Bookmarks, AsteriskLinesAndEmbeddedObjectsAreGatheredByLineWithTheirTime) {
    platform::AttributedString text(QStringLiteral("Intro\n*  Scene two  \n*\n  *not one\nThe end"));
    auto object = std::make_shared<platform::EmbeddedBookmark>();
    object->id = QStringLiteral("B-17");
    object->userBlurb = QStringLiteral("breathe");
    object->sortOrder = 3;
    text.addAttribute(platform::CuewrightBookmarkAttributeName, QVariant::fromValue(object),
                      {2, 3}); // in "Intro"
    auto last = std::make_shared<platform::EmbeddedBookmark>();
    last->id = QStringLiteral("B-18");
    text.addAttribute(platform::CuewrightBookmarkAttributeName, QVariant::fromValue(last), {38, 3}); // "end"
    setAttributedScript(text);

    project->setScrollSpeed(50, 1, 3); // 2 lines per second: a line's time is half its number less one
    // An asterisk alone is a bookmark; a line beginning with blanks and an asterisk is not.
    EXPECT_EQ(project->bookmarks(), (std::vector<cw::Bookmark>{
                                        {"B-17", 2, 1, 0.0, "Intro", "breathe", 3},
                                        {"custom.bookmark@2:{6, 15}", 6, 2, 0.5, "*  Scene two", "", -1},
                                        {"custom.bookmark@3:{21, 2}", 21, 3, 1.0, "*", "", -1},
                                        {"B-18", 38, 5, 2.0, "The end", "", -1},
                                    }));
}

TEST_F(Bookmarks, AnObjectOutsideEveryKnownLineHasNoLineOrTime) {
    platform::AttributedString text(QStringLiteral("one\ntwo"));
    text.addAttribute(platform::CuewrightBookmarkAttributeName,
                      QVariant::fromValue(std::make_shared<platform::EmbeddedBookmark>()), {5, 1});
    project->setText(text);
    cw::Editor e = project->editor();
    e.lineRanges = {{1, {0, 4}}};
    e.lineCount = 2;
    project->setEditor(e);
    const auto marks = project->bookmarks();
    ASSERT_EQ(marks.size(), 1u);
    EXPECT_EQ(marks[0].line, -1);
    EXPECT_EQ(marks[0].timestamp, -1);
    EXPECT_EQ(marks[0].excerpt, "");
}

TEST_F(Bookmarks, ALineTableThatLagsBehindTheTextIsReadSafely) {
    setScript(QStringLiteral("*one\n*two\n*three"));
    project->setText(platform::AttributedString(QStringLiteral("*o"))); // the editor has not re-laid out yet
    const auto marks = project->bookmarks();
    ASSERT_EQ(marks.size(), 1u);
    EXPECT_EQ(marks[0].excerpt, "*o");
}

TEST_F(Bookmarks, NextAndPreviousFollowTheLines) {
    setHundredLines({1, 10, 40});
    project->jumpToNextBookmark();
    EXPECT_DOUBLE_EQ(progress(), 0.09155);
    EXPECT_EQ(log, (std::vector<std::string>{"transport", "jump(-i)"}));
    project->jumpToNextBookmark();
    EXPECT_DOUBLE_EQ(progress(), 0.39155);
    project->jumpToPreviousBookmark();
    EXPECT_DOUBLE_EQ(progress(), 0.09155);
    project->jumpToPreviousBookmark(); // position 10.005 is not 0.3 below line 10: back to line 1
    EXPECT_DOUBLE_EQ(progress(), 0.00155);
}

TEST_F(Bookmarks, FromTheEndPreviousPicksTheLastLineBelowTheCappedPosition) {
    setHundredLines({40, 99, 100});
    project->jumpToEnd();
    project->jumpToPreviousBookmark(); // position 100.85 capped to 100: line 99 is 1 below, 100 is not
    EXPECT_DOUBLE_EQ(progress(), (99 - 1 + 0.155) / 100);
}

TEST_F(Bookmarks, ABookmarkOnTheFirstLineIsNeverTheNextFromTheTop) {
    setHundredLines({1});
    project->jumpToNextBookmark();
    EXPECT_EQ(progress(), 0.0);
    EXPECT_TRUE(log.empty());
}

TEST_F(Bookmarks, WithoutBookmarksOrLinesTheJumpsDoNothing) {
    setHundredLines({});
    project->jumpToNextBookmark();
    project->jumpToPreviousBookmark();
    setScript(QStringLiteral("*marked"), /*lineCount=*/0);
    project->jumpToNextBookmark();
    project->jumpToPreviousBookmark();
    EXPECT_TRUE(log.empty());
}

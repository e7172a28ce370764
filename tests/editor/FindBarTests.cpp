// The editor's find bar over a real script text view, driven with keys offscreen.
#include "cuewright/editor/FindBar.h"
#include "cuewright/editor/ScriptTextView.h"
#include "cuewright/editor/TextBridge.h"
#include "cuewright/editor/TextFinder.h"
#include "platform/text/EmbeddedBookmark.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTextDocument>
#include <QToolButton>

#include <memory>

using cw::editor::FindBar;
using cw::editor::ScriptTextView;
using platform::AttributedString;
using platform::TextRange;

namespace {

class FindBarTest : public ::testing::Test {
protected:
    FindBarTest() {
        area.resize(900, 600);
        text = new ScriptTextView(&area);
        text->setGeometry(area.rect());
        bar = new FindBar(*text, &area);
        area.show();
        area.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&area));
    }
    void setText(const AttributedString& script) {
        cw::editor::setAttributedText(*text->document(), script);
        text->document()->setModified(false);
    }
    TextRange selection() const {
        const QTextCursor cursor = text->textCursor();
        return {cursor.selectionStart(), cursor.selectionEnd() - cursor.selectionStart()};
    }
    // The field's text replaced by `keys`, typed.
    static void type(QLineEdit& field, const QString& keys) {
        field.clear();
        QTest::keyClicks(&field, keys);
    }

    QWidget area;
    ScriptTextView* text = nullptr;
    FindBar* bar = nullptr;
};

// Typing selects the first match from where the search began; Return and Shift+Return (Ctrl+G and
// Ctrl+Shift+G reach the same) go on and back, round the end; case counts only when asked;
// Escape hides the bar and leaves the match selected, the text with the keyboard.
TEST_F(FindBarTest, FindsOnAndBackRoundTheEndAndEscapeLeavesTheMatchSelected) {
    setText(AttributedString(QStringLiteral("Teh cat.\nteh dog.\nThe TEH end.")));
    QTextCursor caret = text->textCursor();
    caret.setPosition(5);
    text->setTextCursor(caret);
    bar->showBar(FindBar::Mode::find);
    ASSERT_TRUE(bar->isVisible());
    EXPECT_FALSE(bar->isReplaceShown());
    EXPECT_TRUE(bar->findField().hasFocus());
    const struct {
        const char* step;
        std::function<void()> act;
        TextRange selected;
        const char* status;
    } steps[] = {
        {"typed", [&] { type(bar->findField(), "teh"); }, {9, 3}, "2 of 3"},
        {"Return", [&] { QTest::keyClick(&bar->findField(), Qt::Key_Return); }, {22, 3}, "3 of 3"},
        {"Return round the end",
         [&] { QTest::keyClick(&bar->findField(), Qt::Key_Enter); },
         {0, 3},
         "1 of 3"},
        {"Shift+Return round the start",
         [&] { QTest::keyClick(&bar->findField(), Qt::Key_Return, Qt::ShiftModifier); },
         {22, 3},
         "3 of 3"},
        {"find previous", [&] { bar->findPrevious(); }, {9, 3}, "2 of 3"},
        {"match case", [&] { bar->findChild<QToolButton*>("matchCase")->click(); }, {9, 3}, "1 of 1"},
        {"find next, one match", [&] { bar->findNext(); }, {9, 3}, "1 of 1"},
        {"not found", [&] { type(bar->findField(), "cow"); }, {9, 0}, "No matches"},
    };
    for (const auto& step : steps) {
        step.act();
        EXPECT_EQ(selection(), step.selected) << step.step;
        EXPECT_EQ(bar->status(), step.status) << step.step;
    }
    type(bar->findField(), "dog");
    QTest::keyClick(&bar->findField(), Qt::Key_Escape);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_EQ(selection(), (TextRange{13, 3}));
    EXPECT_TRUE(text->hasFocus());
    EXPECT_TRUE(text->extraSelections().isEmpty()) << "the matches stay tinted";
    EXPECT_FALSE(text->document()->isModified());

    // Find next with the bar closed goes on with the same word.
    bar->findNext();
    EXPECT_EQ(selection(), (TextRange{13, 3}));
    EXPECT_FALSE(bar->isVisible());
    // A selection of one line is what Ctrl+F searches for.
    caret.setPosition(0);
    caret.setPosition(3, QTextCursor::KeepAnchor);
    text->setTextCursor(caret);
    bar->showBar(FindBar::Mode::find);
    EXPECT_EQ(bar->findField().text(), "Teh");
}

platform::Attributes bold() {
    platform::Attributes attributes;
    attributes.font = platform::Font{QStringLiteral("DejaVu Sans"), 20, true, false};
    return attributes;
}

platform::EmbeddedBookmarkPtr bookmarkAt(const AttributedString& script, int location) {
    for (const auto& run : script.runs()) {
        if (run.attributes.bookmark && run.range.contains(location)) {
            return run.attributes.bookmark;
        }
    }
    return nullptr;
}

// Replace and Replace All are one named undo step each and keep the look of the text they
// replace and its bookmarks; a replace that changes nothing makes no edit; a locked text is only
// searched.
TEST_F(FindBarTest, ReplacementsKeepLookAndBookmarksAsOneNamedStep) {
    AttributedString script(QStringLiteral("teh start\nthen teh and TEH\nteh"));
    script.setAttributes(bold(), {0, 3});
    auto bookmark = std::make_shared<platform::EmbeddedBookmark>();
    bookmark->id = QStringLiteral("mark");
    platform::Attributes marked;
    marked.bookmark = bookmark;
    script.addAttributes(marked, {15, 1}); // the first "t" of the second "teh"
    auto last = std::make_shared<platform::EmbeddedBookmark>();
    platform::Attributes lastMark;
    lastMark.bookmark = last;
    script.addAttributes(lastMark, {28, 1}); // "e" of the last "teh", whose paragraph it ends
    setText(script);
    bar->showBar(FindBar::Mode::replace);
    ASSERT_TRUE(bar->isReplaceShown());
    type(bar->findField(), "teh");
    type(bar->replaceField(), "the");

    int layouts = 0;
    QObject::connect(text->document(), &QTextDocument::contentsChange, text, [&] { ++layouts; });
    EXPECT_EQ(bar->replaceAll(), 4);
    EXPECT_EQ(layouts, 1) << "each replacement laid the text out again";
    EXPECT_EQ(text->undoActionName(), "Replace All");
    AttributedString after = cw::editor::attributedText(*text->document());
    EXPECT_EQ(after.string(), "the start\nthen the and the\nthe");
    EXPECT_TRUE(after.attributes(1).font && after.attributes(1).font->bold) << "the bold word lost its look";
    EXPECT_FALSE(after.attributes(15).font && after.attributes(15).font->bold);
    EXPECT_EQ(bookmarkAt(after, 15), bookmark) << "the bookmark went with the word";
    EXPECT_EQ(bookmarkAt(after, 27), last) << "the last bookmark went with the word";
    EXPECT_TRUE(bar->status().contains("4 replaced")) << bar->status().toStdString();
    text->undo();
    EXPECT_EQ(cw::editor::attributedText(*text->document()).string(), script.string()) << "not one undo step";

    // Nothing to change: no edit, no step, nothing marked.
    text->document()->setModified(false);
    const int steps = text->document()->availableUndoSteps();
    type(bar->findField(), "then");
    type(bar->replaceField(), "then");
    EXPECT_EQ(bar->replaceAll(), 0);
    EXPECT_TRUE(bar->replace()) << "the match was not the selection";
    EXPECT_FALSE(text->document()->isModified());
    EXPECT_EQ(text->document()->availableUndoSteps(), steps);

    // One at a time: the selected match, then the next is selected; an empty replacement passes
    // the bookmark on to the character beside it.
    type(bar->findField(), "teh ");
    type(bar->replaceField(), "");
    EXPECT_EQ(selection(), (TextRange{15, 4}));
    EXPECT_TRUE(bar->replace());
    EXPECT_EQ(text->undoActionName(), "Replace");
    after = cw::editor::attributedText(*text->document());
    EXPECT_EQ(after.string(), "teh start\nthen and TEH\nteh");
    EXPECT_EQ(bookmarkAt(after, 15), bookmark);
    EXPECT_EQ(selection(), (TextRange{0, 4})) << "the next match round the end";

    // Locked: found, never replaced.
    text->setReadOnly(true);
    bar->updateReplaceAllowed();
    EXPECT_FALSE(bar->findChild<QPushButton*>("replaceAllButton")->isEnabled());
    EXPECT_FALSE(bar->replace());
    EXPECT_EQ(bar->replaceAll(), 0);
    bar->findNext();
    EXPECT_EQ(selection(), (TextRange{0, 4}));
    EXPECT_EQ(cw::editor::attributedText(*text->document()).string(), "teh start\nthen and TEH\nteh");
}

// Replace All over a long script is one edit laid out once, however many matches it has.
TEST_F(FindBarTest, ReplaceAllOverALongScriptLaysItOutOnce) {
    QString long_;
    for (int i = 0; i < 4000; ++i) {
        long_ += QStringLiteral("Good evening, teh news at %1.\n").arg(i);
    }
    setText(AttributedString(long_));
    bar->showBar(FindBar::Mode::replace);
    type(bar->findField(), "teh");
    type(bar->replaceField(), "the");
    int layouts = 0;
    QObject::connect(text->document(), &QTextDocument::contentsChange, text, [&] { ++layouts; });
    EXPECT_EQ(bar->replaceAll(), 4000);
    EXPECT_EQ(layouts, 1);
    EXPECT_FALSE(text->document()->toPlainText().contains("teh"));
}

} // namespace

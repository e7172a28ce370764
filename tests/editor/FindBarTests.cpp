// The editor's find bar over a real script text view, driven with keys offscreen.
#include "CancelSupport.h"
#include "cuewright/editor/FindBar.h"
#include "cuewright/editor/ProgressWindow.h"
#include "cuewright/editor/ScriptTextView.h"
#include "cuewright/editor/TextBridge.h"
#include "platform/text/EmbeddedBookmark.h"
#include "platform/ui/AlertRunner.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

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
        QObject::connect(text->document(), &QTextDocument::contentsChange, text, [this] { ++layouts; });
    }
    void setText(const AttributedString& script) {
        cw::editor::setAttributedText(*text->document(), script);
        text->document()->setModified(false);
    }
    AttributedString script() const { return cw::editor::attributedText(*text->document()); }
    void select(int start, int end) {
        QTextCursor cursor = text->textCursor();
        cursor.setPosition(start);
        cursor.setPosition(end, QTextCursor::KeepAnchor);
        text->setTextCursor(cursor);
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
    void searchFor(const QString& find, const QString& replacement) {
        type(bar->findField(), find);
        type(bar->replaceField(), replacement);
    }
    // Undo chosen from the text's context menu, opened by a right click: its item clicked, then
    // the undo it sets off waited for.
    void undoFromContextMenu() {
        const QPoint at = text->viewport()->rect().center();
        QContextMenuEvent rightClick(QContextMenuEvent::Mouse, at, text->viewport()->mapToGlobal(at));
        QApplication::sendEvent(text->viewport(), &rightClick);
        QPointer<QMenu> menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_TRUE(menu) << "no context menu";
        const QList<QAction*> items = menu->actions();
        const auto undo = std::find_if(items.begin(), items.end(), [](QAction* item) {
            return item->text().remove(u'&').startsWith(QStringLiteral("Undo")) && item->isEnabled();
        });
        ASSERT_NE(undo, items.end()) << "no Undo in the context menu";
        const QString undone = text->undoActionName();
        QTest::mouseClick(menu->windowHandle(), Qt::LeftButton, {}, menu->actionGeometry(*undo).center());
        EXPECT_TRUE(QTest::qWaitFor([&] { return text->redoActionName() == undone; }, 60000));
    }
    // What Replace All counted, and how often the text was laid out again meanwhile.
    std::pair<int, int> replaceAllCountingLayouts() {
        layouts = 0;
        return {bar->replaceAll(), layouts};
    }

    QWidget area;
    ScriptTextView* text = nullptr;
    FindBar* bar = nullptr;
    int layouts = 0;
};

// Typing selects the first match from where the search began; Return and Shift+Return (Ctrl+G and
// Ctrl+Shift+G reach the same) go on and back, round the end; case counts only when asked;
// Escape hides the bar and leaves the match selected, the text with the keyboard.
TEST_F(FindBarTest, FindsOnAndBackRoundTheEndAndEscapeLeavesTheMatchSelected) {
    setText(AttributedString(QStringLiteral("Teh cat.\nteh dog.\nThe TEH end.")));
    select(5, 5);
    bar->showBar(FindBar::Mode::find);
    ASSERT_TRUE(bar->isVisible());
    EXPECT_FALSE(bar->isReplaceShown());
    QLineEdit& field = bar->findField();
    EXPECT_TRUE(field.hasFocus());
    const auto key = [&](Qt::Key pressed, Qt::KeyboardModifiers with = {}) {
        QTest::keyClick(&field, pressed, with);
    };
    const struct {
        const char* step;
        std::function<void()> act;
        TextRange selected;
        const char* status; // null once the bar is hidden
    } steps[] = {
        {"typed", [&] { type(field, "teh"); }, {9, 3}, "2 of 3"},
        {"Return", [&] { key(Qt::Key_Return); }, {22, 3}, "3 of 3"},
        {"Enter round the end", [&] { key(Qt::Key_Enter); }, {0, 3}, "1 of 3"},
        {"Shift+Return round the start", [&] { key(Qt::Key_Return, Qt::ShiftModifier); }, {22, 3}, "3 of 3"},
        {"find previous", [&] { bar->findPrevious(); }, {9, 3}, "2 of 3"},
        {"match case", [&] { bar->findChild<QToolButton*>("matchCase")->click(); }, {9, 3}, "1 of 1"},
        {"find next, one match", [&] { bar->findNext(); }, {9, 3}, "1 of 1"},
        {"not found", [&] { type(field, "cow"); }, {9, 0}, "No matches"},
        {"one match, not selected",
         [&] { type(field, "dog"), select(0, 0), bar->showBar(FindBar::Mode::find); },
         {0, 0},
         "1 match"},
        {"Escape", [&] { type(field, "dog"), key(Qt::Key_Escape); }, {13, 3}, nullptr},
        {"find next, bar closed, same word", [&] { select(0, 0), bar->findNext(); }, {13, 3}, nullptr},
    };
    for (const auto& step : steps) {
        step.act();
        EXPECT_EQ(selection(), step.selected) << step.step;
        EXPECT_EQ(bar->isVisible(), step.status != nullptr) << step.step;
        if (step.status) {
            EXPECT_EQ(bar->status(), step.status) << step.step;
        }
    }
    EXPECT_TRUE(text->hasFocus());
    EXPECT_TRUE(text->extraSelections().isEmpty()) << "the matches stay tinted";
    EXPECT_FALSE(text->document()->isModified());
    // A one-line selection is what Ctrl+F searches for.
    select(0, 3);
    bar->showBar(FindBar::Mode::find);
    EXPECT_EQ(field.text(), "Teh");
}

// Replace and Replace All are one named undo step each, laid out once however many matches, and
// keep the look of the text they replace, its paragraphs' alignment and its bookmarks; a replace
// that changes nothing makes no edit; a locked text is only searched.
TEST_F(FindBarTest, ReplacementsKeepLookAndBookmarksAsOneNamedStep) {
    AttributedString original(QStringLiteral("teh start\nthen teh and TEH\nteh"));
    platform::Attributes bold, mark, last;
    bold.font = platform::Font{QStringLiteral("DejaVu Sans"), 20, true, false};
    mark.bookmark = std::make_shared<platform::EmbeddedBookmark>();
    last.bookmark = std::make_shared<platform::EmbeddedBookmark>();
    original.setAttributes(bold, {0, 3});
    original.addAttributes(mark, {15, 1}); // the first "t" of the second "teh"
    original.addAttributes(last, {28, 1}); // "e" of the last "teh", whose paragraph it ends
    platform::Attributes centred;
    centred.paragraphStyle.emplace().alignment = platform::ParagraphAlignment::center;
    original.addAttributes(centred, {10, 17}); // the second paragraph
    // A long script first: however many matches, one edit laid out once.
    setText(AttributedString(QStringLiteral("Good evening, teh news.\n").repeated(4000)));
    bar->showBar(FindBar::Mode::replace);
    ASSERT_TRUE(bar->isReplaceShown());
    searchFor("teh", "the");
    EXPECT_EQ(replaceAllCountingLayouts(), std::make_pair(4000, 1));
    EXPECT_FALSE(script().string().contains("teh"));
    setText(original);
    const auto alignments = [&] { // of each paragraph, as shown
        std::vector<Qt::Alignment> shown;
        for (const int at : {0, 15, 27}) {
            shown.push_back(text->document()->findBlock(at).blockFormat().alignment());
        }
        return shown;
    };
    const auto aligned = alignments();
    ASSERT_EQ(aligned[1], Qt::AlignHCenter);
    EXPECT_EQ(replaceAllCountingLayouts(), std::make_pair(4, 1));
    EXPECT_EQ(text->undoActionName(), "Replace All");
    const AttributedString after = script();
    EXPECT_EQ(after.string(), "the start\nthen the and the\nthe");
    EXPECT_TRUE(after.attributes(1).font && after.attributes(1).font->bold) << "the bold word lost its look";
    EXPECT_FALSE(after.attributes(15).font && after.attributes(15).font->bold);
    EXPECT_EQ(after.attributes(15).bookmark, mark.bookmark) << "the bookmark went with the word";
    EXPECT_EQ(after.attributes(27).bookmark, last.bookmark) << "the last bookmark went with the word";
    EXPECT_EQ(alignments(), aligned) << "a paragraph took another's alignment";
    EXPECT_TRUE(bar->status().contains("4 replaced")) << bar->status().toStdString();
    text->undo();
    EXPECT_EQ(script().string(), original.string()) << "not one undo step";

    // Nothing to change: no edit, no step, nothing marked.
    text->document()->setModified(false);
    const int undoSteps = text->document()->availableUndoSteps();
    searchFor("then", "then");
    EXPECT_EQ(bar->replaceAll(), 0);
    EXPECT_TRUE(bar->replace()) << "the match was not the selection";
    EXPECT_FALSE(text->document()->isModified());
    EXPECT_EQ(text->document()->availableUndoSteps(), undoSteps);

    // One at a time: the selected match, then the next is selected; an empty replacement passes
    // the bookmark on to the character beside it.
    searchFor("teh ", "");
    EXPECT_EQ(selection(), (TextRange{15, 4}));
    EXPECT_TRUE(bar->replace());
    EXPECT_EQ(text->undoActionName(), "Replace");
    const QString replaced = QStringLiteral("teh start\nthen and TEH\nteh");
    EXPECT_EQ(script().string(), replaced);
    EXPECT_EQ(script().attributes(15).bookmark, mark.bookmark);
    EXPECT_EQ(selection(), (TextRange{0, 4})) << "the next match round the end";

    // Locked: found, never replaced.
    text->setReadOnly(true);
    bar->updateReplaceAllowed();
    EXPECT_FALSE(bar->findChild<QPushButton*>("replaceAllButton")->isEnabled());
    EXPECT_FALSE(bar->replace());
    EXPECT_EQ(bar->replaceAll(), 0);
    bar->findNext();
    EXPECT_EQ(selection(), (TextRange{0, 4}));
    EXPECT_EQ(script().string(), replaced);
}

// Replace and Replace All as a person would do them: the bar shown, both fields typed, the button
// clicked. A paragraph they grow is cut as any other way of growing it cuts it.
TEST_F(FindBarTest, MatchesOverTheEditorsCutsAreFoundAndReplaced) {
    const QString spaced = QStringLiteral("one two three four five six seven eight nine ten ").repeated(1429);
    const struct {
        const char* name;
        QString text; // one long paragraph the editor cuts into blocks
        QString find;
        QString replacement;
        const char* status;
        int replaced;
    } cases[] = {
        {"cut at spaces", spaced.left(70020), spaced.left(48), "1 2 3 4 5 6 7 8 9 10", "1 of 1429", 1429},
        {"no space", QStringLiteral("ab").repeated(9000), "ba", "-", "1 of 8999", 8999},
        {"CJK", QStringLiteral("漢字仮名").repeated(4500), "名漢", "", "1 of 4499", 4499},
        {"a run made longer", QStringLiteral("ab").repeated(9000), "a", "aaa", "1 of 9000", 9000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setText(AttributedString(c.text));
        ASSERT_GT(text->document()->blockCount(), 1);
        select(0, 0);
        bar->showBar(FindBar::Mode::replace);
        for (const auto& [field, typed] :
             {std::pair{&bar->findField(), c.find}, std::pair{&bar->replaceField(), c.replacement}}) {
            field->clear(), field->insert(typed); // typed: not ASCII
        }
        EXPECT_EQ(bar->status().toStdString(), c.status);
        const auto expectCut = [&](const char* after) {
            for (QTextBlock block = text->document()->begin(); block.isValid(); block = block.next()) {
                ASSERT_FALSE(cw::editor::isPastLimits(block)) << after << " left uncut " << block.position();
            }
        };
        QString once = c.text; // the first match is selected
        once.replace(once.indexOf(c.find), c.find.size(), c.replacement);
        bar->findChild<QPushButton*>("replaceButton")->click();
        EXPECT_TRUE(script().string() == once);
        expectCut("Replace");
        text->undo();
        bar->findChild<QPushButton*>("replaceAllButton")->click();
        EXPECT_EQ(bar->status().toStdString(), std::to_string(c.replaced) + " replaced");
        QString expected = c.text;
        expected.replace(c.find, c.replacement);
        EXPECT_TRUE(script().string() == expected);
        expectCut("Replace All");
        text->undo();
        EXPECT_TRUE(script().string() == c.text) << "undone";
        bar->closeBar();
    }
}

// Replace All over two million characters without a space, every one a match: the event loop
// turns between its slices (the remote control, the windows), and between them again as one undo
// takes it all back and one redo makes it again. The Cancel of Replace All's progress window takes
// back what was replaced; that of an undo's or a redo's leaves the text as it was before it. Cancel
// answers at once, and nothing stops the walk back half-way; a quit leaves Replace All a long edit,
// which nothing hands to the script.
TEST_F(FindBarTest, ReplaceAllOverALongRunAndItsUndoLetTheLoopTurnAndTheirCancelsStepBack) {
    const QString run(1 << 21, u'x');
    const QString replaced(1 << 21, u'y');
    // The progress windows at once, however fast this machine does the work.
    cw::editor::ProgressWindow::setDelayForTests(0);
    const auto usualDelays = qScopeGuard([] { cw::editor::ProgressWindow::setDelayForTests(std::nullopt); });
    setText(AttributedString(run));
    bar->showBar(FindBar::Mode::replace);
    searchFor(QStringLiteral("x"), QStringLiteral("y"));
    const auto turnsDuring = [](const std::function<void()>& work) {
        int turns = 0;
        QTimer turning;
        QObject::connect(&turning, &QTimer::timeout, [&] { ++turns; });
        turning.start(0);
        work();
        return turns;
    };
    using cwtest::cancelling;
    // An undo asked for while it goes on (a shortcut let through) waits for it to end.
    QTimer::singleShot(0, text, [&] { text->undo(); });
    EXPECT_GT(turnsDuring([&] { EXPECT_EQ(bar->replaceAll(), 1 << 21); }), 0) << "Replace All held the loop";
    EXPECT_TRUE(script().string() == replaced) << "an undo came between its slices";
    EXPECT_EQ(text->undoActionName(), "Replace All");
    // The matches of a long text are counted a part at a time; the count ends where one call did.
    const auto counted = [&] {
        EXPECT_TRUE(bar->isCounting()) << "counted in one go";
        EXPECT_TRUE(QTest::qWaitFor([&] { return !bar->isCounting(); }, 60000));
        return bar->status().toStdString();
    };
    EXPECT_EQ(counted(), "2097152 replaced");
    EXPECT_GT(turnsDuring([&] { undoFromContextMenu(); }), 0) << "its undo held the loop";
    EXPECT_TRUE(script().string() == run) << "one undo from the context menu did not take it back";
    select(5, 6);
    bar->findNext();
    EXPECT_EQ(counted(), "7 of 2097152");
    EXPECT_GT(turnsDuring([&] { text->redo(); }), 0) << "its redo held the loop";
    EXPECT_TRUE(script().string() == replaced) << "one redo did not make it again";
    EXPECT_FALSE(text->isReadOnly());

    EXPECT_TRUE(cancelling("Undo", [&] { text->undo(); })) << "no progress window";
    EXPECT_TRUE(script().string() == replaced) << "a cancelled undo left part of it undone";
    EXPECT_EQ(text->undoActionName(), "Replace All");
    text->undo();
    EXPECT_TRUE(cancelling("Redo", [&] { text->redo(); })) << "no progress window";
    EXPECT_TRUE(script().string() == run) << "a cancelled redo left part of it redone";

    EXPECT_TRUE(cancelling("Replace All", [&] { EXPECT_EQ(bar->replaceAll(), 0); })) << "no progress window";
    EXPECT_EQ(bar->status().toStdString(), "Cancelled");
    EXPECT_TRUE(script().string() == run) << "the cancel left replacements";
    EXPECT_FALSE(text->isReadOnly());
    text->redo();
    EXPECT_TRUE(script().string() == run) << "the cancelled part was left to redo";

    const auto quit = qScopeGuard([] { platform::setApplicationQuitting(false); });
    QTimer quitting;
    QObject::connect(&quitting, &QTimer::timeout,
                     [&] { platform::setApplicationQuitting(text->isInLongEdit()); });
    quitting.start(0);
    bar->replaceAll();
    EXPECT_TRUE(text->isInLongEdit()) << "the half was handed over as a finished edit";
}

// The matches are counted once a long edit is over, of its whole: neither a refresh asked for
// before it nor a count going on as it starts reads its half.
TEST_F(FindBarTest, ALongEditsHalfIsNotCounted) {
    bar->showBar(FindBar::Mode::find);
    const auto counted = [&](int n) { return bar->status().endsWith(QStringLiteral(" of %1").arg(n)); };
    for (const int length : {0, 1 << 21}) {
        setText(AttributedString(QStringLiteral("a ") + QString(length, u'x')));
        type(bar->findField(), "a");
        text->beginStepGroup();
        const auto insert = [&] { text->namedEdit("Paste", [](QTextCursor& at) { at.insertText("a "); }); };
        insert();
        QCoreApplication::processEvents(); // what was queued before it
        ASSERT_TRUE(QTest::qWaitFor([&] { return !bar->isCounting(); }, 60000));
        EXPECT_FALSE(counted(2)) << "the half was counted " << length;
        insert();
        text->endStepGroup();
        EXPECT_TRUE(QTest::qWaitFor([&] { return counted(3); }, 60000)) << bar->status().toStdString();
    }
}

} // namespace

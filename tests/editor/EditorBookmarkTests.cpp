// Bookmarks inserted and deleted at a line of the editor: undo steps and what the project receives.
#include "base/Log.h"
#include "cuewright/editor/EditorController.h"
#include "cuewright/editor/ScriptTextView.h"
#include "cuewright/editor/TextBridge.h"
#include "cuewright/editor/TextFinder.h"
#include "cuewright/model/Project.h"
#include "platform/defaults/Defaults.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QTest>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using cw::editor::EditorController;
using cw::editor::ScriptTextView;
using platform::AttributedString;

namespace {

class EditorBookmarkTest : public ::testing::Test {
public: // the steps below reach in
    EditorBookmarkTest()
        : defaults(platform::Defaults::Options{dir / "defaults.json", 1h, {}})
        , project(cw::Project::create(defaults))
        , controller(std::make_shared<EditorController>(project, view, defaults)) {
        view.resize(600, 400);
        view.show();
        project->setText(AttributedString(QStringLiteral("one two\nthree four\n*five\n")));
        controller->load();
    }
    // Bookmark objects in the view's text and, by line, in the project's.
    int viewBookmarks() const {
        int count = 0;
        for (const auto& run : cw::editor::attributedText(*view.document()).runs()) {
            count += run.attributes.bookmark ? run.range.length : 0;
        }
        return count;
    }
    std::vector<int> projectBookmarkLines() const {
        std::vector<int> lines;
        for (const auto& bookmark : project->bookmarks()) {
            lines.push_back(bookmark.line);
        }
        return lines;
    }
    void undoHandedOver() { view.undo(), controller->autosave(); }
    void redoHandedOver() { view.redo(), controller->autosave(); }
    void putCursor(int position) {
        QTextCursor cursor = view.textCursor();
        cursor.setPosition(position);
        view.setTextCursor(cursor);
    }

    testsupport::TempDir dir;
    platform::Defaults defaults;
    std::shared_ptr<cw::Project> project;
    ScriptTextView view;
    std::shared_ptr<EditorController> controller;
};

TEST_F(EditorBookmarkTest, InsertDeleteUndoRedoReachTheProject) {
    struct Step {
        const char* what;
        std::function<void(EditorBookmarkTest&)> act;
        int inView;
        std::vector<int> projectLines; // line 3 starts with "*" and is always one
        QString undoName, redoName;
    };
    const QString inserted = QStringLiteral("Insert Bookmark at line 2");
    const QString deleted = QStringLiteral("Delete Bookmark");
    using T = EditorBookmarkTest;
    const auto undo = &T::undoHandedOver;
    const auto redo = &T::redoHandedOver;
    const auto toggleAt = [](int position) {
        return [position](T& t) { t.putCursor(position), t.controller->toggleBookmark(); };
    };
    const auto toggle = [](T& t) { t.controller->toggleBookmark(); };
    const auto typeX = [](T& t) {
        t.putCursor(0), QTest::keyClick(&t.view, Qt::Key_X), t.controller->autosave();
    };
    const auto atTheEnd = [](T& t) {
        t.view.moveCursor(QTextCursor::End);
        EXPECT_EQ(t.controller->toggleBookmarkTitle(), QStringLiteral("Delete Bookmark"));
    };
    const auto twoRuns = [](T& t) {
        t.view.insertBookmark(1);
        QTextCursor second(t.view.document());
        second.setPosition(4), second.setPosition(5, QTextCursor::KeepAnchor);
        QTextCharFormat format;
        format.setProperty(cw::editor::TextProperty::bookmark,
                           QVariant::fromValue(std::make_shared<platform::EmbeddedBookmark>()));
        second.mergeCharFormat(format);
        ASSERT_EQ(t.viewBookmarks(), 2);
        t.controller->deleteBookmark(1);
    };
    const auto unstar = [](T& t) {
        t.putCursor(23), t.controller->toggleBookmark();
        EXPECT_EQ(t.view.toPlainText(), QStringLiteral("xone two\nthree four\nfive\n"));
    };
    const auto rename = [](const char* note) {
        return [note](T& t) { t.controller->renameBookmark(t.project->bookmarks().at(0), note); };
    };
    const QString renamed = QStringLiteral("Rename Bookmark");
    const auto deleteStar = [](T& t) { t.controller->deleteBookmark(3); };
    const Step steps[] = {
        {"insert on line 2", toggleAt(12), 1, {2, 3}, inserted, {}},
        {"undo insert", undo, 0, {3}, {}, inserted},
        {"redo insert", redo, 1, {2, 3}, inserted, {}},
        {"delete on line 2", toggle, 0, {3}, deleted, {}},
        {"undo delete", undo, 1, {2, 3}, inserted, deleted},
        {"redo delete", redo, 0, {3}, deleted, {}},
        {"a typed letter is a step of its own", typeX, 0, {3}, {}, {}},
        {"after the final line break the last line", atTheEnd, 0, {3}, {}, {}},
        {"two runs on line 1 both go", twoRuns, 0, {3}, deleted, {}},
        {"the star line loses its star, one step", unstar, 0, {}, deleted, {}},
        {"undo brings the star back", undo, 0, {3}, deleted, deleted},
        {"a note for the star line: still one bookmark", rename("Finale"), 1, {3}, renamed, {}},
        {"the note changes as a step of its own", rename("Coda"), 1, {3}, renamed, {}},
        {"deleting it takes object and star", deleteStar, 0, {}, deleted, {}},
    };
    for (const Step& step : steps) {
        step.act(*this);
        EXPECT_EQ(viewBookmarks(), step.inView) << step.what;
        EXPECT_EQ(projectBookmarkLines(), step.projectLines) << step.what;
        EXPECT_FALSE(controller->hasPendingEdit()) << step.what;
        EXPECT_EQ(view.undoActionName().toStdString(), step.undoName.toStdString()) << step.what;
        EXPECT_EQ(view.redoActionName().toStdString(), step.redoName.toStdString()) << step.what;
    }
}

// Undo and redo of a step that changes looks or text leave the caret in what the step changed,
// wherever it stood before and however Qt places it; typing after a bookmark's goes in at the
// start of its line.
TEST_F(EditorBookmarkTest, UndoAndRedoLeaveTheCaretAtTheChange) {
    using T = EditorBookmarkTest;
    const auto bold = [](T& t) {
        QTextCursor four = t.view.textCursor();
        four.setPosition(14), four.setPosition(18, QTextCursor::KeepAnchor);
        t.view.setTextCursor(four);
        t.controller->toggleTrait(EditorController::TextTrait::bold);
    };
    const auto replaceAll = [](T& t) {
        t.view.namedEdit(QStringLiteral("Replace All"), [](QTextCursor& cursor) {
            cw::editor::TextFinder::replace(cursor, {14, 4}, QStringLiteral("4"));
            cw::editor::TextFinder::replace(cursor, {8, 5}, QStringLiteral("3"));
        });
    };
    const auto deleteHere = [](T& t) { t.controller->deleteBookmark(t.view.currentLine()); };
    const struct {
        const char* what;
        std::function<void(T&)> act;
        int from, to; // the characters changed, either way; a bookmark's line at its start
    } steps[] = {
        {"bold", bold, 14, 18},
        {"a bookmark", [](T& t) { t.putCursor(8), t.controller->toggleBookmark(); }, 8, 8},
        {"a bookmark deleted", deleteHere, 8, 8},
        {"Replace All", replaceAll, 8, 18},
    };
    for (const auto& step : steps) {
        step.act(*this);
        for (const auto& [direction, run] :
             {std::pair{"undo", &ScriptTextView::undo}, std::pair{"redo", &ScriptTextView::redo}}) {
            view.moveCursor(QTextCursor::End);
            (view.*run)();
            const int at = view.textCursor().position();
            EXPECT_TRUE(at >= step.from && at <= step.to) << step.what << ", " << direction << ": " << at;
        }
    }
}

// The notes of the bookmark objects in a saved script, read back from its file, in text order.
std::vector<std::string> savedNotes(const std::filesystem::path& file, platform::Defaults& defaults,
                                    QString* text = nullptr) {
    const auto opened = cw::Project::create(defaults);
    opened->loadDocument(file.string());
    std::vector<std::string> notes;
    for (const auto& run : opened->document().text.runs()) {
        if (run.attributes.bookmark) {
            notes.push_back(run.attributes.bookmark->userBlurb.toStdString());
        }
    }
    if (text) {
        *text = opened->document().text.string();
    }
    return notes;
}

TEST_F(EditorBookmarkTest, NotesAndDeletedStarsReachTheSavedFile) {
    putCursor(0);
    controller->toggleBookmark();
    controller->renameBookmark(project->bookmarks().at(0), QStringLiteral("Opening"));
    controller->renameBookmark(project->bookmarks().at(1), QStringLiteral("Finale")); // the "*" line
    const auto marks = project->bookmarks();
    ASSERT_EQ(marks.size(), 2u) << "one bookmark a line";
    EXPECT_EQ(marks[1].line, 3);
    EXPECT_EQ(marks[1].userBlurb, "Finale");
    const auto file = dir / "notes.cwr";
    project->save(file.string());
    QString text;
    EXPECT_EQ(savedNotes(file, defaults, &text), (std::vector<std::string>{"Opening", "Finale"}));
    EXPECT_EQ(text, QStringLiteral("one two\nthree four\n*five\n"));

    controller->deleteBookmark(3);
    EXPECT_EQ(view.undoActionName(), QStringLiteral("Delete Bookmark"));
    EXPECT_TRUE(project->hasUnsavedChanges());
    project->save(file.string());
    EXPECT_EQ(savedNotes(file, defaults, &text), (std::vector<std::string>{"Opening"}));
    EXPECT_EQ(text, QStringLiteral("one two\nthree four\nfive\n")) << "the rest of the line stays";

    view.undo();
    controller->autosave();
    ASSERT_EQ(project->bookmarks().size(), 2u);
    EXPECT_EQ(project->bookmarks()[1].userBlurb, "Finale") << "star and note come back together";
    view.undo(); // the note goes, the star line stays a bookmark
    controller->autosave();
    ASSERT_EQ(project->bookmarks().size(), 2u);
    EXPECT_EQ(project->bookmarks()[1].userBlurb, "");
    EXPECT_EQ(project->bookmarks()[1].excerpt, "*five");
}

// Right after a keystroke the editor holds an edit that the project gets 0.3 s later; its
// bookmarks (for the jumps and the Bookmarks menu) are those of the text as typed.
TEST_F(EditorBookmarkTest, BookmarksRightAfterAKeystrokeAreThoseAfterTheHandOver) {
    QString script = QStringLiteral("intro\n");
    for (int i = 1; i <= 80; ++i) {
        script += QStringLiteral("*part %1\n").arg(i);
    }
    project->setText(AttributedString(script));
    putCursor(0);
    QTest::keyClick(&view, Qt::Key_X);
    ASSERT_TRUE(controller->hasPendingEdit());
    const auto rightAway = project->bookmarks();
    controller->autosave();
    EXPECT_EQ(rightAway.size(), 80u);
    EXPECT_EQ(rightAway, project->bookmarks());

    QTest::keyClick(&view, Qt::Key_Y);
    ASSERT_TRUE(controller->hasPendingEdit());
    project->setProgress(0, /*animated=*/false, /*immediate=*/true);
    project->jumpToNextBookmark();
    EXPECT_DOUBLE_EQ(project->transportState().progress, (2 - 1 + 0.155) / project->editor().lineCount)
        << "Next Bookmark right after typing";
}

TEST_F(EditorBookmarkTest, NoLineNoTextOrReadOnlyLeaveTheTextAlone) {
    std::vector<std::string> logged;
    base::setLogSink([&](std::string_view line) { logged.emplace_back(line); });
    putCursor(0);
    EXPECT_EQ(controller->toggleBookmarkTitle(), QStringLiteral("Insert Bookmark"));
    view.moveCursor(QTextCursor::End);
    EXPECT_EQ(view.currentLine(), -1);
    EXPECT_EQ(controller->toggleBookmarkTitle(), QStringLiteral("Delete Bookmark"))
        << "the last line's, a \"*\" line";
    EXPECT_FALSE(view.insertBookmark(-1));
    // Without a closing line break the end of the text is on the last line (Ctrl+End, Ctrl+D).
    {
        QTextCursor last = view.textCursor();
        last.movePosition(QTextCursor::End);
        last.deletePreviousChar();
        view.setTextCursor(last);
        EXPECT_EQ(view.currentLine(), view.lineMetrics().lineRanges.back().lineNum);
        last.insertText(QStringLiteral("\n"));
        view.setTextCursor(last);
        EXPECT_EQ(view.currentLine(), -1);
    }
    EXPECT_TRUE(view.insertBookmark(9)) << "a line past the end places it at the start";
    putCursor(0);
    EXPECT_EQ(controller->toggleBookmarkTitle(), QStringLiteral("Delete Bookmark"));
    view.setReadOnly(true);
    EXPECT_FALSE(view.deleteBookmark(1));
    EXPECT_EQ(viewBookmarks(), 1);

    project->setText(AttributedString());
    EXPECT_EQ(view.currentLine(), 0);
    view.setReadOnly(false);
    EXPECT_FALSE(view.insertBookmark(0));
    EXPECT_FALSE(view.deleteBookmark(0));
    EXPECT_EQ(view.undoActionName(), QString()) << "a new text starts a new history";
    base::setLogSink({});
    EXPECT_EQ(logged, (std::vector<std::string>{
                          "invalid line number", "inserting bookmark at line 9 which is pos 0!",
                          "deleting bookmark at line 1!", "empty document. not inserting bookmark, bro.",
                          "empty document. not inserting bookmark, bro."}));
}

// Ctrl+End, Ctrl+D on the empty line after the final line break bookmarks the last line; a
// command that changes nothing, and an undo back to the saved text, leave the script unedited.
TEST_F(EditorBookmarkTest, OnlyACommandThatChangesTheTextMarksTheScriptEdited) {
    project->setText(AttributedString(QStringLiteral("one two\nthree four\n")));
    project->setHasUnsavedChanges(false);
    using T = EditorBookmarkTest;
    const auto atTheEnd = [](T& t) { t.view.moveCursor(QTextCursor::End), t.controller->toggleBookmark(); };
    const auto serifOverAll = [](T& t) {
        QTextCursor all(t.view.document());
        all.select(QTextCursor::Document);
        QTextCharFormat serif;
        serif.setFontFamilies({QStringLiteral("DejaVu Serif")});
        all.mergeCharFormat(serif);
        t.controller->autosave();
    };
    const auto readOnly = [](T& t) {
        t.view.setReadOnly(true), t.putCursor(0), t.controller->toggleBookmark();
        t.view.setReadOnly(false);
    };
    const auto emptyText = [](T& t) {
        t.project->setText(AttributedString());
        t.project->setHasUnsavedChanges(false);
        t.controller->toggleBookmark();
    };
    const struct {
        const char* what;
        std::function<void(T&)> act;
        std::vector<int> projectLines;
        bool edited;
    } steps[] = {
        {"a bookmark after the final line break", atTheEnd, {2}, true},
        {"undone", &T::undoHandedOver, {}, false},
        {"a serif font over the text", serifOverAll, {}, true},
        {"undone", &T::undoHandedOver, {}, false},
        {"read-only: refused", readOnly, {}, false},
        {"an empty text: refused", emptyText, {}, false},
    };
    for (const auto& step : steps) {
        step.act(*this);
        EXPECT_EQ(projectBookmarkLines(), step.projectLines) << step.what;
        EXPECT_EQ(project->hasUnsavedChanges(), step.edited) << step.what;
    }
}

} // namespace

// The editor window around a real project, offscreen, with a fake shell, panels and alerts.
#include "cuewright/controls/ColorWell.h"
#include "cuewright/controls/NormalSlider.h"
#include "cuewright/controls/TimeControl.h"
#include "cuewright/controls/TransportButton.h"
#include "cuewright/displays/ScreenInfoViewController.h"
#include "cuewright/displays/ScreenListController.h"
#include "cuewright/displays/ScreensController.h"
#include "cuewright/editor/BookmarkListController.h"
#include "cuewright/editor/EditorAppearance.h"
#include "cuewright/editor/EditorController.h"
#include "cuewright/editor/EditorScrolling.h"
#include "cuewright/editor/EditorWindowController.h"
#include "cuewright/editor/EditorWindowControllerDelegate.h"
#include "cuewright/editor/LineMetrics.h"
#include "cuewright/editor/ProjectPropertiesController.h"
#include "cuewright/editor/ScriptTextView.h"
#include "cuewright/editor/SidebarController.h"
#include "cuewright/editor/StatusbarController.h"
#include "cuewright/editor/TextBridge.h"
#include "cuewright/model/KeyBindings.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/ScreenDescription.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/model/TimeFormat.h"
#include "cuewright/model/UserDefaults.h"
#include "platform/defaults/Defaults.h"
#include "platform/ui/Appearance.h"
#include "platform/ui/FakeAlertRunner.h"
#include "platform/ui/FakeFileDialogs.h"

#include "ScreenshotSupport.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <QTextBlock>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>

using namespace std::chrono_literals;
using cw::Editor;
using cw::TeleprompterWindowPreset;
using cw::editor::EditorWindowController;
using platform::AttributedString;

namespace {

// The application shell as the window sees it; it lets go of the controller when told it closes.
struct FakeShell final : cw::editor::EditorWindowControllerDelegate {
    void editorWindowControllerDidBecomeMain(EditorWindowController&) override { ++becameMain; }
    void editorWindowControllerWillClose(EditorWindowController& controller) override {
        closed.push_back(&controller);
        held.reset();
    }
    void editorWindowControllerSpawnPrompterWindow(EditorWindowController&,
                                                   TeleprompterWindowPreset preset) override {
        spawned.push_back(preset);
    }
    void editorWindowControllerShowPrompter(EditorWindowController&) override { ++prompterShown; }
    bool editorWindowControllerToggleScreenBoundPrompter(EditorWindowController&,
                                                         const cw::ScreenDescription& screen) override {
        toggled.push_back(screen.displayUUID);
        return true;
    }
    int becameMain = 0;
    int prompterShown = 0;
    std::vector<std::string> toggled;
    std::vector<EditorWindowController*> closed;
    std::vector<TeleprompterWindowPreset> spawned;
    std::shared_ptr<EditorWindowController> held;
};

class EditorWindowTest : public ::testing::Test {
protected:
    EditorWindowTest()
        : defaults(platform::Defaults::Options{dir / "defaults.json", 1h, {}}) {
        cw::registerUserDefaults(defaults);
        previousDialogs = platform::setFileDialogs(dialogs);
        previousAlerts = platform::setAlertRunner(alerts);
        project = cw::Project::create(defaults);
        project->setText(AttributedString(QStringLiteral("Good evening.\n*Intro\nThis is the news.")));
    }
    ~EditorWindowTest() override {
        // What the project posted to its listeners (the transport's ticks hold them) and the
        // panes' deferred refreshes run now, while the settings they read still exist.
        project->pause();
        QCoreApplication::processEvents();
        controller.reset();
        shell->held.reset();
        platform::setFileDialogs(previousDialogs);
        platform::setAlertRunner(previousAlerts);
    }
    // A window shown at 1200 × 800, its controller held by the fake shell as the real one does;
    // `beforeShow` sees it built but not yet shown.
    EditorWindowController& open(const std::function<void(EditorWindowController&)>& beforeShow = {}) {
        shell->held = EditorWindowController::create(project, {&defaults, nullptr});
        controller = shell->held;
        shell->held->setDelegate(shell);
        shell->held->window()->resize(1200, 800);
        if (beforeShow)
            beforeShow(*shell->held);
        shell->held->showWindow();
        waitForText();
        return *shell->held;
    }
    // A long script goes into the view piece by piece.
    void waitForText() {
        while (shell->held && shell->held->editorController() &&
               shell->held->editorController()->isLoadingText()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        }
    }
    QString path(const char* name) const { return QString::fromStdString((dir / name).string()); }
    template <class Change> void changeProperties(Change change) {
        auto properties = project->document().scriptProperties;
        change(properties);
        project->setScriptProperties(properties);
    }
    // A script of `count` lines made from `line` (its %1 numbered from `first`).
    QStringList setLines(int count, const QString& line, int first = 1) {
        QStringList lines;
        for (int i = first; i < first + count; ++i)
            lines << line.arg(i);
        project->setText(AttributedString(lines.join(u'\n')));
        return lines;
    }

    testsupport::TempDir dir;
    platform::Defaults defaults;
    std::shared_ptr<cw::Project> project;
    std::shared_ptr<FakeShell> shell = std::make_shared<FakeShell>();
    std::weak_ptr<EditorWindowController> controller;
    std::shared_ptr<platform::FakeFileDialogs> dialogs = std::make_shared<platform::FakeFileDialogs>();
    std::shared_ptr<platform::FakeAlertRunner> alerts = std::make_shared<platform::FakeAlertRunner>();
    std::shared_ptr<platform::FileDialogs> previousDialogs;
    std::shared_ptr<platform::AlertRunner> previousAlerts;
};

bool activate(EditorWindowController& w) {
    w.window()->activateWindow();
    return QTest::qWaitForWindowActive(w.window());
}

bool isInside(QWidget* widget, QWidget* anchor) {
    return widget && anchor && anchor->isAncestorOf(widget);
}

// A left click where `widget` shows in its window, on whatever is there.
void clickInWindow(QWidget* widget, QPoint at = {}) {
    QWidget* window = widget->window();
    const QPoint place = widget->mapTo(window, at.isNull() ? widget->rect().center() : at);
    QWidget* hit = window->childAt(place);
    ASSERT_EQ(hit, widget) << "covered by " << (hit ? hit->metaObject()->className() : "nothing");
    QTest::mouseClick(hit, Qt::LeftButton, {}, hit->mapFrom(window, place));
}

// Clicks the open menu's item titled `title` and waits for the menu to close.
void chooseFromMenu(QMenu& menu, const QString& title) {
    ASSERT_TRUE(QTest::qWaitFor([&] { return menu.isVisible(); }));
    QAction* item = nullptr;
    for (QAction* candidate : menu.actions())
        if (candidate->text() == title)
            item = candidate;
    ASSERT_TRUE(item) << "no item " << title.toStdString();
    ASSERT_TRUE(item->isEnabled()) << title.toStdString();
    QTest::mouseClick(&menu, Qt::LeftButton, {}, menu.actionGeometry(item).center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !menu.isVisible(); }));
}

// Opens the menu of a tool button by clicking it, then clicks the menu's item titled `title`.
void chooseFromButtonMenu(QToolButton* button, QMenu& menu, const QString& title) {
    clickInWindow(button);
    chooseFromMenu(menu, title);
}

// Opens a row's context menu at its place in the column, then clicks the item titled `title`.
void chooseFromRowMenu(cw::editor::BookmarkListController& list, int row, const QString& title) {
    QWidget* viewport = list.tableView().viewport();
    const QPoint at = list.tableView().visualItemRect(list.tableView().item(row)).center();
    QContextMenuEvent rightClick(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
    QApplication::sendEvent(viewport, &rightClick);
    chooseFromMenu(list.contextMenu(), title);
}

std::vector<int> bookmarkLines(cw::Project& project) {
    std::vector<int> lines;
    for (const cw::Bookmark& b : project.bookmarks())
        lines.push_back(b.line);
    return lines;
}

// The four parts in their anchors; the bookmark column moves out to -250 or in at 0, the editor
// spans from the column (or 0) to the sidebar.
TEST_F(EditorWindowTest, PlacesItsPartsAndMovesTheBookmarkColumn) {
    EditorWindowController& w = open();
    EXPECT_TRUE(isInside(&w.editorController()->textView(), w.centerAnchorView()));
    EXPECT_TRUE(isInside(w.sidebarController()->view(), w.rightSidebarAnchorView()));
    EXPECT_TRUE(isInside(w.bookmarkListController()->view(), w.leftSidebarAnchorView()));
    EXPECT_TRUE(isInside(w.statusbarController()->view(), w.statusbarAnchorView()));
    EXPECT_EQ(w.mainWindow()->focusWidget(), &w.editorController()->textView());
    // The line that begins with "*" is listed once the editor has laid the script out.
    ASSERT_EQ(w.bookmarkListController()->bookmarks().size(), 1u);
    EXPECT_EQ(w.bookmarkListController()->bookmarks()[0].line, 2);
    const QRect right = w.rightSidebarAnchorView()->geometry();
    const QWidget* columns = w.rightSidebarAnchorView()->parentWidget();
    EXPECT_EQ(right.width(), EditorWindowController::sidebarWidth);
    EXPECT_EQ(right.right(), columns->width() - 1);
    EXPECT_EQ(w.statusbarAnchorView()->geometry().top(), columns->geometry().bottom() + 1)
        << "the status bar below the columns";
    EXPECT_EQ(w.statusbarAnchorView()->geometry().bottom(), w.mainWindow()->centralWidget()->height() - 1);

    QMenu& view = *w.menus()[1];
    const struct {
        bool shown;
        int leftX, centerX;
        const char* menuTitle;
    } steps[] = {{false, -250, 0, "Show Bookmark List"},
                 {true, 0, 250, "Hide Bookmark List"},
                 {false, -250, 0, "Show Bookmark List"}};
    for (size_t i = 0; i < std::size(steps); ++i) {
        if (i > 0)
            w.toggleLeftSidebarToolbarItem()->trigger();
        const auto& s = steps[i];
        EXPECT_EQ(defaults.boolForKey(cw::settings::showBookmarkSidebar), s.shown);
        EXPECT_EQ(w.toggleLeftSidebarToolbarItem()->isChecked(), s.shown);
        EXPECT_EQ(w.leftSidebarAnchorView()->geometry(), QRect(s.leftX, 0, 250, right.height())) << i;
        EXPECT_EQ(w.centerAnchorView()->geometry(),
                  QRect(s.centerX, 0, right.x() - s.centerX, right.height()))
            << i;
        w.validateMenu(view);
        EXPECT_EQ(view.actions()[4]->text(), s.menuTitle);
    }
    // A window opened with the column shown shows it at once.
    defaults.set(cw::settings::showBookmarkSidebar, true);
    EditorWindowController& again = open();
    EXPECT_EQ(again.centerAnchorView()->x(), 250);
    EXPECT_TRUE(again.toggleLeftSidebarToolbarItem()->isChecked());
}

// Each toolbar item's action and the states it shows afterwards; the menus, validated along the
// responder chain, have the window's own items enabled and show the same mode and lock.
TEST_F(EditorWindowTest, ToolbarItemsAndMenusActAndFollowTheProject) {
    EditorWindowController& w = open();
    QMenu& viewMenu = *w.menus()[1];
    const QList<QAction*> view = viewMenu.actions();
    QAction* modes[3];
    for (int m = 0; m < 3; ++m)
        modes[m] = w.editorModeToolbarItem(static_cast<Editor::Mode>(m));
    for (int m : {1, 2, 0}) {
        modes[m]->trigger();
        EXPECT_EQ(project->editor().mode, static_cast<Editor::Mode>(m));
        EXPECT_EQ(w.sidebarController()->currentMode(), static_cast<Editor::Mode>(m))
            << "the sidebar follows";
        w.validateMenu(viewMenu);
        for (int other = 0; other < 3; ++other) {
            EXPECT_EQ(modes[other]->isChecked(), other == m);
            EXPECT_EQ(view[other]->isChecked(), other == m) << "the View menu " << m;
        }
    }
    // Tags outside 1...3 (or no sender) change nothing.
    QObject sender;
    for (int tag : {0, 4}) {
        sender.setProperty("tag", tag);
        w.performAction("switchEditorMode:", &sender);
        EXPECT_EQ(project->editor().mode, Editor::Mode::script) << tag;
    }
    w.performAction("switchEditorMode:", nullptr);
    EXPECT_EQ(project->editor().mode, Editor::Mode::script);

    // The editor's mode chosen in the sidebar shows in the toolbar too.
    w.sidebarController()->microToolbarDidSelectItemAt(*w.sidebarController()->toolbar(), 2);
    EXPECT_TRUE(modes[2]->isChecked());

    for (bool locked : {true, false}) {
        w.toggleEditorLockToolbarItem()->trigger();
        EXPECT_EQ(project->editor().isLocked, locked);
        EXPECT_EQ(w.toggleEditorLockToolbarItem()->isChecked(), locked);
        for (QMenu* menu : w.menus()) {
            for (QAction* item : menu->actions())
                item->setEnabled(false);
            w.validateMenu(*menu);
            for (QAction* item : menu->actions())
                EXPECT_TRUE(item->isSeparator() || item->isEnabled()) << item->text().toStdString();
        }
        EXPECT_EQ(view[5]->isChecked(), locked) << "Lock Editor";
    }
    // Triggering a menu item reaches the window: Ctrl+2 chooses the overlay.
    view[1]->trigger();
    EXPECT_EQ(project->editor().mode, Editor::Mode::overlay);

    // Prompt and pause; "lockEditorDuringPrompting" locks the editor while it plays.
    QAction* play = w.playPauseToolbarItem();
    EXPECT_EQ(play->text(), "Prompt");
    for (bool playing : {true, false}) {
        play->trigger();
        EXPECT_EQ(project->transportState().isPlaying(), playing);
        EXPECT_EQ(play->isChecked(), playing);
        EXPECT_EQ(play->text(), playing ? "Pause" : "Prompt");
        EXPECT_EQ(w.toggleEditorLockToolbarItem()->isChecked(), playing);
        EXPECT_EQ(project->editor().isLocked, playing);
    }
    defaults.set(cw::settings::lockEditorDuringPrompting, false);
    play->trigger();
    EXPECT_FALSE(project->editor().isLocked) << "the setting off: only the button changes";
    play->trigger();

    // Prompter windows come from the shell, through the toolbar and through the menu.
    w.toolbar()->actions()[3]->trigger();
    w.menus()[2]->actions()[3]->trigger();
    EXPECT_EQ(shell->spawned,
              (std::vector{TeleprompterWindowPreset::normal, TeleprompterWindowPreset::transparent}));
}

// Closing with unsaved changes asks over the window (the answers themselves are the document
// commands' tests), for an edit still waiting for the autosave too; only a window that closed tells
// the shell, which then lets go of it.
TEST_F(EditorWindowTest, CloseAsksAndKeepsTheWindowUnlessSavedOrDiscarded) {
    const QString opening = project->document().text.string();
    const struct {
        const char* name;
        int answer;
        std::optional<QString> scriptPath;
        bool typed; // right before closing, so not handed over yet
        bool closes;
    } cases[] = {
        {"typed ", 1001, std::nullopt, true, false},
        {"save", 1000, path("own.cwr"), false, true},
        {"cancel", 1001, path("own.cwr"), false, false},
        {"don't save", 1002, std::nullopt, false, true},
    };
    for (const auto& c : cases) {
        EditorWindowController& w = open();
        project->setRepresentedPath(c.scriptPath ? std::optional(c.scriptPath->toStdString()) : std::nullopt);
        if (c.typed) {
            EXPECT_FALSE(project->hasUnsavedChanges()) << "a window opens unedited";
            EXPECT_FALSE(w.mainWindow()->isWindowModified());
            EXPECT_EQ(w.mainWindow()->windowTitle(), "Untitled[*]");
            QTest::keyClicks(&w.editorController()->textView(), c.name);
            ASSERT_TRUE(w.editorController()->hasPendingEdit());
        } else {
            project->setText(AttributedString(QString::fromLatin1(c.name)));
        }
        project->play();
        alerts->answer(c.answer);
        EXPECT_EQ(w.close(), c.closes) << c.name;
        ASSERT_EQ(alerts->shown().size(), size_t(&c - cases + 1)) << c.name;
        EXPECT_EQ(alerts->windows().back(), w.mainWindow());
        EXPECT_EQ(project->document().text.string(), c.typed ? c.name + opening : QString(c.name))
            << "the edits stay";
        if (!c.closes) {
            EXPECT_TRUE(w.window()->isVisible()) << c.name;
            EXPECT_TRUE(w.mainWindow()->isWindowModified());
            EXPECT_FALSE(w.hasBeenClosed());
            EXPECT_TRUE(shell->closed.empty());
            EXPECT_FALSE(controller.expired());
            project->pause();
            continue;
        }
        EXPECT_EQ(shell->closed.size(), 1u) << c.name;
        EXPECT_FALSE(project->transportState().isPlaying()) << "closing pauses";
        shell->closed.clear();
        // The window goes later, out of its own close event; the clock's queued notifications
        // hold the controller and its parts until they have run.
        QTest::qWait(0);
        EXPECT_TRUE(controller.expired()) << "the shell let go of it";
    }
}

// The script goes into the shown editor in one pass, at the column's font size and the script's
// alignment: nothing restyles it afterwards.
TEST_F(EditorWindowTest, TheScriptGoesInInOnePass) {
    int passes = 0; // changes of the document once it holds the script
    EditorWindowController& w = open([&](EditorWindowController& built) {
        const QTextDocument* document = built.editorController()->textView().document();
        QObject::connect(document, &QTextDocument::contentsChange,
                         [&passes, document] { passes += document->characterCount() > 1; });
    });
    EXPECT_EQ(passes, 1);
    const auto shown = cw::editor::attributedText(*w.editorController()->textView().document());
    ASSERT_TRUE(shown.attributes(shown.length() - 1).paragraphStyle);
    EXPECT_EQ(shown.attributes(shown.length() - 1).paragraphStyle->alignment,
              platform::ParagraphAlignment::center);
}

// The edited mark follows every unsaved change, a new speed too (quitting asks only for windows
// that show it); a save clears it and names the window after the file.
TEST_F(EditorWindowTest, TitleAndEditedMarkFollowTheProject) {
    EditorWindowController& w = open();
    QMainWindow& window = *w.mainWindow();
    const struct {
        const char* name;
        std::function<void()> change;
        bool edited;
    } steps[] = {
        {"speed", [&] { project->setScrollSpeed(50, 0.1, 3); }, true},
        {"save", [&] { w.saveDocument(); }, false},
        {"text", [&] { project->setText(AttributedString(QStringLiteral("new"))); }, true},
        {"properties", [&] { project->setScriptProperties(project->document().scriptProperties); }, true},
    };
    dialogs->answerSave(path("named.cwr"));
    for (const auto& s : steps) {
        s.change();
        EXPECT_EQ(window.isWindowModified(), s.edited) << s.name;
    }
    EXPECT_EQ(window.windowFilePath(), path("named.cwr"));
}

// A script from a rich-text file that ended early says so in a line of its window, as plain text,
// until it is saved.
TEST_F(EditorWindowTest, AFileThatEndedEarlySaysSoUntilSaved) {
    const QString file = path("cut <i>short.rtf");
    QFile rtf(file);
    ASSERT_TRUE(rtf.open(QIODevice::WriteOnly));
    rtf.write("{\\rtf1\\ansi Only the first");
    rtf.close();
    project->importRichText(file.toStdString());
    EditorWindowController& w = open();
    const auto* line = w.mainWindow()->findChild<QLabel*>(QStringLiteral("readNoticeLine"));
    ASSERT_NE(line, nullptr);
    EXPECT_TRUE(line->isVisible());
    EXPECT_EQ(line->textFormat(), Qt::PlainText);
    EXPECT_TRUE(line->text().contains(QStringLiteral("cut <i>short.rtf"))) << line->text().toStdString();
    const QString folder = editortest::screenshotFolder();
    ASSERT_FALSE(folder.isEmpty());
    EXPECT_TRUE(w.mainWindow()->grab().save(folder + "/file-ended-early.png"));
    dialogs->answerSave(path("whole.cwr"));
    w.saveDocument();
    EXPECT_FALSE(line->isVisible());
}

// A paste that would give the script more lines than the editor shows goes nowhere: the text and
// its size stay, and the yellow line says why until the text changes.
TEST_F(EditorWindowTest, APasteTooLongForTheEditorSaysWhyAndChangesNothing) {
    const QString text = QStringLiteral("Good evening.\n").repeated(200) + QStringLiteral("And welcome.");
    project->setText(AttributedString(text));
    EditorWindowController& w = open();
    cw::editor::ScriptTextView& view = w.editorController()->textView();
    const double size = w.editorController()->lineHeight();
    const auto* line = w.mainWindow()->findChild<QLabel*>(QStringLiteral("refusalNoticeLine"));
    ASSERT_NE(line, nullptr);
    EXPECT_FALSE(line->isVisible());
    QApplication::clipboard()->setText(QStringLiteral("a\n").repeated(2'900'000));
    while (w.editorController()->isSettling()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    view.moveCursor(QTextCursor::End);
    QApplication::processEvents();
    const double shown = view.scrollOffset();
    ASSERT_GT(shown, 0) << "the end of the text in view";
    view.paste();
    QApplication::processEvents();
    EXPECT_EQ(view.toPlainText(), text);
    EXPECT_EQ(w.editorController()->lineHeight(), size) << "shown as it was";
    EXPECT_NEAR(view.scrollOffset(), shown, 1.0) << "the same text at the reading position";
    EXPECT_TRUE(line->isVisible());
    EXPECT_TRUE(line->text().contains(QLocale().toString(2'900'201))) << line->text().toStdString();
    QTest::keyClick(&view, Qt::Key_X);
    EXPECT_FALSE(line->isVisible()) << "gone with the next change";
}

// HTML nested past what a page needs (a web page's copy handler can make it, and Qt would take
// minutes to read it) is not read: the plain text goes in instead and the yellow line says so;
// without a plain text nothing goes in, the selection stays, and the line says why.
TEST_F(EditorWindowTest, HtmlNestedTooDeeplyGoesInAsPlainTextOrNotAtAll) {
    project->setText(AttributedString(QStringLiteral("Good evening.")));
    EditorWindowController& w = open();
    cw::editor::ScriptTextView& view = w.editorController()->textView();
    const auto* line = w.mainWindow()->findChild<QLabel*>(QStringLiteral("refusalNoticeLine"));
    ASSERT_NE(line, nullptr);
    const QString deep = QStringLiteral("<table><tr><td>").repeated(20000) + QStringLiteral("<b>deep</b>") +
                         QStringLiteral("</td></tr></table>").repeated(20000);
    const struct {
        bool plain;
        const char* text;
        const char* says;
    } cases[] = {{true, "Good evening. deep words", "Pasted as plain text"},
                 {false, "Good evening. deep words", "Nothing was pasted"}};
    for (const auto& c : cases) {
        auto* mime = new QMimeData;
        mime->setHtml(deep);
        if (c.plain) {
            mime->setText(QStringLiteral(" deep words"));
        }
        QApplication::clipboard()->setMimeData(mime);
        view.moveCursor(QTextCursor::End);
        if (!c.plain) {
            view.moveCursor(QTextCursor::Left, QTextCursor::KeepAnchor); // the selection stays
        }
        view.paste();
        QApplication::processEvents();
        EXPECT_EQ(view.toPlainText(), QString::fromUtf8(c.text)) << c.says;
        EXPECT_TRUE(line->isVisible()) << c.says;
        EXPECT_TRUE(line->text().startsWith(QString::fromUtf8(c.says))) << line->text().toStdString();
        EXPECT_EQ(view.textCursor().hasSelection(), !c.plain);
    }
    const auto bold = cw::editor::attributedText(*view.document()).attributes(15).font;
    EXPECT_FALSE(bold && bold->bold) << "the plain text carries no bold";
}

// The bookmark column's "+" inserts or deletes the editor's bookmark at its line, "⋯" deletes the
// selected one and the context menu the clicked one; the Edit menu's Undo and Redo name the step.
// "Rename Bookmark" makes the row's label a field: Return stores the note through the editor (one
// undo step), Escape keeps the old one; a "*" line takes a note and stays one row. Deleting it
// takes the "*" off and keeps the rest of the line.
TEST_F(EditorWindowTest, BookmarksAreAddedRenamedAndRemovedFromTheColumn) {
    defaults.set(cw::settings::showBookmarkSidebar, true);
    EditorWindowController& w = open();
    ASSERT_TRUE(activate(w));
    cw::editor::BookmarkListController& list = *w.bookmarkListController();
    cw::editor::ScriptTextView& text = w.editorController()->textView();
    auto* add = list.view()->findChild<QToolButton*>(QStringLiteral("addButton"));
    auto* actions = list.view()->findChild<QToolButton*>(QStringLiteral("actionButton"));
    ASSERT_TRUE(add && actions);
    ASSERT_EQ(bookmarkLines(*project), std::vector<int>{2});
    const auto undoTitle = [&] { return w.titleForAction("undo:", nullptr); };

    text.setFocus();
    text.moveCursor(QTextCursor::Start);
    chooseFromButtonMenu(add, list.addButtonMenu(), QStringLiteral("Insert Bookmark"));
    EXPECT_EQ(bookmarkLines(*project), (std::vector<int>{1, 2}));
    EXPECT_EQ(list.tableView().count(), 2);
    EXPECT_EQ(undoTitle(), QStringLiteral("Undo Insert Bookmark at line 1"));
    text.undo();
    EXPECT_EQ(w.titleForAction("redo:", nullptr), QStringLiteral("Redo Insert Bookmark at line 1"));
    EXPECT_EQ(undoTitle(), QStringLiteral("Undo"));
    text.redo();
    w.editorController()->autosave();
    ASSERT_EQ(bookmarkLines(*project), (std::vector<int>{1, 2}));
    // On a line with a bookmark the same item deletes it.
    chooseFromButtonMenu(add, list.addButtonMenu(), QStringLiteral("Delete Bookmark"));
    EXPECT_EQ(bookmarkLines(*project), std::vector<int>{2});

    // "⋯" deletes the selected row's bookmark; a "*" line stays a bookmark.
    chooseFromButtonMenu(add, list.addButtonMenu(), QStringLiteral("Insert Bookmark"));
    ASSERT_EQ(list.tableView().count(), 2);
    QLabel* label = list.cellLabel(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return label->isVisible() && label->width() > 0; }))
        << "the row is laid out";
    clickInWindow(label); // the click goes on to the row under the label
    chooseFromButtonMenu(actions, list.actionButtonMenu(), QStringLiteral("Delete Bookmark"));
    EXPECT_EQ(bookmarkLines(*project), std::vector<int>{2});

    // The context menu of a row deletes that row's bookmark.
    text.moveCursor(QTextCursor::Start);
    chooseFromButtonMenu(add, list.addButtonMenu(), QStringLiteral("Insert Bookmark"));
    chooseFromRowMenu(list, 0, QStringLiteral("Delete Bookmark"));
    EXPECT_EQ(bookmarkLines(*project), std::vector<int>{2});
    EXPECT_EQ(undoTitle(), QStringLiteral("Undo Delete Bookmark"));

    ASSERT_TRUE(activate(w)) << "again, once the menus have gone";
    ASSERT_EQ(list.tableView().count(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return list.cellLabel(0)->isVisible(); }));
    const struct {
        const char* typed;
        Qt::Key end;
        const char* note; // the bookmark's note afterwards
        const char* label;
    } renames[] = {{"Top story", Qt::Key_Return, "Top story", "Line 2: Top story…"},
                   {"Other", Qt::Key_Escape, "Top story", "Line 2: Top story…"},
                   {"Lead", Qt::Key_Enter, "Lead", "Line 2: Lead…"}};
    for (const auto& r : renames) {
        chooseFromRowMenu(list, 0, QStringLiteral("Rename Bookmark"));
        QLineEdit* field = list.cellNoteEditor(0);
        ASSERT_TRUE(field);
        ASSERT_TRUE(QTest::qWaitFor([&] { return field->isVisible() && field->hasFocus(); })) << r.typed;
        EXPECT_FALSE(list.cellLabel(0)->isVisible());
        QTest::keyClicks(field, QString::fromUtf8(r.typed)); // replaces the selected old text
        QTest::keyClick(field, r.end);
        ASSERT_EQ(project->bookmarks().size(), 1u) << r.typed << ": never two rows for one line";
        EXPECT_EQ(project->bookmarks()[0].userBlurb, r.note) << r.typed;
        EXPECT_EQ(list.tableView().count(), 1) << r.typed;
        EXPECT_EQ(list.cellLabel(0)->text(), QString::fromUtf8(r.label)) << r.typed;
        EXPECT_TRUE(list.cellLabel(0)->isVisible()) << r.typed;
        EXPECT_EQ(list.renamingRow(), -1) << r.typed;
    }
    EXPECT_EQ(undoTitle(), QStringLiteral("Undo Rename Bookmark"));
    // Entered and left with Return, nothing typed: the script stays unedited.
    project->setHasUnsavedChanges(false);
    chooseFromRowMenu(list, 0, QStringLiteral("Rename Bookmark"));
    QLineEdit* field = list.cellNoteEditor(0);
    ASSERT_TRUE(field && QTest::qWaitFor([&] { return field->isVisible() && field->hasFocus(); }));
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(project->bookmarks()[0].userBlurb, "Lead");
    EXPECT_FALSE(project->hasUnsavedChanges());

    chooseFromRowMenu(list, 0, QStringLiteral("Delete Bookmark"));
    EXPECT_TRUE(project->bookmarks().empty());
    EXPECT_EQ(project->document().text.string(), QStringLiteral("Good evening.\nIntro\nThis is the news."));
    EXPECT_EQ(undoTitle(), QStringLiteral("Undo Delete Bookmark"));
}

// F6 and Shift+F6 go round the text, the bookmark list, the sidebar and the status bar; Tab from
// the sidebar reaches every control on the way, the transport buttons among them, and each shows a
// mark while it has the keyboard. Undo of a bookmark edit works from the list, its key too.
TEST_F(EditorWindowTest, F6AndTabReachEveryPartWithAMarkAndUndoWorksFromTheList) {
    defaults.set(cw::settings::showBookmarkSidebar, true);
    EditorWindowController& w = open();
    ASSERT_TRUE(activate(w));
    QWidget* window = w.window();
    cw::editor::ScriptTextView& text = w.editorController()->textView();
    QListWidget& list = w.bookmarkListController()->tableView();
    text.setFocus();
    const auto focus = [] { return QApplication::focusWidget(); };
    const auto press = [&](Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(focus(), key, modifiers);
    };
    press(Qt::Key_F6);
    EXPECT_EQ(focus(), &list);
    press(Qt::Key_F6);
    EXPECT_TRUE(isInside(focus(), w.rightSidebarAnchorView())) << focus()->metaObject()->className();
    press(Qt::Key_F6);
    EXPECT_TRUE(isInside(focus(), w.statusbarAnchorView()));
    press(Qt::Key_F6);
    EXPECT_EQ(focus(), &text);
    press(Qt::Key_F6, Qt::ShiftModifier);
    EXPECT_TRUE(isInside(focus(), w.statusbarAnchorView()));
    press(Qt::Key_F6, Qt::ShiftModifier);
    press(Qt::Key_F6, Qt::ShiftModifier);
    EXPECT_EQ(focus(), &list);

    // Every stop from the sidebar's first, until the keyboard is back in the text or the sidebar.
    press(Qt::Key_F6);
    QWidget* first = focus();
    ASSERT_TRUE(isInside(first, w.rightSidebarAnchorView()));
    const auto picture = [&](QWidget* stop) {
        return window->grab(QRect(stop->mapTo(window, QPoint()), stop->size())).toImage();
    };
    int transportButtons = 0;
    QWidget* stop = first;
    for (int i = 0; i < 80; ++i) {
        const QImage marked = picture(stop);
        press(Qt::Key_Tab);
        QWidget* next = focus();
        if (next == stop)
            continue; // a control of several fields (speed range, running time) steps within
        EXPECT_NE(picture(stop), marked)
            << "no mark on " << stop->metaObject()->className() << " " << stop->objectName().toStdString();
        transportButtons += stop->inherits("cw::controls::TransportButton") ? 1 : 0;
        stop = next;
        if (stop == first || stop == &text)
            break;
    }
    EXPECT_EQ(transportButtons, 7);

    text.setFocus();
    text.moveCursor(QTextCursor::Start);
    w.toggleBookmark();
    ASSERT_EQ(bookmarkLines(*project), (std::vector<int>{1, 2}));
    list.setFocus();
    EXPECT_TRUE(w.validateAction("undo:")) << "Edit ▸ Undo from the list";
    EXPECT_EQ(w.titleForAction("undo:", nullptr), QStringLiteral("Undo Insert Bookmark at line 1"));
    QTest::keyClick(&list, Qt::Key_Z, Qt::ControlModifier);
    w.editorController()->autosave();
    EXPECT_EQ(bookmarkLines(*project), std::vector<int>{2}) << "Ctrl+Z in the list";
    EXPECT_EQ(focus(), &list);
}

// In an 800 × 600 window the sidebar's rows keep their heights (the pane scrolls instead) and the
// status bar keeps the ends of the speed range. Pictures of it, light and dark, go to test-output.
TEST_F(EditorWindowTest, AnEightHundredBySixHundredWindowSqueezesNothing) {
    EditorWindowController& w = open();
    QWidget* window = w.window();
    window->resize(800, 600);
    QApplication::processEvents();
    ASSERT_LE(window->height(), 600);
    const auto wells = w.rightSidebarAnchorView()->findChildren<cw::controls::ColorWell*>();
    ASSERT_FALSE(wells.isEmpty());
    for (const auto* well : wells)
        EXPECT_GE(well->height(), well->sizeHint().height()) << "a squeezed colour well";
    QStringList shown;
    for (const QLabel* label : w.statusbarAnchorView()->findChildren<QLabel*>())
        if (label->isVisible())
            shown << label->text();
    EXPECT_TRUE(shown.contains("0.10") && shown.contains("3.00")) << shown.join(" | ").toStdString();
    const QString folder = editortest::screenshotFolder();
    for (const auto& look : editortest::lightAndDark) {
        platform::Appearance::applyToWindow(window, look.style);
        QApplication::processEvents();
        window->grab().save(folder + "/window-800x600-" + look.name + ".png");
    }
}

// Typing does not disturb the bookmark column: until the project has the edit the list stays as
// it is, and afterwards only a row whose label changed is touched; the scroll position and the
// selection stay throughout.
TEST_F(EditorWindowTest, TheBookmarkColumnHoldsStillWhileTyping) {
    const QString script = setLines(80, QStringLiteral("*Mark %1\nBody %1")).join(u'\n');
    defaults.set(cw::settings::showBookmarkSidebar, true);
    EditorWindowController& w = open();
    cw::editor::BookmarkListController& list = *w.bookmarkListController();
    QListWidget& table = list.tableView();
    cw::editor::ScriptTextView& text = w.editorController()->textView();
    ASSERT_EQ(table.count(), 80);
    table.setCurrentRow(49);
    table.scrollToItem(table.item(49), QAbstractItemView::PositionAtCenter);
    const int scrolled = table.verticalScrollBar()->value();
    ASSERT_GT(scrolled, 0);
    std::vector<QWidget*> cells;
    for (int row = 0; row < 80; ++row)
        cells.push_back(table.itemWidget(table.item(row)));
    const auto expectStill = [&](const char* when, int changedRow) {
        EXPECT_EQ(table.count(), 80) << when;
        EXPECT_EQ(table.currentRow(), 49) << when;
        EXPECT_EQ(table.selectionModel()->selectedRows().size(), 1) << when;
        EXPECT_EQ(table.verticalScrollBar()->value(), scrolled) << when;
        for (int row = 0; row < table.count(); ++row) {
            if (row != changedRow) {
                EXPECT_EQ(table.itemWidget(table.item(row)), cells[size_t(row)]) << when << ": row " << row;
            }
        }
    };

    text.setFocus();
    // At the end of "Body 30" (line 60), then at the end of "*Mark 31" (line 61).
    const struct {
        int position;
        int changedRow;
        const char* label;
    } edits[] = {{int(script.indexOf("\n*Mark 31")), -1, "Line 61: Mark 31…"},
                 {int(script.indexOf("\nBody 31")) + 1, 30, "Line 61: Mark 31x…"}};
    for (const auto& e : edits) {
        QTextCursor cursor = text.textCursor();
        cursor.setPosition(e.position);
        text.setTextCursor(cursor);
        QTest::keyClick(&text, Qt::Key_X);
        ASSERT_TRUE(w.editorController()->hasPendingEdit());
        expectStill("before the hand-over", -1);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !w.editorController()->hasPendingEdit(); }));
        expectStill("after the hand-over", e.changedRow);
        EXPECT_EQ(list.cellLabel(30)->text(), QString::fromUtf8(e.label));
    }
}

// At 760 × 480 with the bookmark column shown, the status bar's parts do not overlap and stay in
// the strip; the editor's scroll bar stands at the editor's right edge however narrow or off
// centre the text column is, and moves the column's text.
TEST_F(EditorWindowTest, ANarrowWindowKeepsItsPartsApartAndTheScrollBarAtTheEdge) {
    setLines(200, QStringLiteral("Line %1 of a script long enough to scroll."), 0);
    changeProperties([](auto& p) {
        p.prompterMargin = 0.5f;
        p.prompterMarginAlignment = -1.0f;
    });
    defaults.set(cw::settings::showBookmarkSidebar, true);
    EditorWindowController& w = open();
    w.window()->resize(760, 480);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.window()->width() == 760; }));
    QApplication::processEvents();

    cw::editor::StatusbarController& bar = *w.statusbarController();
    QWidget* strip = bar.view();
    QWidget* const parts[] = {
        &bar.scrollSpeedMinLabel(), &bar.speedSlider(),         &bar.scrollSpeedMaxLabel(),
        &bar.scrollSpeedLabel(),    &bar.transportAnchorView(), &bar.timestampLabel(),
        &bar.timeDividerLabel(),    &bar.runtimeLabel(),        &bar.lineCountLabel()};
    std::vector<std::pair<QWidget*, QRect>> shown;
    for (QWidget* part : parts)
        if (part->isVisible())
            shown.push_back({part, part->geometry()});
    for (const auto& [part, place] : shown)
        EXPECT_TRUE(strip->rect().contains(place)) << part->metaObject()->className();
    for (size_t i = 0; i < shown.size(); ++i)
        for (size_t j = i + 1; j < shown.size(); ++j)
            EXPECT_FALSE(shown[i].second.intersects(shown[j].second)) << i << " overlaps " << j;
    for (QWidget* needed : std::initializer_list<QWidget*>{&bar.transportAnchorView(), &bar.timestampLabel(),
                                                           &bar.runtimeLabel()})
        EXPECT_TRUE(needed->isVisible());

    QWidget* centre = w.centerAnchorView();
    std::vector<QScrollBar*> bars;
    for (QScrollBar* candidate : centre->findChildren<QScrollBar*>())
        if (candidate->isVisible() && candidate->orientation() == Qt::Vertical)
            bars.push_back(candidate);
    ASSERT_EQ(bars.size(), 1u) << "one scroll bar for the editor";
    QScrollBar* editorBar = bars.front();
    EXPECT_EQ(editorBar->mapTo(centre, QPoint(editorBar->width(), 0)).x(), centre->width())
        << "at the editor's right edge";
    QScrollBar* column = w.editorController()->textView().verticalScrollBar();
    ASSERT_GT(column->maximum(), 0);
    editorBar->setValue(editorBar->maximum() / 2);
    EXPECT_EQ(column->value(), editorBar->maximum() / 2);
    column->setValue(10);
    EXPECT_EQ(editorBar->value(), 10);
}

// Becoming main tells the shell and re-syncs the editor: twice the first time, once afterwards.
// Full screen is always dark; leaving it gives the window the user's appearance again.
TEST_F(EditorWindowTest, BecomingMainAndFullScreen) {
    EditorWindowController& w = open();
    const int before = shell->becameMain;
    const int scheduled = w.scheduledResyncs();
    for (int i = 1; i <= 2; ++i) {
        QEvent activate(QEvent::WindowActivate);
        QApplication::sendEvent(w.window(), &activate);
    }
    EXPECT_EQ(shell->becameMain - before, 2);
    EXPECT_EQ(w.scheduledResyncs() - scheduled, scheduled == 0 ? 3 : 2);

    w.toggleFullScreen();
    EXPECT_TRUE(w.window()->isFullScreen());
    EXPECT_TRUE(platform::isDarkMode(w.window()));
    w.validateMenu(*w.menus()[1]);
    EXPECT_EQ(w.menus()[1]->actions().last()->text(), "Exit Full Screen");
    w.toggleFullScreen();
    EXPECT_FALSE(w.window()->isFullScreen());
    EXPECT_FALSE(platform::Appearance::hasOwnAppearance(w.window()));
}

// The editor's reading position stays at the transport position through the editor's own layout
// changes (a resize, full screen, new margins), and a jump to one of the last lines brings that
// line to the reading position as well.
TEST_F(EditorWindowTest, TheReadingPositionStaysWithTheTransportThroughLayoutChanges) {
    setLines(100, QStringLiteral("Line %1 of a script whose lines wrap when the window narrows."));
    EditorWindowController& w = open();
    QApplication::processEvents();
    cw::editor::ScriptTextView& text = w.editorController()->textView();
    text.setScrollAnimationDuration(0);
    // How far the editor's reading position is from the transport's, in pixels of the text.
    const auto off = [&] {
        QApplication::processEvents();
        const auto& lines = text.lineMetrics();
        return text.scrollOffset() - cw::EditorScrolling::scrollOffset(*text.document(),
                                                                       {lines.lineRanges, lines.lineCount},
                                                                       project->transportState().progress);
    };
    const auto margins = [&](float margin) {
        return [this, margin] { changeProperties([margin](auto& p) { p.prompterMargin = margin; }); };
    };
    const struct {
        const char* what;
        double progress;
        std::function<void()> change;
    } cases[] = {
        {"a narrower window", 0.78, [&] { w.window()->resize(700, 600); }},
        {"a wider window", 0.78, [&] { w.window()->resize(1200, 800); }},
        {"full screen", 0.78, [&] { w.toggleFullScreen(); }},
        {"back from full screen", 0.78, [&] { w.toggleFullScreen(); }},
        {"wide margins", 0.78, margins(0.4f)},
        {"no margins", 0.78, margins(0.0f)},
        {"a jump to one of the last lines", 0.995, [] {}},
        {"the same with the reading position high up", 0.995,
         [this] { changeProperties([](auto& p) { p.indicatorPosition = 0.8f; }); }},
    };
    for (const auto& c : cases) {
        project->setProgress(c.progress, /*animated=*/false, /*immediate=*/true);
        c.change();
        EXPECT_NEAR(off(), 0, 1.0) << c.what;
    }
}

// The script's lines, words per line and bookmark lines are the same at any width of the window,
// with the bookmark column shown or hidden: the font follows the width, but Qt rounds its size to
// whole pixels, so lines counted as the editor shows them broke anew at each width.
TEST_F(EditorWindowTest, TheLinesStayTheSameAtEveryWidth) {
    setLines(60, QStringLiteral("Paragraph %1 of the evening news, read aloud at an even pace."));
    EditorWindowController& w = open();
    const cw::Editor first = project->editor();
    const double wordsPerLine = project->averageWordsPerLine();
    ASSERT_GT(first.lineCount, 60) << "the paragraphs wrap";
    for (int width = 700; width <= 1600; width += 23) {
        for (const bool column : {false, true}) {
            if (w.toggleLeftSidebarToolbarItem()->isChecked() != column)
                w.toggleLeftSidebarToolbarItem()->trigger();
            w.window()->resize(width, 800);
            QApplication::processEvents();
            EXPECT_EQ(project->editor().lineCount, first.lineCount)
                << width << (column ? " with the column" : "");
            EXPECT_TRUE(project->editor().lineRanges == first.lineRanges) << width;
            EXPECT_EQ(project->averageWordsPerLine(), wordsPerLine) << width;
        }
    }
}

// The status bar and the Script pane show the same speed in words and the same running time: once
// the editor has laid a newly opened script out, and after another view (a prompter window, a
// resize) publishes a new line count, also while playing.
TEST_F(EditorWindowTest, StatusBarAndScriptPaneShowTheSameFigures) {
    defaults.set(cw::settings::defaultScrollingSpeedUnit, std::string("wordsperminute"));
    EditorWindowController& w = open();
    cw::editor::StatusbarController& status = *w.statusbarController();
    const auto* pane = w.sidebarController()->currentController<cw::editor::ProjectPropertiesController>();
    ASSERT_NE(pane, nullptr);
    const auto expectAgreement = [&](const char* when) {
        const double runtime = project->runningTime();
        EXPECT_GT(runtime, 0) << when;
        EXPECT_NE(status.scrollSpeedLabel().text(), "~0.00 Words/Min") << when;
        EXPECT_EQ(status.scrollSpeedLabel().text(), pane->controls().scrollSpeedLinesPerSecLabel->text())
            << when;
        EXPECT_EQ(status.runtimeLabel().text().toStdString(), cw::formatTimestamp(runtime)) << when;
        const cw::controls::TimeControl& picker = *pane->controls().runtimePicker;
        EXPECT_EQ((cw::SplitDuration{picker.hour(), picker.minute(), picker.second()}),
                  cw::splitDuration(runtime))
            << when;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return project->averageWordsPerLine() > 0; }));
    expectAgreement("opened");
    const QString folder = editortest::screenshotFolder("app");
    ASSERT_FALSE(folder.isEmpty());
    EXPECT_TRUE(w.window()->grab().save(folder + "/statusbar-words-per-minute.png"));

    for (const bool playing : {false, true}) {
        if (playing)
            project->play();
        Editor editor = project->editor();
        editor.lineCount += 100;
        project->setEditor(editor);
        project->setAverageWordsPerLine(project->averageWordsPerLine() / 2);
        expectAgreement(playing ? "new layout while playing" : "new layout");
    }
    project->pause();
}

// What the editor asks of the application goes to the window's delegate: the prompter that
// playback brings forward and the Displays pane's switch.
TEST_F(EditorWindowTest, PlaybackAndTheDisplaySwitchAskTheWindowsDelegate) {
    EditorWindowController& w = open();
    defaults.set(cw::settings::autospawnPrompterWindow, true);
    project->play();
    ASSERT_TRUE(QTest::qWaitFor([&] { return shell->prompterShown > 0; }));
    project->pause();

    w.sidebarController()->showPane(Editor::Mode::displays);
    const auto* pane = w.sidebarController()->currentController<cw::ScreensController>();
    ASSERT_NE(pane, nullptr);
    ASSERT_FALSE(pane->screenListController()->itemControllers().empty());
    const auto& row = *pane->screenListController()->itemControllers()[0];
    row.screenCheckbox()->click();
    ASSERT_EQ(shell->toggled.size(), 1u);
    EXPECT_EQ(shell->toggled[0], row.desc().displayUUID);
}

// A binding on a menu's Alt letter (File, Prompter) acts in the editor instead of opening the
// menu; the other menus' letters still open theirs. Keys go through Qt's shortcut handling, as
// typed keys do, to the focused editor of the active window.
TEST_F(EditorWindowTest, AltBindingsWinOverMenuLetters) {
    namespace kc = platform::keycode;
    cw::KeyBindings bindings;
    bindings.incSpeed = cw::KeyBindings::Key{kc::p, platform::modifier::option};
    bindings.decSpeed = cw::KeyBindings::Key{kc::f, platform::modifier::option};
    defaults.set(cw::settings::customKeyBindings, bindings.storedValue());
    project->setScrollSpeed(50, 0.1, 3);
    EditorWindowController& w = open();
    ASSERT_TRUE(activate(w));
    QWidget* editor = &w.editorController()->textView();
    editor->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), editor);
    const struct {
        Qt::Key key;
        double speed;
    } steps[] = {{Qt::Key_P, 55}, {Qt::Key_F, 50}, {Qt::Key_P, 55}};
    for (const auto& step : steps) {
        QTest::keyClick(QApplication::focusWidget(), step.key, Qt::AltModifier);
        EXPECT_EQ(project->document().speedProperties.scrollSpeedPerc, step.speed) << step.key;
        EXPECT_EQ(w.mainWindow()->menuBar()->activeAction(), nullptr) << "no menu opened";
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr) << "no menu opened";
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_V, Qt::AltModifier);
    EXPECT_EQ(QApplication::activePopupWidget(), w.menus()[1]) << "Alt+V still opens the View menu";
    if (QWidget* popup = QApplication::activePopupWidget())
        popup->close();
}

// The user's bindings act whatever control of the window has the keyboard: F7 plays, Alt+P
// rewinds (not the Prompter menu) and a plain "1" steps the speed from a colour well, the speed
// slider and a transport button; the running-time field keeps the digit it types, and F7 and
// Alt+P still act there.
TEST_F(EditorWindowTest, BindingsActWhateverControlHasTheKeyboard) {
    namespace kc = platform::keycode;
    namespace mod = platform::modifier;
    cw::KeyBindings bindings;
    bindings.playPause = cw::KeyBindings::Key{kc::f7, mod::function};
    bindings.rewind = cw::KeyBindings::Key{kc::p, mod::option};
    bindings.incSpeed = cw::KeyBindings::Key{kc::digit1, 0};
    defaults.set(cw::settings::customKeyBindings, bindings.storedValue());
    EditorWindowController& w = open();
    ASSERT_TRUE(activate(w));
    auto* pane = w.sidebarController()->currentController<cw::editor::ProjectPropertiesController>();
    ASSERT_NE(pane, nullptr);
    const auto wells = w.rightSidebarAnchorView()->findChildren<cw::controls::ColorWell*>();
    const auto buttons = w.statusbarAnchorView()->findChildren<cw::controls::TransportButton*>();
    ASSERT_FALSE(wells.isEmpty());
    ASSERT_FALSE(buttons.isEmpty());
    cw::controls::TimeControl* runtime = pane->controls().runtimePicker;
    const std::pair<const char*, QWidget*> controls[] = {
        {"colour well", wells.front()},
        {"speed slider", &w.statusbarController()->speedSlider()},
        {"transport button", buttons.front()},
        {"running time", runtime}};
    for (const auto& [name, control] : controls) {
        SCOPED_TRACE(name);
        const bool typing = control == runtime;
        control->setFocus(Qt::OtherFocusReason);
        ASSERT_EQ(QApplication::focusWidget(), control);

        QTest::keyClick(control, Qt::Key_F7);
        EXPECT_TRUE(project->transportState().isPlaying()) << "F7 did not play";
        project->pause();
        project->setProgress(0.5, false, true);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_P, Qt::AltModifier);
        EXPECT_EQ(project->transportState().progress, 0) << "Alt+P did not rewind";
        EXPECT_EQ(w.mainWindow()->menuBar()->activeAction(), nullptr) << "a menu opened";
        project->setScrollSpeed(50, 0.1, 3);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_1);
        EXPECT_EQ(project->document().speedProperties.scrollSpeedPerc, typing ? 50 : 55);
        EXPECT_EQ(runtime->isEditing(), typing) << "the digit was not typed into the field";
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape); // drops what was typed
    }
}

// `words` words in paragraphs of `perParagraph` words (a long show's script).
AttributedString manyWords(int words, int perParagraph) {
    QString text;
    text.reserve(words * 6);
    for (int i = 1; i <= words; ++i) {
        text += QStringLiteral("word");
        text += i % perParagraph == 0 && i < words ? u'\n' : u' ';
    }
    return AttributedString(text);
}

} // namespace

// Qt's document layout never finishes once a paragraph is laid out taller than 2^23 pixels or
// the document taller than 2^25: a long script, or a large font, is shown smaller, and its lines
// are still those of the prompter's size (here: of its first paragraphs laid out by Qt at that
// size, alone).
TEST_F(EditorWindowTest, ALongScriptOrALargeFontStaysWithinWhatQtCanLayOut) {
    namespace A = cw::EditorAppearance;
    const struct {
        int words, perParagraph;
        float factor;
    } cases[] = {{500000, 60, 0.2f}, {200000, 60, 0.0f}, {60000, 60000, 0.0f}};
    constexpr double reach = A::maximumLaidOutHeight; // the estimates' bound
    constexpr double paragraph = double(1 << 22);     // half the paragraph's
    for (const auto& c : cases) {
        changeProperties([&c](auto& p) { p.prompterWordCountFactor = c.factor; });
        project->setText(manyWords(c.words, c.perParagraph));
        EditorWindowController& w = open();
        const auto& view = w.editorController()->textView();
        const QTextDocument& document = *view.document();
        const double laidOut = document.documentLayout()->documentSize().height();
        EXPECT_LE(laidOut, reach) << c.words;
        double tallest = 0;
        for (QTextBlock b = document.begin(); b.isValid(); b = b.next()) {
            tallest = std::max(tallest, document.documentLayout()->blockBoundingRect(b).height());
        }
        EXPECT_LE(tallest, paragraph) << c.words;

        // The prompter's size for this column, and the script's first paragraphs at it.
        const double size = A::fontSizeForColumn(view.containerWidth(), document.documentMargin(), c.factor);
        EXPECT_LT(w.editorController()->lineHeight(), size) << "shown smaller: " << c.words;
        QTextDocument prompterSize;
        prompterSize.setDocumentMargin(document.documentMargin());
        prompterSize.setDefaultTextOption(document.defaultTextOption());
        prompterSize.setTextWidth(document.textWidth());
        const QString head = document.toPlainText().left(std::min(3000, c.words * 5));
        cw::editor::setAttributedText(prompterSize, AttributedString(head), size);
        const auto expected =
            cw::editor::measureLines(prompterSize, A::lineCounting(size, c.factor)).lineRanges;
        const auto& published = project->editor().lineRanges;
        ASSERT_GT(published.size(), expected.size() - 1) << c.words;
        EXPECT_EQ(std::vector(published.begin(), published.begin() + long(expected.size()) - 1),
                  std::vector(expected.begin(), expected.end() - 1))
            << "counted at the prompter's size: " << c.words;
        EXPECT_EQ(project->editor().lineCount, int(published.size()));
        EXPECT_EQ(w.editorController()->lineHeight(), project->editor().lineHeight);

        // A resize and the script's own text once more still stay within reach.
        w.window()->resize(900, 700);
        project->setText(manyWords(c.words + 1, c.perParagraph));
        waitForText();
        EXPECT_LE(document.documentLayout()->documentSize().height(), reach) << c.words;
        project->setText(AttributedString(QStringLiteral("Good evening.")));
        EXPECT_EQ(w.editorController()->lineHeight(),
                  A::fontSizeForColumn(view.containerWidth(), document.documentMargin(), c.factor))
            << "a short script that follows is shown at the prompter's size again";
        EXPECT_EQ(view.lineCounting(), A::lineCounting(w.editorController()->lineHeight(), c.factor));

        controller.reset();
        shell->held.reset();
    }
}

// A 1,000,000-word script runs for more than two days: the Running Time field shows what the
// status bar shows, and one click on the stepper's up arrow adds one hour (one second with the
// seconds selected) instead of sending the speed to its maximum.
TEST_F(EditorWindowTest, RunningTimeBeyondTwoDaysIsShownAndSteppedByOneUnit) {
    project->setText(manyWords(1000000, 60));
    EditorWindowController& w = open();
    ASSERT_TRUE(activate(w));
    const auto* pane = w.sidebarController()->currentController<cw::editor::ProjectPropertiesController>();
    ASSERT_NE(pane, nullptr);
    cw::controls::TimeControl& picker = *pane->controls().runtimePicker;
    QSpinBox& stepper = *pane->controls().runtimeStepper;
    const QLabel& status = w.statusbarController()->runtimeLabel();
    using Field = cw::controls::TimeControl::Field;
    const auto shown = [&] {
        return picker.text(Field::hour) + u':' + picker.text(Field::minute) + u':' +
               picker.text(Field::second);
    };
    ASSERT_GT(project->runningTime(), 48 * 3600.0);
    EXPECT_TRUE(status.text().startsWith(shown() + u'.'))
        << status.text().toStdString() << " / " << shown().toStdString();
    const QString folder = editortest::screenshotFolder();
    ASSERT_FALSE(folder.isEmpty());
    EXPECT_TRUE(w.sidebarController()->view()->grab().save(folder + "/running-time-beyond-two-days.png"));

    const struct {
        Field field;
        double step; // seconds
    } steps[] = {{Field::hour, 3600}, {Field::second, 1}, {Field::minute, 60}};
    for (const auto& s : steps) {
        // The caret strip under a field selects it, as a click there does.
        const QRectF field = picker.fieldRect(s.field);
        QTest::mouseClick(&picker, Qt::LeftButton, {}, QPoint(int(field.center().x()), picker.height() - 2));
        ASSERT_EQ(picker.selected(), s.field);
        const double before = picker.totalSeconds();
        const int value = picker.value(s.field);
        QTest::mouseClick(&stepper, Qt::LeftButton, {}, QPoint(stepper.width() - 5, stepper.height() / 4));
        EXPECT_NEAR(project->runningTime(), before + s.step, 0.01) << "one unit up";
        EXPECT_EQ(picker.value(s.field), value + 1);
        EXPECT_LT(project->document().speedProperties.scrollSpeedPerc, 100.0);
        EXPECT_TRUE(status.text().startsWith(shown() + u'.')) << status.text().toStdString();
    }
    project->setTotalRuntime(83 * 3600 + 3 * 60 + 1);
    EXPECT_EQ(shown(), QStringLiteral("83:03:01"));
    EXPECT_TRUE(w.sidebarController()->view()->grab().save(folder + "/running-time-83-hours.png"));
}

// Everything selected and deleted with the transport at the end: what is typed next stands at
// the reading position, where the first line of a text stands, not at the top of the editor.
TEST_F(EditorWindowTest, TypingAfterDeletingEverythingAtTheEndStandsAtTheReadingPosition) {
    project->setText(manyWords(3000, 30));
    EditorWindowController& w = open();
    ASSERT_TRUE(activate(w));
    cw::editor::ScriptTextView& text = w.editorController()->textView();
    project->setProgress(1, /*animated=*/false, /*immediate=*/true);
    ASSERT_GT(text.scrollOffset(), 1000);
    text.setFocus();
    QTest::keyClick(&text, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&text, Qt::Key_Delete);
    QTest::keyClicks(&text, QStringLiteral("Hello"));
    ASSERT_EQ(text.toPlainText(), QStringLiteral("Hello"));
    const int line = text.cursorRect().height();
    EXPECT_NEAR(text.cursorRect().top(), text.topInset(), line) << "at the reading position";
}

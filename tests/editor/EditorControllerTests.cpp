// The editor controller and the script text view against a real project, offscreen.
#include "cuewright/editor/EditorAppearance.h"
#include "cuewright/editor/EditorBackgroundView.h"
#include "cuewright/editor/EditorController.h"
#include "cuewright/editor/EditorScrolling.h"
#include "cuewright/editor/LineMetrics.h"
#include "cuewright/editor/PasteRules.h"
#include "cuewright/editor/PieceSize.h"
#include "cuewright/editor/ProjectPropertiesController.h"
#include "cuewright/editor/ScriptTextView.h"
#include "cuewright/editor/TextBridge.h"
#include "cuewright/editor/TextFinder.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/ScriptImport.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/model/UserDefaults.h"
#include "cuewright/prompter/OverlayView.h"
#include "cuewright/prompter/PrompterView.h"
#include "cuewright/prompter/PrompterViewController.h"
#include "platform/defaults/ArchivedValues.h"
#include "platform/defaults/Defaults.h"
#include "platform/defaults/NotificationCenter.h"
#include "platform/text/ParagraphLines.h"

#include "support/TempDir.h"

#include "ScreenshotSupport.h"

#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QFontDialog>
#include <QInputMethodEvent>
#include <QListView>
#include <QLocale>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QWheelEvent>

#include <algorithm>
#include <array>
#include <functional>
#include <limits>
#include <optional>
#include <set>

using namespace std::chrono_literals;
using cw::editor::EditorController;
using cw::editor::ScriptTextView;
using platform::AttributedString;

namespace {

// A one-shot timer on a clock that only the test moves.
class FakeTimer final : public cw::editor::OneShotTimer {
public:
    void start(std::chrono::milliseconds interval, std::function<void()> fire) override {
        deadline_ = now + interval;
        fire_ = std::move(fire);
    }
    void stop() override { deadline_.reset(); }
    bool isActive() const override { return deadline_.has_value(); }
    void advance(std::chrono::milliseconds by) {
        now += by;
        if (deadline_ && now >= *deadline_) {
            deadline_.reset();
            fire_();
        }
    }
    std::chrono::milliseconds now{0};

private:
    std::optional<std::chrono::milliseconds> deadline_;
    std::function<void()> fire_;
};

// The auto-scroll timer: the test delivers the ticks.
class FakeScrollTimer final : public cw::KQTimer {
public:
    FakeScrollTimer()
        : KQTimer(dispatch::mainQueue()) {}
    void start(double interval, Closure closure) override {
        interval_ = interval;
        closure_ = std::move(closure);
    }
    void stop() override { closure_ = nullptr; }
    bool running() const { return closure_ != nullptr; }
    double startedInterval() const { return interval_; }
    void tick() { closure_(interval_); }

private:
    double interval_ = 0;
    Closure closure_;
};

struct TextCounter : cw::ProjectEventListener {
    int texts = 0;
    void projectTextDidChange(cw::Project&) override { ++texts; }
};

class EditorControllerTest : public ::testing::Test {
public: // table-driven steps reach in
    EditorControllerTest()
        : defaults(platform::Defaults::Options{dir / "defaults.json", 1h, {}})
        , project(cw::Project::create(defaults)) {
        view.resize(600, 400);
        view.show();
        controller = makeController(view);
        project->registerEventListener(counter);
    }

    std::shared_ptr<EditorController> makeController(ScriptTextView& textView) {
        auto autosave = std::make_unique<FakeTimer>();
        auto settle = std::make_unique<FakeTimer>();
        auto scroll = std::make_unique<FakeScrollTimer>();
        auto deadline = std::make_unique<FakeTimer>();
        timer = autosave.get();
        deadlineTimer = deadline.get();
        settleTimer = settle.get();
        scrollTimer = scroll.get();
        return std::make_shared<EditorController>(
            project, textView, defaults,
            cw::editor::EditorTimers{std::move(autosave), std::move(settle), std::move(scroll),
                                     std::move(deadline)});
    }

    void load(const AttributedString& text) {
        project->setText(text);
        controller->load();
        counter->texts = 0;
    }
    QString viewText() const { return view.toPlainText(); }
    AttributedString shownText() const { return cw::editor::attributedText(*view.document()); }
    void select(int anchor, int position) {
        QTextCursor cursor(view.document());
        cursor.setPosition(anchor);
        cursor.setPosition(position, QTextCursor::KeepAnchor);
        view.setTextCursor(cursor);
    }
    template <class Change> void changeProperties(Change change) {
        auto properties = project->document().scriptProperties;
        change(properties);
        project->setScriptProperties(properties);
    }
    template <class Change> void changeEditor(Change change) {
        cw::Editor editor = project->editor();
        change(editor);
        project->setEditor(editor);
    }
    void settle() { settleTimer->advance(EditorController::settleDelay); }

    testsupport::TempDir dir;
    platform::Defaults defaults;
    std::shared_ptr<cw::Project> project;
    ScriptTextView view;
    FakeTimer* timer = nullptr;
    FakeTimer* settleTimer = nullptr;
    FakeScrollTimer* scrollTimer = nullptr;
    FakeTimer* deadlineTimer = nullptr;
    std::shared_ptr<EditorController> controller;
    std::shared_ptr<TextCounter> counter = std::make_shared<TextCounter>();
};

// A DejaVu Sans look at `size` points.
platform::Attributes sans(double size) {
    platform::Attributes look;
    look.font = platform::Font{QStringLiteral("DejaVu Sans"), size, false, false};
    return look;
}

// Keys typed while the editor settles land in order at the caret, with the transport at the
// start or further on.
TEST_F(EditorControllerTest, TypingWhileTheEditorSettlesStaysInOrder) {
    for (const double progress : {0.0, 0.5}) {
        SCOPED_TRACE(progress);
        controller = makeController(view);
        project->setText(AttributedString(QStringLiteral("one\ntwo\nthree\nfour\n")));
        project->setProgress(progress, /*animated=*/false, /*immediate=*/true);
        controller->load();
        QTest::keyClicks(&view, "ki");
        settle();
        QTest::keyClicks(&view, "wi");
        EXPECT_EQ(viewText(), QStringLiteral("kiwione\ntwo\nthree\nfour\n"));
    }
}

TEST_F(EditorControllerTest, EditsReachTheProjectOncePausedAndBeforeSaving) {
    load(AttributedString(QStringLiteral("go")));
    EXPECT_FALSE(controller->hasPendingEdit()) << "a load is no edit";
    view.moveCursor(QTextCursor::End);
    QTest::keyClick(&view, Qt::Key_A);
    settle();
    EXPECT_EQ(viewText(), QStringLiteral("goa")) << "the settling step keeps what was typed";
    EXPECT_TRUE(controller->hasPendingEdit()) << "and its wait";
    view.moveCursor(QTextCursor::End);
    for (int i = 0; i < 9; ++i) {
        QTest::keyClick(&view, Qt::Key_A);
        timer->advance(200ms);
    }
    EXPECT_EQ(counter->texts, 0) << "each keystroke restarts the wait";
    timer->advance(99ms);
    EXPECT_EQ(counter->texts, 0);
    timer->advance(1ms);
    EXPECT_EQ(counter->texts, 1) << "one setText, 0.3 s after the last keystroke";
    EXPECT_EQ(project->document().text.string(), QStringLiteral("goaaaaaaaaaa"));
    EXPECT_FALSE(controller->hasPendingEdit()) << "the project's own notification is no edit";

    QTest::keyClick(&view, Qt::Key_B);
    project->save((dir / "script.cwr").string());
    EXPECT_EQ(project->document().text.string(), QStringLiteral("goaaaaaaaaaab")) << "will-save flushes";
    EXPECT_FALSE(controller->hasPendingEdit());
    EXPECT_FALSE(project->hasUnsavedChanges());
}

// A long edit (a step group made a slice at a time: Replace All, a paste in pieces) is one edit to
// the project: what was typed before it goes over as it starts, none of its half (a save meanwhile
// writes the text from before it), then the whole, or nothing once it is cancelled. The text is
// read-only meanwhile, whatever lock comes (a resync hands one over), which applies at its end.
TEST_F(EditorControllerTest, ALongEditReachesTheProjectWholeOrNotAtAll) {
    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancelled" : "made");
        controller = makeController(view);
        load(AttributedString(QStringLiteral("one two")));
        view.moveCursor(QTextCursor::End);
        QTest::keyClick(&view, Qt::Key_S);
        view.beginStepGroup();
        EXPECT_EQ(project->document().text.string(), QStringLiteral("one twos")) << "the typing before it";
        view.namedEdit("Replace All", [](QTextCursor& cursor) { cursor.insertText("half "); });
        controller->autosave();
        changeEditor([&](cw::Editor& e) { e.isLocked = cancel; });
        EXPECT_TRUE(view.isReadOnly()) << "editable halfway";
        timer->advance(1s);
        project->save((dir / "long.cwr").string());
        EXPECT_EQ(project->document().text.string(), QStringLiteral("one twos")) << "its half went over";
        cancel ? view.cancelStepGroup() : view.endStepGroup();
        EXPECT_EQ(view.isReadOnly(), cancel);
        timer->advance(1s); // handed over once its lines are counted, or to a save before
        project->save((dir / "long.cwr").string());
        EXPECT_EQ(project->document().text.string(), cancel ? "one twos" : "half one twos");
    }
}

// Keys coming faster than the autosave wait still reach the project (and so its recovery copy),
// at the latest maxAutosaveWait after the first of them.
TEST_F(EditorControllerTest, SteadyTypingIsHandedOverWithoutAPause) {
    load(AttributedString(QString()));
    const auto keyEvery = EditorController::defaultAutosaveInterval / 2;
    for (int key = 0; key < 20 && counter->texts == 0; ++key) {
        QTest::keyClick(&view, Qt::Key_A);
        timer->advance(keyEvery);
        deadlineTimer->advance(keyEvery);
    }
    const int keys = int(EditorController::maxAutosaveWait / keyEvery) + 1;
    EXPECT_EQ(project->document().text.string(), QString(keys, QLatin1Char('a')));
    QTest::keyClick(&view, Qt::Key_B);
    EXPECT_TRUE(controller->hasPendingEdit()) << "the next key waits for a pause again";
}

TEST_F(EditorControllerTest, QtTimerHandsTheTextOverFromTheEventLoop) {
    ScriptTextView own;
    auto qtTimed = std::make_shared<EditorController>(project, own, defaults, cw::editor::EditorTimers{});
    EXPECT_EQ(qtTimed->autosaveInterval(), 300ms);
    qtTimed->setAutosaveInterval(0ms);
    qtTimed->load();
    QTest::keyClick(&own, Qt::Key_Q);
    EXPECT_TRUE(qtTimed->hasPendingEdit());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !qtTimed->hasPendingEdit(); }, 60000));
    EXPECT_EQ(project->document().text.string(), QStringLiteral("q"));
    EXPECT_EQ(viewText(), QString()) << "this editor is not loaded and does not follow";
}

// A piece of long work is sized from the time the last one took: at most twice as large, at once
// smaller, within its bounds, and small again for a new text.
TEST(PieceSizeTest, TheNextPieceTakesAboutTheTarget) {
    cw::editor::PieceSize piece(1000, 64000, 40ms);
    const struct {
        std::chrono::milliseconds took;
        int next;
    } steps[] = {{10ms, 2000}, {30ms, 2666}, {40ms, 2666}, {160ms, 1000}, {0ms, 2000}, {1ms, 4000},
                 {1ms, 8000}, {1ms, 16000}, {1ms, 32000}, {1ms, 64000}, {1ms, 64000}, {80ms, 32000}};
    for (const auto& step : steps) {
        piece.took(step.took);
        EXPECT_EQ(piece.characters(), step.next) << step.took.count();
    }
    piece.restart();
    EXPECT_EQ(piece.characters(), 1000);
}

// Where the view cut a long run without a space into blocks, the lines it publishes are still
// ranges of the project's text: they end where it ends, and a "*" line is a bookmark there.
TEST_F(EditorControllerTest, ProjectTextLoadsWithoutCountingAsAnEditAndLinesArePublished) {
    const QString run = QString(20000, u'x') + QStringLiteral("\n* Here");
    load(AttributedString(run));
    ASSERT_FALSE(cw::editor::characterlessCuts(*view.document()).empty());
    ASSERT_FALSE(project->editor().lineRanges.empty());
    EXPECT_EQ(project->editor().lineRanges.back().range.end(), run.size());
    ASSERT_EQ(project->bookmarks().size(), 1u);
    EXPECT_EQ(project->bookmarks().front().excerpt, "* Here");

    // A letter typed near the start of a long run: its lines are counted a part at a time with the
    // event loop turning, the keystroke scanning about one part, and published once all are.
    load(AttributedString(QString(100000, u'x')));
    QTextCursor early(view.document());
    early.setPosition(10);
    view.setTextCursor(early);
    const std::uint64_t scanned = platform::lineBreakScanCount();
    QTest::keyClick(&view, Qt::Key_Y);
    // Meanwhile the editor follows no jump of the position, and a bookmark command waits for the
    // count: either would count the rest at once.
    ASSERT_TRUE(controller->isCountingLines());
    defaults.set(cw::settings::syncTeleprompterWindowToEditorScrolling, true);
    project->setProgress(0.5, false, false);
    EXPECT_EQ(controller->toggleBookmarkTitle(), QStringLiteral("Insert Bookmark"));
    controller->toggleBookmark();
    EXPECT_LE(platform::lineBreakScanCount() - scanned, 1u << 19); // about ten times a part of 32 K
    EXPECT_TRUE(project->bookmarks().empty());
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return project->editor().lineRanges.back().range.end() == 100001; }, 60000));
    EXPECT_EQ(project->bookmarks().size(), 1u) << "inserted once the lines are counted";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !controller->isCountingLines(); }, 60000)); // the bookmark's
    std::unique_ptr<QTextDocument> fresh(view.document()->clone());
    fresh->setTextWidth(view.document()->textWidth());
    EXPECT_EQ(project->editor().lineCount, cw::editor::measureLines(*fresh, view.lineCounting()).lineCount);

    load(AttributedString(QStringLiteral("one")));
    project->setText(AttributedString(QStringLiteral("a b")));
    EXPECT_EQ(viewText(), QStringLiteral("a b"));
    EXPECT_FALSE(controller->hasPendingEdit());
    EXPECT_EQ(project->editor().lineCount, 1);
    EXPECT_EQ(counter->texts, 1) << "only the project's own change";

    view.moveCursor(QTextCursor::End);
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_TRUE(controller->hasPendingEdit());
    EXPECT_EQ(project->editor().lineCount, 1) << "the lines go over with the text";
    controller->autosave();
    EXPECT_EQ(project->editor().lineCount, 2);
    EXPECT_EQ(project->editor().lineRanges, (std::vector<cw::Editor::LineRange>{{1, {0, 4}}}));
    EXPECT_DOUBLE_EQ(project->averageWordsPerLine(), 1.0);

    controller->close();
    project->setText(AttributedString(QStringLiteral("unheard")));
    EXPECT_EQ(viewText(), QStringLiteral("a b\n")) << "a closed editor no longer follows the project";
}

// Another Words per Line over a long script: its lines are counted in parts, the project keeping
// its table until all are, and a change during the count ends with the last one's lines. Losing the
// focus meanwhile lays out no further (Qt would draw the caret anew at the text's end).
TEST_F(EditorControllerTest, WordsPerLineCountsALongScriptInParts) {
    load(AttributedString(QStringLiteral("The presenter reads this line aloud.\n").repeated(4000)));
    view.activateWindow();
    view.setFocus();
    view.moveCursor(QTextCursor::End);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.hasFocus() && !controller->isCountingLines(); }, 60000));
    const auto before = project->editor().lineRanges;
    const QTextLayout& last = *view.document()->lastBlock().previous().layout();
    const double height = last.lineAt(0).height();
    for (const float factor : {0.6f, 0.7f}) {
        changeProperties([&](auto& p) { p.prompterWordCountFactor = factor; });
        ASSERT_TRUE(controller->isCountingLines() && project->editor().lineRanges == before) << factor;
    }
    view.clearFocus();
    EXPECT_TRUE(view.isLayingOutInParts() && (last.lineCount() == 0 || last.lineAt(0).height() == height));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !controller->isCountingLines(); }, 60000));
    std::unique_ptr<QTextDocument> fresh(view.document()->clone());
    fresh->setTextWidth(view.document()->textWidth());
    EXPECT_EQ(project->editor().lineRanges, cw::editor::measureLines(*fresh, view.lineCounting()).lineRanges);
}

TEST_F(EditorControllerTest, LocksWhilePromptingWhenTheSettingIsOn) {
    load(AttributedString(QStringLiteral("x")));
    const struct {
        bool setting;
        bool playing;
        bool readOnly;
    } cases[] = {{true, true, true}, {true, false, false}, {false, true, false}};
    for (const auto& c : cases) {
        defaults.set(cw::settings::lockEditorDuringPrompting, c.setting);
        c.playing ? controller->projectDidStartPlayback(*project)
                  : controller->projectDidStopPlayback(*project);
        EXPECT_EQ(view.isReadOnly(), c.readOnly) << c.setting << c.playing;
        EXPECT_EQ(project->editor().isLocked, c.readOnly);
    }
    changeEditor([](cw::Editor& e) { e.isLocked = true; });
    QTest::keyClick(&view, Qt::Key_Z);
    EXPECT_EQ(viewText(), QStringLiteral("x")) << "a locked editor takes no typing";
    EXPECT_FALSE(controller->hasPendingEdit());
}

TEST_F(EditorControllerTest, PasteGoesThroughThePasteRules) {
    platform::Attributes look = sans(40);
    look.foregroundColor = platform::Color::red();
    load(AttributedString(QStringLiteral("ab"), look));
    const auto style = cw::ScriptImport::DefaultStyle::fromUserDefaults(defaults);

    const struct {
        const char* html; // the plain text is the same without tags
        const char* plain;
    } cases[] = {{"<span style=\"color:#808080\"><b>bold</b> grey</span>", "bold grey"},
                 {"one <img src=\"picture.png\" width=\"20\" height=\"20\"> two", "one  two"},
                 {nullptr, "line\r\nbreak"}};
    for (const auto& c : cases) {
        auto* mime = new QMimeData;
        mime->setText(QString::fromUtf8(c.plain));
        if (c.html)
            mime->setHtml(QString::fromUtf8(c.html));
        view.moveCursor(QTextCursor::End);
        const AttributedString expected = view.pastedContent(*mime);
        const int before = view.document()->characterCount() - 1;
        QApplication::clipboard()->setMimeData(mime);
        view.paste();

        const AttributedString inserted = shownText().substring({before, expected.length()});
        EXPECT_EQ(inserted.string(),
                  QString::fromUtf8(c.plain).replace(QStringLiteral("\r\n"), QStringLiteral("\n")))
            << "an image is no character of the script";
        for (const auto& run : expected.runs()) {
            const auto got = inserted.attributes(run.range.location);
            EXPECT_EQ(got.font, run.attributes.font) << c.plain << " at " << run.range.location;
            EXPECT_EQ(got.foregroundColor, style.textColor) << "the paste's main colour is the default";
            EXPECT_NEAR(got.font->pointSize, controller->lineHeight(), 1e-9) << "at the typing size";
        }
        EXPECT_TRUE(controller->hasPendingEdit());
    }
    EXPECT_TRUE(view.pastedContent(QMimeData()).isEmpty());

    platform::setArchivedColor(defaults, cw::settings::defaultTextColor,
                               platform::ArchivedColor::sRGB(0, 0, 1, 1));
    EXPECT_EQ(view.pasteStyle().textColor, cw::defaultTextColor(defaults)) << "the settings of the moment";
    EXPECT_NE(view.pasteStyle().textColor, style.textColor);
}

TEST_F(EditorControllerTest, TypedTextAfterABookmarkCarriesNoBookmark) {
    const struct {
        int anchor;
        int position;
        bool inputMethod;
        const char* result;
    } cases[] = {{1, 1, false, "Xybc"}, {2, 1, false, "Xyc"}, {1, 1, true, "Xybc"}, {2, 1, true, "Xyc"}};
    for (const auto& c : cases) {
        AttributedString text(QStringLiteral("Xbc"));
        platform::Attributes marked;
        marked.bookmark = std::make_shared<platform::EmbeddedBookmark>();
        text.addAttributes(marked, {0, 1});
        load(text);
        select(c.anchor, c.position);
        if (c.inputMethod) {
            QInputMethodEvent composed;
            composed.setCommitString(QStringLiteral("y"));
            QApplication::sendEvent(&view, &composed);
        } else {
            QTest::keyClick(&view, Qt::Key_Y);
        }

        const AttributedString typed = shownText();
        EXPECT_EQ(typed.string(), QString::fromUtf8(c.result));
        EXPECT_EQ(typed.attributes(0).bookmark, marked.bookmark) << "the bookmarked character keeps it";
        EXPECT_EQ(typed.attributes(1).bookmark, nullptr) << c.anchor << c.inputMethod;
    }
}

namespace appearance {

using cw::editor::EditorViews;

// Every run's point size in the view.
std::set<double> pointSizes(const ScriptTextView& textView) {
    std::set<double> sizes;
    for (const auto& run : cw::editor::attributedText(*textView.document()).runs()) {
        sizes.insert(run.attributes.font ? run.attributes.font->pointSize : 0);
    }
    return sizes;
}

// The alignment the text shows, as the project would receive it.
platform::ParagraphAlignment shownAlignment(const ScriptTextView& textView) {
    const auto style = cw::editor::attributedText(*textView.document()).attributes(0).paragraphStyle;
    return style ? style->alignment : platform::ParagraphAlignment::natural;
}

// The editor's views shown at a size, with a controller of their own (not loaded yet).
class EditorViewsTest : public EditorControllerTest {
public:
    void showViews(int width, int height) {
        views.container->resize(width, height);
        views.container->show();
        own = makeController(*views.text);
        own->setViews(views.background, views.overlay);
    }
    void showLoaded(int width, int height) {
        showViews(width, height);
        own->load();
        settle();
    }
    EditorViews views = cw::editor::makeEditorViews();
    std::unique_ptr<QWidget> owner{views.container};
    std::shared_ptr<EditorController> own;
};

// The whole editor in both appearances: the indicator shows through the overlay. Flipped both
// ways it shows the picture the prompter shows: the column placed at the left edge stands at the
// right, the indicator and reading line at the mirrored height, and the overlay's clear band
// follows them there.
TEST_F(EditorViewsTest, ScreenshotsLightDarkAndMirrored) {
    const QString folder = editortest::screenshotFolder();
    ASSERT_FALSE(folder.isEmpty());
    const auto style = cw::ScriptImport::DefaultStyle::fromUserDefaults(defaults);
    platform::Attributes body;
    body.font = style.font.withPointSize(28);
    body.foregroundColor = style.textColor;
    body.paragraphStyle = style.paragraphStyle;
    AttributedString script(QStringLiteral("Good evening, and welcome.\n"
                                           "Tonight: the harbour bridge reopens after two years.\n"
                                           "Back to you in the studio."),
                            body);
    platform::Attributes accent;
    accent.foregroundColor = platform::Color::red();
    accent.font = body.font->withTraits(true, false);
    script.addAttributes(accent, {14, 11});
    changeProperties([](auto& p) {
        p.backgroundColor = platform::Color::gray(0.1);
        p.indicatorType = cw::IndicatorType::arrow;
        p.indicatorColor = cw::IndicatorColor::green;
        p.showReadingLine = true;
        p.overlayType = cw::OverlayType::fadeOut;
        p.overlayOpacity = 1;
        p.prompterMargin = 0.2f;
        p.prompterWordCountFactor = 0.6f;
        p.indicatorPosition = 0.65f;
    });
    project->setText(script);
    showLoaded(800, 500); // background, indicator and reading line, the text column, the overlay
    defaults.set(cw::settings::syncTeleprompterWindowToEditorScrolling, true);
    project->setProgress(0.2, /*animated=*/false, /*immediate=*/true); // a line at the reading line
    for (const auto& s : editortest::lightAndDark) {
        platform::Appearance::applyToWindow(views.container, s.style);
        const QImage image = views.container->grab().toImage();
        EXPECT_TRUE(image.save(folder + "/editor-" + s.name + ".png")) << s.name;
        const QColor indicator = image.pixelColor(12, 175); // at 0.65 of 500 from the bottom
        EXPECT_TRUE(indicator.green() > 200 && indicator.red() < 100) << "seen through the overlay";
    }

    changeProperties([](auto& p) {
        p.prompterMargin = 0.4f;
        p.prompterMarginAlignment = -1;
        p.indicatorPosition = 0.7f;
        p.flipHorizontal = p.flipVertical = true;
    });
    EXPECT_EQ(views.text->geometry(), QRect(320, 0, 480, 500)) << "the left column mirrored to the right";
    const QImage image = views.container->grab().toImage();
    EXPECT_TRUE(image.save(folder + "/editor-mirrored.png"));
    // Unflipped the reading line stands 0.7 of the height from the bottom (y 150); flipped, at y 350.
    auto isGreen = [](QColor c) { return c.green() > 150 && c.red() < 100 && c.blue() < 100; };
    int greenRows = 0;
    for (int y = 340; y < 360; ++y)
        greenRows += isGreen(image.pixelColor(400, y)) ? 1 : 0;
    EXPECT_GT(greenRows, 0) << "the reading line shows through the overlay's band at its mirrored height";
    bool indicatorRight = false;
    for (int y = 340; y < 360 && !indicatorRight; ++y)
        for (int x = 780; x < 800 && !indicatorRight; ++x)
            indicatorRight = isGreen(image.pixelColor(x, y));
    EXPECT_TRUE(indicatorRight) << "the indicator mirrored to the right edge";
}

TEST_F(EditorViewsTest, ScriptPropertiesShapeTheViews) {
    showViews(1000, 600);
    project->setText(AttributedString(QStringLiteral("one two three four five six\nseven")));
    own->load();
    int textChanges = 0;
    QObject::connect(views.text, &QTextEdit::textChanged, [&] { ++textChanges; });

    const struct {
        float alignment, factor;
        bool flip;
        int x; // margin 0.2 of 1000: a column 800 wide
    } cases[] = {{0, 0.5f, false, 100},   {1, 0.5f, false, 200}, {-1, 0.99f, false, 0},
                 {-1, 0.5f, true, 200},   {1, 0.5f, true, 0},    {-0.5f, 0.2f, true, 150},
                 {-0.5f, 0.2f, false, 50}}; // flipped: mirrored about the background
    for (const auto& c : cases) {
        changeProperties([&c](auto& p) {
            p.prompterMargin = 0.2f;
            p.prompterMarginAlignment = c.alignment;
            p.prompterWordCountFactor = c.factor;
            p.flipHorizontal = c.flip;
            p.backgroundColor = platform::Color::blue();
            p.overlayType = cw::OverlayType::highlight;
            p.indicatorType = cw::IndicatorType::arrow;
            p.textAlignment = cw::TextAlignment::right;
            p.indicatorPosition = 0.75f;
        });

        EXPECT_EQ(views.text->geometry(), QRect(c.x, 0, 800, 600)) << c.alignment;
        const double size = cw::EditorAppearance::fontSizeForColumn(
            views.text->containerWidth(), views.text->document()->documentMargin(), c.factor);
        EXPECT_EQ(own->lineHeight(), size);
        EXPECT_EQ(project->editor().lineHeight, size);
        EXPECT_EQ(pointSizes(*views.text), std::set<double>{size}) << "every run at the column's size";
        EXPECT_EQ(views.background->lineHeight(), size);
        EXPECT_EQ(views.background->backgroundColor(), QColor(Qt::blue));
        EXPECT_EQ(views.background->indicatorType(), cw::IndicatorType::arrow);
        EXPECT_EQ(views.overlay->overlayType(), cw::OverlayType::highlight);
        EXPECT_EQ(views.overlay->verticalCenter(), 0.75f);
        EXPECT_EQ(shownAlignment(*views.text), platform::ParagraphAlignment::right);
        EXPECT_EQ(views.text->isMirrored(), c.flip);
        EXPECT_EQ(views.text->topInset(), 150) << "the first line at the indicator";

        const int before = textChanges;
        own->applyScriptProperties(EditorController::Load::ifChanged);
        own->syncProps();
        EXPECT_EQ(textChanges, before) << "applying the same properties again changes no text";
    }
    views.container->resize(500, 300);
    EXPECT_EQ(views.text->geometry(), QRect(25, 0, 400, 300)) << "a resize places the column again";
    EXPECT_EQ(views.text->topInset(), 75);
    // A new style or parent gives the view another font; the script keeps its size.
    views.text->setFont(QFont(QStringLiteral("DejaVu Serif"), 7));
    EXPECT_EQ(pointSizes(*views.text), std::set<double>{own->lineHeight()});

    // The settling step: everything again; the insertion point, at the start since the load, stays
    // where the user has moved it.
    EXPECT_EQ(views.text->textCursor().position(), 0);
    views.text->moveCursor(QTextCursor::End);
    const int end = views.text->textCursor().position();
    settle();
    EXPECT_EQ(views.text->textCursor().position(), end);
}

// Colour and font from the project: without a selection the whole text, over one only the
// selection; a font picked in the Script pane over a selection changes its fonts, never its colours.
TEST_F(EditorControllerTest, TextColourAndFontFromTheProject) {
    // Reset beside Font over a plain text as opened, in the default font at its file's size.
    load(cw::ScriptImport::plainText(QStringLiteral("red or\nnot"),
                                     cw::ScriptImport::DefaultStyle::fromUserDefaults(defaults)));
    select(0, 10);
    project->applyDefaultFont();
    EXPECT_FALSE(controller->hasPendingEdit());
    load(AttributedString(QStringLiteral("red or not")));
    select(0, 0);
    controller->projectTextColorDidChange(*project, platform::Color::red());
    EXPECT_FALSE(view.textCursor().hasSelection()) << "the empty selection stays";
    auto text = shownText();
    EXPECT_EQ(text.runs().size(), 1u);
    EXPECT_EQ(text.attributes(9).foregroundColor, platform::Color::red()) << "the whole text";
    EXPECT_TRUE(controller->hasPendingEdit());

    select(0, 7);
    controller->projectTextColorDidChange(*project, platform::Color::blue());
    const platform::Font bold{QStringLiteral("DejaVu Sans"), 20, true, false};
    controller->autosave();
    controller->projectFontDidChange(*project, bold); // as a Reset beside Font sends it
    EXPECT_TRUE(controller->hasPendingEdit()) << "the font reaches the project like any edit";
    controller->autosave();
    controller->projectFontDidChange(*project, bold);
    EXPECT_FALSE(controller->hasPendingEdit()) << "the font it has already: no edit";
    text = shownText();
    EXPECT_EQ(text.attributes(6).foregroundColor, platform::Color::blue());
    EXPECT_EQ(text.attributes(7).foregroundColor, platform::Color::red()) << "only the selection";
    const platform::Font shownBold = bold.withPointSize(controller->lineHeight()); // at the editor's size
    EXPECT_EQ(text.attributes(6).font, shownBold);
    EXPECT_NE(text.attributes(7).font, shownBold);

    select(2, 10); // blue "d or " and the plain red "not"
    const platform::Font serif{QStringLiteral("DejaVu Serif"),
                               project->editor().typingAttributes.font.pointSize, true, false};
    changeEditor([&](cw::Editor& e) { e.typingAttributes.font = serif; }); // as the font panel hands it over
    text = shownText();
    for (int at : {3, 8}) {
        ASSERT_TRUE(text.attributes(at).font);
        EXPECT_EQ(text.attributes(at).font->family, serif.family) << at;
        EXPECT_TRUE(text.attributes(at).font->bold) << at;
    }
    EXPECT_EQ(text.attributes(3).foregroundColor, platform::Color::blue()) << "the colours stay";
    EXPECT_EQ(text.attributes(8).foregroundColor, platform::Color::red());
    EXPECT_NE(text.attributes(0).font.value_or(platform::Font{}).family, serif.family)
        << "only the selection";
}

// Another family picked for a selection of mixed looks changes the family alone: bold, italic,
// underline and colour stay, in the view and in the saved file; undo brings the old family back.
TEST_F(EditorControllerTest, FontPickedOverMixedLooksChangesOnlyTheFamily) {
    const platform::Attributes plain = sans(20);
    AttributedString text(QStringLiteral("red bold italic under"), plain);
    platform::Attributes red = plain, bold = plain, italic = plain, under = plain;
    red.foregroundColor = platform::Color::red();
    bold.font = plain.font->withTraits(true, false);
    italic.font = plain.font->withTraits(false, true);
    under.underlineStyle = platform::UnderlineStyle::single;
    text.setAttributes(red, {0, 3});
    text.setAttributes(bold, {4, 4});
    text.setAttributes(italic, {9, 6});
    text.setAttributes(under, {16, 5});
    load(text);
    view.selectAll();
    changeEditor([](cw::Editor& e) { e.typingAttributes.font.family = QStringLiteral("DejaVu Serif"); });
    controller->autosave();
    const auto file = dir / "fonts.cwr";
    project->save(file.string());
    const auto opened = cw::Project::create(defaults);
    opened->loadDocument(file.string());

    const struct {
        int at;
        bool bold, italic, underlined, red;
    } looks[] = {{1, false, false, false, true},
                 {5, true, false, false, false},
                 {10, false, true, false, false},
                 {17, false, false, true, false}};
    for (const AttributedString& shown : {shownText(), opened->document().text}) {
        for (const auto& look : looks) {
            const auto attributes = shown.attributes(look.at);
            ASSERT_TRUE(attributes.font) << look.at;
            EXPECT_EQ(attributes.font->family, QStringLiteral("DejaVu Serif")) << look.at;
            EXPECT_EQ(attributes.font->bold, look.bold) << look.at;
            EXPECT_EQ(attributes.font->italic, look.italic) << look.at;
            EXPECT_EQ(attributes.underlineStyle.value_or(platform::UnderlineStyle::none) !=
                          platform::UnderlineStyle::none,
                      look.underlined)
                << look.at;
            EXPECT_EQ(attributes.foregroundColor == platform::Color::red(), look.red) << look.at;
        }
    }
    view.undo();
    const auto undone = shownText();
    for (const auto& look : looks)
        EXPECT_EQ(undone.attributes(look.at).font->family, plain.font->family) << "one undo step " << look.at;
}

// Bold, italic and underline over a selection: on for all of it when any part lacks it, off when
// all has it, the rest of each run's look kept; each one undo step named after it. Without a
// selection the trait goes to what is typed next.
TEST_F(EditorControllerTest, TraitsToggleOverTheSelectionAsNamedSteps) {
    using Trait = EditorController::TextTrait;
    namespace U = platform::UnderlineStyle;
    const auto traitAt = [&](Trait trait, int at) {
        const auto attributes = shownText().attributes(at);
        switch (trait) {
        case Trait::bold:
            return attributes.font && attributes.font->bold;
        case Trait::italic:
            return attributes.font && attributes.font->italic;
        case Trait::underline:
            return attributes.underlineStyle.value_or(U::none) != U::none;
        }
        return false;
    };
    const struct {
        Trait trait;
        const char* name;
    } traits[] = {{Trait::bold, "Bold"}, {Trait::italic, "Italic"}, {Trait::underline, "Underline"}};
    for (const auto& t : traits) {
        SCOPED_TRACE(t.name);
        platform::Attributes red = sans(20);
        red.foregroundColor = platform::Color::red();
        AttributedString text(QStringLiteral("alpha beta gamma"), sans(20));
        text.setAttributes(red, {6, 4});
        load(text);
        select(6, 10); // "beta", red
        controller->toggleTrait(t.trait);
        EXPECT_TRUE(traitAt(t.trait, 6) && traitAt(t.trait, 9));
        EXPECT_FALSE(traitAt(t.trait, 5) || traitAt(t.trait, 10)) << "only the selection";
        EXPECT_EQ(shownText().attributes(7).foregroundColor, platform::Color::red()) << "its colour stays";
        EXPECT_EQ(view.undoActionName(), t.name);
        EXPECT_TRUE(controller->hasPendingEdit());

        select(0, 10); // partly on: all on
        controller->toggleTrait(t.trait);
        EXPECT_TRUE(traitAt(t.trait, 0) && traitAt(t.trait, 9));
        controller->toggleTrait(t.trait); // all on: all off
        EXPECT_FALSE(traitAt(t.trait, 0) || traitAt(t.trait, 9));
        view.undo();
        view.undo();
        EXPECT_TRUE(traitAt(t.trait, 6) && !traitAt(t.trait, 0)) << "one step each";

        select(16, 16); // nothing selected: what is typed next
        controller->toggleTrait(t.trait);
        QTest::keyClicks(&view, QStringLiteral("xy"));
        EXPECT_EQ(viewText(), QStringLiteral("alpha beta gammaxy"));
        EXPECT_TRUE(traitAt(t.trait, 16) && traitAt(t.trait, 17));
        EXPECT_FALSE(traitAt(t.trait, 15));
    }
    QApplication::clipboard()->setText(QStringLiteral("pasted"));
    view.paste();
    EXPECT_EQ(view.undoActionName(), QStringLiteral("Paste")) << "pastes are named too";
    changeEditor([](cw::Editor& e) { e.isLocked = true; });
    select(0, 5);
    controller->toggleTrait(Trait::bold);
    EXPECT_FALSE(traitAt(Trait::bold, 0)) << "a locked editor stays as it is";
}

// A face chosen in the Script pane's font panel (Bold, Italic) goes to the selection, as a family
// does, as one undo step "Font".
TEST_F(EditorControllerTest, AFacePickedInTheFontPanelStylesTheSelection) {
    load(AttributedString(QStringLiteral("alpha beta"), sans(20)));
    platform::NotificationCenter center;
    auto pane = std::make_shared<cw::editor::ProjectPropertiesController>(project, defaults, center);
    pane->view()->show();
    select(6, 10);
    pane->controls().fontButton->click();
    auto* panel = pane->view()->findChild<QFontDialog*>();
    ASSERT_TRUE(panel);
    for (const auto& [face, bold, italic] : {std::tuple{"Bold", true, false}, {"Oblique", false, true}}) {
        SCOPED_TRACE(face);
        auto* styles = panel->findChildren<QListView*>().value(1); // family, face, size
        ASSERT_TRUE(styles);
        const QModelIndexList found = styles->model()->match(styles->model()->index(0, 0), Qt::DisplayRole,
                                                             QString::fromLatin1(face), 1, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1);
        styles->setCurrentIndex(found.first());
        const auto picked = shownText().attributes(7).font;
        ASSERT_TRUE(picked);
        EXPECT_EQ(picked->bold, bold);
        EXPECT_EQ(picked->italic, italic);
        EXPECT_FALSE(shownText().attributes(2).font->bold || shownText().attributes(2).font->italic)
            << "only the selection";
        EXPECT_EQ(view.undoActionName(), QStringLiteral("Font"));
    }
    panel->close();
}

// Only typing is an edit: a script opened from its file, settled, resized and restyled from the
// project has nothing to hand over and stays saved; a typed key then waits for the autosave.
TEST_F(EditorViewsTest, RestylingIsNoEditTypingIs) {
    const std::string file = (dir / "saved.cwr").string();
    {
        auto saved = cw::Project::create(defaults);
        saved->setText(AttributedString(QStringLiteral("Good evening.\nThis is the news."), sans(12)));
        saved->save(file);
    }
    project->loadDocument(file);
    showLoaded(800, 500);
    views.container->resize(1000, 600);
    own->syncProps();
    changeProperties([](auto& p) {
        p.prompterWordCountFactor = 0.8f;
        p.textAlignment = cw::TextAlignment::left;
        p.flipHorizontal = true;
        p.backgroundColor = platform::Color::blue();
    });
    project->setHasUnsavedChanges(false); // the properties themselves are a change of the project
    views.container->resize(900, 500);
    EXPECT_FALSE(own->hasPendingEdit()) << "a restyle is no edit";
    timer->advance(EditorController::defaultAutosaveInterval);
    EXPECT_FALSE(project->hasUnsavedChanges());
    EXPECT_EQ(counter->texts, 0);
    EXPECT_EQ(project->editor().lineHeight, own->lineHeight()) << "the editor state follows the restyle";

    QTest::keyClick(views.text, Qt::Key_A);
    EXPECT_TRUE(own->hasPendingEdit());
    timer->advance(EditorController::defaultAutosaveInterval);
    EXPECT_TRUE(project->hasUnsavedChanges());
    EXPECT_EQ(counter->texts, 1);
}

// Undo takes back what the user typed, never the editor's own restyles: after a resize, a new
// word-count factor or a new alignment, one Ctrl+Z removes the typing and leaves size and
// alignment as they are; with nothing left to undo, Ctrl+Z changes nothing.
TEST_F(EditorViewsTest, UndoTakesBackTypingNeverARestyle) {
    using Restyle = std::function<void(EditorViewsTest&)>;
    auto withProperties = [](auto change) -> Restyle {
        return [change](EditorViewsTest& t) { t.changeProperties(change); };
    };
    const struct {
        const char* name;
        Restyle restyle;
    } restyles[] = {
        {"resize", [](EditorViewsTest& t) { t.views.container->resize(1000, 600); }},
        {"words per line", withProperties([](auto& p) { p.prompterWordCountFactor = 0.7f; })},
        {"alignment", withProperties([](auto& p) { p.textAlignment = cw::TextAlignment::right; })},
    };
    const auto initial = project->document().scriptProperties;
    showLoaded(800, 500);
    for (const auto& r : restyles) {
        project->setScriptProperties(initial);
        views.container->resize(800, 500);
        const QString original = QStringLiteral("Good evening.\nThis is the news (%1).").arg(r.name);
        project->setText(AttributedString(original, sans(12))); // a new text: no undo history
        views.text->moveCursor(QTextCursor::End);
        QTest::keyClicks(views.text, "Hello");
        r.restyle(*this);
        const double size = own->lineHeight();
        const auto alignment = shownAlignment(*views.text);
        int lines = 0;
        for (int undo = 1; undo <= 2; ++undo) {
            QTest::keyClick(views.text, Qt::Key_Z, Qt::ControlModifier);
            EXPECT_EQ(views.text->toPlainText(), original) << r.name << ": the typing is taken back";
            EXPECT_EQ(own->lineHeight(), size) << r.name;
            EXPECT_EQ(pointSizes(*views.text), std::set<double>{size}) << r.name << " undo " << undo;
            EXPECT_EQ(shownAlignment(*views.text), alignment) << r.name << " undo " << undo;
            if (undo == 1)
                lines = project->editor().lineCount;
            EXPECT_EQ(project->editor().lineCount, lines) << r.name << ": nothing more to undo";
        }
        QTest::keyClick(views.text, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_EQ(views.text->toPlainText(), original + "Hello") << r.name << ": redo types it again";
        EXPECT_EQ(pointSizes(*views.text), std::set<double>{size}) << r.name;
    }
}

// Typed text carries the script's font, size and colour wherever it is typed: after deleting
// everything (Delete, Backspace, Cut) or on a new first line, where Qt would fall back to its own
// small grey default; the project receives it so.
TEST_F(EditorViewsTest, TypingCarriesTheScriptsLook) {
    using Keys = std::function<void(QWidget*)>;
    auto selectAllThen = [](Qt::Key key, Qt::KeyboardModifiers modifiers) -> Keys {
        return [key, modifiers](QWidget* w) {
            QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(w, key, modifiers);
        };
    };
    const struct {
        const char* name;
        Keys keys;
    } cases[] = {
        {"delete", selectAllThen(Qt::Key_Delete, Qt::NoModifier)},
        {"backspace", selectAllThen(Qt::Key_Backspace, Qt::NoModifier)},
        {"cut", selectAllThen(Qt::Key_X, Qt::ControlModifier)},
        {"new first line",
         [](QWidget* w) {
             QTest::keyClick(w, Qt::Key_Home, Qt::ControlModifier);
             QTest::keyClick(w, Qt::Key_Return);
             QTest::keyClick(w, Qt::Key_Up);
         }},
    };
    const platform::Font scriptFont = cw::defaultFont(defaults);
    const platform::Color scriptColour = cw::defaultTextColor(defaults);
    platform::Attributes look;
    look.font = scriptFont.withPointSize(30);
    look.foregroundColor = scriptColour;
    showLoaded(800, 500);
    for (const auto& c : cases) {
        project->setText(AttributedString(QStringLiteral("Good evening (%1).").arg(c.name), look));
        c.keys(views.text);
        const int at = views.text->textCursor().position();
        QTest::keyClick(views.text, Qt::Key_Q);
        timer->advance(EditorController::defaultAutosaveInterval);
        const auto& stored = project->document().text;
        ASSERT_EQ(stored.string().at(at), u'q') << c.name;
        const platform::Attributes typed = stored.attributes(at);
        const platform::Font font = typed.font.value_or(platform::Font{});
        EXPECT_EQ(font.family, scriptFont.family) << c.name;
        EXPECT_EQ(font.pointSize, own->lineHeight()) << c.name;
        EXPECT_EQ(typed.foregroundColor, scriptColour) << c.name;
        EXPECT_EQ(pointSizes(*views.text), std::set<double>{own->lineHeight()}) << c.name;
    }
}

// A paste that makes the script long enough to pass what Qt's layout reaches at the size shown
// makes the editor show it smaller first, at the size it keeps; its lines are still counted at the
// column's size.
TEST_F(EditorViewsTest, ALongPasteIsShownSmallerBeforeItIsLaidOut) {
    changeProperties([](auto& p) { p.prompterWordCountFactor = 0; }); // the largest font
    showViews(1000, 600);
    project->setText(AttributedString(QStringLiteral("Good evening.")));
    own->load();
    const double size = own->lineHeight();
    QApplication::clipboard()->setText(QStringLiteral("word ").repeated(60000));
    views.text->moveCursor(QTextCursor::End);
    views.text->paste();
    const QTextDocument& document = *views.text->document();
    EXPECT_LE(document.documentLayout()->documentSize().height(), cw::EditorAppearance::maximumLaidOutHeight);
    const double shown = own->lineHeight();
    EXPECT_LT(shown, size);
    // It goes in by pieces: a re-sync meanwhile sizes the column for the whole paste still.
    ASSERT_TRUE(views.text->isPasting());
    own->syncProps();
    EXPECT_EQ(own->lineHeight(), shown);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !views.text->isPasting() && !own->isCountingLines(); }, 60000));
    own->autosave();
    own->syncProps();
    EXPECT_EQ(own->lineHeight(), shown) << "the size it was shown at from the start";
    EXPECT_GT(project->editor().lineCount, 30000) << "about two words a line at the column's size";
}

} // namespace appearance

namespace scrolling {

void turnWheel(ScriptTextView& textView) {
    const QPointF at(50, 50);
    QWheelEvent wheel(at, textView.viewport()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(textView.viewport(), &wheel);
}

// The prompter lays out the lines the project counts, at any width and word count factor: plain,
// bold and italic runs, two families, short and wrapping paragraphs, a closing line break; a
// paragraph the editor holds as several blocks, cut at spaces and inside a long run without one; a
// word wider than the column.
TEST_F(EditorControllerTest, PromptersShowTheLinesTheProjectCounts) {
    QString words;
    for (int i = 0; i < 900; ++i)
        words += QString::fromLatin1(i % 37 == 36 ? "Wednesday.\n" : i % 11 == 0 ? "presenter " : "is a ");
    words += u'\n';
    AttributedString styled(words);
    styled.addAttributes(sans(12), {0, int(words.size())});
    platform::Attributes bold = sans(12), serif;
    bold.font->bold = true;
    serif.font = platform::Font{QStringLiteral("DejaVu Serif"), 12, false, true};
    styled.addAttributes(bold, {40, 300});
    styled.addAttributes(serif, {900, 400});
    const QString ten = QStringLiteral("one two three four five six seven eight nine ten ");
    const QString run = ten.repeated(400) + QString(5000, u'x') + u' ' + ten.repeated(400) + u'\n';
    const struct {
        const char* what;
        AttributedString text;
    } texts[] = {{"styled", styled},
                 {"one long paragraph", AttributedString(ten.repeated(1429).chopped(1))}, // 70,020 characters
                 {"a long run in it", AttributedString(run)},
                 // At the largest font a word wider than the column, broken between its letters.
                 {"an overlong word", AttributedString(QStringLiteral("is a extraordinarily word.\n"
                                                                      "extraordinarily\n")
                                                           .repeated(40))}};
    for (const auto& t : texts) {
        for (const float factor : {0.0f, 0.5f}) {
            changeProperties([&](auto& p) { p.prompterWordCountFactor = factor; });
            load(t.text);
            const auto& counted = project->editor().lineRanges;
            ASSERT_GT(counted.size(), 100u) << t.what;
            std::vector<int> starts(counted.size());
            std::ranges::transform(counted, starts.begin(),
                                   [](const auto& line) { return line.range.location; });
            const QString& string = t.text.string();
            if (string.endsWith(u'\n'))
                starts.push_back(int(string.size())); // the empty line after the closing break
            for (const int width : {800, 960}) {
                cw::PrompterView prompter;
                prompter.resize(width, 600);
                prompter.setText(project->document().text);
                prompter.updateDisplay([&](auto& s) { s.prompterWordCountFactor = factor; });
                prompter.layoutText();
                prompter.finishLayingOutText();
                EXPECT_EQ(prompter.lineStarts(), starts) << t.what << " " << width << " factor " << factor;
                EXPECT_EQ(int(prompter.lineStarts().size()), project->editor().lineCount) << t.what;
            }
        }
    }
}

class EditorScrollTest : public EditorControllerTest {
public:
    EditorScrollTest() {
        QString lines;
        for (int i = 0; i < 200; ++i)
            lines += QStringLiteral("line %1\n").arg(i);
        load(AttributedString(lines));
        view.setScrollAnimationDuration(0);
        project->setScrollSpeed(0, 0, 0); // playing does not move the position
        reset();
    }
    void reset() {
        project->pause();
        defaults.set(cw::settings::syncTeleprompterWindowToEditorScrolling, true);
        defaults.set(cw::settings::scrollEditorToStopPosition, true);
        defaults.set(cw::settings::autoscrollEditorDuringPrompting, false);
        defaults.set(cw::settings::autospawnPrompterWindow, false);
        controller->setFreezeScroll(false);
        project->setProgress(0, false, false);
    }
    double progress() const { return project->transportState().progress; }
    // The progress the editor shows at its reading position.
    double shown() const {
        const auto& lines = view.lineMetrics();
        return cw::EditorScrolling::progress(*view.document(), {lines.lineRanges, lines.lineCount},
                                             view.scrollOffset())
            .value_or(-1);
    }
};

using Step = std::function<void(EditorScrollTest&)>;
Step set(std::string_view key, bool on) {
    return [key, on](EditorScrollTest& t) { t.defaults.set(key, on); };
}
Step progressTo(double p) {
    return [p](EditorScrollTest& t) { t.project->setProgress(p, false, false); };
}
const Step play = [](EditorScrollTest& t) { t.project->play(); };
const Step pause = [](EditorScrollTest& t) { t.project->pause(); };
const Step syncOff = set(cw::settings::syncTeleprompterWindowToEditorScrolling, false);

TEST_F(EditorScrollTest, WheelMovesTheProgressOnlyWhileStoppedAndSynchronised) {
    const struct {
        const char* what;
        Step arrange;
        bool moves;
    } cases[] = {
        {"stopped", [](EditorScrollTest&) {}, true},
        {"playing", play, false},
        {"sync off", syncOff, false},
        {"frozen", [](EditorScrollTest& t) { t.controller->setFreezeScroll(true); }, false},
    };
    for (const auto& c : cases) {
        reset();
        c.arrange(*this);
        turnWheel(view);
        EXPECT_GT(view.scrollOffset(), 0) << c.what << ": the editor scrolls in any case";
        EXPECT_EQ(progress() > 0, c.moves) << c.what;
        if (c.moves) {
            EXPECT_NEAR(progress(), shown(), 1e-9) << c.what;
        }
    }
    reset();
    view.verticalScrollBar()->setValue(300);
    EXPECT_EQ(progress(), 0) << "a scroll that is not the wheel's moves nothing";
}

// The characters of the editor's own laid-out line at document height `y`.
platform::TextRange shownLineAt(const QTextDocument& document, double y) {
    document.documentLayout()->documentSize(); // laid out whole
    platform::TextRange found;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const QTextLayout& layout = *block.layout();
        for (int i = 0; i < layout.lineCount(); ++i) {
            const QTextLine line = layout.lineAt(i);
            if (layout.position().y() + line.y() <= y) {
                found = {block.position() + line.textStart(), line.textLength()};
            }
        }
    }
    return found;
}

// At a width whose line breaks are not the counted ones, the editor shows at its reading position
// the counted line a progress names: after jumps to a line's middle and to shares of it, and as
// the wheel sets the progress; Ctrl+D on the word read there marks that line.
TEST_F(EditorScrollTest, TheEditorShowsTheCountedLineAtItsMark) {
    const char* vocabulary[] = {"a",    "presenter", "reads", "aloud", "while", "the", "extraordinarily",
                                "long", "script",    "moves", "up",    "past",  "its", "reading",
                                "line"};
    QString text;
    for (int paragraph = 0, word = 0; paragraph < 40; ++paragraph) {
        const int words = 7 + paragraph * 13 % 29;
        for (int i = 0; i < words; ++i, ++word) {
            text += QString::fromLatin1(vocabulary[word * 7 % 15]) + (i + 1 < words ? " " : "\n");
        }
    }
    changeProperties([](auto& p) { p.prompterWordCountFactor = 0.8f; }); // a small font: new breaks
    load(AttributedString(text));
    reset();
    const auto& counted = project->editor().lineRanges;
    const int n = project->editor().lineCount;
    ASSERT_GT(counted.size(), 100u);
    // The editor's line at its mark, within the whole pixel it scrolls to, holds words of line k.
    const auto readsLine = [&](int k) {
        const platform::TextRange line = counted[static_cast<std::size_t>(k)].range;
        return std::ranges::any_of(std::array{-0.5, 0.5}, [&](double within) {
            const platform::TextRange shown = shownLineAt(*view.document(), view.scrollOffset() + within);
            return shown.location < line.end() && line.location < shown.end();
        });
    };
    for (int k = 0; k + 1 < n; k += 3) {
        for (const double share : {0.3, 0.5, 0.7}) {
            project->setProgress((k + share) / n, false, false);
            EXPECT_TRUE(readsLine(k)) << "line " << k << " at " << share;
        }
    }
    project->setProgress(0, false, false);
    int k = 0;
    for (int turn = 0; turn < 200 && k < int(counted.size()) / 2; ++turn) { // down to the middle
        turnWheel(view);
        k = int(progress() * n);
        EXPECT_TRUE(readsLine(k)) << "turn " << turn << ": the wheel set line " << k;
    }
    // A click on a word of the line read, on the editor's line at the reading position, and Ctrl+D:
    // the line the progress names, after the wheel and after jumps; Ctrl+D again takes it away.
    const auto markedAtReadingPosition = [&] {
        const int read = int(progress() * n);
        const platform::TextRange line = counted[static_cast<std::size_t>(read)].range;
        const platform::TextRange shown = shownLineAt(*view.document(), view.scrollOffset() + 0.5);
        QTextCursor word(view.document());
        word.setPosition(std::max(line.location, shown.location) + 1);
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {},
                          QPoint(view.cursorRect(word).center().x(), int(std::lround(view.topInset()))));
        controller->toggleBookmark();
        const auto marks = project->bookmarks();
        controller->toggleBookmark();
        return marks.size() == 1 && marks[0].line == read + 1;
    };
    EXPECT_TRUE(markedAtReadingPosition()) << "after the wheel";
    for (const int line : {31, 62, 93}) {
        project->setProgress((line + 0.5) / n, false, false);
        EXPECT_TRUE(markedAtReadingPosition()) << "line " << line;
    }
    EXPECT_TRUE(project->bookmarks().empty());
}

// A word count factor that leaves the font at its floor may still count other lines: the editor
// follows them to the reading position.
TEST_F(EditorScrollTest, LinesCountedAnewAtTheSameFontSizeAreFollowed) {
    QString text;
    for (int i = 0; i < 60; ++i) {
        text += QStringLiteral("word ").repeated(i < 20 ? 60 : 2) + u'\n';
    }
    changeProperties([](auto& p) { p.prompterWordCountFactor = 0.95f; }); // a column of 100 ems
    load(AttributedString(text));
    reset();
    project->setProgress(0.5, false, false);
    const int before = project->editor().lineCount;
    const double size = project->editor().lineHeight;
    changeProperties([](auto& p) { p.prompterWordCountFactor = 0.97f; }); // of 167 ems
    const int after = project->editor().lineCount;
    ASSERT_NE(after, before);
    ASSERT_EQ(project->editor().lineHeight, size);
    EXPECT_NEAR(shown(), 0.5, 1.0 / after) << before << " lines, then " << after;
}

TEST_F(EditorScrollTest, JumpsStepsStopsAndPlaybackScrollTheEditor) {
    const Step autoscrollOn = set(cw::settings::autoscrollEditorDuringPrompting, true);
    const Step stopOff = set(cw::settings::scrollEditorToStopPosition, false);
    const Step seekStep = [](EditorScrollTest& t) {
        t.controller->projectSeekDidStep(*t.project, 0, 0.4, 0.1);
    };
    const Step tick = [](EditorScrollTest& t) { t.scrollTimer->tick(); };
    const auto switchAutoscroll = [](bool on) {
        return Step([on](EditorScrollTest& t) { cw::setAutoscrollEditorDuringPrompting(on, t.defaults); });
    };
    const struct {
        const char* what;
        std::vector<Step> steps;
        double shown;   // the progress the editor shows afterwards
        bool following; // the auto-scroll timer runs
    } cases[] = {
        {"a jump scrolls", {progressTo(0.5)}, 0.5, false},
        {"not without sync", {syncOff, progressTo(0.5)}, 0, false},
        {"a seek step scrolls even without sync", {syncOff, progressTo(0.4), seekStep}, 0.4, false},
        {"a stop scrolls to where it stopped", {syncOff, play, progressTo(0.3), pause}, 0.3, false},
        {"not with the stop setting off", {syncOff, stopOff, play, progressTo(0.3), pause}, 0, false},
        {"playing, auto-scroll follows", {autoscrollOn, syncOff, play, progressTo(0.6), tick}, 0.6, true},
        {"auto-scroll switched on while playing follows", {syncOff, play, switchAutoscroll(true)}, 0, true},
        {"and switched off stops", {autoscrollOn, play, switchAutoscroll(false)}, 0, false},
    };
    for (const auto& c : cases) {
        reset();
        for (const Step& step : c.steps) {
            step(*this);
        }
        EXPECT_NEAR(shown(), c.shown, 0.01) << c.what;
        EXPECT_EQ(scrollTimer->running(), c.following) << c.what;
        if (c.following) {
            EXPECT_DOUBLE_EQ(scrollTimer->startedInterval(), 1.0 / 33);
        }
    }
    reset();
    EXPECT_FALSE(scrollTimer->running()) << "stopping always stops following";
}

// At the start of `line`, types or pastes lines.
Step editAt(const char* line, bool paste) {
    return [=](EditorScrollTest& t) {
        const int at = int(t.viewText().indexOf(QLatin1String(line)));
        t.select(at, at);
        QApplication::clipboard()->setText(QStringLiteral("A pasted paragraph.\n").repeated(10));
        paste ? t.view.paste() : QTest::keyClicks(&t.view, "new\rwords\rtyped\r");
    };
}
Step replace(const char* from, const char* to) { // typed at the caret (the start) just before
    return [=](EditorScrollTest& t) {
        QTest::keyClick(&t.view, Qt::Key_X);
        cw::editor::TextFinder::ReplaceAll all(*t.view.document(), from, to, Qt::CaseSensitive);
        while (!all.gatherNext()) {
        }
        t.view.beginStepGroup(); // a long edit: its lines are counted in parts
        t.view.namedEdit("Replace All", [&](QTextCursor& cursor) {
            while (!all.isDone())
                all.replaceNext(cursor);
        });
        t.view.endStepGroup();
    };
}

// An edit after the reading position leaves a prompter and the editor on its words, one before it
// moves the position with them, one that takes them away leaves it where they were; the prompter
// never shows others, and the editor follows unless the caret took it elsewhere.
TEST_F(EditorScrollTest, AnEditKeepsTheReadingPositionOnItsWords) {
    const Step mark = [](EditorScrollTest& t) { // in the middle of "line 150"; a line a paragraph
        const auto line = t.viewText().left(t.viewText().indexOf("line 150\n")).count(u'\n');
        t.project->setProgress((line + 0.5) / t.project->editor().lineCount, false, true);
    };
    const Step font = [](EditorScrollTest& t) {
        QTest::keyClick(&t.view, Qt::Key_A, Qt::ControlModifier); // the view goes to the caret, at the end
        t.changeEditor([](auto& e) { e.typingAttributes.font = {"DejaVu Serif", 9, true, false}; });
    };
    const Step undo = [](EditorScrollTest& t) { t.view.undo(); };
    const Step redo = [](EditorScrollTest& t) { t.view.redo(); };
    const struct {
        const char* what;
        std::vector<Step> steps;
        const char* read; // at the reading position afterwards
        bool editorStays; // the caret left the editor there
    } cases[] = {
        {"typing after", {editAt("line 199", false)}, "line 150", false},
        {"a paste after", {editAt("line 199", true)}, "line 150", false},
        {"typing before", {editAt("line 149", false)}, "line 150", true},
        {"a paste before", {editAt("line 0", true)}, "line 150", false},
        {"its words removed", {replace("line 149\nline 150\nline 151\n", "")}, "line 152", false},
        {"Replace All", {replace("line 2", "line\n2")}, "line 150", false},
        {"undone", {editAt("line 0", true), mark, undo}, "line 150", false},
        {"redone", {editAt("line 0", true), undo, mark, redo}, "line 150", false},
        {"a new font", {font}, "line 150", true},
        {"playing", {play, editAt("line 149", false)}, "line 150", true}, // the editor unlocked
    };
    changeProperties([](auto& p) { p.prompterWordCountFactor = 0.8f; }); // many lines in view
    defaults.set(cw::settings::lockEditorDuringPrompting, false);
    const AttributedString script(project->document().text);
    for (const auto& c : cases) {
        controller = makeController(view);
        load(script);
        reset();
        settle();
        auto prompter = cw::PrompterViewController::create(project, defaults);
        prompter->prompterView()->resize(800, 600);
        prompter->start();
        const auto prompterRead = [&, &on = *prompter->prompterView()] { // a line a paragraph
            const int k = on.currentLineIndex();
            return project->document().text.string().section(u'\n', k, k).toStdString();
        };
        mark(*this);
        for (const Step& step : c.steps) {
            step(*this);
            timer->advance(1s); // the text goes over: the prompter shows its words, or the new ones
            EXPECT_TRUE(prompterRead() == "line 150" || prompterRead() == c.read) << c.what;
            ASSERT_TRUE(QTest::qWaitFor([&] { return !controller->isCountingLines(); }));
        }
        EXPECT_EQ(prompterRead(), c.read) << c.what;
        if (!c.editorStays)
            controller->scrollToTransportPosition(false);
        EXPECT_NEAR(shown(), progress(), 0.5 / project->editor().lineCount) << c.what << ": the editor";
        EXPECT_EQ(project->transportState().isPlaying(), std::string_view(c.what) == "playing") << c.what;
    }
}

} // namespace scrolling

// A long script goes into the view piece by piece, the event loop turning between pieces:
// meanwhile the view is read-only, no partial line table reaches the project and the bookmark
// commands wait; a new text meanwhile takes its place; a close stops it. The whole text is
// counted as one measurement of it counts it.
TEST_F(EditorControllerTest, ALongScriptGoesInPieceByPiece) {
    const auto longText = [](const QString& word) {
        QString text;
        for (int i = 0; text.size() < EditorController::piecewiseLoadCharacters + 100000; ++i) {
            text += QStringLiteral("%1 %2 of the script, read at an even pace.\n").arg(word).arg(i);
        }
        return text;
    };
    const QString first = longText(QStringLiteral("Line"));
    const QString second = longText(QStringLiteral("Row"));
    project->setText(AttributedString(first));
    controller->load();
    ASSERT_TRUE(controller->isLoadingText());
    EXPECT_LT(*controller->loadProgress(), 1.0);
    EXPECT_TRUE(view.isReadOnly());
    EXPECT_EQ(project->editor().lineCount, 0);
    controller->toggleBookmark();
    EXPECT_EQ(project->document().text.string(), first) << "a bookmark command changed a text going in";

    QCoreApplication::processEvents(); // one piece more
    project->setText(AttributedString(second));
    std::vector<double> progress;
    while (const auto taken = controller->loadProgress()) {
        progress.push_back(*taken);
        QCoreApplication::processEvents();
    }
    EXPECT_GT(progress.size(), 2u);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_FALSE(view.isReadOnly());
    EXPECT_TRUE(viewText() == second);
    std::unique_ptr<QTextDocument> fresh(view.document()->clone());
    fresh->setTextWidth(view.document()->textWidth());
    const auto expected = cw::editor::measureLines(*fresh, view.lineCounting());
    EXPECT_EQ(project->editor().lineCount, expected.lineCount);
    EXPECT_TRUE(project->editor().lineRanges == expected.lineRanges);

    project->setText(AttributedString(first));
    ASSERT_TRUE(controller->isLoadingText());
    controller->close();
    EXPECT_FALSE(controller->isLoadingText());
    EXPECT_TRUE(view.document()->isUndoRedoEnabled());
}

// A million one-word lines are laid out taller than Qt's layout goes without a page height
// (2^23 pixels, where it stopped for good) and than its scroll range reckons (21 million): they
// go in, and the view scrolls to their end.
TEST_F(EditorControllerTest, AMillionOneWordLinesGoInAndScrollToTheirEnd) {
    project->setText(AttributedString(QStringLiteral("word\n").repeated(1 << 20)));
    controller->load();
    while (controller->loadProgress()) {
        QCoreApplication::processEvents();
    }
    const double height = view.usedHeight();
    EXPECT_GT(height, double(std::numeric_limits<int>::max() / 100));
    EXPECT_LE(height, cw::EditorAppearance::maximumLaidOutHeight);
    view.scrollToOffset(height, /*animated=*/false);
    EXPECT_NEAR(view.scrollOffset(), height, 1.0);
    EXPECT_EQ(project->editor().lineCount, (1 << 20) + 1);
}

// Past what the view can lay out at its smallest size: too many lines are held back (the view
// empty and read-only, saying why, the project's text untouched, its lines counted) and a paste that would
// make too many goes nowhere; a text too long for a thin column is laid out wider.
TEST_F(EditorControllerTest, TextBeyondWhatTheViewCanLayOutIsHeldBackOrLaidOutWider) {
    const QString tooMany = QStringLiteral("w\n").repeated(3000000);
    project->setText(AttributedString(tooMany));
    controller->load();
    EXPECT_FALSE(controller->isLoadingText());
    EXPECT_TRUE(view.document()->isEmpty());
    EXPECT_TRUE(view.isReadOnly());
    EXPECT_TRUE(view.placeholderText().contains(QLocale().toString(3000001)))
        << view.placeholderText().toStdString();
    // Counted as the lines of a text shown: the status bar's count and running time follow.
    EXPECT_EQ(project->editor().lineCount, 3000001);
    EXPECT_EQ(project->editor().lineRanges.size(), 3000000u);
    controller->autosave();
    EXPECT_EQ(project->document().text.string(), tooMany);

    QApplication::clipboard()->setText(tooMany);
    for (const float factor : {0.5f, 0.99f}) { // the second shows the text at the smallest size
        changeProperties([factor](auto& p) { p.prompterWordCountFactor = factor; });
        load(AttributedString(QStringLiteral("Good evening.")));
        EXPECT_FALSE(view.isReadOnly());
        EXPECT_TRUE(view.placeholderText().isEmpty());
        view.moveCursor(QTextCursor::End);
        view.paste();
        EXPECT_EQ(viewText(), QStringLiteral("Good evening.")) << factor;
    }

    // A floor wider than the view: laid out that wide, the page's height kept.
    view.setWrapWidthFloor(view.viewport()->width() + 100);
    EXPECT_EQ(view.lineWrapMode(), QTextEdit::FixedPixelWidth);
    EXPECT_EQ(view.document()->pageSize(),
              QSizeF(view.viewport()->width() + 100, ScriptTextView::pageHeight));
    view.setWrapWidthFloor(0);
    EXPECT_EQ(view.lineWrapMode(), QTextEdit::WidgetWidth);
    EXPECT_EQ(view.document()->pageSize(), QSizeF(view.viewport()->width(), ScriptTextView::pageHeight));
}

} // namespace

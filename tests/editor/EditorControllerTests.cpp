// The editor controller and the script text view against a real project, offscreen.
#include "cuewright/editor/EditorController.h"
#include "cuewright/editor/PasteRules.h"
#include "cuewright/editor/ScriptTextView.h"
#include "cuewright/editor/TextBridge.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/SettingsKeys.h"
#include "platform/defaults/Defaults.h"

#include "support/TempDir.h"

#include "ScreenshotSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QMimeData>
#include <QTest>

#include <optional>

using namespace std::chrono_literals;
using cw::editor::EditorController;
using cw::editor::ScriptTextView;
using platform::AttributedString;

namespace {

// A one-shot timer on a clock that only the test moves.
class FakeTimer final : public cw::editor::AutosaveTimer {
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

struct TextCounter : cw::ProjectEventListener {
    int texts = 0;
    void projectTextDidChange(cw::Project&) override { ++texts; }
};

class EditorControllerTest : public ::testing::Test {
protected:
    EditorControllerTest()
        : defaults(platform::Defaults::Options{dir / "defaults.json", 1h, {}})
        , project(cw::Project::create(defaults)) {
        auto owned = std::make_unique<FakeTimer>();
        timer = owned.get();
        controller = std::make_shared<EditorController>(project, view, defaults, std::move(owned));
        view.resize(600, 400);
        view.show();
        project->registerEventListener(counter);
    }

    void load(const AttributedString& text) {
        project->setText(text);
        controller->load();
        counter->texts = 0;
    }
    QString viewText() const { return view.toPlainText(); }

    testsupport::TempDir dir;
    platform::Defaults defaults;
    std::shared_ptr<cw::Project> project;
    ScriptTextView view;
    FakeTimer* timer = nullptr;
    std::shared_ptr<EditorController> controller;
    std::shared_ptr<TextCounter> counter = std::make_shared<TextCounter>();
};

TEST_F(EditorControllerTest, EditsReachTheProjectOncePausedAndBeforeSaving) {
    load(AttributedString(QStringLiteral("go")));
    EXPECT_FALSE(controller->hasPendingEdit()) << "a load is no edit";
    view.moveCursor(QTextCursor::End);
    for (int i = 0; i < 10; ++i) {
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

TEST_F(EditorControllerTest, QtTimerHandsTheTextOverFromTheEventLoop) {
    ScriptTextView own;
    auto qtTimed = std::make_shared<EditorController>(project, own, defaults);
    EXPECT_EQ(qtTimed->autosaveInterval(), 300ms);
    qtTimed->setAutosaveInterval(0ms);
    qtTimed->load();
    QTest::keyClick(&own, Qt::Key_Q);
    EXPECT_TRUE(qtTimed->hasPendingEdit());
    for (int pass = 0; pass < 100 && qtTimed->hasPendingEdit(); ++pass) {
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(project->document().text.string(), QStringLiteral("q"));
    EXPECT_EQ(viewText(), QString()) << "this editor is not loaded and does not follow";
}

TEST_F(EditorControllerTest, ProjectTextLoadsWithoutCountingAsAnEditAndLinesArePublished) {
    load(AttributedString(QStringLiteral("one")));
    project->setText(AttributedString(QStringLiteral("a b")));
    EXPECT_EQ(viewText(), QStringLiteral("a b"));
    EXPECT_FALSE(controller->hasPendingEdit());
    EXPECT_EQ(project->editor().lineCount, 1);
    EXPECT_EQ(counter->texts, 1) << "only the project's own change";

    view.moveCursor(QTextCursor::End);
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_TRUE(controller->hasPendingEdit());
    EXPECT_EQ(project->editor().lineCount, 2) << "published at once, before the autosave";
    EXPECT_EQ(project->editor().lineRanges, (std::vector<cw::Editor::LineRange>{{1, {0, 4}}}));
    EXPECT_DOUBLE_EQ(project->averageWordsPerLine(), 1.0);

    controller->close();
    project->setText(AttributedString(QStringLiteral("unheard")));
    EXPECT_EQ(viewText(), QStringLiteral("a b\n")) << "a closed editor no longer follows the project";
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
        if (c.playing) {
            controller->projectDidStartPlayback(*project);
        } else {
            controller->projectDidStopPlayback(*project);
        }
        EXPECT_EQ(view.isReadOnly(), c.readOnly) << c.setting << c.playing;
        EXPECT_EQ(project->editor().isLocked, c.readOnly);
    }
    cw::Editor locked = project->editor();
    locked.isLocked = true;
    project->setEditor(locked);
    QTest::keyClick(&view, Qt::Key_Z);
    EXPECT_EQ(viewText(), QStringLiteral("x")) << "a locked editor takes no typing";
    EXPECT_FALSE(controller->hasPendingEdit());
}

TEST_F(EditorControllerTest, PasteGoesThroughThePasteRules) {
    const platform::Font typing{QStringLiteral("DejaVu Sans"), 40, false, false};
    platform::Attributes look;
    look.font = typing;
    look.foregroundColor = platform::Color::red();
    load(AttributedString(QStringLiteral("ab"), look));
    const auto style = cw::ScriptImport::DefaultStyle::fromUserDefaults(defaults);

    const struct {
        const char* html; // the plain text is the same without tags
        const char* plain;
    } cases[] = {{"<span style=\"color:#808080\"><b>bold</b> grey</span>", "bold grey"},
                 {nullptr, "line\r\nbreak"}};
    for (const auto& c : cases) {
        auto* mime = new QMimeData;
        mime->setText(QString::fromUtf8(c.plain));
        if (c.html) {
            mime->setHtml(QString::fromUtf8(c.html));
        }
        view.moveCursor(QTextCursor::End);
        const AttributedString expected = view.pastedContent(*mime);
        const int before = view.document()->characterCount() - 1;
        QApplication::clipboard()->setMimeData(mime);
        view.paste();

        const AttributedString text = cw::editor::attributedText(*view.document());
        const AttributedString inserted = text.substring({before, expected.length()});
        EXPECT_EQ(inserted.string(), expected.string()) << c.plain;
        for (const auto& run : expected.runs()) {
            const auto got = inserted.attributes(run.range.location);
            EXPECT_EQ(got.font, run.attributes.font) << c.plain << " at " << run.range.location;
            EXPECT_EQ(got.foregroundColor, style.textColor) << "the paste's main colour is the default";
            EXPECT_EQ(got.font->pointSize, 40) << "at the typing size";
        }
        EXPECT_TRUE(controller->hasPendingEdit());
    }
    const auto expected = view.pastedContent(QMimeData());
    EXPECT_TRUE(expected.isEmpty());
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
        QTextCursor cursor(view.document());
        cursor.setPosition(c.anchor);
        cursor.setPosition(c.position, QTextCursor::KeepAnchor);
        view.setTextCursor(cursor);
        if (c.inputMethod) {
            QInputMethodEvent composed;
            composed.setCommitString(QStringLiteral("y"));
            QApplication::sendEvent(&view, &composed);
        } else {
            QTest::keyClick(&view, Qt::Key_Y);
        }

        const AttributedString typed = cw::editor::attributedText(*view.document());
        EXPECT_EQ(typed.string(), QString::fromUtf8(c.result));
        EXPECT_EQ(typed.attributes(0).bookmark, marked.bookmark) << "the bookmarked character keeps it";
        EXPECT_EQ(typed.attributes(1).bookmark, nullptr) << c.anchor << c.inputMethod;
    }
}

TEST_F(EditorControllerTest, ScreenshotLightAndDark) {
    const QString folder = editortest::screenshotFolder();
    ASSERT_FALSE(folder.isEmpty());
    const auto style = cw::ScriptImport::DefaultStyle::fromUserDefaults(defaults);
    platform::Attributes body;
    body.font = style.font.withPointSize(28);
    body.foregroundColor = platform::Color::gray(0.5);
    body.paragraphStyle = style.paragraphStyle;
    AttributedString script(QStringLiteral("Good evening, and welcome.\n"
                                           "Tonight: the harbour bridge reopens after two years.\n"
                                           "Back to you in the studio."),
                            body);
    platform::Attributes accent;
    accent.foregroundColor = platform::Color::red();
    accent.font = body.font->withTraits(true, false);
    script.addAttributes(accent, {14, 11});
    load(script);
    for (const auto& s : editortest::lightAndDark) {
        platform::Appearance::applyToWindow(&view, s.style);
        EXPECT_TRUE(view.grab().toImage().save(folder + "/editor-" + s.name + ".png")) << s.name;
    }
}

} // namespace

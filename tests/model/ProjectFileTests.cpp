// Saving, opening and exporting through the project: what listeners hear and when, what the
// project's path and unsaved flag become, and that a failed save changes nothing.
#include "ModelTestFiles.h"
#include "ProjectTestSupport.h"

#include "cuewright/model/DatabaseError.h"
#include "cuewright/model/ProjectError.h"
#include "cuewright/model/ScriptDocumentFile.h"
#include "cuewright/model/SettingsKeys.h"
#include "platform/defaults/ArchivedValues.h"
#include "sql/Connection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <thread>

using namespace projecttest;
namespace fs = std::filesystem;
using platform::AttributedString;

using modeltest::fileBytes;

namespace {

// Flushes a pending edit in projectWillSave, as the editor does, and notes what was on disk
// and in the project at each notice.
class SavingListener : public cw::ProjectEventListener {
public:
    SavingListener(fs::path destination, std::vector<std::string>* log)
        : destination_(std::move(destination))
        , log_(log) {}

    void projectWillSave(cw::Project& p) override {
        log_->push_back(fs::exists(destination_) ? "willSave:file" : "willSave:nofile");
        if (pendingEdit) {
            p.setText(AttributedString(*pendingEdit));
            pendingEdit.reset();
        }
    }
    void projectDidSave(cw::Project& p) override {
        log_->push_back(std::string("didSave:") + (fs::exists(destination_) ? "file" : "nofile") +
                        (p.hasUnsavedChanges() ? ":unsaved" : ":saved") +
                        (p.representedPath() == destination_.string() ? ":path" : ":nopath"));
    }
    int listenerPriority() const override { return 0; }

    std::optional<QString> pendingEdit;

private:
    fs::path destination_;
    std::vector<std::string>* log_;
};

class ProjectFiles : public ProjectTest {
protected:
    ProjectFiles() {
        project->unregisterEventListener(recorder);
        saver = std::make_shared<SavingListener>(destination, &log);
        project->registerEventListener(saver);
    }

    AttributedString savedText(const fs::path& path) {
        return cw::ScriptDocumentFile::open(path, defaults).text;
    }

    // Saves on a thread of its own while the main thread serves the project.
    void saveOnAnotherThread(const cw::ScriptDocumentFile::SaveOptions& options = {}) {
        std::atomic<bool> done{false};
        std::thread saving([&] {
            project->save(destination.string(), options);
            done = true;
        });
        ASSERT_TRUE(dispatch::runMainUntil([&] { return done.load(); }, 10s));
        saving.join();
    }

    fs::path destination = dir / "script.cwr";
    std::shared_ptr<SavingListener> saver;
};

// Also with a NaN in the document.
TEST_F(ProjectFiles, SaveSendsWillSaveBeforeAndDidSaveAfterAndMarksTheProjectSaved) {
    project->setText(AttributedString("First line"));
    project->setScrollSpeed(std::nan(""), 0.5, 4);
    saver->pendingEdit = "Edited in the editor";
    ASSERT_TRUE(project->hasUnsavedChanges());

    project->save(destination.string());

    EXPECT_EQ(log, (std::vector<std::string>{"willSave:nofile", "didSave:file:saved:path"}));
    EXPECT_FALSE(project->hasUnsavedChanges());
    EXPECT_EQ(project->representedPath(), destination.string());
    // The edit flushed in projectWillSave is in the file.
    EXPECT_EQ(savedText(destination).string(), "Edited in the editor");
}

TEST_F(ProjectFiles, ASavedScriptOpensIntoANewProjectWithoutTellingAnyone) {
    cw::Document::ScriptProperties properties = project->document().scriptProperties;
    properties.flipHorizontal = true;
    properties.backgroundColor = platform::Color(0.1, 0.2, 0.3);
    project->setScriptProperties(properties);
    project->setScrollSpeed(30, 0.5, 4);
    project->setText(AttributedString("Top\n*Mark here\nEnd"));
    project->save(destination.string());

    auto opened = cw::Project::create(defaults);
    std::vector<std::string> openedLog;
    auto listener = std::make_shared<Recorder>("", 10, &openedLog);
    opened->registerEventListener(listener);
    opened->loadDocument(destination.string());

    EXPECT_EQ(opened->document().text.string(), "Top\n*Mark here\nEnd");
    EXPECT_EQ(opened->document().scriptProperties, properties);
    EXPECT_EQ(opened->document().speedProperties, (cw::Document::SpeedProperties{30, 0.5, 4}));
    EXPECT_EQ(opened->representedPath(), destination.string());
    EXPECT_FALSE(opened->hasUnsavedChanges());
    EXPECT_TRUE(openedLog.empty());
}

// A margin of 1 leaves the text no width: neither the editor nor the prompter shows any. Whatever
// hands the project a margin (the pane, a script written elsewhere, a setting) gets the control's.
TEST_F(ProjectFiles, AMarginIsHeldToTheControlsRange) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (const auto& [given, held] : {std::pair{1.0f, 0.8f}, {3.0f, 0.8f}, {-1.0f, 0.0f}, {nan, 0.1f}}) {
        cw::Document::ScriptProperties properties = project->document().scriptProperties;
        properties.prompterMargin = given;
        project->setScriptProperties(properties);
        EXPECT_EQ(project->document().scriptProperties.prompterMargin, held) << given;
        EXPECT_EQ(defaults.floatForKey("defaultPrompterMarginKey"), held) << "new scripts too";

        cw::Document document = project->document();
        document.scriptProperties.prompterMargin = given;
        project->setDocument(document);
        EXPECT_EQ(project->document().scriptProperties.prompterMargin, held) << given;
    }
}

TEST_F(ProjectFiles, ABookmarkInAWindowsTextFileStaysOnItsLineAfterSaveAndReopen) {
    const fs::path source = dir / "windows.txt";
    std::ofstream(source, std::ios::binary) << "Line one\r\nLine two\r\nLine three\r\nLine four\r\n";
    project->importPlainText(source.string());
    AttributedString text = project->document().text;
    const int at = int(text.string().indexOf("Line three"));
    text.addAttribute(platform::CuewrightBookmarkAttributeName,
                      QVariant::fromValue(std::make_shared<platform::EmbeddedBookmark>()), {at, 1});
    project->setText(text);
    project->save(destination.string());

    const AttributedString reopened = savedText(destination);
    EXPECT_EQ(reopened.string(), project->document().text.string());
    int mark = -1;
    for (const auto& run : reopened.runs()) {
        if (run.attributes.bookmark) {
            mark = run.range.location;
        }
    }
    EXPECT_EQ(reopened.string().mid(mark, 10), "Line three");
}

// A save failing at the replacement (to another file or the same) or for want of a schema leaves
// the file, the unsaved flag and the path; a retry works and leaves nothing beside the script.
TEST_F(ProjectFiles, AFailedSaveLeavesFileFlagsAndPathAndARetryWorks) {
    project->setText(AttributedString("Version one"));
    project->save(destination.string());
    const std::string before = fileBytes(destination);
    project->setText(AttributedString("Version two"));
    log.clear();

    cw::ScriptDocumentFile::SaveOptions failing;
    failing.beforeReplace = [](const fs::path&) { return false; };
    EXPECT_ANY_THROW(project->save((dir / "elsewhere.cwr").string(), failing));
    EXPECT_ANY_THROW(project->save(destination.string(), failing));
    cw::ScriptDocumentFile::SaveOptions noSchema;
    noSchema.schema = std::string_view();
    try {
        project->save(destination.string(), noSchema);
        FAIL() << "saved without a schema";
    } catch (const cw::DatabaseError& error) {
        EXPECT_STREQ(error.what(), "Schema file not found or damaged. Please re-install Cuewright.");
    }

    EXPECT_EQ(fileBytes(destination), before);
    EXPECT_FALSE(fs::exists(dir / "elsewhere.cwr"));
    EXPECT_TRUE(project->hasUnsavedChanges());
    EXPECT_EQ(project->representedPath(), destination.string());
    // The attempts told the listeners they were about to save, none that they had.
    EXPECT_EQ(log, (std::vector<std::string>{"willSave:file", "willSave:file", "willSave:file"}));

    project->save(destination.string());
    EXPECT_EQ(savedText(destination).string(), "Version two");
    EXPECT_FALSE(project->hasUnsavedChanges());
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        if (entry.path().filename() != "defaults.json") {
            left.push_back(entry.path().filename().string());
        }
    }
    EXPECT_EQ(left, std::vector<std::string>{"script.cwr"});
}

TEST_F(ProjectFiles, ASaveFromAnotherThreadWaitsForWillSaveOnTheMainThread) {
    project->registerEventListener(recorder);
    project->setText(AttributedString("Saved in the background"));
    log.clear();
    saver->pendingEdit = "Flushed first";
    saveOnAnotherThread();
    dispatch::runMainUntil([&] { return log.size() >= 5; }, 10s);

    EXPECT_EQ(recorder->offMainThreadCalls, 0);
    EXPECT_EQ(savedText(destination).string(), "Flushed first");
    EXPECT_FALSE(project->hasUnsavedChanges());
    // The flushed edit is heard by the other listener at once.
    EXPECT_EQ(log, (std::vector<std::string>{"willSave:nofile", "text", "willSave", "didSave:file:saved:path",
                                             "didSave"}));
}

TEST_F(ProjectFiles, AnEditWhileTheFileIsWrittenKeepsTheProjectUnsaved) {
    project->setText(AttributedString("On disk"));
    cw::ScriptDocumentFile::SaveOptions options;
    // Runs on the saving thread after the document was taken: the main thread edits meanwhile.
    options.beforeReplace = [&](const fs::path&) {
        dispatch::mainQueue()->sync([&] { project->setText(AttributedString("Typed during the save")); });
        return true;
    };
    saveOnAnotherThread(options);

    EXPECT_EQ(savedText(destination).string(), "On disk");
    EXPECT_EQ(project->representedPath(), destination.string());
    EXPECT_TRUE(project->hasUnsavedChanges());
}

// Another version fails and leaves the project; a file without text fails after the document
// was reset.
TEST_F(ProjectFiles, OpeningAnotherVersionOrAFileWithoutTextFails) {
    const struct {
        const char* change;
        std::string message;
        QString left;
        bool projectError; // else a database error
    } cases[] = {
        {"UPDATE metainfo SET version = 2", cw::ProjectError::versionNotSupported().what(), "Before", true},
        {"DELETE FROM texts", "Database file does not contain any text. This file cannot be oepened.", "",
         false},
    };
    for (const auto& c : cases) {
        project->save(destination.string(), cw::Project::ChangedOnDisk::overwrite);
        sql::Connection::open(destination.string())->execute(c.change);
        auto opened = cw::Project::create(defaults);
        opened->setText(AttributedString("Before"));
        try {
            opened->loadDocument(destination.string());
            ADD_FAILURE() << "opened after " << c.change;
        } catch (const std::exception& error) {
            EXPECT_EQ(error.what(), c.message);
            EXPECT_EQ(dynamic_cast<const cw::ProjectError*>(&error) != nullptr, c.projectError);
            EXPECT_EQ(dynamic_cast<const cw::DatabaseError*>(&error) != nullptr, !c.projectError);
        }
        EXPECT_EQ(opened->document().text.string(), c.left);
        EXPECT_EQ(opened->representedPath(), std::nullopt);
    }
}

// Another program or window writing the script between this project's opening or save and its
// next save: the save is refused and writes nothing, whether the file was replaced or written in
// place, until the caller says to overwrite; a removed file is simply written again.
TEST_F(ProjectFiles, ASaveOverAScriptChangedOnDiskIsRefusedUntilToldToOverwrite) {
    const auto replaced = [&] {
        cw::ScriptDocumentFile::save(destination, cw::Document{{}, {}, AttributedString("Theirs")}, {});
    };
    const auto writtenInPlace = [&] { std::ofstream(destination, std::ios::app) << "x"; };
    const auto removed = [&] { fs::remove(destination); };
    const struct {
        const char* what;
        std::function<void()> change;
        bool refused;
    } cases[] = {{"replaced", replaced, true},
                 {"written in place", writtenInPlace, true},
                 {"removed", removed, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        project->setText(AttributedString("Ours"));
        project->save(destination.string(), cw::Project::ChangedOnDisk::overwrite);
        auto opened = cw::Project::create(defaults);
        opened->loadDocument(destination.string());
        opened->setText(AttributedString("Ours again"));
        for (const auto& p : {project, opened}) {
            c.change();
            const std::string before = fs::exists(destination) ? fileBytes(destination) : "";
            if (!c.refused) {
                p->save(destination.string());
                continue;
            }
            EXPECT_THROW(p->save(destination.string()), cw::ScriptDocumentFile::ChangedOnDiskError);
            EXPECT_EQ(fileBytes(destination), before) << "the other writer's file was touched";
            p->save(destination.string(), cw::Project::ChangedOnDisk::overwrite);
            p->save(destination.string()); // nothing changed on disk since our own save
        }
        EXPECT_EQ(savedText(destination).string(), "Ours again");
    }
}

TEST_F(ProjectFiles, ExportsLeaveTheUnsavedFlagAndPathAndTellNoOne) {
    project->setText(AttributedString("Exported, not saved"));
    log.clear();

    project->exportPlainText((dir / "out.txt").string());
    project->exportRTF((dir / "out.rtf").string());
    project->exportDOCX((dir / "out.docx").string());

    EXPECT_EQ(fileBytes(dir / "out.txt"), "Exported, not saved");
    EXPECT_EQ(fileBytes(dir / "out.rtf").rfind("{\\rtf1", 0), 0u);
    EXPECT_EQ(fileBytes(dir / "out.docx").rfind("PK", 0), 0u);
    EXPECT_TRUE(project->hasUnsavedChanges());
    EXPECT_EQ(project->representedPath(), std::nullopt);
    EXPECT_TRUE(log.empty());

    project->save(destination.string());
    project->exportPlainText((dir / "again.txt").string());
    EXPECT_FALSE(project->hasUnsavedChanges());
    EXPECT_EQ(project->representedPath(), destination.string());
}

} // namespace

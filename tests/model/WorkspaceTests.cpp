// The workspace: which reader an extension chooses, what a failed opening leaves, the display
// list of new projects, and closing projects.
#include "cuewright/model/Project.h"
#include "cuewright/model/ProjectError.h"
#include "cuewright/model/RecoveryStore.h"
#include "cuewright/model/ScreenManager.h"
#include "cuewright/model/UserDefaults.h"
#include "cuewright/model/Workspace.h"
#include "platform/activity/FakeActivityInhibitor.h"
#include "platform/defaults/Defaults.h"
#include "platform/text/PlainText.h"
#include "platform/text/RichTextFile.h"
#include "sql/Errors.h"

#include "ModelTestFiles.h"
#include "support/FakeScreenProvider.h"
#include "support/StuckOpenGuard.h"
#include "support/TempDir.h"

#include <QFontDatabase>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <thread>
#include <utility>

#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using modeltest::writeBytes;

namespace {

class WorkspaceTest : public ::testing::Test {
protected:
    WorkspaceTest()
        : defaults(platform::Defaults::Options{dir / "defaults.json", 1h, {}})
        , screens(std::make_shared<testsupport::FakeScreenProvider>(
              testsupport::FakeScreenProvider::threeDisplays()))
        , inhibitor(std::make_shared<platform::FakeActivityInhibitor>())
        , workspace(defaults, screens) {
        previousInhibitor = platform::setSharedActivityInhibitor(inhibitor);
    }
    ~WorkspaceTest() override {
        for (const auto& project : workspace.projects()) {
            project->pause();
        }
        platform::setSharedActivityInhibitor(previousInhibitor);
    }

    // A small file of each kind the workspace reads, named as given.
    fs::path textFile(const std::string& name, std::string_view content = "Plain words") {
        writeBytes(dir / name, content);
        return dir / name;
    }
    fs::path rtfFile(const std::string& name) {
        writeBytes(dir / name, "{\\rtf1\\ansi Rich words\\par}");
        return dir / name;
    }
    fs::path cwrFile(const std::string& name) {
        auto project = cw::Project::create(defaults, screens);
        project->setText(platform::AttributedString("Saved words"));
        project->save((dir / name).string());
        return dir / name;
    }

    testsupport::TempDir dir;
    platform::Defaults defaults;
    std::shared_ptr<testsupport::FakeScreenProvider> screens;
    std::shared_ptr<platform::FakeActivityInhibitor> inhibitor;
    std::shared_ptr<platform::ActivityInhibitor> previousInhibitor;
    cw::Workspace workspace;
};

TEST_F(WorkspaceTest, StartsEmptyAndANewProjectIsEmptyKnowsTheDisplaysAndIsNotActive) {
    EXPECT_TRUE(workspace.projects().empty());
    EXPECT_EQ(workspace.net().server, nullptr);
    EXPECT_EQ(workspace.ble().server, nullptr);
    ASSERT_TRUE(workspace.net().netManagementQueue);
    ASSERT_TRUE(workspace.ble().bleManagementQueue);
    EXPECT_EQ(workspace.net().netManagementQueue->label(), "Network Management Queue");
    EXPECT_EQ(workspace.ble().bleManagementQueue->label(), "Bluetooth Management Queue");
    auto first = workspace.newProject();
    auto second = workspace.newProject();
    EXPECT_EQ(workspace.projects(), (std::vector<std::shared_ptr<cw::Project>>{first, second}));
    EXPECT_EQ(workspace.activeProject(), nullptr);
    EXPECT_TRUE(first->document().text.isEmpty());
    EXPECT_EQ(first->representedPath(), std::nullopt);
    EXPECT_FALSE(first->hasUnsavedChanges());
    EXPECT_EQ(first->editor().screenManager->availableScreens().size(), 3u);
}

TEST_F(WorkspaceTest, TheExtensionChoosesTheReaderWhateverItsCase) {
    struct Case {
        fs::path path;
        QString text;
    };
    std::vector<Case> cases = {
        {textFile("notes.TXT"), "Plain words"},
        {textFile("notes.Text"), "Plain words"},
        {rtfFile("script.RTF"), "Rich words"},
        {rtfFile("script.rtf"), "Rich words"},
        {cwrFile("saved.CWR"), "Saved words"},
        {cwrFile("saved.cwr"), "Saved words"},
        {CW_FIXTURES_DIR "/script-sample.doc", "Good evening"},
    };
    fs::copy_file(CW_FIXTURES_DIR "/script-sample.docx", dir / "sample.DOCX");
    cases.insert(cases.end() - 1, {dir / "sample.DOCX", "Good evening"});
    const fs::path folder = dir / "Package.RTFD"; // with or without its closing slash
    platform::writeRtfdFolder(QString::fromStdString(folder.string()),
                              platform::AttributedString("In a package"));
    cases.push_back({folder, "In a package"});
    cases.push_back({folder.string() + "/", "In a package"});
    for (const Case& c : cases) {
        auto project = workspace.openProject(c.path.string());
        EXPECT_TRUE(project->document().text.string().startsWith(c.text)) << c.path;
        EXPECT_EQ(project->editor().screenManager->availableScreens().size(), 3u);
    }
    EXPECT_EQ(workspace.projects().size(), cases.size());
    for (const auto& package : {workspace.projects().end()[-2], workspace.projects().back()}) {
        EXPECT_EQ(package->document().text.string(), "In a package");
    }
    // Only the script database gives the project its file.
    EXPECT_EQ(workspace.projects()[0]->representedPath(), std::nullopt);
    EXPECT_EQ(workspace.projects()[5]->representedPath(), cases[5].path.string());
}

TEST_F(WorkspaceTest, AnUnknownExtensionIsNotSupportedAndOpensNothing) {
    workspace.newProject();
    for (const char* name : {"archive.zip", "README", "trailing.", "notes.txt.bak"}) {
        const std::string path = textFile(name).string();
        try {
            workspace.openProject(path);
            FAIL() << "opened " << name;
        } catch (const cw::ProjectError& error) {
            EXPECT_EQ(error, cw::ProjectError::fileTypeNotSupported(path));
            EXPECT_EQ(std::string(error.what()),
                      "The file format of the document " + path + " is not supported.");
        }
    }
    EXPECT_EQ(workspace.projects().size(), 1u);
}

TEST_F(WorkspaceTest, AReadersErrorIsPassedOnAndOpensNothing) {
    EXPECT_THROW(workspace.openProject(textFile("latin1.txt", "caf\xE9").string()), platform::PlainTextError);
    EXPECT_THROW(workspace.openProject((dir / "missing.cwr").string()), cw::ProjectError);
    EXPECT_THROW(workspace.openProject((dir / "missing.Pdf").string()), cw::ProjectError);
    EXPECT_THROW(workspace.openProject((dir / "missing.DOCX").string()), cw::ProjectError);
    EXPECT_TRUE(workspace.projects().empty());
}

// Names as a Latin-1 system writes them (not UTF-8) are read, saved and exported under their own
// bytes, whatever the reader.
TEST_F(WorkspaceTest, NamesThatAreNotUtf8OpenSaveAndExportUnderTheirOwnBytes) {
    const fs::path fixtures(CW_FIXTURES_DIR);
    const struct {
        std::string name;
        std::function<void(const fs::path&)> make;
    } cases[] = {
        {"na\xefve.txt", [](const fs::path& p) { writeBytes(p, "Plain words"); }},
        {"na\xefve.rtf", [](const fs::path& p) { writeBytes(p, "{\\rtf1 Plain words}"); }},
        {"caf\xe9.docx", [&](const fs::path& p) { fs::copy_file(fixtures / "script-sample.docx", p); }},
        {"caf\xe9.doc", [&](const fs::path& p) { fs::copy_file(fixtures / "script-sample.doc", p); }},
        {"caf\xe9.pdf", [&](const fs::path& p) { fs::copy_file(fixtures / "script-sample.pdf", p); }},
    };
    for (const auto& c : cases) {
        c.make(dir / c.name);
        const auto project = workspace.openProject((dir / c.name).string());
        EXPECT_FALSE(project->document().text.string().isEmpty()) << c.name;
        EXPECT_FALSE(project->document().text.string().startsWith("Could not read from file")) << c.name;
    }
    const auto project = workspace.projects().back();
    const std::string script = (dir / "caf\xe9.cwr").string();
    project->save(script);
    EXPECT_EQ(workspace.openProject(script)->document().text.string(), project->document().text.string());
    project->exportPlainText((dir / "caf\xe9.txt").string());
    project->exportRTF((dir / "caf\xe9.rtf").string());
    project->exportDOCX((dir / "caf\xe9 copy.docx").string());
    for (const char* name : {"caf\xe9.cwr", "caf\xe9.txt", "caf\xe9.rtf", "caf\xe9 copy.docx"}) {
        EXPECT_TRUE(fs::is_regular_file(dir / name)) << name;
    }
}

TEST_F(WorkspaceTest, APipeNamedLikeADocumentIsRefusedUnreadWhateverItsType) {
    // What opening the pipe gives: an error of one kind or the other.
    enum class Outcome { projectError, plainTextError, opened };
    struct Case {
        std::string name;
        Outcome outcome;
    };
    const std::vector<Case> cases = {
        {"pipe.cwr", Outcome::projectError},   {"pipe.pdf", Outcome::projectError},
        {"pipe.txt", Outcome::plainTextError}, {"pipe.docx", Outcome::projectError},
        {"pipe.doc", Outcome::projectError},   {"pipe.rtf", Outcome::projectError},
        {"pipe.rtfd", Outcome::projectError},
    };
    for (const Case& c : cases) {
        fs::path fifo = dir / c.name;
        if (cw::Workspace::fileExtension(c.name) == "rtfd") {
            fs::create_directory(fifo); // a package whose text is the pipe
            fifo /= "TXT.rtf";
        }
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0) << fifo;
        const std::string path = (dir / c.name).string();
        testsupport::StuckOpenGuard guard(fifo);
        Outcome outcome = Outcome::opened;
        try {
            workspace.openProject(path);
        } catch (const cw::ProjectError&) {
            outcome = Outcome::projectError;
        } catch (const platform::PlainTextError&) {
            outcome = Outcome::plainTextError;
        }
        EXPECT_TRUE(guard.finish()) << c.name << ": opening waited for a writer";
        EXPECT_EQ(outcome, c.outcome) << c.name;
    }
}

// Closing the active project clears it, closing another does not, and a project that is not
// open is left alone.
TEST_F(WorkspaceTest, ClosingTheActiveProjectClearsItClosingAnotherDoesNot) {
    auto first = workspace.newProject();
    auto second = workspace.newProject();
    auto stranger = cw::Project::create(defaults, screens);
    stranger->play();
    workspace.setActiveProject(first);
    workspace.closeProject(stranger);
    EXPECT_EQ(stranger->transportState().transportStatus, cw::TransportState::TransportStatus::playing);
    stranger->pause();

    workspace.closeProject(second);
    EXPECT_EQ(workspace.activeProject(), first);
    EXPECT_EQ(workspace.projects(), std::vector<std::shared_ptr<cw::Project>>{first});

    // Passing the list's own element is safe.
    workspace.closeProject(workspace.projects().front());
    EXPECT_EQ(workspace.activeProject(), nullptr);
    EXPECT_TRUE(workspace.projects().empty());
}

TEST_F(WorkspaceTest, ClosingAPlayingProjectStopsItsClockAndActivity) {
    auto project = workspace.newProject();
    project->play();
    ASSERT_EQ(inhibitor->openCount(), 1);
    workspace.closeProject(project);
    EXPECT_EQ(project->transportState().transportStatus, cw::TransportState::TransportStatus::stopped);
    EXPECT_FALSE(project->isClockRunning());
    EXPECT_EQ(inhibitor->openCount(), 0);
}

#ifndef NDEBUG
// The workspace, the project, its clock and its display manager stop a debug build when used
// off the main thread, naming the operation.
TEST_F(WorkspaceTest, MainThreadOperationsStopOffTheMainThread) {
    auto project = workspace.newProject();
    auto manager = project->editor().screenManager;
    const std::pair<const char*, std::function<void()>> operations[] = {
        {"Workspace::newProject", [&] { workspace.newProject(); }},
        {"Project::setText", [&] { project->setText(platform::AttributedString("Off")); }},
        {"TransportClock::play", [&] { project->play(); }},
        {"ScreenManager::refreshAvailableScreens", [&] { manager->refreshAvailableScreens(); }},
    };
    for (const auto& [name, operation] : operations) {
        EXPECT_DEATH(std::thread(operation).join(), std::string(name) + ".* called off the main thread");
    }
}
#endif

TEST(WorkspaceExtension, IsTheLastSuffixLowerCased) {
    EXPECT_EQ(cw::Workspace::fileExtension("/a/b/Notes.TXT"), "txt");
    EXPECT_EQ(cw::Workspace::fileExtension("/a/b.d/archive.tar.GZ"), "gz");
    EXPECT_EQ(cw::Workspace::fileExtension("/a/Package.rtfd/"), "rtfd");
    EXPECT_EQ(cw::Workspace::fileExtension("/a/b.d/README"), "");
    EXPECT_EQ(cw::Workspace::fileExtension("trailing."), "");
    EXPECT_EQ(cw::Workspace::fileExtension(""), "");
}

} // namespace

TEST(DefaultFont, IsTheSystemFontWhereThePreferredFamilyIsMissing) {
    const cw::RegistrationHost host = cw::RegistrationHost::current();
    ASSERT_TRUE(host.fontFamily) << "the font database decides";
    const std::string system = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family().toStdString();
    EXPECT_EQ(host.fontFamily("No Such Family Anywhere"), system);
    EXPECT_EQ(host.fontFamily("DejaVu Sans"), "DejaVu Sans");

    testsupport::TempDir dir;
    platform::Defaults defaults(platform::Defaults::Options{dir / "defaults.json", 1h, {}});
    cw::registerUserDefaults(defaults, host);
    const std::string expected = QFontDatabase::hasFamily("Helvetica Neue") ? "Helvetica Neue" : system;
    EXPECT_EQ(cw::defaultFont(defaults),
              (platform::Font{QString::fromStdString(expected), 34.0, false, false}));
}

// A script named on the command line opens as the workspace opens it: each format through its
// reader and in the prompter's style, an unknown format with the workspace's error.
#include "cuewright/app/CommandLineScript.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/ProjectError.h"
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/model/UserDefaults.h"
#include "cuewright/model/Workspace.h"
#include "platform/activity/FakeActivityInhibitor.h"
#include "platform/defaults/ArchivedValues.h"
#include "platform/defaults/Defaults.h"

#include "support/FakeScreenProvider.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class CommandLineScript : public ::testing::Test {
protected:
    CommandLineScript()
        : defaults(platform::Defaults::Options{dir / "defaults.json", 1h, {}})
        , workspace(defaults, std::make_shared<testsupport::FakeScreenProvider>(
                                  testsupport::FakeScreenProvider::threeDisplays())) {
        previousInhibitor =
            platform::setSharedActivityInhibitor(std::make_shared<platform::FakeActivityInhibitor>());
        platform::setArchivedColor(defaults, cw::settings::defaultTextColor,
                                   platform::ArchivedColor::sRGB(0.2, 0.8, 0.4));
        platform::setArchivedFont(defaults, cw::settings::defaultFont, {"DejaVu Sans", 40, false, false});
    }
    ~CommandLineScript() override {
        for (const auto& project : workspace.projects()) {
            project->pause();
        }
        platform::setSharedActivityInhibitor(previousInhibitor);
    }

    testsupport::TempDir dir;
    platform::Defaults defaults;
    std::shared_ptr<platform::ActivityInhibitor> previousInhibitor;
    cw::Workspace workspace;
};

TEST_F(CommandLineScript, EveryFormatOpensThroughItsReaderInThePrompterStyle) {
    std::ofstream(dir / "script.txt", std::ios::binary) << "Bold words\r\nin a text file";
    {
        auto saved = cw::Project::create(defaults);
        saved->setText(platform::AttributedString("Bold words, saved"));
        saved->save((dir / "script.cwr").string());
    }
    const std::vector<fs::path> files = {
        fs::path(CW_FIXTURES_DIR) / "script-sample.rtf",
        fs::path(CW_FIXTURES_DIR) / "script-sample.docx",
        fs::path(CW_FIXTURES_DIR) / "script-sample.doc",
        fs::path(CW_FIXTURES_DIR) / "script-sample.pdf",
        dir / "script.txt",
    };
    for (const fs::path& file : files) {
        const auto project = cw::openCommandLineScript(workspace, QString::fromStdString(file.string()));
        EXPECT_EQ(workspace.activeProject(), project);
        const platform::AttributedString& text = project->document().text;
        const qsizetype bold = text.string().indexOf("Bold words");
        ASSERT_GE(bold, 0) << file << ": " << text.string().toStdString();
        const platform::Attributes look = text.attributes(int(bold));
        EXPECT_EQ(look.foregroundColor, cw::defaultTextColor(defaults)) << file;
        ASSERT_TRUE(look.font) << file;
        EXPECT_EQ(look.font->family, "DejaVu Sans") << file;
        EXPECT_EQ(look.font->pointSize, 40) << file;
        EXPECT_FALSE(text.string().contains(u'\r')) << file;
        EXPECT_FALSE(project->hasUnsavedChanges()) << file;
    }
    const auto script =
        cw::openCommandLineScript(workspace, QString::fromStdString((dir / "script.cwr").string()));
    EXPECT_EQ(script->document().text.string(), "Bold words, saved");
    EXPECT_EQ(script->representedPath(), (dir / "script.cwr").string());
}

TEST_F(CommandLineScript, AFormatNoReaderTakesGetsTheWorkspacesError) {
    const std::string html = CW_FIXTURES_DIR "/script-sample.html";
    try {
        cw::openCommandLineScript(workspace, QString::fromStdString(html));
        FAIL() << "opened " << html;
    } catch (const cw::ProjectError& error) {
        EXPECT_EQ(error, cw::ProjectError::fileTypeNotSupported(html));
    }
    EXPECT_TRUE(workspace.projects().empty());
}

} // namespace

// Cuewright's entry point: for now one prompter window on a script named on the command line,
// or on a short welcome script. The editor, the workspace and the menus come later.
#include "cuewright/app/CommandLineScript.h"
#include "cuewright/model/Project.h"
#include "cuewright/model/UserDefaults.h"
#include "cuewright/model/Workspace.h"
#include "cuewright/prompter/ApplicationShell.h"
#include "cuewright/prompter/PrompterView.h"
#include "cuewright/prompter/PrompterViewController.h"
#include "cuewright/prompter/PrompterWindowController.h"
#include "platform/defaults/Defaults.h"
#include "platform/text/AttributedString.h"
#include "platform/text/TextAttributes.h"
#include "platform/ui/MainQueueBridge.h"
#include "platform/ui/WindowAppearanceUpdatable.h"

#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <vector>

namespace {

const char* const welcomeText =
    "Welcome to Cuewright.\n"
    "This is a prompter window. Press Space to start and stop the script, Backspace to go back to the top.\n"
    "W and S make it faster and slower; the arrow keys step a line or set the direction while it plays.\n"
    "U and J jump four lines. The bar below the text shows the window's own settings.\n"
    "Open a script by naming it when you start Cuewright: a .cwr script, a text, RTF, Word or PDF file.\n"
    "Happy prompting!\n";

// Plain text takes the font and colour of new scripts.
platform::AttributedString styledPlainText(const QString& text) {
    platform::Attributes attributes;
    attributes.font = cw::defaultFont();
    attributes.foregroundColor = cw::defaultTextColor();
    return platform::AttributedString(text, attributes);
}

// Keeps the open prompter windows and opens new ones; the application shell in miniature.
class Shell : public cw::ApplicationShell,
              public cw::PrompterWindowControllerDelegate,
              public std::enable_shared_from_this<Shell> {
public:
    void spawnPrompterWindow(const std::shared_ptr<cw::Project>& project,
                             cw::TeleprompterWindowPreset preset) override {
        auto controller = cw::PrompterWindowController::create(project, preset);
        controller->setDelegate(weak_from_this());
        windows_.push_back(controller);
        controller->showWindow();
        countLinesWhenLaidOut(controller);
    }

    void toggleScreenBoundPrompter(const std::shared_ptr<cw::Project>& project,
                                   const cw::ScreenDescription& screen) override {
        for (const auto& w : windows_) {
            if (w->project() == project && w->screenDesc() &&
                w->screenDesc()->displayUUID == screen.displayUUID) {
                w->close();
                return;
            }
        }
        QScreen* display = cw::PrompterWindowController::screenForDisplayUUID(screen.displayUUID);
        if (display == nullptr) {
            return;
        }
        auto controller =
            cw::PrompterWindowController::create(project, cw::TeleprompterWindowPreset::normal, screen);
        controller->setDelegate(weak_from_this());
        windows_.push_back(controller);
        controller->showFullScreen(display);
        countLinesWhenLaidOut(controller);
    }

    void showPrompter(const std::shared_ptr<cw::Project>& project) override {
        bool found = false;
        for (const auto& w : windows_) {
            if (w->project() == project) {
                w->window()->raise();
                found = true;
            }
        }
        if (!found) {
            spawnPrompterWindow(project, cw::TeleprompterWindowPreset::normal);
        }
    }

    void prompterWindowControllerDidBecomeMain(cw::PrompterWindowController&) override {}

    void prompterWindowControllerWillClose(cw::PrompterWindowController& controller) override {
        std::erase_if(windows_, [&controller](const auto& w) { return w.get() == &controller; });
    }

private:
    // Until the editor counts the script's lines and words, the prompter's own layout gives the
    // running time and the words-per-line speed figures.
    static void countLinesWhenLaidOut(const std::shared_ptr<cw::PrompterWindowController>& controller) {
        std::weak_ptr<cw::PrompterWindowController> weak = controller;
        QTimer::singleShot(0, [weak] {
            auto c = weak.lock();
            if (!c || !c->prompterViewController()) {
                return;
            }
            c->prompterViewController()->publishLineMetrics();
        });
    }

    std::vector<std::shared_ptr<cw::PrompterWindowController>> windows_;
};

platform::AppearanceStyle appearanceStyle(cw::UserInterfaceStyle style) {
    switch (style) {
    case cw::UserInterfaceStyle::systemDefault:
        return platform::AppearanceStyle::system;
    case cw::UserInterfaceStyle::light:
        return platform::AppearanceStyle::light;
    case cw::UserInterfaceStyle::dark:
        return platform::AppearanceStyle::dark;
    }
    return platform::AppearanceStyle::system;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Cuewright"));
    platform::installMainQueueBridge();
    cw::registerUserDefaults();
    // Window controllers follow the stored appearance choice and re-apply it when it changes.
    platform::setAppearanceChoice({[] { return appearanceStyle(cw::storedUserInterfaceStyle()); },
                                   std::string(cw::notifications::uiModeDidSwitch), nullptr});

    const QStringList arguments = QApplication::arguments();
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        std::printf("usage: cuewright [script.cwr | .txt | .rtf | .rtfd | .docx | .doc | .pdf]\n");
        return 0;
    }

    cw::Workspace workspace;
    std::shared_ptr<cw::Project> project;
    if (arguments.size() > 1) {
        try {
            project = cw::openCommandLineScript(workspace, arguments.at(1));
        } catch (const std::exception& error) {
            std::fprintf(stderr, "cuewright: cannot open %s: %s\n", qPrintable(arguments.at(1)),
                         error.what());
            return 1;
        }
    } else {
        project = workspace.newProject();
        project->setText(styledPlainText(QString::fromUtf8(welcomeText)));
        project->setHasUnsavedChanges(false);
    }

    auto shell = std::make_shared<Shell>();
    cw::ApplicationShell::setShared(shell);
    shell->spawnPrompterWindow(project, cw::TeleprompterWindowPreset::normal);
    const int status = QApplication::exec();
    project->pause();
    platform::Defaults::standard().synchronize();
    return status;
}

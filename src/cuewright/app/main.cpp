// Cuewright's entry point: one running instance per user, the application controller, the loop.
#include "cuewright/app/ApplicationController.h"
#include "cuewright/app/CommandLine.h"
#include "cuewright/app/SignalQuit.h"
#include "cuewright/app/SingleInstance.h"
#include "cuewright/model/RecoveryStore.h"
#include "cuewright/model/UserDefaults.h"
#include "cuewright/settings/AppMover.h"
#include "platform/defaults/Defaults.h"
#include "platform/ui/AlertRunner.h"
#include "platform/ui/FileDialogs.h"
#include "platform/ui/MainQueueBridge.h"
#include "platform/ui/WindowAppearanceUpdatable.h"
#include "platform/ui/WindowScreenKeeper.h"

#include "base/PrivateFolder.h"

#include <QApplication>
#include <QSessionManager>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

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
    // Before any thread: a write past a file-size limit then fails with EFBIG, told as any failed
    // save is, instead of ending the process and every unsaved edit with it.
    std::signal(SIGXFSZ, SIG_IGN);
    // Before the application object, which needs a display: the usage is read in a terminal, and
    // a mistyped option is told there, display or not.
    const cw::CommandLine line = cw::CommandLine::parse(argc, argv);
    constexpr const char* usage =
        "usage: cuewright [--] [FILE...]\n"
        "Opens each script (.cwr) or text (.txt, .rtf, .rtfd, .docx, .doc, .pdf) in an editor window.\n"
        "A running Cuewright of the same user is handed the files instead.\n";
    if (!line.unknownOption.empty()) {
        std::string shown = line.unknownOption;
        std::replace_if(
            shown.begin(), shown.end(), [](char c) { return (c >= 0 && c < 0x20) || c == 0x7f; },
            '?'); // no escapes
        std::fprintf(stderr, "cuewright: unknown option \"%s\"\n%s", shown.c_str(), usage);
        return 2;
    }
    if (line.help) {
        std::printf("%s", usage);
        return 0;
    }
    // Before the application object: Qt would otherwise make its runtime folder itself.
    base::namePrivateRuntimeFolder();
    // Qt is given its own options alone: every other argument is a file or refused already.
    std::vector<char*> qtArgv{argv[0]};
    for (const std::string& argument : line.toolkitArguments) {
        qtArgv.push_back(const_cast<char*>(argument.c_str()));
    }
    qtArgv.push_back(nullptr);
    int qtArgc = int(qtArgv.size()) - 1;
    QApplication app(qtArgc, qtArgv.data());
    QApplication::setApplicationName(QStringLiteral("Cuewright"));
    QApplication::setDesktopFileName(QStringLiteral("cuewright"));
    // The application lives on without windows until it is asked to quit (the start window
    // stands in for the menu bar then).
    QApplication::setQuitOnLastWindowClosed(false);
    // Taken first, so the spare is one of the lowest descriptors, below those opened and closed
    // again while starting (the instance lock): it is then among those a full table has.
    platform::keepSpareDescriptor();

    // From argv itself: a file name's bytes need not be UTF-8, and QApplication::arguments()
    // would replace those that are not.
    std::vector<std::string> paths = line.files;
    QStringList handed;
    for (std::string& path : paths) {
        path = cw::ApplicationController::absolutePath(path);
        handed << platform::displayPath(path); // looked up by its shown name when it is not UTF-8
    }

    // CUEWRIGHT_INSTANCE_NAME keeps test runs apart from the user's own instance.
    const QString instanceName = qEnvironmentVariableIsEmpty("CUEWRIGHT_INSTANCE_NAME")
                                     ? cw::SingleInstance::defaultName()
                                     : qEnvironmentVariable("CUEWRIGHT_INSTANCE_NAME");
    cw::SingleInstance instance(instanceName);
    if (instance.handOff(handed)) {
        return 0;
    }

    platform::installMainQueueBridge();
    platform::installWindowScreenKeeper(); // before any window listens for displays going
    platform::setAppearanceChoice({[] { return appearanceStyle(cw::storedUserInterfaceStyle()); },
                                   std::string(cw::notifications::uiModeDidSwitch), nullptr});

    cw::ApplicationController::Environment environment;
    environment.offerMoveToApplicationsFolder = [] { cw::AppMover::offerOnMainThread(); };
    environment.recoveryFolder = cw::RecoveryStore::defaultFolder();
    environment.recoverySecondMarkFolder = cw::RecoveryStore::defaultSecondMarkFolder();
    std::shared_ptr<cw::ApplicationController> controller = cw::ApplicationController::create(environment);
    // The end of the session (or a kill) quits without questions; unsaved edits stay as copies.
    cw::SignalQuit signalQuit(cw::SignalQuit::sessionEndSignals(), [controller](int) {
        controller->terminateWithoutAsking();
        return !controller->isTerminating();
    });
    instance.listen([controller](const QStringList& handed) { controller->handOver(handed); },
                    [controller](const QString& path) { return controller->showsOrOpens(path); });
    controller->setShownElsewhereCheck(
        [&instance](const std::string& path) { return instance.shownElsewhere(path); });

    controller->applicationWillFinishLaunching();
    // Read now, in the order given, so that the last one named comes to the front; nothing else
    // (the remote control among it) runs yet.
    for (const std::string& path : paths) {
        controller->openFile(path);
    }
    controller->applicationDidFinishLaunching();

    // Logging out asks as quitting does; unsaved scripts may cancel it.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &app, [&](QSessionManager& manager) {
        if (!controller->applicationShouldTerminate()) {
            manager.cancel();
        }
    });

    // A signal during a start-up dialog has quit already.
    const int status = controller->isTerminating() ? 0 : QApplication::exec();
    controller->applicationWillTerminate();
    controller.reset();
    platform::Defaults::standard().synchronize();
    return status;
}

// The shell's small parts: the recent-documents list and handing files to the running instance.
#include "cuewright/app/ApplicationController.h"
#include "cuewright/app/RecentDocuments.h"
#include "cuewright/app/SignalQuit.h"
#include "cuewright/app/SingleInstance.h"
#include "platform/defaults/Defaults.h"

#include "support/LogCapture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QUuid>

#include <csignal>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

TEST(RecentDocuments, MostRecentFirstAtMostTenNoDuplicatesNoMissingFiles) {
    testsupport::TempDir dir;
    platform::Defaults defaults({dir.path() / "defaults.json", std::chrono::hours(1), {}});
    cw::RecentDocuments recent(defaults);
    std::vector<std::string> paths;
    for (int i = 0; i < 12; ++i) {
        paths.push_back((dir.path() / ("s" + std::to_string(i) + ".cwr")).string());
        std::ofstream(paths.back()) << "x";
        recent.note(paths.back());
    }
    recent.note(paths[5]);
    const std::vector<std::string> listed = recent.paths();
    ASSERT_EQ(listed.size(), 10u);
    EXPECT_EQ(listed[0], paths[5]);
    EXPECT_EQ(listed[1], paths[11]);
    EXPECT_EQ(std::count(listed.begin(), listed.end(), paths[5]), 1);
    EXPECT_EQ(std::count(listed.begin(), listed.end(), paths[1]), 0) << "the oldest fell off";

    fs::remove(paths[11]);
    EXPECT_EQ(recent.paths().size(), 9u);
    EXPECT_EQ(defaults.arrayForKey(cw::RecentDocuments::key)->size(), 9u) << "a missing file is forgotten";
    recent.clear();
    EXPECT_TRUE(recent.paths().empty());
}

TEST(SingleInstance, ASecondStartHandsItsPathsToTheRunningOne) {
    const QString name =
        QStringLiteral("cuewright-test-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    cw::SingleInstance running(name);
    std::vector<QStringList> received;
    ASSERT_TRUE(running.listen([&](const QStringList& paths) { received.push_back(paths); }));

    testsupport::TempDir dir;
    const fs::path script = dir.path() / "handed.cwr";
    std::ofstream(script) << "x";
    for (const QStringList& arguments :
         {QStringList{QString::fromStdString(script.string())}, QStringList{}}) {
        QProcess second;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("CUEWRIGHT_INSTANCE_NAME"), name);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        second.setProcessEnvironment(environment);
        second.start(QStringLiteral(CW_APP_BINARY), arguments);
        ASSERT_TRUE(second.waitForStarted());
        while (second.state() != QProcess::NotRunning) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second.exitCode(), 0);
    }
    QCoreApplication::processEvents();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0], QStringList{QString::fromStdString(script.string())});
    EXPECT_TRUE(received[1].isEmpty()) << "without paths the running one is asked to come forward";
}

TEST(SignalQuit, ASignalIsHandledInTheEventLoopAndAnyLaterOneEndsAtOnce) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction previous {};
    ::sigaction(SIGUSR1, &ignore, &previous);
    std::vector<int> handled;
    {
        cw::SignalQuit quit({SIGUSR1, SIGUSR2}, [&](int signal) { handled.push_back(signal); });
        ::raise(SIGUSR1);
        EXPECT_TRUE(handled.empty()) << "handled inside the signal handler";
        QElapsedTimer hangGuard;
        hangGuard.start();
        while (handled.empty() && hangGuard.elapsed() < 15000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        EXPECT_EQ(handled, std::vector{SIGUSR1});
        EXPECT_EXIT(::raise(SIGUSR2), ::testing::KilledBySignal(SIGUSR2), "");
    }
    struct sigaction restored {};
    ::sigaction(SIGUSR1, nullptr, &restored);
    EXPECT_EQ(restored.sa_handler, SIG_IGN) << "the earlier action comes back";
    ::sigaction(SIGUSR1, &previous, nullptr);
}

} // namespace

namespace {

TEST(SupportFolder, IsMadeOnceAndAFailureIsLogged) {
    testsupport::TempDir dir;
    const char* previous = std::getenv("CUEWRIGHT_DATA_DIR");
    const std::string saved = previous ? previous : "";
    const fs::path folder = dir.path() / "deep" / "Cuewright";
    setenv("CUEWRIGHT_DATA_DIR", folder.c_str(), 1);
    EXPECT_EQ(cw::ApplicationController::applicationSupportFolder(), folder.string());
    EXPECT_EQ(cw::ApplicationController::applicationSupportFolder(), folder.string());
    EXPECT_TRUE(fs::is_directory(folder));

    std::ofstream(dir.path() / "file") << "x";
    setenv("CUEWRIGHT_DATA_DIR", (dir.path() / "file" / "below").c_str(), 1);
    testsupport::LogCapture log;
    EXPECT_FALSE(cw::ApplicationController::applicationSupportFolder());
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_TRUE(log.lines()[0].starts_with("Unable to find or create application support directory:\n"));
    setenv("CUEWRIGHT_DATA_DIR", saved.c_str(), 1);
}

} // namespace

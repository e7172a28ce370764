// Remote commands carried out on the workspace's active script, the server's life on the
// management queue, and the network settings.
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/remote/CommandExecution.h"
#include "cuewright/remote/NetworkSettings.h"
#include "cuewright/remote/RemoteProtocol.h"
#include "cuewright/remote/RemoteServerStatus.h"
#include "cuewright/remote/WorkspaceNetworking.h"
#include "platform/netservice/FakeNetService.h"

#include "remote/InputTestSupport.h"
#include "remote/RemoteTestSupport.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <limits>

namespace {

using namespace remotetest;
using cw::NetworkCommand;
using C = NetworkCommand::Command;
using K = NetworkCommand::Kind;
using Status = cw::TransportState::TransportStatus;

class WorkspaceNetworkingTest : public ::testing::Test {
protected:
    WorkspaceNetworkingTest() {
        defaults.set(cw::settings::bonjourKey, 0);
        defaults.set(cw::settings::bonjourName, "Studio");
        defaults.set(cw::settings::isBonjourEnabled, true);
    }
    ~WorkspaceNetworkingTest() override {
        networking->stopNetworking();
        workspace.net().netManagementQueue->sync([] {});
    }

    // 120 lines at 2 lines per second.
    std::shared_ptr<cw::Project> activeScript() { return scripts.activeScript(120, 50); }
    cw::NetworkAnswer run(const C& command) { return cw::answerNetworkCommand(workspace, {command, 2}); }
    cw::NetworkStatusReport report(const C& command) {
        const auto answer = run(command);
        EXPECT_TRUE(std::holds_alternative<cw::NetworkStatusReport>(answer.value));
        return std::get<cw::NetworkStatusReport>(answer.value);
    }
    std::shared_ptr<cw::BonjourServer> startedServer() {
        networking->startNetworking();
        workspace.net().netManagementQueue->sync([] {});
        return workspace.net().server;
    }

    inputtest::ScriptWorkspace scripts;
    platform::Defaults& defaults = scripts.defaults;
    cw::Workspace& workspace = scripts.workspace;
    std::shared_ptr<platform::FakeNetService> net = std::make_shared<platform::FakeNetService>();
    std::shared_ptr<cw::WorkspaceNetworking> networking = cw::WorkspaceNetworking::make(
        workspace, {net, &defaults, std::chrono::milliseconds(0), [] { return std::string("Mac Studio"); }});
};

TEST_F(WorkspaceNetworkingTest, CommandsActOnTheActiveScriptAndReportItAfterwards) {
    for (const auto kind : {K::reportStatus, K::startPlayback, K::rewind, K::setScrollSpeed}) {
        EXPECT_EQ(run({kind, 10}), cw::NetworkAnswer::noDocumentActive());
    }
    auto project = activeScript();
    auto status = report(C::of(K::reportStatus));
    EXPECT_EQ(status, (cw::NetworkStatusReport{"Untitled", 50, 100, Status::stopped, 0, 60, 1}));
    EXPECT_TRUE(report(C::of(K::startPlayback)).transportState == Status::playing);
    project->setProgress(0.5, false, true);
    EXPECT_EQ(report(C::of(K::rewind)).playbackProgress, 0);
    EXPECT_TRUE(report(C::of(K::stopPlayback)).transportState == Status::stopped);
    status = report(C::setScrollSpeed(75));
    EXPECT_EQ(status.scrollSpeed, 75);
    EXPECT_EQ(status.maxScrollSpeed, 100);
    EXPECT_EQ(project->document().speedProperties, (cw::DocumentSpeedProperties{75, 1, 3}));
    EXPECT_EQ(report(C::setScrollDirection(-1)).scrollDirection, -1);
    EXPECT_EQ(report(C::setScrollDirection(0)).scrollDirection, 0);
    // A speed of exactly 0 lines per second, or no lines, runs 0 s.
    project->setScrollSpeed(50, 0, 3);
    EXPECT_EQ(report(C::setScrollSpeed(0)).totalRuntime, 0);
    project->setRepresentedPath("/scripts/Talk.cwr");
    EXPECT_EQ(report(C::of(K::reportStatus)).filename, "/scripts/Talk.cwr");
}

TEST_F(WorkspaceNetworkingTest, ValuesThatAreNotFiniteChangeNothing) {
    auto project = activeScript();
    for (const double poison :
         {std::nan(""), std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
        const auto speed = report(C::setScrollSpeed(poison));
        const auto direction = report(C::setScrollDirection(poison));
        EXPECT_EQ(speed.scrollSpeed, 50);
        EXPECT_EQ(direction.scrollDirection, 1);
        EXPECT_EQ(speed.totalRuntime, 60);
    }
    EXPECT_EQ(project->document().speedProperties.scrollSpeedPerc, 50);
    EXPECT_EQ(project->transportState().ffwdFactor, 1);
}

TEST_F(WorkspaceNetworkingTest, RemoteSpeedsAndDirectionsAreHeldToTheRangeOfTheControls) {
    auto project = activeScript();
    struct Row {
        double sent, held;
    };
    for (const Row& row : {Row{1e308, 100}, Row{150, 100}, Row{-1e308, 0}, Row{-50, 0}, Row{55.5, 55.5}}) {
        EXPECT_EQ(report(C::setScrollSpeed(row.sent)).scrollSpeed, row.held) << row.sent;
        EXPECT_EQ(project->document().speedProperties.scrollSpeedPerc, row.held) << row.sent;
        EXPECT_EQ(defaults.doubleForKey(cw::settings::defaultScrollSpeed), row.held) << row.sent;
    }
    for (const Row& row : {Row{1e308, 5}, Row{6, 5}, Row{-1e308, -5}, Row{-5, -5}, Row{-0.5, -0.5}}) {
        EXPECT_EQ(report(C::setScrollDirection(row.sent)).scrollDirection, row.held) << row.sent;
        EXPECT_EQ(project->transportState().ffwdFactor, row.held) << row.sent;
    }
    const auto server = startedServer();
    const char* huge = R"({"payload":{"cmdname":"SetScrollSpeed","cmdparams":{"speed":1e308}}})";
    EXPECT_EQ(Peer().ask(server->port(), huge)["payload"]["status"]["scrollSpeed"], 100.0);
    EXPECT_EQ(defaults.doubleForKey(cw::settings::defaultScrollSpeed), 100.0);
    const char* far = R"({"payload":{"cmdname":"SetScrollDirection","cmdparams":{"direction":-1e308}}})";
    EXPECT_EQ(Peer().ask(server->port(), far)["payload"]["status"]["scrollDirection"], -5.0);
    EXPECT_EQ(project->transportState().ffwdFactor, -5.0);
}

TEST_F(WorkspaceNetworkingTest, TheServerCarriesRequestsOutOnTheWorkspace) {
    const auto server = startedServer();
    ASSERT_TRUE(server && server->port() != 0);
    Peer peer;
    const auto ask = [&](const std::string& request) { return peer.ask(server->port(), request)["payload"]; };
    for (const auto* name : {"ReportStatus", "StartPlayback", "StopPlayback", "Rewind", "SetScrollSpeed",
                             "SetScrollDirection"}) {
        EXPECT_EQ(ask(json{{"protver", 2}, {"payload", {{"cmdname", name}}}}.dump()),
                  (json{{"name", "nodoc"}, {"reason", "No document active."}}))
            << name;
    }
    auto project = activeScript();
    project->setFfwdFactor(-5);
    EXPECT_EQ(ask(R"({"payload":{"cmdname":"SetScrollSpeed"}})")["status"]["scrollSpeed"], 31.0);
    const char* fast = R"({"payload":{"cmdname":"SetScrollDirection","cmdparams":{"direction":"fast"}}})";
    EXPECT_EQ(ask(fast)["status"]["scrollDirection"], 1.0);
    project->setProgress(0.7, false, true);
    EXPECT_EQ(ask(R"({"payload":{"cmdname":"Rewind"}})")["status"]["playbackProgress"], 0.0);
    EXPECT_EQ(project->document().speedProperties.scrollSpeedPerc, 31.0);
}

TEST_F(WorkspaceNetworkingTest, StopThenStartLeavesOneServerPublishedAtItsRealPort) {
    testsupport::LogCapture log;
    const std::weak_ptr<cw::BonjourServer> first = startedServer();
    networking->stopNetworking();
    networking->startNetworking();
    networking->startNetworking();
    const auto server = startedServer();
    EXPECT_TRUE(dispatch::runMainUntil([&] { return first.expired(); }, 5s));
    ASSERT_TRUE(server && server->port() != 0);
    ASSERT_TRUE(dispatch::runMainUntil([&] { return server->isPublished(); }, 5s));
    EXPECT_EQ(net->published(), (std::vector<platform::FakeNetService::Published>{
                                    {"Studio", "_cuewright._udp", "", server->port()}}));
    EXPECT_EQ(
        Peer().ask(server->port(), R"({"protver":2,"payload":{"cmdname":"Rewind"}})")["payload"]["name"],
        "nodoc");
    const auto lines = log.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "starting networking under name Studio ..."), 4);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "stopping networking ..."), 1);
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "server started listining on port " + std::to_string(server->port())),
              lines.end());

    defaults.set(cw::settings::isBonjourEnabled, false);
    networking->followNetworkSetting();
    workspace.net().netManagementQueue->sync([] {});
    EXPECT_EQ(workspace.net().server, nullptr);
    EXPECT_TRUE(net->published().empty());
}

TEST_F(WorkspaceNetworkingTest, APortOutsideItsRangeIsLoggedNotUsed) {
    testsupport::LogCapture log;
    defaults.set(cw::settings::bonjourKey, 70000);
    const auto server = startedServer();
    ASSERT_TRUE(server);
    EXPECT_EQ(server->socket(), nullptr);
    EXPECT_EQ(log.lines().back(), "could not start bonjour server: the port 70000 is outside 0...65535");
}

// The server's state is kept for the Remote control pane: its port while it runs, why not when its
// port is taken (by another copy, say), off once stopped.
TEST_F(WorkspaceNetworkingTest, TheServersStateSaysWhyItIsNotRunning) {
    const int taken = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(::getsockname(taken, reinterpret_cast<sockaddr*>(&address), &length), 0);
    defaults.set(cw::settings::bonjourKey, ntohs(address.sin_port));
    startedServer();
    const cw::RemoteServerStatus failed = cw::remoteServerStatus();
    EXPECT_EQ(failed.state, cw::RemoteServerStatus::State::failed);
    EXPECT_EQ(failed.port, ntohs(address.sin_port)) << "the pane names the port taken";
    EXPECT_NE(failed.reason.find("in use"), std::string::npos) << failed.reason;
    ::close(taken);

    defaults.set(cw::settings::bonjourKey, 0);
    const auto server = startedServer();
    ASSERT_TRUE(dispatch::runMainUntil(
        [&] { return cw::remoteServerStatus().state == cw::RemoteServerStatus::State::running; }, 5s));
    EXPECT_EQ(cw::remoteServerStatus().port, server->port());
    networking->stopNetworking();
    workspace.net().netManagementQueue->sync([] {});
    EXPECT_EQ(cw::remoteServerStatus(), cw::RemoteServerStatus{});
}

// Why no controller finds a server that answers at its port: another service on the network has
// its name, the name is longer than the network carries (never offered to the discovery), or no
// discovery daemon runs, at the start or after it went away; the server's state says which, for
// the pane to say it, and turns to running when the daemon comes back.
TEST_F(WorkspaceNetworkingTest, WhyNoControllerFindsTheServerIsItsState) {
    using State = cw::RemoteServerStatus::State;
    const std::string longest(63, 'x'), tooLong = std::string(62, 'x') + "\u00e9"; // 64 bytes
    net->refuseName("Studio");
    struct Row {
        std::string name;
        std::optional<std::string> unavailable; // set before the start, or (after) while it runs
        bool daemonGoesAfterStart;
        State state;
        std::string reason;
    };
    const std::vector<Row> rows = {
        {"Studio", std::nullopt, false, State::nameInUse, "Studio"},
        {tooLong, std::nullopt, false, State::nameTooLong, tooLong},
        {tooLong, "no daemon", false, State::nameTooLong, tooLong},
        {longest, std::nullopt, false, State::running, ""},
        {longest, "no daemon", false, State::noDiscovery, "no daemon"},
        {longest, "it went", true, State::noDiscovery, "it went"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name.size());
        defaults.set(cw::settings::bonjourName, row.name);
        net->setUnavailable(row.daemonGoesAfterStart ? std::nullopt : row.unavailable);
        const auto server = startedServer();
        const auto reached = [&](State state) {
            return dispatch::runMainUntil([&] { return cw::remoteServerStatus().state == state; }, 5s);
        };
        if (row.daemonGoesAfterStart) {
            ASSERT_TRUE(reached(State::running));
            net->setUnavailable(row.unavailable);
        }
        ASSERT_TRUE(reached(row.state));
        EXPECT_EQ(cw::remoteServerStatus(), (cw::RemoteServerStatus{row.state, server->port(), row.reason}));
        EXPECT_EQ(net->published().empty(), row.state == State::nameInUse || row.state == State::nameTooLong);
        if (row.state == State::noDiscovery) {
            net->setUnavailable(std::nullopt); // the daemon comes (back)
            EXPECT_TRUE(reached(State::running));
        }
        networking->stopNetworking();
        workspace.net().netManagementQueue->sync([] {});
    }
}

TEST_F(WorkspaceNetworkingTest, SettingsGiveTheNameAndAnnounceOnlyChanges) {
    platform::NotificationCenter center;
    int posts = 0;
    center.addObserver(std::string(cw::NetworkSettings::networkStateDidChange),
                       [&](const auto&) { ++posts; });
    struct Row {
        std::optional<std::string> stored;
        std::string host, name;
    };
    for (const auto& row : std::vector<Row>{{std::nullopt, "Mac", "Cuewright"},
                                            {"", "Mac", "Mac"},
                                            {"", "", "Cuewright"},
                                            {"Stage", "Mac", "Stage"}}) {
        if (row.stored) {
            defaults.set(cw::settings::bonjourName, *row.stored);
        } else {
            defaults.removeObject(cw::settings::bonjourName);
        }
        EXPECT_EQ(cw::NetworkSettings::bonjourName(defaults, row.host), row.name);
    }
    cw::NetworkSettings::setBonjourName("Stage", defaults, center, "Mac");
    cw::NetworkSettings::setBonjourName("Booth", defaults, center, "Mac");
    cw::NetworkSettings::setBonjourEnabled(true, defaults, center);
    cw::NetworkSettings::setBonjourEnabled(false, defaults, center);
    EXPECT_EQ(posts, 2);
    EXPECT_EQ(cw::NetworkSettings::networkStateDidChange, "NetworkStateDidchange");
}

} // namespace

// DNS-SD for real: servers publish through the Avahi daemon, a client browses, resolves and asks
// for a status over UDP. Runs only inside the private network namespace that dnssd-namespace.sh
// makes (loopback alone, a private bus, an Avahi daemon limited to lo).
#include "cuewright/model/SettingsKeys.h"
#include "cuewright/remote/BonjourClient.h"
#include "cuewright/remote/BonjourServer.h"
#include "cuewright/remote/RemoteServerStatus.h"
#include "cuewright/remote/WorkspaceNetworking.h"

#include "remote/InputTestSupport.h"
#include "remote/RemoteTestSupport.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>

// ThreadSanitizer: libdbus takes its global bus lock and then a new connection's lock when it
// opens a connection (the Avahi client's), and a connection's lock and then the bus lock when it
// closes one. A closed connection's memory is reused for the next one, so the two look like one
// lock taken in both orders; they never are one, as no other thread can hold the lock of a
// connection that is still being opened. The cycle lies wholly inside libdbus and cannot deadlock.
// Of its frames only the close has a name, dbus_connection_close (libdbus's others have none
// without its debugging symbols), so the report is known by that. Not by the library: that would
// hide every report with a frame in libdbus, cycles of our own locks among them.
extern "C" const char* __tsan_default_suppressions() {
    return "deadlock:^dbus_connection_close$\n";
}

namespace {

using namespace remotetest;

std::optional<cw::ServerAddress> serverNamed(const cw::BonjourClient& client, const std::string& name) {
    const auto servers = client.availableServers();
    const auto found = std::find_if(servers.begin(), servers.end(),
                                    [&](const auto& server) { return server.humanReadableName == name; });
    return found == servers.end() ? std::nullopt : std::optional(*found);
}

TEST(DnsSd, TwoServersAreFoundResolvedAndAnswer) {
    if (std::getenv("CW_DNSSD_NAMESPACE") == nullptr) {
        GTEST_SKIP() << "runs only inside the namespace of dnssd-namespace.sh";
    }
    testsupport::LogCapture log;
    const auto logged = [&](const std::string& line) {
        const auto lines = log.lines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    auto answers = std::make_shared<AnswerDelegate>();
    const auto said = [&](cw::UnpublishedReason why) {
        return std::count(answers->unpublished.begin(), answers->unpublished.end(), why);
    };
    answers->answer = [](const cw::NetworkCommand&) { return cw::NetworkAnswer::ok(sampleReport()); };
    // A discovery of its own each run, so that a repeated run sees the daemon afresh.
    const auto discovery = platform::NetService::make();
    const auto answering = [&] {
        auto server = cw::BonjourServer::make(discovery);
        server->setDelegate(answers);
        return server;
    };
    const auto alpha = answering(), beta = answering(), twin = answering(), longest = answering(),
               tooLong = answering();
    alpha->start("Alpha Stage", 0);
    beta->start("Beta Stage", 0);
    // Only now does the script start the daemon: the publications must wait for it. (A repeated
    // run in the same process finds it running.)
    const char* ready = std::getenv("CW_DNSSD_READY");
    if (ready == nullptr || !std::filesystem::exists(ready)) {
        ASSERT_TRUE(dispatch::runMainUntil(
            [&] {
                return logged(
                    "DNS-SD: the Avahi daemon is not running; services are published when it starts");
            },
            5s));
        // Nothing sees them until a daemon runs, and their owner hears why.
        EXPECT_TRUE(
            dispatch::runMainUntil([&] { return said(cw::UnpublishedReason::noDiscovery) == 2; }, 5s));
        if (ready != nullptr) {
            std::ofstream{ready};
        }
    }
    // The daemon may still be starting: the publications wait for it.
    ASSERT_TRUE(dispatch::runMainUntil([&] { return alpha->isPublished() && beta->isPublished(); }, 30s));
    EXPECT_NE(alpha->port(), 0);

    // A second server under a taken name is not renamed; the collision is logged.
    twin->start("Alpha Stage", 0);
    EXPECT_TRUE(dispatch::runMainUntil(
        [&] { return logged("DNS-SD: the service name \"Alpha Stage\" is already in use"); }, 10s));
    EXPECT_TRUE(dispatch::runMainUntil([&] { return said(cw::UnpublishedReason::nameInUse) == 1; }, 10s))
        << "and its owner hears so";
    EXPECT_FALSE(twin->isPublished());
    // The longest name the network carries is published; one byte more is not offered, and its
    // owner hears why.
    longest->start(std::string(62, 'L') + "g", 0);
    tooLong->start(std::string(62, 'L') + "\u00e9", 0); // 64 bytes, 63 characters
    EXPECT_TRUE(dispatch::runMainUntil([&] { return said(cw::UnpublishedReason::nameTooLong) == 1; }, 10s));
    EXPECT_TRUE(dispatch::runMainUntil([&] { return longest->isPublished(); }, 10s));
    EXPECT_FALSE(tooLong->isPublished());
    // A copy of the application named so: its server's state, which the Remote control pane
    // shows, names the name in use.
    inputtest::ScriptWorkspace copy;
    copy.defaults.set(cw::settings::bonjourName, "Beta Stage");
    copy.defaults.set(cw::settings::bonjourKey, 0);
    const auto networking = cw::WorkspaceNetworking::make(
        copy.workspace,
        {discovery, &copy.defaults, std::chrono::milliseconds(0), [] { return std::string(); }});
    networking->startNetworking();
    EXPECT_TRUE(dispatch::runMainUntil(
        [&] { return cw::remoteServerStatus().state == cw::RemoteServerStatus::State::nameInUse; }, 10s));
    EXPECT_EQ(cw::remoteServerStatus().reason, "Beta Stage");
    networking->stopNetworking();
    copy.workspace.net().netManagementQueue->sync([] {});

    RecordingClientDelegate recorder;
    auto client = cw::BonjourClient::make();
    client->setDelegate(&recorder);
    client->start();
    ASSERT_TRUE(dispatch::runMainUntil(
        [&] {
            return serverNamed(*client, "Alpha Stage") && serverNamed(*client, "Beta Stage") &&
                   serverNamed(*client, longest->name());
        },
        20s));
    const auto found = *serverNamed(*client, "Alpha Stage");
    EXPECT_EQ(found.port, alpha->port()); // the real port, though 0 was configured
    EXPECT_EQ(client->availableServers().size(), 3u);
    EXPECT_FALSE(found.hostName.empty());
    EXPECT_FALSE(found.address.empty());
    // The host's second address is listed beside the one requests go to.
    if (const char* second = std::getenv("CW_DNSSD_SECOND_ADDRESS")) {
        std::vector<std::string> hosts{sockets::AsyncUdpSocket::hostFromAddress(found.address)};
        for (const auto& other : found.otherAddresses) {
            hosts.push_back(sockets::AsyncUdpSocket::hostFromAddress(other));
        }
        for (const std::string expected : {"127.0.0.1", second}) {
            EXPECT_NE(std::find(hosts.begin(), hosts.end(), expected), hosts.end()) << expected;
        }
    }

    client->sendCommand(cw::NetworkCommand::Command::of(cw::NetworkCommand::Kind::reportStatus), found);
    ASSERT_TRUE(dispatch::runMainUntil([&] { return !recorder.reports.empty(); }, 5s));
    EXPECT_EQ(recorder.reports[0], sampleReport());
    EXPECT_EQ(alpha->answeredCount(), 1u);

    // The daemon goes away: the servers hear that nothing sees them; it comes back (the script
    // starts it again): they are published again.
    if (const char* pidFile = std::getenv("CW_DNSSD_DAEMON_PID")) {
        pid_t daemon = 0;
        std::ifstream(pidFile) >> daemon;
        ASSERT_GT(daemon, 0);
        const auto waitedBefore = said(cw::UnpublishedReason::noDiscovery);
        const int startsBefore = answers->starts;
        ASSERT_EQ(::kill(daemon, SIGTERM), 0);
        EXPECT_TRUE(dispatch::runMainUntil(
            [&] { return said(cw::UnpublishedReason::noDiscovery) >= waitedBefore + 2; }, 10s));
        EXPECT_TRUE(dispatch::runMainUntil([&] { return answers->starts >= startsBefore + 2; }, 30s));
        EXPECT_TRUE(alpha->isPublished() && beta->isPublished());
    }

    // The copy that holds the name lets it go: the one refused it is announced under it now.
    alpha->stop();
    EXPECT_TRUE(dispatch::runMainUntil([&] { return twin->isPublished(); }, 20s));

    client->stop();
    for (const auto& server : {alpha, beta, twin, longest, tooLong}) {
        server->stop();
    }
}

} // namespace

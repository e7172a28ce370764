// The client: the requests it writes, the rules it parses replies by, discovery batches with a
// fake DNS-SD, and a round trip through a real server on loopback.
#include "cuewright/remote/BonjourClient.h"
#include "cuewright/remote/RemoteProtocol.h"
#include "platform/netservice/FakeNetService.h"

#include "remote/RemoteTestSupport.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace remotetest;
using cw::NetworkCommand;
using C = NetworkCommand::Command;
using K = NetworkCommand::Kind;

cw::RemoteReply parse(const json& reply) {
    const std::string text = reply.dump();
    return cw::parseRemoteReply(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

json status() {
    return {{"filename", "/a/b/Talk.cwr"}, {"scrollSpeed", 40},        {"maxScrollSpeed", 80},
            {"totalRuntime", 120},         {"playbackProgress", 0.25}, {"transportState", "playing"},
            {"scrollDirection", -1}};
}
json result(const json& status) {
    return {{"protver", 1}, {"paylodetype", "result"}, {"payload", {{"status", status}}}};
}

TEST(BonjourClientParsing, RepliesAreReadByTheProtocolsRules) {
    auto report = std::get<cw::NetworkStatusReport>(parse(result(status())));
    EXPECT_EQ(report, (cw::NetworkStatusReport{"/a/b/Talk.cwr", 40, 80,
                                               cw::TransportState::TransportStatus::playing, 0.25, 120, -1}));
    json loose = status();
    loose.erase("maxScrollSpeed");
    loose["transportState"] = "PLAYING";
    report = std::get<cw::NetworkStatusReport>(parse({{"payload", {{"status", loose}}}}));
    EXPECT_EQ(report.maxScrollSpeed, 100.0);
    EXPECT_EQ(report.transportState, cw::TransportState::TransportStatus::stopped);

    EXPECT_EQ(parse({{"protver", 1}, {"paylodetype", "error"}, {"payload", json::object()}}),
              cw::RemoteReply(cw::RemoteErrorReason{"Unkown Error"}));
    EXPECT_EQ(parse({{"paylodetype", "error"}, {"payload", {{"reason", "No document active."}}}}),
              cw::RemoteReply(cw::RemoteErrorReason{"No document active."}));

    const auto without = [](const char* key, json value = nullptr) {
        json s = status();
        if (value.is_null()) {
            s.erase(key);
        } else {
            s[key] = value;
        }
        return result(s);
    };
    const std::vector<std::pair<json, std::string>> refused = {
        {json::array({1}), "Can not decode JSON"},
        {{{"protver", 3}}, "Expected protocol version is 1 or 2. But got 3"},
        {{{"paylodetype", "error"}, {"payload", 3}}, "Can not extract payload from error"},
        {{{"paylodetype", "status"}}, "Wrong payload type. Expected Status but got status"},
        {{{"payload", 1}}, "Can not extract payload"},
        {{{"payload", {{"status", "fine"}}}}, "Can not extract status from payload."},
        {without("transportState", 1), "Can not extract transport state from status"},
        {without("playbackProgress", true), "Can not extract playback position from status"},
        {without("scrollSpeed"), "Can not extract playback speed from status"},
        {without("scrollDirection", "up"), "Can not extract scroll direction from status"},
        {without("totalRuntime"), "Can not extract total runtime from status"},
        {without("filename", 7), "Can not extract filename from status"},
    };
    for (const auto& [reply, reason] : refused) {
        try {
            parse(reply);
            ADD_FAILURE() << reply.dump();
        } catch (const cw::BonjourClientError& error) {
            EXPECT_EQ(error.what(), reason) << reply.dump();
        }
    }
    // A NUL byte makes the whole reply no JSON.
    const std::string text = result(status()).dump();
    for (const std::string& nul : {text + std::string(1, '\0') + "GARBAGE{{{", text + '\0'}) {
        const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(nul.data()), nul.size());
        EXPECT_THROW(cw::parseRemoteReply(bytes), json::parse_error) << nul.size();
    }
}

TEST(BonjourClientParsing, RequestsCarryWholeSpeedsAndEmptyParameters) {
    const auto request = [](const C& command) {
        const auto bytes = cw::remoteRequest(command);
        return json::parse(bytes.begin(), bytes.end());
    };
    const auto expected = [](const char* name, json parameters) {
        return json{{"protver", 2},
                    {"cmdendpoint", "active"},
                    {"paylodetype", "command"},
                    {"payload", {{"cmdname", name}, {"cmdparams", parameters}}}};
    };
    EXPECT_EQ(request(C::setScrollSpeed(55.9)), expected("SetScrollSpeed", {{"speed", 55}}));
    EXPECT_EQ(request(C::setScrollSpeed(-55.9)), expected("SetScrollSpeed", {{"speed", -55}}));
    EXPECT_TRUE(request(C::setScrollSpeed(55.9))["payload"]["cmdparams"]["speed"].is_number_integer());
    EXPECT_EQ(request(C::setScrollDirection(-1)), expected("SetScrollDirection", {{"direction", -1.0}}));
    EXPECT_EQ(request(C::of(K::startPlayback)), expected("StartPlayback", json::object()));
    EXPECT_THROW(request(C::setScrollSpeed(std::nan(""))), std::invalid_argument);
    EXPECT_THROW(request(C::setScrollSpeed(1e300)), std::invalid_argument);
    EXPECT_THROW(request(C::setScrollDirection(INFINITY)), std::invalid_argument);
}

class BonjourClientTest : public ::testing::Test {
protected:
    BonjourClientTest() {
        client->setDelegate(&delegate);
        client->start();
    }
    ~BonjourClientTest() override { client->stop(); }

    static platform::NetServiceInstance service(const std::string& name) {
        return {name, "_cuewright._udp", "local", 1, 0};
    }
    void resolvable(const std::string& name, std::uint16_t port) {
        net->setResolution(name, {service(name), name + ".local", {}, port});
    }

    std::shared_ptr<platform::FakeNetService> net = std::make_shared<platform::FakeNetService>();
    std::shared_ptr<cw::BonjourClient> client = cw::BonjourClient::make(net);
    RecordingClientDelegate delegate;
};

TEST_F(BonjourClientTest, EachBatchResolvesEveryKnownServiceAndDropsTheFailures) {
    resolvable("Alpha", 1001);
    resolvable("Beta", 1002);
    net->announce({service("Alpha"), service("Beta")});
    ASSERT_TRUE(dispatch::runMainUntil([&] { return delegate.updates == 1; }, 5s));
    EXPECT_EQ(net->resolveCount("Alpha"), 1);
    EXPECT_EQ(net->resolveCount("Beta"), 1);
    EXPECT_EQ(client->availableServers(), (std::vector<cw::ServerAddress>{{"Alpha", "Alpha.local", 1001, {}},
                                                                          {"Beta", "Beta.local", 1002, {}}}));

    net->announce({service("Gamma")}); // never resolves
    ASSERT_TRUE(dispatch::runMainUntil([&] { return delegate.updates == 2; }, 5s));
    EXPECT_EQ(net->resolveCount("Alpha"), 2);
    EXPECT_EQ(net->resolveCount("Gamma"), 1);
    EXPECT_EQ(client->availableServers().size(), 2u);

    net->withdraw({service("Alpha")});
    ASSERT_TRUE(dispatch::runMainUntil([&] { return delegate.updates == 3; }, 5s));
    EXPECT_EQ(client->availableServers(), (std::vector<cw::ServerAddress>{{"Beta", "Beta.local", 1002, {}}}));
    EXPECT_EQ(client->resolveCount(), 0);

    // A service that goes while it resolves takes its resolution along; the last one to go
    // still changes the list.
    net->announce({service("Delta")});
    net->withdraw({service("Delta"), service("Beta")});
    ASSERT_TRUE(dispatch::runMainUntil([&] { return delegate.updates == 4; }, 5s));
    EXPECT_TRUE(client->availableServers().empty());
    EXPECT_EQ(client->resolveCount(), 0);
}

TEST_F(BonjourClientTest, RepliesOfARealServerReachTheDelegate) {
    auto server = cw::BonjourServer::make(net);
    auto answers = std::make_shared<AnswerDelegate>();
    answers->answer = [](const NetworkCommand& command) {
        return command.command.kind == K::rewind ? cw::NetworkAnswer::noDocumentActive()
                                                 : cw::NetworkAnswer::ok(sampleReport());
    };
    server->setDelegate(answers);
    server->start("Stage", 0);
    testsupport::LogCapture log;
    // A request to a server announced at a broadcast address fails alone: the others are still
    // asked.
    client->sendCommand(C::of(K::rewind), {"Forged", "127.255.255.255", server->port(),
                                           sockets::numericHostAddresses("127.255.255.255", 9).ipv4});
    for (const char* host : {"127.0.0.1", "::1", "localhost"}) {
        client->sendCommand(C::setScrollSpeed(55.9), {"Stage", host, server->port(), {}});
        client->sendCommand(C::of(K::rewind), {"Stage", host, server->port(), {}});
    }
    ASSERT_TRUE(dispatch::runMainUntil([&] { return delegate.failures.size() == 3; }, 5s));
    ASSERT_TRUE(dispatch::runMainUntil([&] { return delegate.reports.size() == 3; }, 5s));
    EXPECT_EQ(delegate.reports[0], sampleReport());
    EXPECT_EQ(delegate.failures[0], "No document active.");
    EXPECT_EQ(answers->commands[0], (NetworkCommand{C::setScrollSpeed(55), 2}));

    client->handleAnswer({'{', '}'}, {});
    client->handleAnswer({'x'}, {});
    EXPECT_EQ(log.lines().at(0), "could not process answer: Can not extract payload");
    EXPECT_EQ(log.lines().at(1).rfind("could not process answer: ", 0), 0u);
    server->stop();
}

// Junk from a sender the delegate expects nothing from is dropped unread: nothing reaches the
// delegate, nothing is parsed, and each such sender is logged once however much it sends. The
// expected sender's replies still come through.
TEST_F(BonjourClientTest, DatagramsFromStrangersAreDroppedUnreadAndEachSenderLoggedOnce) {
    testsupport::LogCapture log;
    const Peer server(AF_INET, "127.0.0.1"), stranger(AF_INET, "127.0.0.3"), another(AF_INET, "127.0.0.4");
    ASSERT_TRUE(server.isOpen() && stranger.isOpen() && another.isOpen());
    delegate.expects = [&](const sockets::Address& from) {
        return cw::isFromServer({"Server", "127.0.0.1", server.port(), {}}, from);
    };
    // Its request tells the server (and the strangers) the client's port.
    client->sendCommand(C::of(K::reportStatus), {"Server", "127.0.0.1", server.port(), {}});
    uint16_t clientPort = 0;
    ASSERT_TRUE(server.receive(nullptr, &clientPort));
    const std::string junk(40, 'j');
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(stranger.send(clientPort, junk));
        ASSERT_TRUE(another.send(clientPort, junk));
    }
    // Sent until it comes through: what the system could not hold while the junk was read it
    // dropped.
    ASSERT_TRUE(dispatch::runMainUntil(
        [&] {
            return !delegate.reports.empty() || (server.send(clientPort, result(status()).dump()), false);
        },
        5s));
    EXPECT_TRUE(delegate.failures.empty());
    EXPECT_EQ(log.lines(),
              (std::vector<std::string>{
                  "remote control: dropping datagrams from 127.0.0.3, which is not the copy being driven",
                  "remote control: dropping datagrams from 127.0.0.4, which is not the copy being driven"}));
}

// A server that stops answering is looked up again when asked: one that cannot be found meanwhile
// keeps its last address (the browse will not announce it again while it holds it), and its new
// address is listed once it resolves.
TEST_F(BonjourClientTest, AServerIsLookedUpAgainAndKeptThroughAFailure) {
    resolvable("Alpha", 1001);
    net->announce({service("Alpha")});
    ASSERT_TRUE(dispatch::runMainUntil([&] { return delegate.updates == 1; }, 5s));
    const cw::ServerAddress old{"Alpha", "Alpha.local", 1001, {}};

    net->forgetResolution("Alpha"); // unplugged
    client->resolveAgain(old);
    client->resolveAgain(old); // already being looked up
    ASSERT_TRUE(dispatch::runMainUntil([&] { return delegate.updates == 2; }, 5s));
    EXPECT_EQ(net->resolveCount("Alpha"), 2);
    EXPECT_EQ(client->availableServers(), std::vector<cw::ServerAddress>{old});

    net->setResolution("Alpha", {service("Alpha"), "Alpha.local", {}, 2001}); // back, elsewhere
    client->resolveAgain(old);
    ASSERT_TRUE(dispatch::runMainUntil([&] { return delegate.updates == 3; }, 5s));
    EXPECT_EQ(client->availableServers(),
              (std::vector<cw::ServerAddress>{{"Alpha", "Alpha.local", 2001, {}}}));
}

} // namespace

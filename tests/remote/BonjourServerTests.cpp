// The UDP server on loopback with a real socket: every error reply, version rules, replies that
// must not be answered, and datagrams that must not stop it.
#include "cuewright/remote/BonjourServer.h"
#include "cuewright/remote/RemoteProtocol.h"
#include "platform/netservice/FakeNetService.h"

#include "remote/RemoteTestSupport.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

namespace {

using namespace remotetest;
using cw::NetworkAnswer;
using cw::NetworkCommand;
using C = NetworkCommand::Command;
using K = NetworkCommand::Kind;

class BonjourServerTest : public ::testing::TestWithParam<int> {
protected:
    BonjourServerTest() {
        delegate->answer = [](const NetworkCommand&) { return NetworkAnswer::ok(sampleReport()); };
        server->setDelegate(delegate);
        server->start("Studio", 0);
    }
    ~BonjourServerTest() override { server->stop(); }

    std::shared_ptr<platform::FakeNetService> net = std::make_shared<platform::FakeNetService>();
    std::shared_ptr<AnswerDelegate> delegate = std::make_shared<AnswerDelegate>();
    std::shared_ptr<cw::BonjourServer> server = cw::BonjourServer::make(net);
    Peer peer{GetParam()};
};

const std::string statusRequest = R"({"protver":2,"payload":{"cmdname":"ReportStatus"}})";

TEST_P(BonjourServerTest, EveryRefusalHasItsNameAndReason) {
    ASSERT_TRUE(peer.isOpen());
    struct Row {
        std::string request, name, reason;
    };
    const std::string speed = R"({"payload":{"cmdname":"SetScrollSpeed","cmdparams":{"speed":44}}})";
    const std::string nul(1, '\0');
    const std::vector<Row> rows = {
        {"hello", "proterr", "Can not parse request. Malformed data"},
        // A NUL byte makes the whole datagram no JSON.
        {speed + nul + "GARBAGE{{{", "proterr", "Can not parse request. Malformed data"},
        {speed + nul, "proterr", "Can not parse request. Malformed data"},
        {nul + speed, "proterr", "Can not parse request. Malformed data"},
        {"[1,2]", "dtaerr", "Can not decode JSON"},
        // Beyond a double: no number, and no JSON either.
        {R"({"payload":{"cmdname":"SetScrollSpeed","cmdparams":{"speed":1e999}}})", "proterr",
         "Can not parse request. Malformed data"},
        {R"({"protver":3,"payload":{"cmdname":"Rewind"}})", "proterr",
         "Expected protocol version is 1 or 2. But got 3"},
        {R"({"protver":0,"payload":{"cmdname":"Rewind"}})", "proterr",
         "Expected protocol version is 1 or 2. But got 0"},
        {R"({"cmdendpoint":"all","payload":{"cmdname":"Rewind"}})", "proterr",
         "This protocol version can only hande 'active' endpoints. But received all."},
        {R"({"paylodetype":"result","payload":{"cmdname":"Rewind"}})", "proterr",
         "Expected to receive a payload of type command but got result"},
        {R"({"protver":1})", "dtaerr", "Can not extract payload"},
        {R"({"payload":[1]})", "dtaerr", "Can not extract payload"},
        {R"({"payload":{"cmdname":7}})", "dtaerr", "Can not extract command name from payload."},
        {R"({"payload":{"cmdname":"rewind"}})", "proterr", "Unsupported command: rewind"},
    };
    for (const auto& row : rows) {
        // Long enough to earn its refusal.
        const json reply = peer.ask(server->port(), row.request + std::string(64, ' '));
        EXPECT_EQ(reply, (json{{"protver", 1},
                               {"paylodetype", "error"},
                               {"payload", {{"name", row.name}, {"reason", row.reason}}}}))
            << row.request;
    }
    EXPECT_TRUE(delegate->commands.empty());

    const auto refusal = [&](const char* name, const char* reason) {
        EXPECT_EQ(peer.ask(server->port(), statusRequest)["payload"],
                  (json{{"name", name}, {"reason", reason}}));
    };
    delegate->answer = [](const NetworkCommand&) { return NetworkAnswer::noDocumentActive(); };
    refusal("nodoc", "No document active.");
    delegate->answer = [](const NetworkCommand&) { return NetworkAnswer::error("disk on fire"); };
    refusal("generr", "disk on fire");
    delegate.reset();
    refusal("generr", "Delegate fuckup yo");
}

TEST_P(BonjourServerTest, AcceptedRequestsCarryTheirVersionAndAnswerTheStatus) {
    struct Row {
        std::string request;
        NetworkCommand expected;
    };
    const std::vector<Row> rows = {
        {R"({"payload":{"cmdname":"Rewind"}})", {C::of(K::rewind), 0}},
        {R"({"protver":"2","payload":{"cmdname":"StartPlayback"}})", {C::of(K::startPlayback), 0}},
        {R"({"protver":2.5,"payload":{"cmdname":"StopPlayback"}})", {C::of(K::stopPlayback), 0}},
        {R"({"protver":true,"payload":{"cmdname":"ReportStatus"}})", {C::of(K::reportStatus), 0}},
        {R"({"protver":2,"cmdendpoint":5,"paylodetype":"command","payload":{"cmdname":"SetScrollSpeed"}})",
         {C::setScrollSpeed(31.0), 2}},
        {R"({"protver":1.0,"payload":{"cmdname":"SetScrollDirection","cmdparams":[2]}})",
         {C::setScrollDirection(1.0), 1}},
        {R"({"payload":{"cmdname":"SetScrollSpeed","cmdparams":{"speed":true}}})",
         {C::setScrollSpeed(31.0), 0}},
        {R"({"payload":{"cmdname":"SetScrollSpeed","cmdparams":{"speed":"fast"}}})",
         {C::setScrollSpeed(31.0), 0}},
        {R"({"payload":{"cmdname":"SetScrollSpeed","cmdparams":{"speed":55.5}}})",
         {C::setScrollSpeed(55.5), 0}},
        {R"({"payload":{"cmdname":"SetScrollDirection","cmdparams":{"direction":-1}}})",
         {C::setScrollDirection(-1.0), 0}},
    };
    for (const auto& row : rows) {
        const json reply = peer.ask(server->port(), row.request);
        ASSERT_EQ(reply["paylodetype"], "result") << row.request << reply.dump();
        EXPECT_EQ(delegate->commands.back(), row.expected) << row.request;
    }
    const json reply = peer.ask(server->port(), statusRequest);
    EXPECT_EQ(reply, json::parse(R"({"protver":1,"paylodetype":"result","payload":{"status":{
        "filename":"/a/b/Talk.cwr","scrollSpeed":40.0,"maxScrollSpeed":100.0,"totalRuntime":120.0,
        "playbackProgress":0.25,"transportState":"playing","scrollDirection":-1.0}}})"));
}

TEST_P(BonjourServerTest, BadDatagramsLeaveTheServerAnswering) {
    const std::vector<std::string> bad = {"", "not json {", std::string(65507, 'x'),
                                          "[" + std::string(65506, '[')};
    for (const auto& datagram : bad) {
        ASSERT_TRUE(peer.send(server->port(), datagram)) << datagram.size();
    }
    for (int i = 0; i < 10000; ++i) {
        peer.send(server->port(), i % 2 ? "{\"payload\":" : "\x01\x02");
    }
    // Replies to the burst may fill the peer's buffer: ask again until the status comes back.
    bool answered = false;
    for (int attempt = 0; attempt < 50 && !answered; ++attempt) {
        peer.drainSeeingResult();
        ASSERT_TRUE(peer.send(server->port(), statusRequest));
        dispatch::runMainUntil([&] { return answered = peer.drainSeeingResult(); }, 200ms);
    }
    EXPECT_TRUE(answered);
    EXPECT_GE(server->handledCount(), 2u);
}

TEST_P(BonjourServerTest, ErrorRepliesAreNeverAnswered) {
    // A forged error reply gets nothing: the first reply the peer sees is its status.
    ASSERT_TRUE(peer.send(server->port(), R"({"protver":1,"paylodetype":"error","payload":{"name":"x"}})"));
    EXPECT_EQ(peer.ask(server->port(), statusRequest)["paylodetype"], "result");
    EXPECT_EQ(server->handledCount(), 2u);
    EXPECT_EQ(server->answeredCount(), 1u);

    // Two servers: the refusal of a stray datagram is not refused in turn.
    auto other = cw::BonjourServer::make(net);
    other->start("Other", 0);
    other->socket()->sendData(sockets::Data(64, 'h'), "localhost", server->port(), 1.0, 1);
    ASSERT_TRUE(dispatch::runMainUntil([&] { return other->handledCount() == 1; }, 5s));
    EXPECT_EQ(other->answeredCount(), 0u);
    EXPECT_EQ(server->handledCount(), 3u);
    EXPECT_EQ(server->answeredCount(), 2u);

    // A "result" still gets its refusal.
    EXPECT_EQ(
        peer.ask(server->port(), R"({"paylodetype":"result"})" + std::string(64, ' '))["payload"]["reason"],
        "Expected to receive a payload of type command but got result");
    other->stop();
}

TEST_P(BonjourServerTest, PublishesTheRealPortOfAnEphemeralBind) {
    ASSERT_NE(server->port(), 0);
    EXPECT_EQ(server->socket()->localPortIPv4(), server->socket()->localPortIPv6());
    ASSERT_TRUE(dispatch::runMainUntil([&] { return delegate->starts == 1; }, 5s));
    EXPECT_EQ(net->published(), (std::vector<platform::FakeNetService::Published>{
                                    {"Studio", "_cuewright._udp", "", server->port()}}));
    server->stop();
    EXPECT_TRUE(net->published().empty());
    EXPECT_TRUE(server->socket()->isClosed());
}

// Junk from one address, with the clock standing still: the refusals stop at the budget, and a
// request among them is still answered.
TEST_P(BonjourServerTest, ABurstOfJunkDrawsBoundedRefusals) {
    const auto frozen = cw::ErrorReplyBudget::Clock::now();
    auto still = cw::BonjourServer::make(net, [frozen] { return frozen; });
    still->setDelegate(delegate);
    still->start("Still", 0);
    const uint16_t port = still->port();
    const std::string junk(64, 'x'); // long enough to earn a refusal
    std::uint64_t sent = 0;
    bool answered = false;
    const auto readReplies = [&] { return answered = peer.drainSeeingResult() || answered; };
    // In steps the receive buffer holds whole: each step is handled before the next is sent.
    for (int step = 0; step < 100; ++step) {
        for (int i = 0; i < 100; ++i) {
            ASSERT_TRUE(peer.send(port, junk));
            ++sent;
        }
        if (step == 50) {
            ASSERT_TRUE(peer.send(port, statusRequest));
            ++sent;
        }
        ASSERT_TRUE(dispatch::runMainUntil([&] { return still->handledCount() == sent; }, 5s)) << step;
        readReplies();
    }
    ASSERT_TRUE(dispatch::runMainUntil(readReplies, 5s));
    const cw::ErrorReplyLimits limits;
    EXPECT_GE(still->answeredCount(), 2u) << "the first refusals go out";
    EXPECT_LE(still->answeredCount(), 1 + std::uint64_t(limits.repliesPerSecond));
    EXPECT_EQ(still->answeredCount() + still->withheldCount(), sent);
    still->stop();
}

// Slow junk of every size, each datagram followed by a request whose status marks the end of
// its replies: no error reply is more than three times its datagram, shorter junk gets none.
TEST_P(BonjourServerTest, ErrorRepliesAreNeverMuchLargerThanTheirDatagram) {
    testsupport::LogCapture log;
    delegate->answer = [](const NetworkCommand& c) {
        return c.command.kind == K::reportStatus ? NetworkAnswer::ok(sampleReport())
                                                 : NetworkAnswer::noDocumentActive();
    };
    std::vector<std::string> datagrams(60, "x"); // the slow one-byte junk, a minute of it
    for (const std::size_t size : {2, 8, 46, 47, 48, 100, 240}) {
        datagrams.push_back(std::string(size, 'x'));
    }
    datagrams.push_back("[1,2]");
    datagrams.push_back(R"({"protver":3,"payload":{"cmdname":"Rewind"}})");
    datagrams.push_back(R"({"protver":2,"payload":{"cmdname":"Rewind"}})"); // the delegate's failure
    datagrams.push_back(R"({"payload":{"cmdname":"Rewind"}})");             // a request, but too short
    std::size_t in = 0, out = 0, replied = 0;
    for (const std::string& datagram : datagrams) {
        ASSERT_TRUE(peer.send(server->port(), datagram));
        ASSERT_TRUE(peer.send(server->port(), statusRequest));
        std::size_t bytes = 0;
        for (;;) {
            const auto reply = peer.receive();
            ASSERT_TRUE(reply) << datagram;
            if (Peer::isResult(*reply)) {
                break;
            }
            bytes += reply->size();
            ++replied;
        }
        EXPECT_LE(bytes, 3 * datagram.size()) << datagram;
        in += datagram.size();
        out += bytes;
    }
    EXPECT_LE(out, 3 * in);
    EXPECT_GE(replied, 4u) << "junk long enough still learns why it was refused";
    EXPECT_EQ(server->tooShortCount(), datagrams.size() - replied);
    const auto lines = log.lines();
    EXPECT_EQ(
        std::count(lines.begin(), lines.end(), "error replies to datagrams too short for them are withheld"),
        1);
}

INSTANTIATE_TEST_SUITE_P(Loopback, BonjourServerTest, ::testing::Values(AF_INET, AF_INET6),
                         [](const auto& info) { return info.param == AF_INET ? "IPv4" : "IPv6"; });

} // namespace

namespace {

TEST(BonjourServerWithoutDaemon, AnswersWhileTheDiscoveryWaits) {
    // No bus, so no daemon: publishing waits (and says so), the server answers all the same.
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/cuewright-test-bus", 1);
    testsupport::LogCapture log;
    auto server = cw::BonjourServer::make(platform::NetService::make());
    server->start("Alone", 0);
    EXPECT_EQ(
        Peer().ask(server->port(), R"({"protver":2,"payload":{"cmdname":"Rewind"}})")["payload"]["name"],
        "generr");
    EXPECT_FALSE(server->isPublished());
    ASSERT_FALSE(log.lines().empty());
    EXPECT_EQ(log.lines()[0].rfind("DNS-SD: cannot reach the Avahi daemon (", 0), 0u) << log.lines()[0];
    server->stop();
}

} // namespace

namespace {

using Budget = cw::ErrorReplyBudget;

sockets::Address hostAddress(const std::string& host, uint16_t port = 9) {
    return sockets::numericHostAddresses(host, port).ipv4;
}

// A budget on a clock that moves only when told to.
struct BudgetOnAClock {
    explicit BudgetOnAClock(cw::ErrorReplyLimits limits = {})
        : budget(limits, [this] { return now; }) {}
    Budget::Clock::time_point now = Budget::Clock::now();
    Budget budget;
};

TEST(ErrorReplyBudget, EachSourceDrawsItsBurstAndAMultipleOfWhatItSent) {
    cw::ErrorReplyLimits limits;
    limits.repliesPerSecond = 1e9; // only the sources' own budgets
    BudgetOnAClock b(limits);
    const std::size_t reply = 122;
    double out = 0;
    for (int i = 0; i < 10000; ++i) {
        // Another port of the same host shares its budget.
        if (b.budget.allowsReply(hostAddress("10.0.0.1", uint16_t(1000 + i % 7)), 1, reply)) {
            out += reply;
        }
    }
    EXPECT_LE(out, limits.burstBytes + limits.bytesPerByteReceived * 10000);
    EXPECT_GT(out, limits.burstBytes + limits.bytesPerByteReceived * 10000 - double(reply));
    EXPECT_TRUE(b.budget.allowsReply(hostAddress("10.0.0.2"), 1, reply)) << "another source has its own";
    EXPECT_FALSE(b.budget.allowsReply(hostAddress("10.0.0.1"), 1, reply));
    b.now += std::chrono::seconds(1);
    EXPECT_TRUE(b.budget.allowsReply(hostAddress("10.0.0.1"), 1, reply)) << "the burst grows back";
}

TEST(ErrorReplyBudget, AllSourcesTogetherDrawABoundedNumberPerSecond) {
    BudgetOnAClock b;
    const auto allowed = [&](int from) {
        int count = 0;
        for (int i = from; i < from + 1000; ++i) {
            count += b.budget.allowsReply(
                hostAddress("10.1." + std::to_string(i / 250) + "." + std::to_string(i % 250)), 1, 100);
        }
        return count;
    };
    EXPECT_EQ(allowed(0), int(b.budget.limits().repliesPerSecond));
    b.now += std::chrono::seconds(1);
    EXPECT_EQ(allowed(1000), int(b.budget.limits().repliesPerSecond));
}

TEST(ErrorReplyBudget, NewSourcesBeyondThoseRememberedWaitForQuietOnesToBeForgotten) {
    cw::ErrorReplyLimits limits;
    limits.maxSources = 2;
    BudgetOnAClock b(limits);
    EXPECT_TRUE(b.budget.allowsReply(hostAddress("10.0.0.1"), 1, 100));
    EXPECT_TRUE(b.budget.allowsReply(hostAddress("10.0.0.2"), 1, 100));
    EXPECT_FALSE(b.budget.allowsReply(hostAddress("10.0.0.3"), 1, 100));
    b.now += std::chrono::seconds(2); // both bursts have grown back
    EXPECT_TRUE(b.budget.allowsReply(hostAddress("10.0.0.3"), 1, 100));
}

} // namespace

// The UDP server on loopback with a real socket: every error reply, version rules, replies that
// must not be answered, and datagrams that must not stop it.
#include "cuewright/remote/BonjourServer.h"
#include "cuewright/remote/RemoteProtocol.h"
#include "platform/netservice/FakeNetService.h"

#include "remote/RemoteTestSupport.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace remotetest;
using cw::NetworkAnswer;
using cw::NetworkCommand;
using C = NetworkCommand::Command;
using K = NetworkCommand::Kind;

// Limits no test of the protocol reaches: only the budget's own tests meet the real ones.
cw::ReplyLimits unbounded() {
    cw::ReplyLimits limits;
    limits.requestBurst = limits.requestsPerSecond = limits.repliesPerSecond = 1e9;
    limits.burstBytes = 1e12;
    return limits;
}

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
    std::shared_ptr<cw::BonjourServer> server = cw::BonjourServer::make(net, {}, unbounded());
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

// A request whose reply would not fit in a datagram, and a request from a broadcast address
// (which the system refuses to send to): neither reply leaves, the server stays, and status is
// still answered. A socket that closes all the same is bound again on its port.
TEST_P(BonjourServerTest, NoDatagramSwitchesTheServerOff) {
    testsupport::LogCapture log;
    const uint16_t port = server->port();
    // Its refusal would be 97 bytes longer than itself: beyond what one datagram carries.
    const std::size_t size = GetParam() == AF_INET ? 65428 : 65508;
    const std::string head = R"({"payload":{"cmdname":")", tail = R"("}})";
    const std::string huge = head + std::string(size - head.size() - tail.size(), 'x') + tail;
    EXPECT_EQ(peer.ask(port, huge)["payload"],
              (json{{"name", "generr"}, {"reason", cw::BonjourServer::replyTooLargeReason}}));
    EXPECT_EQ(peer.ask(port, statusRequest)["paylodetype"], "result");

    // A forged source needs privileges: the datagram is handed over as if it came from there.
    const auto broadcast = sockets::numericHostAddresses("127.255.255.255", 9).ipv4;
    for (int i = 0; i < 2; ++i) {
        server->handle(sockets::Data(statusRequest.begin(), statusRequest.end()), broadcast);
    }
    ASSERT_TRUE(dispatch::runMainUntil([&] { return server->unsentCount() == 2; }, 5s));
    EXPECT_EQ(peer.ask(port, statusRequest)["paylodetype"], "result");

    server->socket()->close();
    ASSERT_TRUE(dispatch::runMainUntil([&] { return server->rebindCount() == 1; }, 5s));
    EXPECT_EQ(server->port(), port);
    EXPECT_EQ(peer.ask(port, statusRequest)["paylodetype"], "result");
    const auto lines = log.lines();
    const auto count = [&](const std::string& prefix) {
        return std::count_if(lines.begin(), lines.end(),
                             [&](const auto& l) { return l.starts_with(prefix); });
    };
    EXPECT_EQ(count("remote control: a reply could not be sent (Permission denied)"), 1);
    EXPECT_EQ(count("remote control: the socket closed; binding port " + std::to_string(port) + " again"), 1);
    EXPECT_EQ(count("remote control: listening on port " + std::to_string(port) + " again"), 1);
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

// A host with several addresses: a controller at 127.0.0.1 asks at 127.0.0.2 and 127.0.0.3, which
// the route back would not pick as the source. Each reply comes from the address asked, as the
// controller's guard against forged replies needs.
TEST(BonjourServerAddresses, EachReplyLeavesFromTheAddressItsRequestCameTo) {
    auto delegate = std::make_shared<AnswerDelegate>();
    delegate->answer = [](const NetworkCommand&) { return NetworkAnswer::ok(sampleReport()); };
    auto server = cw::BonjourServer::make(std::make_shared<platform::FakeNetService>());
    server->setDelegate(delegate);
    server->start("Addresses", 0);
    const Peer controller(AF_INET, "127.0.0.1");
    ASSERT_TRUE(controller.isOpen());
    for (const char* asked : {"127.0.0.2", "127.0.0.3", "127.0.0.1"}) {
        ASSERT_TRUE(controller.send(server->port(), statusRequest, asked));
        std::string from;
        const auto reply = controller.receive(&from);
        ASSERT_TRUE(reply && Peer::isResult(*reply)) << asked;
        EXPECT_EQ(from, asked);
    }
    server->stop();
}

// A name another copy holds is not announced while it holds it, and is announced as soon as that
// copy lets it go (the browse sees it removed).
TEST(BonjourServerName, ANameInUseIsAnnouncedOnceTheOtherCopyFreesIt) {
    auto net = std::make_shared<platform::FakeNetService>();
    auto delegate = std::make_shared<AnswerDelegate>();
    auto server = cw::BonjourServer::make(net);
    server->setDelegate(delegate);
    net->refuseName("Stage");
    server->start("Stage", 0);
    ASSERT_TRUE(dispatch::runMainUntil([&] { return !delegate->unpublished.empty(); }, 5s));
    EXPECT_EQ(delegate->unpublished.back(), cw::UnpublishedReason::nameInUse);
    ASSERT_TRUE(dispatch::runMainUntil([&] { return net->browseCount() == 1; }, 5s));
    const platform::NetServiceInstance holder{"Stage", "_cuewright._udp", "local", 1, 0};
    const platform::NetServiceInstance other{"Booth", "_cuewright._udp", "local", 1, 0};
    net->announce({holder, other});
    net->withdraw({other});
    dispatch::drainMainQueue();
    EXPECT_FALSE(server->isPublished());
    EXPECT_EQ(delegate->starts, 0);

    net->acceptName("Stage");
    net->withdraw({holder});
    ASSERT_TRUE(dispatch::runMainUntil([&] { return server->isPublished(); }, 5s));
    EXPECT_EQ(delegate->starts, 1);
    EXPECT_EQ(net->published(), (std::vector<platform::FakeNetService::Published>{
                                    {"Stage", "_cuewright._udp", "", server->port()}}));
    EXPECT_EQ(net->browseCount(), 0u) << "the watch ends once the name is announced";
    server->stop();
}

INSTANTIATE_TEST_SUITE_P(Loopback, BonjourServerTest, ::testing::Values(AF_INET, AF_INET6),
                         [](const auto& info) { return info.param == AF_INET ? "IPv4" : "IPv6"; });

// One host floods 2,000 minimal status requests within a second while a controller on another
// asks ten times in it, on a clock that moves only when told: the controller is always answered,
// the flood gets back fewer bytes than it sent, and most of it never reaches the main thread.
TEST(BonjourServerBudget, AFloodGetsBackLessThanItSentWhileAPollingControllerIsAnswered) {
    auto now = cw::ReplyBudget::Clock::now();
    auto delegate = std::make_shared<AnswerDelegate>();
    delegate->answer = [](const NetworkCommand&) { return NetworkAnswer::ok(sampleReport()); };
    auto server =
        cw::BonjourServer::make(std::make_shared<platform::FakeNetService>(), [&now] { return now; });
    server->setDelegate(delegate);
    server->start("Budget", 0);
    const uint16_t port = server->port();
    Peer flood(AF_INET, "127.0.0.2");
    Peer controller(AF_INET);
    ASSERT_TRUE(flood.isOpen());
    const std::string minimal = R"({"payload":{"cmdname":"ReportStatus"}})";
    std::size_t sent = 0, in = 0, out = 0, floodReplies = 0, answered = 0;
    const auto readFlood = [&] {
        while (const auto reply = flood.tryReceive()) {
            out += reply->size();
            ++floodReplies;
        }
    };
    // In steps the server's receive buffer holds whole.
    for (int step = 0; step < 40; ++step) {
        now += 25ms;
        for (int i = 0; i < 50; ++i) {
            ASSERT_TRUE(flood.send(port, minimal));
            in += minimal.size();
            ++sent;
        }
        if (step % 4 == 0) {
            ASSERT_TRUE(controller.send(port, statusRequest));
            ++sent;
        }
        ASSERT_TRUE(dispatch::runMainUntil([&] { return server->handledCount() == sent; }, 5s)) << step;
        if (step % 4 == 0) {
            const auto reply = controller.receive();
            ASSERT_TRUE(reply && Peer::isResult(*reply)) << step;
            ++answered;
        }
        readFlood();
    }
    ASSERT_TRUE(dispatch::runMainUntil(
        [&] { return readFlood(), floodReplies + answered == server->answeredCount(); }, 5s));
    EXPECT_EQ(answered, 10u);
    EXPECT_EQ(in, 76000u);
    EXPECT_GT(out, 0u) << "a new source is answered at first";
    EXPECT_LE(out, in);
    EXPECT_LT(delegate->commands.size(), sent / 4);
    server->stop();
}

// A command that waited two seconds for the main thread (this copy was busy, its sender gave up)
// is not carried out; a status request that waited as long is still answered.
TEST(BonjourServerBudget, CommandsThatWaitedTooLongAreNotCarriedOut) {
    const auto start = cw::ReplyBudget::Clock::now();
    const auto mainThread = std::this_thread::get_id();
    auto delegate = std::make_shared<AnswerDelegate>();
    delegate->answer = [](const NetworkCommand&) { return NetworkAnswer::ok(sampleReport()); };
    // Datagrams arrive on the socket's queue at `start`; the main thread's turn comes 2 s later.
    auto server = cw::BonjourServer::make(std::make_shared<platform::FakeNetService>(), [&] {
        return std::this_thread::get_id() == mainThread ? start + 2s : start;
    });
    server->setDelegate(delegate);
    server->start("Late", 0);
    Peer peer(AF_INET);
    ASSERT_TRUE(peer.send(server->port(), R"({"protver":2,"payload":{"cmdname":"StopPlayback"}})"));
    ASSERT_TRUE(peer.send(server->port(), statusRequest));
    ASSERT_TRUE(dispatch::runMainUntil([&] { return server->handledCount() == 2; }, 5s));
    std::optional<std::string> reply;
    while ((reply = peer.receive()) && !Peer::isResult(*reply)) {
    }
    EXPECT_TRUE(reply) << "the status is answered";
    ASSERT_EQ(delegate->commands.size(), 1u);
    EXPECT_EQ(delegate->commands[0].command.kind, cw::NetworkCommand::Kind::reportStatus);
    server->stop();
}

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

using Budget = cw::ReplyBudget;

sockets::Address hostAddress(const std::string& host, uint16_t port = 9) {
    return sockets::numericHostAddresses(host, port).ipv4;
}

// A budget on a clock that moves only when told to.
struct BudgetOnAClock {
    explicit BudgetOnAClock(cw::ReplyLimits limits = {})
        : budget(limits, [this] { return now; }) {}
    Budget::Clock::time_point now = Budget::Clock::now();
    Budget budget;
    // Datagrams of `received` bytes from `host` with replies of `reply` bytes: the bytes sent.
    double replies(const std::string& host, int count, std::size_t received, std::size_t reply) {
        double out = 0;
        for (int i = 0; i < count; ++i) {
            // Another port of the same host shares its budget.
            const auto from = hostAddress(host, uint16_t(1000 + i % 7));
            if (budget.admits(from, received) && budget.allowsReply(from, reply)) {
                out += double(reply);
            }
        }
        return out;
    }
};

// Each source: a burst of datagrams and of bytes, then what time and its own bytes earn.
TEST(ReplyBudget, EachSourceDrawsItsBurstThenWhatTimeAndItsBytesEarn) {
    cw::ReplyLimits limits;
    BudgetOnAClock b(limits);
    EXPECT_EQ(b.replies("10.0.0.1", 1000, 38, 300), limits.requestBurst * 300) << "requests bind";
    EXPECT_EQ(b.replies("10.0.0.2", 1, 38, 300), 300) << "another source has its own";
    b.now += std::chrono::seconds(1);
    EXPECT_EQ(b.replies("10.0.0.1", 1000, 38, 300), limits.requestsPerSecond * 300) << "time refills";

    limits.requestBurst = limits.requestsPerSecond = limits.repliesPerSecond = 1e9; // only the bytes now
    BudgetOnAClock bytes(limits);
    const double out = bytes.replies("10.0.0.1", 10000, 100, 1000);
    const double earned = limits.burstBytes + limits.bytesPerByteReceived * 100 * 10000;
    EXPECT_LE(out, earned);
    EXPECT_GT(out, earned - 1000 - limits.expectedReplyBytes);
    EXPECT_EQ(bytes.replies("10.0.0.1", 1, 100, 1000), 0);
    bytes.now += std::chrono::seconds(1);
    EXPECT_EQ(bytes.replies("10.0.0.1", 1, 100, 1000), 1000) << "the burst grows back";
}

TEST(ReplyBudget, AllSourcesTogetherDrawABoundedNumberPerSecond) {
    BudgetOnAClock b;
    const auto allowed = [&](int from) {
        int count = 0;
        for (int i = from; i < from + 1000; ++i) {
            count +=
                b.replies("10.1." + std::to_string(i / 250) + "." + std::to_string(i % 250), 1, 1, 100) > 0;
        }
        return count;
    };
    EXPECT_EQ(allowed(0), int(b.budget.limits().repliesPerSecond));
    b.now += std::chrono::seconds(1);
    EXPECT_EQ(allowed(1000), int(b.budget.limits().repliesPerSecond));
}

// A controller polling ten times a second for five seconds among loud sources (each asking 200 a
// second) and a stream of new addresses: its polls of the last three seconds are all answered,
// though it asks after the others in every tenth of a second.
TEST(ReplyBudget, ASourceAskingLessThanItsShareIsAnsweredWhateverOthersAsk) {
    struct Case {
        const char* name;
        int loudSources;
        int newAddressesPerTick;
    };
    for (const Case& c : {Case{"twelve loud sources", 12, 0}, Case{"forty loud sources", 40, 0},
                          Case{"new addresses", 0, 600}, Case{"both", 12, 300}}) {
        BudgetOnAClock b;
        int answered = 0, stranger = 0;
        for (int tick = 0; tick < 50; ++tick) {
            b.now += 100ms;
            for (int loud = 0; loud < c.loudSources; ++loud) {
                b.replies("10.2.0." + std::to_string(loud), 20, 38, 300);
            }
            for (int i = 0; i < c.newAddressesPerTick; ++i, ++stranger) {
                b.replies("10.3." + std::to_string(stranger / 250) + "." + std::to_string(stranger % 250), 1,
                          38, 300);
            }
            answered += b.replies("10.0.0.1", 1, 110, 800) > 0 && tick >= 20;
        }
        EXPECT_EQ(answered, 30) << c.name;
    }
}

// What the header promises, with the bytes real messages have: a controller polling ten times a
// second while its slider is dragged at 40 steps a second, against a script at a 470-byte path,
// for a minute, is answered every time.
TEST(ReplyBudget, TheDefaultsServeABusyControllerWithALongPath) {
    auto report = sampleReport();
    report.filename = "/" + std::string(460, 'p') + "/Talk.cwr";
    const std::size_t reply = cw::remoteReply(NetworkAnswer::ok(report)).size();
    const std::size_t poll =
        cw::remoteRequest(NetworkCommand::Command::of(cw::NetworkCommand::Kind::reportStatus)).size();
    const std::size_t step = cw::remoteRequest(NetworkCommand::Command::setScrollSpeed(55)).size();
    EXPECT_GT(reply, 750u);
    BudgetOnAClock b;
    int answered = 0;
    for (int tick = 0; tick < 600; ++tick) {
        b.now += 25ms;
        answered += b.replies("10.0.0.1", 1, step, reply) > 0;
        if (tick % 4 == 0) {
            answered += b.replies("10.0.0.1", 1, poll, reply) > 0;
        }
    }
    EXPECT_EQ(answered, 750);
}

// A forged source asking slowly (well within the datagrams each source may have handled) for
// replies of 4,000 bytes, for a minute: its victim gets no more than the burst, the refill and
// what the requests earn, far less than it asked for.
TEST(ReplyBudget, ASlowForgedSourceGetsBoundedBytes) {
    BudgetOnAClock b;
    const cw::ReplyLimits& limits = b.budget.limits();
    double out = 0;
    for (int tick = 0; tick < 600; ++tick) {
        b.now += 100ms;
        out += b.replies("10.0.0.9", 2, 38, 4000);
    }
    EXPECT_LE(out,
              limits.burstBytes + 60 * limits.refillBytesPerSecond + limits.bytesPerByteReceived * 38 * 1200);
    EXPECT_LT(out, 0.7 * 4000 * 1200);
}

TEST(ReplyBudget, NewSourcesBeyondThoseRememberedWaitForQuietOnesToBeForgotten) {
    cw::ReplyLimits limits;
    limits.maxSources = 2;
    BudgetOnAClock b(limits);
    EXPECT_EQ(b.replies("10.0.0.1", 1, 1, 100), 100);
    EXPECT_EQ(b.replies("10.0.0.2", 1, 1, 100), 100);
    EXPECT_EQ(b.replies("10.0.0.3", 1, 1, 100), 0);
    b.now += std::chrono::seconds(2); // both bursts have grown back
    EXPECT_EQ(b.replies("10.0.0.3", 1, 1, 100), 100);
}

} // namespace

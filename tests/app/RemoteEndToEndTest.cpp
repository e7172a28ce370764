// The network remote control of the real application over real UDP on loopback: datagrams that
// once switched it off for the rest of the session, and a flood beside a controller.
#include "EndToEndSupport.h"

#include <netinet/ip.h>
#include <netinet/udp.h>
#include <poll.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>

namespace fs = std::filesystem;
using namespace endtoend;

namespace {

// A request naming an unknown command, `size` bytes long: its refusal quotes the name.
std::string unknownCommand(std::size_t size) {
    const std::string head = R"({"payload":{"cmdname":")", tail = R"("}})";
    return head + std::string(size - head.size() - tail.size(), 'x') + tail;
}

// Sends `payload` to 127.0.0.1:`port` as if from 127.255.255.255 (the loopback network's
// broadcast address), through a raw socket; false without the privilege for one.
bool sendFromBroadcastAddress(std::uint16_t port, const std::string& payload) {
    const int fd = ::socket(AF_INET, SOCK_RAW, IPPROTO_RAW);
    if (fd < 0) {
        return false;
    }
    std::string packet(sizeof(iphdr) + sizeof(udphdr) + payload.size(), '\0');
    auto* ip = reinterpret_cast<iphdr*>(packet.data());
    ip->version = 4;
    ip->ihl = 5;
    ip->tot_len = htons(std::uint16_t(packet.size()));
    ip->ttl = 64;
    ip->protocol = IPPROTO_UDP;
    ::inet_pton(AF_INET, "127.255.255.255", &ip->saddr);
    ::inet_pton(AF_INET, "127.0.0.1", &ip->daddr);
    auto* udp = reinterpret_cast<udphdr*>(packet.data() + sizeof(iphdr));
    udp->source = htons(40000);
    udp->dest = htons(port);
    udp->len = htons(std::uint16_t(sizeof(udphdr) + payload.size())); // checksum 0: none
    std::memcpy(packet.data() + sizeof(iphdr) + sizeof(udphdr), payload.data(), payload.size());
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = ip->daddr;
    const bool sent = ::sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to),
                               sizeof to) == ssize_t(packet.size());
    ::close(fd);
    return sent;
}

const std::string minimalStatusRequest = R"({"payload":{"cmdname":"ReportStatus"}})";

class RemoteEndToEnd : public AppTest {
protected:
    RemoteEndToEnd()
        : AppTest(/*usesXdotool=*/false) {}

    // The script opened, under the work folder, and its text.
    virtual std::string scriptName() const { return "remote.cwr"; }
    virtual QString scriptText() const { return QStringLiteral("A line to read aloud."); }

    void SetUp() override {
        AppTest::SetUp();
        if (!setUpDone()) {
            return;
        }
        enableRemote();
        fs::create_directories((work / scriptName()).parent_path());
        app = &start({pathArg(makeScript(scriptName(), scriptText()))});
        const std::optional<std::uint16_t> answering = waitForRemote(*app);
        ASSERT_TRUE(answering) << "the remote control never answered";
        port = *answering;
    }

    QProcess* app = nullptr;
    std::uint16_t port = 0;
};

// Refusals too large for a datagram over IPv4 and IPv6, and a reply to a broadcast address: after
// each, the application's remote control still answers.
TEST_F(RemoteEndToEnd, NoDatagramSwitchesTheRemoteControlOff) {
    const Loopback v4(AF_INET);
    ASSERT_TRUE(v4.send(port, unknownCommand(65428)));
    EXPECT_TRUE(v4.statusAnswered(port)) << "after 65,428 bytes over IPv4";

    const Loopback v6(AF_INET6);
    if (v6.isOpen()) {
        ASSERT_TRUE(v6.send(port, unknownCommand(65508)));
        EXPECT_TRUE(v6.statusAnswered(port)) << "after 65,508 bytes over IPv6";
        EXPECT_TRUE(v4.statusAnswered(port));
    } else {
        std::cout << "no IPv6 loopback here: the IPv6 datagram is left out\n";
    }

    if (sendFromBroadcastAddress(port, minimalStatusRequest)) {
        EXPECT_TRUE(v4.statusAnswered(port)) << "after a reply to 127.255.255.255";
    } else {
        std::cout << "no raw sockets here (" << std::strerror(errno)
                  << "): the broadcast-sourced request is left out\n";
    }
    EXPECT_EQ(app->state(), QProcess::Running);
}

// Whether the IPv4 socket on `port` has nothing waiting to be read (the system's receive queue).
bool receiveQueueEmpty(std::uint16_t port) {
    const std::vector<UdpSocket> sockets = udpSockets();
    const auto it =
        std::find_if(sockets.begin(), sockets.end(), [&](const auto& s) { return s.port == port; });
    return it != sockets.end() && it->queued == 0;
}

// 2,000 minimal status requests from 127.0.0.2 in rounds of 50, and after every fourth round a
// status request from 127.0.0.1, ten in all: each of those is answered, and the flood gets back
// at most the bytes it sent. The controller asks once the application has read all that came
// before (so the system cannot have dropped its request for want of room); replies go out in the
// order their requests came, so once its reply is here, the flood's replies before it are too.
TEST_F(RemoteEndToEnd, AFloodGetsBackLessThanItSentWhileAControllerIsAnswered) {
    const Loopback flood(AF_INET, "127.0.0.2");
    const Loopback controller(AF_INET);
    ASSERT_TRUE(flood.isOpen());
    std::size_t in = 0, out = 0, answered = 0;
    for (int round = 1; round <= 40; ++round) {
        for (int i = 0; i < 50; ++i) {
            ASSERT_TRUE(flood.send(port, minimalStatusRequest));
            in += minimalStatusRequest.size();
        }
        if (round % 4 == 0) {
            ASSERT_TRUE(waitFor(*app, [&] { return receiveQueueEmpty(port); }));
            answered += controller.statusAnswered(port);
        }
        for (std::string reply = flood.receive(0); !reply.empty(); reply = flood.receive(0)) {
            out += reply.size();
        }
    }
    EXPECT_EQ(answered, 10u);
    EXPECT_EQ(in, 76000u);
    EXPECT_LE(out, in);
}

// Sends status requests from each of `sources` every few milliseconds until destroyed, reading
// the replies; says when each has been answered at least once.
class Flood {
public:
    explicit Flood(std::uint16_t port, int sources) {
        for (int i = 0; i < sources; ++i) {
            sockets_.push_back(
                std::make_unique<Loopback>(AF_INET, ("127.0.0." + std::to_string(10 + i)).c_str()));
            answered_.push_back(std::make_unique<std::atomic<bool>>(false));
        }
        thread_ = std::thread([this, port] {
            while (!stop_) {
                for (std::size_t i = 0; i < sockets_.size(); ++i) {
                    sockets_[i]->send(port, minimalStatusRequest);
                    while (!sockets_[i]->receive(0).empty()) {
                        *answered_[i] = true;
                    }
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1)); // near 1,000 a second from each
            }
        });
    }
    ~Flood() {
        stop_ = true;
        thread_.join();
    }
    bool isOpen() const {
        return std::all_of(sockets_.begin(), sockets_.end(),
                           [](const auto& socket) { return socket->isOpen(); });
    }
    bool eachAnswered() const {
        return std::all_of(answered_.begin(), answered_.end(),
                           [](const auto& answered) { return answered->load(); });
    }

private:
    std::vector<std::unique_ptr<Loopback>> sockets_;
    std::vector<std::unique_ptr<std::atomic<bool>>> answered_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Status replies that came to `socket` within `milliseconds` of the last one.
int results(const Loopback& socket, int milliseconds) {
    int count = 0;
    for (std::string reply = socket.receive(milliseconds); !reply.empty();
         reply = socket.receive(milliseconds)) {
        count += reply.find("\"result\"") != std::string::npos;
    }
    return count;
}

// Twelve addresses flood status requests (near 1,000 a second each, far beyond their share of what all
// sources together are answered); a controller that polls ten times a second meanwhile is
// answered nearly always.
TEST_F(RemoteEndToEnd, TwelveFloodingSourcesLeaveAPollingControllerItsShare) {
    Flood flood(port, 12);
    ASSERT_TRUE(flood.isOpen());
    ASSERT_TRUE(waitFor(*app, [&] { return flood.eachAnswered(); }));
    const Loopback controller(AF_INET);
    int answered = 0;
    for (int poll = 0; poll < 30; ++poll) {
        ASSERT_TRUE(controller.send(port, minimalStatusRequest));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        answered += results(controller, 0);
    }
    answered += results(controller, 2000);
    std::cout << "answered " << answered << " of 30\n";
    EXPECT_GE(answered, 27);
}

// The script's path is 470 bytes long, so each status reply is near 800.
class RemoteLongPathEndToEnd : public RemoteEndToEnd {
protected:
    std::string scriptName() const override {
        // Folders of up to 200 bytes: the work folder's own path varies.
        std::size_t left = 470 - (work / "remote.cwr").string().size();
        std::string name;
        for (char mark = 'a'; left > 0; ++mark) {
            const std::size_t folder = std::min<std::size_t>(left, 200);
            name += std::string(folder - 1, mark) + "/";
            left -= folder;
        }
        return name + "remote.cwr";
    }
};

// A controller polls ten times a second while its slider is dragged at 40 steps a second (from
// another port of its address), for six seconds: 95 % of its polls or more are answered.
TEST_F(RemoteLongPathEndToEnd, ABusyControllerIsAnsweredThoughItsRepliesAreLong) {
    ASSERT_EQ((work / scriptName()).string().size(), 470u);
    const Loopback poller(AF_INET), slider(AF_INET);
    int answered = 0;
    for (int tick = 0; tick < 240; ++tick) {
        const int speed = 3 + tick % 97;
        ASSERT_TRUE(
            slider.send(port, R"({"protver":2,"payload":{"cmdname":"SetScrollSpeed","cmdparams":{"speed":)" +
                                  std::to_string(speed) + "}}}"));
        if (tick % 4 == 0) {
            ASSERT_TRUE(poller.send(port, minimalStatusRequest));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        answered += results(poller, 0);
        results(slider, 0);
    }
    answered += results(poller, 2000);
    std::cout << "answered " << answered << " of 60 polls\n";
    EXPECT_GE(answered, 57);
}

// A script that plays for minutes.
class RemotePlayingEndToEnd : public RemoteEndToEnd {
protected:
    QString scriptText() const override { return QStringLiteral("A line to read aloud.\n").repeated(300); }
};

// The transport state in the status of the copy on `port`, asked from a socket of its own: the
// copy handles datagrams in the order they came, so the status follows what was sent before.
std::string transportState(std::uint16_t port) {
    const Loopback asker(AF_INET);
    if (!asker.send(port, minimalStatusRequest)) {
        return {};
    }
    const std::string reply = asker.receive(10000);
    if (reply.find("\"result\"") == std::string::npos) {
        return {};
    }
    return reply.find(R"("transportState": "playing")") != std::string::npos ? "playing" : "stopped";
}

// A Stop sent while the copy is stopped (frozen, as a hung machine is) waits in the system's
// queue; when the copy goes on two seconds later it is not carried out, and the script plays on.
TEST_F(RemotePlayingEndToEnd, ACommandThatWaitedWhileTheCopyWasFrozenIsNotCarriedOut) {
    const Loopback controller(AF_INET);
    ASSERT_TRUE(controller.send(port, R"({"protver":2,"payload":{"cmdname":"StartPlayback"}})"));
    ASSERT_EQ(transportState(port), "playing");
    ASSERT_EQ(::kill(pid_t(app->processId()), SIGSTOP), 0);
    ASSERT_TRUE(controller.send(port, R"({"protver":2,"payload":{"cmdname":"StopPlayback"}})"));
    std::this_thread::sleep_for(std::chrono::seconds(2)); // frozen meanwhile
    ASSERT_EQ(::kill(pid_t(app->processId()), SIGCONT), 0);
    EXPECT_EQ(transportState(port), "playing");
    ASSERT_TRUE(controller.send(port, R"({"protver":2,"payload":{"cmdname":"StopPlayback"}})"));
    EXPECT_EQ(transportState(port), "stopped") << "a timely one is";
}

// The Remote control pane of a copy whose remote control answers but which no controller can
// find: its name is longer than the network carries (64 bytes, 62 characters), or no discovery
// service runs (the test gives it no system bus). The pane is reached with the keyboard under
// openbox; its pictures go to test-output/settings/.
class RemotePaneEndToEnd : public AppTest {};

TEST_F(RemotePaneEndToEnd, ThePaneSaysWhyNoControllerFindsThisCopy) {
    const struct {
        std::string name, logged, shot;
    } cases[] = {
        {"Probebühne, linker Flügel: der Prompter-Rechner bei Kabine 12a",
         "is 64 bytes long, more than the 63 a name on the network holds; it is not announced",
         "remote-pane-name-too-long.png"},
        {"Stage", "DNS-SD: cannot reach the Avahi daemon", "remote-pane-no-discovery.png"},
    };
    const fs::path script = makeScript("pane.cwr", QStringLiteral("A line."));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shot);
        enableRemote();
        setDefault(cw::settings::bonjourName, c.name);
        QProcess& app =
            start({pathArg(script)}, {}, QStringLiteral(CW_APP_BINARY), {}, QProcess::MergedChannels);
        QByteArray said;
        const auto logged = [&] { return (said += app.readAll()).contains(c.logged.c_str()); };
        const std::optional<Window> editor = waitForNamed(app, "pane.cwr");
        ASSERT_TRUE(editor && activate(*editor)) << "no editor window";
        EXPECT_TRUE(waitForRemote(app)) << "the remote control does not answer";
        EXPECT_TRUE(waitFor(app, logged)) << said.toStdString();
        ASSERT_TRUE(xdotool({"key", "ctrl+comma"}));
        const std::optional<Window> settings = waitForNamed(app, "General");
        ASSERT_TRUE(settings && activate(*settings)) << "Ctrl+, opened no settings window";
        ASSERT_TRUE(xdotool({"key", "ctrl+Next", "ctrl+Next"}));
        ASSERT_TRUE(waitForNamed(app, "Remote control")) << "no Remote control pane";
        app.waitForFinished(500); // let it paint: the picture is for people, not for the test
        screenshot(c.shot, "settings");
        app.kill();
        app.waitForFinished();
    }
}

// Asks the copy at `host`:`port` for its status from a socket of its own; the reply and the
// address it came from, or empty ones after `milliseconds`.
std::pair<std::string, std::string> askStatusAt(const std::string& host, std::uint16_t port,
                                                int milliseconds) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, host.c_str(), &to.sin_addr);
    const std::string request = remoteRequest("ReportStatus");
    std::pair<std::string, std::string> got;
    if (::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) > 0) {
        pollfd waiting{fd, POLLIN, 0};
        std::string reply(65536, '\0');
        sockaddr_in from{};
        socklen_t length = sizeof from;
        if (::poll(&waiting, 1, milliseconds) == 1) {
            const ssize_t size =
                ::recvfrom(fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
            char text[INET_ADDRSTRLEN] = {};
            if (size > 0 && ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text)) {
                reply.resize(std::size_t(size));
                got = {reply, text};
            }
        }
    }
    ::close(fd);
    return got;
}

// Two hosts in network namespaces of their own (two-hosts.sh). The served copy's host has two
// interfaces on one network: it is announced at one address, and the route back to the
// controller leaves from the other. From the Remote Control window of a copy on the controlling
// host, reached through the menu, the served copy is selected and its Play clicked with the mouse:
// the window takes its replies, so Play is on and starts the script there.
class RemoteTwoHostsEndToEnd : public AppTest {};

TEST_F(RemoteTwoHostsEndToEnd, ACopyWhoseHostHasTwoAddressesIsDriven) {
    const char* netns = std::getenv("CW_SERVER_NETNS");
    if (netns == nullptr) {
        GTEST_SKIP() << "runs only as the controlling host of two-hosts.sh";
    }
    const std::string served = std::getenv("CW_SERVER_ADDRESS"), other = std::getenv("CW_OTHER_ADDRESS");
    constexpr std::uint16_t port = 19824; // the served host is a namespace of this test's alone

    const fs::path serverWork = work / "served";
    QProcessEnvironment serverEnvironment = privateEnvironment(serverWork);
    serverEnvironment.insert("DBUS_SYSTEM_BUS_ADDRESS", std::getenv("CW_SERVER_BUS"));
    {
        platform::Defaults defaults({serverWork / "defaults.json", std::chrono::hours(1), {}});
        defaults.set(cw::settings::isBonjourEnabled, true);
        defaults.set(cw::settings::bonjourKey, port);
        defaults.set(cw::settings::bonjourName, std::string("Stage"));
        ASSERT_TRUE(defaults.synchronize());
    }
    const fs::path script = makeScript("served.cwr", QStringLiteral("A line to read aloud.\n").repeated(300));
    QProcess& server = start({"netns", "exec", netns, CW_APP_BINARY, pathArg(script)}, serverEnvironment,
                             QStringLiteral("ip"));
    std::pair<std::string, std::string> reply;
    ASSERT_TRUE(waitFor(server, [&] { return !(reply = askStatusAt(served, port, 500)).first.empty(); }))
        << "the served copy never answered at " << served;
    EXPECT_EQ(reply.second, served) << "the reply leaves from the address asked, not " << other;

    environment.insert("DBUS_SYSTEM_BUS_ADDRESS", std::getenv("DBUS_SYSTEM_BUS_ADDRESS"));
    QProcess* controller = nullptr;
    const std::optional<Window> editor =
        startEditing(makeScript("controller.cwr", QStringLiteral("A line.")), controller);
    ASSERT_TRUE(editor);
    ASSERT_TRUE(
        pressKeysThroughMenu(*controller, display, {"alt+c", "Down", "Down", "Down", "Down", "Return"}));
    const std::optional<Window> remote = waitForNamed(*controller, "Remote Control");
    ASSERT_TRUE(remote) << "the menu opened no Remote Control window";
    const auto playing = [&] {
        return askStatusAt(served, port, 500).first.find(R"("transportState": "playing")") !=
               std::string::npos;
    };
    ASSERT_FALSE(playing());
    // The first row (once the served copy is found), then Play beside Rewind at the foot, until
    // the window has taken a status and turned Play on: clicks on a control that is off do nothing.
    // (Each round waits for the served copy's answer: 200 rounds are a minute or more.)
    const auto click = [&](int x, int y) {
        xdotool({"mousemove", QString::number(x), QString::number(y), "click", "1"});
    };
    bool started = false;
    for (int attempt = 0; attempt < 200 && !started && controller->state() == QProcess::Running; ++attempt) {
        const QRect box = rootGeometry(display, *remote);
        click(box.left() + 60, box.top() + 48);
        click(box.left() + 137, box.bottom() - 24);
        started = playing();
    }
    activate(*remote); // over the prompter that playing brought forward
    screenshot("remote-two-addresses.png", "remote");
    EXPECT_TRUE(started) << "the window never drove the copy at " << served;
}

} // namespace

CW_END_TO_END_MAIN()

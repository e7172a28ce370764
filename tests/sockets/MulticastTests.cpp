// Multicast join and leave, inside a network namespace of the test's own (loopback only).
#include "sockets/AsyncUdpSocket.h"
#include "sockets/UdpTestSupport.h"

#include "dispatch/Queue.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

using sockets::AsyncUdpSocket;
using sockets::SocketError;
using udptest::bytes;
using udptest::RecordingDelegate;
using udptest::text;
using Kind = RecordingDelegate::Kind;

namespace {

const char* const kInsideVariable = "CW_SOCKETS_IN_NETNS";
const char* const kGroup = "239.255.42.1";

int run(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Deletes the namespace however the test ends.
struct Namespace {
    std::string name;
    ~Namespace() { run("ip netns del " + name + " >/dev/null 2>&1"); }
};

// The part that runs inside the namespace, where loopback is the only interface.
void joinReceiveLeave() {
    auto delegate = std::make_shared<RecordingDelegate>();
    auto server = AsyncUdpSocket::make(delegate, dispatch::Queue::makeSerial("test.mc.server"));
    SocketError error;
    ASSERT_TRUE(server->bindToPort(0, &error)) << error.message;
    const uint16_t port = server->localPortIPv4();
    ASSERT_TRUE(server->joinMulticastGroup(kGroup, "lo", &error)) << error.message;
    EXPECT_FALSE(server->isIPv6()) << "a join leaves one family";
    ASSERT_TRUE(server->beginReceiving(&error)) << error.message;

    auto clientDelegate = std::make_shared<RecordingDelegate>();
    auto client = AsyncUdpSocket::make(clientDelegate, dispatch::Queue::makeSerial("test.mc.client"));
    ASSERT_TRUE(client->sendIPv4MulticastOnInterface("127.0.0.1", &error)) << error.message;
    client->sendData(bytes("to the group"), kGroup, port, 1.0, 1);
    ASSERT_TRUE(delegate->waitFor(Kind::received));
    EXPECT_EQ(text(delegate->events(Kind::received)[0].data), "to the group");

    ASSERT_TRUE(server->leaveMulticastGroup(kGroup, "127.0.0.1", &error)) << error.message;
    client->sendData(bytes("after leaving"), kGroup, port, 1.0, 2);
    client->sendData(bytes("marker"), "127.0.0.1", port, 1.0, 3);
    ASSERT_TRUE(delegate->waitFor(Kind::received, 2));
    EXPECT_EQ(text(delegate->events(Kind::received)[1].data), "marker")
        << "nothing from the group after leaving";
    ASSERT_TRUE(clientDelegate->waitFor(Kind::sent, 3));
    EXPECT_EQ(clientDelegate->count(Kind::notSent), 0u);
}

} // namespace

TEST(Multicast, JoinReceiveLeaveInOwnNamespace) {
    if (std::getenv(kInsideVariable) != nullptr) {
        joinReceiveLeave();
        return;
    }
    if (geteuid() != 0 || run("command -v ip >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "network namespaces need root and iproute2 (ip); multicast not tested";
    }
    Namespace ns{"cw_udp_mc_" + std::to_string(getpid())};
    if (run("ip netns add " + ns.name + " 2>/dev/null") != 0) {
        GTEST_SKIP() << "cannot create a network namespace here; multicast not tested";
    }
    ASSERT_EQ(run("ip netns exec " + ns.name + " ip link set lo up"), 0);
    ASSERT_EQ(run("ip netns exec " + ns.name + " ip link set lo multicast on"), 0);
    char exe[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    // This very test again, inside the namespace.
    const std::string command = std::string(kInsideVariable) + "=1 ip netns exec " + ns.name + " " + exe +
                                " --gtest_filter=Multicast.JoinReceiveLeaveInOwnNamespace";
    EXPECT_EQ(run(command), 0) << "the run inside the namespace failed (its output is above)";
}

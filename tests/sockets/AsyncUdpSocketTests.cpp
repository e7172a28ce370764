// The datagram socket on loopback: refusals, lifecycle, receiving, sending, connect and filters.
#include "sockets/AsyncUdpSocket.h"
#include "sockets/UdpTestSupport.h"

#include "dispatch/Queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <semaphore>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>

using namespace std::chrono_literals;
using sockets::AsyncUdpSocket;
using sockets::SocketError;
using udptest::bytes;
using udptest::RawUdp;
using udptest::RecordingDelegate;
using udptest::text;
using Kind = RecordingDelegate::Kind;

namespace {

const char* const kDomain = "AsyncUdpSocketErrorDomain";

struct Fixture : ::testing::Test {
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    dispatch::QueuePtr delegateQueue = dispatch::Queue::makeSerial("test.udp.delegate");
    std::shared_ptr<AsyncUdpSocket> sock = AsyncUdpSocket::make(delegate, delegateQueue);

    // Every callback the socket has produced so far has reached the delegate.
    void settle() {
        sock->performBlock([] {});
        delegateQueue->sync([] {});
    }
};

using Refusals = Fixture;
using Lifecycle = Fixture;
using Receiving = Fixture;
using Sending = Fixture;
using Connecting = Fixture;
using Filters = Fixture;

} // namespace

// ---------------------------------------------------------------------------------------------

TEST_F(Refusals, NoDelegateOrNoDelegateQueue) {
    auto bare = AsyncUdpSocket::make();
    SocketError error;
    EXPECT_FALSE(bare->bindToPort(0, &error));
    EXPECT_EQ(
        error,
        (SocketError{kDomain, 1, "Attempting to use socket without a delegate. Set a delegate first.", {}}));

    auto noQueue = AsyncUdpSocket::make(delegate);
    EXPECT_FALSE(noQueue->bindToPort(0, &error));
    EXPECT_EQ(error.code, 1);
    EXPECT_EQ(error.message,
              "Attempting to use socket without a delegate queue. Set a delegate queue first.");
    EXPECT_TRUE(noQueue->isClosed()) << "a failed check leaves the socket as it was";
}

TEST_F(Refusals, BindTwiceThenAgainAfterClose) {
    SocketError error;
    ASSERT_TRUE(sock->bindToPort(0, &error)) << error.message;
    EXPECT_FALSE(sock->bindToPort(0, &error));
    EXPECT_EQ(error.domain, kDomain);
    EXPECT_EQ(error.code, 1);
    EXPECT_EQ(error.message, "Cannot bind a socket more than once.");
    sock->close();
    EXPECT_TRUE(sock->bindToPort(0, &error)) << error.message;
}

TEST_F(Refusals, SecondSocketOnTheSamePortIsRefused) {
    ASSERT_TRUE(sock->bindToPort(0, "loopback"));
    const uint16_t port = sock->localPort();
    auto other = AsyncUdpSocket::make(delegate, delegateQueue);
    SocketError error;
    EXPECT_FALSE(other->bindToPort(port, "loopback", &error)) << "no silent sharing of a unicast port";
    EXPECT_EQ(error.domain, sockets::kPosixErrorDomain);
    EXPECT_EQ(error.code, EADDRINUSE);
    EXPECT_EQ(error.failureReason, "Error in bind() function");
    EXPECT_TRUE(other->isClosed()) << "a failed bind closes what it created";
}

TEST_F(Lifecycle, ClosedPortCanBeBoundAgainAtOnce) {
    ASSERT_TRUE(sock->bindToPort(0, "loopback"));
    const uint16_t port = sock->localPortIPv4();
    sock->close();
    SocketError error;
    EXPECT_TRUE(sock->bindToPort(port, "127.0.0.1", &error)) << error.message;
}

TEST_F(Refusals, UnknownInterface) {
    SocketError error;
    EXPECT_FALSE(sock->bindToPort(0, "no-such-interface0", &error));
    EXPECT_EQ(error.code, 2);
    EXPECT_EQ(error.message,
              "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.");
}

TEST_F(Refusals, ReceiveBeforeBind) {
    SocketError error;
    EXPECT_FALSE(sock->beginReceiving(&error));
    EXPECT_EQ(error.code, 1);
    EXPECT_EQ(error.message,
              "Must bind socket before you can receive data. You can do this explicitly via bind, or "
              "implicitly via connect or by sending data.");
    EXPECT_FALSE(sock->receiveOnce(&error));
    ASSERT_TRUE(sock->bindToPort(0));
    EXPECT_TRUE(sock->beginReceiving(&error));
    EXPECT_TRUE(sock->beginReceiving(&error)) << "a second call is harmless";
}

TEST_F(Refusals, NoDestinationOnUnconnectedSocket) {
    ASSERT_TRUE(sock->bindToPort(0, "loopback"));
    sock->sendData(bytes("x"), -1.0, 11);
    ASSERT_TRUE(delegate->waitFor(Kind::notSent));
    const auto e = delegate->events(Kind::notSent).front();
    EXPECT_EQ(e.tag, 11);
    EXPECT_EQ(e.error->code, 1);
    EXPECT_EQ(e.error->message, "You must specify destination of packet for a non-connected socket");
}

TEST_F(Refusals, ConnectTwice) {
    RawUdp peer;
    ASSERT_TRUE(sock->connectToAddress(peer.address()));
    SocketError error;
    EXPECT_FALSE(sock->connectToAddress(peer.address(), &error));
    EXPECT_EQ(error.code, 1);
    EXPECT_EQ(error.message, "Cannot connect a socket more than once.");
    EXPECT_FALSE(sock->bindToPort(0, &error)) << "no bind after a connect request";
    EXPECT_EQ(error.code, 1);
}

TEST_F(Refusals, DestinationOnConnectedSocket) {
    RawUdp peer;
    ASSERT_TRUE(sock->connectToAddress(peer.address()));
    ASSERT_TRUE(delegate->waitFor(Kind::connected));
    sock->sendData(bytes("x"), "localhost", peer.port(), -1.0, 5);
    ASSERT_TRUE(delegate->waitFor(Kind::notSent));
    const auto e = delegate->events(Kind::notSent).front();
    EXPECT_EQ(e.tag, 5);
    EXPECT_EQ(e.error->code, 1);
    EXPECT_EQ(e.error->message, "Cannot specify destination of packet for connected socket");
}

TEST_F(Refusals, MulticastBeforeBindAndBadGroup) {
    SocketError error;
    EXPECT_FALSE(sock->joinMulticastGroup("239.255.0.1", &error));
    EXPECT_EQ(error.code, 1);
    EXPECT_EQ(error.message, "Must bind a socket before joining a multicast group.");
    ASSERT_TRUE(sock->bindToPort(0, "loopback"));
    EXPECT_FALSE(sock->joinMulticastGroup("localhost", &error)) << "no name lookup for groups";
    EXPECT_EQ(error.code, 2);
    EXPECT_EQ(error.message, "Unknown group. Specify valid group IP address.");
}

TEST_F(Refusals, HostMissing) {
    ASSERT_TRUE(sock->bindToPort(0, "loopback"));
    sock->sendData(bytes("x"), std::string(), 9, -1.0, 3);
    ASSERT_TRUE(delegate->waitFor(Kind::notSent));
    const auto e = delegate->events(Kind::notSent).front();
    EXPECT_EQ(e.error->code, 2);
    EXPECT_EQ(e.error->message, "The host param is nil. Should be domain name or IP address string.");
}

TEST(FilterSetup, FilterWithoutQueueIsAProgrammingError) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto s = AsyncUdpSocket::make();
            s->setSendFilter([](const sockets::Data&, const sockets::Address&, long) { return true; },
                             nullptr);
        },
        "Must provide a dispatch_queue in which to run the filter block.");
}

// ---------------------------------------------------------------------------------------------

TEST_F(Lifecycle, OneCloseCallbackForABoundSocketNoneForANeverOpenedOne) {
    sock->close(); // never opened: silent
    ASSERT_TRUE(sock->bindToPort(0));
    EXPECT_FALSE(sock->isClosed());
    sock->close();
    EXPECT_TRUE(sock->isClosed());
    sock->close(); // closed already: silent
    settle();
    const auto closes = delegate->events(Kind::closed);
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_FALSE(closes.front().error.has_value()) << "close() reports no error";
}

TEST_F(Lifecycle, LocalAddressAndFamilies) {
    EXPECT_EQ(sock->localPort(), 0);
    EXPECT_TRUE(sock->localHost().empty());
    sock->setIPv6Enabled(false);
    ASSERT_TRUE(sock->bindToPort(0));
    EXPECT_TRUE(sock->isIPv4());
    EXPECT_FALSE(sock->isIPv6());
    EXPECT_NE(sock->localPort(), 0);
    EXPECT_EQ(sock->localHost(), "0.0.0.0");
    int fd = 0;
    sock->performBlock([&] { fd = sock->socket6FD(); });
    EXPECT_EQ(fd, -1);
    EXPECT_EQ(sock->socketFD(), -1) << "descriptors are not handed out off the socket queue";
}

TEST_F(Lifecycle, LoopbackBindsBothFamiliesWithV6Only) {
    ASSERT_TRUE(sock->bindToPort(0, "loopback"));
    EXPECT_EQ(sock->localHostIPv4(), "127.0.0.1");
    EXPECT_EQ(sock->localHostIPv6(), "::1");
    int v6only = 0;
    sock->performBlock([&] {
        socklen_t len = sizeof v6only;
        getsockopt(sock->socket6FD(), IPPROTO_IPV6, IPV6_V6ONLY, &v6only, &len);
    });
    EXPECT_EQ(v6only, 1);
}

TEST_F(Lifecycle, DestroyingTheSocketClosesItSilently) {
    ASSERT_TRUE(sock->bindToPort(0, "loopback"));
    const uint16_t port = sock->localPort();
    sock.reset();
    delegateQueue->sync([] {});
    EXPECT_EQ(delegate->count(Kind::closed), 0u);
    RawUdp reuse(AF_INET, port); // the port is free again
}

TEST(AddressUtilities, SplitsLinuxSockaddrs) {
    const auto a4 = udptest::loopbackAddress(AF_INET, 4242);
    std::string host;
    uint16_t port = 0;
    int family = 0;
    EXPECT_TRUE(AsyncUdpSocket::getHost(&host, &port, &family, a4));
    EXPECT_EQ(host, "127.0.0.1");
    EXPECT_EQ(port, 4242);
    EXPECT_EQ(family, AF_INET);
    const auto a6 = udptest::loopbackAddress(AF_INET6, 7);
    EXPECT_TRUE(AsyncUdpSocket::isIPv6Address(a6));
    EXPECT_EQ(AsyncUdpSocket::hostFromAddress(a6), "::1");
    EXPECT_EQ(AsyncUdpSocket::portFromAddress(a6), 7);

    sockets::Address shortOne(a4.begin(), a4.begin() + 15);
    EXPECT_FALSE(AsyncUdpSocket::getHost(&host, &port, &family, shortOne));
    EXPECT_TRUE(host.empty());
    EXPECT_EQ(port, 0);
    EXPECT_EQ(family, AF_UNSPEC);
    sockets::Address truncated6(a6.begin(), a6.begin() + 16); // family IPv6 but only 16 bytes
    EXPECT_FALSE(AsyncUdpSocket::getHost(nullptr, nullptr, &family, truncated6));
}

// ---------------------------------------------------------------------------------------------

TEST_F(Receiving, OnceModeDeliversExactlyOneDatagram) {
    ASSERT_TRUE(sock->bindToPort(0, "loopback"));
    RawUdp sender;
    for (const char* s : {"one", "two", "three"}) {
        sender.sendTo(sock->localPortIPv4(), bytes(s));
    }
    ASSERT_TRUE(sock->receiveOnce());
    ASSERT_TRUE(delegate->waitFor(Kind::received, 1));
    std::this_thread::sleep_for(50ms); // room for a wrong second delivery
    settle();
    ASSERT_EQ(delegate->count(Kind::received), 1u);
    EXPECT_EQ(text(delegate->events(Kind::received)[0].data), "one");
    ASSERT_TRUE(sock->receiveOnce());
    ASSERT_TRUE(delegate->waitFor(Kind::received, 2));
    ASSERT_TRUE(sock->beginReceiving());
    ASSERT_TRUE(delegate->waitFor(Kind::received, 3));
    const auto got = delegate->events(Kind::received);
    EXPECT_EQ(text(got[1].data), "two");
    EXPECT_EQ(text(got[2].data), "three");
    EXPECT_EQ(got[2].address, sender.address());
    EXPECT_EQ(got[2].context, nullptr);
}

TEST_F(Receiving, SizeLimitTruncates) {
    sock->setMaxReceiveIPv4BufferSize(1024);
    ASSERT_TRUE(sock->bindToPort(0, "loopback"));
    ASSERT_TRUE(sock->beginReceiving());
    RawUdp sender;
    sockets::Data big(2000);
    for (size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<uint8_t>(i * 7);
    }
    sender.sendTo(sock->localPortIPv4(), big);
    ASSERT_TRUE(delegate->waitFor(Kind::received));
    EXPECT_EQ(delegate->events(Kind::received)[0].data, sockets::Data(big.begin(), big.begin() + 1024));

    sock->setMaxReceiveIPv4BufferSize(65535);
    sender.sendTo(sock->localPortIPv4(), big);
    ASSERT_TRUE(delegate->waitFor(Kind::received, 2));
    EXPECT_EQ(delegate->events(Kind::received)[1].data, big);
}

TEST_F(Receiving, EmptyDatagramLeavesTheSocketReceiving) {
    ASSERT_TRUE(sock->bindToPort(0, "loopback"));
    ASSERT_TRUE(sock->beginReceiving());
    RawUdp sender;
    sender.sendTo(sock->localPortIPv4(), {});
    sender.sendTo(sock->localPortIPv4(), {});
    sender.sendTo(sock->localPortIPv4(), bytes("after"));
    ASSERT_TRUE(delegate->waitFor(Kind::received));
    settle();
    EXPECT_EQ(text(delegate->events(Kind::received).front().data), "after");
    EXPECT_EQ(delegate->count(Kind::closed), 0u);
    EXPECT_FALSE(sock->isClosed());
    sender.sendTo(sock->localPortIPv4(), {});
    sender.sendTo(sock->localPortIPv4(), bytes("still here"));
    ASSERT_TRUE(delegate->waitFor(Kind::received, 2));
    EXPECT_EQ(text(delegate->events(Kind::received)[1].data), "still here");
}

TEST_F(Receiving, PauseKeepsDatagramsForLater) {
    ASSERT_TRUE(sock->bindToPort(0, "loopback"));
    ASSERT_TRUE(sock->beginReceiving());
    RawUdp sender;
    sender.sendTo(sock->localPortIPv4(), bytes("a"));
    ASSERT_TRUE(delegate->waitFor(Kind::received));
    sock->pauseReceiving();
    settle();
    sender.sendTo(sock->localPortIPv4(), bytes("b"));
    sender.sendTo(sock->localPortIPv4(), bytes("c"));
    std::this_thread::sleep_for(30ms);
    settle();
    EXPECT_EQ(delegate->count(Kind::received), 1u);
    ASSERT_TRUE(sock->beginReceiving());
    ASSERT_TRUE(delegate->waitFor(Kind::received, 3));
    EXPECT_EQ(text(delegate->events(Kind::received)[2].data), "c");
}

TEST_F(Receiving, BurstArrivesWholeAndInOrderOverBothFamilies) {
    ASSERT_TRUE(sock->bindToPort(0, "loopback"));
    ASSERT_TRUE(sock->beginReceiving());
    RawUdp s4(AF_INET);
    RawUdp s6(AF_INET6);
    constexpr int kCount = 100;
    for (int i = 0; i < kCount; ++i) {
        s4.sendTo(sock->localPortIPv4(), bytes("4:" + std::to_string(i)));
        s6.sendTo(sock->localPortIPv6(), bytes("6:" + std::to_string(i)));
    }
    ASSERT_TRUE(delegate->waitFor(Kind::received, 2 * kCount));
    int next4 = 0;
    int next6 = 0;
    for (const auto& e : delegate->events(Kind::received)) {
        const std::string t = text(e.data);
        int& next = t[0] == '4' ? next4 : next6;
        EXPECT_EQ(t.substr(2), std::to_string(next)) << "per-family order";
        ++next;
    }
    EXPECT_EQ(next4, kCount);
    EXPECT_EQ(next6, kCount);
}

// Delivered datagrams hand their buffers on to later ones: large, small and very large ones
// in turn must each arrive with exactly their own bytes.
TEST_F(Receiving, DatagramsOfChangingSizesArriveIntact) {
    ASSERT_TRUE(sock->bindToPort(0, "127.0.0.1"));
    ASSERT_TRUE(sock->beginReceiving());
    RawUdp sender;
    const size_t sizes[] = {1000, 3, 5000, 1, 2048, 700, 9000, 64};
    constexpr int kRounds = 20;
    std::vector<sockets::Data> sent;
    for (int round = 0; round < kRounds; ++round) {
        for (size_t size : sizes) {
            sockets::Data data(size);
            for (size_t i = 0; i < size; ++i) {
                data[i] = static_cast<uint8_t>(i * 7 + sent.size());
            }
            sender.sendTo(sock->localPort(), data);
            sent.push_back(std::move(data));
        }
        ASSERT_TRUE(delegate->waitFor(Kind::received, sent.size())) << "a round at a time: none dropped";
    }
    const auto received = delegate->events(Kind::received);
    ASSERT_EQ(received.size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(received[i].data, sent[i]) << "datagram " << i;
        EXPECT_EQ(received[i].address, sender.address());
        EXPECT_EQ(received[i].context, nullptr);
    }
}

// A delegate slower than the sender (its queue is held) meets a flood: the socket stops reading
// at the bound, the system drops the rest and says how many, and once the delegate catches up
// the backlog empties and the socket reads again. Every datagram is delivered or counted.
TEST(ReceiveBacklog, FloodAtAStalledDelegateIsBoundedAndCounted) {
    struct Case {
        const char* name;
        AsyncUdpSocket::ReceiveBacklog bound;
        bool filtered;
    };
    const Case cases[] = {
        {"by count", {16, 1 << 20}, false},
        {"by bytes", {1000, 16 * 1024}, false},
        {"through an asynchronous filter", {16, 1 << 20}, true},
    };
    constexpr size_t kFlood = 600;
    const sockets::Data payload(1000, 'f');
    auto waitUntil = [](const std::function<bool()>& done) {
        for (int i = 0; i < 5000 && !done(); ++i) {
            std::this_thread::sleep_for(1ms);
        }
        return done();
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto delegate = std::make_shared<RecordingDelegate>();
        auto delegateQueue = dispatch::Queue::makeSerial("test.udp.slow");
        auto sock = AsyncUdpSocket::make(delegate, delegateQueue);
        if (c.filtered) {
            sock->setReceiveFilter(
                [](const sockets::Data&, const sockets::Address&, sockets::FilterContext&) { return true; },
                dispatch::Queue::makeSerial("test.udp.floodfilter"));
        }
        sock->setMaxReceiveBacklog(c.bound);
        EXPECT_EQ(sock->maxReceiveBacklog(), c.bound);
        ASSERT_TRUE(sock->bindToPort(0, "127.0.0.1"));
        ASSERT_TRUE(sock->beginReceiving());
        std::binary_semaphore gate{0};
        delegateQueue->async([&] { gate.acquire(); });
        RawUdp sender;
        for (size_t i = 0; i < kFlood; ++i) {
            sender.sendTo(sock->localPort(), payload);
        }
        auto overBound = [&] {
            const auto held = sock->receiveBacklog();
            return held.datagrams > c.bound.datagrams || held.bytes >= c.bound.bytes + payload.size();
        };
        ASSERT_TRUE(waitUntil([&] { return sock->receiveBacklogPauseCount() > 0 || overBound(); }));
        const auto held = sock->receiveBacklog();
        EXPECT_LE(held.datagrams, c.bound.datagrams);
        EXPECT_LT(held.bytes, c.bound.bytes + payload.size());
        gate.release();

        // Sent until one arrives: while the system's buffer is still full it drops them too.
        size_t sent = kFlood;
        auto lastIsMarker = [&] {
            const auto got = delegate->events(Kind::received);
            return !got.empty() && text(got.back().data) == "after";
        };
        for (int tries = 0; tries < 50 && !lastIsMarker(); ++tries) {
            sender.sendTo(sock->localPort(), bytes("after"));
            ++sent;
            waitUntil([&] { return delegate->count(Kind::received) == kFlood + 1 || lastIsMarker(); });
        }
        ASSERT_TRUE(lastIsMarker()) << "the socket reads again after the backlog drained";
        const uint64_t dropped = sock->droppedDatagramCount();
        EXPECT_GT(dropped, 0u);
        EXPECT_EQ(delegate->count(Kind::received) + dropped, sent);
        EXPECT_EQ(sock->receiveBacklog(), (AsyncUdpSocket::ReceiveBacklog{0, 0}));
    }
}

// ---------------------------------------------------------------------------------------------

TEST_F(Sending, ReportedInOrderOnceEach) {
    RawUdp receiver;
    for (long tag = 1; tag <= 3; ++tag) {
        sock->sendData(bytes("p" + std::to_string(tag)), receiver.address(), -1.0, tag);
    }
    ASSERT_TRUE(delegate->waitFor(Kind::sent, 3));
    settle();
    const auto sent = delegate->events(Kind::sent);
    ASSERT_EQ(sent.size(), 3u);
    for (long i = 0; i < 3; ++i) {
        EXPECT_EQ(sent[i].tag, i + 1);
    }
    for (int i = 1; i <= 3; ++i) {
        auto got = receiver.receive();
        ASSERT_TRUE(got);
        EXPECT_EQ(text(*got), "p" + std::to_string(i));
    }
    EXPECT_FALSE(sock->isClosed()) << "the first datagram created the sockets";
}

TEST_F(Sending, EmptyPayloadIsIgnored) {
    RawUdp receiver;
    sock->sendData({}, receiver.address(), -1.0, 1);
    sock->sendData(bytes("x"), receiver.address(), -1.0, 2);
    ASSERT_TRUE(delegate->waitFor(Kind::sent, 1));
    settle();
    ASSERT_EQ(delegate->events().size(), 1u);
    EXPECT_EQ(delegate->events().front().tag, 2);
}

TEST_F(Sending, HostNameResolvedInTheBackground) {
    RawUdp receiver4(AF_INET);
    RawUdp receiver6(AF_INET6, receiver4.port());
    sock->sendData(bytes("neutral"), "localhost", receiver4.port(), 1.0, 1);
    ASSERT_TRUE(delegate->waitFor(Kind::sent, 1));
    auto got = receiver4.receive();
    ASSERT_TRUE(got) << "version neutral follows the list: 127.0.0.1 first";
    EXPECT_EQ(text(*got), "neutral");

    sock->setPreferIPv6();
    sock->sendData(bytes("six"), "localhost", receiver4.port(), 1.0, 2);
    sock->sendData(bytes("numeric"), "::1", receiver4.port(), 1.0, 3);
    ASSERT_TRUE(delegate->waitFor(Kind::sent, 3));
    got = receiver6.receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(text(*got), "six");
    got = receiver6.receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(text(*got), "numeric");
}

TEST_F(Sending, IPv4DisabledWithAnIPv4OnlyHost) {
    sock->setIPv4Enabled(false);
    sock->sendData(bytes("x"), "127.0.0.1", 9, 1.0, 4);
    ASSERT_TRUE(delegate->waitFor(Kind::notSent));
    const auto e = delegate->events(Kind::notSent).front();
    EXPECT_EQ(e.tag, 4);
    EXPECT_EQ(e.error->domain, kDomain);
    EXPECT_EQ(e.error->code, 5);
    EXPECT_EQ(e.error->message, "IPv4 has been disabled and DNS lookup found no IPv6 address(es).");
}

TEST_F(Sending, BoundToIPv6AddressRefusesIPv4OnlyHost) {
    ASSERT_TRUE(sock->bindToAddress(udptest::loopbackAddress(AF_INET6, 0)));
    sock->sendData(bytes("x"), "127.0.0.1", 9, 1.0, 6);
    ASSERT_TRUE(delegate->waitFor(Kind::notSent));
    EXPECT_EQ(delegate->events(Kind::notSent).front().error->message,
              "IPv4 has been deactivated due to bind/connect, and DNS lookup found no IPv6 address(es).");
    // Both families in the list: the deactivated one is left out, so "localhost" goes to ::1.
    RawUdp receiver6(AF_INET6);
    sock->sendData(bytes("v6"), "localhost", receiver6.port(), 1.0, 7);
    ASSERT_TRUE(delegate->waitFor(Kind::sent));
    auto got = receiver6.receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(text(*got), "v6");
    EXPECT_FALSE(sock->isClosed());
}

TEST_F(Sending, InvalidAddressFailsTheDatagramNotTheSocket) {
    RawUdp receiver;
    sock->sendData(bytes("bad"), sockets::Address(16, 0), -1.0, 1);
    sock->sendData(bytes("good"), receiver.address(), -1.0, 2);
    ASSERT_TRUE(delegate->waitFor(Kind::sent));
    EXPECT_EQ(delegate->events(Kind::notSent).front().tag, 1);
    auto got = receiver.receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(text(*got), "good");
}

TEST_F(Sending, AddressOfAFamilyWithoutSocketFailsTheDatagramNotTheSocket) {
    ASSERT_TRUE(sock->bindToAddress(udptest::loopbackAddress(AF_INET6, 0)));
    RawUdp receiver4;
    RawUdp receiver6(AF_INET6);
    sock->sendData(bytes("v4"), receiver4.address(), -1.0, 1);
    sock->sendData(bytes("v6"), receiver6.address(), -1.0, 2);
    ASSERT_TRUE(delegate->waitFor(Kind::sent));
    settle();
    ASSERT_EQ(delegate->count(Kind::notSent), 1u);
    EXPECT_EQ(delegate->events(Kind::notSent).front().tag, 1);
    EXPECT_EQ(delegate->count(Kind::closed), 0u);
    auto got = receiver6.receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(text(*got), "v6");
    EXPECT_FALSE(sock->isClosed());
}

TEST_F(Sending, AddressBufferLongerThanItsSockaddrIsSentToThatSockaddr) {
    RawUdp receiver;
    sockets::Address padded = receiver.address();
    padded.resize(200, 0xAB);
    sock->sendData(bytes("padded"), padded, -1.0, 1);
    ASSERT_TRUE(delegate->waitFor(Kind::sent));
    auto got = receiver.receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(text(*got), "padded");
    settle();
    EXPECT_EQ(delegate->count(Kind::closed), 0u);
}

TEST_F(Sending, CloseAfterSendingWaitsForTheQueue) {
    RawUdp receiver;
    sock->sendData(bytes("1"), receiver.address(), -1.0, 1);
    sock->sendData(bytes("2"), receiver.address(), -1.0, 2);
    sock->closeAfterSending();
    ASSERT_TRUE(delegate->waitFor(Kind::closed));
    const auto events = delegate->events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].tag, 1);
    EXPECT_EQ(events[1].tag, 2);
    EXPECT_EQ(events[2].kind, Kind::closed);
    EXPECT_FALSE(events[2].error.has_value());
}

// A burst whose datagrams are sent together where they can be: the ones that cannot (a bad
// address, a host still resolving, the other family) keep their place in the order.
TEST_F(Sending, BurstMixingReadyAndWaitingDatagramsKeepsItsOrder) {
    RawUdp receiver4(AF_INET);
    RawUdp receiver6(AF_INET6);
    constexpr long kCount = 120;
    std::vector<std::string> expected4;
    for (long tag = 0; tag < kCount; ++tag) {
        const std::string payload = std::to_string(tag);
        if (tag == 10) {
            sock->sendData(bytes(payload), sockets::Address(16, 0), -1.0, tag);
        } else if (tag == 40) {
            sock->sendData(bytes(payload), "localhost", receiver4.port(), -1.0, tag);
            expected4.push_back(payload);
        } else if (tag % 25 == 0) {
            sock->sendData(bytes(payload), receiver6.address(), -1.0, tag);
        } else {
            sock->sendData(bytes(payload), receiver4.address(), -1.0, tag);
            expected4.push_back(payload);
        }
    }
    ASSERT_TRUE(delegate->waitFor(Kind::sent, kCount - 1));
    settle();
    const auto events = delegate->events();
    ASSERT_EQ(events.size(), static_cast<size_t>(kCount));
    for (long tag = 0; tag < kCount; ++tag) {
        EXPECT_EQ(events[tag].tag, tag) << "reported once each, in order";
        EXPECT_EQ(events[tag].kind, tag == 10 ? Kind::notSent : Kind::sent) << tag;
    }
    for (const std::string& payload : expected4) {
        auto got = receiver4.receive();
        ASSERT_TRUE(got);
        EXPECT_EQ(text(*got), payload);
    }
    for (long tag = 0; tag < kCount; tag += 25) {
        auto got = receiver6.receive();
        ASSERT_TRUE(got);
        EXPECT_EQ(text(*got), std::to_string(tag));
    }
}

// A setter handed over between sends applies to the sends after it, and only to those.
TEST_F(Sending, SendFilterSetBetweenSendsTakesEffectAtThatPoint) {
    RawUdp receiver;
    auto filterQueue = dispatch::Queue::makeSerial("test.udp.midfilter");
    constexpr long kHalf = 30;
    for (long tag = 0; tag < kHalf; ++tag) {
        sock->sendData(bytes("before"), receiver.address(), -1.0, tag);
    }
    sock->setSendFilter([](const sockets::Data&, const sockets::Address&, long) { return false; },
                        filterQueue, AsyncUdpSocket::FilterMode::synchronous);
    for (long tag = kHalf; tag < 2 * kHalf; ++tag) {
        sock->sendData(bytes("after"), receiver.address(), -1.0, tag);
    }
    ASSERT_TRUE(delegate->waitFor(Kind::sent, 2 * kHalf));
    for (long i = 0; i < kHalf; ++i) {
        auto got = receiver.receive();
        ASSERT_TRUE(got);
        EXPECT_EQ(text(*got), "before");
    }
    EXPECT_FALSE(receiver.receive(100ms)) << "every datagram after the filter was dropped";
}

// Callbacks produced before a delegate change reach the old delegate, the later ones the new.
TEST_F(Sending, DelegateChangeBetweenSendsSplitsTheReports) {
    RawUdp receiver;
    auto second = std::make_shared<RecordingDelegate>();
    auto secondQueue = dispatch::Queue::makeSerial("test.udp.delegate2");
    constexpr long kHalf = 40;
    for (long tag = 0; tag < kHalf; ++tag) {
        sock->sendData(bytes("x"), receiver.address(), -1.0, tag);
    }
    sock->setDelegate(second, secondQueue);
    for (long tag = kHalf; tag < 2 * kHalf; ++tag) {
        sock->sendData(bytes("y"), receiver.address(), -1.0, tag);
    }
    ASSERT_TRUE(second->waitFor(Kind::sent, kHalf));
    settle();
    secondQueue->sync([] {});
    const auto first = delegate->events();
    const auto later = second->events();
    ASSERT_EQ(first.size(), static_cast<size_t>(kHalf));
    ASSERT_EQ(later.size(), static_cast<size_t>(kHalf));
    for (long i = 0; i < kHalf; ++i) {
        EXPECT_EQ(first[i].tag, i);
        EXPECT_EQ(later[i].tag, kHalf + i);
    }
}

// ---------------------------------------------------------------------------------------------

TEST_F(Connecting, ConnectedSocketDropsDatagramsFromOtherPeers) {
    RawUdp peer;
    RawUdp intruder;
    ASSERT_TRUE(sock->connectToAddress(peer.address()));
    sock->sendData(bytes("hello"), -1.0, 1); // queued behind the connect request
    ASSERT_TRUE(delegate->waitFor(Kind::connected));
    EXPECT_TRUE(sock->isConnected());
    EXPECT_FALSE(sock->isIPv6());
    EXPECT_EQ(sock->connectedPort(), peer.port());
    EXPECT_EQ(sock->connectedHost(), "127.0.0.1");
    ASSERT_TRUE(delegate->waitFor(Kind::sent));
    sockets::Address from;
    auto got = peer.receive(5000ms, &from);
    ASSERT_TRUE(got);
    EXPECT_EQ(text(*got), "hello");
    const uint16_t port = sock->localPort();
    EXPECT_EQ(AsyncUdpSocket::portFromAddress(from), port);

    ASSERT_TRUE(sock->receiveOnce());
    intruder.sendTo(port, bytes("intruder"));
    peer.sendTo(port, bytes("peer"));
    ASSERT_TRUE(delegate->waitFor(Kind::received));
    settle();
    const auto received = delegate->events(Kind::received);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(text(received[0].data), "peer");
}

TEST_F(Connecting, ConnectToLocalhostByName) {
    RawUdp peer;
    ASSERT_TRUE(sock->connectToHost("localhost", peer.port()));
    ASSERT_TRUE(delegate->waitFor(Kind::connected));
    EXPECT_EQ(delegate->events(Kind::connected).front().address, peer.address());
}

TEST_F(Connecting, InvalidAddressIsReportedNotFatal) {
    ASSERT_TRUE(sock->connectToAddress(sockets::Address(16, 0)));
    ASSERT_TRUE(delegate->waitFor(Kind::notConnected));
    EXPECT_FALSE(sock->isConnected());
    RawUdp peer;
    EXPECT_TRUE(sock->connectToAddress(peer.address())) << "a later connect is allowed";
    ASSERT_TRUE(delegate->waitFor(Kind::connected));
}

// ---------------------------------------------------------------------------------------------

class FilterModes : public Fixture, public ::testing::WithParamInterface<AsyncUdpSocket::FilterMode> {};

TEST_P(FilterModes, SendFilterDropsReportedAsSent) {
    auto filterQueue = dispatch::Queue::makeSerial("test.udp.sendfilter");
    std::atomic<int> calls{0};
    sock->setSendFilter(
        [&](const sockets::Data&, const sockets::Address&, long tag) {
            ++calls;
            return tag != 7;
        },
        filterQueue, GetParam());
    RawUdp receiver;
    sock->sendData(bytes("seven"), receiver.address(), -1.0, 7);
    sock->sendData(bytes("eight"), receiver.address(), -1.0, 8);
    ASSERT_TRUE(delegate->waitFor(Kind::sent, 2));
    const auto sent = delegate->events(Kind::sent);
    EXPECT_EQ(sent[0].tag, 7);
    EXPECT_EQ(sent[1].tag, 8);
    auto got = receiver.receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(text(*got), "eight") << "the dropped datagram never left";
    EXPECT_EQ(calls.load(), 2);
}

TEST_P(FilterModes, ReceiveFilterDropsAndHandsOnItsContext) {
    auto filterQueue = dispatch::Queue::makeSerial("test.udp.receivefilter");
    auto marker = std::make_shared<int>(42);
    sock->setReceiveFilter(
        [marker](const sockets::Data& data, const sockets::Address&, sockets::FilterContext& context) {
            if (text(data) == "drop") {
                return false;
            }
            context = marker;
            return true;
        },
        filterQueue, GetParam());
    ASSERT_TRUE(sock->bindToPort(0, "loopback"));
    RawUdp sender;
    ASSERT_TRUE(sock->receiveOnce()) << "once mode keeps reading past dropped datagrams";
    sender.sendTo(sock->localPortIPv4(), bytes("drop"));
    sender.sendTo(sock->localPortIPv4(), bytes("drop"));
    sender.sendTo(sock->localPortIPv4(), bytes("keep"));
    ASSERT_TRUE(delegate->waitFor(Kind::received));
    auto received = delegate->events(Kind::received);
    EXPECT_EQ(text(received[0].data), "keep");
    EXPECT_EQ(received[0].context, marker) << "the very object the filter stored";

    sock->setReceiveFilter(nullptr, nullptr);
    ASSERT_TRUE(sock->beginReceiving());
    sender.sendTo(sock->localPortIPv4(), bytes("plain"));
    ASSERT_TRUE(delegate->waitFor(Kind::received, 2));
    received = delegate->events(Kind::received);
    EXPECT_EQ(text(received[1].data), "plain");
    EXPECT_EQ(received[1].context, nullptr);
}

TEST_P(FilterModes, ContinuousReceiveThroughFilterKeepsOrder) {
    auto filterQueue = dispatch::Queue::makeSerial("test.udp.orderfilter");
    sock->setReceiveFilter(
        [](const sockets::Data&, const sockets::Address&, sockets::FilterContext&) { return true; },
        filterQueue, GetParam());
    ASSERT_TRUE(sock->bindToPort(0, "loopback"));
    ASSERT_TRUE(sock->beginReceiving());
    RawUdp sender;
    for (int i = 0; i < 50; ++i) {
        sender.sendTo(sock->localPortIPv4(), bytes(std::to_string(i)));
    }
    ASSERT_TRUE(delegate->waitFor(Kind::received, 50));
    const auto received = delegate->events(Kind::received);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(text(received[i].data), std::to_string(i));
    }
}

INSTANTIATE_TEST_SUITE_P(Filters, FilterModes,
                         ::testing::Values(AsyncUdpSocket::FilterMode::synchronous,
                                           AsyncUdpSocket::FilterMode::asynchronous),
                         [](const auto& info) {
                             return info.param == AsyncUdpSocket::FilterMode::synchronous ? "Synchronous"
                                                                                          : "Asynchronous";
                         });

// ---------------------------------------------------------------------------------------------

TEST(MainQueueDelegate, CallbacksArriveOnTheMainThread) {
    auto delegate = std::make_shared<RecordingDelegate>();
    auto sock = AsyncUdpSocket::make(delegate, dispatch::mainQueue());
    ASSERT_TRUE(sock->bindToPort(0, "loopback"));
    ASSERT_TRUE(sock->beginReceiving());
    RawUdp sender;
    sender.sendTo(sock->localPortIPv4(), bytes("main"));
    EXPECT_TRUE(dispatch::runMainUntil([&] { return delegate->count(Kind::received) == 1; }, 5s));
    EXPECT_EQ(text(delegate->events(Kind::received).front().data), "main");
}

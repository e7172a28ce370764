// The datagram socket on loopback: refusals, lifecycle, receiving, sending, connect and filters.
#include "sockets/AsyncUdpSocket.h"
#include "sockets/UdpTestSupport.h"

#include "dispatch/Queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <semaphore>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>

using namespace std::chrono_literals;
using namespace udptest;

namespace {

const char* const kDomain = "AsyncUdpSocketErrorDomain";

struct Fixture : ::testing::Test {
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    dispatch::QueuePtr delegateQueue = dispatch::Queue::makeSerial("test.udp.delegate");
    std::shared_ptr<AsyncUdpSocket> sock = AsyncUdpSocket::make(delegate, delegateQueue);
    RawUdp sender;

    // Every callback the socket has produced so far has reached the delegate.
    void settle() {
        sock->performBlock([] {});
        delegateQueue->sync([] {});
    }
    void listen() {
        ASSERT_TRUE(sock->bindToPort(0, "loopback"));
        ASSERT_TRUE(sock->beginReceiving());
    }
    void sendIn(const std::string& payload) { sender.sendTo(sock->localPortIPv4(), bytes(payload)); }
    std::string received(size_t i) const { return text(delegate->events(Kind::received).at(i).data); }
};

using Refusals = Fixture;
using Lifecycle = Fixture;
using Receiving = Fixture;
using Sending = Fixture;
using Connecting = Fixture;

} // namespace

// Calls refused at once: the error says why, and a failed call leaves the socket as it was.
TEST_F(Refusals, RefusedCallsAnswerWithTheirReason) {
    RawUdp peer;
    struct Case {
        const char* name;
        std::function<bool(AsyncUdpSocket&, SocketError*)> call; // on a fresh socket
        SocketError expected;
    };
    const Case cases[] = {
        {"no delegate",
         [](AsyncUdpSocket&, SocketError* e) { return AsyncUdpSocket::make()->bindToPort(0, e); },
         {kDomain, 1, "Attempting to use socket without a delegate. Set a delegate first.", {}}},
        {"no delegate queue",
         [this](AsyncUdpSocket&, SocketError* e) {
             auto noQueue = AsyncUdpSocket::make(delegate);
             const bool bound = noQueue->bindToPort(0, e);
             EXPECT_TRUE(noQueue->isClosed());
             return bound;
         },
         {kDomain, 1, "Attempting to use socket without a delegate queue. Set a delegate queue first.", {}}},
        {"bind twice",
         [](AsyncUdpSocket& s, SocketError* e) { return !s.bindToPort(0) || s.bindToPort(0, e); },
         {kDomain, 1, "Cannot bind a socket more than once.", {}}},
        {"unknown interface",
         [](AsyncUdpSocket& s, SocketError* e) { return s.bindToPort(0, "no-such-interface0", e); },
         {kDomain,
          2,
          "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.",
          {}}},
        {"a unicast port is not shared",
         [this](AsyncUdpSocket& s, SocketError* e) {
             auto other = AsyncUdpSocket::make(delegate, delegateQueue);
             const bool bound =
                 !other->bindToPort(0, "loopback") || s.bindToPort(other->localPort(), "loopback", e);
             EXPECT_TRUE(s.isClosed()) << "a failed bind closes what it created";
             return bound;
         },
         {sockets::kPosixErrorDomain, EADDRINUSE, std::strerror(EADDRINUSE), "Error in bind() function"}},
        {"receive before bind",
         [](AsyncUdpSocket& s, SocketError* e) {
             EXPECT_FALSE(s.receiveOnce());
             return s.beginReceiving(e);
         },
         {kDomain,
          1,
          "Must bind socket before you can receive data. You can do this explicitly via bind, or "
          "implicitly via connect or by sending data.",
          {}}},
        {"connect twice",
         [&peer](AsyncUdpSocket& s, SocketError* e) {
             const bool again = !s.connectToAddress(peer.address()) || s.connectToAddress(peer.address(), e);
             SocketError bind;
             EXPECT_FALSE(s.bindToPort(0, &bind)) << "no bind after a connect request";
             EXPECT_EQ(bind.code, 1);
             return again;
         },
         {kDomain, 1, "Cannot connect a socket more than once.", {}}},
        {"join before bind",
         [](AsyncUdpSocket& s, SocketError* e) { return s.joinMulticastGroup("239.255.0.1", e); },
         {kDomain, 1, "Must bind a socket before joining a multicast group.", {}}},
        {"no name lookup for groups",
         [](AsyncUdpSocket& s, SocketError* e) {
             return !s.bindToPort(0, "loopback") || s.joinMulticastGroup("localhost", e);
         },
         {kDomain, 2, "Unknown group. Specify valid group IP address.", {}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto s = AsyncUdpSocket::make(delegate, delegateQueue);
        SocketError error;
        EXPECT_FALSE(c.call(*s, &error));
        EXPECT_EQ(error, c.expected);
    }
    ASSERT_TRUE(sock->bindToPort(0));
    EXPECT_TRUE(sock->beginReceiving());
    EXPECT_TRUE(sock->beginReceiving()) << "a second call is harmless";
}

// Datagrams refused on their way: reported with their tag and reason, the socket stays open.
TEST_F(Refusals, RefusedDatagramsAreReportedWithTheirReason) {
    RawUdp peer;
    struct Case {
        const char* name;
        std::function<void(AsyncUdpSocket&, RecordingDelegate&)> refusedSend; // with tag 7
        SocketError expected;
    };
    const Case cases[] = {
        {"no destination on an unconnected socket",
         [](AsyncUdpSocket& s, RecordingDelegate&) {
             ASSERT_TRUE(s.bindToPort(0, "loopback"));
             s.sendData(bytes("x"), -1.0, 7);
         },
         {kDomain, 1, "You must specify destination of packet for a non-connected socket", {}}},
        {"destination on a connected socket",
         [&](AsyncUdpSocket& s, RecordingDelegate& rec) {
             ASSERT_TRUE(s.connectToAddress(peer.address()));
             ASSERT_TRUE(rec.waitFor(Kind::connected));
             s.sendData(bytes("x"), "localhost", peer.port(), -1.0, 7);
         },
         {kDomain, 1, "Cannot specify destination of packet for connected socket", {}}},
        {"host missing",
         [](AsyncUdpSocket& s, RecordingDelegate&) {
             ASSERT_TRUE(s.bindToPort(0, "loopback"));
             s.sendData(bytes("x"), std::string(), 9, -1.0, 7);
         },
         {kDomain, 2, "The host param is nil. Should be domain name or IP address string.", {}}},
        {"IPv4 disabled, a host with IPv4 only",
         [](AsyncUdpSocket& s, RecordingDelegate&) {
             s.setIPv4Enabled(false);
             s.sendData(bytes("x"), "127.0.0.1", 9, 1.0, 7);
         },
         {kDomain, 5, "IPv4 has been disabled and DNS lookup found no IPv6 address(es).", {}}},
        {"bound to IPv6, a host with IPv4 only",
         [](AsyncUdpSocket& s, RecordingDelegate&) {
             ASSERT_TRUE(s.bindToAddress(loopbackAddress(AF_INET6, 0)));
             s.sendData(bytes("x"), "127.0.0.1", 9, 1.0, 7);
         },
         {kDomain,
          5,
          "IPv4 has been deactivated due to bind/connect, and DNS lookup found no IPv6 address(es).",
          {}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto rec = std::make_shared<RecordingDelegate>();
        auto s = AsyncUdpSocket::make(rec, delegateQueue);
        c.refusedSend(*s, *rec);
        ASSERT_TRUE(rec->waitFor(Kind::notSent));
        const auto e = rec->events(Kind::notSent).front();
        EXPECT_EQ(e.tag, 7);
        EXPECT_EQ(e.error, c.expected);
        EXPECT_EQ(rec->count(Kind::closed), 0u);
    }
}

TEST(FilterSetup, FilterWithoutQueueIsAProgrammingError) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto s = AsyncUdpSocket::make();
            s->setSendFilter([](const Data&, const Address&, long) { return true; }, nullptr);
        },
        "Must provide a dispatch_queue in which to run the filter block.");
}

// close() is silent for a socket never opened or closed already, and frees the port at once.
TEST_F(Lifecycle, OneCloseCallbackForABoundSocketAndItsPortIsFreeAtOnce) {
    sock->close();
    ASSERT_TRUE(sock->bindToPort(0, "loopback"));
    const uint16_t port = sock->localPortIPv4();
    EXPECT_FALSE(sock->isClosed());
    sock->close();
    EXPECT_TRUE(sock->isClosed());
    sock->close();
    settle();
    const auto closes = delegate->events(Kind::closed);
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_FALSE(closes.front().error.has_value()) << "close() reports no error";
    SocketError error;
    EXPECT_TRUE(sock->bindToPort(port, "127.0.0.1", &error)) << error.message;
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
    const auto a4 = loopbackAddress(AF_INET, 4242);
    std::string host;
    uint16_t port = 0;
    int family = 0;
    EXPECT_TRUE(AsyncUdpSocket::getHost(&host, &port, &family, a4));
    EXPECT_EQ(host, "127.0.0.1");
    EXPECT_EQ(port, 4242);
    EXPECT_EQ(family, AF_INET);
    const auto a6 = loopbackAddress(AF_INET6, 7);
    EXPECT_TRUE(AsyncUdpSocket::isIPv6Address(a6));
    EXPECT_EQ(AsyncUdpSocket::hostFromAddress(a6), "::1");
    EXPECT_EQ(AsyncUdpSocket::portFromAddress(a6), 7);

    EXPECT_FALSE(AsyncUdpSocket::getHost(&host, &port, &family, Address(a4.begin(), a4.begin() + 15)));
    EXPECT_TRUE(host.empty());
    EXPECT_EQ(port, 0);
    EXPECT_EQ(family, AF_UNSPEC);
    const Address truncated6(a6.begin(), a6.begin() + 16); // family IPv6 but only 16 bytes
    EXPECT_FALSE(AsyncUdpSocket::getHost(nullptr, nullptr, &family, truncated6));
}

TEST_F(Receiving, OnceModeDeliversExactlyOneDatagram) {
    ASSERT_TRUE(sock->bindToPort(0, "loopback"));
    for (const char* s : {"one", "two", "three"}) {
        sendIn(s);
    }
    ASSERT_TRUE(sock->receiveOnce());
    ASSERT_TRUE(delegate->waitFor(Kind::received, 1));
    std::this_thread::sleep_for(50ms); // room for a wrong second delivery
    settle();
    ASSERT_EQ(delegate->count(Kind::received), 1u);
    EXPECT_EQ(received(0), "one");
    ASSERT_TRUE(sock->receiveOnce());
    ASSERT_TRUE(delegate->waitFor(Kind::received, 2));
    ASSERT_TRUE(sock->beginReceiving());
    ASSERT_TRUE(delegate->waitFor(Kind::received, 3));
    EXPECT_EQ(received(1), "two");
    EXPECT_EQ(received(2), "three");
    const auto last = delegate->events(Kind::received)[2];
    EXPECT_EQ(last.address, sender.address());
    EXPECT_EQ(last.context, nullptr);
}

TEST_F(Receiving, SizeLimitTruncates) {
    sock->setMaxReceiveIPv4BufferSize(1024);
    listen();
    Data big(2000);
    for (size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<uint8_t>(i * 7);
    }
    sender.sendTo(sock->localPortIPv4(), big);
    ASSERT_TRUE(delegate->waitFor(Kind::received));
    EXPECT_EQ(delegate->events(Kind::received)[0].data, Data(big.begin(), big.begin() + 1024));
    sock->setMaxReceiveIPv4BufferSize(65535);
    sender.sendTo(sock->localPortIPv4(), big);
    ASSERT_TRUE(delegate->waitFor(Kind::received, 2));
    EXPECT_EQ(delegate->events(Kind::received)[1].data, big);
}

TEST_F(Receiving, EmptyDatagramLeavesTheSocketReceiving) {
    listen();
    for (const char* s : {"", "", "after"}) {
        sendIn(s);
    }
    ASSERT_TRUE(delegate->waitFor(Kind::received));
    settle();
    EXPECT_EQ(received(0), "after");
    EXPECT_EQ(delegate->count(Kind::closed), 0u);
    EXPECT_FALSE(sock->isClosed());
    sendIn("");
    sendIn("still here");
    ASSERT_TRUE(delegate->waitFor(Kind::received, 2));
    EXPECT_EQ(received(1), "still here");
}

TEST_F(Receiving, PauseKeepsDatagramsForLater) {
    listen();
    sendIn("a");
    ASSERT_TRUE(delegate->waitFor(Kind::received));
    sock->pauseReceiving();
    settle();
    sendIn("b");
    sendIn("c");
    std::this_thread::sleep_for(30ms);
    settle();
    EXPECT_EQ(delegate->count(Kind::received), 1u);
    ASSERT_TRUE(sock->beginReceiving());
    ASSERT_TRUE(delegate->waitFor(Kind::received, 3));
    EXPECT_EQ(received(2), "c");
}

TEST_F(Receiving, BurstArrivesWholeAndInOrderOverBothFamilies) {
    listen();
    RawUdp s6(AF_INET6);
    constexpr int kCount = 100;
    for (int i = 0; i < kCount; ++i) {
        sendIn("4:" + std::to_string(i));
        s6.sendTo(sock->localPortIPv6(), bytes("6:" + std::to_string(i)));
    }
    ASSERT_TRUE(delegate->waitFor(Kind::received, 2 * kCount));
    int next[2] = {0, 0};
    for (const auto& e : delegate->events(Kind::received)) {
        const std::string t = text(e.data);
        int& n = next[t[0] == '4' ? 0 : 1];
        EXPECT_EQ(t.substr(2), std::to_string(n++)) << "per-family order";
    }
    EXPECT_EQ(next[0], kCount);
    EXPECT_EQ(next[1], kCount);
}

// Delivered datagrams hand their buffers on to later ones: large, small and very large ones
// in turn must each arrive with exactly their own bytes.
TEST_F(Receiving, DatagramsOfChangingSizesArriveIntact) {
    ASSERT_TRUE(sock->bindToPort(0, "127.0.0.1"));
    ASSERT_TRUE(sock->beginReceiving());
    const size_t sizes[] = {1000, 3, 5000, 1, 2048, 700, 9000, 64};
    std::vector<Data> sent;
    for (int round = 0; round < 20; ++round) {
        for (size_t size : sizes) {
            Data data(size);
            for (size_t i = 0; i < size; ++i) {
                data[i] = static_cast<uint8_t>(i * 7 + sent.size());
            }
            sender.sendTo(sock->localPort(), data);
            sent.push_back(std::move(data));
        }
        ASSERT_TRUE(delegate->waitFor(Kind::received, sent.size())) << "a round at a time: none dropped";
    }
    const auto got = delegate->events(Kind::received);
    ASSERT_EQ(got.size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(got[i].data, sent[i]) << "datagram " << i;
        EXPECT_EQ(got[i].address, sender.address());
        EXPECT_EQ(got[i].context, nullptr);
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
    const Data payload(1000, 'f');
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
            sock->setReceiveFilter([](const Data&, const Address&, sockets::FilterContext&) { return true; },
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

TEST_F(Sending, HostNameResolvedInTheBackground) {
    RawUdp receiver4(AF_INET);
    RawUdp receiver6(AF_INET6, receiver4.port());
    sock->sendData(bytes("neutral"), "localhost", receiver4.port(), 1.0, 1);
    ASSERT_TRUE(delegate->waitFor(Kind::sent, 1));
    EXPECT_EQ(receiver4.receiveText(), "neutral") << "version neutral follows the list: 127.0.0.1 first";
    sock->setPreferIPv6();
    sock->sendData(bytes("six"), "localhost", receiver4.port(), 1.0, 2);
    sock->sendData(bytes("numeric"), "::1", receiver4.port(), 1.0, 3);
    ASSERT_TRUE(delegate->waitFor(Kind::sent, 3));
    EXPECT_EQ(receiver6.receiveText(), "six");
    EXPECT_EQ(receiver6.receiveText(), "numeric");
}

// Bound to IPv6, a datagram to an IPv4 address fails alone; a host with both families goes to ::1.
TEST_F(Sending, BoundToIPv6OnlyTheIPv4DatagramFails) {
    ASSERT_TRUE(sock->bindToAddress(loopbackAddress(AF_INET6, 0)));
    RawUdp receiver6(AF_INET6);
    sock->sendData(bytes("v4"), sender.address(), -1.0, 1);
    sock->sendData(bytes("v6"), receiver6.address(), -1.0, 2);
    sock->sendData(bytes("by name"), "localhost", receiver6.port(), 1.0, 3);
    ASSERT_TRUE(delegate->waitFor(Kind::sent, 2));
    settle();
    ASSERT_EQ(delegate->count(Kind::notSent), 1u);
    EXPECT_EQ(delegate->events(Kind::notSent).front().tag, 1);
    EXPECT_EQ(delegate->count(Kind::closed), 0u);
    EXPECT_EQ(receiver6.receiveText(), "v6");
    EXPECT_EQ(receiver6.receiveText(), "by name");
    EXPECT_FALSE(sock->isClosed());
}

// Datagrams the system refuses (too large for IPv4 or IPv6, to a broadcast address without
// SO_BROADCAST): by default the first closes the socket; failing each alone, the socket goes on
// and sends what comes behind, singly and in bursts.
TEST_F(Sending, RefusedDatagramsCloseTheSocketOrFailAlone) {
    using Policy = AsyncUdpSocket::SendErrorPolicy;
    const Address broadcast = sockets::numericHostAddresses("127.255.255.255", sender.port()).ipv4;
    RawUdp receiver6(AF_INET6);
    EXPECT_EQ(sock->sendErrorPolicy(), Policy::closeSocket);
    sock->sendData(Data(65508, 'x'), sender.address(), 1.0, 1);
    ASSERT_TRUE(delegate->waitFor(Kind::closed));
    EXPECT_EQ(delegate->events(Kind::closed).front().error->code, EMSGSIZE);
    EXPECT_EQ(delegate->count(Kind::notSent), 0u);

    sock->setSendErrorPolicy(Policy::failDatagram);
    struct Row {
        Data payload;
        Address to;
        int error;              // 0: it arrives
        const RawUdp* receiver; // where
    };
    const std::vector<Row> rows = {
        {Data(65508, 'x'), sender.address(), EMSGSIZE, nullptr},
        {bytes("after v4"), sender.address(), 0, &sender},
        {Data(65528, 'x'), receiver6.address(), EMSGSIZE, nullptr},
        {bytes("after v6"), receiver6.address(), 0, &receiver6},
        {bytes("forged"), broadcast, EACCES, nullptr},
        {bytes("after broadcast"), sender.address(), 0, &sender},
    };
    for (int burst = 0; burst < 2; ++burst) {
        for (long i = 0; i < long(rows.size()); ++i) {
            sock->sendData(Data(rows[size_t(i)].payload), rows[size_t(i)].to, 1.0, 10 * burst + i);
            if (burst == 0) {
                ASSERT_TRUE(
                    delegate->waitFor(rows[size_t(i)].error ? Kind::notSent : Kind::sent, size_t(i / 2 + 1)));
            }
        }
        ASSERT_TRUE(delegate->waitFor(Kind::sent, size_t(3 * (burst + 1))));
        ASSERT_TRUE(delegate->waitFor(Kind::notSent, size_t(3 * (burst + 1))));
        for (const Row& row : rows) {
            if (row.receiver != nullptr) {
                EXPECT_EQ(row.receiver->receiveText(), text(row.payload));
            }
        }
    }
    settle();
    const auto failed = delegate->events(Kind::notSent);
    ASSERT_EQ(failed.size(), 6u);
    for (size_t i = 0; i < failed.size(); ++i) {
        EXPECT_EQ(failed[i].tag, long(10 * (i / 3) + 2 * (i % 3)));
        EXPECT_EQ(failed[i].error->code, rows[2 * (i % 3)].error);
    }
    EXPECT_EQ(delegate->count(Kind::closed), 1u);
    EXPECT_FALSE(sock->isClosed());
}

TEST_F(Sending, AddressBufferLongerThanItsSockaddrIsSentToThatSockaddr) {
    Address padded = sender.address();
    padded.resize(200, 0xAB);
    sock->sendData(bytes("padded"), padded, -1.0, 1);
    ASSERT_TRUE(delegate->waitFor(Kind::sent));
    EXPECT_EQ(sender.receiveText(), "padded");
    settle();
    EXPECT_EQ(delegate->count(Kind::closed), 0u);
}

// An empty payload is dropped without a report; a close after sending waits for the rest.
TEST_F(Sending, EmptyPayloadIsIgnoredAndCloseAfterSendingWaitsForTheQueue) {
    sock->sendData({}, sender.address(), -1.0, 1);
    sock->sendData(bytes("2"), sender.address(), -1.0, 2);
    sock->sendData(bytes("3"), sender.address(), -1.0, 3);
    sock->closeAfterSending();
    ASSERT_TRUE(delegate->waitFor(Kind::closed));
    const auto events = delegate->events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].tag, 2);
    EXPECT_EQ(events[1].tag, 3);
    EXPECT_EQ(events[2].kind, Kind::closed);
    EXPECT_FALSE(events[2].error.has_value());
}

// A burst whose datagrams are sent together where they can be: the ones that cannot (a bad
// address, a host still resolving, the other family) keep their place in the order, and each
// is reported once. A bad address fails its datagram, not the socket.
TEST_F(Sending, BurstMixingReadyAndWaitingDatagramsKeepsItsOrder) {
    RawUdp receiver6(AF_INET6);
    constexpr long kCount = 120;
    std::vector<std::string> expected4;
    for (long tag = 0; tag < kCount; ++tag) {
        const std::string payload = std::to_string(tag);
        if (tag == 10) {
            sock->sendData(bytes(payload), Address(16, 0), -1.0, tag);
        } else if (tag == 40) {
            sock->sendData(bytes(payload), "localhost", sender.port(), -1.0, tag);
            expected4.push_back(payload);
        } else if (tag % 25 == 0) {
            sock->sendData(bytes(payload), receiver6.address(), -1.0, tag);
        } else {
            sock->sendData(bytes(payload), sender.address(), -1.0, tag);
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
        EXPECT_EQ(sender.receiveText(), payload);
    }
    for (long tag = 0; tag < kCount; tag += 25) {
        EXPECT_EQ(receiver6.receiveText(), std::to_string(tag));
    }
    EXPECT_FALSE(sock->isClosed()) << "the first datagram created the sockets";
}

// A setter handed over between sends applies to the sends after it, and only to those.
TEST_F(Sending, SendFilterSetBetweenSendsTakesEffectAtThatPoint) {
    constexpr long kHalf = 30;
    for (long tag = 0; tag < kHalf; ++tag) {
        sock->sendData(bytes("before"), sender.address(), -1.0, tag);
    }
    sock->setSendFilter([](const Data&, const Address&, long) { return false; },
                        dispatch::Queue::makeSerial("test.udp.midfilter"),
                        AsyncUdpSocket::FilterMode::synchronous);
    for (long tag = kHalf; tag < 2 * kHalf; ++tag) {
        sock->sendData(bytes("after"), sender.address(), -1.0, tag);
    }
    ASSERT_TRUE(delegate->waitFor(Kind::sent, 2 * kHalf));
    for (long i = 0; i < kHalf; ++i) {
        EXPECT_EQ(sender.receiveText(), "before");
    }
    EXPECT_FALSE(sender.receive(100ms)) << "every datagram after the filter was dropped";
}

// Callbacks produced before a delegate change reach the old delegate, the later ones the new.
TEST_F(Sending, DelegateChangeBetweenSendsSplitsTheReports) {
    auto second = std::make_shared<RecordingDelegate>();
    auto secondQueue = dispatch::Queue::makeSerial("test.udp.delegate2");
    constexpr long kHalf = 40;
    for (long tag = 0; tag < 2 * kHalf; ++tag) {
        if (tag == kHalf) {
            sock->setDelegate(second, secondQueue);
        }
        sock->sendData(bytes("x"), sender.address(), -1.0, tag);
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

TEST_F(Connecting, ConnectedSocketDropsDatagramsFromOtherPeers) {
    RawUdp peer;
    ASSERT_TRUE(sock->connectToAddress(peer.address()));
    sock->sendData(bytes("hello"), -1.0, 1); // queued behind the connect request
    ASSERT_TRUE(delegate->waitFor(Kind::connected));
    EXPECT_TRUE(sock->isConnected());
    EXPECT_FALSE(sock->isIPv6());
    EXPECT_EQ(sock->connectedPort(), peer.port());
    EXPECT_EQ(sock->connectedHost(), "127.0.0.1");
    ASSERT_TRUE(delegate->waitFor(Kind::sent));
    Address from;
    auto got = peer.receive(5000ms, &from);
    ASSERT_TRUE(got);
    EXPECT_EQ(text(*got), "hello");
    const uint16_t port = sock->localPort();
    EXPECT_EQ(AsyncUdpSocket::portFromAddress(from), port);

    ASSERT_TRUE(sock->receiveOnce());
    sender.sendTo(port, bytes("intruder"));
    peer.sendTo(port, bytes("peer"));
    ASSERT_TRUE(delegate->waitFor(Kind::received));
    settle();
    ASSERT_EQ(delegate->count(Kind::received), 1u);
    EXPECT_EQ(received(0), "peer");
}

// A failed connect is reported, not fatal: a later one by name is allowed.
TEST_F(Connecting, InvalidAddressIsReportedThenLocalhostByName) {
    ASSERT_TRUE(sock->connectToAddress(Address(16, 0)));
    ASSERT_TRUE(delegate->waitFor(Kind::notConnected));
    EXPECT_FALSE(sock->isConnected());
    ASSERT_TRUE(sock->connectToHost("localhost", sender.port()));
    ASSERT_TRUE(delegate->waitFor(Kind::connected));
    EXPECT_EQ(delegate->events(Kind::connected).front().address, sender.address());
}

class FilterModes : public Fixture, public ::testing::WithParamInterface<AsyncUdpSocket::FilterMode> {};

TEST_P(FilterModes, SendFilterDropsReportedAsSent) {
    std::atomic<int> calls{0};
    sock->setSendFilter(
        [&](const Data&, const Address&, long tag) {
            ++calls;
            return tag != 7;
        },
        dispatch::Queue::makeSerial("test.udp.sendfilter"), GetParam());
    sock->sendData(bytes("seven"), sender.address(), -1.0, 7);
    sock->sendData(bytes("eight"), sender.address(), -1.0, 8);
    ASSERT_TRUE(delegate->waitFor(Kind::sent, 2));
    const auto sent = delegate->events(Kind::sent);
    EXPECT_EQ(sent[0].tag, 7);
    EXPECT_EQ(sent[1].tag, 8);
    EXPECT_EQ(sender.receiveText(), "eight") << "the dropped datagram never left";
    EXPECT_EQ(calls.load(), 2);
}

TEST_P(FilterModes, ReceiveFilterDropsAndHandsOnItsContext) {
    auto marker = std::make_shared<int>(42);
    sock->setReceiveFilter(
        [marker](const Data& data, const Address&, sockets::FilterContext& context) {
            if (text(data) == "drop") {
                return false;
            }
            context = marker;
            return true;
        },
        dispatch::Queue::makeSerial("test.udp.receivefilter"), GetParam());
    ASSERT_TRUE(sock->bindToPort(0, "loopback"));
    ASSERT_TRUE(sock->receiveOnce()) << "once mode keeps reading past dropped datagrams";
    for (const char* s : {"drop", "drop", "keep"}) {
        sendIn(s);
    }
    ASSERT_TRUE(delegate->waitFor(Kind::received));
    EXPECT_EQ(received(0), "keep");
    EXPECT_EQ(delegate->events(Kind::received)[0].context, marker) << "the very object the filter stored";

    sock->setReceiveFilter(nullptr, nullptr);
    ASSERT_TRUE(sock->beginReceiving());
    sendIn("plain");
    ASSERT_TRUE(delegate->waitFor(Kind::received, 2));
    EXPECT_EQ(received(1), "plain");
    EXPECT_EQ(delegate->events(Kind::received)[1].context, nullptr);
}

TEST_P(FilterModes, ContinuousReceiveThroughFilterKeepsOrder) {
    sock->setReceiveFilter([](const Data&, const Address&, sockets::FilterContext&) { return true; },
                           dispatch::Queue::makeSerial("test.udp.orderfilter"), GetParam());
    listen();
    for (int i = 0; i < 50; ++i) {
        sendIn(std::to_string(i));
    }
    ASSERT_TRUE(delegate->waitFor(Kind::received, 50));
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(received(size_t(i)), std::to_string(i));
    }
}

// A datagram that waited in the system's queue before the socket read it: the filter learns when
// it came in (before reading began), not when it was read; outside a filter there is nothing.
TEST_P(FilterModes, ReceiveFilterLearnsWhenADatagramCameIn) {
    std::optional<std::chrono::steady_clock::time_point> arrival;
    sock->setReceiveFilter(
        [&](const Data&, const Address&, sockets::FilterContext&) {
            arrival = AsyncUdpSocket::filteredDatagramArrival();
            return true;
        },
        dispatch::Queue::makeSerial("test.udp.arrivalfilter"), GetParam());
    ASSERT_TRUE(sock->bindToPort(0, "loopback"));
    sendIn("waited");
    const auto readingBegins = std::chrono::steady_clock::now();
    ASSERT_TRUE(sock->beginReceiving());
    ASSERT_TRUE(delegate->waitFor(Kind::received));
    ASSERT_TRUE(arrival);
    EXPECT_LE(*arrival, readingBegins);
    EXPECT_FALSE(AsyncUdpSocket::filteredDatagramArrival());
}

// A socket on every address is asked at 127.0.0.2 and 127.0.0.3 (both this host's, neither the
// one the route to the asker picks), and at loopback's broadcast address: the filter learns each
// address asked (for the broadcast, the interface's own address the kernel picks), and replies
// sent from it, one at a time or together in one system call, come from that address.
TEST_P(FilterModes, ReplyLeavesFromTheAddressTheRequestCameTo) {
    std::mutex mutex;
    std::vector<Address> asked;
    sock->setReceiveFilter(
        [&](const Data&, const Address&, sockets::FilterContext&) {
            const std::lock_guard lock(mutex);
            asked.push_back(AsyncUdpSocket::filteredDatagramDestination().value_or(Address()));
            return true;
        },
        dispatch::Queue::makeSerial("test.udp.destinationfilter"), GetParam());
    ASSERT_TRUE(sock->bindToPort(0));
    ASSERT_TRUE(sock->beginReceiving());
    const uint16_t port = sock->localPortIPv4();
    const struct {
        const char* to;
        const char* from; // the reply's source
    } hosts[] = {{"127.0.0.2", "127.0.0.2"}, {"127.0.0.3", "127.0.0.3"}, {"127.255.255.255", "127.0.0.1"}};
    const size_t count = std::size(hosts);
    for (const auto& host : hosts) {
        sender.sendTo(ipv4Address(host.to, port), bytes(host.to));
    }
    ASSERT_TRUE(delegate->waitFor(Kind::received, count));
    const auto requests = delegate->events(Kind::received);
    const std::lock_guard lock(mutex);
    ASSERT_EQ(asked.size(), count);
    for (size_t i = 0; i < count; ++i) {
        EXPECT_EQ(AsyncUdpSocket::hostFromAddress(asked[i]), hosts[i].from);
    }
    EXPECT_FALSE(AsyncUdpSocket::filteredDatagramDestination()) << "nothing outside a filter";

    const auto repliesComeFromTheAddressAsked = [&](const char* how) {
        for (const auto& host : hosts) {
            Address from;
            const auto reply = sender.receive(5000ms, &from);
            ASSERT_TRUE(reply) << how;
            EXPECT_EQ(text(*reply), host.to) << how;
            EXPECT_EQ(AsyncUdpSocket::hostFromAddress(from), host.from) << how;
            EXPECT_EQ(AsyncUdpSocket::portFromAddress(from), port) << how;
        }
    };
    for (size_t i = 0; i < count; ++i) {
        sock->sendData(requests[i].data, requests[i].address, asked[i], -1.0, long(i));
        ASSERT_TRUE(delegate->waitFor(Kind::sent, i + 1));
    }
    repliesComeFromTheAddressAsked("one at a time");
    sock->performBlock([&] { // queued together, so sent together
        for (size_t i = 0; i < count; ++i) {
            sock->sendData(requests[i].data, requests[i].address, asked[i], -1.0, long(i));
        }
    });
    ASSERT_TRUE(delegate->waitFor(Kind::sent, 2 * count));
    repliesComeFromTheAddressAsked("in one batch");
}

INSTANTIATE_TEST_SUITE_P(Filters, FilterModes,
                         ::testing::Values(AsyncUdpSocket::FilterMode::synchronous,
                                           AsyncUdpSocket::FilterMode::asynchronous),
                         [](const auto& info) {
                             return info.param == AsyncUdpSocket::FilterMode::synchronous ? "Synchronous"
                                                                                          : "Asynchronous";
                         });

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

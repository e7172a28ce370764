// The stream socket on loopback and socket pairs: packets, reads and writes, time-outs,
// listening, connecting, closing and TLS.
#include "StreamTestSupport.h"
#include "sockets/AsyncSocket.h"
#include "sockets/AsyncSocketPackets.h"
#include "sockets/AsyncSocketPrivate.h"
#include "support/TempDir.h"
#include "support/TestCertificate.h"

#include "dispatch/Queue.h"
#include "dispatch/Source.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <semaphore>
#include <thread>

#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;
using sockets::Address;
using sockets::AsyncSocket;
using sockets::Data;
using sockets::PreBuffer;
using sockets::ReadPacket;
using sockets::SocketError;
using streamtest::bytes;
using streamtest::Kind;
using streamtest::Recorder;
using streamtest::text;

namespace {

const char* const kDomain = "AsyncSocketErrorDomain";

size_t openDescriptors() {
    return size_t(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

struct Fixture : ::testing::Test {
    std::shared_ptr<Recorder> server = std::make_shared<Recorder>();
    std::shared_ptr<Recorder> client = std::make_shared<Recorder>();
    dispatch::QueuePtr serverQueue = dispatch::Queue::makeSerial("test.stream.server");
    dispatch::QueuePtr clientQueue = dispatch::Queue::makeSerial("test.stream.client");
    std::shared_ptr<AsyncSocket> listener = AsyncSocket::make(server, serverQueue);
    std::shared_ptr<AsyncSocket> sock = AsyncSocket::make(client, clientQueue);

    // A connected pair on 127.0.0.1: our client socket and the listener's child.
    std::shared_ptr<AsyncSocket> connectPair() {
        SocketError error;
        EXPECT_TRUE(listener->acceptOnInterface("127.0.0.1", 0, &error)) << error.message;
        EXPECT_TRUE(sock->connectToHost("127.0.0.1", listener->localPort(), -1, &error)) << error.message;
        EXPECT_TRUE(client->waitFor(Kind::connected));
        EXPECT_TRUE(server->waitFor(Kind::accepted));
        return server->child(0);
    }

    // A listener on 127.0.0.1 whose children are set up by `onAccept`.
    void listen(std::function<void(AsyncSocket&)> onAccept) {
        ASSERT_TRUE(listener->acceptOnInterface("127.0.0.1", 0));
        server->onAccept = std::move(onAccept);
    }
    // A further client with its own recorder, connecting to 127.0.0.1:`port`.
    std::pair<std::shared_ptr<Recorder>, std::shared_ptr<AsyncSocket>>
    connectClient(uint16_t port, std::optional<bool> trust = {}) {
        auto rec = std::make_shared<Recorder>();
        rec->trustAnswer = trust;
        auto s = AsyncSocket::make(rec, clientQueue);
        EXPECT_TRUE(s->connectToHost("127.0.0.1", port));
        return {rec, s};
    }
    void settle(const std::shared_ptr<AsyncSocket>& s, const dispatch::QueuePtr& q) {
        s->performBlock([] {});
        q->sync([] {});
    }
    // Small send buffers: the descriptor cannot take megabytes at once.
    void shrinkSendBuffer() {
        sock->performBlock([&] {
            const int size = 16 * 1024;
            setsockopt(sock->socketFD(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        });
    }
};

// The error the recorder's first disconnect carried; none if it never came or carried none.
SocketError closeError(Recorder& rec) {
    EXPECT_TRUE(rec.waitFor(Kind::disconnected));
    const auto events = rec.events(Kind::disconnected);
    EXPECT_TRUE(!events.empty() && events[0].error);
    return !events.empty() && events[0].error ? *events[0].error : SocketError{};
}

// The handshake failed with `code`, OpenSSL's own words containing `words`, and never secured.
void expectTlsRefused(Recorder& rec, int code, const std::string& words = {}) {
    const auto error = closeError(rec);
    EXPECT_EQ(error.domain, sockets::kTlsErrorDomain);
    EXPECT_EQ(error.code, code);
    EXPECT_FALSE(error.message.empty());
    EXPECT_NE(error.message.find(words), std::string::npos) << error.message;
    EXPECT_EQ(rec.count(Kind::secured), 0u);
}

using Packets = ::testing::Test;
using Reading = Fixture;
using Listening = Fixture;
using Connecting = Fixture;
using Closing = Fixture;
using Tls = Fixture;

sockets::TlsSettings serverSettings() {
    static const Data identity = bytes(testsupport::testIdentityPem());
    return {{sockets::kTlsIsServer, true}, {sockets::kTlsCertificates, std::vector<Data>{identity}}};
}
sockets::TlsSettings manualClient() {
    return {{sockets::kTlsManuallyEvaluateTrust, true}, {sockets::kTlsPeerName, std::string("localhost")}};
}
// `extra` over `base`.
sockets::TlsSettings with(const sockets::TlsSettings& base, sockets::TlsSettings extra) {
    extra.insert(base.begin(), base.end());
    return extra;
}

std::shared_ptr<ReadPacket> termRead(const std::string& done, size_t maxLength = 0) {
    auto p = std::make_shared<ReadPacket>(nullptr, 0, maxLength, -1, 0, AsyncSocket::CRLFData(), 0);
    p->buffer->assign(done.begin(), done.end());
    p->bytesDone = done.size();
    return p;
}

} // namespace

TEST_F(Packets, PreBufferGrowsByTheShortfallAndRewindsWhenDrained) {
    PreBuffer buffer(4096);
    buffer.ensureCapacityForWrite(4096);
    buffer.didWrite(4096);
    buffer.didRead(96);
    EXPECT_EQ(buffer.availableBytes(), 4000u);
    EXPECT_EQ(buffer.availableSpace(), 0u);
    buffer.ensureCapacityForWrite(10);
    EXPECT_EQ(buffer.capacity(), 4106u);
    buffer.didRead(4000);
    EXPECT_EQ(buffer.availableSpace(), 4106u) << "drained: both positions back at the start";
}

TEST_F(Packets, TerminatorSearchAcrossThePreBuffer) {
    struct Case {
        const char* name;
        std::string inPacket;
        std::string inPreBuffer;
        size_t maxLength;
        size_t expected;
        bool found;
    };
    const Case cases[] = {
        {"terminator split between packet and pre-buffer", "abc\r", "\nxyz", 0, 1, true},
        {"terminator inside the pre-buffer", "", "ab\r\ncd", 0, 4, true},
        {"maximum length reached first", "", "abcdefgh", 5, 5, false},
        {"too short to hold the terminator", "", "a", 0, 1, false},
    };
    for (const Case& c : cases) {
        auto packet = termRead(c.inPacket, c.maxLength);
        PreBuffer pre(16);
        std::memcpy(pre.writeBuffer(), c.inPreBuffer.data(), c.inPreBuffer.size());
        pre.didWrite(c.inPreBuffer.size());
        bool found = false;
        EXPECT_EQ(packet->readLengthForTermWithPreBuffer(pre, &found), c.expected) << c.name;
        EXPECT_EQ(found, c.found) << c.name;
    }
}

TEST_F(Packets, ReadLengthsAndTheSearchAfterReading) {
    auto term = termRead("");
    const std::string fresh = "ab\r\ncdefgh";
    term->buffer->assign(fresh.begin(), fresh.end());
    EXPECT_EQ(term->searchForTermAfterPreBuffering(10), 6) << "six bytes follow the terminator";
    EXPECT_EQ(termRead("x")->searchForTermAfterPreBuffering(0), -1);

    ReadPacket fixed(nullptr, 0, 0, -1, 100, {}, 0);
    EXPECT_EQ(fixed.buffer->size(), 100u) << "a fixed-length read starts with its whole buffer";
    EXPECT_EQ(fixed.readLengthForNonTerm(250), 100u);
    bool preBuffer = true;
    EXPECT_EQ(fixed.optimalReadLength(32768, &preBuffer), 100u);
    EXPECT_FALSE(preBuffer);

    ReadPacket bounded(nullptr, 0, 8, -1, 0, {}, 0);
    EXPECT_EQ(bounded.readLengthForNonTerm(100), 8u);
    EXPECT_EQ(bounded.optimalReadLength(32768, &preBuffer), 8u);
    EXPECT_TRUE(preBuffer) << "its buffer has no room: read ahead rather than grow it";

    auto caller = std::make_shared<Data>(10, 'x');
    ReadPacket into(caller, 4, 0, -1, 0, {}, 0);
    into.ensureCapacityForAdditionalData(20);
    EXPECT_EQ(caller->size(), 24u);
}

TEST_F(Reading, ToCRLFKeepsTheRestForTheNextRead) {
    auto peer = connectPair();
    sock->readDataToData(AsyncSocket::CRLFData(), -1, 1);
    peer->writeData(bytes("abc\r\ndef"), -1, 0);
    ASSERT_TRUE(client->waitFor(Kind::read));
    EXPECT_EQ(text(client->events(Kind::read)[0].data), "abc\r\n");
    sock->readData(-1, 2); // served from the pre-buffer without a read event
    ASSERT_TRUE(client->waitFor(Kind::read, 2));
    EXPECT_EQ(text(client->events(Kind::read)[1].data), "def");
}

TEST_F(Reading, FixedLengthReportsPartsThenTheWhole) {
    auto peer = connectPair();
    auto buffer = std::make_shared<Data>(bytes("head"));
    sock->readDataToLength(10, -1, 7, buffer, 4);
    peer->writeData(bytes("0123"), -1, 0);
    ASSERT_TRUE(client->waitFor(Kind::partialRead));
    EXPECT_EQ(client->events(Kind::partialRead)[0].length, 4u);
    peer->writeData(bytes("456789"), -1, 0);
    ASSERT_TRUE(client->waitFor(Kind::read));
    EXPECT_EQ(text(client->events(Kind::read)[0].data), "0123456789");
    EXPECT_EQ(client->events(Kind::read)[0].tag, 7);
    EXPECT_EQ(text(*buffer), "head0123456789") << "the caller's buffer holds the bytes after its offset";
}

namespace {
// Echoes every line; the client below writes the next one on each answer.
class LineEcho : public sockets::AsyncSocketDelegate {
public:
    std::atomic<int> answers{0};
    void socketDidReadData(AsyncSocket& sock, const Data& data, long) override {
        ++answers;
        sock.writeData(data, -1, 0);
        sock.readDataToData(AsyncSocket::CRLFData(), -1, 0);
    }
};
} // namespace

// Reads queued right behind completed ones find their bytes at once, also through TLS, where
// OpenSSL reads too: the read events those bytes raised must not be taken for the end of stream.
TEST_F(Reading, ManyRoundTripsBackToBackStayConnected) {
    for (const bool tls : {false, true}) {
        auto echo = std::make_shared<LineEcho>();
        listener->disconnect();
        listen([echo, tls](AsyncSocket& peer) {
            peer.setDelegate(echo, AsyncSocket::SetMode::synchronously);
            if (tls) {
                peer.startTLS(serverSettings());
            }
            peer.readDataToData(AsyncSocket::CRLFData(), -1, 0);
        });
        auto [rec, s] = connectClient(listener->localPort(), true);
        if (tls) {
            s->startTLS({{sockets::kTlsManuallyEvaluateTrust, true}});
        }
        for (int i = 0; i < 300; ++i) {
            s->writeData(bytes("line " + std::to_string(i) + "\r\n"), -1, 0);
            s->readDataToData(AsyncSocket::CRLFData(), -1, i);
            ASSERT_TRUE(rec->waitFor(Kind::read, size_t(i + 1))) << "tls " << tls << " round " << i;
        }
        EXPECT_EQ(rec->count(Kind::disconnected), 0u);
        EXPECT_EQ(echo->answers, 300);
    }
}

TEST_F(Reading, TerminatorReadOverItsMaximumCloses) {
    auto peer = connectPair();
    sock->readDataToData(AsyncSocket::CRLFData(), -1, 1, 8);
    peer->writeData(bytes("abcdefghij"), -1, 0);
    EXPECT_EQ(closeError(*client),
              (SocketError{kDomain, 6, "Read operation reached set maximum length", {}}));
    EXPECT_EQ(client->count(Kind::read), 0u);
}

TEST_F(Reading, TimeOutExtendedOnceReportsTheElapsedTimeThenCloses) {
    connectPair();
    client->readExtensions = {0.03};
    sock->readDataToLength(4, 0.02, 9);
    EXPECT_EQ(closeError(*client).code, 4);
    const auto questions = client->events(Kind::readTimeout);
    ASSERT_EQ(questions.size(), 2u);
    EXPECT_DOUBLE_EQ(questions[0].elapsed, 0.02);
    EXPECT_DOUBLE_EQ(questions[1].elapsed, 0.05) << "the extension counts into the elapsed time";
}

// The answer to a time-out question belongs to the read it was asked about: when it comes after
// that connection closed, it must not time out the read of the next connection.
TEST_F(Reading, LateTimeOutAnswerLeavesTheNextReadAlone) {
    connectPair();
    std::binary_semaphore answer{0};
    client->onReadTimeoutQuestion = [&answer] { answer.acquire(); };
    sock->readDataToLength(4, 0.01, 1);
    ASSERT_TRUE(client->waitFor(Kind::readTimeout));
    sock->disconnect();
    ASSERT_TRUE(sock->connectToHost("127.0.0.1", listener->localPort()));
    for (int i = 0; i < 500 && !sock->isConnected(); ++i) { // the delegate queue is busy answering
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(sock->isConnected());
    sock->readDataToLength(4, -1, 2);
    settle(sock, serverQueue);
    answer.release(); // "time out", about the first read
    settle(sock, clientQueue);
    sock->performBlock([] {});
    EXPECT_TRUE(sock->isConnected());
    EXPECT_EQ(client->count(Kind::disconnected), 1u) << "only the requested disconnect";
}

TEST_F(Reading, WriteTimeOutWithoutAnExtensionCloses) {
    connectPair(); // the peer reads nothing
    shrinkSendBuffer();
    sock->writeData(Data(8 << 20, 'w'), 0.02, 1);
    EXPECT_EQ(closeError(*client), (SocketError{kDomain, 5, "Write operation timed out", {}}));
    EXPECT_EQ(client->count(Kind::wrote), 0u);
}

TEST_F(Reading, LargeWriteInPartsThenTheNextWrite) {
    auto peer = connectPair();
    shrinkSendBuffer();
    auto big = std::make_shared<const Data>(4 << 20, 'x'); // kept, not copied
    sock->writeData(big, -1, 1);
    sock->writeData(bytes("end"), -1, 2);
    peer->readDataToLength(big->size() + 3, -1, 0);
    ASSERT_TRUE(server->waitFor(Kind::read));
    ASSERT_TRUE(client->waitFor(Kind::wrote, 2));
    const auto wrote = client->events(Kind::wrote);
    EXPECT_EQ(wrote[0].tag, 1);
    EXPECT_EQ(wrote[1].tag, 2);
    EXPECT_GT(client->count(Kind::partialWrite), 0u);
    EXPECT_EQ(server->events(Kind::read)[0].data.size(), big->size() + 3);
    settle(sock, clientQueue);
    EXPECT_EQ(big.use_count(), 1) << "the socket lets go of the bytes once they are written";
}

// The peer shuts down its sending side only.
TEST_F(Reading, EndOfStreamClosesOrHalfCloses) {
    for (const bool halfDuplex : {false, true}) {
        auto rec = std::make_shared<Recorder>();
        auto l = AsyncSocket::make(rec, serverQueue);
        ASSERT_TRUE(l->acceptOnInterface("127.0.0.1", 0));
        const int peer = streamtest::connectToLoopback(l->localPort());
        ASSERT_TRUE(rec->waitFor(Kind::accepted));
        auto s = rec->child(0);
        s->setAutoDisconnectOnClosedReadStream(!halfDuplex);
        s->readData(-1, 1);
        ASSERT_EQ(::send(peer, "bye", 3, MSG_NOSIGNAL), 3);
        ASSERT_TRUE(rec->waitFor(Kind::read));
        s->readData(-1, 2);
        ::shutdown(peer, SHUT_WR);
        if (!halfDuplex) {
            EXPECT_EQ(closeError(*rec).code, 7);
        } else {
            ASSERT_TRUE(rec->waitFor(Kind::readStreamClosed));
            s->writeData(bytes("still"), -1, 3);
            ASSERT_TRUE(rec->waitFor(Kind::wrote));
            char buffer[8] = {};
            EXPECT_EQ(::recv(peer, buffer, sizeof buffer, 0), 5);
            settle(s, serverQueue);
            EXPECT_EQ(rec->count(Kind::disconnected), 0u);
            EXPECT_EQ(rec->count(Kind::read), 1u) << "the queued read stays pending";
        }
        ::close(peer);
    }
}

TEST_F(Listening, PortZeroGivesBothFamiliesOnePort) {
    ASSERT_TRUE(listener->acceptOnPort(0));
    uint16_t port4 = 0;
    uint16_t port6 = 0;
    listener->performBlock([&] {
        port4 = sockets::portFromAddress(sockets::localAddressOf(listener->socket4FD()));
        port6 = sockets::portFromAddress(sockets::localAddressOf(listener->socket6FD()));
    });
    EXPECT_NE(port4, 0);
    EXPECT_EQ(port4, port6);
    EXPECT_FALSE(listener->isDisconnected());
    SocketError error;
    EXPECT_FALSE(listener->acceptOnPort(0, &error));
    EXPECT_EQ(error.code, 1);
    ASSERT_TRUE(sock->connectToAddress(sockets::loopbackAddress6(port6)));
    ASSERT_TRUE(client->waitFor(Kind::connected));
    EXPECT_EQ(client->events(Kind::connected)[0].host, "::1");
}

TEST_F(Listening, UnixDomainSocketUnderATemporaryPath) {
    testsupport::TempDir dir;
    const std::string path = (dir / "cue.sock").string();
    { std::ofstream(path) << "stale"; }
    ASSERT_TRUE(listener->acceptOnUrl(path)) << "a file already there is replaced";
    ASSERT_TRUE(sock->connectToUrl(path));
    ASSERT_TRUE(client->waitFor(Kind::connected));
    EXPECT_EQ(client->events(Kind::connected)[0].host, path);
    EXPECT_EQ(sock->connectedPort(), 0);
    EXPECT_EQ(sock->connectedUrl(), path);
    listener->disconnect();
    EXPECT_TRUE(std::filesystem::exists(path)) << "closing leaves the socket file";
    EXPECT_TRUE(listener->acceptOnUrl(path));

    // A path longer than the address can hold is refused, not cut to another path.
    auto other = AsyncSocket::make(server, serverQueue);
    SocketError error;
    EXPECT_FALSE(other->acceptOnUrl((dir / std::string(120, 'p')).string(), &error));
    EXPECT_EQ(error.code, 2);
    EXPECT_FALSE(sock->isDisconnected());
}

TEST_F(Listening, AdoptingAUnixDescriptorIsRefused) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    SocketError error;
    EXPECT_EQ(AsyncSocket::fromConnectedSocketFD(pair[0], client, clientQueue, nullptr, &error), nullptr);
    EXPECT_EQ(error, (SocketError{
                         kDomain,
                         8,
                         "Attempt to create socket from socket FD failed. socket FD is neither IPv4 nor IPv6",
                         {}}));
    EXPECT_EQ(::write(pair[0], "x", 1), 1) << "the descriptor is left open";
    ::close(pair[0]);
    ::close(pair[1]);
}

TEST_F(Connecting, RaceOfBothFamiliesGivesExactlyOneConnect) {
    ASSERT_TRUE(listener->acceptOnPort(0));
    const uint16_t port = listener->localPort();
    for (const double delay : {0.0, 0.05}) {
        auto rec = std::make_shared<Recorder>();
        auto s = AsyncSocket::make(rec, clientQueue);
        s->setAlternateAddressDelay(delay);
        ASSERT_TRUE(s->connectToHost("localhost", port));
        ASSERT_TRUE(rec->waitFor(Kind::connected));
        s->performBlock([] {});
        clientQueue->asyncAfter(100ms, [] {});
        std::this_thread::sleep_for(100ms);
        settle(s, clientQueue);
        EXPECT_EQ(rec->count(Kind::connected), 1u) << "delay " << delay;
        EXPECT_NE(s->isIPv4(), s->isIPv6()) << "the losing family's socket is closed";
    }
}

TEST_F(Connecting, RefusedPreferredFamilyIsSilentWhileTheOtherConnects) {
    listener->setIPv4Enabled(false);
    ASSERT_TRUE(listener->acceptOnInterface("localhost", 0)); // ::1 only: IPv4 is refused
    sock->setAlternateAddressDelay(0.02);
    ASSERT_TRUE(sock->connectToHost("localhost", listener->localPort()));
    ASSERT_TRUE(client->waitFor(Kind::connected));
    EXPECT_EQ(client->events(Kind::connected)[0].host, "::1");
    EXPECT_EQ(client->count(Kind::disconnected), 0u);
}

TEST_F(Connecting, DisconnectDuringTheLookupDropsItsResult) {
    ASSERT_TRUE(listener->acceptOnPort(0));
    bool started = false;
    sock->performBlock([&] { // on the socket queue: the lookup cannot answer in between
        started = sock->connectToHost("localhost", listener->localPort());
        sock->disconnect();
    });
    ASSERT_TRUE(started);
    std::this_thread::sleep_for(50ms); // the lookup's answer comes back meanwhile
    settle(sock, clientQueue);
    EXPECT_EQ(client->count(Kind::connected), 0u);
    EXPECT_EQ(client->count(Kind::disconnected), 1u);
    EXPECT_TRUE(sock->isDisconnected());
}

TEST_F(Connecting, RefusalsBeforeStarting) {
    SocketError error;
    EXPECT_FALSE(sock->connectToHost("", 80, -1, &error));
    EXPECT_EQ(error.code, 2);
    EXPECT_FALSE(sock->connectToAddress(Address(20, 0), -1, &error));
    EXPECT_EQ(error, (SocketError{kDomain, 2, "A valid IPv4 or IPv6 address was not given", {}}));
    ASSERT_TRUE(listener->acceptOnInterface("127.0.0.1", 0));
    // A service's addresses are tried in turn: the malformed one is skipped.
    ASSERT_TRUE(sock->connectToAddresses({Address(20, 0), sockets::loopbackAddress4(listener->localPort())}));
    EXPECT_FALSE(sock->connectToAddress(sockets::loopbackAddress4(listener->localPort()), -1, &error));
    EXPECT_EQ(error.message,
              "Attempting to connect while connected or accepting connections. Disconnect first.");
}

// A listener whose backlog is full drops new handshakes, so a connect stays in progress: the
// time-out must end it without a blocked thread, close its descriptor at once, and no late
// result of that attempt may reach the next connection of the same object.
TEST_F(Connecting, TimeOutEndsAConnectInProgress) {
    uint16_t port = 0;
    const int full = streamtest::listenOnLoopback(0, &port, SOCK_NONBLOCK);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        fillers.push_back(streamtest::connectToLoopback(port, SOCK_NONBLOCK));
    }
    std::this_thread::sleep_for(20ms);
    auto warmUp = dispatch::TimerSource::make(clientQueue); // the event thread's own descriptors
    warmUp->cancel();
    const size_t descriptors = openDescriptors();
    ASSERT_TRUE(sock->connectToAddress(sockets::loopbackAddress4(port), 0.05));
    int mode = 0;
    sock->performBlock([&] { mode = fcntl(sock->socket4FD(), F_GETFL); });
    EXPECT_TRUE(mode & O_NONBLOCK) << "no thread waits in connect() while the attempt is under way";
    EXPECT_EQ(closeError(*client), (SocketError{kDomain, 3, "Attempt to connect to host timed out", {}}));
    settle(sock, clientQueue);
    EXPECT_EQ(openDescriptors(), descriptors) << "the attempt's descriptor is closed with the time-out";

    ASSERT_TRUE(listener->acceptOnInterface("127.0.0.1", 0));
    ASSERT_TRUE(sock->connectToAddress(sockets::loopbackAddress4(listener->localPort())));
    ASSERT_TRUE(client->waitFor(Kind::connected));
    // Let the full listener take the old handshake, should it ever complete.
    for (int fd; (fd = ::accept4(full, nullptr, nullptr, SOCK_NONBLOCK)) >= 0;) {
        ::close(fd);
    }
    settle(sock, clientQueue);
    EXPECT_EQ(client->count(Kind::connected), 1u);
    EXPECT_EQ(client->count(Kind::disconnected), 1u);
    EXPECT_TRUE(sock->isConnected());
    for (int fd : fillers) {
        ::close(fd);
    }
    ::close(full);
}

TEST_F(Connecting, UnixPathWithoutListenerReportsTheConnectError) {
    testsupport::TempDir dir;
    ASSERT_TRUE(sock->connectToUrl((dir / "nobody").string()));
    EXPECT_EQ(closeError(*client), (SocketError{sockets::kPosixErrorDomain, ENOENT, std::strerror(ENOENT),
                                                "Error in connect() function"}));
}

TEST_F(Closing, DisconnectAfterWritingDeliversEverythingFirst) {
    auto peer = connectPair();
    Data big(1 << 20, 'y');
    sock->writeData(big, -1, 1);
    sock->disconnectAfterWriting();
    sock->readData(-1, 2); // dropped: no new requests after a disconnect-after
    peer->readDataToLength(big.size(), -1, 0);
    ASSERT_TRUE(server->waitFor(Kind::read));
    ASSERT_TRUE(client->waitFor(Kind::disconnected));
    EXPECT_FALSE(client->events(Kind::disconnected)[0].error) << "a requested close carries no error";
    EXPECT_EQ(client->count(Kind::wrote), 1u);
    EXPECT_EQ(client->count(Kind::read), 0u);
    EXPECT_TRUE(sock->isDisconnected());
}

TEST_F(Closing, IdleDisconnectIsSilentAndDestructionReportsANullSocket) {
    sock->disconnect();
    settle(sock, clientQueue);
    EXPECT_EQ(client->count(Kind::disconnected), 0u);
    sock->setIPv6Enabled(false);
    connectPair();
    sock.reset();
    ASSERT_TRUE(client->waitFor(Kind::disconnected));
    const auto event = client->events(Kind::disconnected)[0];
    EXPECT_TRUE(event.nullSocket);
    EXPECT_FALSE(event.error);
}

TEST_F(Tls, ClearTextBeforeStartTlsEncryptedAfter) {
    SocketError error;
    ASSERT_TRUE(listener->acceptOnInterface("127.0.0.1", 0, &error));
    server->onAccept = [](AsyncSocket& peer) {
        peer.readDataToData(AsyncSocket::CRLFData(), -1, 1);
        peer.startTLS(serverSettings());
        peer.readDataToData(AsyncSocket::CRLFData(), -1, 2);
    };
    streamtest::Relay relay(listener->localPort());
    client->trustAnswer = true;
    ASSERT_TRUE(sock->connectToHost("127.0.0.1", relay.port(), -1, &error));
    sock->writeData(bytes("CLEARTEXT\r\n"), -1, 1);
    sock->startTLS(manualClient());
    sock->startTLS(manualClient()); // ignored
    sock->writeData(bytes("SECRET\r\n"), -1, 2);
    ASSERT_TRUE(server->waitFor(Kind::read, 2));
    const auto reads = server->events(Kind::read);
    EXPECT_EQ(text(reads[0].data), "CLEARTEXT\r\n");
    EXPECT_EQ(text(reads[1].data), "SECRET\r\n");
    // "Secured" reaches the client's delegate queue on its own time, maybe after the server read.
    ASSERT_TRUE(client->waitFor(Kind::secured));
    EXPECT_EQ(client->count(Kind::secured), 1u);
    EXPECT_EQ(client->count(Kind::trust), 1u);
    EXPECT_TRUE(sock->isSecure());
    const std::string wire = relay.seen();
    EXPECT_NE(wire.find("CLEARTEXT"), std::string::npos);
    EXPECT_EQ(wire.find("SECRET"), std::string::npos);
}

// Megabytes through TLS both ways at once, then a close after writing that loses nothing.
TEST_F(Tls, LargeWritesBothWaysThenDisconnectAfterWriting) {
    auto peer = connectPair();
    peer->startTLS(serverSettings());
    client->trustAnswer = true;
    sock->startTLS(manualClient());
    const Data big(3 << 20, 'z');
    sock->writeData(big, -1, 1);
    peer->writeData(big, -1, 2);
    sock->readDataToLength(big.size(), -1, 3);
    peer->readDataToLength(big.size(), -1, 4);
    ASSERT_TRUE(client->waitFor(Kind::read));
    ASSERT_TRUE(server->waitFor(Kind::read));
    EXPECT_EQ(client->events(Kind::read)[0].data, big);
    EXPECT_EQ(server->events(Kind::read)[0].data, big);
    peer->readDataToLength(5, -1, 5);
    sock->writeData(bytes("last!"), -1, 6);
    sock->disconnectAfterWriting();
    ASSERT_TRUE(server->waitFor(Kind::read, 2));
    EXPECT_EQ(text(server->events(Kind::read)[1].data), "last!");
    ASSERT_TRUE(client->waitFor(Kind::disconnected));
    EXPECT_FALSE(client->events(Kind::disconnected)[0].error);
}

// Handshakes the client ends: settings it cannot honour, a peer its delegate or the default
// verification does not trust (the test identity is self-signed).
TEST_F(Tls, HandshakesTheClientRefuses) {
    struct Case {
        const char* name;
        sockets::TlsSettings settings;
        std::string message; // of the settings refused; empty: a refused peer
        std::optional<bool> trust = std::nullopt;
        int tlsCode = 0;
    };
    const Case cases[] = {
        {"manual trust on a server",
         {{sockets::kTlsIsServer, true}, {sockets::kTlsManuallyEvaluateTrust, true}},
         "Manual trust validation is not supported for server sockets"},
        {"protocol level",
         {{sockets::kTlsLevel, std::string("TLSv1.2")}},
         "Security option unavailable - kCFStreamSSLLevel"},
        {"peer name of the wrong type",
         {{sockets::kTlsPeerName, int64_t{1}}},
         "Invalid value for kCFStreamSSLPeerName."},
        {"manual trust without a delegate answer", manualClient(),
         "AsyncSocketManuallyEvaluateTrust specified in tlsSettings, but delegate doesn't implement "
         "socket:shouldTrustPeer:"},
        {"trust answered no", manualClient(), {}, false, sockets::tls::kPeerBadCert},
        {"default verification",
         {{sockets::kTlsPeerName, std::string("localhost")}},
         {},
         {},
         sockets::tls::kCertChainInvalid},
    };
    listen([](AsyncSocket& peer) { peer.startTLS(serverSettings()); });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto [rec, s] = connectClient(listener->localPort(), c.trust);
        s->startTLS(c.settings);
        if (c.tlsCode != 0) {
            expectTlsRefused(*rec, c.tlsCode);
            continue;
        }
        const auto error = closeError(*rec);
        EXPECT_EQ(error, (SocketError{kDomain, 8, c.message, {}}));
    }
}

TEST_F(Tls, SessionResumedByPeerIdAndAlpnNegotiated) {
    listen([](AsyncSocket& peer) {
        peer.startTLS(with(serverSettings(), {{sockets::kTlsALPN, std::vector<std::string>{"cue/1"}}}));
        peer.writeData(bytes("k"), -1, 0); // behind the session tickets
    });
    static int run = 0; // the session cache lives as long as the process
    const Data peerID = bytes("session-test-peer-" + std::to_string(++run));
    for (int round = 0; round < 2; ++round) {
        auto [rec, s] = connectClient(listener->localPort(), true);
        s->startTLS(with(manualClient(), {{sockets::kTlsPeerID, peerID},
                                          {sockets::kTlsALPN, std::vector<std::string>{"h2", "cue/1"}}}));
        s->readDataToLength(1, -1, 0);
        ASSERT_TRUE(rec->waitFor(Kind::read));
        int reused = -1;
        std::string protocol;
        s->performBlock([&] {
            reused = SSL_session_reused(s->sslContext());
            const unsigned char* name = nullptr;
            unsigned length = 0;
            SSL_get0_alpn_selected(s->sslContext(), &name, &length);
            protocol.assign(reinterpret_cast<const char*>(name), length);
        });
        EXPECT_EQ(reused, round) << "the second connection resumes the first one's session";
        EXPECT_EQ(protocol, "cue/1");
        EXPECT_EQ(rec->count(Kind::trust), round == 0 ? 1u : 0u) << "a resumed session asks no trust";
    }
}

namespace {
// The test identity as PKCS#12 protected by `password`.
Data pkcs12Identity(const char* password) {
    const std::string& pem = testsupport::testIdentityPem();
    BIO* in = BIO_new_mem_buf(pem.data(), int(pem.size()));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(in, nullptr, nullptr, nullptr);
    X509* cert = PEM_read_bio_X509(in, nullptr, nullptr, nullptr);
    BIO_free(in);
    PKCS12* p12 = PKCS12_create(password, "cue", key, cert, nullptr, 0, 0, 0, 0, 0);
    unsigned char* der = nullptr;
    const int length = i2d_PKCS12(p12, &der);
    Data out(der, der + length);
    OPENSSL_free(der);
    PKCS12_free(p12);
    X509_free(cert);
    EVP_PKEY_free(key);
    return out;
}
} // namespace

TEST_F(Tls, SettingsThatShapeTheHandshake) {
    struct Case {
        const char* name;
        sockets::TlsSettings server;
        sockets::TlsSettings client;
        int cipher; // the suite expected, 0 for any; -1: the handshake must fail
    };
    const Case cases[] = {
        {"identity as PKCS#12",
         {{sockets::kTlsIsServer, true},
          {sockets::kTlsCertificates, std::vector<Data>{pkcs12Identity("secret")}},
          {sockets::kTlsPkcs12Password, std::string("secret")}},
         manualClient(),
         0},
        {"cipher suite chosen by number", serverSettings(), // TLS_AES_256_GCM_SHA384
         with(manualClient(), {{sockets::kTlsCipherSuites, std::vector<int64_t>{0x1302}}}), 0x1302},
        {"no common protocol version",
         with(serverSettings(), {{sockets::kTlsProtocolVersionMin, int64_t{TLS1_3_VERSION}}}),
         with(manualClient(), {{sockets::kTlsProtocolVersionMax, int64_t{TLS1_2_VERSION}},
                               {sockets::kTlsProtocolVersionMin, int64_t{0}}}), // the minimum is ignored
         -1},
    };
    ASSERT_TRUE(listener->acceptOnInterface("127.0.0.1", 0));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server->onAccept = [settings = c.server](AsyncSocket& peer) { peer.startTLS(settings); };
        auto [rec, s] = connectClient(listener->localPort(), true);
        s->startTLS(c.client);
        if (c.cipher < 0) {
            expectTlsRefused(*rec, sockets::tls::kProtocol, "version");
            continue;
        }
        ASSERT_TRUE(rec->waitFor(Kind::secured));
        int cipher = 0;
        s->performBlock(
            [&] { cipher = SSL_CIPHER_get_protocol_id(SSL_get_current_cipher(s->sslContext())); });
        if (c.cipher > 0) {
            EXPECT_EQ(cipher, c.cipher);
        }
    }
}

TEST_F(Packets, AddressUtilitiesAndTerminators) {
    SocketError error;
    const auto local = AsyncSocket::lookupHost("localhost", 80, &error);
    ASSERT_EQ(local.size(), 2u);
    EXPECT_EQ(sockets::hostFromAddress(local[0]), "127.0.0.1");
    EXPECT_EQ(sockets::hostFromAddress(local[1]), "::1");
    EXPECT_EQ(sockets::portFromAddress(local[1]), 80);

    const auto any = sockets::stream::streamInterfaceAddresses(":8080", 0);
    EXPECT_EQ(sockets::hostFromAddress(any.ipv4), "0.0.0.0");
    EXPECT_EQ(sockets::portFromAddress(any.ipv6), 8080);
    EXPECT_EQ(sockets::portFromAddress(sockets::stream::streamInterfaceAddresses("lo:8080", 9).ipv4), 9)
        << "the given port wins over the description's";
    EXPECT_TRUE(sockets::stream::streamInterfaceAddresses("no-such-interface", 0).ipv4.empty());

    EXPECT_EQ(AsyncSocket::CRLFData(), (Data{'\r', '\n'}));
    EXPECT_EQ(AsyncSocket::ZeroData(), (Data{0})) << "one zero byte, not empty";
}

// A listener's port is free again as soon as disconnect() returns or the listener is gone, also
// for a listener on another queue and one destroyed on its own socket queue.
TEST_F(Listening, ThePortIsFreeTheMomentTheListenerCloses) {
    ASSERT_TRUE(listener->acceptOnInterface("127.0.0.1", 0));
    const uint16_t port = listener->localPort();
    for (int round = 0; round < 200; ++round) {
        const auto queue = dispatch::Queue::makeSerial("test.stream.relisten");
        auto next = AsyncSocket::make(server, serverQueue, queue);
        if (round % 2 == 0) {
            listener->disconnect();
        } else {
            listener->performBlock([&] { listener.reset(); }); // destroyed on its own queue
        }
        SocketError error;
        ASSERT_TRUE(next->acceptOnInterface("127.0.0.1", port, &error))
            << (round % 2 == 0 ? "after disconnect" : "after destruction") << ", round " << round << ": "
            << error.message;
        listener = next;
    }
}

// The shared address split leaves its outputs as they were when the buffer holds no address.
TEST_F(Packets, AddressSplitLeavesItsOutputsWhenItFails) {
    Address short6 = sockets::loopbackAddress6(1);
    short6.resize(16);
    Address short4 = sockets::loopbackAddress4(1);
    short4.resize(15);
    for (const Address& address : {short6, short4, Address{}}) {
        std::string host = "kept";
        uint16_t port = 7;
        int family = 99;
        EXPECT_FALSE(sockets::getHost(&host, &port, &family, address)) << address.size();
        EXPECT_EQ(host, "kept");
        EXPECT_EQ(port, 7);
        EXPECT_EQ(family, 99);
    }
}

// A client that connects and never starts its handshake is cut at the time-out of what waits
// behind the start of TLS, or at the settings' own handshake time-out.
TEST_F(Tls, ASilentClientIsCutAtTheHandshakeTimeOut) {
    struct Case {
        const char* name;
        std::function<void(AsyncSocket&)> setUp;
        int code; // of the close error
    };
    const Case cases[] = {
        {"a read behind it",
         [](AsyncSocket& peer) {
             peer.startTLS(serverSettings());
             peer.readData(0.2, 1);
         },
         4},
        {"a write behind it",
         [](AsyncSocket& peer) {
             peer.startTLS(serverSettings());
             peer.writeData(bytes("hello"), 0.2, 1);
             peer.readData(-1, 1);
         },
         5},
        {"the settings' own time-out",
         [](AsyncSocket& peer) {
             peer.startTLS(with(serverSettings(), {{sockets::kTlsHandshakeTimeout, int64_t{1}}}));
             peer.readData(-1, 1);
         },
         4},
    };
    ASSERT_TRUE(listener->acceptOnInterface("127.0.0.1", 0));
    for (const Case& c : cases) {
        server = std::make_shared<Recorder>();
        server->onAccept = c.setUp;
        listener->setDelegate(server, AsyncSocket::SetMode::synchronously);
        const int silent = streamtest::connectToLoopback(listener->localPort());
        ASSERT_TRUE(server->waitFor(Kind::disconnected)) << c.name;
        const auto error = closeError(*server);
        EXPECT_EQ(error.domain, kDomain) << c.name;
        EXPECT_EQ(error.code, c.code) << c.name;
        char byte = 0;
        EXPECT_LE(::recv(silent, &byte, 1, 0), 0) << c.name << ": the client sees the end";
        ::close(silent);
    }
}

// However large the settings' handshake time-out, it waits at least as long as a smaller one:
// the silent clients given the largest are all still held when the one given a second is cut.
TEST_F(Tls, ALargerHandshakeTimeOutNeverEndsSooner) {
    ASSERT_TRUE(listener->acceptOnInterface("127.0.0.1", 0));
    const int64_t timeouts[] = {INT64_MAX, int64_t{1} << 62, 10'000'000'000'000, 1'000'000'000, 1};
    std::vector<std::shared_ptr<Recorder>> recorders;
    std::vector<int> silent;
    for (const int64_t timeout : timeouts) {
        auto recorder = std::make_shared<Recorder>();
        recorder->onAccept = [timeout](AsyncSocket& peer) {
            peer.startTLS(with(serverSettings(), {{sockets::kTlsHandshakeTimeout, timeout}}));
            peer.readData(-1, 1);
        };
        listener->setDelegate(recorder, AsyncSocket::SetMode::synchronously);
        silent.push_back(streamtest::connectToLoopback(listener->localPort()));
        ASSERT_TRUE(recorder->waitFor(Kind::accepted)) << timeout;
        recorders.push_back(recorder);
    }
    ASSERT_TRUE(recorders.back()->waitFor(Kind::disconnected));
    for (size_t i = 0; i + 1 < recorders.size(); ++i) {
        EXPECT_EQ(recorders[i]->count(Kind::disconnected), 0u) << timeouts[i];
    }
    for (const int fd : silent) {
        ::close(fd);
    }
}

namespace {

// The tests' own authority joins the system's roots. Set while the program starts, before the
// first client context reads them; the self-signed test identity stays untrusted.
const testsupport::TempDir authorityDir;
const bool authorityTrusted = [] {
    const std::string path = (authorityDir / "authority.pem").string();
    std::ofstream(path) << testsupport::testAuthorityPem();
    return ::setenv("SSL_CERT_FILE", path.c_str(), 1) == 0;
}();

} // namespace

// Default verification: a client connected by host name expects the certificate to name that
// host, unless it names another itself; one connected to a bare address, by text or as an
// address, expects that address among the certificate's IP entries.
TEST_F(Tls, TheCertificateMustNameTheHostOrAddressConnectedTo) {
    ASSERT_TRUE(authorityTrusted);
    const sockets::TlsSettings ownName = {{sockets::kTlsPeerName, std::string("other.example")}};
    struct Case {
        std::string host; // listened on and connected to
        std::string certificateHost;
        std::string subjectAltName; // empty: the certificate host's DNS name
        bool secured;
        sockets::TlsSettings client = {};
        bool byAddress = false; // connectToAddress instead of connectToHost
    };
    const Case cases[] = {
        {"localhost", "other.example", "", false},
        {"localhost", "localhost", "", true},
        {"localhost", "other.example", "", true, ownName},
        {"127.0.0.1", "other.example", "", false},
        {"::1", "other.example", "", false},
        {"127.0.0.1", "other.example", "DNS:127.0.0.1", false}, // a name that reads like the address
        {"127.0.0.1", "other.example", "IP:10.0.0.1,IP:::1", false},
        {"::1", "other.example", "", false, {}, true},
        {"127.0.0.1", "other.example", "IP:127.0.0.1", true},
        {"::1", "other.example", "DNS:other.example,IP:::1", true},
        {"::1", "other.example", "IP:::1", true, {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host + " " + c.certificateHost + " " + c.subjectAltName +
                     (c.byAddress ? " (address)" : "") + (c.client.empty() ? "" : " (own name)"));
        const Data identity = bytes(testsupport::testLeafPem(c.certificateHost, c.subjectAltName));
        auto l = AsyncSocket::make(server, serverQueue);
        ASSERT_TRUE(l->acceptOnInterface(c.host, 0));
        server->onAccept = [identity](AsyncSocket& peer) {
            peer.startTLS(
                {{sockets::kTlsIsServer, true}, {sockets::kTlsCertificates, std::vector<Data>{identity}}});
        };
        auto rec = std::make_shared<Recorder>();
        auto s = AsyncSocket::make(rec, clientQueue);
        ASSERT_TRUE(c.byAddress ? s->connectToAddress(sockets::loopbackAddress6(l->localPort()))
                                : s->connectToHost(c.host, l->localPort()));
        s->startTLS(c.client);
        if (c.secured) {
            EXPECT_TRUE(rec->waitFor(Kind::secured));
            continue;
        }
        expectTlsRefused(*rec, sockets::tls::kCertChainInvalid,
                         c.host == "localhost" ? "hostname mismatch" : "IP address mismatch");
    }
}

// TCP on loopback: AsyncSocket beside Asio, plain and with TLS 1.3 (Asio's ssl::stream).
//
// Echo round trip: the client writes 64 bytes, the server echoes them, the client writes again
// on the answer (one in flight), kRoundTrips per iteration. Throughput: kWrites writes of 64 KiB
// one way, the receiver counting bytes. Handshake: connect, TLS 1.3 handshake both ways, close.
// Both sides of each run have their own threads: our socket and delegate queues, Asio's
// io_contexts.
#include "sockets/AsyncSocket.h"
#include "support/Ratios.h"
#include "support/TestCertificate.h"

#include "dispatch/Queue.h"

#include <asio.hpp>
#include <asio/ssl.hpp>
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <semaphore>
#include <stdexcept>
#include <thread>

namespace {

constexpr int kRoundTrips = 1000;
constexpr size_t kPayload = 64;
constexpr int kWrites = 256;
constexpr size_t kChunk = 64 * 1024;
constexpr auto kStall = std::chrono::seconds(10);

using sockets::AsyncSocket;
using sockets::Data;

const std::string& identityPem() {
    return testsupport::testIdentityPem();
}

sockets::TlsSettings serverTls() {
    return {{sockets::kTlsIsServer, true},
            {sockets::kTlsCertificates, std::vector<Data>{Data(identityPem().begin(), identityPem().end())}},
            {sockets::kTlsProtocolVersionMin, int64_t{TLS1_3_VERSION}}};
}

sockets::TlsSettings clientTls() {
    return {{sockets::kTlsManuallyEvaluateTrust, true},
            {sockets::kTlsPeerName, std::string("localhost")},
            {sockets::kTlsProtocolVersionMin, int64_t{TLS1_3_VERSION}}};
}

// ---- AsyncSocket -------------------------------------------------------------------------------

enum class Mode { echo, sink };

// The server side: echoes what it reads, or counts it.
class Server : public sockets::AsyncSocketDelegate {
public:
    Mode mode = Mode::echo;
    bool tls = false;
    std::atomic<uint64_t> target{0};
    uint64_t received = 0;
    std::binary_semaphore done{0};
    std::vector<std::shared_ptr<AsyncSocket>> children;

    void socketDidAcceptNewSocket(AsyncSocket&, std::shared_ptr<AsyncSocket> child) override {
        children.push_back(child);
        if (tls) {
            child->startTLS(serverTls());
        }
        readNext(*child);
    }
    void socketDidReadData(AsyncSocket& sock, const Data& data, long) override {
        if (mode == Mode::echo) {
            sock.writeData(data, -1, 0);
        } else if ((received += data.size()) == target.load()) {
            received = 0;
            done.release();
        }
        readNext(sock);
    }
    void readNext(AsyncSocket& sock) {
        if (mode == Mode::echo) {
            sock.readDataToLength(kPayload, -1, 0);
        } else {
            sock.readData(-1, 0);
        }
    }
};

// The client side: writes the next request on each answer; signals when secured or done.
class Client : public sockets::AsyncSocketDelegate {
public:
    std::atomic<int> target{0};
    int received = 0;
    std::binary_semaphore done{0};
    std::counting_semaphore<4> ready{0}; // connected, then secured

    void socketDidConnectToHost(AsyncSocket&, const std::string&, uint16_t) override { ready.release(); }
    void socketDidSecure(AsyncSocket&) override { ready.release(); }
    bool socketDidReceiveTrust(AsyncSocket&, const sockets::TlsTrust&,
                               std::function<void(bool)> completion) override {
        completion(true);
        return true;
    }
    void socketDidReadData(AsyncSocket& sock, const Data& data, long) override {
        if (++received < target.load()) {
            sock.writeData(data, -1, 0);
            sock.readDataToLength(kPayload, -1, 0);
            return;
        }
        done.release();
    }
    void socketDidWriteData(AsyncSocket&, long tag) override {
        if (tag == 1) {
            done.release();
        }
    }
};

struct OurPair {
    std::shared_ptr<Server> serverDelegate = std::make_shared<Server>();
    std::shared_ptr<Client> clientDelegate = std::make_shared<Client>();
    std::shared_ptr<AsyncSocket> listener;
    std::shared_ptr<AsyncSocket> client;

    OurPair(Mode mode, bool tls) {
        serverDelegate->mode = mode;
        serverDelegate->tls = tls;
        listener = AsyncSocket::make(serverDelegate, dispatch::Queue::makeSerial("bench.server.delegate"));
        if (!listener->acceptOnInterface("127.0.0.1", 0)) {
            throw std::runtime_error("cannot listen");
        }
    }
    // To an address, as Asio's client does, with TLS queued behind the connect at once.
    bool connect(bool tls) {
        client = AsyncSocket::make(clientDelegate, dispatch::Queue::makeSerial("bench.client.delegate"));
        if (!client->connectToAddress(sockets::loopbackAddress4(listener->localPort()))) {
            return false;
        }
        if (tls) {
            client->startTLS(clientTls());
            return clientDelegate->ready.try_acquire_for(kStall) &&
                   clientDelegate->ready.try_acquire_for(kStall);
        }
        return clientDelegate->ready.try_acquire_for(kStall);
    }
};

void echoOurs(benchmark::State& state, bool tls) {
    OurPair pair(Mode::echo, tls);
    if (!pair.connect(tls)) {
        state.SkipWithError("cannot connect");
        return;
    }
    const Data request(kPayload, 'r');
    for (auto _ : state) {
        pair.clientDelegate->received = 0;
        pair.clientDelegate->target = kRoundTrips;
        pair.client->writeData(request, -1, 0);
        pair.client->readDataToLength(kPayload, -1, 0);
        if (!pair.clientDelegate->done.try_acquire_for(kStall)) {
            state.SkipWithError("stalled");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * kRoundTrips);
}

void BM_EchoRTT_AsyncSocket(benchmark::State& state) {
    echoOurs(state, false);
}

void BM_TlsEchoRTT_AsyncSocket(benchmark::State& state) {
    echoOurs(state, true);
}

void BM_Throughput_AsyncSocket(benchmark::State& state) {
    OurPair pair(Mode::sink, false);
    if (!pair.connect(false)) {
        state.SkipWithError("cannot connect");
        return;
    }
    pair.serverDelegate->target = uint64_t{kWrites} * kChunk;
    const auto chunk = std::make_shared<const Data>(kChunk, 'w');
    for (auto _ : state) {
        for (int i = 0; i < kWrites; ++i) {
            pair.client->writeData(chunk, -1, 0);
        }
        if (!pair.serverDelegate->done.try_acquire_for(kStall)) {
            state.SkipWithError("stalled");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * kWrites * int64_t(kChunk));
}

void BM_TlsHandshake_AsyncSocket(benchmark::State& state) {
    OurPair pair(Mode::echo, true);
    for (auto _ : state) {
        if (!pair.connect(true)) {
            state.SkipWithError("cannot connect");
            break;
        }
        pair.client.reset();
    }
}

// ---- Asio ----------------------------------------------------------------------------------------

using asio::ip::tcp;
using SslStream = asio::ssl::stream<tcp::socket>;

tcp::socket& lowest(SslStream& s) {
    return s.next_layer();
}

asio::ssl::context serverContext() {
    asio::ssl::context ctx(asio::ssl::context::tls_server);
    SSL_CTX_set_min_proto_version(ctx.native_handle(), TLS1_3_VERSION);
    ctx.use_certificate_chain(asio::buffer(identityPem()));
    ctx.use_private_key(asio::buffer(identityPem()), asio::ssl::context::pem);
    return ctx;
}

asio::ssl::context clientContext() {
    asio::ssl::context ctx(asio::ssl::context::tls_client);
    SSL_CTX_set_min_proto_version(ctx.native_handle(), TLS1_3_VERSION);
    ctx.add_certificate_authority(asio::buffer(identityPem()));
    ctx.set_verify_mode(asio::ssl::verify_peer);
    return ctx;
}

// An echo or sink session on the server's io_context.
template <class Stream> struct Session : std::enable_shared_from_this<Session<Stream>> {
    explicit Session(Stream s)
        : stream(std::move(s)) {}
    Stream stream;
    std::array<uint8_t, kChunk> buffer{};
    Mode mode = Mode::echo;
    std::function<void(size_t)> onBytes;

    void start() {
        auto self = this->shared_from_this();
        if (mode == Mode::echo) {
            asio::async_read(
                stream, asio::buffer(buffer.data(), kPayload), [self](std::error_code e, size_t) {
                    if (!e) {
                        asio::async_write(self->stream, asio::buffer(self->buffer.data(), kPayload),
                                          [self](std::error_code e2, size_t) {
                                              if (!e2) {
                                                  self->start();
                                              }
                                          });
                    }
                });
        } else {
            stream.async_read_some(asio::buffer(buffer), [self](std::error_code e, size_t n) {
                if (!e) {
                    self->onBytes(n);
                    self->start();
                }
            });
        }
    }
};

struct AsioServer {
    asio::io_context io;
    asio::executor_work_guard<asio::io_context::executor_type> guard = asio::make_work_guard(io);
    tcp::acceptor acceptor{io, tcp::endpoint(asio::ip::address_v4::loopback(), 0)};
    asio::ssl::context tlsContext = serverContext();
    std::thread thread;
    Mode mode;
    bool tls;
    std::function<void(size_t)> onBytes;

    AsioServer(Mode m, bool t)
        : mode(m)
        , tls(t) {
        accept();
        thread = std::thread([this] { io.run(); });
    }
    ~AsioServer() {
        guard.reset();
        io.stop();
        thread.join();
    }
    uint16_t port() const { return acceptor.local_endpoint().port(); }
    void accept() {
        acceptor.async_accept([this](std::error_code e, tcp::socket s) {
            if (e) {
                return;
            }
            if (tls) {
                auto session = std::make_shared<Session<SslStream>>(SslStream(std::move(s), tlsContext));
                session->mode = mode;
                session->stream.async_handshake(asio::ssl::stream_base::server,
                                                [session](std::error_code he) {
                                                    if (!he) {
                                                        session->start();
                                                    }
                                                });
            } else {
                auto session = std::make_shared<Session<tcp::socket>>(std::move(s));
                session->mode = mode;
                session->onBytes = onBytes;
                session->start();
            }
            accept();
        });
    }
};

struct AsioClient {
    asio::io_context io;
    asio::executor_work_guard<asio::io_context::executor_type> guard = asio::make_work_guard(io);
    asio::ssl::context tlsContext = clientContext();
    std::thread thread{[this] { io.run(); }};
    ~AsioClient() {
        guard.reset();
        io.stop();
        thread.join();
    }
};

// Closes on the client's thread, which owns the socket, and waits for it.
void closeOn(AsioClient& client, tcp::socket& socket) {
    std::binary_semaphore closed{0};
    asio::post(client.io, [&] {
        std::error_code ignored;
        socket.close(ignored);
        closed.release();
    });
    closed.acquire();
}

template <class Stream>
void echoChain(Stream& stream, std::array<uint8_t, kPayload>& buffer, int& left,
               std::binary_semaphore& done) {
    asio::async_write(stream, asio::buffer(buffer), [&](std::error_code e, size_t) {
        if (e) {
            return;
        }
        asio::async_read(stream, asio::buffer(buffer), [&](std::error_code e2, size_t) {
            if (e2) {
                return;
            }
            if (--left > 0) {
                echoChain(stream, buffer, left, done);
            } else {
                done.release();
            }
        });
    });
}

template <class Stream> void echoAsio(benchmark::State& state, Stream& stream, AsioClient& client) {
    std::array<uint8_t, kPayload> buffer{};
    std::binary_semaphore done{0};
    int left = 0;
    for (auto _ : state) {
        left = kRoundTrips;
        asio::post(client.io, [&] { echoChain(stream, buffer, left, done); });
        if (!done.try_acquire_for(kStall)) {
            state.SkipWithError("stalled");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * kRoundTrips);
}

void BM_EchoRTT_Asio(benchmark::State& state) {
    AsioServer server(Mode::echo, false);
    AsioClient client;
    tcp::socket socket(client.io);
    socket.connect(tcp::endpoint(asio::ip::address_v4::loopback(), server.port()));
    echoAsio(state, socket, client);
    closeOn(client, socket);
}

void BM_TlsEchoRTT_Asio(benchmark::State& state) {
    AsioServer server(Mode::echo, true);
    AsioClient client;
    SslStream stream(client.io, client.tlsContext);
    stream.next_layer().connect(tcp::endpoint(asio::ip::address_v4::loopback(), server.port()));
    SSL_set_tlsext_host_name(stream.native_handle(), "localhost");
    stream.handshake(asio::ssl::stream_base::client);
    echoAsio(state, stream, client);
    closeOn(client, lowest(stream));
}

void BM_Throughput_Asio(benchmark::State& state) {
    std::binary_semaphore done{0};
    uint64_t received = 0;
    const uint64_t target = uint64_t{kWrites} * kChunk;
    AsioServer server(Mode::sink, false);
    server.onBytes = [&](size_t n) {
        if ((received += n) == target) {
            received = 0;
            done.release();
        }
    };
    AsioClient client;
    tcp::socket socket(client.io);
    socket.connect(tcp::endpoint(asio::ip::address_v4::loopback(), server.port()));
    std::vector<uint8_t> chunk(kChunk, 'w');
    int left = 0;
    std::function<void()> next = [&] {
        asio::async_write(socket, asio::buffer(chunk), [&](std::error_code e, size_t) {
            if (!e && --left > 0) {
                next();
            }
        });
    };
    for (auto _ : state) {
        left = kWrites;
        asio::post(client.io, next);
        if (!done.try_acquire_for(kStall)) {
            state.SkipWithError("stalled");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * kWrites * int64_t(kChunk));
    closeOn(client, socket);
}

void BM_TlsHandshake_Asio(benchmark::State& state) {
    AsioServer server(Mode::echo, true);
    AsioClient client;
    for (auto _ : state) {
        std::binary_semaphore done{0};
        SslStream stream(client.io, client.tlsContext);
        SSL_set_tlsext_host_name(stream.native_handle(), "localhost");
        bool ok = false;
        asio::post(client.io, [&] {
            lowest(stream).async_connect(
                tcp::endpoint(asio::ip::address_v4::loopback(), server.port()), [&](std::error_code e) {
                    if (e) {
                        done.release();
                        return;
                    }
                    stream.async_handshake(asio::ssl::stream_base::client, [&](std::error_code he) {
                        ok = !he;
                        done.release();
                    });
                });
        });
        if (!done.try_acquire_for(kStall) || !ok) {
            state.SkipWithError("handshake failed");
            break;
        }
        closeOn(client, lowest(stream));
    }
}

BENCHMARK(BM_EchoRTT_AsyncSocket)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EchoRTT_Asio)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Throughput_AsyncSocket)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Throughput_Asio)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TlsEchoRTT_AsyncSocket)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TlsEchoRTT_Asio)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TlsHandshake_AsyncSocket)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TlsHandshake_Asio)->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    return benchsupport::runWithRatios(
        argc, argv,
        {{"BM_EchoRTT_AsyncSocket", "BM_EchoRTT_Asio"},
         {"BM_Throughput_AsyncSocket", "BM_Throughput_Asio"},
         {"BM_TlsEchoRTT_AsyncSocket", "BM_TlsEchoRTT_Asio"},
         {"BM_TlsHandshake_AsyncSocket", "BM_TlsHandshake_Asio"}},
        "echo and TLS times <= 1.2x Asio; throughput time <= 1/0.8 (1.25x) Asio");
}

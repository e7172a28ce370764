// UDP on loopback: AsyncUdpSocket beside a plain blocking sendto/recvfrom loop and Asio.
//
// Round trip: a client sends a 64-byte request, an echo server answers, the client sends the next
// one on the answer (one in flight), kRoundTrips per iteration. Throughput: 64-byte datagrams one
// way, in windows of kWindow (the sender waits for the receiver to count a whole window, so the
// receive buffer never overflows and nothing is lost), kWindows windows per iteration.
#include "sockets/AsyncUdpSocket.h"
#include "support/Loopback.h"
#include "support/Ratios.h"

#include "dispatch/Queue.h"

#include <asio.hpp>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <semaphore>
#include <stdexcept>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kRoundTrips = 1000;
constexpr int kWindow = 64;
constexpr int kWindows = 64;
constexpr size_t kPayload = 64;
constexpr auto kStall = std::chrono::seconds(5);

using sockets::Address;
using sockets::AsyncUdpSocket;
using sockets::Data;

using benchsupport::loopback;

// ---- (a) AsyncUdpSocket, delegates on serial queues --------------------------------------------

class EchoDelegate : public sockets::AsyncUdpSocketDelegate {
public:
    void udpSocketDidReceiveData(AsyncUdpSocket& sock, const Data& data, const Address& from,
                                 const sockets::FilterContext&) override {
        sock.sendData(Data(data), from, -1.0, 0);
    }
};

// Counts answers; sends the next request itself (round trips) or signals each full window.
class CountingDelegate : public sockets::AsyncUdpSocketDelegate {
public:
    std::atomic<int> target{0};
    int received = 0;
    bool echoNext = false;
    Address server;
    std::binary_semaphore done{0};

    void udpSocketDidReceiveData(AsyncUdpSocket& sock, const Data& data, const Address&,
                                 const sockets::FilterContext&) override {
        ++received;
        if (echoNext && received < target.load()) {
            sock.sendData(Data(data), server, -1.0, 0);
            return;
        }
        if (received == target.load() || (!echoNext && received % kWindow == 0)) {
            done.release();
        }
    }
};

struct AsyncPair {
    std::shared_ptr<EchoDelegate> echo = std::make_shared<EchoDelegate>();
    std::shared_ptr<CountingDelegate> counter = std::make_shared<CountingDelegate>();
    std::shared_ptr<AsyncUdpSocket> server;
    std::shared_ptr<AsyncUdpSocket> client;

    AsyncPair() {
        server = AsyncUdpSocket::make(echo, dispatch::Queue::makeSerial("bench.server.delegate"));
        client = AsyncUdpSocket::make(counter, dispatch::Queue::makeSerial("bench.client.delegate"));
        server->setIPv6Enabled(false);
        client->setIPv6Enabled(false);
        if (!server->bindToPort(0, "127.0.0.1") || !client->bindToPort(0, "127.0.0.1") ||
            !server->beginReceiving() || !client->beginReceiving()) {
            throw std::runtime_error("cannot set up the async sockets");
        }
        counter->server = loopback(server->localPort());
    }
};

void BM_RoundTrip_AsyncUdpSocket(benchmark::State& state) {
    AsyncPair pair;
    pair.counter->echoNext = true;
    const Data request(kPayload, 'r');
    for (auto _ : state) {
        pair.counter->received = 0;
        pair.counter->target = kRoundTrips;
        pair.client->sendData(Data(request), pair.counter->server, -1.0, 0);
        if (!pair.counter->done.try_acquire_for(kStall)) {
            state.SkipWithError("stalled");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * kRoundTrips);
}

void BM_Throughput_AsyncUdpSocket(benchmark::State& state) {
    auto senderDelegate = std::make_shared<sockets::AsyncUdpSocketDelegate>(); // hears every send
    auto sink = std::make_shared<CountingDelegate>();
    auto sender = AsyncUdpSocket::make(senderDelegate, dispatch::Queue::makeSerial("bench.sender.delegate"));
    auto receiver = AsyncUdpSocket::make(sink, dispatch::Queue::makeSerial("bench.sink.delegate"));
    receiver->setIPv6Enabled(false);
    sender->setIPv6Enabled(false);
    if (!receiver->bindToPort(0, "127.0.0.1") || !receiver->beginReceiving() ||
        !sender->bindToPort(0, "127.0.0.1")) {
        state.SkipWithError("cannot bind");
        return;
    }
    const Address to = loopback(receiver->localPort());
    const Data payload(kPayload, 't');
    sink->target = -1;
    for (auto _ : state) {
        for (int w = 0; w < kWindows; ++w) {
            for (int i = 0; i < kWindow; ++i) {
                sender->sendData(Data(payload), to, -1.0, i);
            }
            if (!sink->done.try_acquire_for(kStall)) {
                state.SkipWithError("stalled (datagrams lost?)");
                return;
            }
        }
    }
    state.SetItemsProcessed(state.iterations() * kWindows * kWindow);
}

// ---- (b) plain blocking sockets ---------------------------------------------------------------

int blockingSocket(uint16_t* port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const Address a = loopback(0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(a.data()), sizeof(sockaddr_in)) != 0) {
        throw std::runtime_error("cannot bind");
    }
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    *port = ntohs(sa.sin_port);
    return fd;
}

// A thread that answers (echo) or counts (sink) until it receives a 1-byte "stop".
class BlockingPeer {
public:
    BlockingPeer(bool echo, std::binary_semaphore* windowDone) {
        fd_ = blockingSocket(&port_);
        thread_ = std::thread([this, echo, windowDone] {
            std::array<uint8_t, 2048> buffer{};
            long count = 0;
            for (;;) {
                sockaddr_in from{};
                socklen_t len = sizeof from;
                const ssize_t n = ::recvfrom(fd_, buffer.data(), buffer.size(), 0,
                                             reinterpret_cast<sockaddr*>(&from), &len);
                if (n == 1) {
                    return;
                }
                if (echo) {
                    ::sendto(fd_, buffer.data(), static_cast<size_t>(n), 0,
                             reinterpret_cast<sockaddr*>(&from), len);
                } else if (++count % kWindow == 0) {
                    windowDone->release();
                }
            }
        });
    }
    ~BlockingPeer() {
        const Address self = loopback(port_);
        const uint8_t stop = 0;
        ::sendto(fd_, &stop, 1, 0, reinterpret_cast<const sockaddr*>(self.data()), sizeof(sockaddr_in));
        thread_.join();
        ::close(fd_);
    }
    uint16_t port() const { return port_; }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
};

void BM_RoundTrip_Blocking(benchmark::State& state) {
    BlockingPeer server(true, nullptr);
    uint16_t clientPort = 0;
    const int fd = blockingSocket(&clientPort);
    const Address to = loopback(server.port());
    std::array<uint8_t, kPayload> request{};
    std::array<uint8_t, 2048> answer{};
    for (auto _ : state) {
        for (int i = 0; i < kRoundTrips; ++i) {
            ::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(to.data()),
                     sizeof(sockaddr_in));
            ::recv(fd, answer.data(), answer.size(), 0);
        }
    }
    ::close(fd);
    state.SetItemsProcessed(state.iterations() * kRoundTrips);
}

void BM_Throughput_Blocking(benchmark::State& state) {
    std::binary_semaphore windowDone{0};
    BlockingPeer sink(false, &windowDone);
    uint16_t senderPort = 0;
    const int fd = blockingSocket(&senderPort);
    const Address to = loopback(sink.port());
    std::array<uint8_t, kPayload> payload{};
    for (auto _ : state) {
        for (int w = 0; w < kWindows; ++w) {
            for (int i = 0; i < kWindow; ++i) {
                ::sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<const sockaddr*>(to.data()),
                         sizeof(sockaddr_in));
            }
            if (!windowDone.try_acquire_for(kStall)) {
                state.SkipWithError("stalled (datagrams lost?)");
                ::close(fd);
                return;
            }
        }
    }
    ::close(fd);
    state.SetItemsProcessed(state.iterations() * kWindows * kWindow);
}

// ---- (c) Asio, one io_context thread per side -------------------------------------------------

using asio::ip::udp;

class AsioPeer {
public:
    // echo: answer every datagram; otherwise count and call onDatagram.
    AsioPeer(bool echo, std::function<void()> onDatagram)
        : socket_(io_, udp::endpoint(asio::ip::address_v4::loopback(), 0))
        , echo_(echo)
        , onDatagram_(std::move(onDatagram)) {
        receive();
        thread_ = std::thread([this] { io_.run(); });
    }
    ~AsioPeer() {
        io_.stop();
        thread_.join();
    }
    uint16_t port() const { return socket_.local_endpoint().port(); }
    udp::socket& socket() { return socket_; }
    asio::io_context& io() { return io_; }

private:
    void receive() {
        socket_.async_receive_from(asio::buffer(buffer_), from_, [this](std::error_code ec, size_t n) {
            if (ec) {
                return;
            }
            if (echo_) {
                socket_.async_send_to(asio::buffer(buffer_.data(), n), from_,
                                      [this](std::error_code, size_t) { receive(); });
                return;
            }
            onDatagram_();
            receive();
        });
    }

    asio::io_context io_;
    udp::socket socket_;
    udp::endpoint from_;
    std::array<uint8_t, 2048> buffer_{};
    bool echo_;
    std::function<void()> onDatagram_;
    std::thread thread_;
};

void BM_RoundTrip_Asio(benchmark::State& state) {
    AsioPeer server(true, {});
    int received = 0;
    std::binary_semaphore done{0};
    AsioPeer* clientPtr = nullptr;
    const udp::endpoint to(asio::ip::address_v4::loopback(), server.port());
    std::array<uint8_t, kPayload> request{};
    auto sendRequest = [&] {
        clientPtr->socket().async_send_to(asio::buffer(request), to, [](std::error_code, size_t) {});
    };
    AsioPeer client(false, [&] {
        if (++received < kRoundTrips) {
            sendRequest();
        } else {
            done.release();
        }
    });
    clientPtr = &client;
    for (auto _ : state) {
        received = 0;
        asio::post(client.io(), sendRequest);
        if (!done.try_acquire_for(kStall)) {
            state.SkipWithError("stalled");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * kRoundTrips);
}

void BM_Throughput_Asio(benchmark::State& state) {
    long received = 0;
    std::binary_semaphore windowDone{0};
    AsioPeer sink(false, [&] {
        if (++received % kWindow == 0) {
            windowDone.release();
        }
    });
    asio::io_context senderIo;
    auto guard = asio::make_work_guard(senderIo);
    udp::socket sender(senderIo, udp::endpoint(asio::ip::address_v4::loopback(), 0));
    std::thread senderThread([&] { senderIo.run(); });
    const udp::endpoint to(asio::ip::address_v4::loopback(), sink.port());
    std::array<uint8_t, kPayload> payload{};
    for (auto _ : state) {
        for (int w = 0; w < kWindows; ++w) {
            asio::post(senderIo, [&] {
                for (int i = 0; i < kWindow; ++i) {
                    sender.async_send_to(asio::buffer(payload), to, [](std::error_code, size_t) {});
                }
            });
            if (!windowDone.try_acquire_for(kStall)) {
                state.SkipWithError("stalled (datagrams lost?)");
                break;
            }
        }
    }
    guard.reset();
    senderIo.stop();
    senderThread.join();
    state.SetItemsProcessed(state.iterations() * kWindows * kWindow);
}

// ---- (d) a flood at a delegate slower than the socket ------------------------------------------
// A blocking sender floods 1000-byte datagrams for kFloodTime at a delegate that spends 20 µs on
// each. What the socket holds for the delegate must stay bounded (the system drops the rest).
// Counters: resident memory growth at its peak and once the backlog drained (MiB), datagrams
// sent, delivered and counted as dropped by the socket, and reading pauses.

constexpr auto kFloodTime = std::chrono::seconds(2);

double residentMiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("VmRSS:")) {
            return std::stod(line.substr(6)) / 1024.0;
        }
    }
    return 0.0;
}

class SlowDelegate : public sockets::AsyncUdpSocketDelegate {
public:
    std::atomic<long> received{0};
    void udpSocketDidReceiveData(AsyncUdpSocket&, const Data&, const Address&,
                                 const sockets::FilterContext&) override {
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(20);
        while (std::chrono::steady_clock::now() < until) {
        }
        ++received;
    }
};

void BM_Flood_SlowDelegate_AsyncUdpSocket(benchmark::State& state) {
    using namespace std::chrono_literals;
    for (auto _ : state) {
        auto slow = std::make_shared<SlowDelegate>();
        auto receiver = AsyncUdpSocket::make(slow, dispatch::Queue::makeSerial("bench.slow.delegate"));
        receiver->setIPv6Enabled(false);
        if (!receiver->bindToPort(0, "127.0.0.1") || !receiver->beginReceiving()) {
            state.SkipWithError("cannot bind");
            return;
        }
        const double base = residentMiB();
        double peak = base;
        std::atomic<bool> stop{false};
        long sent = 0;
        std::thread sender([&] {
            uint16_t port = 0;
            const int fd = blockingSocket(&port);
            const Address to = loopback(receiver->localPort());
            const std::array<uint8_t, 1000> payload{};
            for (; !stop; ++sent) {
                ::sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<const sockaddr*>(to.data()),
                         sizeof(sockaddr_in));
            }
            ::close(fd);
        });
        for (const auto end = std::chrono::steady_clock::now() + kFloodTime;
             std::chrono::steady_clock::now() < end;) {
            peak = std::max(peak, residentMiB());
            std::this_thread::sleep_for(20ms);
        }
        stop = true;
        sender.join();
        for (long seen = -1; slow->received != seen;) { // drained once the delegate falls quiet
            seen = slow->received;
            peak = std::max(peak, residentMiB());
            std::this_thread::sleep_for(200ms);
        }
        state.counters["peak_MiB"] = peak - base;
        state.counters["drained_MiB"] = residentMiB() - base;
        state.counters["sent"] = static_cast<double>(sent);
        state.counters["delivered"] = static_cast<double>(slow->received);
        // The system reports its drops with the next datagram read.
        uint16_t markerPort = 0;
        const int fd = blockingSocket(&markerPort);
        const Address to = loopback(receiver->localPort());
        const uint8_t marker = 1;
        ::sendto(fd, &marker, 1, 0, reinterpret_cast<const sockaddr*>(to.data()), sizeof(sockaddr_in));
        ::close(fd);
        std::this_thread::sleep_for(100ms);
        state.counters["dropped"] = static_cast<double>(receiver->droppedDatagramCount());
        state.counters["pauses"] = static_cast<double>(receiver->receiveBacklogPauseCount());
    }
}

BENCHMARK(BM_RoundTrip_AsyncUdpSocket)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoundTrip_Blocking)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoundTrip_Asio)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Throughput_AsyncUdpSocket)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Throughput_Blocking)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Throughput_Asio)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Flood_SlowDelegate_AsyncUdpSocket)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return benchsupport::runWithRatios(argc, argv,
                                       {{"BM_RoundTrip_AsyncUdpSocket", "BM_RoundTrip_Blocking"},
                                        {"BM_RoundTrip_AsyncUdpSocket", "BM_RoundTrip_Asio"},
                                        {"BM_Throughput_AsyncUdpSocket", "BM_Throughput_Blocking"},
                                        {"BM_Throughput_AsyncUdpSocket", "BM_Throughput_Asio"}},
                                       "round trip <= 1.5x blocking and <= 1x Asio; throughput time <= 1/0.7 "
                                       "(1.43x) blocking");
}

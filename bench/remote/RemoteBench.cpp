// The network remote-control server on loopback beside a bare AsyncUdpSocket echo, both handling
// their datagrams on the main queue as the application does.
//
// Round trip: a client (its own socket and serial queue) sends a "ReportStatus" request and sends
// the next one on each answer, kRoundTrips per iteration; the echo gets the same request bytes and
// answers with a datagram as long as the status reply. Each round trip is timed alone as well, for
// the median and the 99th percentile. Throughput: windows of kWindow requests (the client waits
// for a whole window's answers, so no buffer overflows); a lost answer stalls the run and fails it.
// These two measure the protocol's own cost: the server runs without a reply budget.
//
// Flood: one host (127.0.0.2) sends minimal status requests as fast as one thread can for a
// second, while a controller (127.0.0.1) asks ten times in that second; the server runs with its
// real reply budget, the echo answers everything. Counted per second: requests sent, replies and
// bytes back to the flood, the share of a core the main thread used, and the controller's answers.
#include "cuewright/remote/BonjourServer.h"
#include "cuewright/remote/RemoteProtocol.h"
#include "platform/netservice/FakeNetService.h"
#include "sockets/AsyncUdpSocket.h"
#include "support/Loopback.h"
#include "support/Ratios.h"

#include "dispatch/Queue.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using sockets::Address;
using sockets::AsyncUdpSocket;
using sockets::Data;
using Clock = std::chrono::steady_clock;

constexpr int kRoundTrips = 1000;
constexpr int kWindow = 64;
constexpr int kWindows = 32;

using benchsupport::loopback;

const Data& statusRequest() {
    static const Data request =
        cw::remoteRequest(cw::NetworkCommand::Command::of(cw::NetworkCommand::Kind::reportStatus));
    return request;
}

cw::NetworkStatusReport report() {
    return {"/Users/someone/Scripts/Evening News.cwr",
            42,
            100,
            cw::TransportState::TransportStatus::playing,
            0.375,
            1234.5,
            1};
}

class StatusDelegate : public cw::BonjourServerDelegate {
public:
    cw::NetworkAnswer bonjourServerAnswer(cw::BonjourServer&, const cw::NetworkCommand&) override {
        return cw::NetworkAnswer::ok(report());
    }
};

// The reference: answers every datagram with a reply as long as the server's.
class EchoDelegate : public sockets::AsyncUdpSocketDelegate {
public:
    Data reply = cw::remoteStatusReply(report());
    void udpSocketDidReceiveData(AsyncUdpSocket& sock, const Data&, const Address& from,
                                 const sockets::FilterContext&) override {
        sock.sendData(Data(reply), from, 1.0, 0);
    }
};

// Counts answers; in round-trip mode sends the next request on each one. Wakes the main thread
// (which runs the servers) when the target is reached.
class Client : public sockets::AsyncUdpSocketDelegate {
public:
    std::atomic<int> received{0};
    int target = 0;
    bool roundTrip = false;
    Address server;
    std::vector<double> microseconds;
    Clock::time_point sentAt;
    std::atomic<bool> done{false};

    void udpSocketDidReceiveData(AsyncUdpSocket& sock, const Data&, const Address&,
                                 const sockets::FilterContext&) override {
        const int count = ++received;
        if (roundTrip) {
            microseconds.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sentAt).count());
        }
        if (roundTrip && count < target) {
            sentAt = Clock::now();
            sock.sendData(Data(statusRequest()), server, 1.0, 0);
            return;
        }
        if (count >= target) {
            done = true;
            dispatch::mainQueue()->async([] {}); // wakes runMainUntil at once
        }
    }
};

cw::ReplyLimits unbounded() {
    cw::ReplyLimits limits;
    limits.requestBurst = limits.requestsPerSecond = limits.repliesPerSecond = 1e12;
    limits.burstBytes = 1e15;
    return limits;
}

struct Setup {
    std::shared_ptr<platform::FakeNetService> net = std::make_shared<platform::FakeNetService>();
    std::shared_ptr<StatusDelegate> status = std::make_shared<StatusDelegate>();
    std::shared_ptr<cw::BonjourServer> server;
    std::shared_ptr<EchoDelegate> echo = std::make_shared<EchoDelegate>();
    std::shared_ptr<AsyncUdpSocket> echoSocket;
    std::shared_ptr<Client> client = std::make_shared<Client>();
    std::shared_ptr<AsyncUdpSocket> clientSocket;

    explicit Setup(bool bare, cw::ReplyLimits budget = unbounded()) {
        uint16_t port = 0;
        if (bare) {
            echoSocket = AsyncUdpSocket::make(echo, dispatch::mainQueue());
            if (!echoSocket->bindToPort(0) || !echoSocket->beginReceiving()) {
                throw std::runtime_error("cannot bind the echo");
            }
            port = echoSocket->localPort();
        } else {
            server = cw::BonjourServer::make(net, {}, budget);
            server->setDelegate(status);
            server->start("Bench", 0);
            port = server->port();
        }
        clientSocket = AsyncUdpSocket::make(client, dispatch::Queue::makeSerial("bench.remote.client"));
        clientSocket->setIPv6Enabled(false);
        if (!clientSocket->bindToPort(0, "127.0.0.1") || !clientSocket->beginReceiving()) {
            throw std::runtime_error("cannot bind the client");
        }
        client->server = loopback(port);
    }
    ~Setup() {
        clientSocket->close();
        if (server) {
            server->stop();
        }
        if (echoSocket) {
            echoSocket->close();
        }
    }

    // Runs the main queue until the client has its answers; false when they stall.
    bool run(int target) {
        client->received = 0;
        client->target = target;
        client->done = false;
        return dispatch::runMainUntil([&] { return client->done.load(); }, 5s);
    }
};

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    const auto at = values.begin() + static_cast<std::ptrdiff_t>(p * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

void roundTrips(benchmark::State& state, bool bare) {
    Setup setup(bare);
    setup.client->roundTrip = true;
    for (auto _ : state) {
        setup.client->sentAt = Clock::now();
        setup.clientSocket->sendData(Data(statusRequest()), setup.client->server, 1.0, 0);
        if (!setup.run(kRoundTrips)) {
            state.SkipWithError("stalled");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * kRoundTrips);
    state.counters["median_us"] = percentile(setup.client->microseconds, 0.5);
    state.counters["p99_us"] = percentile(setup.client->microseconds, 0.99);
}

void throughput(benchmark::State& state, bool bare) {
    Setup setup(bare);
    int answered = 0;
    for (auto _ : state) {
        for (int w = 0; w < kWindows; ++w) {
            for (int i = 0; i < kWindow; ++i) {
                setup.clientSocket->sendData(Data(statusRequest()), setup.client->server, 1.0, i);
            }
            if (!setup.run(kWindow)) {
                state.SkipWithError("answers lost below the buffer's limit");
                return;
            }
            answered += setup.client->received;
        }
    }
    state.SetItemsProcessed(answered);
    state.counters["lost"] = static_cast<double>(state.iterations() * kWindows * kWindow - answered);
}

// A plain non-blocking socket on an IPv4 loopback address.
struct Plain {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    explicit Plain(const char* host) {
        const int size = 8 << 20;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, host, &local.sin_addr);
        ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    }
    ~Plain() { ::close(fd); }
    void send(const Address& to, const std::string& bytes) const {
        ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(to.data()),
                 socklen_t(to.size()));
    }
    // Bytes of every datagram waiting, and their number.
    void drain(std::size_t& count, std::size_t& bytes) const {
        char buffer[65536];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
            ++count;
            bytes += std::size_t(n);
        }
    }
};

double threadSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

void flood(benchmark::State& state, bool bare) {
    Setup setup(bare, cw::ReplyLimits());
    const Address to = setup.client->server;
    const std::string request = R"({"payload":{"cmdname":"ReportStatus"}})";
    double sent = 0, replies = 0, bytesIn = 0, bytesOut = 0, mainSeconds = 0, wall = 0, answered = 0;
    for (auto _ : state) {
        Plain flooder("127.0.0.2");
        Plain controller("127.0.0.1");
        std::atomic<bool> stop{false};
        std::size_t count = 0, bytes = 0, requests = 0, asked = 0, controllerAnswers = 0, ignored = 0;
        std::thread sender([&] {
            const auto start = Clock::now();
            while (Clock::now() - start < 1s) {
                for (int i = 0; i < 64; ++i) {
                    flooder.send(to, request);
                    ++requests;
                }
                flooder.drain(count, bytes);
                if (Clock::now() - start >= asked * 100ms && asked < 10) {
                    controller.send(to, request);
                    ++asked;
                }
                controller.drain(controllerAnswers, ignored);
            }
            std::this_thread::sleep_for(100ms); // the last replies come in
            flooder.drain(count, bytes);
            controller.drain(controllerAnswers, ignored);
            stop = true;
        });
        const double cpu = threadSeconds();
        const auto start = Clock::now();
        dispatch::runMainUntil([&] { return stop.load(); }, 10s);
        mainSeconds += threadSeconds() - cpu;
        wall += std::chrono::duration<double>(Clock::now() - start).count();
        sender.join();
        sent += double(requests);
        bytesIn += double(requests * request.size());
        replies += double(count);
        bytesOut += double(bytes);
        answered += double(controllerAnswers);
    }
    const double iterations = double(state.iterations());
    state.counters["requests_per_s"] = sent / wall;
    state.counters["replies_per_s"] = replies / wall;
    state.counters["bytes_out_per_s"] = bytesOut / wall;
    state.counters["out_per_in"] = bytesOut / bytesIn;
    state.counters["main_share"] = mainSeconds / wall;
    state.counters["controller_answered_of_10"] = answered / iterations;
}

void BM_StatusFlood_BonjourServer(benchmark::State& state) {
    flood(state, false);
}
void BM_StatusFlood_BareEcho(benchmark::State& state) {
    flood(state, true);
}

void BM_RoundTrip_BonjourServer(benchmark::State& state) {
    roundTrips(state, false);
}
void BM_RoundTrip_BareEcho(benchmark::State& state) {
    roundTrips(state, true);
}
void BM_Throughput_BonjourServer(benchmark::State& state) {
    throughput(state, false);
}
void BM_Throughput_BareEcho(benchmark::State& state) {
    throughput(state, true);
}

BENCHMARK(BM_RoundTrip_BonjourServer)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RoundTrip_BareEcho)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Throughput_BonjourServer)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Throughput_BareEcho)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StatusFlood_BonjourServer)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_StatusFlood_BareEcho)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios({{"BM_RoundTrip_BonjourServer", "BM_RoundTrip_BareEcho"},
                          {"BM_Throughput_BonjourServer", "BM_Throughput_BareEcho"}},
                         "round trip <= 2x, median < 1 ms");
    benchmark::Shutdown();
    return 0;
}

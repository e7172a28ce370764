// The network remote-control server on loopback beside a bare AsyncUdpSocket echo, both handling
// their datagrams on the main queue as the application does.
//
// Round trip: a client (its own socket and serial queue) sends a "ReportStatus" request and sends
// the next one on each answer, kRoundTrips per iteration; the echo gets the same request bytes and
// answers with a datagram as long as the status reply. Each round trip is timed alone as well, for
// the median and the 99th percentile. Throughput: windows of kWindow requests (the client waits
// for a whole window's answers, so no buffer overflows); a lost answer stalls the run and fails it.
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
#include <stdexcept>
#include <string>
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

struct Setup {
    std::shared_ptr<platform::FakeNetService> net = std::make_shared<platform::FakeNetService>();
    std::shared_ptr<StatusDelegate> status = std::make_shared<StatusDelegate>();
    std::shared_ptr<cw::BonjourServer> server;
    std::shared_ptr<EchoDelegate> echo = std::make_shared<EchoDelegate>();
    std::shared_ptr<AsyncUdpSocket> echoSocket;
    std::shared_ptr<Client> client = std::make_shared<Client>();
    std::shared_ptr<AsyncUdpSocket> clientSocket;

    explicit Setup(bool bare) {
        uint16_t port = 0;
        if (bare) {
            echoSocket = AsyncUdpSocket::make(echo, dispatch::mainQueue());
            if (!echoSocket->bindToPort(0) || !echoSocket->beginReceiving()) {
                throw std::runtime_error("cannot bind the echo");
            }
            port = echoSocket->localPort();
        } else {
            server = cw::BonjourServer::make(net);
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

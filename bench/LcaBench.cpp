// Cost of the logical-channel worker.
//
// BM_RawSocketRoundTrip: a 25-byte request and a 25-byte answer over a plain blocking socket
// to a loopback echo server. BM_WorkerRoundTrip: the same exchange through TLCAObject (write,
// read, release). Their ratio is the worker's overhead. BM_IdleWorkerCpu: CPU time the process
// uses over 10 s with 8 open channels and no tasks (should be zero: the worker never polls).
#include "channel/LCAObject.h"
#include "tests/support/LoopbackServer.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstring>
#include <ctime>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace qz;
using qz::test::LoopbackServer;

namespace {

TLCAParams Tcp(uint16_t port) {
    TLCAParams p;
    p.Pca.SetKind(TPCAParams::KindTCP);
    p.Pca.SetIpAddress("127.0.0.1");
    p.Pca.SetIpPort(port);
    p.MaxAttemptCountOnConnect = 3;
    p.Priority = 1;
    return p;
}

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

} // namespace

static void BM_RawSocketRoundTrip(benchmark::State& state) {
    LoopbackServer server(LoopbackServer::Echo());
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(server.Port());
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        state.SkipWithError("connect failed");
        return;
    }
    char req[25];
    std::memset(req, 0x5A, sizeof req);
    char ans[25];
    for (auto _ : state) {
        if (send(s, req, sizeof req, 0) != ssize_t(sizeof req)) state.SkipWithError("send");
        size_t got = 0;
        while (got < sizeof ans) {
            const ssize_t r = recv(s, ans + got, sizeof ans - got, 0);
            if (r <= 0) {
                state.SkipWithError("recv");
                break;
            }
            got += size_t(r);
        }
    }
    close(s);
}
BENCHMARK(BM_RawSocketRoundTrip)->UseRealTime();

static void BM_WorkerRoundTrip(benchmark::State& state) {
    LoopbackServer server(LoopbackServer::Echo());
    LCAInitialize();
    {
        TLCAObject ch(Tcp(server.Port()));
        char req[25];
        std::memset(req, 0x5A, sizeof req);
        char ans[25];
        // Connect the line (with its settling pauses) before timing.
        uint32_t warm = 0;
        ch.Write(req, sizeof req, warm, nullptr, 1000);
        for (uint32_t got = 0; got < sizeof ans; got += warm)
            if (ch.Read(ans + got, sizeof ans - got, warm, nullptr, 1000) != 0) break;
        ch.ReleaseLock();
        for (auto _ : state) {
            uint32_t done = 0;
            if (ch.Write(req, sizeof req, done, nullptr, 1000) != 0) state.SkipWithError("write");
            uint32_t got = 0;
            while (got < sizeof ans) {
                if (ch.Read(ans + got, sizeof ans - got, done, nullptr, 1000) != 0) {
                    state.SkipWithError("read");
                    break;
                }
                got += done;
            }
            ch.ReleaseLock();
        }
    }
    LCAFinalize();
}
BENCHMARK(BM_WorkerRoundTrip)->UseRealTime();

// One request answered by the worker (the channel's last error): the floor of every
// synchronous client call. A write-read-release exchange makes three of them.
static void BM_WorkerRequestRoundTrip(benchmark::State& state) {
    LoopbackServer server(LoopbackServer::Echo());
    LCAInitialize();
    {
        TLCAObject ch(Tcp(server.Port()));
        for (auto _ : state)
            benchmark::DoNotOptimize(ch.GetLastError());
    }
    LCAFinalize();
}
BENCHMARK(BM_WorkerRequestRoundTrip)->UseRealTime();

static void BM_IdleWorkerCpu(benchmark::State& state) {
    LoopbackServer server(LoopbackServer::Echo(), 8);
    LCAInitialize();
    {
        std::vector<std::unique_ptr<TLCAObject>> channels;
        for (int i = 0; i < 8; ++i) {
            channels.push_back(std::make_unique<TLCAObject>(Tcp(server.Port(size_t(i)))));
            uint32_t done = 0;
            channels.back()->Write("x", 1, done, nullptr, 1000); // connect the line
            channels.back()->ReleaseLock();
        }
        for (auto _ : state) {
            const double cpu0 = CpuSeconds();
            std::this_thread::sleep_for(std::chrono::seconds(10));
            state.counters["cpu_ms_per_10s"] = (CpuSeconds() - cpu0) * 1000.0;
        }
    }
    LCAFinalize();
}
BENCHMARK(BM_IdleWorkerCpu)->Iterations(1)->Unit(benchmark::kSecond);

BENCHMARK_MAIN();

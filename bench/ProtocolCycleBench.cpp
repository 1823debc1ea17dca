// One 3-second cycle's exchanges (time parameters, then the extended 3-second record) with a
// simulated meter whose line is paced at 115200 bit/s, through the real worker and protocol.
// The counter "vs_floor" is the measured cycle time divided by the time the bytes on the
// wire need at 10 bits a byte; the closer to 1, the less the software adds to the line.
// Argument 1 runs the same cycle with a line trace of every class (dumps included) into a
// file, to show what the trace costs the worker; 0 runs without one.
#include "channel/LCAObject.h"
#include "channel/LCATrace.h"
#include "channel/PCAType.h"
#include "protocol/CommonQZ2Protocol.h"
#include "simulator/MeterSimulator.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <memory>
#include <unistd.h>

using namespace qz;

static void BM_ThreeSecondCycleAt115200(benchmark::State& state) {
    constexpr uint32_t kBaud = 115200;
    constexpr double kRequestBytes = 25; // every request frame of the cycle
    TSimOptions o;
    o.ModelIndex = 1; // extended record
    o.ListenPort = 0;
    o.Faults.Baud = int(kBaud);
    TMeterSimulator sim(o);
    if (!sim.Start()) {
        state.SkipWithError("simulator did not start");
        return;
    }
    const bool traced = state.range(0) != 0;
    const std::string tracePath = "/tmp/qz_cycle_bench_" + std::to_string(getpid()) + ".trace";
    std::unique_ptr<TLCATrace> trace;
    if (traced) {
        std::string error;
        trace = TLCATrace::Open(tracePath, kTraceAllClasses, error);
        if (!trace) {
            state.SkipWithError(error.c_str());
            return;
        }
        LCAInitialize(trace->LogProc());
    } else {
        LCAInitialize();
    }
    {
        TLCAParams line;
        line.Pca.SetKind(TPCAParams::KindTCP);
        line.Pca.SetIpAddress("127.0.0.1");
        line.Pca.SetIpPort(sim.port());
        line.MaxAttemptCountOnConnect = 3;
        line.Priority = 1;
        if (trace) line.LogMask = trace->ChannelLogMask();
        TCommonQZ2Protocol protocol(line, false, 3, 1, 0);
        const uint8_t* data = nullptr;
        size_t size = 0;
        TDateTime time = 0;
        protocol.ReadTimeParams(data, size); // connect before timing
        double wireBytes = 0;
        for (auto _ : state) {
            double bytes = 0;
            if (!protocol.ReadTimeParams(data, size)) state.SkipWithError("time parameters");
            bytes += kRequestBytes + double(protocol.GetCommand()->AnswerSize());
            if (!protocol.ReadArchive3secM(data, size, time)) state.SkipWithError("record");
            bytes += kRequestBytes + double(protocol.GetCommand()->AnswerSize());
            wireBytes = bytes;
        }
        const double floorSeconds = wireBytes * 10.0 / kBaud;
        state.counters["wire_bytes"] = wireBytes;
        state.counters["floor_ms"] = floorSeconds * 1000.0;
        // Seconds per iteration divided by the floor.
        // Inverted iteration-invariant rate: elapsed / (iterations * floor).
        state.counters["vs_floor"] =
            benchmark::Counter(floorSeconds, benchmark::Counter::kIsIterationInvariantRate |
                                                 benchmark::Counter::kInvert);
    }
    LCAFinalize();
    sim.Stop();
    if (trace) {
        if (!trace->Stop()) state.SkipWithError(trace->ErrorText().c_str());
        state.counters["trace_dropped"] = double(trace->Dropped());
        std::remove(tracePath.c_str());
    }
}
BENCHMARK(BM_ThreeSecondCycleAt115200)
    ->ArgName("trace")
    ->Arg(0)
    ->Arg(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3);

BENCHMARK_MAIN();

// Soak: polling and waveform reading against meters that misbehave in every way the
// simulator can, for a bounded time (QZ_SOAK_SECONDS, default 120). Nothing may hang or
// crash, every end must be reported with a code the failure explains, and memory must stay
// flat. Labelled "soak": not part of the default test run.
#include "channel/LCAObject.h"
#include "channel/PCAType.h"
#include "connection/CcnConnectionList.h"
#include "exchange/monExchangeThreads.h"
#include "protocol/CustomProtocol.h"
#include "sigcalc/sigcalc.h"
#include "simulator/MeterSimulator.h"
#include "tests/support/ChannelGuards.h"
#include "tests/support/MeterConnection.h"
#include "tests/support/RecordingListener.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <set>

using namespace qz;
using Clock = std::chrono::steady_clock;

namespace {

long RssKb() {
    std::ifstream in("/proc/self/status");
    std::string key;
    while (in >> key) {
        if (key == "VmRSS:") {
            long kb = 0;
            in >> kb;
            return kb;
        }
        in.ignore(1 << 20, '\n');
    }
    return 0;
}

} // namespace

TEST(ExchangeSoak, MisbehavingMetersNeverHangOrLeak) {
    const char* env = std::getenv("QZ_SOAK_SECONDS");
    const int seconds = env ? std::max(10, std::atoi(env)) : 120;
    test::TNoSleep noSleep;
    test::TLCAModule module;

    // One simulator per kind of trouble; each exchange runs against one of them in turn.
    std::vector<TFaultOptions> faults(5);
    faults[0].GarbageBytes = 7;
    faults[1].BadCheckEvery = 3;
    faults[2].SilentAfter = 4;
    faults[3].CloseAfter = 3;
    faults[4].ForceSignalStatus = 9;
    faults[4].TruncateFirst = 2;
    std::vector<std::unique_ptr<TMeterSimulator>> sims;
    for (const auto& f : faults) {
        TSimOptions o;
        o.ModelIndex = 1;
        o.ListenPort = 0;
        o.Faults = f;
        sims.push_back(std::make_unique<TMeterSimulator>(o));
        ASSERT_TRUE(sims.back()->Start());
    }
    TSigExperiment* exp = nullptr;
    ASSERT_EQ(ExpCreate(&exp, "soak", 0), 0);
    exp->ChannelMask = 0x3F;
    exp->SizeCode = 3;

    // What each kind of trouble may end with: a bad check byte, a bad length or data, no
    // answer, a lost or refused connection, or a stop.
    const std::set<int32_t> allowed = {
        0, prtErrNoAnswer, pcaServerNotFound, pcaConnectionLost, prtErrCRC, prtErrBadData};
    long rssAfterWarmup = 0;
    int exchanges = 0, totalRecords = 0;
    const auto until = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < until) {
        const size_t which = size_t(exchanges) % sims.size();
        auto conn =
            test::TcpConnection(dtQZ2M, sims[which]->port(), "127.0.0.1", 2, test::kOwnAttempts);
        TmonSharedStorage storage;
        test::TRecordingListener poll, wave;
        {
            TMainExchangeThread main(&poll, conn.get(), &storage);
            TSignalExchangeThread signal(&wave, conn.get(), &storage, exp);
            main.Start();
            signal.Start();
            // A healthy meter is stopped after a while; a sick one ends by itself.
            const bool endedByItself = poll.WaitEnd(5000);
            main.Stop();
            signal.Stop();
            ASSERT_TRUE(poll.WaitEnd(30000)) << "polling did not end, meter " << which;
            main.Join();
            signal.Join();
            std::lock_guard<std::mutex> l(poll.M);
            if (endedByItself) {
                EXPECT_TRUE(allowed.count(poll.EndCode)) << poll.EndCode << " meter " << which;
                EXPECT_TRUE(poll.EndCode != 0 || poll.EndStatus != 0) << "meter " << which;
            } else {
                EXPECT_EQ(poll.EndCode, 0);
            }
            totalRecords += int(poll.Records);
        }
        ++exchanges;
        if (exchanges == int(sims.size())) rssAfterWarmup = RssKb();
    }
    const long rssEnd = RssKb();
    ExpDestroy(&exp);
    for (auto& s : sims)
        s->Stop();
    LCAFinalize();
    EXPECT_GT(totalRecords, 0);
    if (rssAfterWarmup > 0) {
        EXPECT_LT(rssEnd - rssAfterWarmup, 8 * 1024) << "RSS grew (kB)";
    }
    std::printf("soak: %d exchanges, %d records, RSS %ld -> %ld kB\n", exchanges, totalRecords,
                rssAfterWarmup, rssEnd);
}

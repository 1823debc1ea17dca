// The polling and waveform threads on the real clock against the simulated meter: what the
// meter is asked and when, and how an answer that cannot be used ends the exchange.
#include "IntegrationSupport.h"

#include "channel/LCAObject.h"
#include "sigcalc/sigcalc.h"
#include "simulator/MeterSimulator.h"
#include "tests/support/ChannelGuards.h"
#include "tests/support/CliPollOptions.h"
#include "tools/qzcli/CliRun.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <sstream>
#include <thread>

using namespace qz;
using namespace qz::test;

namespace {

constexpr int kTimeParams = 15 * 256 + 1, kSettings = 14 * 256 + 1, kScale = 14 * 256 + 2,
              kRecord = 27 * 256 + 1;

int Kind(const TSimRequest& r) {
    return r.Cmd * 256 + r.Cmd1;
}

long MsBetween(Clock::time_point a, Clock::time_point b) {
    return long(std::chrono::duration_cast<std::chrono::milliseconds>(b - a).count());
}

class RealClock : public ::testing::Test {
protected:
    TmonSharedStorage storage;
    test::TLCAModule module;
};

} // namespace

TEST_F(RealClock, OneTimeAndOneRecordRequestPerIntervalWaveformsAtMostOncePerSecond) {
    TSimOptions so;
    so.ModelIndex = 1;
    so.ListenPort = 0;
    TMeterSimulator sim(so);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    auto conn = TcpConnection(dtQZ2M, sim.port());
    TSigExperiment* exp = nullptr;
    ASSERT_EQ(ExpCreate(&exp, "signal", 0), 0);
    exp->ChannelMask = 0x3F; // the phase voltages and currents: a mask of 0 asks for nothing

    const size_t records = 5; // the first interval is partial: four whole ones after it
    TRecordingListener rec, sigRec;
    rec.Storage = &storage;
    rec.StopAfter = records;
    {
        TMainExchangeThread poll(&rec, conn.get(), &storage);
        TSignalExchangeThread signal(&sigRec, conn.get(), &storage, exp);
        rec.Thread = &poll;
        poll.Start();
        signal.Start();
        ASSERT_TRUE(rec.WaitEnd(40000));
        signal.Stop();
        signal.Join();
    }
    ExpDestroy(&exp);
    EXPECT_EQ(rec.EndCode, 0);
    ASSERT_EQ(rec.Records, records);

    // Each record is the meter's next 3-second interval: none twice, none skipped.
    ASSERT_EQ(rec.RecordTimes.size(), records);
    for (size_t i = 1; i < records; ++i)
        EXPECT_NEAR((rec.RecordTimes[i] - rec.RecordTimes[i - 1]) * 86400.0, 3.0, 0.002) << i;

    // The polling line of the log: time, settings, coefficients, record; then time, record.
    std::vector<TSimRequest> pollLog, waveLog;
    for (const TSimRequest& r : sim.RequestLog())
        (r.Cmd == 32 ? waveLog : pollLog).push_back(r);
    std::vector<int> kinds;
    for (const TSimRequest& r : pollLog)
        kinds.push_back(Kind(r));
    std::vector<int> expected = {kTimeParams, kSettings, kScale, kRecord};
    for (size_t i = 1; i < records; ++i) {
        expected.push_back(kTimeParams);
        expected.push_back(kRecord);
    }
    EXPECT_EQ(kinds, expected);
    // Each cycle waits for the rest of the meter's 3-second interval (1, 2 or 3 s, from the
    // meter's own time): never two cycles within one interval. A cycle that a loaded machine
    // started late waits only for the rest of its interval, so the next is back on the
    // meter's grid; over the whole poll the cycles keep 3 s apart.
    std::vector<Clock::time_point> cycles;
    for (const TSimRequest& r : pollLog)
        if (Kind(r) == kTimeParams) cycles.push_back(r.At);
    ASSERT_EQ(cycles.size(), records);
    for (size_t i = 1; i < cycles.size(); ++i)
        EXPECT_GE(MsBetween(cycles[i - 1], cycles[i]), 900) << i;
    // (Only the second cycle being late, by up to 2 s, shortens this span.)
    EXPECT_GE(MsBetween(cycles[1], cycles.back()), int64_t(records - 2) * 3000 - 2100);

    // The waveform thread asks once a second at most.
    EXPECT_GE(waveLog.size(), 3u);
    EXPECT_GE(sigRec.Blocks.size(), 3u);
    for (size_t i = 1; i < waveLog.size(); ++i)
        EXPECT_GE(MsBetween(waveLog[i - 1].At, waveLog[i].At), 900) << i;
}

TEST_F(RealClock, AnAnswerThatCannotBeUsedEndsWith204AndItsText) {
    struct TCase {
        const char* Name;
        int Spoiled;
        TCraftedMeter::TSpoil Spoil;
    };
    const TCase cases[] = {
        {"settings shorter than their layout", kSettings,
         [](const TKavrenHeader& rq, std::vector<uint8_t>& data) {
             if (rq.Cmd == 14 && rq.Cmd1 == 1) data.resize(100);
         }},
        {"voltage coefficient not a number", kScale,
         [](const TKavrenHeader& rq, std::vector<uint8_t>& data) {
             if (rq.Cmd != 14 || rq.Cmd1 != 2 || data.size() < 8) return;
             const float nan = std::numeric_limits<float>::quiet_NaN();
             std::memcpy(data.data() + 4, &nan, 4);
         }},
        {"current coefficient infinite", kScale,
         [](const TKavrenHeader& rq, std::vector<uint8_t>& data) {
             if (rq.Cmd != 14 || rq.Cmd1 != 2 || data.size() < 12) return;
             const float inf = std::numeric_limits<float>::infinity();
             std::memcpy(data.data() + 8, &inf, 4);
         }},
    };
    for (const TCase& c : cases) {
        TCraftedMeter meter(1, c.Spoil);
        auto conn = TcpConnection(dtQZ2M, meter.Port());
        TRecordingListener rec;
        TMainExchangeThread poll(&rec, conn.get(), &storage);
        rec.Thread = &poll;
        poll.Start();
        ASSERT_TRUE(rec.WaitEnd(20000)) << c.Name;
        poll.Join();
        EXPECT_EQ(rec.EndCode, 204) << c.Name;
        EXPECT_EQ(rec.EndStatus, 0) << c.Name;
        EXPECT_EQ(rec.EndText, "Получены некорректные данные.") << c.Name;
        EXPECT_EQ(rec.Records, 0u) << c.Name;
        // The exchange ended with the spoiled answer: nothing was asked after it.
        const std::vector<int> asked = meter.Asked();
        ASSERT_FALSE(asked.empty()) << c.Name;
        EXPECT_EQ(asked.back(), c.Spoiled) << c.Name;
    }
}

TEST_F(RealClock, QzcliExitsOneWithTheTextAndStopsTheWaveformsToo) {
    LCAFinalize(); // qzcli starts and ends the worker itself
    TCraftedMeter meter(1, [](const TKavrenHeader& rq, std::vector<uint8_t>& data) {
        if (rq.Cmd == 14 && rq.Cmd1 == 1) data.resize(10);
    });
    TCliOptions o = test::TcpPollOptions("qz2m", meter.Port());
    o.Signal = true; // the waveform thread waits for settings that never come: it is stopped
    std::ostringstream out, err;
    EXPECT_EQ(RunPoll(o, out, err, -1), 1);
    // The connection's stages come first; the error closes the output.
    const std::string text = err.str();
    const std::string last = "Ошибка обмена с измерителем: Получены некорректные данные.\n";
    ASSERT_GE(text.size(), last.size()) << text;
    EXPECT_EQ(text.substr(text.size() - last.size()), last);
    EXPECT_EQ(text.find("Ошибка"), text.size() - last.size()) << text;
    EXPECT_EQ(out.str(), "");
    for (int kind : meter.Asked())
        EXPECT_NE(kind / 256, 32) << "no waveform request without the meter's settings";
}

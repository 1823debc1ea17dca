// The polling and waveform threads against the meter simulator on loopback.
#include "channel/LCAObject.h"
#include "channel/PCAType.h"
#include "connection/CcnConnectionList.h"
#include "exchange/monExchangeThreads.h"
#include "protocol/CustomProtocol.h"
#include "protocol/DeviceStatus.h"
#include "sigcalc/sigcalc.h"
#include "simulator/MeterSimulator.h"
#include "tests/support/ChannelGuards.h"
#include "tests/support/Eventually.h"
#include "tests/support/MeterConnection.h"
#include "tests/support/RecordingListener.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

using namespace qz;
using Clock = std::chrono::steady_clock;

namespace {

using test::TcpConnection;

TDateTime At(int h, int m, int s) {
    TDateTime t = 0;
    TryEncodeDateTime({2026, 12, 7, h, m, s, 0}, t);
    return t;
}

// Virtual time: the tick count moves by the pauses the thread sleeps, and by 1 ms at every
// look at it (as a real clock does between two looks).
struct VirtualClock {
    std::atomic<uint32_t> now{1000};
    std::atomic<uint32_t> slept{0};
    TmonClock Make() {
        TmonClock c;
        c.Ticks = [this] { return now++; };
        c.Sleep = [this](uint32_t ms) {
            now += ms;
            slept += ms;
        };
        return c;
    }
};

class Exchange : public ::testing::Test {
protected:
    std::unique_ptr<TMeterSimulator> StartSim(int model, TDateTime fixedTime = 0,
                                              TFaultOptions faults = {}) {
        TSimOptions o;
        o.ModelIndex = model;
        o.ListenPort = 0;
        o.Faults = faults;
        if (fixedTime != 0) o.Clock = [fixedTime] { return fixedTime; };
        auto sim = std::make_unique<TMeterSimulator>(o);
        std::string error;
        EXPECT_TRUE(sim->Start(&error)) << error;
        return sim;
    }
    TmonSharedStorage storage;
    test::TNoSleep noSleep;
    test::TLCAModule module;
};

} // namespace

TEST(ExchangeThreadInputs, RefusedWithTheSystemTexts) {
    TmonSharedStorage storage;
    auto check = [](auto make, const std::string& text) {
        try {
            make();
            ADD_FAILURE() << "no exception for " << text;
        } catch (const std::exception& e) {
            EXPECT_EQ(std::string(e.what()), text);
        }
    };
    auto good = TcpConnection(dtQZ2M, 1);
    check([&] { TMainExchangeThread t(nullptr, nullptr, &storage); },
          "ExchangeThread: подключение не может быть nil");
    check([&] { TMainExchangeThread t(nullptr, good.get(), nullptr); },
          "ExchangeThread: хранилище не может быть nil");
    auto other = TcpConnection(dtW8, 1);
    check([&] { TMainExchangeThread t(nullptr, other.get(), &storage); },
          std::string("Неподдерживаемый тип прибора: \"") + DeviceTypeNames[dtW8] + "\"");
    auto iec = TcpConnection(dtQZ2, 1);
    iec->SetCustomDeviceProtocol(CreateDeviceProtocol(dptIEC104));
    check([&] { TMainExchangeThread t(nullptr, iec.get(), &storage); },
          std::string("Обмен с измерителями поддерживается только по протоколу \"") +
              DeviceProtocolTypeNames[dptKavren] + "\"");
    check([&] { TSignalExchangeThread t(nullptr, good.get(), &storage, nullptr); },
          "ExchangeThread: сигнал не может быть nil");
}

TEST(ExchangeWaits, SleepForStepsStopsAndSurvivesTheWrap) {
    VirtualClock vc;
    TmonClock c = vc.Make();
    std::vector<uint32_t> sleeps;
    c.Sleep = [&](uint32_t ms) {
        sleeps.push_back(ms);
        vc.now += ms;
    };
    monSleepFor(300, c, [] { return false; });
    EXPECT_EQ(sleeps.size(), 6u);
    for (uint32_t s : sleeps)
        EXPECT_EQ(s, 50u);

    sleeps.clear();
    int calls = 0;
    monSleepFor(10000, c, [&] { return ++calls > 2; }); // stopped: at most one more step
    EXPECT_EQ(sleeps.size(), 2u);

    // An end beyond 4 000 000 000 ends once the count has wrapped to small values.
    sleeps.clear();
    vc.now = 4294960000u; // end wraps to a small number: now is not below it
    monSleepFor(10000, c, [] { return false; });
    EXPECT_TRUE(sleeps.empty());
    vc.now = 3999999000u;
    c.Sleep = [&](uint32_t ms) {
        sleeps.push_back(ms);
        vc.now = sleeps.size() == 3 ? 5u : vc.now + ms; // wraps during the third step
    };
    monSleepFor(5000, c, [] { return false; });
    EXPECT_EQ(sleeps.size(), 3u);
}

TEST(ExchangeWaits, WaitUntilCompletesThePeriodOrReturnsAtOnce) {
    VirtualClock vc;
    TmonClock c = vc.Make();
    vc.now = 10000;
    monWaitUntil(9000, 3000, c, [] { return false; }); // 1000 gone: 2000 left
    EXPECT_NEAR(double(vc.slept.load()), 2000.0, 100.0);
    vc.slept = 0;
    monWaitUntil(5000, 3000, c, [] { return false; }); // over the period
    EXPECT_EQ(vc.slept.load(), 0u);
    vc.slept = 0;
    vc.now = 7000;
    monWaitUntil(7000, 3000, c, [] { return false; }); // done within the tick it began in
    EXPECT_NEAR(double(vc.slept.load()), 3000.0, 100.0);
    vc.slept = 0;
    vc.now = 100; // the count wrapped since the start
    monWaitUntil(4294967000u, 3000, c, [] { return false; });
    EXPECT_EQ(vc.slept.load(), 0u);

    // A cycle that ends within the tick it began in waits the whole period, not none of it.
    std::atomic<uint32_t> frozen{50000}, slept{0};
    TmonClock still;
    still.Ticks = [&] { return frozen.load(); };
    still.Sleep = [&](uint32_t ms) {
        slept += ms;
        frozen += ms; // only the sleeps move this clock
    };
    monWaitUntil(50000, 3000, still, [] { return false; });
    EXPECT_EQ(slept.load(), 3000u);
}

TEST(ExchangeWaits, SettingsChangedOnlyByAClearFlagOrAMovedTime) {
    const TDateTime t = At(10, 0, 0);
    EXPECT_FALSE(monSettingsChanged(true, t, t));
    EXPECT_FALSE(monSettingsChanged(true, t + 0.4 / kMSecsPerDay, t));
    EXPECT_TRUE(monSettingsChanged(true, t + 2.0 / kMSecsPerDay, t));
    EXPECT_TRUE(monSettingsChanged(false, t, t));
    EXPECT_TRUE(monSettingsChanged(true, t, 0));
}

TEST_F(Exchange, PeriodFollowsTheMetersSecond) {
    for (auto [second, expected] : {std::pair<int, uint32_t>{59, 1000}, {0, 3000}, {1, 2000}}) {
        auto sim = StartSim(1, At(12, 30, second));
        auto conn = TcpConnection(dtQZ2M, sim->port());
        VirtualClock vc;
        test::TRecordingListener rec;
        std::vector<uint32_t> sleptAtRecord;
        rec.OnRecord = [&](size_t) { sleptAtRecord.push_back(vc.slept.load()); };
        rec.StopAfter = 2;
        TMainExchangeThread t(&rec, conn.get(), &storage);
        rec.Thread = &t;
        t.SetClock(vc.Make());
        t.Start();
        ASSERT_TRUE(rec.WaitEnd()) << second;
        ASSERT_EQ(rec.Records, 2u);
        // The rest of the period, slept in 50 ms steps.
        EXPECT_NEAR(double(sleptAtRecord[1] - sleptAtRecord[0]), double(expected), 100.0) << second;
        EXPECT_EQ(rec.EndCode, 0);
        EXPECT_EQ(rec.EndStatus, 0);
    }
}

TEST_F(Exchange, SlowCycleIsFollowedAtOnceByTheNext) {
    auto sim = StartSim(1, At(12, 30, 0));
    auto conn = TcpConnection(dtQZ2M, sim->port());
    test::TRecordingListener rec;
    rec.StopAfter = 3;
    TMainExchangeThread t(&rec, conn.get(), &storage);
    rec.Thread = &t;
    // Every look at the clock finds 5 s more gone: each cycle overruns its 3-second period.
    std::atomic<uint32_t> now{0}, slept{0};
    TmonClock c;
    c.Ticks = [&] { return now += 5000; };
    c.Sleep = [&](uint32_t ms) { slept += ms; };
    t.SetClock(c);
    t.Start();
    ASSERT_TRUE(rec.WaitEnd());
    EXPECT_EQ(rec.Records, 3u);
    EXPECT_EQ(slept.load(), 0u);
}

TEST_F(Exchange, ARecordFoundAgainAfterASlowAnswerIsAnnouncedOnce) {
    // Every answer takes 200 ms of the line, seen by the meter and the thread alike. The first
    // time answer comes at 14.7 s, and the record answer after the 15 s boundary: the next
    // cycle, waited from the time answer, finds the same record once more.
    VirtualClock vc;
    const TDateTime base = At(12, 30, 14) + (700.0 - 1000.0 - 200.0) / kMSecsPerDay;
    TSimOptions o;
    o.ModelIndex = 1;
    o.ListenPort = 0;
    o.Clock = [&] { return base + (vc.now += 200) / kMSecsPerDay; };
    TMeterSimulator sim(o);
    ASSERT_TRUE(sim.Start());
    auto conn = TcpConnection(dtQZ2M, sim.port());
    test::TRecordingListener rec;
    std::vector<TDateTime> times;
    rec.OnRecord = [&](size_t) { times.push_back(storage.Snapshot().Data3sec.Time); };
    rec.StopAfter = 3;
    TMainExchangeThread t(&rec, conn.get(), &storage);
    rec.Thread = &t;
    t.SetClock(vc.Make());
    t.Start();
    ASSERT_TRUE(rec.WaitEnd());
    ASSERT_EQ(times.size(), 3u);
    EXPECT_LT(times[0], times[1]);
    EXPECT_LT(times[1], times[2]);
}

TEST_F(Exchange, SettingsAreReadOnTheFirstCycleAndAgainOnlyOnAChange) {
    auto sim = StartSim(1, At(8, 0, 0));
    sim->SetSettingsChange(true, At(7, 0, 0));
    auto conn = TcpConnection(dtQZ2M, sim->port());
    VirtualClock vc;
    test::TRecordingListener rec;
    std::vector<uint64_t> requests; // the meter's request count at each record
    rec.StopAfter = 4;
    TMainExchangeThread t(&rec, conn.get(), &storage);
    rec.Thread = &t;
    t.SetClock(vc.Make());
    // After the second record the meter reports a new change time.
    rec.OnRecord = [&](size_t n) {
        requests.push_back(sim->RequestCount());
        if (n == 2) sim->SetSettingsChange(true, At(7, 30, 0));
    };
    t.Start();
    ASSERT_TRUE(rec.WaitEnd());
    ASSERT_EQ(rec.Records, 4u);
    // time + settings + coefficients + record, then time + record.
    EXPECT_EQ(requests[0], 4u);
    EXPECT_EQ(requests[1] - requests[0], 2u);
    EXPECT_EQ(requests[2] - requests[1], 4u); // the change time moved
    EXPECT_EQ(requests[3] - requests[2], 2u);
    const TmonStorage s = storage.Snapshot();
    EXPECT_GT(s.Settings.VoltageRatio, 0.f);
    EXPECT_GT(s.Data3sec.U1[0], 0.0);
    EXPECT_NEAR(s.Data3sec.Time, At(8, 0, 0) - 3.0 / 86400.0, 1e-6);
}

TEST_F(Exchange, ClearChangeFlagReadsSettingsEveryCycle) {
    auto sim = StartSim(0, At(8, 0, 0));
    sim->SetSettingsChange(false, At(7, 0, 0));
    auto conn = TcpConnection(dtQZ2, sim->port());
    VirtualClock vc;
    test::TRecordingListener rec;
    std::vector<uint64_t> requests; // the meter's request count at each record
    rec.OnRecord = [&](size_t) { requests.push_back(sim->RequestCount()); };
    rec.StopAfter = 3;
    TMainExchangeThread t(&rec, conn.get(), &storage);
    rec.Thread = &t;
    t.SetClock(vc.Make());
    t.Start();
    ASSERT_TRUE(rec.WaitEnd());
    ASSERT_EQ(rec.Records, 3u);
    EXPECT_EQ(requests[1] - requests[0], 4u);
    EXPECT_EQ(requests[2] - requests[1], 4u);
    EXPECT_EQ(storage.Snapshot().Data3sec.U1[phN], 0.0); // basic record: no N
}

TEST_F(Exchange, StopDuringTheWaitEndsQuicklyWithZeroes) {
    auto sim = StartSim(1, At(9, 0, 0)); // second 0: a 3-second wait after each record
    auto conn = TcpConnection(dtQZ2M, sim->port());
    test::TRecordingListener rec;
    TMainExchangeThread t(&rec, conn.get(), &storage);
    rec.Thread = &t;
    t.Start();
    ASSERT_TRUE(rec.WaitRecords(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // into the wait
    const auto stopAt = Clock::now();
    t.Stop();
    ASSERT_TRUE(rec.WaitEnd());
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(rec.EndAt - stopAt).count();
    EXPECT_LT(ms, 1000); // the wait goes in 50 ms steps
    EXPECT_EQ(rec.EndCode, 0);
    EXPECT_EQ(rec.EndStatus, 0);
}

TEST_F(Exchange, LinkFiguresAreReadDuringTheExchangeAndKeptAfterItsEnd) {
    auto sim = StartSim(1);
    auto conn = TcpConnection(dtQZ2M, sim->port());
    test::TRecordingListener rec;
    TMainExchangeThread t(&rec, conn.get(), &storage);
    EXPECT_EQ(t.LinkStatistics().Requests, 0u) << "before the thread has a protocol";
    std::vector<TLinkStatistics> during;
    rec.OnRecord = [&](size_t) { during.push_back(t.LinkStatistics()); };
    rec.Thread = &t;
    rec.StopAfter = 2;
    t.Start();
    ASSERT_TRUE(rec.WaitEnd());
    t.Join();
    ASSERT_EQ(during.size(), 2u);
    EXPECT_GT(during[0].Requests, 0u);
    EXPECT_GT(during[1].Requests, during[0].Requests);
    // The protocol is gone; its last figures are what the meter was asked in all.
    const TLinkStatistics after = t.LinkStatistics();
    EXPECT_EQ(after.Requests, sim->RequestCount());
    EXPECT_EQ(after.Answers, after.Requests);
    EXPECT_EQ(after.Requests, during[1].Requests); // a stop after the record asks no more
    EXPECT_GT(after.BytesReceived, after.BytesSent);
}

TEST_F(Exchange, MeterStatusEndsTheExchangeWithThatStatus) {
    TFaultOptions f;
    f.ForceStatus = 7;
    auto sim = StartSim(1, 0, f);
    auto conn = TcpConnection(dtQZ2M, sim->port());
    test::TRecordingListener rec;
    TMainExchangeThread t(&rec, conn.get(), &storage);
    rec.Thread = &t;
    t.Start();
    ASSERT_TRUE(rec.WaitEnd());
    EXPECT_EQ(rec.Records, 0u);
    EXPECT_EQ(rec.EndStatus, 7);
}

TEST_F(Exchange, ChannelThatCannotOpenEndsWith203) {
    auto conn = TcpConnection(dtQZ2M, 4001, "999.1.1.1");
    test::TRecordingListener rec;
    TMainExchangeThread t(&rec, conn.get(), &storage);
    rec.Thread = &t;
    t.Start();
    ASSERT_TRUE(rec.WaitEnd());
    EXPECT_EQ(rec.EndCode, prtErrNoChannel);
    EXPECT_EQ(rec.EndStatus, 0);
    EXPECT_FALSE(rec.EndText.empty());
}

TEST_F(Exchange, SilentMeterEndsWithFiveAfterTheAttempts) {
    TFaultOptions f;
    f.SilentAfter = 0;
    auto sim = StartSim(1, 0, f);
    auto conn = TcpConnection(dtQZ2M, sim->port(), "127.0.0.1", 1);
    test::TRecordingListener rec;
    TMainExchangeThread t(&rec, conn.get(), &storage);
    rec.Thread = &t;
    t.Start();
    ASSERT_TRUE(rec.WaitEnd(30000));
    EXPECT_EQ(rec.EndCode, prtErrNoAnswer);
    EXPECT_EQ(rec.EndStatus, 0);
    EXPECT_EQ(rec.EndText, "Нет ответа от устройства.");
}

// --- reconnection after a failed step ---

namespace {
TmonReconnect ReconnectOn() {
    TmonReconnect r;
    r.Enabled = true;
    return r;
}
// The requests of one connection, as Cmd * 256 + Cmd1.
std::vector<int> AskedOn(const TMeterSimulator& sim, uint32_t connection) {
    std::vector<int> asked;
    for (const TSimRequest& r : sim.RequestLog())
        if (r.Connection == connection) asked.push_back(r.Cmd * 256 + r.Cmd1);
    return asked;
}
constexpr int kTime = 15 * 256 + 1, kSettings = 14 * 256 + 1, kScale = 14 * 256 + 2,
              kRecordM = 27 * 256 + 1;
} // namespace

TEST(ExchangeWaits, RetryDoublesUpToTheMost) {
    TmonReconnect r = ReconnectOn();
    r.MaxMs = 20000;
    uint32_t ms = r.FirstMs;
    std::vector<uint32_t> seen;
    for (int i = 0; i < 5; ++i)
        seen.push_back(ms = monNextRetryMs(ms, r));
    EXPECT_EQ(seen, (std::vector<uint32_t>{6000, 12000, 20000, 20000, 20000}));
    r.MaxMs = 1000; // a most below the first wait keeps the first
    EXPECT_EQ(monNextRetryMs(3000, r), 3000u);
    EXPECT_EQ(monNextRetryMs(4000000000u, ReconnectOn()), 60000u); // no overflow
}

TEST_F(Exchange, FailuresBecomeOutagesOnAFreshLineWithGrowingWaits) {
    // Every second answer is spoilt: the settings read fails on every connection, no record
    // ever comes, and each outage waits twice as long as the one before.
    TFaultOptions f;
    f.BadCheckEvery = 2;
    auto sim = StartSim(1, 0, f);
    auto conn = TcpConnection(dtQZ2M, sim->port(), "127.0.0.1", 1);
    VirtualClock vc;
    test::TRecordingListener rec;
    rec.StopAfterOutages = 7;
    TMainExchangeThread t(&rec, conn.get(), &storage);
    rec.Thread = &t;
    t.SetClock(vc.Make());
    t.SetReconnect(ReconnectOn());
    t.Start();
    ASSERT_TRUE(rec.WaitEnd());
    EXPECT_EQ(rec.EndCode, 0) << "a stop during an outage ends as a stop";
    EXPECT_EQ(rec.EndStatus, 0);
    std::vector<uint32_t> waits;
    for (const auto& o : rec.Outages) {
        waits.push_back(o.RetryMs);
        EXPECT_NE(o.Code, 0);
    }
    EXPECT_EQ(waits, (std::vector<uint32_t>{3000, 6000, 12000, 24000, 48000, 60000, 60000}));
    EXPECT_FALSE(rec.OutageTexts.front().empty());
    // The waits were slept (the virtual tick count also moves by 1 ms at every look).
    EXPECT_NEAR(double(vc.slept.load()), 153000.0, 153000.0 * 0.03);
    // Each outage closed the line: every attempt came on a connection of its own.
    EXPECT_EQ(sim->ConnectionCount(), 7u);
    EXPECT_EQ(AskedOn(*sim, 7), (std::vector<int>{kTime, kSettings}));
}

TEST_F(Exchange, AGoodRecordBringsTheWaitBackAndEachNewLineReadsTheSettingsAgain) {
    // Every fifth answer is spoilt: each connection gives one record, then fails.
    TFaultOptions f;
    f.BadCheckEvery = 5;
    auto sim = StartSim(1, 0, f);
    auto conn = TcpConnection(dtQZ2M, sim->port(), "127.0.0.1", 1);
    VirtualClock vc;
    test::TRecordingListener rec;
    rec.StopAfterOutages = 3;
    TMainExchangeThread t(&rec, conn.get(), &storage);
    rec.Thread = &t;
    t.SetClock(vc.Make());
    t.SetReconnect(ReconnectOn());
    t.Start();
    ASSERT_TRUE(rec.WaitEnd());
    ASSERT_EQ(rec.Outages.size(), 3u);
    for (const auto& o : rec.Outages)
        EXPECT_EQ(o.RetryMs, 3000u);
    EXPECT_GE(rec.Records, 1u);
    // Time parameters, settings and coefficients again after every outage, although the
    // meter's change time never moved.
    for (uint32_t c = 1; c <= 3; ++c)
        EXPECT_EQ(AskedOn(*sim, c), (std::vector<int>{kTime, kSettings, kScale, kRecordM, kTime}))
            << "connection " << c;
}

TEST_F(Exchange, AConnectionTheLineMadeAgainByItselfAlsoBringsTheSettingsAgain) {
    // The meter closes each connection after five answers; the line connects again within
    // its own attempts and the request is repeated there, so no step fails.
    TFaultOptions f;
    f.CloseAfter = 5;
    auto sim = StartSim(1, 0, f);
    auto conn = TcpConnection(dtQZ2M, sim->port(), "127.0.0.1", 2, 2);
    VirtualClock vc;
    test::TRecordingListener rec;
    rec.StopAfter = 3;
    TMainExchangeThread t(&rec, conn.get(), &storage);
    rec.Thread = &t;
    t.SetClock(vc.Make());
    t.SetReconnect(ReconnectOn());
    t.Start();
    ASSERT_TRUE(rec.WaitEnd(30000));
    EXPECT_TRUE(rec.Outages.empty());
    ASSERT_EQ(rec.Records, 3u);
    const std::vector<int> second = AskedOn(*sim, 2);
    ASSERT_GE(second.size(), 4u);
    EXPECT_EQ(std::vector<int>(second.end() - 4, second.end()),
              (std::vector<int>{kTime, kSettings, kScale, kRecordM}));
}

TEST_F(Exchange, TheRecordAnnouncedBeforeAnOutageIsNotAnnouncedAgainAfterIt) {
    // A meter whose clock stands still gives the same record on every connection.
    TFaultOptions f;
    f.BadCheckEvery = 5;
    auto sim = StartSim(1, At(10, 0, 0), f);
    auto conn = TcpConnection(dtQZ2M, sim->port(), "127.0.0.1", 1);
    VirtualClock vc;
    test::TRecordingListener rec;
    rec.StopAfterOutages = 3;
    TMainExchangeThread t(&rec, conn.get(), &storage);
    rec.Thread = &t;
    t.SetClock(vc.Make());
    t.SetReconnect(ReconnectOn());
    t.Start();
    ASSERT_TRUE(rec.WaitEnd());
    EXPECT_EQ(rec.Records, 1u);
    EXPECT_EQ(AskedOn(*sim, 3), (std::vector<int>{kTime, kSettings, kScale, kRecordM, kTime}));
}

TEST_F(Exchange, StopDuringAnOutageWaitEndsAtOnceWithZeroes) {
    TFaultOptions f;
    f.ForceStatus = 7;
    auto sim = StartSim(1, 0, f);
    auto conn = TcpConnection(dtQZ2M, sim->port());
    test::TRecordingListener rec;
    TMainExchangeThread t(&rec, conn.get(), &storage);
    rec.Thread = &t;
    t.SetReconnect(ReconnectOn());
    t.Start();
    ASSERT_TRUE(test::Eventually([&] {
        std::lock_guard<std::mutex> lock(rec.M);
        return !rec.Outages.empty();
    }));
    {
        std::lock_guard<std::mutex> lock(rec.M);
        EXPECT_EQ(rec.Outages[0].Status, 7);
        EXPECT_EQ(rec.OutageTexts[0], DeviceStatusText(7));
        EXPECT_FALSE(rec.Ended);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // into the 3-second wait
    const auto stopAt = Clock::now();
    t.Stop();
    ASSERT_TRUE(rec.WaitEnd());
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(rec.EndAt - stopAt).count(),
              1000);
    EXPECT_EQ(rec.EndCode, 0);
    EXPECT_EQ(rec.EndStatus, 0);
    EXPECT_EQ(sim->ConnectionCount(), 1u);
}

// --- the waveform thread ---

class Signal : public Exchange {
protected:
    void SetUp() override { ASSERT_EQ(ExpCreate(&exp, "signal", 0), 0); }
    void TearDown() override { ExpDestroy(&exp); }
    TSigExperiment* exp = nullptr;
};

TEST_F(Signal, WaitsForTheSettingsAndSendsNothingWhenStoppedThere) {
    auto sim = StartSim(1);
    auto conn = TcpConnection(dtQZ2M, sim->port());
    test::TRecordingListener rec;
    TSignalExchangeThread t(&rec, conn.get(), &storage, exp);
    VirtualClock vc;
    t.SetClock(vc.Make());
    t.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    t.Stop();
    ASSERT_TRUE(rec.WaitSignalEnd());
    EXPECT_EQ(rec.SignalEndCode, 0);
    EXPECT_EQ(rec.SignalEndStatus, 0);
    EXPECT_EQ(sim->RequestCount(), 0u);
    EXPECT_TRUE(rec.Blocks.empty());
}

TEST_F(Signal, EachRequestUsesTheMaskAndCodeReadJustBeforeIt) {
    auto sim = StartSim(1);
    auto conn = TcpConnection(dtQZ2M, sim->port());
    storage.Update([](TmonStorage& s) { s.Settings.VoltageRatio = 1; });
    exp->ChannelMask = 0x03;
    exp->SizeCode = 2;
    test::TRecordingListener rec;
    rec.StopAfter = 2;
    rec.OnBlock = [&](size_t n) {
        if (n == 1) {
            exp->ChannelMask = 0x30;
            exp->SizeCode = 4;
        }
    };
    TSignalExchangeThread t(&rec, conn.get(), &storage, exp);
    rec.Thread = &t;
    VirtualClock vc;
    t.SetClock(vc.Make());
    t.Start();
    ASSERT_TRUE(rec.WaitSignalEnd());
    ASSERT_EQ(rec.Blocks.size(), 2u);
    EXPECT_EQ(rec.Blocks[0], std::make_pair(uint8_t(0x03), uint8_t(2)));
    EXPECT_EQ(rec.Blocks[1], std::make_pair(uint8_t(0x30), uint8_t(4)));
    EXPECT_EQ(storage.Snapshot().SignalData, nullptr); // not kept past its notification
}

TEST_F(Signal, StatusThreeEndsAfterTheFirstRequestOtherFailuresAreRetried) {
    TFaultOptions f;
    f.ForceSignalStatus = 3;
    auto sim = StartSim(1, 0, f);
    auto conn = TcpConnection(dtQZ2M, sim->port());
    storage.Update([](TmonStorage& s) { s.Settings.VoltageRatio = 1; });
    {
        test::TRecordingListener rec;
        TSignalExchangeThread t(&rec, conn.get(), &storage, exp);
        VirtualClock vc;
        t.SetClock(vc.Make());
        t.Start();
        ASSERT_TRUE(rec.WaitSignalEnd());
        EXPECT_EQ(rec.SignalEndStatus, 3);
        EXPECT_EQ(sim->RequestCount(), 1u);
    }
    f.ForceSignalStatus = 7;
    auto sim7 = StartSim(1, 0, f);
    auto conn7 = TcpConnection(dtQZ2M, sim7->port());
    test::TRecordingListener rec;
    TSignalExchangeThread t(&rec, conn7.get(), &storage, exp);
    VirtualClock vc;
    t.SetClock(vc.Make());
    t.Start();
    test::Eventually([&] { return sim7->RequestCount() >= 3; }, 10000);
    EXPECT_GE(sim7->RequestCount(), 3u);
    {
        std::lock_guard<std::mutex> lock(rec.M);
        EXPECT_FALSE(rec.SignalEnded);
    }
    t.Stop();
    ASSERT_TRUE(rec.WaitSignalEnd());
    EXPECT_EQ(rec.SignalEndCode, 0);
}

TEST_F(Signal, WithReconnectionAFailedBlockIsAnOutageOnAFreshLine) {
    TFaultOptions f;
    f.ForceSignalStatus = 7;
    auto sim = StartSim(1, 0, f);
    auto conn = TcpConnection(dtQZ2M, sim->port());
    storage.Update([](TmonStorage& s) { s.Settings.VoltageRatio = 1; });
    test::TRecordingListener rec;
    rec.StopAfterOutages = 3;
    TSignalExchangeThread t(&rec, conn.get(), &storage, exp);
    rec.Thread = &t;
    VirtualClock vc;
    t.SetClock(vc.Make());
    t.SetReconnect(ReconnectOn());
    t.Start();
    ASSERT_TRUE(rec.WaitSignalEnd());
    ASSERT_EQ(rec.Outages.size(), 3u);
    EXPECT_EQ(rec.Outages[0].RetryMs, 3000u);
    EXPECT_EQ(rec.Outages[2].RetryMs, 12000u);
    EXPECT_EQ(rec.Outages[0].Status, 7);
    EXPECT_EQ(sim->ConnectionCount(), 3u);
    EXPECT_EQ(rec.SignalEndStatus, 0);
}

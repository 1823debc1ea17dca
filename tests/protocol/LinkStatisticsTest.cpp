// The link statistics of a conversation, set against what the simulated meter logged.
#include "protocol/CommonQZ2Protocol.h"
#include "protocol/KavrenProtocol.h"
#include "protocol/QZ2Commands.h"
#include "simulator/MeterSimulator.h"

#include "channel/LCAObject.h"
#include "tests/support/ChannelGuards.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

namespace qz {
namespace {

// Bytes the meter received and sent, by its own log ("<-" requests, "->" answers).
struct MeterLog {
    uint64_t Asked = 0, Answered = 0, AskedBytes = 0, AnsweredBytes = 0;
};

MeterLog ReadMeterLog(const std::string& path) {
    MeterLog m;
    std::ifstream in(path);
    for (std::string l; std::getline(in, l);) {
        const size_t req = l.find(" <- "), ans = l.find(" -> ");
        const size_t at = req != std::string::npos ? req : ans;
        if (at == std::string::npos) continue;
        std::string hex = l.substr(at + 4);
        hex = hex.substr(0, hex.find("  [")); // a fault's note follows the bytes
        const uint64_t bytes = (hex.size() + 1) / 3;
        if (req != std::string::npos) {
            ++m.Asked;
            m.AskedBytes += bytes;
        } else {
            ++m.Answered;
            m.AnsweredBytes += bytes;
        }
    }
    return m;
}

class LinkStatistics : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.Path().empty());
        logPath_ = dir_ / "meter.log";
    }
    std::unique_ptr<TMeterSimulator> Sim(TFaultOptions faults = {}) {
        TSimOptions o;
        o.ListenPort = 0;
        o.Faults = faults;
        o.LogFile = logPath_;
        auto sim = std::make_unique<TMeterSimulator>(o);
        std::string err;
        EXPECT_TRUE(sim->Start(&err)) << err;
        return sim;
    }
    // Stops the meter so that its log is complete, and reads it.
    MeterLog Logged(TMeterSimulator& sim) {
        sim.Stop();
        return ReadMeterLog(logPath_);
    }
    static TLCAParams Line(uint16_t port) {
        TLCAParams p;
        p.Pca.SetKind(TPCAParams::KindTCP);
        p.Pca.SetIpAddress("127.0.0.1");
        p.Pca.SetIpPort(port);
        p.MaxAttemptCountOnConnect = 2;
        p.Priority = 1;
        return p;
    }
    static TQZ2_TimeParamsCmd* QuickTimeCmd(int timeoutMs = 250) {
        auto* c = new TQZ2_TimeParamsCmd(4, 1);
        c->Timeout = timeoutMs;
        return c;
    }

    test::TempDir dir_;
    std::string logPath_;
    test::TNoSleep noSleep_;
    test::TLCAModule module_;
};

} // namespace

TEST_F(LinkStatistics, CleanPollCountsEveryRequestAnswerAndByte) {
    auto sim = Sim();
    TCommonQZ2Protocol p(Line(sim->port()), false, 3, 1, 0);
    EXPECT_EQ(p.LinkStatistics().LastRoundTripMs, -1) << "no answer yet";
    const uint8_t* data = nullptr;
    size_t size = 0;
    TDateTime t = 0;
    for (int cycle = 0; cycle < 2; ++cycle) {
        ASSERT_TRUE(p.ReadTimeParams(data, size)) << p.GetErrorText();
        ASSERT_TRUE(p.ReadArchive3sec(data, size, t)) << p.GetErrorText();
    }
    const TLinkStatistics s = p.LinkStatistics();
    const MeterLog m = Logged(*sim);
    EXPECT_EQ(m.Asked, 4u);
    EXPECT_EQ(s.Requests, m.Asked);
    EXPECT_EQ(s.Answers, m.Answered);
    EXPECT_EQ(s.BytesSent, m.AskedBytes);
    EXPECT_EQ(s.BytesReceived, m.AnsweredBytes);
    EXPECT_GT(s.BytesReceived, 2 * 1602u);
    EXPECT_EQ(s.Repeats, 0u);
    EXPECT_EQ(s.CheckErrors, 0u);
    EXPECT_EQ(s.Timeouts, 0u);
    EXPECT_GE(s.LastRoundTripMs, 0);
}

TEST_F(LinkStatistics, WrongCheckBytesAreCountedAndNotRepeated) {
    TFaultOptions f;
    f.BadCheckEvery = 2;
    auto sim = Sim(f);
    TKavrenProtocol p(Line(sim->port()), false, 3, 1, 4);
    int good = 0;
    for (int i = 0; i < 4; ++i)
        good += p.ExecuteCommand(QuickTimeCmd()) ? 1 : 0;
    EXPECT_EQ(good, 2);
    const TLinkStatistics s = p.LinkStatistics();
    const MeterLog m = Logged(*sim);
    EXPECT_EQ(s.CheckErrors, 2u);
    EXPECT_EQ(s.Answers, 4u);
    EXPECT_EQ(s.Answers, m.Answered);
    EXPECT_EQ(s.Requests, m.Asked);
    EXPECT_EQ(s.Repeats, 0u) << "an answer that arrived is never asked for again";
    EXPECT_EQ(s.BytesReceived, m.AnsweredBytes);
}

TEST_F(LinkStatistics, SilentMeterGivesTimeoutsAndRepeats) {
    TFaultOptions f;
    f.SilentAfter = 1;
    auto sim = Sim(f);
    TKavrenProtocol p(Line(sim->port()), false, 3, 1, 4);
    ASSERT_TRUE(p.ExecuteCommand(QuickTimeCmd())) << p.GetErrorText();
    const int64_t firstTrip = p.LinkStatistics().LastRoundTripMs;
    EXPECT_GE(firstTrip, 0);
    EXPECT_FALSE(p.ExecuteCommand(QuickTimeCmd()));
    const TLinkStatistics s = p.LinkStatistics();
    const MeterLog m = Logged(*sim);
    EXPECT_EQ(m.Asked, 4u) << "the second command went out three times";
    EXPECT_EQ(s.Requests, m.Asked);
    EXPECT_EQ(s.Answers, 1u);
    EXPECT_EQ(s.Answers, m.Answered);
    EXPECT_EQ(s.Timeouts, 3u);
    EXPECT_EQ(s.Repeats, 2u);
    EXPECT_EQ(s.BytesSent, m.AskedBytes);
    EXPECT_EQ(s.LastRoundTripMs, firstTrip) << "kept from the last answer";
}

TEST_F(LinkStatistics, StrayBytesAndShortAnswersAreCountedAsTheyCame) {
    TFaultOptions f;
    f.GarbageBytes = 40;
    f.TruncateFirst = 1;
    auto sim = Sim(f);
    TKavrenProtocol p(Line(sim->port()), false, 3, 1, 4);
    ASSERT_TRUE(p.ExecuteCommand(QuickTimeCmd())) << p.GetErrorText();
    const TLinkStatistics s = p.LinkStatistics();
    const MeterLog m = Logged(*sim);
    EXPECT_EQ(m.Asked, 2u) << "the short answer made the request go again";
    EXPECT_EQ(s.Requests, 2u);
    EXPECT_EQ(s.Repeats, 1u);
    EXPECT_EQ(s.Timeouts, 1u);
    EXPECT_EQ(s.Answers, 1u);
    EXPECT_EQ(s.BytesReceived, m.AnsweredBytes) << "the garbage and the short answer included";
}

TEST_F(LinkStatistics, RoundTripCoversAnAnswerPacedAtTheLineSpeed) {
    TFaultOptions f;
    f.Baud = 9600; // 10 bits a byte: the 69-byte answer takes at least 71 ms
    auto sim = Sim(f);
    TKavrenProtocol p(Line(sim->port()), false, 1, 1, 4);
    ASSERT_TRUE(p.ExecuteCommand(QuickTimeCmd(2000))) << p.GetErrorText();
    const TLinkStatistics s = p.LinkStatistics();
    EXPECT_EQ(s.BytesReceived, 69u);
    EXPECT_GE(s.LastRoundTripMs, 69 * 10 * 1000 / 9600);
}

} // namespace qz

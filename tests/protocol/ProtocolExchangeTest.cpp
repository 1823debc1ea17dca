// The protocol objects through the real logical-channel worker and TCP, against the meter
// simulator on loopback.
#include "protocol/CommonQZ2Protocol.h"
#include "protocol/QZ2Models.h"
#include "simulator/MeterSimulator.h"

#include "channel/LCAObject.h"
#include "channel/PCAType.h"
#include "tests/support/ChannelGuards.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

namespace qz {
namespace {

using Clock = std::chrono::steady_clock;

std::atomic<bool> gMidnight{false};

TDateTime SimClock() {
    TDateTime t = 0;
    if (gMidnight)
        TryEncodeDateTime({2027, 1, 1, 0, 0, 1, 0}, t);
    else
        TryEncodeDateTime({2026, 12, 7, 21, 15, 10, 0}, t);
    return t;
}

TLCAParams Line(uint16_t port, uint8_t priority = 1) {
    TLCAParams p;
    p.Pca.SetKind(TPCAParams::KindTCP);
    p.Pca.SetIpAddress("127.0.0.1");
    p.Pca.SetIpPort(port);
    p.MaxAttemptCountOnConnect = 2;
    p.Priority = priority;
    return p;
}

class ProtocolExchange : public ::testing::Test {
protected:
    std::unique_ptr<TMeterSimulator> Sim(int model, TFaultOptions faults = {},
                                         uint16_t address = 1) {
        TSimOptions o;
        o.ModelIndex = model;
        o.Address = address;
        o.ListenPort = 0;
        o.Clock = &SimClock;
        o.Faults = faults;
        auto sim = std::make_unique<TMeterSimulator>(o);
        std::string err;
        EXPECT_TRUE(sim->Start(&err)) << err;
        return sim;
    }

    // The settling pauses around a TCP connect are for real meters only.
    test::TNoSleep noSleep;
    test::TLCAModule module;
};

// A time-parameters command that gives up on an answer quickly.
TQZ2_TimeParamsCmd* QuickTimeCmd(uint16_t code, uint16_t address, int timeoutMs = 300) {
    auto* c = new TQZ2_TimeParamsCmd(code, address);
    c->Timeout = timeoutMs;
    return c;
}

TEST_F(ProtocolExchange, SixReadsForEveryModel) {
    for (int m = 0; m < kQZ2ModelCount; ++m) {
        SCOPED_TRACE(QZ2Model(m).CmdLineName);
        auto sim = Sim(m, {}, 12);
        TCommonQZ2Protocol p(Line(sim->port()), false, 3, 12, QZ2Model(m).Variant);
        ASSERT_TRUE(p.Opened());
        EXPECT_EQ(p.MaxAttemptCountOnConnect(), 2);
        const uint8_t* data = nullptr;
        size_t size = 0;

        ASSERT_TRUE(p.ReadTimeParams(data, size)) << p.GetErrorText();
        EXPECT_EQ(size, 44u);
        const auto* t = p.CommandAs<TQZ2_TimeParamsCmd>();
        ASSERT_NE(t, nullptr);
        EXPECT_NEAR(t->DeviceTime(), SimClock(), 1e-8);
        EXPECT_TRUE(t->ChangeFlag());

        ASSERT_TRUE(p.ReadSettings(data, size));
        EXPECT_EQ(size, 240u);
        EXPECT_FLOAT_EQ(p.CommandAs<TQZ2_SettingsCmd>()->NominalPhaseVoltage(), 220.0f);

        ASSERT_TRUE(p.ReadScaleKoeffs(data, size));
        EXPECT_EQ(size, 12u);
        EXPECT_GT(p.CommandAs<TQZ2_ScaleKoeffsCmd>()->VoltageKoeff(), 0.0f);

        TDateTime recTime = 0;
        const bool ext = QZ2Model(m).HasNeutral;
        ASSERT_TRUE(ext ? p.ReadArchive3secM(data, size, recTime)
                        : p.ReadArchive3sec(data, size, recTime));
        EXPECT_EQ(size, ext ? 1946u : 1602u);
        // The meter stamps the end of the interval (21:15:09); the record is its start.
        TDateTime expected = 0;
        TryEncodeDateTime({2026, 12, 7, 21, 15, 6, 0}, expected);
        EXPECT_NEAR(recTime, expected, 1e-8);
        float u1 = 0;
        std::memcpy(&u1, data, 4);
        EXPECT_NEAR(u1, 220.0f, 15.0f) << "data points at the record";

        uint16_t signalSize = 0;
        const uint8_t mask = ext ? 0xFF : 0x3F;
        ASSERT_TRUE(p.ReadSignalTrend(mask, 2, signalSize, data));
        EXPECT_EQ(signalSize, 64 * (ext ? 8 : 6) * 2 + (ext ? 1 : 0));
        EXPECT_EQ(p.GetLastError(), 0);
        EXPECT_EQ(sim->AnswerCount(), 5u);
    }
}

TEST_F(ProtocolExchange, GarbageBeforeTheAnswerIsSkipped) {
    TFaultOptions f;
    f.GarbageBytes = 40;
    auto sim = Sim(0, f);
    TCommonQZ2Protocol p(Line(sim->port()), false, 1, 1, 0);
    const uint8_t* data = nullptr;
    size_t size = 0;
    ASSERT_TRUE(p.ReadTimeParams(data, size)) << p.GetErrorText();
    TDateTime t = 0;
    ASSERT_TRUE(p.ReadArchive3sec(data, size, t));
    EXPECT_EQ(sim->RequestCount(), 2u);
}

TEST_F(ProtocolExchange, WrongCheckByteEndsAtOnceWith202) {
    TFaultOptions f;
    f.BadCheckEvery = 1;
    auto sim = Sim(0, f);
    TCommonQZ2Protocol p(Line(sim->port()), false, 3, 1, 0);
    const uint8_t* data = nullptr;
    size_t size = 0;
    EXPECT_FALSE(p.ReadTimeParams(data, size));
    EXPECT_EQ(p.GetLastError(), prtErrCRC);
    EXPECT_EQ(p.GetErrorText(), "CRC не совпало.");
    EXPECT_EQ(sim->RequestCount(), 1u) << "not retried although attempts remain";
    EXPECT_EQ(data, nullptr);
}

TEST_F(ProtocolExchange, ExtendedReadOfABasicMeterGives204) {
    auto sim = Sim(0);
    TCommonQZ2Protocol p(Line(sim->port()), false, 3, 1, 1); // variant 1 asks for 1946 bytes
    const uint8_t* data = nullptr;
    size_t size = 0;
    TDateTime t = 0;
    EXPECT_FALSE(p.ReadArchive3secM(data, size, t));
    EXPECT_EQ(p.GetLastError(), 204);
    EXPECT_EQ(p.GetErrorText(), "Получены некорректные данные.");
    EXPECT_EQ(sim->RequestCount(), 1u);
    // The basic read of the same meter is fine on the same protocol.
    EXPECT_TRUE(p.ReadArchive3sec(data, size, t));
}

TEST_F(ProtocolExchange, AnswerOfAnotherAddressIsNeverAccepted) {
    TFaultOptions f;
    f.WrongAddress = true;
    auto sim = Sim(0, f);
    TKavrenProtocol p(Line(sim->port()), false, 2, 1, 4);
    const auto t0 = Clock::now();
    EXPECT_FALSE(p.ExecuteCommand(QuickTimeCmd(4, 1, 300)));
    EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(500)) << "two read time-outs";
    EXPECT_EQ(p.GetLastError(), 5);
    EXPECT_EQ(p.GetErrorText(), "Нет ответа от устройства.");
    EXPECT_EQ(sim->RequestCount(), 2u) << "each attempt re-sends the request";
    EXPECT_EQ(p.GetCommand()->Answer(), nullptr);
}

TEST_F(ProtocolExchange, ShortAnswerFailsTheAttemptAndTheRequestIsSentAgain) {
    TFaultOptions f;
    f.TruncateFirst = 1;
    auto sim = Sim(1, f);
    TKavrenProtocol p(Line(sim->port()), false, 3, 1, 4);
    auto* cmd = QuickTimeCmd(4, 1, 300);
    ASSERT_TRUE(p.ExecuteCommand(cmd)) << p.GetErrorText();
    EXPECT_EQ(sim->RequestCount(), 2u);
    EXPECT_EQ(cmd->AnswerSize(), 69u);
    EXPECT_EQ(p.GetLastError(), 0);
}

TEST_F(ProtocolExchange, ZeroAttemptsSendNothing) {
    auto sim = Sim(0);
    TCommonQZ2Protocol p(Line(sim->port()), false, 0, 1, 0);
    const uint8_t* data = nullptr;
    size_t size = 0;
    EXPECT_FALSE(p.ReadTimeParams(data, size));
    EXPECT_EQ(p.GetLastError(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(sim->RequestCount(), 0u);
}

TEST_F(ProtocolExchange, CancelStopsFurtherAttempts) {
    TFaultOptions f;
    f.SilentAfter = 0;
    auto sim = Sim(0, f);
    TKavrenProtocol p(Line(sim->port()), false, 20, 1, 4);
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        p.Cancel();
    });
    const auto t0 = Clock::now();
    EXPECT_FALSE(p.ExecuteCommand(QuickTimeCmd(4, 1, 400)));
    canceller.join();
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(3)) << "20 attempts would take 8 s";
    EXPECT_EQ(sim->RequestCount(), 1u);
    EXPECT_EQ(p.AttemptCount(), 0);
    // Final: a later Execute does not touch the line.
    EXPECT_FALSE(p.ExecuteCommand(QuickTimeCmd(4, 1, 400)));
    EXPECT_EQ(sim->RequestCount(), 1u);
}

TEST_F(ProtocolExchange, NonZeroStatusFailsTheReadAndStaysReadable) {
    TFaultOptions f;
    f.ForceStatus = 16;
    auto sim = Sim(0, f);
    TCommonQZ2Protocol p(Line(sim->port()), false, 3, 1, 0);
    const uint8_t* data = nullptr;
    size_t size = 0;
    EXPECT_FALSE(p.ReadSettings(data, size));
    EXPECT_EQ(p.GetLastError(), 0);
    ASSERT_NE(p.GetCommand(), nullptr);
    EXPECT_EQ(p.GetCommand()->GetDeviceStatus(), 16);
    EXPECT_EQ(sim->RequestCount(), 1u);
}

TEST_F(ProtocolExchange, SignalStatusOnlyFailsWaveformReads) {
    TFaultOptions f;
    f.ForceSignalStatus = 3;
    auto sim = Sim(4, f);
    TCommonQZ2Protocol p(Line(sim->port()), false, 3, 1, 3);
    uint16_t size16 = 0;
    const uint8_t* data = nullptr;
    EXPECT_FALSE(p.ReadSignalTrend(0xFF, 2, size16, data));
    EXPECT_EQ(p.GetCommand()->GetDeviceStatus(), 3);
    size_t size = 0;
    EXPECT_TRUE(p.ReadTimeParams(data, size));
}

TEST_F(ProtocolExchange, RecordTimeAcrossMidnight) {
    gMidnight = true;
    auto sim = Sim(2);
    TCommonQZ2Protocol p(Line(sim->port()), false, 1, 1, 1);
    const uint8_t* data = nullptr;
    size_t size = 0;
    TDateTime t = 0;
    const bool ok = p.ReadArchive3secM(data, size, t);
    gMidnight = false;
    ASSERT_TRUE(ok) << p.GetErrorText();
    // Stamped 01.01.2027 00:00:00; the record began on the last day of the old year.
    const TDateTimeParts parts = DecodeDateTime(t);
    EXPECT_EQ(parts.Year, 2026);
    EXPECT_EQ(parts.Month, 12);
    EXPECT_EQ(parts.Day, 31);
    EXPECT_EQ(parts.Hour, 23);
    EXPECT_EQ(parts.Minute, 59);
    EXPECT_EQ(parts.Second, 57);
}

TEST_F(ProtocolExchange, ChannelNotOpened) {
    TCommonQZ2Protocol p(Line(1, 0), false, 3, 1, 0); // priority 0 is refused
    EXPECT_FALSE(p.Opened());
    EXPECT_EQ(p.GetLastError(), 106) << "the open error stands until the first Execute";
    EXPECT_EQ(p.MaxAttemptCountOnConnect(), 0);
    const uint8_t* data = nullptr;
    size_t size = 0;
    EXPECT_FALSE(p.ReadTimeParams(data, size));
    EXPECT_EQ(p.GetLastError(), 203);
    EXPECT_EQ(p.GetErrorText(), "Канал доступа к устройству не создан.");
}

TEST_F(ProtocolExchange, MessagePumpRunsOnlyWhenAsked) {
    auto sim = Sim(0);
    std::atomic<int> pumped{0};
    SetProtocolMessagePump([&] { ++pumped; });
    {
        TCommonQZ2Protocol quiet(Line(sim->port()), false, 1, 1, 0);
        const uint8_t* data = nullptr;
        size_t size = 0;
        ASSERT_TRUE(quiet.ReadTimeParams(data, size));
        EXPECT_EQ(pumped.load(), 0);
        TCommonQZ2Protocol busy(Line(sim->port()), true, 1, 1, 0);
        ASSERT_TRUE(busy.ReadTimeParams(data, size));
        EXPECT_GE(pumped.load(), 2);
    }
    SetProtocolMessagePump(nullptr);
}

TEST_F(ProtocolExchange, TwoProtocolsShareOneLine) {
    // As the polling and the waveform threads do: each with its own protocol and channel.
    auto sim = Sim(1);
    std::atomic<int> ok{0};
    auto poll = [&] {
        TCommonQZ2Protocol p(Line(sim->port()), false, 3, 1, 1);
        for (int i = 0; i < 8; ++i) {
            const uint8_t* data = nullptr;
            size_t size = 0;
            TDateTime t = 0;
            if (p.ReadTimeParams(data, size) && p.ReadArchive3secM(data, size, t)) ++ok;
        }
    };
    auto wave = [&] {
        TCommonQZ2Protocol p(Line(sim->port()), false, 3, 1, 1);
        for (int i = 0; i < 8; ++i) {
            const uint8_t* data = nullptr;
            uint16_t size = 0;
            if (p.ReadSignalTrend(0xFF, 3, size, data) && size == 128 * 16 + 1) ++ok;
        }
    };
    std::thread a(poll), b(wave);
    a.join();
    b.join();
    EXPECT_EQ(ok.load(), 16);
}

// Header checks that need no line.
class KavrenHeader : public ::testing::Test {
protected:
    test::TLCAModule module;
};

TEST_F(KavrenHeader, AddressCodeLengthRuleAndOversizedFrames) {
    TKavrenProtocol p(Line(1, 0), false, 1, 7, 20);
    p.SetCommand(new TQZ2_TimeParamsCmd(20, 7));
    TKavrenHeader h;
    h.Cmd = 15;
    h.Cmd1 = 1;
    h.Address = 7;
    h.DeviceCode = 20;
    h.DataLength = 44;
    uint8_t buf[25] = {};
    WriteKavrenHeader(buf, h);
    size_t remaining = 99;
    ASSERT_TRUE(p.CheckAnswerHeader(buf, 25, remaining));
    EXPECT_EQ(remaining, 44u);
    h.DataLength = 0;
    WriteKavrenHeader(buf, h);
    ASSERT_TRUE(p.CheckAnswerHeader(buf, 25, remaining));
    EXPECT_EQ(remaining, 0u) << "an empty data field is complete after the first read";
    h.DataLength = 65510;
    WriteKavrenHeader(buf, h);
    ASSERT_TRUE(p.CheckAnswerHeader(buf, 25, remaining));
    EXPECT_EQ(remaining, 65510u);
    h.DataLength = 65511; // 65536 bytes: no frame buffer holds it
    WriteKavrenHeader(buf, h);
    EXPECT_FALSE(p.CheckAnswerHeader(buf, 25, remaining));
    h.DataLength = 44;
    h.Address = 8;
    WriteKavrenHeader(buf, h);
    EXPECT_FALSE(p.CheckAnswerHeader(buf, 25, remaining));
    h.Address = 7;
    h.DeviceCode = 4;
    WriteKavrenHeader(buf, h);
    EXPECT_FALSE(p.CheckAnswerHeader(buf, 25, remaining));
    h.DeviceCode = 20;
    h.Cmd1 = 2;
    WriteKavrenHeader(buf, h);
    EXPECT_FALSE(p.CheckAnswerHeader(buf, 25, remaining));
}

TEST_F(KavrenHeader, CheckByteOfTheHeldAnswer) {
    TKavrenProtocol p(Line(1, 0), false, 1, 1, 4);
    auto* cmd = new TQZ2_TimeParamsCmd(4, 1);
    p.SetCommand(cmd);
    EXPECT_FALSE(p.CheckAnswerCRC()) << "no answer held";
    TKavrenHeader h;
    h.Cmd = 15;
    h.Cmd1 = 1;
    std::vector<uint8_t> d(44, 3);
    auto frame = BuildKavrenFrame(h, d.data(), d.size());
    cmd->SetAnswer(frame.data(), frame.size());
    EXPECT_TRUE(p.CheckAnswerCRC());
    frame[30] ^= 0x40;
    cmd->SetAnswer(frame.data(), frame.size());
    EXPECT_FALSE(p.CheckAnswerCRC());
}

TEST(ProtocolErrorText, ProtocolCodesAndChannelFallback) {
    EXPECT_EQ(ProtocolErrorText(5), "Нет ответа от устройства.");
    EXPECT_EQ(ProtocolErrorText(202), "CRC не совпало.");
    EXPECT_EQ(ProtocolErrorText(203), "Канал доступа к устройству не создан.");
    EXPECT_EQ(ProtocolErrorText(204), "Получены некорректные данные.");
    EXPECT_EQ(ProtocolErrorText(205), "Выполнение прервано пользователем.");
    EXPECT_EQ(ProtocolErrorText(250), "Неверный адрес памяти.");
    EXPECT_EQ(ProtocolErrorText(105), LCAErrorText(105));
    EXPECT_EQ(ProtocolErrorText(22), LCAErrorText(22));
    EXPECT_FALSE(ProtocolErrorText(22).empty());
}

} // namespace
} // namespace qz

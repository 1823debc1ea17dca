// The trace on the real worker: a poll of the simulated meter over loopback TCP, and a
// telephone-modem call on the scripted serial line.
#include "channel/LCAObject.h"
#include "channel/LCATrace.h"
#include "channel/PCAComPort.h"
#include "protocol/CommonQZ2Protocol.h"
#include "protocol/QZ2Commands.h"
#include "simulator/MeterSimulator.h"
#include "tests/support/ChannelGuards.h"
#include "tests/support/FakeSerialDevice.h"
#include "tests/support/PhoneLine.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

using namespace qz;

namespace {

using test::TempDir;

std::vector<std::string> FileLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);)
        out.push_back(line.size() > 24 ? line.substr(24) : line); // without the time stamp
    return out;
}

// The bytes of every task dump in one direction, task by task: a dump of more than 16 bytes
// spans lines, a new dump starts at offset 0000.
std::vector<std::string> Dumps(const std::vector<std::string>& lines, const std::string& mark) {
    std::vector<std::string> out;
    for (const auto& l : lines) {
        const size_t at = l.find(" " + mark + " ");
        if (l.rfind("DUMP ", 0) != 0 || at == std::string::npos) continue;
        const std::string rest = l.substr(at + mark.size() + 2);
        if (rest.size() < 6 || rest[4] != ':') continue;
        if (rest.compare(0, 4, "0000") == 0) out.emplace_back();
        if (out.empty()) out.emplace_back();
        if (!out.back().empty()) out.back() += ' ';
        out.back() += rest.substr(6);
    }
    return out;
}

size_t IndexOf(const std::vector<std::string>& lines, const std::string& text, size_t from = 0) {
    for (size_t i = from; i < lines.size(); ++i)
        if (lines[i].find(text) != std::string::npos) return i;
    return std::string::npos;
}

class TraceOnWorker : public ::testing::Test {
protected:
    // Starts the module with a trace into a file of the temporary folder.
    TLCATrace& StartTrace(uint8_t mask = kTraceAllClasses) {
        std::string error;
        tracePath = dir / "line.trace";
        trace = TLCATrace::Open(tracePath, mask, error);
        EXPECT_TRUE(trace) << error;
        module.emplace(trace->LogProc());
        return *trace;
    }
    std::vector<std::string> StopAndRead() {
        module.reset();
        EXPECT_TRUE(trace->Stop()) << trace->ErrorText();
        EXPECT_EQ(trace->Dropped(), 0u);
        return FileLines(tracePath);
    }

    test::TNoSleep noSleep;
    test::TComPortTimingsGuard timings{test::ScriptedModemTimings()};
    std::optional<test::TSerialFactoryGuard> factory; // the modem tests' scripted line
    TempDir dir;
    std::string tracePath;
    std::unique_ptr<TLCATrace> trace;
    std::optional<test::TLCAModule> module; // stopped before the trace and the defaults go
};

} // namespace

TEST_F(TraceOnWorker, PollOfTheSimulatedMeterShowsEveryRequestAndAnswer) {
    TSimOptions o;
    o.ListenPort = 0;
    o.LogFile = dir / "meter.log";
    TMeterSimulator sim(o);
    std::string err;
    ASSERT_TRUE(sim.Start(&err)) << err;

    TLCATrace& t = StartTrace();
    TLCAParams line;
    line.Pca.SetKind(TPCAParams::KindTCP);
    line.Pca.SetIpAddress("127.0.0.1");
    line.Pca.SetIpPort(sim.port());
    line.MaxAttemptCountOnConnect = 2;
    line.Priority = 1;
    line.LogMask = t.ChannelLogMask();
    {
        TCommonQZ2Protocol p(line, false, 1, 1, 0);
        const uint8_t* data = nullptr;
        size_t size = 0;
        for (int cycle = 0; cycle < 2; ++cycle) {
            ASSERT_TRUE(p.ReadTimeParams(data, size)) << p.GetErrorText();
            ASSERT_TRUE(p.ReadScaleKoeffs(data, size)) << p.GetErrorText();
        }
    }
    sim.Stop();
    const auto lines = StopAndRead();

    // What the meter was asked and what it answered, from its own log.
    std::vector<std::string> asked, answered;
    std::ifstream meterLog(o.LogFile);
    for (std::string l; std::getline(meterLog, l);) {
        const size_t in = l.find(" <- "), out = l.find(" -> ");
        if (in != std::string::npos) asked.push_back(l.substr(in + 4));
        if (out != std::string::npos) answered.push_back(l.substr(out + 4));
    }
    ASSERT_EQ(asked.size(), 4u);
    ASSERT_EQ(answered.size(), 4u);

    // Each request is one task; an answer may be read in parts (header, then the rest).
    EXPECT_EQ(Dumps(lines, "TX"), asked);
    std::string received;
    for (const auto& part : Dumps(lines, "RX"))
        received += (received.empty() ? "" : " ") + part;
    std::string expected;
    for (const auto& a : answered)
        expected += (expected.empty() ? "" : " ") + a;
    EXPECT_EQ(received, expected);

    // Open, connect, the exchange, close, in this order.
    const size_t start =
        IndexOf(lines, "OPEN - Модуль логических каналов доступа инициализирован.");
    const size_t opened = IndexOf(lines, "Логический канал открыт.", start);
    const size_t connecting = IndexOf(lines, "CONN ", opened);
    const size_t connected = IndexOf(lines, "Соединение установлено.", connecting);
    const size_t firstDump = IndexOf(lines, "DUMP ", connected);
    const size_t closed =
        IndexOf(lines, "OPEN - Модуль логических каналов доступа закрыт.", firstDump);
    ASSERT_NE(closed, std::string::npos) << ::testing::PrintToString(lines);
    const std::string connectText = "Соединение...";
    EXPECT_EQ(lines.at(connecting).substr(lines[connecting].size() - connectText.size()),
              connectText);
    EXPECT_EQ(IndexOf(lines, "ERR "), std::string::npos) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines.back(), "TRACE - трассировка окончена");
}

TEST_F(TraceOnWorker, TelephoneModemCallFromDialToHangUp) {
    auto modem = MakeReadyModem();
    modem->AddRule("ATZ\r", "0\r");
    modem->AddRule("ATdt5551234\r", "1\r", [](TFakeSerialLine& l) { l.SetDCD(true); });
    modem->AddRule("\x01\x02\x03", "\x10\x20\x30\x40");
    modem->AddRule("+++", "0\r", [](TFakeSerialLine& l) { l.SetDCD(false); });
    factory.emplace(modem->Factory());

    TLCATrace& t = StartTrace();
    TLCAParams p = test::PhoneLine("COM5", "5551234", "ATZ", 1, t.ChannelLogMask());
    {
        TLCAObject channel(p);
        ASSERT_TRUE(channel.IsValid()) << channel.OpenError;
        uint32_t done = 0;
        ASSERT_EQ(channel.Write("\x01\x02\x03", 3, done, nullptr, 2000), 0);
        char answer[4] = {};
        ASSERT_EQ(channel.Read(answer, 4, done, nullptr, 2000), 0);
        EXPECT_EQ(done, 4u);
        ASSERT_EQ(channel.ReleaseLock(), 0);
    } // the last channel of the line: the port is hung up and closed
    const auto lines = StopAndRead();

    // The modem saw the whole dialogue, the call's data and the hang-up.
    ASSERT_TRUE(modem->Settle());
    EXPECT_EQ(modem->Written(),
              std::string("ATV0E0Q0&C1&D2\rATZ\rATdt5551234\r\x01\x02\x03") + "+++");

    // The modem's stages as connect messages: its commands and replies as they went.
    size_t at = IndexOf(lines, "Соединение...");
    for (const char* step :
         {"Модем: инициализация.", "Модем: > ATV0E0Q0&C1&D2", "Модем: < 0", "Модем: > ATZ",
          "Модем: < 0", "Модем: набор номера 5551234.", "Модем: > ATdt5551234",
          "Модем: ожидание несущей.", "Модем: < 1", "Модем: несущая есть."}) {
        at = IndexOf(lines, step, at);
        ASSERT_NE(at, std::string::npos) << step << "\n" << ::testing::PrintToString(lines);
        EXPECT_EQ(lines[at].rfind("CONN ", 0), 0u) << lines[at];
    }
    const size_t connected = IndexOf(lines, "Соединение установлено.", at);
    const size_t sent = IndexOf(lines, "TX 0000: 01 02 03", connected);
    const size_t received = IndexOf(lines, "RX 0000: 10 20 30 40", sent);
    const size_t released = IndexOf(lines, "Блокировка логического канала снята.", received);
    const size_t hangUp = IndexOf(lines, "Модем: разъединение.", released);
    const size_t escape = IndexOf(lines, "Модем: > +++", hangUp);
    const size_t channelClosed = IndexOf(lines, "OPEN 1:1 Логический канал закрыт.", escape);
    const size_t closed =
        IndexOf(lines, "Модуль логических каналов доступа закрыт.", channelClosed);
    EXPECT_NE(closed, std::string::npos) << ::testing::PrintToString(lines);
}

TEST_F(TraceOnWorker, ModemWithoutCarrierShowsWhyTheConnectionFailed) {
    auto modem = MakeReadyModem();
    modem->AddRule("ATdt", "3\r"); // NO CARRIER
    modem->AddRule("+++", "0\r");
    factory.emplace(modem->Factory());

    TLCATrace& t = StartTrace(lcaLogConnect | lcaLogError);
    TLCAParams p = test::PhoneLine("COM5", "77", "", 1, t.ChannelLogMask());
    int32_t error = 0;
    {
        TLCAObject channel(p);
        ASSERT_TRUE(channel.IsValid());
        uint32_t done = 0;
        error = channel.Write("\x01", 1, done, nullptr, 2000);
        EXPECT_NE(error, 0);
    }
    const auto lines = StopAndRead();
    const size_t connecting = IndexOf(lines, "CONN ");
    ASSERT_NE(connecting, std::string::npos) << ::testing::PrintToString(lines);
    const size_t failed = IndexOf(lines, "Соединение не установлено: " + LCAErrorText(error));
    EXPECT_GT(failed, connecting) << ::testing::PrintToString(lines);
    EXPECT_NE(failed, std::string::npos);
    EXPECT_EQ(IndexOf(lines, "TASK "), std::string::npos) << "the mask left tasks out";
}

TEST_F(TraceOnWorker, MeterRestartedUnderTheLineCountsAsOneReconnection) {
    module.emplace();
    TSimOptions o;
    o.ListenPort = 0;
    o.LogFile = dir / "first.log";
    auto sim = std::make_unique<TMeterSimulator>(o);
    std::string err;
    ASSERT_TRUE(sim->Start(&err)) << err;

    TLCAParams line;
    line.Pca.SetKind(TPCAParams::KindTCP);
    line.Pca.SetIpAddress("127.0.0.1");
    line.Pca.SetIpPort(sim->port());
    line.MaxAttemptCountOnConnect = 3;
    line.Priority = 1;
    TLCAObject channel(line);
    ASSERT_TRUE(channel.IsValid());
    TQZ2_TimeParamsCmd command(4, 1);
    size_t size = 0;
    const auto request = command.BuildRequest(size);
    uint8_t answer[512];
    uint32_t done = 0;
    ASSERT_EQ(channel.Write(request.get(), uint32_t(size), done, nullptr, 1000), 0);
    ASSERT_EQ(channel.Read(answer, sizeof answer, done, nullptr, 2000), 0);
    uint32_t reconnects = 9;
    ASSERT_EQ(channel.GetReconnectCount(reconnects), 0);
    EXPECT_EQ(reconnects, 0u);

    // The meter goes away with the connection and comes back on the same port.
    o.ListenPort = sim->port();
    sim.reset();
    o.LogFile = dir / "second.log";
    sim = std::make_unique<TMeterSimulator>(o);
    ASSERT_TRUE(sim->Start(&err)) << err;
    // A request written into the dead connection is lost with it: ask again, as a protocol
    // does, until the meter answers over the new one.
    bool answered = false;
    for (int attempt = 0; attempt < 3 && !answered; ++attempt) {
        if (channel.Write(request.get(), uint32_t(size), done, nullptr, 1000) != 0) continue;
        answered = channel.Read(answer, sizeof answer, done, nullptr, 300) == 0 && done > 0;
    }
    EXPECT_TRUE(answered);
    ASSERT_EQ(channel.GetReconnectCount(reconnects), 0);
    EXPECT_EQ(reconnects, 1u);
    sim->Stop();
    std::ifstream second(o.LogFile);
    size_t asked = 0;
    for (std::string l; std::getline(second, l);)
        asked += l.find(" <- ") != std::string::npos;
    EXPECT_GE(asked, 1u) << "the second meter was asked over the new connection";
}

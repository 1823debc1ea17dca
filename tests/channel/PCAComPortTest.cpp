#include "channel/PCAComPort.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/FakeSerialDevice.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace qz {
namespace {

using Clock = std::chrono::steady_clock;
using Log = std::vector<std::string>;

TPCAParams ComParams(uint8_t mode, uint32_t baud = 9600, const std::string& port = "COM3") {
    TPCAParams p;
    p.SetKind(TPCAParams::KindComPort);
    p.SetPortName(port);
    p.SetBaudrate(baud);
    p.SetMode(mode);
    return p;
}

// Short time-outs so that silent modems do not cost seconds.
TComPortTimings FastTimings() {
    TComPortTimings t;
    for (auto& ms : t.ReadIntervalMs)
        ms = 20;
    t.ModemReplyMs = 300;
    t.RadioInitReplyMs = 300;
    t.DialReplyMs = 300;
    t.HangUpReplyMs = 60;
    return t;
}

// ---------------------------------------------------------------------------------------
// Against the fake line: modem dialogues, handshakes, line timing.

class FakeComPort : public ::testing::Test {
protected:
    void SetUp() override {
        line = std::make_shared<TFakeSerialLine>();
        line->SetCTS(true);
    }
    // Pauses go into the line's log, after everything written before them has arrived.
    TSleeper Sleeper() {
        auto l = line;
        return [l](uint32_t ms) {
            l->Settle();
            l->Note("sleep " + std::to_string(ms));
        };
    }
    std::unique_ptr<TPCAComPort> Open(const TPCAParams& p) {
        auto ch = std::make_unique<TPCAComPort>(p, line->Factory(), Sleeper());
        ch->SetTimings(FastTimings());
        return ch;
    }
    // The log entries from index `from` on.
    Log LogFrom(size_t from) {
        line->Settle();
        Log all = line->Log();
        return Log(all.begin() + std::min(from, all.size()), all.end());
    }
    std::shared_ptr<TFakeSerialLine> line;
};

TEST_F(FakeComPort, DirectLineOpensAndPulsesThePowerLines) {
    TPCAParams p = ComParams(TPCAComPort::ModeDirect, 19200);
    p.SetPowerLines(1);
    auto ch = Open(p);
    ASSERT_EQ(ch->LastError(), 0);
    ASSERT_GE(ch->Handle(), 0);
    EXPECT_EQ(line->OpenedPath(), ch->DevicePath());
    EXPECT_EQ(LogFrom(0),
              (Log{"open " + ch->DevicePath(), "speed 19200", "DTR 0", "RTS 0", "sleep 250"}));
    size_t mark = line->Log().size();
    ASSERT_EQ(ch->Connect(), 0);
    EXPECT_EQ(LogFrom(mark), (Log{"RTS 1", "sleep 5", "DTR 1", "sleep 25", "RTS 0", "sleep 5",
                                  "DTR 0", "sleep 25", "RTS 1", "sleep 5", "DTR 1", "sleep 10"}));
    EXPECT_TRUE(line->DTR());
    EXPECT_TRUE(line->RTS());

    mark = line->Log().size();
    ASSERT_EQ(ch->Disconnect(), 0);
    EXPECT_EQ(LogFrom(mark), (Log{"DTR 0", "RTS 0", "sleep 250"}));
}

TEST_F(FakeComPort, PowerPulseKeepsItsTimingWithTheRealSleeper) {
    TPCAParams p = ComParams(TPCAComPort::ModeDirect);
    p.SetPowerLines(1);
    TPCAComPort ch(p, line->Factory(), RealSleep);
    size_t mark = line->LineHistory().size();
    ASSERT_EQ(ch.Connect(), 0);
    auto h = line->LineHistory();
    ASSERT_EQ(h.size(), mark + 6);
    // Each edge is held at least as long as the interface needs (no upper bound: the
    // machine may be busy).
    const int minGapMs[5] = {5, 25, 5, 25, 5};
    for (int i = 0; i < 5; ++i) {
        auto gap = h[mark + i + 1].Time - h[mark + i].Time;
        EXPECT_GE(gap, std::chrono::milliseconds(minGapMs[i]) - std::chrono::microseconds(200))
            << "edge " << i;
    }
}

TEST_F(FakeComPort, DirectLineWithoutPowerLinesLeavesThemAlone) {
    auto ch = Open(ComParams(TPCAComPort::ModeDirect));
    size_t mark = line->Log().size();
    ASSERT_EQ(ch->Connect(), 0);
    EXPECT_TRUE(LogFrom(mark).empty());
}

TEST_F(FakeComPort, DirectLineMovesBytesAndPurgesBeforeWriting) {
    line->AddRule("req", "ans");
    auto ch = Open(ComParams(TPCAComPort::ModeDirect));
    ASSERT_EQ(ch->Connect(), 0);
    ASSERT_TRUE(line->Send("stale"));
    line->Settle();
    uint32_t n = 0;
    // Writes go out even without DSR; CheckDevice tells that no device answers.
    EXPECT_EQ(ch->CheckDevice(), 24);
    ASSERT_EQ(ch->Write("req", 3, nullptr, n), 0);
    EXPECT_EQ(n, 3u);
    char buf[32] = {};
    ASSERT_EQ(ch->Read(buf, sizeof buf, 1000, nullptr, n), 0);
    EXPECT_EQ(std::string(buf, n), "ans") << "input from before the write must be discarded";
    line->SetDSR(true);
    EXPECT_EQ(ch->CheckDevice(), 0);
}

TEST_F(FakeComPort, OpenFailures) {
    line->SetOpenError(EBUSY);
    EXPECT_EQ(Open(ComParams(0))->LastError(), 10);
    line->SetOpenError(EACCES);
    EXPECT_EQ(Open(ComParams(0))->LastError(), 10);
    line->SetOpenError(ENOENT);
    auto missing = Open(ComParams(0));
    EXPECT_EQ(missing->LastError(), 11);
    EXPECT_EQ(missing->Handle(), -1);
    EXPECT_EQ(missing->Connect(), -1) << "a port that is not open cannot be connected";
    line->SetOpenError(0);

    EXPECT_EQ(Open(ComParams(0, 9600, "LPT1"))->LastError(), 11);
    EXPECT_EQ(Open(ComParams(0, 9600, "COMX"))->LastError(), 11);

    line->RefuseSpeed(12345);
    auto odd = Open(ComParams(0, 12345));
    EXPECT_EQ(odd->LastError(), 23);
    EXPECT_EQ(odd->Handle(), -1);
    EXPECT_EQ(line->Log().back(), "close") << "a refused port is closed again";
}

TEST_F(FakeComPort, WrongKindOpensNothing) {
    TPCAParams p = ComParams(0);
    p.SetKind(2);
    auto ch = Open(p);
    EXPECT_EQ(ch->LastError(), 4);
    EXPECT_EQ(ch->Handle(), -1);
    EXPECT_TRUE(line->Log().empty());
}

TEST_F(FakeComPort, ModemPortWithoutCTSIsNoModem) {
    line->SetCTS(false);
    auto ch = Open(ComParams(TPCAComPort::ModePhone));
    EXPECT_EQ(ch->LastError(), 14);
    EXPECT_EQ(ch->Handle(), -1);
    Log log = LogFrom(0);
    EXPECT_EQ(log.back(), "sleep 250") << "the settling pause also follows a failed check";
    EXPECT_EQ(line->Written(), "");
}

// Telephone modem.

TPCAParams Phone(const std::string& init = "", uint8_t dial = 1, const std::string& number = "123",
                 uint8_t tone = 1) {
    TPCAParams p = ComParams(TPCAComPort::ModePhone);
    p.SetInitString(init);
    p.SetDialNumber(dial);
    if (dial == 1) {
        p.SetPhoneNumber(number);
        p.SetToneDial(tone);
    }
    return p;
}

const char kSetup[] = "ATV0E0Q0&C1&D2\r";

TEST_F(FakeComPort, PhoneOpenRaisesTheLines) {
    auto ch = Open(Phone());
    ASSERT_EQ(ch->LastError(), 0);
    EXPECT_EQ(LogFrom(0), (Log{"open " + ch->DevicePath(), "speed 9600", "DTR 0", "RTS 0", "RTS 1",
                               "DTR 1", "sleep 250"}));
}

TEST_F(FakeComPort, PhoneDialsWithToneAndConnects) {
    line->AddRule(kSetup, "0\r");
    line->AddRule("ATZ\r", "0\r");
    line->AddRule("ATdt5551234\r", "1\r", [](TFakeSerialLine& l) { l.SetDCD(true); });
    auto ch = Open(Phone("ATZ", 1, "5551234", 1));
    ASSERT_EQ(ch->Connect(), 0);
    EXPECT_EQ(ch->LastError(), 0);
    EXPECT_EQ(line->Written(), std::string(kSetup) + "ATZ\r" + "ATdt5551234\r");

    // With the carrier up, data flows; Connect again sends nothing.
    size_t before = line->Written().size();
    EXPECT_EQ(ch->Connect(), 0);
    EXPECT_EQ(line->Written().size(), before);
}

TEST_F(FakeComPort, PhonePulseDialAndOffHookWithoutNumber) {
    line->AddRule(kSetup, "0\r");
    line->AddRule("ATd", "1\r", [](TFakeSerialLine& l) { l.SetDCD(true); });
    auto pulse = Open(Phone("", 1, "77", 0));
    ASSERT_EQ(pulse->Connect(), 0);
    EXPECT_EQ(line->Written(), std::string(kSetup) + "ATdp77\r");
    pulse.reset();

    line = std::make_shared<TFakeSerialLine>();
    line->SetCTS(true);
    line->AddRule(kSetup, "0\r");
    line->AddRule("ATd", "1\r", [](TFakeSerialLine& l) { l.SetDCD(true); });
    TPCAParams p = Phone("", 0);
    p.SetPhoneNumber("999"); // ignored without DialNumber
    auto direct = Open(p);
    ASSERT_EQ(direct->Connect(), 0);
    EXPECT_EQ(line->Written(), std::string(kSetup) + "ATd\r");
}

TEST_F(FakeComPort, PhoneWithCarrierAlreadyUpSendsNothing) {
    line->SetDCD(true);
    auto ch = Open(Phone("ATZ"));
    EXPECT_EQ(ch->Connect(), 0);
    EXPECT_EQ(line->Written(), "");
}

TEST_F(FakeComPort, PhoneWithoutCTSAtConnect) {
    auto ch = Open(Phone());
    line->SetCTS(false);
    EXPECT_EQ(ch->Connect(), -1);
    EXPECT_EQ(ch->LastError(), 14);
    EXPECT_EQ(line->Written(), "");
}

// The set-up command's reply: accepted or not, by its first byte and length.
struct ReplyCase {
    const char* reply;
    bool accepted;
};

class SetupReply : public FakeComPort, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(SetupReply, AcceptanceRule) {
    const ReplyCase c = GetParam();
    if (*c.reply) line->AddRule(kSetup, c.reply);
    line->AddRule("ATdt", "1\r", [](TFakeSerialLine& l) { l.SetDCD(true); });
    auto ch = Open(Phone());
    int r = ch->Connect();
    if (c.accepted) {
        EXPECT_EQ(r, 0) << "reply \"" << c.reply << "\"";
        EXPECT_EQ(ch->LastError(), 0);
    } else {
        EXPECT_EQ(r, -1) << "reply \"" << c.reply << "\"";
        EXPECT_EQ(ch->LastError(), 17);
        EXPECT_EQ(line->Written(), kSetup) << "nothing is dialled after a refusal";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Phone, SetupReply,
    ::testing::Values(ReplyCase{"0\r", true},        // numeric OK, 2 bytes
                      ReplyCase{"0", false},         // '0' needs more than one byte
                      ReplyCase{"OK\r", true},       // 'O' and more than 2
                      ReplyCase{"OK", true},         // too short by its first byte, but "OK"
                      ReplyCase{"\r\nOK\r\n", true}, // verbose OK
                      ReplyCase{"\r\n4\r", true},    // carriage return and more than 3
                      ReplyCase{"\r\n0", false},     // carriage return and only 3
                      ReplyCase{"ATV0E0", true},     // echo: 'A' and more than 5
                      ReplyCase{"ATV0E", false},     // 'A' and only 5
                      ReplyCase{"4\r", false},       // numeric ERROR
                      ReplyCase{"ERROR\r\n", false}, ReplyCase{"", false}));

TEST_F(FakeComPort, InitStringReplyRulesDifferFromTheSetupCommand) {
    // After the initialisation string a lone '0' is enough, and 'A' needs 5 bytes.
    line->AddRule(kSetup, "0\r");
    line->AddRule("AT&F\r", "0");
    line->AddRule("ATdt", "1\r", [](TFakeSerialLine& l) { l.SetDCD(true); });
    EXPECT_EQ(Open(Phone("AT&F"))->Connect(), 0);

    line = std::make_shared<TFakeSerialLine>();
    line->SetCTS(true);
    line->AddRule(kSetup, "0\r");
    line->AddRule("AT&F\r", "AT&F\r");
    line->AddRule("ATdt", "1\r", [](TFakeSerialLine& l) { l.SetDCD(true); });
    EXPECT_EQ(Open(Phone("AT&F"))->Connect(), 0);
}

TEST_F(FakeComPort, InitStringRefusedIsModemInitFailed) {
    line->AddRule(kSetup, "0\r");
    line->AddRule("AT+BAD\r", "4\r");
    auto ch = Open(Phone("AT+BAD"));
    EXPECT_EQ(ch->Connect(), -1);
    EXPECT_EQ(ch->LastError(), 17);
    EXPECT_EQ(line->Written(), std::string(kSetup) + "AT+BAD\r");
}

TEST_F(FakeComPort, NoCarrierAfterDiallingHangsUp) {
    line->AddRule(kSetup, "0\r");
    line->AddRule("ATdt", "3\r"); // NO CARRIER
    auto ch = Open(Phone());
    size_t mark = line->Log().size();
    EXPECT_EQ(ch->Connect(), -1);
    EXPECT_EQ(ch->LastError(), 16);
    EXPECT_EQ(line->Written(), std::string(kSetup) + "ATdt123\r" + "+++");
    Log log = LogFrom(mark);
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "DTR 0");
    EXPECT_EQ(log[log.size() - 1], "RTS 0");
}

TEST_F(FakeComPort, SilentModemAfterDialTimesOutAndHangsUp) {
    line->AddRule(kSetup, "0\r");
    auto ch = Open(Phone());
    auto t0 = Clock::now();
    EXPECT_EQ(ch->Connect(), -1);
    EXPECT_EQ(ch->LastError(), 16);
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(3));
    EXPECT_EQ(line->Written(), std::string(kSetup) + "ATdt123\r+++");
}

TEST_F(FakeComPort, ReconnectAfterHangUpRaisesTheLinesFirst) {
    line->AddRule(kSetup, "0\r");
    line->AddRule("ATdt", "1\r", [](TFakeSerialLine& l) { l.SetDCD(true); });
    line->AddRule("+++", "0\r", [](TFakeSerialLine& l) { l.SetDCD(false); });
    auto ch = Open(Phone());
    ASSERT_EQ(ch->Connect(), 0);
    ASSERT_EQ(ch->Disconnect(), 0);
    EXPECT_FALSE(line->DTR());
    size_t mark = line->Log().size();
    ASSERT_EQ(ch->Connect(), 0);
    Log log = LogFrom(mark);
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log[0], "RTS 1");
    EXPECT_EQ(log[1], "DTR 1");
    EXPECT_EQ(log[2], "sleep 250");
    EXPECT_EQ(log[3], std::string("W:") + kSetup);
}

TEST_F(FakeComPort, ModemTransfersNeedTheCarrier) {
    auto ch = Open(Phone());
    uint32_t n = 5;
    EXPECT_EQ(ch->Write("data", 4, nullptr, n), -1);
    EXPECT_EQ(ch->LastError(), 22);
    EXPECT_EQ(n, 0u);
    char buf[4];
    EXPECT_EQ(ch->Read(buf, 4, 100, nullptr, n), -1);
    EXPECT_EQ(ch->LastError(), 22);
    EXPECT_EQ(line->Written(), "");

    line->AddRule("data", "back");
    line->SetDCD(true);
    ASSERT_EQ(ch->Write("data", 4, nullptr, n), 0);
    ASSERT_EQ(ch->Read(buf, 4, 1000, nullptr, n), 0);
    EXPECT_EQ(std::string(buf, n), "back");
}

TEST_F(FakeComPort, PhoneDisconnectHangsUpAndDestructorToo) {
    auto ch = Open(Phone());
    line->SetDCD(true);
    EXPECT_EQ(ch->Disconnect(), 0);
    EXPECT_EQ(ch->LastError(), 0);
    EXPECT_EQ(line->Written(), "+++");
    ch.reset();
    EXPECT_EQ(line->Written(), "++++++");
    EXPECT_EQ(line->Log().back(), "close");
}

// Radio modem.

TPCAParams Radio(const std::string& init, const std::string& call) {
    TPCAParams p = ComParams(TPCAComPort::ModeRadio);
    p.SetInitString(init);
    p.SetCallNumber(call);
    return p;
}

TEST_F(FakeComPort, RadioWaitsForThePromptThenCalls) {
    line->AddRule("+++\r", "\r\ncmd:");
    line->AddRule("c 17\r", "", [](TFakeSerialLine& l) { l.SetDCD(true); });
    auto ch = Open(Radio("+++", "17"));
    ASSERT_EQ(ch->Connect(), 0);
    EXPECT_EQ(line->Written(), "+++\rc 17\r");
}

TEST_F(FakeComPort, RadioWithoutInitStringCallsAtOnce) {
    line->AddRule("c 5\r", "", [](TFakeSerialLine& l) { l.SetDCD(true); });
    auto ch = Open(Radio("", "5"));
    ASSERT_EQ(ch->Connect(), 0);
    EXPECT_EQ(line->Written(), "c 5\r");
}

TEST_F(FakeComPort, RadioWithoutPromptIsInitFailed) {
    line->AddRule("ATI\r", "OK\r\n");
    auto ch = Open(Radio("ATI", "5"));
    EXPECT_EQ(ch->Connect(), -1);
    EXPECT_EQ(ch->LastError(), 17);
    EXPECT_EQ(line->Written(), "ATI\r");
}

TEST_F(FakeComPort, RadioWithoutCarrierHangsUp) {
    auto ch = Open(Radio("", "5"));
    EXPECT_EQ(ch->Connect(), -1);
    EXPECT_EQ(ch->LastError(), 16);
    EXPECT_EQ(line->Written(), "c 5\r\x03\x03\x03"
                               "D\r");
    EXPECT_FALSE(line->DTR());
    EXPECT_FALSE(line->RTS());
}

// Optical attachment.

TEST_F(FakeComPort, OpticalHandshakeTellsTheSpeed) {
    TPCAParams p = ComParams(TPCAComPort::ModeOpto, 4800);
    p.SetPowerLines(1);
    auto ch = Open(p);
    ASSERT_EQ(ch->LastError(), 0);
    // The attachment's settings keep DTR and RTS raised: it is powered from them.
    EXPECT_EQ(LogFrom(0),
              (Log{"open " + ch->DevicePath(), "speed 4800", "DTR 1", "RTS 1", "sleep 250"}));
    size_t mark = line->Log().size();
    ASSERT_EQ(ch->Connect(), 0);
    EXPECT_EQ(ch->LastError(), 0);
    Log expected = {"RTS 1",      "sleep 5",  "DTR 1",     "sleep 25",   "RTS 0",     "sleep 5",
                    "DTR 0",      "sleep 25", "RTS 1",     "sleep 5",    "DTR 1",     "sleep 10",
                    "speed 9600", "DTR 1",    "RTS 1",     "RTS 0",      "sleep 100", "W:\x16",
                    "sleep 100",  "RTS 1",    "sleep 100", "speed 4800", "DTR 1",     "RTS 1"};
    EXPECT_EQ(LogFrom(mark), expected);
    EXPECT_EQ(line->Speed(), 4800u);
}

TEST_F(FakeComPort, StepsOfTheRadioCallAndTheOpticalHandshakeAreTold) {
    Log steps;
    line->AddRule("+++\r", "\r\ncmd:");
    auto radio = Open(Radio("+++", "17"));
    radio->SetProgressProc([&](const std::string& text) { steps.push_back(text); });
    EXPECT_EQ(radio->Connect(), -1); // no carrier: hung up its own way
    EXPECT_EQ(steps, (Log{"Радиомодем: инициализация.", "Радиомодем: > +++", "Радиомодем: < cmd:",
                          "Радиомодем: вызов абонента 17.", "Радиомодем: > c 17",
                          "Радиомодем: ожидание несущей.", "Радиомодем: ответа нет.",
                          "Радиомодем: несущей нет.", "Радиомодем: разъединение.",
                          "Радиомодем: > <03><03><03>", "Радиомодем: ответа нет.",
                          "Радиомодем: > D", "Радиомодем: ответа нет."}));
    radio.reset();

    steps.clear();
    TPCAParams p = ComParams(TPCAComPort::ModeOpto, 115200);
    p.SetPowerLines(1);
    auto opto = Open(p);
    opto->SetProgressProc([&](const std::string& text) { steps.push_back(text); });
    ASSERT_EQ(opto->Connect(), 0);
    EXPECT_EQ(steps, (Log{"Оптическая приставка: питание от линий DTR и RTS.",
                          "Оптическая приставка: подготовка к приёму кода скорости (9600 бит/с).",
                          "Оптическая приставка: > <10> (код скорости 115200 бит/с).",
                          "Оптическая приставка: скорость линии 115200 бит/с."}));
}

TEST(ModemText, PrintableFormOfAnyBytes) {
    const auto text = [](const std::string& bytes) {
        return TPCAComPort::PrintableBytes(reinterpret_cast<const uint8_t*>(bytes.data()),
                                           bytes.size());
    };
    EXPECT_EQ(text("ATZ\r"), "ATZ");
    EXPECT_EQ(text("\r\nCONNECT 9600\r\n"), "CONNECT 9600");
    EXPECT_EQ(text("\r\nOK\r\n\r\nRING\r\n"), "OK RING");
    EXPECT_EQ(text(std::string("A\0\x03\xFF", 4)), "A<00><03><FF>");
    EXPECT_EQ(text("\r\n"), "<0D><0A>");
    EXPECT_EQ(text(""), "");
    // Any bytes give one line of printable ASCII (UTF-8 in a trace as it is), never empty.
    std::srand(18);
    for (int round = 0; round < 500; ++round) {
        std::string bytes(size_t(std::rand() % 40 + 1), '\0');
        for (auto& b : bytes)
            b = char(std::rand() % 4 == 0 ? "\r\n "[std::rand() % 3] : std::rand() % 256);
        const std::string out = text(bytes);
        ASSERT_FALSE(out.empty());
        for (const char c : out)
            ASSERT_TRUE(c >= 0x20 && c < 0x7F) << int(uint8_t(c));
        // The printable bytes all come through, in their order, around the <XX> forms.
        std::string kept, expected;
        for (size_t i = 0; i < out.size(); ++i) {
            if (out[i] == '<' && i + 3 < out.size() && out[i + 3] == '>') {
                i += 3;
                continue;
            }
            if (out[i] != ' ') kept += out[i];
        }
        for (const char c : bytes)
            if (c > 0x20 && c < 0x7F) expected += c;
        EXPECT_EQ(kept, expected);
    }
}

TEST(OptoBaudCode, CodesBySpeed) {
    EXPECT_EQ(TPCAComPort::OptoBaudCode(2400), 0x1A);
    EXPECT_EQ(TPCAComPort::OptoBaudCode(9600), 0x16);
    EXPECT_EQ(TPCAComPort::OptoBaudCode(19200), 0x13);
    EXPECT_EQ(TPCAComPort::OptoBaudCode(57600), 0x11);
    EXPECT_EQ(TPCAComPort::OptoBaudCode(115200), 0x10);
    EXPECT_EQ(TPCAComPort::OptoBaudCode(4800), 0x16);
    EXPECT_EQ(TPCAComPort::OptoBaudCode(38400), 0x16);
    EXPECT_EQ(TPCAComPort::OptoBaudCode(0), 0x16);
}

// Bad descriptions give their codes.

TEST_F(FakeComPort, BadDescriptionsGiveCodesNotCrashes) {
    TPCAParams longName = ComParams(0);
    longName.Bytes[1] = 200; // length byte far beyond the 6-character field
    std::memcpy(&longName.Bytes[2], "COM3ab", 6);
    auto a = Open(longName);
    EXPECT_EQ(a->LastError(), 11);
    EXPECT_TRUE(line->Log().empty()) << "an unresolvable name opens nothing";

    auto unknownMode = Open(ComParams(7));
    ASSERT_EQ(unknownMode->LastError(), 0);
    EXPECT_EQ(unknownMode->Connect(), -1);
    EXPECT_EQ(unknownMode->LastError(), 1);
    EXPECT_EQ(unknownMode->Disconnect(), -1);
    EXPECT_EQ(unknownMode->LastError(), 1);
}

TEST_F(FakeComPort, LongestInitStringIsSentWhole) {
    std::string init(255, 'S');
    line->AddRule(kSetup, "0\r");
    line->AddRule(init + "\r", "0\r");
    line->AddRule("ATd", "1\r", [](TFakeSerialLine& l) { l.SetDCD(true); });
    TPCAParams p = Phone(init + "cut off");
    auto ch = Open(p);
    ASSERT_EQ(ch->Connect(), 0);
    EXPECT_EQ(line->Written(), std::string(kSetup) + init + "\r" + "ATdt123\r");
}

// Descriptions.

TEST_F(FakeComPort, NeedReconnectRules) {
    auto ch = Open(Phone("ATZ", 1, "100"));
    TPCAParams same = Phone("ATZ", 1, "100");
    EXPECT_FALSE(ch->NeedReconnect(same));
    same.SetInitString("ATX"); // the init string alone does not need a new call
    EXPECT_FALSE(ch->NeedReconnect(same));
    EXPECT_TRUE(ch->NeedReconnect(Phone("ATZ", 1, "101")));
    EXPECT_TRUE(ch->NeedReconnect(Phone("ATZ", 0)));
    TPCAParams faster = Phone("ATZ", 1, "100");
    faster.SetBaudrate(19200);
    EXPECT_TRUE(ch->NeedReconnect(faster));
    TPCAParams direct = ComParams(TPCAComPort::ModeDirect);
    EXPECT_TRUE(ch->NeedReconnect(direct));
    EXPECT_FALSE(ch->NeedReconnect(ComParams(TPCAComPort::ModeDirect, 9600, "COM4")))
        << "another port is not this channel's business";
    TPCAParams tcp = same;
    tcp.SetKind(2);
    EXPECT_FALSE(ch->NeedReconnect(tcp));
}

TEST_F(FakeComPort, RadioNeedReconnectComparesTheCallNumber) {
    auto ch = Open(Radio("", "12"));
    EXPECT_FALSE(ch->NeedReconnect(Radio("other", "12")));
    EXPECT_TRUE(ch->NeedReconnect(Radio("", "13")));
}

TEST_F(FakeComPort, SetParamsRules) {
    TPCAParams p = ComParams(TPCAComPort::ModeDirect);
    p.SetPowerLines(1);
    auto ch = Open(p);

    size_t before = line->Log().size();
    EXPECT_EQ(ch->SetParams(ComParams(0, 9600, "COM4")), -1);
    EXPECT_EQ(ch->LastError(), 15);
    EXPECT_EQ(line->Log().size(), before) << "another port's description leaves the port alone";
    TPCAParams tcp = p;
    tcp.SetKind(2);
    EXPECT_EQ(ch->SetParams(tcp), -1);
    EXPECT_EQ(ch->LastError(), 4);
    TPCAParams got;
    ASSERT_EQ(ch->GetParams(got), 0);
    EXPECT_EQ(got, p) << "a refused description changes nothing";

    // Same mode 0: the lines follow PowerLines.
    size_t mark = line->Log().size();
    TPCAParams unpowered = p;
    unpowered.SetPowerLines(0);
    ASSERT_EQ(ch->SetParams(unpowered), 0);
    EXPECT_EQ(LogFrom(mark), (Log{"RTS 0", "DTR 0"}));

    // A new speed is written to the port at once.
    mark = line->Log().size();
    TPCAParams faster = unpowered;
    faster.SetBaudrate(57600);
    ASSERT_EQ(ch->SetParams(faster), 0);
    EXPECT_EQ(line->Speed(), 57600u);
    ASSERT_EQ(ch->GetParams(got), 0);
    EXPECT_EQ(got.Baudrate(), 57600u);

    // A speed the port refuses is reported, and the old one stays.
    TPCAParams odd = faster;
    odd.SetBaudrate(12345);
    line->RefuseSpeed(12345);
    EXPECT_EQ(ch->SetParams(odd), -1);
    EXPECT_EQ(ch->LastError(), 23);
    ASSERT_EQ(ch->GetParams(got), 0);
    EXPECT_EQ(got.Baudrate(), 57600u);
}

TEST_F(FakeComPort, SetParamsWithANewNumberDropsTheCall) {
    line->SetDCD(true);
    auto ch = Open(Phone("", 1, "100"));
    ASSERT_TRUE(line->DTR());
    size_t mark = line->Log().size();
    ASSERT_EQ(ch->SetParams(Phone("", 1, "100")), 0);
    EXPECT_TRUE(LogFrom(mark).empty()) << "the same number keeps the call";
    ASSERT_EQ(ch->SetParams(Phone("", 1, "200")), 0);
    EXPECT_EQ(LogFrom(mark), (Log{"DTR 0", "RTS 0"}));
    TPCAParams got;
    ch->GetParams(got);
    EXPECT_EQ(got.PhoneNumber(), "200");
}

// ---------------------------------------------------------------------------------------
// A real pseudo-terminal behind an override link, in direct mode.

class PtyComPort : public ::testing::Test {
protected:
    void SetUp() override {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        ASSERT_FALSE(dir.Path().empty());
        root = dir.Path();
        env.Set("XDG_DATA_HOME", root.c_str());
        std::filesystem::create_directories(root + "/VQ/ports");
        ASSERT_EQ(symlink(ptsname(master), (root + "/VQ/ports/com5").c_str()), 0);
        ASSERT_EQ(symlink("/dev/qz_missing", (root + "/VQ/ports/com6").c_str()), 0);
    }
    void TearDown() override {
        if (master >= 0) close(master);
    }
    std::unique_ptr<TPCAComPort> Open(const TPCAParams& p) {
        auto ch = std::make_unique<TPCAComPort>(p, TSerialDeviceFactory{}, [](uint32_t) {});
        return ch;
    }
    void Send(const std::string& s) {
        ASSERT_EQ(write(master, s.data(), s.size()), ssize_t(s.size()));
    }
    std::string Receive(size_t want) {
        std::string out;
        while (out.size() < want) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 2000) <= 0) break;
            char buf[256];
            ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, size_t(n));
        }
        return out;
    }
    int master = -1;
    test::TempDir dir;
    test::EnvGuard env;
    std::string root;
};

TEST_F(PtyComPort, BytesBothWays) {
    auto ch = Open(ComParams(TPCAComPort::ModeDirect, 115200, "COM5"));
    ASSERT_EQ(ch->LastError(), 0);
    EXPECT_EQ(ch->DevicePath(), root + "/VQ/ports/com5");
    ASSERT_EQ(ch->Connect(), 0);
    uint32_t n = 0;
    std::string req("\x02\x10\x00\xFF\r\n", 6);
    ASSERT_EQ(ch->Write(req.data(), uint32_t(req.size()), nullptr, n), 0);
    EXPECT_EQ(n, 6u);
    EXPECT_EQ(Receive(6), req) << "raw 8-bit line, no translation";
    Send(std::string("\x00\x11\r\n\x7F", 5));
    char buf[32] = {};
    ASSERT_EQ(ch->Read(buf, sizeof buf, 2000, nullptr, n), 0);
    EXPECT_EQ(std::string(buf, n), std::string("\x00\x11\r\n\x7F", 5));
}

TEST_F(PtyComPort, IntervalTimeOutEndsTheReadAfterTheLineGoesQuiet) {
    auto ch = Open(ComParams(TPCAComPort::ModeDirect, 9600, "COM5"));
    ASSERT_EQ(ch->LastError(), 0);
    EXPECT_EQ(ch->ReadIntervalMs(), 25u);
    std::thread meter([this] {
        Send("first-");
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        Send("second");
    });
    char buf[64] = {};
    uint32_t n = 0;
    auto t0 = Clock::now();
    int r = ch->Read(buf, sizeof buf, 3000, nullptr, n);
    auto took = Clock::now() - t0;
    meter.join();
    ASSERT_EQ(r, 0);
    // Both bursts in one read; the read did not wait for its 64 bytes nor its 3 s.
    EXPECT_EQ(std::string(buf, n), "first-second");
    EXPECT_LT(took, std::chrono::milliseconds(2000));
}

TEST_F(PtyComPort, PurgeBeforeWrite) {
    auto ch = Open(ComParams(TPCAComPort::ModeDirect, 9600, "COM5"));
    ASSERT_EQ(ch->LastError(), 0);
    Send("old answer");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    uint32_t n;
    ASSERT_EQ(ch->Write("Q", 1, nullptr, n), 0);
    EXPECT_EQ(Receive(1), "Q");
    Send("new");
    char buf[32] = {};
    ASSERT_EQ(ch->Read(buf, sizeof buf, 2000, nullptr, n), 0);
    EXPECT_EQ(std::string(buf, n), "new");
}

TEST_F(PtyComPort, OpenErrorsOnRealDevices) {
    auto first = Open(ComParams(TPCAComPort::ModeDirect, 9600, "COM5"));
    ASSERT_EQ(first->LastError(), 0);
    auto second = Open(ComParams(TPCAComPort::ModeDirect, 9600, "COM5"));
    EXPECT_EQ(second->LastError(), 10) << "the port is held by the first channel";
    EXPECT_EQ(Open(ComParams(0, 9600, "COM6"))->LastError(), 11);
    EXPECT_EQ(Open(ComParams(0, 12345, "COM5"))->LastError(), 10);
    first.reset();
    EXPECT_EQ(Open(ComParams(0, 12345, "COM5"))->LastError(), 0) << "any positive speed is set";
    EXPECT_EQ(Open(ComParams(0, 0, "COM5"))->LastError(), 23);
    // A pseudo-terminal has no modem lines: no CTS, so no modem.
    EXPECT_EQ(Open(ComParams(TPCAComPort::ModePhone, 9600, "COM5"))->LastError(), 14);
}

TEST_F(PtyComPort, ASynchronousReadTimesOut) {
    auto ch = Open(ComParams(TPCAComPort::ModeDirect, 9600, "COM5"));
    char buf[8];
    uint32_t n = 3;
    auto t0 = Clock::now();
    EXPECT_EQ(ch->Read(buf, sizeof buf, 50, nullptr, n), -1);
    EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(40));
    EXPECT_EQ(ch->LastError(), 13);
    EXPECT_EQ(n, 0u);
}

} // namespace
} // namespace qz

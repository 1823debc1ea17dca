// Logical channels sharing one serial port, on a scripted line.
#include "channel/LCAObject.h"
#include "channel/PCAComPort.h"
#include "platform/Event.h"
#include "tests/support/ChannelGuards.h"
#include "tests/support/FakeSerialDevice.h"
#include "tests/support/PhoneLine.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace qz;

namespace {

TLCAParams Serial(const char* port, uint32_t baud) {
    TLCAParams p;
    p.Pca.SetKind(TPCAParams::KindComPort);
    p.Pca.SetPortName(port);
    p.Pca.SetBaudrate(baud);
    p.Pca.SetMode(0);
    p.Pca.SetPowerLines(1);
    p.MaxAttemptCountOnConnect = 2;
    p.Priority = 1;
    return p;
}

size_t CountOf(const std::vector<std::string>& log, const std::string& entry) {
    return size_t(std::count(log.begin(), log.end(), entry));
}

std::shared_ptr<TFakeSerialLine> EchoLine() {
    auto line = std::make_shared<TFakeSerialLine>();
    line->SetResponder([](const std::string& in) { return "re:" + in; });
    return line;
}

class LcaSerial : public ::testing::Test {
protected:
    std::shared_ptr<TFakeSerialLine> line = EchoLine();
    test::TSerialFactoryGuard factory{line->Factory()};
    test::TNoSleep noSleep;
    test::TLCAModule module;
};

} // namespace

TEST_F(LcaSerial, TwoSpeedsShareOneLineAndReconnectWithTheSecondDescription) {
    auto a = std::make_unique<TLCAObject>(Serial("COM3", 9600));
    auto b = std::make_unique<TLCAObject>(Serial("COM3", 19200));
    ASSERT_TRUE(a->IsValid());
    ASSERT_TRUE(b->IsValid());
    EXPECT_EQ(a->Handle.LineHandle, b->Handle.LineHandle);
    EXPECT_EQ(CountOf(line->Log(), "close"), 0u);

    uint32_t done = 0;
    char buf[16] = {};
    ASSERT_EQ(a->Write("A", 1, done, nullptr, 1000), 0);
    ASSERT_EQ(a->Read(buf, sizeof buf, done, nullptr, 2000), 0);
    EXPECT_EQ(std::string(buf, done), "re:A");
    EXPECT_EQ(line->Speed(), 9600u);
    ASSERT_EQ(a->ReleaseLock(), 0);

    ASSERT_EQ(b->Write("B", 1, done, nullptr, 1000), 0);
    EXPECT_EQ(line->Speed(), 19200u); // the line took b's description before b's write
    ASSERT_EQ(b->Read(buf, sizeof buf, done, nullptr, 2000), 0);
    EXPECT_EQ(std::string(buf, done), "re:B");
    ASSERT_EQ(b->ReleaseLock(), 0);

    // One port for both: opened once, and closed only with the last channel.
    EXPECT_EQ(CountOf(line->Log(), "open " + line->OpenedPath()), 1u);
    a.reset();
    EXPECT_EQ(CountOf(line->Log(), "close"), 0u);
    b.reset();
    EXPECT_EQ(CountOf(line->Log(), "close"), 1u);
}

TEST_F(LcaSerial, PortThatCannotBeOpenedLeavesNoLine) {
    line->SetOpenError(EBUSY);
    TLCAObject a(Serial("COM4", 9600));
    EXPECT_FALSE(a.IsValid());
    EXPECT_EQ(a.GetLastError(), 10); // "Порт занят другим приложением."
    line->SetOpenError(ENOENT);
    TLCAObject b(Serial("COM4", 9600));
    EXPECT_EQ(b.GetLastError(), 11);
}

namespace {

// The log callback's connect messages, with the thread each came on.
struct StepSink {
    std::mutex Mutex;
    std::vector<std::string> Steps;
    std::vector<std::thread::id> Threads;
    std::vector<TLCAHandle> Handles;

    TLCALogProc Proc() {
        return [this](const std::string& text, uint8_t cls, TLCAHandle h) {
            if (cls != lcaLogConnect) return;
            std::lock_guard<std::mutex> lock(Mutex);
            Steps.push_back(text);
            Threads.push_back(std::this_thread::get_id());
            Handles.push_back(h);
        };
    }
};

TLCAParams Phone(uint8_t logMask) {
    return test::PhoneLine("COM7", "5551234", "ATZ", 1, logMask);
}

class ModemSteps : public ::testing::Test {
protected:
    void SetUp() override { modem->AddRule("ATZ\r", "\r\nOK\r\n"); }
    std::shared_ptr<TFakeSerialLine> modem = MakeReadyModem();
    test::TSerialFactoryGuard factory{modem->Factory()};
    test::TNoSleep noSleep;
    test::TComPortTimingsGuard timings{test::ScriptedModemTimings()};
    StepSink sink;
    test::TLCAModule module{sink.Proc()};
};

} // namespace

TEST_F(ModemSteps, WholeCallShowsInitDialCarrierAndHangUpInOrderOnTheWorkerThread) {
    modem->AddRule("ATdt5551234\r", "\r\nCONNECT 9600\r\n",
                   [](TFakeSerialLine& l) { l.SetDCD(true); });
    modem->AddRule("ping", "pong");
    modem->AddRule("+++", "\r\nOK\r\n", [](TFakeSerialLine& l) { l.SetDCD(false); });
    TLCAHandle handle;
    {
        TLCAObject channel(Phone(0xFF));
        ASSERT_TRUE(channel.IsValid()) << channel.OpenError;
        handle = channel.Handle;
        uint32_t done = 0;
        ASSERT_EQ(channel.Write("ping", 4, done, nullptr, 2000), 0);
        char answer[4] = {};
        ASSERT_EQ(channel.Read(answer, 4, done, nullptr, 2000), 0);
        ASSERT_EQ(channel.ReleaseLock(), 0);
    } // the line goes with its last channel: the modem is hung up
    LCAFinalize();

    const std::vector<std::string> expected = {
        "Соединение...",
        "Модем: инициализация.",
        "Модем: > ATV0E0Q0&C1&D2",
        "Модем: < 0",
        "Модем: > ATZ",
        "Модем: < OK",
        "Модем: набор номера 5551234.",
        "Модем: > ATdt5551234",
        "Модем: ожидание несущей.",
        "Модем: < CONNECT 9600",
        "Модем: несущая есть.",
        "Соединение установлено.",
        "Модем: разъединение.",
        "Модем: > +++",
        "Модем: < OK",
    };
    std::lock_guard<std::mutex> lock(sink.Mutex);
    EXPECT_EQ(sink.Steps, expected);
    // The callback is called on one thread, the worker's, and never on the test's; every
    // step carries the channel's handle, the hang-up too although the channel has closed.
    ASSERT_FALSE(sink.Threads.empty());
    for (size_t i = 0; i < sink.Threads.size(); ++i) {
        EXPECT_EQ(sink.Threads[i], sink.Threads[0]) << sink.Steps[i];
        EXPECT_EQ(sink.Handles[i], handle) << sink.Steps[i];
    }
    EXPECT_NE(sink.Threads[0], std::this_thread::get_id());
}

TEST_F(ModemSteps, NoCarrierShowsTheHangUpBeforeTheFailureAndTheMaskCanLeaveStepsOut) {
    modem->AddRule("ATdt", "3\r"); // NO CARRIER
    modem->AddRule("+++", "");     // a modem that does not answer the escape
    {
        TLCAObject channel(Phone(0xFF));
        ASSERT_TRUE(channel.IsValid());
        uint32_t done = 0;
        EXPECT_EQ(channel.Write("x", 1, done, nullptr, 2000), pcaNoModemConnection);
    }
    {
        TLCAObject quiet(Phone(lcaLogError));
        ASSERT_TRUE(quiet.IsValid());
        uint32_t done = 0;
        EXPECT_EQ(quiet.Write("x", 1, done, nullptr, 2000), pcaNoModemConnection);
    }
    LCAFinalize();
    std::lock_guard<std::mutex> lock(sink.Mutex);
    const auto at = [&](const std::string& text) {
        return size_t(std::find(sink.Steps.begin(), sink.Steps.end(), text) - sink.Steps.begin());
    };
    const size_t answer = at("Модем: < 3");
    const size_t noCarrier = at("Модем: несущей нет.");
    const size_t hangUp = at("Модем: разъединение.");
    const size_t silent = at("Модем: ответа нет.");
    const size_t failed = at("Соединение не установлено: " + PCAErrorText(pcaNoModemConnection));
    EXPECT_LT(answer, noCarrier);
    EXPECT_LT(noCarrier, hangUp);
    EXPECT_LT(hangUp, silent);
    EXPECT_LT(silent, failed);
    ASSERT_LT(failed, sink.Steps.size()) << ::testing::PrintToString(sink.Steps);
    // The second channel asked for errors only: none of its steps reached the callback
    // (the first channel's close hang-up is the last of its steps).
    EXPECT_EQ(std::count(sink.Steps.begin(), sink.Steps.end(), "Соединение..."), 1);
}

TEST_F(ModemSteps, ModuleFreedWhileTheModemDialsEndsTheCallWithoutCallingBackElsewhere) {
    TComPortTimings slow = DefaultComPortTimings();
    slow.DialReplyMs = 60000; // the modem never reports on the dial
    test::TComPortTimingsGuard slowTimings(slow);
    module.Restart(sink.Proc());
    TEvent dialling(true, false);
    modem->AddRule("ATdt", "", [&](TFakeSerialLine&) { dialling.Set(); });
    TLCAObject channel(Phone(0xFF));
    ASSERT_TRUE(channel.IsValid());
    TEvent taskEnded(true, false);
    uint32_t done = 0;
    ASSERT_EQ(channel.Write("x", 1, done, &taskEnded, 60000), 0);
    ASSERT_TRUE(dialling.Wait(5000));
    LCAFinalize(); // frees the line while its connect's helper waits for the dial's result
    EXPECT_TRUE(taskEnded.Wait(0));
    ASSERT_TRUE(modem->Settle());
    EXPECT_NE(modem->Written().find("+++"), std::string::npos) << "the call was hung up";
    std::lock_guard<std::mutex> lock(sink.Mutex);
    ASSERT_FALSE(sink.Threads.empty());
    for (size_t i = 0; i < sink.Threads.size(); ++i)
        EXPECT_EQ(sink.Threads[i], sink.Threads[0]) << sink.Steps[i];
}

// Logical channels sharing one serial port, on a scripted line.
#include "channel/LCAObject.h"
#include "channel/PCAComPort.h"
#include "tests/support/FakeSerialDevice.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>

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

class LcaSerial : public ::testing::Test {
protected:
    void SetUp() override {
        line = std::make_shared<TFakeSerialLine>();
        line->SetResponder([](const std::string& in) { return "re:" + in; });
        SetDefaultSerialDeviceFactory(line->Factory());
        SetDefaultPCASleeper([](uint32_t) {});
        LCAInitialize();
    }
    void TearDown() override {
        LCAFinalize();
        SetDefaultSerialDeviceFactory({});
    }
    std::shared_ptr<TFakeSerialLine> line;
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

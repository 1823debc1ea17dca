#include "platform/SerialDevice.h"
#include "platform/SerialSpeed.h"
#include "tests/support/FakeSerialDevice.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace qz {
namespace {

struct PtyMaster {
    int fd = -1;
    std::string slavePath;
    PtyMaster() {
        fd = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0) return;
        slavePath = ptsname(fd);
    }
    ~PtyMaster() {
        if (fd >= 0) close(fd);
    }
};

std::string ReadSome(int fd, int timeoutMs = 2000) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return "";
    char buf[256];
    ssize_t n = read(fd, buf, sizeof buf);
    return n > 0 ? std::string(buf, size_t(n)) : "";
}

TEST(TermiosSerialDevice, OpensAPseudoTerminalAndMovesBytes) {
    PtyMaster m;
    ASSERT_FALSE(m.slavePath.empty());
    TTermiosSerialDevice dev;
    ASSERT_EQ(dev.Open(m.slavePath), 0);
    ASSERT_TRUE(dev.IsOpen());
    EXPECT_TRUE(dev.Configure(9600, false));
    EXPECT_TRUE(dev.Configure(115200, true));
    EXPECT_NE(fcntl(dev.Fd(), F_GETFL) & O_NONBLOCK, 0);
    ASSERT_EQ(write(dev.Fd(), "AT\r", 3), 3);
    EXPECT_EQ(ReadSome(m.fd), "AT\r") << "raw mode: no translation of the carriage return";
    dev.Close();
    EXPECT_FALSE(dev.IsOpen());
    EXPECT_EQ(dev.Fd(), -1);
}

// The connection dialog offers speeds without a termios constant (14400, 56000, 128000,
// 256000, 100), and a stored connection may hold any positive speed: all are set in bit/s.
TEST(TermiosSerialDevice, SetsAnyPositiveSpeedAndReadsItBack) {
    PtyMaster m;
    TTermiosSerialDevice dev;
    ASSERT_EQ(dev.Open(m.slavePath), 0);
    for (uint32_t baud : {100u, 14400u, 56000u, 128000u, 256000u, 12345u, 1u, 9600u, 115200u,
                          3000000u, 4294967295u}) {
        SCOPED_TRACE(baud);
        ASSERT_TRUE(dev.Configure(baud, false));
        EXPECT_EQ(LineSpeedInBits(dev.Fd()), baud);
    }
    // Back from a speed in bit/s to one with a constant, and the line is still raw.
    ASSERT_TRUE(dev.Configure(256000, false));
    ASSERT_TRUE(dev.Configure(4800, false));
    EXPECT_EQ(LineSpeedInBits(dev.Fd()), 4800u);
    ASSERT_TRUE(dev.Configure(14400, false));
    ASSERT_EQ(write(dev.Fd(), "\r\n\x11", 3), 3);
    EXPECT_EQ(ReadSome(m.fd), "\r\n\x11") << "no translation, no flow control at 14400";

    EXPECT_FALSE(dev.Configure(0, false)) << "no line runs at 0 bit/s";
    dev.Close();
    EXPECT_FALSE(dev.Configure(14400, false)) << "a closed device sets nothing";
    EXPECT_FALSE(SetLineSpeedInBits(-1, 9600));
    EXPECT_FALSE(SetLineSpeedInBits(m.fd, 0));
    EXPECT_EQ(LineSpeedInBits(-1), 0u);
}

TEST(TermiosSerialDevice, PseudoTerminalHasNoModemLines) {
    PtyMaster m;
    TTermiosSerialDevice dev;
    ASSERT_EQ(dev.Open(m.slavePath), 0);
    dev.SetDTR(true); // no-ops, must not fail or disturb the line
    dev.SetRTS(true);
    TModemLines l = dev.GetModemLines();
    EXPECT_FALSE(l.CTS);
    EXPECT_FALSE(l.DSR);
    EXPECT_FALSE(l.DCD);
}

TEST(TermiosSerialDevice, PurgeDiscardsUnreadInput) {
    PtyMaster m;
    TTermiosSerialDevice dev;
    ASSERT_EQ(dev.Open(m.slavePath), 0);
    ASSERT_TRUE(dev.Configure(9600, false));
    ASSERT_EQ(write(m.fd, "stale", 5), 5);
    pollfd p{dev.Fd(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 2000), 1);
    dev.Purge(true, true);
    char buf[16];
    EXPECT_EQ(read(dev.Fd(), buf, sizeof buf), -1);
    EXPECT_EQ(errno, EAGAIN);
}

TEST(TermiosSerialDevice, OpenErrorsTellMissingFromBusy) {
    TTermiosSerialDevice dev;
    EXPECT_EQ(dev.Open("/dev/ttyQZ_no_such_port"), ENOENT);
    EXPECT_EQ(dev.Open(""), ENOENT);
    EXPECT_EQ(dev.Open("/dev/null"), ENOTTY) << "not a serial device";
    EXPECT_FALSE(dev.IsOpen());

    PtyMaster m;
    TTermiosSerialDevice first, second;
    ASSERT_EQ(first.Open(m.slavePath), 0);
    EXPECT_EQ(second.Open(m.slavePath), EBUSY) << "a port held by someone else is busy";
    first.Close();
    EXPECT_EQ(second.Open(m.slavePath), 0) << "closing releases the port";
}

TEST(TermiosSerialDevice, SpeedTable) {
    EXPECT_NE(TTermiosSerialDevice::SpeedConstant(2400), 0u);
    EXPECT_NE(TTermiosSerialDevice::SpeedConstant(57600), 0u);
    EXPECT_NE(TTermiosSerialDevice::SpeedConstant(921600), 0u);
    EXPECT_EQ(TTermiosSerialDevice::SpeedConstant(14400), 0u);
}

TEST(FakeSerialLine, AnswersByRulesAndRunsTheirActionsFirst) {
    auto line = std::make_shared<TFakeSerialLine>();
    line->SetCTS(true);
    line->AddRule("ATD", "1\r", [](TFakeSerialLine& l) { l.SetDCD(true); });
    line->AddRule("AT", "0\r");
    auto dev = line->Factory()();
    ASSERT_EQ(dev->Open("/dev/ttyS0"), 0);
    EXPECT_EQ(line->OpenedPath(), "/dev/ttyS0");
    ASSERT_EQ(write(dev->Fd(), "AT\r", 3), 3);
    EXPECT_EQ(ReadSome(dev->Fd()), "0\r");
    EXPECT_FALSE(dev->GetModemLines().DCD);
    ASSERT_EQ(write(dev->Fd(), "ATD123\r", 7), 7);
    EXPECT_EQ(ReadSome(dev->Fd()), "1\r");
    EXPECT_TRUE(dev->GetModemLines().DCD);
    EXPECT_TRUE(dev->GetModemLines().CTS);
    EXPECT_EQ(line->Written(), "AT\rATD123\r");
    dev.reset();
    auto log = line->Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "close");
}

TEST(FakeSerialLine, RecordsLineChangesInOrderWithTimes) {
    auto line = std::make_shared<TFakeSerialLine>();
    auto dev = line->Factory()();
    ASSERT_EQ(dev->Open("x"), 0);
    ASSERT_TRUE(dev->Configure(9600, true));
    dev->SetRTS(false);
    dev->SetDTR(false);
    auto h = line->LineHistory();
    ASSERT_EQ(h.size(), 4u);
    EXPECT_EQ(h[2].Line, 'R');
    EXPECT_FALSE(h[2].On);
    EXPECT_EQ(h[3].Line, 'D');
    EXPECT_LE(h[0].Time, h[3].Time);
    EXPECT_EQ(line->Speed(), 9600u);
    ASSERT_TRUE(dev->Configure(14400, true)) << "any positive speed, like a pseudo-terminal";
    EXPECT_EQ(line->Speed(), 14400u);
    line->RefuseSpeed(12345);
    EXPECT_FALSE(dev->Configure(12345, true));
    EXPECT_FALSE(dev->Configure(0, true));
    EXPECT_EQ(line->Speed(), 14400u) << "a refused speed leaves the line as it was";
}

TEST(FakeSerialLine, ScriptedOpenFailureAndPeerHangUp) {
    auto line = std::make_shared<TFakeSerialLine>();
    line->SetOpenError(EBUSY);
    auto dev = line->Factory()();
    EXPECT_EQ(dev->Open("x"), EBUSY);
    EXPECT_FALSE(dev->IsOpen());
    line->SetOpenError(0);
    ASSERT_EQ(dev->Open("x"), 0);
    line->HangUpPeer();
    pollfd p{dev->Fd(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 2000), 1);
    char c;
    EXPECT_EQ(read(dev->Fd(), &c, 1), 0);
}

} // namespace
} // namespace qz

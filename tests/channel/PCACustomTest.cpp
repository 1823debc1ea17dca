#include "channel/PCAComPort.h"
#include "channel/PCAEthernetTCP.h"
#include "channel/PCAType.h"
#include "tests/support/ChannelGuards.h"
#include "tests/support/FakeSerialDevice.h"
#include "tests/support/SocketPair.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace qz {
namespace {

using Clock = std::chrono::steady_clock;

// A channel kind that only runs the shared transfers on a descriptor given by the test.
class TTestChannel : public TPCACustom {
public:
    explicit TTestChannel(int fd = -1) : TPCACustom([](uint32_t) {}) { handle_ = fd; }
    void CancelIO() override {
        ++cancels;
        CancelOwnTransfers();
    }
    int cancels = 0;
};

// A kind whose Connect works, to see what ConnectEx passes on.
class TConnectingChannel : public TTestChannel {
public:
    int Connect() override {
        ++connects;
        lastError_ = pcaOk;
        return 0;
    }
    int connects = 0;
};

using test::SocketPair;

TEST(PCACustom, ANewChannelHasNothingImplemented) {
    TTestChannel ch;
    EXPECT_EQ(ch.LastError(), 1);
    EXPECT_EQ(ch.Handle(), -1);
    EXPECT_EQ(ch.Connect(), -1);
    EXPECT_EQ(ch.LastError(), 1);
    TPCAParams p;
    EXPECT_FALSE(ch.IsSameChannel(p));
    EXPECT_TRUE(ch.NeedReconnect(p));
    EXPECT_EQ(ch.Disconnect(), -1);
    EXPECT_EQ(ch.GetParams(p), -1);
    EXPECT_EQ(ch.SetParams(p), -1);
    EXPECT_EQ(ch.LastError(), 1);
    EXPECT_EQ(ch.CheckDevice(), 24);
}

TEST(PCACustom, ConnectExIsSynchronousOnlyWithoutAnEvent) {
    TConnectingChannel ch;
    int32_t err = 55;
    EXPECT_EQ(ch.ConnectEx(0, &err), 0);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(ch.ConnectEx(-1, nullptr), 0);
    EXPECT_EQ(ch.connects, 2);

    err = 55;
    EXPECT_EQ(ch.ConnectEx(9, &err), -1);
    EXPECT_EQ(err, 1);
    EXPECT_EQ(ch.connects, 2) << "the asynchronous form must not touch the port";
    EXPECT_EQ(ch.LastError(), 0);

    TTestChannel base;
    err = 0;
    EXPECT_EQ(base.ConnectEx(0, &err), -1);
    EXPECT_EQ(err, 1);
}

TEST(PCACustom, ReadOnTheCallersBlockReturnsAtOnce) {
    SocketPair sp;
    TTestChannel ch(sp.a);
    TOverlapped block;
    char buf[8] = {};
    uint32_t n = 77;
    ASSERT_EQ(ch.Read(buf, sizeof buf, 100, &block, n), 0);
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(block.IsPending());
    ASSERT_EQ(send(sp.b, "hi", 2, 0), 2);
    ASSERT_TRUE(block.Wait(2000));
    uint32_t got = 0;
    ASSERT_TRUE(block.GetResult(got));
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(std::string(buf, 2), "hi");
}

TEST(PCACustom, SynchronousReadAndItsFailures) {
    SocketPair sp;
    TTestChannel ch(sp.a);
    char buf[8] = {};
    uint32_t n = 0;

    ASSERT_EQ(send(sp.b, "abc", 3, 0), 3);
    ASSERT_EQ(ch.Read(buf, sizeof buf, 1000, nullptr, n), 0);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(ch.LastError(), 0);

    // Nothing comes: the pending read is cancelled before the call returns.
    auto t0 = Clock::now();
    EXPECT_EQ(ch.Read(buf, sizeof buf, 60, nullptr, n), -1);
    EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(50));
    EXPECT_EQ(ch.LastError(), 13);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(ch.cancels, 1);
    // The cancelled read took nothing: bytes sent now go to the next read.
    ASSERT_EQ(send(sp.b, "x", 1, 0), 1);
    ASSERT_EQ(ch.Read(buf, sizeof buf, 1000, nullptr, n), 0);
    EXPECT_EQ(buf[0], 'x');

    // The peer closed: a 0-byte completion is "server not found", not a read error.
    shutdown(sp.b, SHUT_WR);
    EXPECT_EQ(ch.Read(buf, sizeof buf, 1000, nullptr, n), -1);
    EXPECT_EQ(ch.LastError(), 19);
}

TEST(PCACustom, TransfersThatCannotStartAreConnectionLost) {
    TTestChannel ch(-1);
    char buf[4];
    uint32_t n = 9;
    EXPECT_EQ(ch.Read(buf, 4, 100, nullptr, n), -1);
    EXPECT_EQ(ch.LastError(), 22);
    EXPECT_EQ(n, 0u);
    TOverlapped block;
    EXPECT_EQ(ch.Write(buf, 4, &block, n), -1);
    EXPECT_EQ(ch.LastError(), 22);
}

TEST(PCACustom, SynchronousWriteAndFailure) {
    SocketPair sp;
    TTestChannel ch(sp.a);
    uint32_t n = 0;
    ASSERT_EQ(ch.Write("hello", 5, nullptr, n), 0);
    EXPECT_EQ(n, 5u);
    char buf[8];
    EXPECT_EQ(recv(sp.b, buf, sizeof buf, 0), 5);

    TOverlapped block;
    ASSERT_EQ(ch.Write("ab", 2, &block, n), 0);
    EXPECT_EQ(n, 0u) << "the caller collects the count from its block";
    ASSERT_TRUE(block.Wait(1000));

    close(sp.b);
    sp.b = -1;
    EXPECT_EQ(ch.Write("lost", 4, nullptr, n), -1);
    EXPECT_EQ(ch.LastError(), 12);
    EXPECT_EQ(n, 0u);
}

TEST(PCACustom, CreatePCAPicksTheKind) {
    TPCAParams p;
    EXPECT_EQ(CreatePCA(p), nullptr) << "kind 0";
    p.SetKind(3);
    EXPECT_EQ(CreatePCA(p), nullptr);
    p.SetKind(255);
    EXPECT_EQ(CreatePCA(p), nullptr);

    test::TNoSleep noSleep;
    p.Clear();
    p.SetKind(2);
    p.SetIpAddress("127.0.0.1");
    p.SetIpPort(1);
    auto tcp = CreatePCA(p);
    ASSERT_NE(tcp, nullptr);
    EXPECT_NE(dynamic_cast<TPCAEthernetTCP*>(tcp.get()), nullptr);
    EXPECT_GE(tcp->Handle(), 0);
    EXPECT_EQ(tcp->LastError(), 0);

    // A failed constructor still gives the channel, with its error.
    p.SetIpAddress("no.such.host");
    auto bad = CreatePCA(p);
    ASSERT_NE(bad, nullptr);
    EXPECT_EQ(bad->Handle(), -1);
    EXPECT_EQ(bad->LastError(), 21);

    auto line = std::make_shared<TFakeSerialLine>();
    test::TSerialFactoryGuard factory(line->Factory());
    p.Clear();
    p.SetKind(1);
    p.SetPortName("COM7");
    p.SetBaudrate(9600);
    auto com = CreatePCA(p);
    ASSERT_NE(com, nullptr);
    EXPECT_NE(dynamic_cast<TPCAComPort*>(com.get()), nullptr);
    EXPECT_GE(com->Handle(), 0);
}

} // namespace
} // namespace qz

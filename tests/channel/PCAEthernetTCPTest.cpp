#include "channel/PCAEthernetTCP.h"

#include "tests/support/TcpListener.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace qz {
namespace {

using Clock = std::chrono::steady_clock;

// A listener on 127.0.0.1 playing the meter.
using Server = qz::test::TcpListener;

std::string Receive(int fd, size_t want) {
    std::string out;
    while (out.size() < want) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 2000) <= 0) break;
        char buf[256];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        out.append(buf, size_t(n));
    }
    return out;
}

TPCAParams TcpParams(const std::string& ip, uint16_t port) {
    TPCAParams p;
    p.SetKind(TPCAParams::KindTCP);
    p.SetIpAddress(ip);
    p.SetIpPort(port);
    return p;
}

class TcpChannel : public ::testing::Test {
protected:
    TSleeper Recorder() {
        return [this](uint32_t ms) { sleeps.push_back(ms); };
    }
    std::vector<uint32_t> sleeps;
};

TEST_F(TcpChannel, CreationChecksKindAndAddress) {
    TPCAParams wrong = TcpParams("127.0.0.1", 80);
    wrong.SetKind(1);
    TPCAEthernetTCP wrongKind(wrong, Recorder());
    EXPECT_EQ(wrongKind.LastError(), 4);
    EXPECT_EQ(wrongKind.Handle(), -1);

    for (const char* bad : {"255.255.255.255", "meter.local", "", "1.2.3.4.5", "300.1.1.1"}) {
        TPCAEthernetTCP ch(TcpParams(bad, 80), Recorder());
        EXPECT_EQ(ch.LastError(), 21) << bad;
        EXPECT_EQ(ch.Handle(), -1) << bad;
        EXPECT_EQ(ch.Connect(), -1) << bad;
    }

    TPCAParams overlong = TcpParams("127.0.0.1", 80);
    overlong.Bytes[1] = 255; // claims more than the 15-character field holds
    std::memset(&overlong.Bytes[2], '1', 15);
    TPCAEthernetTCP ch(overlong, Recorder());
    EXPECT_EQ(ch.LastError(), 21);

    TPCAEthernetTCP ok(TcpParams("127.0.0.1", 80), Recorder());
    EXPECT_EQ(ok.LastError(), 0);
    EXPECT_GE(ok.Handle(), 0);
    EXPECT_TRUE(sleeps.empty()) << "creating the socket does not wait";
}

TEST_F(TcpChannel, ConnectWriteReadAndPeerClose) {
    Server srv;
    TPCAEthernetTCP ch(TcpParams("127.0.0.1", srv.port), Recorder());
    ASSERT_EQ(ch.Connect(), 0);
    EXPECT_EQ(ch.LastError(), 0);
    EXPECT_EQ(sleeps, (std::vector<uint32_t>{50, 500}));
    int peer = srv.Accept();
    ASSERT_GE(peer, 0);

    uint32_t n = 0;
    ASSERT_EQ(ch.Write("\x01\x02request", 9, nullptr, n), 0);
    EXPECT_EQ(n, 9u);
    EXPECT_EQ(Receive(peer, 9), std::string("\x01\x02request", 9));

    ASSERT_EQ(send(peer, "answer", 6, 0), 6);
    char buf[64] = {};
    ASSERT_EQ(ch.Read(buf, sizeof buf, 2000, nullptr, n), 0);
    EXPECT_EQ(std::string(buf, n), "answer");

    auto t0 = Clock::now();
    EXPECT_EQ(ch.Read(buf, sizeof buf, 80, nullptr, n), -1);
    EXPECT_EQ(ch.LastError(), 13);
    EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(70));

    close(peer);
    EXPECT_EQ(ch.Read(buf, sizeof buf, 2000, nullptr, n), -1);
    EXPECT_EQ(ch.LastError(), 19);
    EXPECT_EQ(n, 0u);
}

TEST_F(TcpChannel, ConnectAfterDisconnectUsesANewSocket) {
    Server srv;
    TPCAEthernetTCP ch(TcpParams("127.0.0.1", srv.port), Recorder());
    ASSERT_EQ(ch.Connect(), 0);
    int first = srv.Accept();
    ASSERT_GE(first, 0);
    EXPECT_EQ(ch.Disconnect(), 0);
    EXPECT_EQ(ch.Handle(), -1);
    EXPECT_EQ(ch.LastError(), 0);
    EXPECT_EQ(Receive(first, 1), "") << "the peer sees the connection end";
    close(first);

    ASSERT_EQ(ch.Connect(), 0);
    EXPECT_GE(ch.Handle(), 0);
    int second = srv.Accept();
    ASSERT_GE(second, 0);
    uint32_t n;
    ASSERT_EQ(ch.Write("z", 1, nullptr, n), 0);
    EXPECT_EQ(Receive(second, 1), "z");
    close(second);
}

TEST_F(TcpChannel, RefusedConnectIsServerNotFoundAndCanBeRetried) {
    uint16_t port;
    {
        Server gone;
        port = gone.port;
    }
    TPCAEthernetTCP ch(TcpParams("127.0.0.1", port), Recorder());
    EXPECT_EQ(ch.Connect(), -1);
    EXPECT_EQ(ch.LastError(), 19);
    EXPECT_GE(ch.Handle(), 0) << "the channel keeps a usable socket";
    EXPECT_EQ(ch.Connect(), -1);
    EXPECT_EQ(ch.LastError(), 19) << "a second attempt fails the same way, not with a stale state";
}

TEST_F(TcpChannel, ConnectIsBoundedByItsTimeOut) {
    EXPECT_GE(TPCAEthernetTCP::DefaultConnectTimeoutMs, 10000);
    EXPECT_LE(TPCAEthernetTCP::DefaultConnectTimeoutMs, 21000);
    Server full(0); // never accepts: once its queue is full, handshakes are dropped
    std::vector<std::unique_ptr<TPCAEthernetTCP>> chans;
    auto t0 = Clock::now();
    bool timedOut = false;
    for (int i = 0; i < 8 && !timedOut; ++i) {
        chans.push_back(
            std::make_unique<TPCAEthernetTCP>(TcpParams("127.0.0.1", full.port), Recorder()));
        chans.back()->SetConnectTimeoutMs(150);
        timedOut = chans.back()->Connect() == -1;
    }
    EXPECT_TRUE(timedOut);
    EXPECT_EQ(chans.back()->LastError(), 19);
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));
}

TEST_F(TcpChannel, SetParamsAcceptsOnlyTheSameAddressAndPort) {
    TPCAEthernetTCP ch(TcpParams("10.0.0.1", 502), Recorder());
    TPCAParams same = TcpParams("10.0.0.1", 502);
    same.Bytes[200] = 0x55; // bytes the channel does not interpret
    EXPECT_EQ(ch.SetParams(same), 0);
    EXPECT_EQ(ch.LastError(), 0);

    EXPECT_EQ(ch.SetParams(TcpParams("10.0.0.1", 503)), -1);
    EXPECT_EQ(ch.LastError(), 20);
    EXPECT_EQ(ch.SetParams(TcpParams("10.0.0.01", 502)), -1) << "addresses compare as bytes";
    EXPECT_EQ(ch.LastError(), 20);
    TPCAParams serial = TcpParams("10.0.0.1", 502);
    serial.SetKind(1);
    EXPECT_EQ(ch.SetParams(serial), -1);
    EXPECT_EQ(ch.LastError(), 4);

    TPCAParams got;
    ASSERT_EQ(ch.GetParams(got), 0);
    EXPECT_EQ(got.IpAddress(), "10.0.0.1");
    EXPECT_EQ(got.IpPort(), 502) << "a refused SetParams keeps the old address";
}

TEST_F(TcpChannel, NeedReconnectOnlyForAnotherAddressOrPort) {
    TPCAEthernetTCP ch(TcpParams("192.168.0.7", 4001), Recorder());
    TPCAParams same = TcpParams("192.168.0.7", 4001);
    same.Bytes[19] = 1;
    same.Bytes[300] = 9;
    EXPECT_FALSE(ch.NeedReconnect(same));
    EXPECT_TRUE(ch.IsSameChannel(same));
    EXPECT_TRUE(ch.NeedReconnect(TcpParams("192.168.0.7", 4002)));
    EXPECT_TRUE(ch.NeedReconnect(TcpParams("192.168.0.70", 4001)));
    TPCAParams serial = same;
    serial.SetKind(1);
    EXPECT_FALSE(ch.IsSameChannel(serial));
}

TEST_F(TcpChannel, GetParamsGivesTheKeptBytesOnly) {
    TPCAParams p = TcpParams("127.0.0.1", 8000);
    for (size_t i = 19; i < TPCAParams::Size; ++i)
        p.Bytes[i] = uint8_t(i);
    TPCAEthernetTCP ch(p, Recorder());
    TPCAParams got;
    got.Bytes.fill(0xEE);
    ASSERT_EQ(ch.GetParams(got), 0);
    EXPECT_EQ(got.Kind(), 2);
    EXPECT_EQ(std::memcmp(got.Bytes.data() + 1, p.Bytes.data() + 1, 274), 0);
    for (size_t i = 275; i < TPCAParams::Size; ++i)
        EXPECT_EQ(got.Bytes[i], 0) << i;
    EXPECT_EQ(ch.CheckDevice(), 24);
}

} // namespace
} // namespace qz

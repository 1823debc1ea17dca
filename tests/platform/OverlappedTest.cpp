#include "platform/Overlapped.h"
#include "tests/support/SocketPair.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace qz {
namespace {

using Clock = std::chrono::steady_clock;

using test::SocketPair;

// A pseudo-terminal pair: the transfer runs on the slave, the test plays the line on the
// master.
struct Pty {
    int master = -1, slave = -1;
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
        slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios t{};
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
    }
    ~Pty() {
        if (slave >= 0) close(slave);
        if (master >= 0) close(master);
    }
    void Send(const std::string& s) {
        ASSERT_EQ(write(master, s.data(), s.size()), ssize_t(s.size()));
    }
};

bool Readable(int fd, int timeoutMs = 0) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, timeoutMs) > 0;
}

TEST(Overlapped, ReadWithoutIntervalCompletesWithWhatIsThere) {
    SocketPair sp;
    TOverlapped ov;
    ASSERT_TRUE(ov.Valid());
    char buf[16] = {};
    ASSERT_TRUE(ov.StartRead(sp.a, buf, sizeof buf, 0));
    uint32_t n = 99;
    EXPECT_FALSE(ov.GetResult(n)) << "nothing arrived yet";
    EXPECT_EQ(n, 0u);
    EXPECT_FALSE(Readable(ov.WaitFd())) << "a pending transfer with no data must not wake";
    sp.Send("abc");
    EXPECT_TRUE(Readable(ov.WaitFd(), 2000));
    EXPECT_TRUE(ov.Advance());
    ASSERT_TRUE(ov.GetResult(n));
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(std::string(buf, 3), "abc");
    // Complete: WaitFd stays readable (the flag) until reset, and then goes quiet.
    EXPECT_TRUE(Readable(ov.WaitFd()));
    EXPECT_TRUE(ov.Advance()) << "spurious Advance after completion";
    ov.ResetEvent();
    EXPECT_FALSE(Readable(ov.WaitFd()));
    ASSERT_TRUE(ov.GetResult(n));
    EXPECT_EQ(n, 3u);
}

TEST(Overlapped, ReadTakesAtMostCount) {
    SocketPair sp;
    sp.Send("0123456789");
    TOverlapped ov;
    char buf[4] = {};
    ASSERT_TRUE(ov.StartRead(sp.a, buf, 4, 0));
    ASSERT_TRUE(ov.Wait(1000));
    uint32_t n = 0;
    ASSERT_TRUE(ov.GetResult(n));
    EXPECT_EQ(n, 4u);
    char rest[16];
    EXPECT_EQ(recv(sp.a, rest, sizeof rest, 0), 6) << "bytes beyond count stay unread";
}

TEST(Overlapped, EndOfFileCompletesWithZeroBytes) {
    SocketPair sp;
    TOverlapped ov;
    char buf[8];
    ASSERT_TRUE(ov.StartRead(sp.a, buf, sizeof buf, 0));
    shutdown(sp.b, SHUT_WR);
    ASSERT_TRUE(ov.Wait(2000));
    uint32_t n = 7;
    ASSERT_TRUE(ov.GetResult(n)) << "the peer closing is a completion, not a failure";
    EXPECT_EQ(n, 0u);
}

TEST(Overlapped, IntervalReadEndsWhenTheLineGoesQuiet) {
    Pty pty;
    ASSERT_GE(pty.slave, 0);
    TOverlapped ov;
    char buf[64] = {};
    ASSERT_TRUE(ov.StartRead(pty.slave, buf, sizeof buf, 80));
    pty.Send("ab");
    // A second burst within the interval belongs to the same read.
    EXPECT_FALSE(ov.Wait(20));
    pty.Send("cd");
    auto t0 = Clock::now();
    ASSERT_TRUE(ov.Wait(3000));
    auto quiet = Clock::now() - t0;
    uint32_t n = 0;
    ASSERT_TRUE(ov.GetResult(n));
    EXPECT_EQ(std::string(buf, n), "abcd");
    EXPECT_GE(quiet, std::chrono::milliseconds(60)) << "ended before the line was quiet";
    EXPECT_LT(quiet, std::chrono::milliseconds(2000));
}

TEST(Overlapped, IntervalReadEndsAtOnceWhenCountIsReached) {
    Pty pty;
    ASSERT_GE(pty.slave, 0);
    TOverlapped ov;
    char buf[4] = {};
    ASSERT_TRUE(ov.StartRead(pty.slave, buf, sizeof buf, 5000));
    pty.Send("wxyz");
    auto t0 = Clock::now();
    ASSERT_TRUE(ov.Wait(3000));
    EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(2000));
    uint32_t n = 0;
    ASSERT_TRUE(ov.GetResult(n));
    EXPECT_EQ(n, 4u);
}

TEST(Overlapped, IntervalReadWaitsForTheFirstByteWithoutLimit) {
    Pty pty;
    ASSERT_GE(pty.slave, 0);
    TOverlapped ov;
    char buf[8];
    ASSERT_TRUE(ov.StartRead(pty.slave, buf, sizeof buf, 10));
    EXPECT_FALSE(ov.Wait(100)) << "the interval only starts with the first byte";
    EXPECT_TRUE(ov.IsPending());
}

TEST(Overlapped, WriteCompletesWithAllBytes) {
    SocketPair sp;
    TOverlapped ov;
    std::string data(1000, 'q');
    ASSERT_TRUE(ov.StartWrite(sp.a, data.data(), uint32_t(data.size()), 0));
    ASSERT_TRUE(ov.Wait(1000));
    uint32_t n = 0;
    ASSERT_TRUE(ov.GetResult(n));
    EXPECT_EQ(n, 1000u);
    char buf[2000];
    EXPECT_EQ(recv(sp.b, buf, sizeof buf, 0), 1000);
}

TEST(Overlapped, WriteDeadlineCompletesWithTheCountSoFar) {
    SocketPair sp;
    int small = 4096;
    setsockopt(sp.a, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    setsockopt(sp.b, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    std::vector<char> data(4 * 1024 * 1024, 'z'); // far more than the buffers hold
    TOverlapped ov;
    auto t0 = Clock::now();
    ASSERT_TRUE(ov.StartWrite(sp.a, data.data(), uint32_t(data.size()), 100));
    ASSERT_TRUE(ov.Wait(5000));
    EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(80));
    uint32_t n = 0;
    ASSERT_TRUE(ov.GetResult(n));
    EXPECT_GT(n, 0u);
    EXPECT_LT(n, data.size());
}

TEST(Overlapped, WriteToAClosedPeerFailsWithoutKillingTheProcess) {
    SocketPair sp;
    close(sp.b);
    sp.b = -1;
    TOverlapped ov;
    const char data[] = "hello";
    ASSERT_TRUE(ov.StartWrite(sp.a, data, 5, 0));
    ASSERT_TRUE(ov.Wait(1000));
    uint32_t n = 1;
    EXPECT_FALSE(ov.GetResult(n));
    EXPECT_EQ(ov.Error(), EPIPE);
}

TEST(Overlapped, CancelEndsThePendingTransferAsFailed) {
    SocketPair sp;
    TOverlapped ov;
    char buf[8];
    ASSERT_TRUE(ov.StartRead(sp.a, buf, sizeof buf, 0));
    ov.Cancel();
    EXPECT_TRUE(ov.IsSignalled());
    uint32_t n = 5;
    EXPECT_FALSE(ov.GetResult(n));
    EXPECT_EQ(n, 0u);
    // Data arriving later does not complete the cancelled read behind the caller's back.
    sp.Send("late");
    EXPECT_TRUE(ov.Advance());
    EXPECT_FALSE(ov.GetResult(n));
    char rest[8];
    EXPECT_EQ(recv(sp.a, rest, sizeof rest, 0), 4);
}

TEST(Overlapped, StartFailsOnDescriptorsThatCannotBeWaitedOn) {
    TOverlapped ov;
    char buf[4];
    EXPECT_FALSE(ov.StartRead(-1, buf, 4, 0));
    EXPECT_EQ(ov.Error(), EBADF);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    int closedFd = fds[0];
    EXPECT_FALSE(ov.StartRead(closedFd, buf, 4, 0));
    EXPECT_EQ(ov.Error(), EBADF);
    close(fds[1]);
    char path[] = "/tmp/qz_overlapped_XXXXXX";
    int file = mkstemp(path);
    ASSERT_GE(file, 0);
    unlink(path);
    EXPECT_FALSE(ov.StartWrite(file, "x", 1, 0)) << "a regular file cannot be waited on";
    EXPECT_NE(ov.Error(), 0);
    close(file);
    EXPECT_FALSE(ov.IsSignalled());
    uint32_t n;
    EXPECT_FALSE(ov.GetResult(n));
}

TEST(Overlapped, SignalByHandWakesTheWaitFd) {
    TOverlapped ov;
    EXPECT_FALSE(Readable(ov.WaitFd()));
    EXPECT_FALSE(ov.Advance()) << "no transfer: nothing to complete";
    ov.Signal();
    EXPECT_TRUE(Readable(ov.WaitFd()));
    EXPECT_TRUE(ov.Wait(0));
    ov.ResetEvent();
    EXPECT_FALSE(Readable(ov.WaitFd()));
    EXPECT_FALSE(ov.Wait(10));
}

TEST(Overlapped, WaitFdWorksInsideAnotherEpollSet) {
    SocketPair sp;
    TOverlapped ov;
    int ep = epoll_create1(0);
    ASSERT_GE(ep, 0);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u32 = 7;
    ASSERT_EQ(epoll_ctl(ep, EPOLL_CTL_ADD, ov.WaitFd(), &ev), 0);
    char buf[8];
    ASSERT_TRUE(ov.StartRead(sp.a, buf, sizeof buf, 0));
    epoll_event out{};
    EXPECT_EQ(epoll_wait(ep, &out, 1, 20), 0);
    sp.Send("x");
    ASSERT_EQ(epoll_wait(ep, &out, 1, 2000), 1);
    EXPECT_EQ(out.data.u32, 7u);
    EXPECT_TRUE(ov.Advance());
    close(ep);
}

TEST(Overlapped, RestartingDropsTheOldTransfer) {
    SocketPair sp;
    TOverlapped ov;
    char a[8], b[8];
    ASSERT_TRUE(ov.StartRead(sp.a, a, sizeof a, 0));
    ASSERT_TRUE(ov.StartRead(sp.a, b, sizeof b, 0));
    sp.Send("k");
    ASSERT_TRUE(ov.Wait(1000));
    uint32_t n = 0;
    ASSERT_TRUE(ov.GetResult(n));
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(b[0], 'k');
}

TEST(Overlapped, ZeroCountCompletesAtOnce) {
    SocketPair sp;
    TOverlapped ov;
    char buf[1];
    ASSERT_TRUE(ov.StartRead(sp.a, buf, 0, 0));
    EXPECT_TRUE(ov.IsSignalled());
    uint32_t n = 3;
    EXPECT_TRUE(ov.GetResult(n));
    EXPECT_EQ(n, 0u);
}

} // namespace
} // namespace qz

namespace qz {
namespace {

TEST(Overlapped, TerminalWithoutMinimumCountIsNotEndOfFile) {
    Pty pty;
    ASSERT_GE(pty.slave, 0);
    termios t{};
    tcgetattr(pty.slave, &t);
    t.c_cc[VMIN] = 0; // a read with nothing to read returns 0 here
    t.c_cc[VTIME] = 0;
    tcsetattr(pty.slave, TCSANOW, &t);
    TOverlapped ov;
    char buf[8];
    ASSERT_TRUE(ov.StartRead(pty.slave, buf, sizeof buf, 0));
    EXPECT_FALSE(ov.Advance()) << "an idle terminal was taken for a closed line";
    pty.Send("ok");
    ASSERT_TRUE(ov.Wait(2000));
    uint32_t n = 0;
    ASSERT_TRUE(ov.GetResult(n));
    EXPECT_EQ(n, 2u);
}

} // namespace
} // namespace qz

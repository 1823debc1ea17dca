#include "platform/Socket.h"

#include "tests/support/TcpListener.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace qz {
namespace {

// A listening socket on 127.0.0.1 and a port the system picked.
using Listener = qz::test::TcpListener;

in_addr_t Loopback() {
    return htonl(INADDR_LOOPBACK);
}

TEST(Socket, ParseIPv4FollowsInetAddr) {
    in_addr_t a = 0;
    ASSERT_TRUE(ParseIPv4("192.168.1.20", a));
    EXPECT_EQ(a, inet_addr("192.168.1.20"));
    EXPECT_TRUE(ParseIPv4("0.0.0.0", a));
    EXPECT_TRUE(ParseIPv4("127.1", a)) << "inet_addr's short form is an address";
    EXPECT_EQ(a, htonl(0x7F000001));
    EXPECT_FALSE(ParseIPv4("255.255.255.255", a));
    EXPECT_FALSE(ParseIPv4("localhost", a)) << "host names are never resolved";
    EXPECT_FALSE(ParseIPv4("", a));
    EXPECT_FALSE(ParseIPv4("1.2.3.4.5", a));
    EXPECT_FALSE(ParseIPv4("256.1.1.1", a));
    EXPECT_FALSE(ParseIPv4(std::string("10.0.0.1\0junk", 13), a));
}

TEST(Socket, CreatesNonBlockingSockets) {
    int fd = CreateTcpSocket();
    ASSERT_GE(fd, 0);
    EXPECT_NE(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    CloseFd(fd);
}

TEST(Socket, ConnectsToAListener) {
    Listener l;
    int fd = CreateTcpSocket();
    EXPECT_EQ(ConnectWithTimeout(fd, Loopback(), l.port, 2000), 0);
    ShutdownBoth(fd);
    CloseFd(fd);
}

TEST(Socket, RefusedConnectReportsTheError) {
    uint16_t port;
    {
        Listener l; // take a free port, then close it
        port = l.port;
    }
    int fd = CreateTcpSocket();
    EXPECT_EQ(ConnectWithTimeout(fd, Loopback(), port, 2000), ECONNREFUSED);
    CloseFd(fd);
}

TEST(Socket, ConnectIsBoundedByItsTimeOut) {
    // A listener whose queue is full and that never accepts drops further handshakes, so a
    // connect to it hangs until its time-out.
    Listener l(0);
    std::vector<int> fillers;
    auto t0 = std::chrono::steady_clock::now();
    int result = 0;
    for (int i = 0; i < 8 && result != ETIMEDOUT; ++i) {
        int fd = CreateTcpSocket();
        result = ConnectWithTimeout(fd, Loopback(), l.port, 150);
        fillers.push_back(fd);
    }
    auto elapsed = std::chrono::steady_clock::now() - t0;
    for (int fd : fillers)
        CloseFd(fd);
    EXPECT_EQ(result, ETIMEDOUT);
    EXPECT_LT(elapsed, std::chrono::seconds(5));
}

} // namespace
} // namespace qz

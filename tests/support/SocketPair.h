// Two connected non-blocking local stream sockets: the transfer under test runs on `a`, the
// test plays the peer on `b`. Both are closed with the pair.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

namespace qz::test {

struct SocketPair {
    int a = -1, b = -1;
    SocketPair() {
        int sv[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, sv) == 0) {
            a = sv[0];
            b = sv[1];
        }
    }
    ~SocketPair() {
        if (a >= 0) close(a);
        if (b >= 0) close(b);
    }
    SocketPair(const SocketPair&) = delete;
    SocketPair& operator=(const SocketPair&) = delete;
    // The peer sends `s` whole.
    void Send(const std::string& s) {
        ASSERT_EQ(send(b, s.data(), s.size(), 0), ssize_t(s.size()));
    }
};

} // namespace qz::test

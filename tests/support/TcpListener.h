// A bare listening socket on 127.0.0.1 on a port the system picks, for tests that drive the
// accepted connection by hand.
#pragma once

#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qz::test {

struct TcpListener {
    int fd = -1;
    uint16_t port = 0;
    explicit TcpListener(int backlog = 4) {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        listen(fd, backlog);
        socklen_t len = sizeof sa;
        getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
        port = ntohs(sa.sin_port);
    }
    ~TcpListener() { close(fd); }
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;
    // The next accepted connection (-1 when none comes within 2 s).
    int Accept() {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 2000) <= 0) return -1;
        return accept(fd, nullptr, nullptr);
    }
};

} // namespace qz::test

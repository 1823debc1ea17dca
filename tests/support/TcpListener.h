// A bare listening socket on 127.0.0.1 on a port the system picks, for tests that drive the
// accepted connection by hand, and one that never lets a connect complete.
#pragma once

#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

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

// A loopback port nobody listens on any more: the system gave it to a listener just closed.
inline uint16_t UnusedLoopbackPort() {
    const TcpListener closed;
    return closed.port;
}

// A non-blocking connect to 127.0.0.1:`port` begun; the socket (the caller closes it).
inline int BeginLoopbackConnect(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(port);
    (void)!connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    return fd;
}

// A connected socket to 127.0.0.1:`port` (the caller closes it), or -1 when nobody accepts.
inline int LoopbackConnect(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return fd;
    close(fd);
    return -1;
}

// A listener whose accept queue is full: a further connect never completes its handshake
// (the system drops the SYNs), as with a peer that never answers.
class DeafListener {
public:
    DeafListener() : FListener(0) {
        for (int i = 0; i < 8; ++i)
            FFillers.push_back(BeginLoopbackConnect(FListener.port));
    }
    ~DeafListener() {
        for (int fd : FFillers)
            close(fd);
    }
    DeafListener(const DeafListener&) = delete;
    DeafListener& operator=(const DeafListener&) = delete;
    uint16_t Port() const { return FListener.port; }
    // Does a new connect hang? (It does once the queue is full.)
    bool Deaf() const {
        const int fd = BeginLoopbackConnect(FListener.port);
        pollfd p{fd, POLLOUT, 0};
        const bool hangs = poll(&p, 1, 300) == 0;
        close(fd);
        return hangs;
    }

private:
    TcpListener FListener;
    std::vector<int> FFillers;
};

} // namespace qz::test

#include "platform/Socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qz {

int CreateTcpSocket() {
    return socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
}

bool ParseIPv4(const std::string& text, in_addr_t& addr) {
    // A NUL inside the text would make inet_addr see only a prefix of it.
    if (text.find('\0') != std::string::npos) return false;
    in_addr_t a = inet_addr(text.c_str());
    if (a == INADDR_NONE) return false;
    addr = a;
    return true;
}

int StartConnect(int fd, in_addr_t addr, uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = addr;
    int r;
    do {
        r = connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    } while (r != 0 && errno == EINTR);
    return r == 0 ? 0 : errno;
}

int ConnectOutcome(int fd) {
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, 0) == 0) return EINPROGRESS;
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
    return err;
}

int ConnectWithTimeout(int fd, in_addr_t addr, uint16_t port, int timeoutMs) {
    const int started = StartConnect(fd, addr, port);
    if (started != EINPROGRESS) return started;

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return ETIMEDOUT;
        pollfd p{fd, POLLOUT, 0};
        int n = poll(&p, 1, int(left));
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return ETIMEDOUT;
        const int outcome = ConnectOutcome(fd);
        if (outcome != EINPROGRESS) return outcome;
    }
}

void ShutdownBoth(int fd) {
    if (fd >= 0) shutdown(fd, SHUT_RDWR);
}

void CloseFd(int fd) {
    if (fd >= 0) close(fd);
}

} // namespace qz

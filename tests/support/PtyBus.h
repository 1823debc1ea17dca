// One serial line that several simulated meters share, as meters on one RS-485 bus do: a
// pseudo-terminal reached through a link (where a COM port's name leads), whose every byte
// goes to each meter (a qzsim on TCP) and whose meters' answers come back on it. Only the
// meter a request is addressed to answers it. Header-only, POSIX; a thread of its own.
#pragma once

#include "tests/support/TcpListener.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace qz::test {

class TPtyBus {
public:
    TPtyBus(const std::string& link, const std::vector<uint16_t>& meterPorts) : FLink(link) {
        FMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (FMaster < 0 || grantpt(FMaster) != 0 || unlockpt(FMaster) != 0) return;
        const char* name = ptsname(FMaster);
        // Held open, the line stays up while nobody has it, and stays raw: no byte of a frame
        // is taken for a control character or echoed.
        FSlave = name ? open(name, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
        termios tio{};
        if (FSlave < 0 || tcgetattr(FSlave, &tio) != 0) return;
        cfmakeraw(&tio);
        tcsetattr(FSlave, TCSANOW, &tio);
        for (uint16_t port : meterPorts) {
            const int s = LoopbackConnect(port);
            if (s < 0) return;
            FMeters.push_back(s);
        }
        if (pipe(FStop) != 0 || symlink(name, link.c_str()) != 0) return;
        FThread = std::thread([this] { Run(); });
    }
    ~TPtyBus() {
        if (FThread.joinable()) {
            const char c = 0;
            (void)!write(FStop[1], &c, 1);
            FThread.join();
        }
        unlink(FLink.c_str());
        for (int fd : FMeters)
            close(fd);
        for (int fd : {FStop[0], FStop[1], FSlave, FMaster})
            if (fd >= 0) close(fd);
    }
    TPtyBus(const TPtyBus&) = delete;
    TPtyBus& operator=(const TPtyBus&) = delete;

    // The line is there and every meter is on it.
    bool Ok() const { return FThread.joinable(); }

private:
    void Run() {
        std::vector<pollfd> p;
        p.push_back({FStop[0], POLLIN, 0});
        p.push_back({FMaster, POLLIN, 0});
        for (int fd : FMeters)
            p.push_back({fd, POLLIN, 0});
        char buf[4096];
        while (poll(p.data(), p.size(), -1) >= 0 || errno == EINTR) {
            if (p[0].revents) return;
            for (size_t i = 1; i < p.size(); ++i) {
                if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                const ssize_t n = read(p[i].fd, buf, sizeof buf);
                if (n <= 0) {
                    p[i].fd = -1; // a meter gone from the bus
                    continue;
                }
                if (i == 1) {
                    for (int fd : FMeters)
                        SendAll(fd, buf, size_t(n));
                } else {
                    SendAll(FMaster, buf, size_t(n));
                }
            }
        }
    }
    static void SendAll(int fd, const char* data, size_t size) {
        while (size > 0) {
            ssize_t n = send(fd, data, size, MSG_NOSIGNAL); // a meter gone: no SIGPIPE
            if (n < 0 && errno == ENOTSOCK) n = write(fd, data, size);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            data += n;
            size -= size_t(n);
        }
    }

    std::string FLink;
    int FMaster = -1, FSlave = -1;
    int FStop[2] = {-1, -1};
    std::vector<int> FMeters;
    std::thread FThread;
};

} // namespace qz::test

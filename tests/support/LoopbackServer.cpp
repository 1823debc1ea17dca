#include "tests/support/LoopbackServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <map>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qz::test {

LoopbackServer::LoopbackServer(Behaviour behaviour, size_t ports, Greeting greeting)
    : behaviour_(std::move(behaviour)), greeting_(std::move(greeting)) {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = wake_;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &ev);
    for (size_t i = 0; i < ports; ++i) {
        const int s = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const int one = 1;
        setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = 0;
        if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 64) != 0)
            throw std::runtime_error("test server: cannot listen");
        socklen_t len = sizeof a;
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
        ports_.push_back(ntohs(a.sin_port));
        listeners_.push_back(s);
        ev.data.fd = s;
        epoll_ctl(epoll_, EPOLL_CTL_ADD, s, &ev);
    }
    thread_ = std::thread([this] { Run(); });
}

LoopbackServer::~LoopbackServer() {
    const uint64_t one = 1;
    (void)!write(wake_, &one, sizeof one);
    thread_.join();
    for (int s : listeners_)
        close(s);
    close(wake_);
    close(epoll_);
}

std::string LoopbackServer::Received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

LoopbackServer::Behaviour LoopbackServer::Echo() {
    return [](size_t, const std::string& in, bool&) { return in; };
}

LoopbackServer::Behaviour LoopbackServer::Silent() {
    return [](size_t, const std::string&, bool&) { return std::string(); };
}

void LoopbackServer::Run() {
    std::map<int, size_t> connections; // fd -> index
    epoll_event events[64];
    for (;;) {
        const int n = epoll_wait(epoll_, events, 64, -1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        for (int i = 0; i < n; ++i) {
            const int fd = events[i].data.fd;
            if (fd == wake_) {
                for (auto& c : connections)
                    close(c.first);
                return;
            }
            bool isListener = false;
            for (int s : listeners_)
                isListener = isListener || s == fd;
            if (isListener) {
                const int c = accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (c < 0) continue;
                const size_t index = accepted_++;
                connections[c] = index;
                epoll_event ev{};
                ev.events = EPOLLIN;
                ev.data.fd = c;
                epoll_ctl(epoll_, EPOLL_CTL_ADD, c, &ev);
                if (greeting_) {
                    const std::string g = greeting_(index);
                    if (!g.empty()) (void)!send(c, g.data(), g.size(), MSG_NOSIGNAL);
                }
                continue;
            }
            char buf[4096];
            const ssize_t r = recv(fd, buf, sizeof buf, 0);
            if (r < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            if (r <= 0) {
                ++closed_;
                connections.erase(fd);
                close(fd);
                continue;
            }
            const std::string in(buf, size_t(r));
            {
                std::lock_guard<std::mutex> lock(mutex_);
                received_ += in;
            }
            bool closeIt = false;
            const std::string out = behaviour_(connections[fd], in, closeIt);
            if (!out.empty()) (void)!send(fd, out.data(), out.size(), MSG_NOSIGNAL);
            if (closeIt) {
                connections.erase(fd);
                close(fd);
            }
        }
    }
}

} // namespace qz::test

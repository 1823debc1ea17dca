#include "tests/support/FakeSerialDevice.h"

#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qz {

TFakeSerialLine::TFakeSerialLine() = default;

TFakeSerialLine::~TFakeSerialLine() {
    DevClose();
}

TSerialDeviceFactory TFakeSerialLine::Factory() {
    std::weak_ptr<TFakeSerialLine> weak = shared_from_this();
    return [weak]() -> std::unique_ptr<ISerialDevice> {
        auto line = weak.lock();
        if (!line) return nullptr;
        return std::make_unique<TFakeSerialDevice>(line);
    };
}

void TFakeSerialLine::SetOpenError(int err) {
    std::lock_guard<std::mutex> lock(mutex_);
    openError_ = err;
}

void TFakeSerialLine::RefuseSpeed(uint32_t baud) {
    std::lock_guard<std::mutex> lock(mutex_);
    refusedSpeeds_.push_back(baud);
}

void TFakeSerialLine::SetConfigureResult(bool ok) {
    std::lock_guard<std::mutex> lock(mutex_);
    configureOk_ = ok;
}

void TFakeSerialLine::AddRule(const std::string& match, const std::string& reply, TAction action) {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.push_back({match, reply, std::move(action)});
}

void TFakeSerialLine::SetResponder(std::function<std::string(const std::string&)> responder) {
    std::lock_guard<std::mutex> lock(mutex_);
    responder_ = std::move(responder);
}

void TFakeSerialLine::SetCTS(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    cts_ = on;
}

void TFakeSerialLine::SetDSR(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    dsr_ = on;
}

void TFakeSerialLine::SetDCD(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    dcd_ = on;
    log_.push_back(std::string("DCD ") + (on ? "1" : "0"));
}

static bool WriteAll(int fd, const std::string& bytes) {
    size_t off = 0;
    while (off < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n > 0) {
            off += size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{fd, POLLOUT, 0};
            if (poll(&p, 1, 1000) <= 0) return false;
        } else {
            return false;
        }
    }
    return true;
}

bool TFakeSerialLine::Send(const std::string& bytes) {
    int fd;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        fd = peerFd_;
    }
    return fd >= 0 && WriteAll(fd, bytes);
}

void TFakeSerialLine::HangUpPeer() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (peerFd_ >= 0) shutdown(peerFd_, SHUT_RDWR);
}

std::string TFakeSerialLine::Written() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return written_;
}

std::vector<std::string> TFakeSerialLine::Log() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
}

std::vector<TFakeSerialLine::TLineChange> TFakeSerialLine::LineHistory() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return history_;
}

bool TFakeSerialLine::DTR() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dtr_;
}

bool TFakeSerialLine::RTS() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return rts_;
}

uint32_t TFakeSerialLine::Speed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return speed_;
}

std::string TFakeSerialLine::OpenedPath() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return path_;
}

void TFakeSerialLine::Note(const std::string& entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(entry);
}

bool TFakeSerialLine::Settle(int timeoutMs) {
    auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        int unread = 0;
        if (peerFd_ < 0 || ioctl(peerFd_, FIONREAD, &unread) != 0) unread = 0;
        if (!busy_ && unread == 0) return true;
        if (TClock::now() >= deadline) return false;
        // The responder notifies after each chunk; the short step covers bytes that arrived
        // before it woke up.
        cv_.wait_for(lock, std::chrono::milliseconds(2));
    }
}

int TFakeSerialLine::DevOpen(const std::string& path) {
    DevClose();
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back("open " + path);
    path_ = path;
    if (openError_) return openError_;
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sv) != 0) return errno;
    int wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake < 0) {
        int e = errno;
        close(sv[0]);
        close(sv[1]);
        return e;
    }
    devFd_ = sv[0];
    peerFd_ = sv[1];
    wakeFd_ = wake;
    thread_ = std::thread(&TFakeSerialLine::Run, this, peerFd_, wakeFd_);
    return 0;
}

void TFakeSerialLine::StopResponder() {
    int wake;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wake = wakeFd_;
    }
    if (wake >= 0) {
        uint64_t one = 1;
        ssize_t n = write(wake, &one, sizeof one);
        (void)n;
    }
    if (thread_.joinable()) thread_.join();
}

void TFakeSerialLine::DevClose() {
    StopResponder();
    std::lock_guard<std::mutex> lock(mutex_);
    if (devFd_ < 0) return;
    close(devFd_);
    close(peerFd_);
    close(wakeFd_);
    devFd_ = peerFd_ = wakeFd_ = -1;
    busy_ = false;
    log_.push_back("close");
    cv_.notify_all();
}

bool TFakeSerialLine::DevIsOpen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return devFd_ >= 0;
}

int TFakeSerialLine::DevFd() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return devFd_;
}

bool TFakeSerialLine::DevConfigure(uint32_t baud, bool linesOn) {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back("speed " + std::to_string(baud));
    if (devFd_ < 0 || !configureOk_ || baud == 0) return false;
    for (uint32_t refused : refusedSpeeds_)
        if (refused == baud) return false;
    speed_ = baud;
    SetLineLocked('D', linesOn);
    SetLineLocked('R', linesOn);
    return true;
}

void TFakeSerialLine::SetLineLocked(char line, bool on) {
    (line == 'D' ? dtr_ : rts_) = on;
    history_.push_back({line, on, TClock::now()});
    log_.push_back(std::string(line == 'D' ? "DTR " : "RTS ") + (on ? "1" : "0"));
}

void TFakeSerialLine::DevSetLine(char line, bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    SetLineLocked(line, on);
}

TModemLines TFakeSerialLine::DevLines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    TModemLines l;
    l.CTS = cts_;
    l.DSR = dsr_;
    l.DCD = dcd_;
    return l;
}

void TFakeSerialLine::DevPurge(bool rx, bool tx) {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(std::string("purge") + (rx ? " rx" : "") + (tx ? " tx" : ""));
    if (!rx || devFd_ < 0) return;
    // Unread input is what the far end sent and the code under test has not read yet.
    char buf[512];
    for (;;) {
        ssize_t n = recv(devFd_, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0) continue;
        if (n < 0 && errno == EINTR) continue;
        break;
    }
}

void TFakeSerialLine::DevDrain() {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back("drain");
}

void TFakeSerialLine::Run(int peer, int wake) {
    pollfd fds[2] = {{peer, POLLIN, 0}, {wake, POLLIN, 0}};
    bool peerOpen = true;
    for (;;) {
        fds[0].fd = peerOpen ? peer : -1;
        int r = poll(fds, 2, -1);
        if (r < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            busy_ = true;
        }
        char buf[1024];
        ssize_t n = recv(peer, buf, sizeof buf, MSG_DONTWAIT);
        if (n <= 0) {
            if (n == 0 || (errno != EINTR && errno != EAGAIN)) peerOpen = false;
            std::lock_guard<std::mutex> lock(mutex_);
            busy_ = false;
            cv_.notify_all();
            continue;
        }
        std::string chunk(buf, size_t(n));
        std::vector<TAction> actions;
        std::string reply;
        std::function<std::string(const std::string&)> responder;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            written_ += chunk;
            log_.push_back("W:" + chunk);
            pending_ += chunk;
            responder = responder_;
            for (bool matched = true; matched;) {
                matched = false;
                size_t best = std::string::npos, bestIndex = 0;
                for (size_t i = 0; i < rules_.size(); ++i) {
                    size_t at = pending_.find(rules_[i].Match);
                    if (at != std::string::npos && (best == std::string::npos || at < best)) {
                        best = at;
                        bestIndex = i;
                    }
                }
                if (best != std::string::npos) {
                    const TRule& rule = rules_[bestIndex];
                    pending_.erase(0, best + rule.Match.size());
                    if (rule.Action) actions.push_back(rule.Action);
                    reply += rule.Reply;
                    matched = !rule.Match.empty();
                }
            }
        }
        // Actions first (a carrier raised by the dial string is up before the reply).
        for (auto& a : actions)
            a(*this);
        if (responder) reply += responder(chunk);
        if (!reply.empty()) {
            WriteAll(peer, reply);
            std::lock_guard<std::mutex> lock(mutex_);
            log_.push_back("R:" + reply);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        busy_ = false;
        cv_.notify_all();
    }
}

} // namespace qz

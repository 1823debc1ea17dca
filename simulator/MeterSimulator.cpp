#include "simulator/MeterSimulator.h"

#include "protocol/KavrenCommand.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace qz {

struct TMeterSimulator::TSession {
    std::thread Thread;
    std::atomic<bool> Done{false};
};

namespace {
TDateTime DefaultChangeTime() {
    TDateTime t = 0;
    TryEncodeDateTime({2025, 6, 2, 9, 30, 0, 0}, t);
    return t;
}
} // namespace

TMeterSimulator::TMeterSimulator(TSimOptions options)
    : FOpt(std::move(options)), FResponder(FOpt.ModelIndex, FOpt.Address, FOpt.Clock) {
    FResponder.SetSettingsChange(FOpt.ChangeFlag,
                                 FOpt.ChangeTime != 0 ? FOpt.ChangeTime : DefaultChangeTime());
    if (FOpt.Replay) FResponder.SetReplay(FOpt.Replay);
}

TMeterSimulator::~TMeterSimulator() {
    Stop();
}

bool TMeterSimulator::Start(std::string* error) {
    std::string err;
    if (FRunning) return true;
    FStopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (FStopFd < 0) err = std::string("eventfd: ") + std::strerror(errno);
    if (err.empty() && !FOpt.LogFile.empty()) {
        FLog = std::fopen(FOpt.LogFile.c_str(), "a");
        if (!FLog) err = FOpt.LogFile + ": " + std::strerror(errno);
    }
    if (err.empty()) {
        if (FOpt.PtyLink.empty() ? StartTcp(err) : StartPty(err)) {
            FRunning = true;
            if (FOpt.PtyLink.empty())
                FMainThread = std::thread([this] { AcceptLoop(); });
            else
                FMainThread = std::thread([this] { Serve(FPtyMaster, 1, false); });
            return true;
        }
    }
    if (error) *error = err;
    Stop();
    return false;
}

bool TMeterSimulator::StartTcp(std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* res = nullptr;
    const std::string port = std::to_string(FOpt.ListenPort);
    const int rc = getaddrinfo(FOpt.ListenHost.c_str(), port.c_str(), &hints, &res);
    if (rc != 0) {
        error = FOpt.ListenHost + ": " + gai_strerror(rc);
        return false;
    }
    for (addrinfo* ai = res; ai; ai = ai->ai_next) {
        const int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0) continue;
        const int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (bind(fd, ai->ai_addr, ai->ai_addrlen) == 0 && listen(fd, 16) == 0) {
            FListenFd = fd;
            break;
        }
        error = std::string("bind/listen: ") + std::strerror(errno);
        close(fd);
    }
    freeaddrinfo(res);
    if (FListenFd < 0) {
        if (error.empty()) error = "no address to listen on";
        return false;
    }
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    getsockname(FListenFd, reinterpret_cast<sockaddr*>(&ss), &len);
    if (ss.ss_family == AF_INET)
        FPort = ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
    else if (ss.ss_family == AF_INET6)
        FPort = ntohs(reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port);
    return true;
}

bool TMeterSimulator::StartPty(std::string& error) {
    FPtyMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (FPtyMaster < 0 || grantpt(FPtyMaster) != 0 || unlockpt(FPtyMaster) != 0) {
        error = std::string("pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    char name[128];
    if (ptsname_r(FPtyMaster, name, sizeof name) != 0) {
        error = std::string("ptsname: ") + std::strerror(errno);
        return false;
    }
    FPtyPath = name;
    fcntl(FPtyMaster, F_SETFL, fcntl(FPtyMaster, F_GETFL) | O_NONBLOCK);
    // Holding the other end open keeps the line up while no client has it open, and lets us
    // put it into raw mode so that no byte of a frame is taken for a control character.
    FPtySlave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (FPtySlave < 0) {
        error = FPtyPath + ": " + std::strerror(errno);
        return false;
    }
    termios tio{};
    if (tcgetattr(FPtySlave, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(FPtySlave, TCSANOW, &tio);
    }
    // A stale link of an earlier run is replaced; anything else at that path is left alone.
    struct stat st {};
    if (lstat(FOpt.PtyLink.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            error = FOpt.PtyLink + ": exists and is not a symbolic link";
            return false;
        }
        unlink(FOpt.PtyLink.c_str());
    }
    if (symlink(name, FOpt.PtyLink.c_str()) != 0) {
        error = FOpt.PtyLink + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void TMeterSimulator::Stop() {
    if (FStopFd >= 0) {
        const uint64_t one = 1;
        ssize_t r = write(FStopFd, &one, sizeof one);
        (void)r;
    }
    if (FMainThread.joinable()) FMainThread.join();
    ReapFinished(true);
    if (FListenFd >= 0) close(FListenFd);
    FListenFd = -1;
    if (FPtyMaster >= 0) close(FPtyMaster);
    FPtyMaster = -1;
    if (FPtySlave >= 0) close(FPtySlave);
    FPtySlave = -1;
    if (!FPtyPath.empty() && !FOpt.PtyLink.empty()) {
        char target[256];
        const ssize_t n = readlink(FOpt.PtyLink.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<size_t>(n)) == FPtyPath)
            unlink(FOpt.PtyLink.c_str());
    }
    if (FStopFd >= 0) close(FStopFd);
    FStopFd = -1;
    if (FLog) std::fclose(FLog);
    FLog = nullptr;
    FRunning = false;
}

void TMeterSimulator::ReapFinished(bool all) {
    std::list<std::unique_ptr<TSession>> finished;
    {
        std::lock_guard<std::mutex> lock(FSessionsMutex);
        for (auto it = FSessions.begin(); it != FSessions.end();) {
            if (all || (*it)->Done.load()) {
                finished.push_back(std::move(*it));
                it = FSessions.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& s : finished)
        if (s->Thread.joinable()) s->Thread.join();
}

bool TMeterSimulator::WaitReadable(int fd, int ms) {
    pollfd p[2] = {{FStopFd, POLLIN, 0}, {fd, POLLIN, 0}};
    const int n = fd >= 0 ? 2 : 1;
    for (;;) {
        const int rc = poll(p, static_cast<nfds_t>(n), ms);
        if (rc < 0 && errno == EINTR) continue;
        if (rc < 0) return false;
        if (p[0].revents) return false; // stopping
        return rc > 0;
    }
}

bool TMeterSimulator::Stopping() const {
    pollfd p{FStopFd, POLLIN, 0};
    return poll(&p, 1, 0) > 0;
}

void TMeterSimulator::NoteRequest(uint32_t id, const std::vector<uint8_t>& frame) {
    TSimRequest r;
    r.At = std::chrono::steady_clock::now();
    r.Connection = id;
    if (frame.size() > kavren::kOffCmd1) {
        r.Cmd = frame[kavren::kOffCmd];
        r.Cmd1 = frame[kavren::kOffCmd1];
    }
    std::lock_guard<std::mutex> lock(FRequestLogMutex);
    FRequestLog.push_back(r);
}

std::vector<TSimRequest> TMeterSimulator::RequestLog() const {
    std::lock_guard<std::mutex> lock(FRequestLogMutex);
    return FRequestLog;
}

void TMeterSimulator::AcceptLoop() {
    uint32_t nextId = 1;
    for (;;) {
        if (!WaitReadable(FListenFd, 500)) {
            // Time-out or stop: tell them apart by the stop signal.
            pollfd p{FStopFd, POLLIN, 0};
            if (poll(&p, 1, 0) > 0) return;
            ReapFinished(false);
            continue;
        }
        const int fd = accept4(FListenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) continue;
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ++FConnections;
        ReapFinished(false);
        auto session = std::make_unique<TSession>();
        TSession* s = session.get();
        const uint32_t id = nextId++;
        {
            std::lock_guard<std::mutex> lock(FSessionsMutex);
            FSessions.push_back(std::move(session));
        }
        s->Thread = std::thread([this, fd, id, s] {
            Serve(fd, id, true);
            close(fd);
            s->Done = true;
        });
    }
}

bool TMeterSimulator::SendAll(int fd, const uint8_t* data, size_t size) {
    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    size_t sent = 0;
    while (sent < size) {
        size_t chunk = size - sent;
        if (FOpt.Faults.Baud > 0) {
            // Send what the line would have carried by now, at least one byte at a time.
            const double elapsed = std::chrono::duration<double>(clock::now() - start).count();
            const size_t due = static_cast<size_t>(elapsed * FOpt.Faults.Baud / 10.0) + 1;
            if (due <= sent) {
                const double wait = (sent + 1) * 10.0 / FOpt.Faults.Baud - elapsed;
                const int ms = static_cast<int>(wait * 1000.0) + 1;
                pollfd p{FStopFd, POLLIN, 0};
                if (poll(&p, 1, ms) > 0) return false;
                continue;
            }
            chunk = std::min(chunk, due - sent);
        }
        ssize_t n = send(fd, data + sent, chunk, MSG_NOSIGNAL);
        if (n < 0 && errno == ENOTSOCK) n = write(fd, data + sent, chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The peer does not read: wait for room, but never past a stop.
            pollfd p[2] = {{FStopFd, POLLIN, 0}, {fd, POLLOUT, 0}};
            if (poll(p, 2, -1) < 0 && errno != EINTR) return false;
            if (p[0].revents) return false;
            continue;
        }
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

void TMeterSimulator::Serve(int fd, uint32_t id, bool closeOnDemand) {
    TRequestFramer framer(FResponder.Address(), FResponder.DeviceCode());
    TSessionFaults faults(FOpt.Faults, id * 2654435761u);
    std::vector<uint8_t> frame;
    uint8_t buf[4096];
    Log(id, "--", "open");
    for (;;) {
        if (!WaitReadable(fd, -1)) break;
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) {
            if (!closeOnDemand) {
                // A pseudo-terminal reports a hang-up while nobody has it open; wait a little.
                pollfd p{FStopFd, POLLIN, 0};
                if (poll(&p, 1, 50) > 0) break;
                continue;
            }
            break;
        }
        const size_t skippedBefore = framer.SkippedBytes();
        framer.Push(buf, static_cast<size_t>(n));
        bool close = false;
        // One read may bring many requests; a stop is noticed between their answers, so a
        // peer that floods the meter does not hold the stop up for the whole batch.
        while (!close && framer.Next(frame)) {
            if (Stopping()) {
                close = true;
                break;
            }
            ++FRequests;
            NoteRequest(id, frame);
            if (framer.SkippedBytes() != skippedBefore)
                Log(id, "..",
                    "skipped " + std::to_string(framer.SkippedBytes() - skippedBefore) + " bytes");
            Log(id, "<-", HexBytes(frame.data(), frame.size()));
            auto answer =
                FResponder.Answer(frame, FOpt.Faults.ForceStatus, FOpt.Faults.ForceSignalStatus);
            if (!answer) {
                Log(id, "..", "not for this meter (address or device code)");
                continue;
            }
            TAnswerPlan plan = faults.Apply(std::move(*answer));
            if (!plan.Bytes.empty()) {
                Log(id, "->",
                    HexBytes(plan.Bytes.data(), plan.Bytes.size()) +
                        (plan.Note.empty() ? "" : "  [" + plan.Note + " ]"));
                ++FAnswers;
                if (!SendAll(fd, plan.Bytes.data(), plan.Bytes.size())) {
                    close = true;
                    break;
                }
            } else if (!plan.Note.empty()) {
                Log(id, "..", plan.Note);
            }
            if (plan.Close && closeOnDemand) close = true;
        }
        if (close) break;
    }
    Log(id, "--", "closed");
}

void TMeterSimulator::Log(uint32_t id, const char* dir, const std::string& text) {
    if (!FLog) return;
    const TDateTimeParts p = DecodeDateTime(NowDateTime());
    std::lock_guard<std::mutex> lock(FLogMutex);
    std::fprintf(FLog, "%02d:%02d:%02d.%03d #%u %s %s\n", p.Hour, p.Minute, p.Second, p.MSec, id,
                 dir, text.c_str());
    std::fflush(FLog);
}

} // namespace qz

#include "platform/Overlapped.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <initializer_list>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace qz {

TOverlapped::TOverlapped() {
    epfd_ = epoll_create1(EPOLL_CLOEXEC);
    if (epfd_ < 0) initError_ = errno;
    eventFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (eventFd_ < 0 && !initError_) initError_ = errno;
    timerFd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (timerFd_ < 0 && !initError_) initError_ = errno;
    if (!Valid()) return;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = eventFd_;
    if (epoll_ctl(epfd_, EPOLL_CTL_ADD, eventFd_, &ev) != 0 && !initError_) initError_ = errno;
    ev.data.fd = timerFd_;
    if (epoll_ctl(epfd_, EPOLL_CTL_ADD, timerFd_, &ev) != 0 && !initError_) initError_ = errno;
}

TOverlapped::~TOverlapped() {
    Detach();
    for (int fd : {epfd_, eventFd_, timerFd_})
        if (fd >= 0) close(fd);
}

bool TOverlapped::StartRead(int fd, void* buf, uint32_t count, uint32_t intervalMs) {
    return Start(TDir::Read, fd, static_cast<uint8_t*>(buf), count, intervalMs);
}

bool TOverlapped::StartWrite(int fd, const void* buf, uint32_t count, uint32_t totalTimeoutMs) {
    // The buffer is only read from in a write.
    return Start(TDir::Write, fd, static_cast<uint8_t*>(const_cast<void*>(buf)), count,
                 totalTimeoutMs);
}

bool TOverlapped::Start(TDir dir, int fd, uint8_t* buf, uint32_t count, uint32_t ms) {
    // A transfer still pending here is dropped without a result.
    Detach();
    DisarmTimer();
    state_ = TState::Idle;
    done_ = 0;
    error_ = 0;
    if (!Valid() || initError_) {
        error_ = initError_ ? initError_ : EMFILE;
        errno = error_;
        return false;
    }
    if (fd < 0 || (!buf && count > 0)) {
        error_ = fd < 0 ? EBADF : EFAULT;
        errno = error_;
        return false;
    }
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || (!(flags & O_NONBLOCK) && fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)) {
        error_ = errno;
        return false;
    }
    dir_ = dir;
    fd_ = fd;
    // A descriptor seen for the first time is put into the set at once, which also tells
    // whether it can be waited on at all. One that was waited on before joins the set only
    // when the transfer does not complete at once: most transfers on a socket do.
    if (fd != pollableFd_) {
        if (!Attach()) {
            error_ = errno;
            return false;
        }
        pollableFd_ = fd;
    }
    ResetEvent();
    buf_ = buf;
    count_ = count;
    ms_ = ms;
    useSend_ = true;
    ttyKnown_ = false;
    state_ = TState::Pending;
    if (dir == TDir::Write && ms > 0) ArmTimer(ms);
    if (!Advance() && !attached_ && !Attach()) {
        error_ = errno;
        Finish(TState::Failed);
    }
    return true;
}

bool TOverlapped::Attach() {
    epoll_event ev{};
    ev.events = dir_ == TDir::Read ? EPOLLIN : EPOLLOUT;
    ev.data.fd = fd_;
    if (epoll_ctl(epfd_, EPOLL_CTL_ADD, fd_, &ev) != 0) {
        if (errno != EEXIST || epoll_ctl(epfd_, EPOLL_CTL_MOD, fd_, &ev) != 0) return false;
    }
    attached_ = true;
    return true;
}

bool TOverlapped::IsTty() {
    if (!ttyKnown_) {
        isTty_ = isatty(fd_) == 1;
        ttyKnown_ = true;
    }
    return isTty_;
}

bool TOverlapped::Advance() {
    if (state_ == TState::Idle) return false;
    if (state_ != TState::Pending) return true;
    return dir_ == TDir::Read ? AdvanceRead() : AdvanceWrite();
}

bool TOverlapped::AdvanceRead() {
    if (count_ == 0) {
        Finish(TState::Done);
        return true;
    }
    bool gotBytes = false;
    while (done_ < count_) {
        ssize_t n = read(fd_, buf_ + done_, count_ - done_);
        if (n > 0) {
            done_ += uint32_t(n);
            gotBytes = true;
            if (ms_ == 0) break;
            continue;
        }
        if (n == 0 && IsTty() && !HungUp()) break; // a terminal in VMIN 0 mode: no data yet
        if (n == 0) {                              // end of file: the peer closed
            Finish(TState::Done);
            return true;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) break;
        error_ = errno;
        // Bytes that arrived before the failure are still delivered.
        Finish(done_ > 0 ? TState::Done : TState::Failed);
        return true;
    }
    if (done_ > 0 && (ms_ == 0 || done_ == count_)) {
        Finish(TState::Done);
        return true;
    }
    if (gotBytes) {
        ArmTimer(ms_); // the line is quiet from now on until the next byte
        return false;
    }
    if (done_ > 0 && TimerExpired()) {
        Finish(TState::Done);
        return true;
    }
    return false;
}

bool TOverlapped::AdvanceWrite() {
    while (done_ < count_) {
        ssize_t n;
        if (useSend_) {
            // send() so that a peer that went away gives EPIPE instead of SIGPIPE.
            n = send(fd_, buf_ + done_, count_ - done_, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && errno == ENOTSOCK) {
                useSend_ = false;
                continue;
            }
        } else {
            n = write(fd_, buf_ + done_, count_ - done_);
        }
        if (n > 0) {
            done_ += uint32_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) break;
        error_ = errno;
        Finish(TState::Failed);
        return true;
    }
    if (done_ == count_) {
        Finish(TState::Done);
        return true;
    }
    if (ms_ > 0 && TimerExpired()) {
        Finish(TState::Done); // the deadline passed: complete with what was written
        return true;
    }
    return false;
}

void TOverlapped::Finish(TState state) {
    Detach();
    DisarmTimer();
    state_ = state;
    if (!quietCompletion_) Signal();
}

void TOverlapped::Detach() {
    if (attached_) {
        // The descriptor may already be closed, which removed it from the set: ignore errors.
        epoll_ctl(epfd_, EPOLL_CTL_DEL, fd_, nullptr);
        attached_ = false;
    }
}

void TOverlapped::ArmTimer(uint32_t ms) {
    if (timerFd_ < 0) return;
    itimerspec its{};
    its.it_value.tv_sec = ms / 1000;
    its.it_value.tv_nsec = long(ms % 1000) * 1000000L;
    timerfd_settime(timerFd_, 0, &its, nullptr); // also clears an expiry not yet read
    timerArmed_ = true;
}

void TOverlapped::DisarmTimer() {
    if (timerFd_ < 0 || !timerArmed_) return;
    itimerspec its{};
    timerfd_settime(timerFd_, 0, &its, nullptr); // also clears an expiry not yet read
    timerArmed_ = false;
}

bool TOverlapped::TimerExpired() {
    uint64_t ticks = 0;
    ssize_t n;
    do {
        n = read(timerFd_, &ticks, sizeof ticks);
    } while (n < 0 && errno == EINTR);
    return n == sizeof ticks && ticks > 0;
}

bool TOverlapped::HungUp() const {
    pollfd p{fd_, 0, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

bool TOverlapped::GetResult(uint32_t& transferred) const {
    if (state_ == TState::Done) {
        transferred = done_;
        return true;
    }
    transferred = 0;
    return false;
}

void TOverlapped::Cancel() {
    if (state_ != TState::Pending) return;
    error_ = ECANCELED;
    Finish(TState::Cancelled);
}

void TOverlapped::Signal() {
    if (eventFd_ < 0) return;
    uint64_t one = 1;
    ssize_t n;
    do {
        n = write(eventFd_, &one, sizeof one);
    } while (n < 0 && errno == EINTR);
    flagWritten_ = true;
}

void TOverlapped::ResetEvent() {
    // Only Signal sets the flag, so there is nothing to clear when it has not run since.
    if (eventFd_ < 0 || !flagWritten_) return;
    uint64_t v;
    ssize_t n;
    do {
        n = read(eventFd_, &v, sizeof v);
    } while (n < 0 && errno == EINTR);
    flagWritten_ = false;
}

bool TOverlapped::IsSignalled() const {
    if (eventFd_ < 0) return false;
    pollfd p{eventFd_, POLLIN, 0};
    int r;
    do {
        r = poll(&p, 1, 0);
    } while (r < 0 && errno == EINTR);
    return r > 0 && (p.revents & POLLIN);
}

bool TOverlapped::Wait(int timeoutMs, int abortFd) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        if (Advance() && quietCompletion_) return true; // ended, without setting the flag
        if (IsSignalled()) return true;
        int wait = -1;
        if (timeoutMs >= 0) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return false;
            // Round up so that the last pass does not spin on a sub-millisecond remainder.
            wait = int(left.count()) + 1;
        }
        if (epfd_ < 0) return false;
        pollfd p[2] = {{epfd_, POLLIN, 0}, {abortFd, POLLIN, 0}};
        int r = poll(p, abortFd >= 0 ? 2 : 1, wait);
        if (r < 0 && errno != EINTR) return false;
        if (r > 0 && abortFd >= 0 && (p[1].revents & POLLIN)) return IsSignalled();
    }
}

} // namespace qz

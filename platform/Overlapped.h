// TOverlapped: one transfer (read or write) on a non-blocking descriptor that completes in
// the background of a wait loop, with a pollable "signalled" flag.
//
// The object owns three descriptors:
//   - an inner epoll set, returned by WaitFd(), that a wait loop puts into its own epoll set
//     (or polls) like any other handle;
//   - an eventfd, the signalled flag, always in the inner set;
//   - a timerfd for the read interval or the write deadline, always in the inner set.
// While a transfer is pending the device descriptor is in the inner set as well (EPOLLIN for
// a read, EPOLLOUT for a write). WaitFd() becomes readable whenever Advance() may have work
// to do; once the transfer is complete the device descriptor and the timer leave the set and
// only the signalled flag keeps WaitFd() readable, until ResetEvent().
//
// One object carries one transfer at a time and is used by one thread.
#pragma once

#include <cstdint>

namespace qz {

class TOverlapped {
public:
    TOverlapped();
    ~TOverlapped();
    TOverlapped(const TOverlapped&) = delete;
    TOverlapped& operator=(const TOverlapped&) = delete;

    // False when the descriptors could not be created (then every Start fails with EMFILE or
    // the creating call's error).
    bool Valid() const { return epfd_ >= 0 && eventFd_ >= 0 && timerFd_ >= 0; }
    // The one descriptor to wait on (readable = Advance has something to do or the transfer
    // is complete / the flag was set by hand).
    int WaitFd() const { return epfd_; }

    // Starts a read of up to count bytes into buf. intervalMs 0: the read completes as soon as
    // any bytes have arrived (what is available, up to count). intervalMs > 0: it completes
    // when count bytes have arrived, or when the line has been quiet for intervalMs after the
    // first byte. End of file completes the read with the bytes so far (0 when none).
    // A transfer still pending on this block is dropped first. The descriptor is switched to
    // non-blocking mode if it is not. False (Error() and errno set) when the transfer cannot
    // be started at all: bad descriptor, descriptor that cannot be waited on.
    bool StartRead(int fd, void* buf, uint32_t count, uint32_t intervalMs);
    // Starts a write of count bytes. It completes when all are written, or with the count
    // written so far when totalTimeoutMs has passed (0 = no deadline).
    bool StartWrite(int fd, const void* buf, uint32_t count, uint32_t totalTimeoutMs);

    // Does whatever non-blocking I/O is possible now. True when the transfer has ended
    // (completed, failed or cancelled); then the flag is set. Safe to call at any time.
    bool Advance();
    // Without waiting: false while pending, after Cancel, after an I/O error, or when no
    // transfer ran; true with the count otherwise (0 bytes is a valid completion).
    bool GetResult(uint32_t& transferred) const;
    // Aborts a pending transfer: its result fails and the flag is set. No effect otherwise.
    void Cancel();

    // Quiet completion: the end of a transfer does not set the flag. For a caller that acts
    // on Advance()'s result at once (a wait loop that starts a transfer and handles its end
    // as soon as Advance reports it), which then saves the flag's two system calls.
    void SetQuietCompletion(bool quiet) { quietCompletion_ = quiet; }

    // The signalled flag by hand.
    void Signal();
    void ResetEvent();
    bool IsSignalled() const;

    // Blocks until the flag is set (the transfer ended, or Signal) or timeoutMs has passed
    // (-1 = no limit), driving the transfer meanwhile. True when signalled. A readable
    // abortFd (-1: none) ends the wait early, as a time-out does.
    bool Wait(int timeoutMs, int abortFd = -1);

    bool IsPending() const { return state_ == TState::Pending; }
    // errno of the last failure to start or of the I/O error that ended the transfer.
    int Error() const { return error_; }
    // Bytes moved so far by the current or last transfer.
    uint32_t Transferred() const { return done_; }

private:
    enum class TState { Idle, Pending, Done, Failed, Cancelled };
    enum class TDir { Read, Write };

    bool Start(TDir dir, int fd, uint8_t* buf, uint32_t count, uint32_t ms);
    bool Attach();
    bool IsTty();
    void Finish(TState state);
    void Detach();
    void ArmTimer(uint32_t ms);
    void DisarmTimer();
    bool TimerExpired();
    bool HungUp() const;
    bool AdvanceRead();
    bool AdvanceWrite();

    int epfd_ = -1;
    int eventFd_ = -1;
    int timerFd_ = -1;
    int initError_ = 0;

    TState state_ = TState::Idle;
    TDir dir_ = TDir::Read;
    int fd_ = -1;
    bool attached_ = false;
    bool useSend_ = true;
    bool isTty_ = false;
    bool ttyKnown_ = false; // isTty_ is looked up when a read first needs it
    int pollableFd_ = -1;   // the last descriptor that could be put into the set
    bool timerArmed_ = false;
    bool flagWritten_ = false; // the eventfd holds a count that ResetEvent must read
    bool quietCompletion_ = false;
    uint8_t* buf_ = nullptr;
    uint32_t count_ = 0;
    uint32_t done_ = 0;
    uint32_t ms_ = 0;
    int error_ = 0;
};

} // namespace qz

// One conversation with one device over one logical channel: it runs the current command
// with a bounded number of attempts, reassembles the answer from the byte stream (sliding
// one byte at a time until a header matches) and keeps the last error with its text.
#pragma once

#include "channel/LCAObject.h"
#include "protocol/Command.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace qz {

// Protocol error codes, beside the channel's own.
enum : int32_t {
    prtErrNoAnswer = 5, // the channel's read time-out, shown as a missing answer
    prtErrCRC = 202,
    prtErrNoChannel = 203,
    prtErrBadData = 204,
    prtErrInterrupted = 205,
    prtErrNoRequest = 250,
};

// Text of a protocol or channel error code.
std::string ProtocolErrorText(int32_t code);

// The user-interface queue servicing of protocols created with ProcessMessages: the window
// may install a function here; without one it does nothing. Process-wide.
void SetProtocolMessagePump(std::function<void()> pump);

// What one conversation has moved over its line, for the engineer who commissions it. Each
// figure is counted where its event happens, so it can be set against the meter's own view.
struct TLinkStatistics {
    uint64_t Requests = 0;      // requests written to the line (every attempt)
    uint64_t Answers = 0;       // complete answers read, those with a wrong check byte included
    uint64_t Repeats = 0;       // attempts after the first of a command
    uint64_t CheckErrors = 0;   // answers whose check byte was wrong
    uint64_t Timeouts = 0;      // writes or reads that ended on their time-out
    uint64_t BytesSent = 0;     // request bytes written
    uint64_t BytesReceived = 0; // every byte read, stray bytes before an answer included
    // From the start of writing the request to the answer's last byte, for the last answer
    // read; -1 while there has been none.
    int64_t LastRoundTripMs = -1;
    // Connects of the line after its first successful one, as the worker counts them.
    uint32_t Reconnections = 0;
};

class TCustomProtocol {
public:
    // Opens the channel at once; a failed open is not an exception but shows in
    // GetLastError until the first Execute.
    TCustomProtocol(const TLCAParams& lineParams, bool processMessages, uint16_t attemptCount);
    virtual ~TCustomProtocol();
    TCustomProtocol(const TCustomProtocol&) = delete;
    TCustomProtocol& operator=(const TCustomProtocol&) = delete;

    // Does the header at `buffer` (`count` bytes) begin this command's answer? On true,
    // `remaining` tells how many more bytes the answer has.
    virtual bool CheckAnswerHeader(const uint8_t* buffer, size_t count, size_t& remaining);
    // Checks the check value of the complete answer held by the command.
    virtual bool CheckAnswerCRC() = 0;
    // The text of GetLastError().
    virtual std::string GetErrorText() const;

    // Makes `command` current, freeing the previous one when owned (OwnsCommand).
    void SetCommand(TCommand* command);
    TCommand* GetCommand() const { return FCommand; }
    // Runs the current command: true when an answer arrived and passed its checks.
    bool Execute();
    // The channel's code when it has one, else the protocol's own.
    int32_t GetLastError() const;
    // No further attempt starts, and the channel's task in progress (a connect included)
    // ends at once; may be called from any thread. Final.
    void Cancel() {
        FAttemptCount.store(0);
        if (FChannel) FChannel->CancelTask();
    }

    uint16_t AttemptCount() const { return FAttemptCount.load(); }
    // A copy of the figures so far; may be called from any thread.
    TLinkStatistics LinkStatistics() const;
    bool Opened() const { return FChannel != nullptr; }
    uint16_t MaxAttemptCountOnConnect() const { return FMaxAttemptCountOnConnect; }

    bool OwnsCommand = true;

protected:
    bool SendRequest();
    bool ReceiveAnswer();
    void ServiceMessages() const;

    uint16_t HeaderSize = 1;
    int32_t LastError = 0;

private:
    void OpenChannel(const TLCAParams& lineParams);
    bool RunAttempts();

    TCommand* FCommand = nullptr;
    std::unique_ptr<TLCAObject> FChannel;
    std::atomic<uint16_t> FAttemptCount;
    bool FProcessMessages;
    std::chrono::steady_clock::time_point FRequestStart;
    mutable std::mutex FStatsMutex;
    TLinkStatistics FStats;
    uint16_t FMaxAttemptCountOnConnect = 0;
};

} // namespace qz

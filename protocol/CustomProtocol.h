// One conversation with one device over one logical channel: it runs the current command
// with a bounded number of attempts, reassembles the answer from the byte stream (sliding
// one byte at a time until a header matches) and keeps the last error with its text.
#pragma once

#include "channel/LCAObject.h"
#include "protocol/Command.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
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
    uint16_t FMaxAttemptCountOnConnect = 0;
};

} // namespace qz

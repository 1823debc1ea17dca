// The protocol-neutral request/answer exchange: a command builds its request frame, recognises
// the header of its answer, judges the complete answer and keeps it for the caller.
//
// Frame buffers are sized with 16 bits, as the channel layer moves at most 65535 bytes per
// frame; every buffer comes from AllocBuffer, which zero-fills and reports a failed
// allocation with the system's own text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace qz {

// Largest request or answer frame the protocol handles.
constexpr size_t kMaxFrameSize = 65535;

// Raised when a frame buffer cannot be allocated.
class EOutOfMemory : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TBufferDeleter {
    void operator()(uint8_t* p) const noexcept;
};
using TBufferPtr = std::unique_ptr<uint8_t[], TBufferDeleter>;

// Text of a failed allocation of `size` bytes.
std::string AllocFailureText(size_t size);

// A zero-filled buffer of `size` bytes (at most kMaxFrameSize); nullptr for 0. Throws
// EOutOfMemory with AllocFailureText when the memory cannot be had.
TBufferPtr AllocBuffer(size_t size);

// The allocator behind AllocBuffer; replaceable so that tests can make it fail. Passing
// nullptr restores the default (calloc). Must return zero-filled memory freeable by free().
using TBufferAllocFn = void* (*)(size_t size);
void SetBufferAllocator(TBufferAllocFn fn);

class TCommand {
public:
    TCommand() = default;
    virtual ~TCommand() = default;
    TCommand(const TCommand&) = delete;
    TCommand& operator=(const TCommand&) = delete;

    // Does the header at `buffer` (`count` bytes available) belong to this command's answer?
    virtual bool CheckAnswerHeader(const uint8_t* buffer, size_t count) const = 0;
    // True when the length is not checked, otherwise when the answer has the expected size.
    virtual bool CheckAnswer() const;
    // A new request frame and its length; nullptr when no request can be built.
    virtual TBufferPtr BuildRequest(size_t& size) const = 0;
    virtual std::string GetErrorText() const { return {}; }
    // Status the device put into its answer; 0 here.
    virtual int GetDeviceStatus() const { return 0; }

    // Keeps a copy of a complete answer frame (replacing any earlier one).
    void SetAnswer(const uint8_t* frame, size_t size);
    const uint8_t* Answer() const { return FAnswer.get(); }
    size_t AnswerSize() const { return FAnswerSize; }

    int32_t Timeout = 500; // ms, for each read of this command's answer
    bool CheckAnswerSize = false;
    int32_t ExpectedAnswerSize = 0;

private:
    TBufferPtr FAnswer;
    size_t FAnswerSize = 0;
};

} // namespace qz

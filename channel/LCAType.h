// Types shared by the logical-channel worker and its clients: the channel handle, the
// logical channel description, the task record, the log callback and the error texts.
#pragma once

#include "channel/PCAType.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace qz {

class TEvent;

// Identifies a logical channel: its number on its line and the line's device handle at the
// moment the channel was opened. (-1, 0) is the invalid handle; the same pair names the
// module itself in log messages.
struct TLCAHandle {
    int32_t Id = -1;
    int32_t LineHandle = 0;

    bool operator==(const TLCAHandle& o) const { return Id == o.Id && LineHandle == o.LineHandle; }
    bool operator!=(const TLCAHandle& o) const { return !(*this == o); }
    bool IsValid() const { return !(Id == -1 && LineHandle == 0); }
};

constexpr TLCAHandle kInvalidLCAHandle{-1, 0};
constexpr TLCAHandle kModuleLCAHandle{-1, 0};

// Logical channel description: the physical description followed by the connection attempt
// budget, the priority and the log mask. Its byte form is 531 bytes, little-endian.
struct TLCAParams {
    static constexpr size_t kSize = 531;

    TPCAParams Pca;
    uint16_t MaxAttemptCountOnConnect = 0;
    uint8_t Priority = 0; // 1..255; 0 is refused by LCAOpen
    uint8_t LogMask = 0;

    std::array<uint8_t, kSize> Serialize() const;
    // Parses the byte form; false when fewer than kSize bytes are given.
    static bool Parse(const uint8_t* data, size_t size, TLCAParams& out);
};

// Message classes of the log callback; a channel selects them with its LogMask.
enum : uint8_t {
    lcaLogOpenClose = 1,
    lcaLogError = 2,
    lcaLogConnect = 4,
    lcaLogTask = 8,
    lcaLogDump = 16,
};

// Called on the worker thread (and, for the module's own two messages, on the thread that
// creates or destroys the module). Must not call back into the module synchronously.
using TLCALogProc = std::function<void(const std::string& text, uint8_t msgClass, TLCAHandle)>;

// Logical-channel error codes added to the physical ones.
enum : int32_t {
    lcaErrTaskExists = 101,
    lcaErrBadBuffer = 102,
    lcaErrBadEvent = 103,
    lcaErrBadLockHandle = 104,
    lcaErrAborted = 105,
    lcaErrBadPriority = 106,
};

// One read or write task. Created by the client; owned by the worker once registered.
struct TLCACommand {
    enum : uint8_t { stWaiting = 0, stWriting = 1, stReading = 2, stFailedToStart = 3 };

    uint8_t Direction = 0; // 0 = write, 1 = read
    uint8_t State = stWaiting;
    uint8_t* Buffer = nullptr;
    uint32_t Count = 0;
    TEvent* Event = nullptr;     // set by the worker when the task ends
    uint32_t* DoneRef = nullptr; // bytes moved, written before the event is set
    uint32_t TimeoutMs = 0;
};

// The text of a logical-channel code; physical codes fall back to PCAErrorText.
std::string LCAErrorText(int32_t code);

} // namespace qz

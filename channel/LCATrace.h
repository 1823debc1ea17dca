// TLCATrace: a trace of what goes over the lines, for commissioning a meter link.
//
// The logical-channel worker reports open and close, errors, the connection of a line, its
// tasks and a hexadecimal dump of the bytes each task moved, through the log callback the
// module is started with. A trace is that callback: it stamps each message with the local
// time, puts it into a bounded queue and returns, and its own writer thread turns the
// messages into lines of a file (channel/LCATraceFormat.h). So the worker never waits for a
// disk or a terminal: when the queue is full the message is dropped, and one line counts the
// dropped messages as soon as there is room again.
//
// Use from a front end:
//   std::string error;
//   auto trace = TLCATrace::Open(path, mask, error);    // "-" = stderr; null: print error
//   LCAInitialize(trace->LogProc());
//   params.LogMask = trace->ChannelLogMask();            // for every channel opened
//   ...
//   LCAFinalize();                                       // the module's last message
//   trace->Stop();                                       // writes out the queue and closes
//
// The callback keeps the queue alive by itself, so a module that outlives the trace object
// stays safe; what it reports after Stop is not written.
#pragma once

#include "channel/LCATraceFormat.h"
#include "channel/LCAType.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace qz {

// The size at which a trace file is rotated unless told otherwise: with waveforms a trace
// grows by about 190 KB a minute (700 KB listing every byte), so a part holds hours.
constexpr uint64_t kTraceDefaultFileBytes = 100ull * 1024 * 1024;

struct TLCATraceOptions {
    // Messages the queue holds before it drops; a poll cycle is about ten messages.
    size_t Capacity = 4096;
    // A trace file (not stderr, a pipe or a device) that has reached this many bytes is
    // renamed to FILE.1, replacing an older FILE.1, and a new FILE begins; the last line of
    // the old part and the first of the new one say so. So a trace left on for weeks keeps
    // at most about twice this on the disk. 0: no limit.
    uint64_t MaxFileBytes = kTraceDefaultFileBytes;
    // The moment a message is stamped with; the system clock unless replaced.
    std::function<std::chrono::system_clock::time_point()> Clock;
};

class TLCATrace {
public:
    // Writes a batch of lines (without their ends) and flushes; false when a write failed.
    using TSink = std::function<bool(const std::vector<std::string>& lines)>;

    // Opens the file for appending ("-" is stderr). When it cannot be opened: null, and
    // error holds the text for the operator.
    static std::unique_ptr<TLCATrace> Open(const std::string& path, uint8_t mask,
                                           std::string& error, TLCATraceOptions options = {});
    // A trace into a sink of the caller's.
    TLCATrace(TSink sink, uint8_t mask, TLCATraceOptions options = {});
    // Stops, as Stop does.
    ~TLCATrace();
    TLCATrace(const TLCATrace&) = delete;
    TLCATrace& operator=(const TLCATrace&) = delete;

    // The callback to start the module with. Safe on any thread, never waits for the file.
    TLCALogProc LogProc() const;
    // The classes the trace writes.
    uint8_t Mask() const { return mask_; }
    // The LogMask a channel must be opened with so that the worker reports these classes.
    // A dump does not say which way its bytes went; the task message just before it does,
    // so with dumps the task class is asked for too (and filtered out if not wanted).
    uint8_t ChannelLogMask() const;

    // Writes out every queued message and the count of any dropped at the end, then ends the
    // writer and closes the file. True when every line was written; otherwise ErrorText()
    // says what failed. Later calls return the same.
    bool Stop();
    std::string ErrorText() const;
    // Messages dropped because the queue was full, in all.
    uint64_t Dropped() const;

private:
    struct TState;
    void Run();

    std::shared_ptr<TState> state_;
    uint8_t mask_;
    std::thread writer_;
    bool stopped_ = false;
    bool ok_ = true;
};

} // namespace qz

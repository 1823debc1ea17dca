// What the rest of the system sees of channel access: the module functions that reach the
// single logical-channel worker, and the client object a protocol uses for one connection.
#pragma once

#include "channel/LCAType.h"

#include <cstdint>

namespace qz {

class TEvent;

// Starts the worker with this log callback if none runs yet; a second call does nothing.
void LCAInitialize(TLCALogProc logProc = nullptr);
// Stops the worker and frees every line and channel (running tasks end with their events set
// and Done 0; calls in flight return 2). It returns once the calls in flight have left the
// worker and every port and socket is closed, so a following LCAInitialize never has two
// workers on one port. Later calls of the functions below report 2 until LCAInitialize is
// called again. A worker whose loop died (an exception in it) answers everything with 2
// likewise, until it is finalised.
void LCAFinalize();
bool LCAIsInitialized();

// How many bytes of a task its dump lists (the class 16 message): the first 128 unless set
// otherwise, every byte with 0. Holds for the whole module and may change at any time; a
// trace then tells how many bytes a cut dump left out.
constexpr uint32_t kLCADefaultDumpLimit = 128;
void LCASetDumpLimit(uint32_t bytes);
uint32_t LCADumpLimit();

// Message classes every channel reports beside those of its own LogMask, the open ones
// included: a trace begun while lines are open sees them at once. Holds for the whole module
// and may change at any time; 0 adds nothing.
void LCASetAddedLogMask(uint8_t mask);
uint8_t LCAAddedLogMask();

// Transfers take: buffer, byte count, done counter (out), completion event, time-out in ms,
// handle. A null event makes the call synchronous: it returns when the task has ended, with
// 0 when bytes moved and otherwise the channel's last error. With an event the call returns 0
// once the task is registered; the event is set when the task has ended, with the moved count
// in done (which the caller keeps valid until then).
TLCAHandle LCAOpen(const TLCAParams& params, int32_t& error);
int32_t LCAClose(TLCAHandle handle);
int32_t LCAReleaseLock(TLCAHandle handle);
int32_t LCAWrite(const void* buffer, uint32_t count, uint32_t& done, TEvent* event,
                 uint32_t timeoutMs, TLCAHandle handle);
int32_t LCARead(void* buffer, uint32_t count, uint32_t& done, TEvent* event, uint32_t timeoutMs,
                TLCAHandle handle);
int32_t LCAGetLastError(TLCAHandle handle);
// Requests the worker offers beside the client functions.
int32_t LCASetPriority(TLCAHandle handle, uint8_t priority);
int32_t LCASetPriorityLock(TLCAHandle handle, bool locked);
int32_t LCACheckDevice(TLCAHandle handle);
// Ends the channel's task at once with 105 (also a connect its line makes for it, a modem
// being hung up) and refuses every later task with 105. For a client that stops for good;
// any thread may call it.
int32_t LCACancelTask(TLCAHandle handle);
// The channel's reconnections: the connect attempts its line made for it after its first
// successful connection (a lost connection, a modem that hung up). 0 with the count, 3 for
// an unknown handle, 2 without a worker (count left 0). Any thread but the log callback's.
int32_t LCAGetReconnectCount(TLCAHandle handle, uint32_t& count);

// The client object of one logical channel; one thread uses it at a time.
class TLCAObject {
public:
    explicit TLCAObject(const TLCAParams& params);
    ~TLCAObject();
    TLCAObject(const TLCAObject&) = delete;
    TLCAObject& operator=(const TLCAObject&) = delete;

    bool IsValid() const { return Handle.IsValid(); }
    int32_t GetLastError() const;
    int32_t ReleaseLock();
    // LCACancelTask on this channel; any thread may call it.
    int32_t CancelTask() const;
    // LCAGetReconnectCount on this channel; any thread may call it.
    int32_t GetReconnectCount(uint32_t& count) const;
    int32_t Write(const void* buffer, uint32_t count, uint32_t& done, TEvent* event,
                  uint32_t timeoutMs);
    int32_t Read(void* buffer, uint32_t count, uint32_t& done, TEvent* event, uint32_t timeoutMs);

    TLCAHandle Handle;
    int32_t OpenError = 0;
    TLCAParams Params;
};

} // namespace qz

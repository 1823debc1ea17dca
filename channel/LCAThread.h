// The logical-channel worker: one thread that owns every physical line and channel, runs the
// clients' read and write tasks with time-outs, priorities and reconnection, and wakes each
// client when its request or task has ended.
//
// Clients never touch the worker's data: each operation is queued to it and the client waits
// on an event until the worker has handled it. Queued requests are handled in order and only
// between passes of the worker loop, never in the middle of serving a line. The loop waits on
// one epoll set: an eventfd for queued requests and, per line, the two transfer blocks and a
// timerfd for task time-outs. It never polls and has no limit on the number of lines.
#pragma once

#include "channel/LCAType.h"
#include "platform/Event.h"
#include "platform/Overlapped.h"

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace qz {

class TLCAThread;
class TPhysicoLine;

// One open logical channel.
class TLCAPerform {
public:
    explicit TLCAPerform(const TLCAParams& params) : Params(params) {}
    ~TLCAPerform();
    TLCAPerform(const TLCAPerform&) = delete;
    TLCAPerform& operator=(const TLCAPerform&) = delete;

    TLCAHandle Handle() const { return {Id, LineHandle}; }
    // Ends the task, if any: cancels its I/O when asked, frees it, resets the attempt budget
    // and only then wakes the client.
    void FinishCommand(bool cancel);

    int32_t Id = -1;
    int32_t LineHandle = 0;
    std::unique_ptr<TLCACommand> Command;
    int32_t LastError = 0;
    TLCAParams Params;
    TPhysicoLine* Line = nullptr;
    bool PriorityLock = false;
    int32_t AttemptCount = 0;
    // Set by a cancel: the task ended and no further task is taken on this channel.
    bool Cancelled = false;
    // The line was once connected for this channel; every connect attempt made for it after
    // that counts as a reconnection.
    bool EverConnected = false;
    uint32_t Reconnects = 0;
};

// One physical channel shared by the logical channels whose descriptions name it.
class TPhysicoLine {
public:
    enum Entry : uint8_t { enWrite = 0, enRead = 1, enTimer = 2, enConnect = 3 };

    // serial: the line's number in its worker, never given out twice (from 1).
    TPhysicoLine(TLCAThread* thread, int32_t serial);
    ~TPhysicoLine();
    TPhysicoLine(const TPhysicoLine&) = delete;
    TPhysicoLine& operator=(const TPhysicoLine&) = delete;

    TLCAPerform* AddChannel(const TLCAParams& params, int32_t& error);
    void RemoveChannel(TLCAPerform* channel);
    void Serve();
    TLCAPerform* SelectNext();
    TLCAPerform* FindWaiting(int threshold, size_t start);
    // The connection attempts for a channel, driven by the worker's loop: an attempt that
    // must wait leaves the line connecting (its descriptor and the timer in the wait set)
    // and goes on in OnReady; the line's other work waits meanwhile, the worker's does not.
    void ConnectAttempts(TLCAPerform* channel);
    // Gives up a connect under way (its channel is closed or its task cancelled).
    void AbortConnect();
    bool IsConnecting() const { return ConnectingChannel != nullptr; }
    void StartIO();
    void AbortCurrent();
    // Handles one signalled entry: a completed (or failed-to-start) transfer or the timer.
    void HandleSignal(Entry entry);
    // Called by the worker when one of this line's descriptors is ready.
    void OnReady(Entry entry);
    // Brings the line's descriptors in the worker's epoll set in line with what it waits for.
    void UpdateWaitSet();
    // One step told by the physical channel (worker thread): logged as a connect message of
    // the channel the line last connected for, with that channel's mask, also when the
    // channel has closed since (the hang-up when the line goes).
    void LogProgress(const std::string& text) const;
    int IndexOf(const TLCAPerform* channel) const;

    std::vector<std::unique_ptr<TLCAPerform>> Channels;
    std::unique_ptr<TPCACustom> PCA;
    int32_t NextId = 0;
    TLCAPerform* HoldingChannel = nullptr;
    TLCAPerform* ConnectedChannel = nullptr;
    TOverlapped WriteOverlapped;
    TOverlapped ReadOverlapped;
    TLCAThread* Thread;
    // The second half of every handle of this line. The device descriptor would not do: it
    // is -1 between a lost connection and the next, and the system reuses its numbers, so
    // two lines could hand out the same handle and one channel's task go to another's meter.
    int32_t Serial;
    bool Connected = false;
    int TimerFd = -1;
    TLCAPerform* ConnectingChannel = nullptr; // a connect runs for it
    TLCAHandle ProgressHandle = kInvalidLCAHandle;
    uint8_t ProgressMask = 0;

private:
    void ArmTimer(uint32_t ms);
    void DisarmTimer();
    // Goes on from an attempt's result until it must wait, succeeded or failed.
    void AfterConnectStep(int result, const TPCACustom::TConnectWait& wait);
    void ConnectFailed(TLCAPerform* channel);
    void Watch(const TPCACustom::TConnectWait& wait);
    void Unwatch();
    int ConnectFd = -1; // the descriptor a connect waits for, in the worker's epoll set
    bool TimerArmed = false;
    TOverlapped& Block(uint8_t direction) {
        return direction == 0 ? WriteOverlapped : ReadOverlapped;
    }

    struct Tag {
        TPhysicoLine* Line;
        Entry Which;
    };
    Tag Tags[4];
    uint32_t ArmedMask = 0; // bit per Entry currently in the worker's epoll interest
    bool Registered = false;
    friend class TLCAThread;
};

// A client's request as it travels to the worker.
struct TLCARequest {
    TEvent* Event = nullptr;
    TLCAHandle Handle;
    int32_t Result = 0;
    void* Data = nullptr;
    // A synchronous transfer waits once: its request and its task share one event, which the
    // worker sets on a refused registration or, after a successful one, when the task ends.
    bool WakeOnTaskEnd = false;
};

// Request kinds.
enum : int32_t {
    lcaReqNone = 0,
    lcaReqStop = 1,
    lcaReqOpen = 2,
    lcaReqLastError = 3,
    lcaReqClose = 4,
    lcaReqTask = 5,
    lcaReqReleaseLock = 6,
    lcaReqPriority = 7,
    lcaReqPriorityLock = 8,
    lcaReqCheckDevice = 9,
    // Ends the channel's task with 105, also while its line connects for it, and refuses
    // every later task with 105: what a client's stop needs.
    lcaReqCancel = 10,
    // Data: uint32_t, the channel's reconnection count.
    lcaReqReconnects = 11,
};

class TLCAThread {
public:
    explicit TLCAThread(TLCALogProc logProc);
    // Stops the worker, then frees every line, channel and physical channel; tasks still
    // registered end with their events set and Done left as last written.
    ~TLCAThread();
    TLCAThread(const TLCAThread&) = delete;
    TLCAThread& operator=(const TLCAThread&) = delete;

    // Stops the worker loop and waits for it. Once the loop has ended (stopped, or left by an
    // exception: a throwing log callback, an allocation failure) every request still queued
    // and every later one is answered with 2, and every registered task has ended with its
    // channel's last error 2, so that no client waits for a worker that is gone. The lines
    // stay open until the destructor. Idempotent.
    void Stop();
    // Queues an item; does not wait. After the worker has stopped, a request is answered at
    // once with code 2 so that no client can wait forever.
    void PostRequest(int32_t kind, TLCARequest* request);
    // Queues a request and waits for the worker's answer.
    int32_t RequestAndWait(int32_t kind, TLCAHandle& handle, void* data);
    // The common body of a client's write (direction 0) and read (1).
    int32_t Transfer(uint8_t direction, void* buffer, uint32_t timeoutMs, TEvent* event,
                     uint32_t& done, uint32_t count, TLCAHandle handle);

    // Worker-side lookups.
    TLCAPerform* FindPerform(TLCAHandle handle) const;
    TPhysicoLine* FindLine(const TLCAParams& params) const;
    TLCAHandle OpenPerform(const TLCAParams& params, int32_t& error);
    int32_t ClosePerform(TLCAHandle handle);
    int32_t ReleaseLock(TLCAHandle handle);
    int32_t RegisterTask(TLCACommand* task, TLCAHandle handle);

    void Log(const std::string& text, uint8_t msgClass, TLCAHandle handle) const;
    // Log with the mask given instead of the channel's own.
    void LogMasked(const std::string& text, uint8_t msgClass, TLCAHandle handle,
                   uint8_t mask) const;
    // A step of a line's connection, from any thread. The log callback is called on the
    // worker thread only: on it the step is logged at once (after those queued before), from
    // another thread (a connect's helper) it is queued and the worker woken.
    void PostProgress(TPhysicoLine* line, const std::string& text);
    // Logs the queued steps, in the order they came; on the worker thread only (elsewhere
    // nothing).
    void DeliverProgress();
    size_t LineCount() const { return Lines.size(); } // worker thread or after stop only

private:
    friend class TPhysicoLine;
    struct Item {
        int32_t Kind;
        TLCARequest* Request;
    };

    void Body();
    void HandleItem(const Item& item);
    void HandleRequest(int32_t kind, TLCARequest& request);
    // After the loop: refuse what is queued and end every task.
    void EndEverything();
    void EpollSet(int fd, uint32_t events, void* tag, bool add);

    TLCALogProc LogProc;
    std::vector<std::unique_ptr<TPhysicoLine>> Lines;
    bool Terminated = false;
    bool ServeAgain = false; // a transfer ended while the lines were served
    int32_t LastLineSerial = 0;
    int EpollFd = -1;
    int WakeFd = -1;

    std::mutex QueueMutex;
    std::deque<Item> Queue;
    bool Accepting = true; // false once the worker loop has ended
    std::mutex ProgressMutex;
    std::deque<std::pair<int32_t, std::string>> ProgressQueue; // line serial, text
    std::mutex StopMutex;
    std::thread Thread;
    std::thread::id WorkerId;
};

} // namespace qz

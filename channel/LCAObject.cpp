#include "channel/LCAObject.h"

#include "channel/LCAThread.h"

#include <condition_variable>
#include <memory>
#include <mutex>

namespace qz {
namespace {

// The module's worker and the client calls that are using it.
struct TModuleWorker {
    explicit TModuleWorker(TLCALogProc logProc) : Thread(std::move(logProc)) {}
    TLCAThread Thread;
    int Calls = 0; // guarded by gModuleMutex
};

std::mutex gModuleMutex;
std::condition_variable gModuleCv; // a call ended, or a finalisation did
std::shared_ptr<TModuleWorker> gWorker;
int gFinalizing = 0;

// One client call: holds the worker it started with until it returns, so that a worker
// being finalised is freed only after its last call has left it.
class TCall {
public:
    TCall() {
        std::lock_guard<std::mutex> lock(gModuleMutex);
        W = gWorker;
        if (W) ++W->Calls;
    }
    ~TCall() {
        if (!W) return;
        std::lock_guard<std::mutex> lock(gModuleMutex);
        if (--W->Calls == 0) gModuleCv.notify_all();
        // Let go while the lock is held: a finalisation that sees no call left then holds
        // the last reference, and the lines are freed before LCAFinalize returns.
        W.reset();
    }
    TCall(const TCall&) = delete;
    TCall& operator=(const TCall&) = delete;
    TLCAThread* operator->() const { return &W->Thread; }
    explicit operator bool() const { return W != nullptr; }

private:
    std::shared_ptr<TModuleWorker> W;
};

constexpr int32_t kNotInitialized = 2;

} // namespace

void LCAInitialize(TLCALogProc logProc) {
    std::unique_lock<std::mutex> lock(gModuleMutex);
    // A worker still being finalised may hold ports: the new one starts after it is gone.
    gModuleCv.wait(lock, [] { return gFinalizing == 0; });
    if (!gWorker) gWorker = std::make_shared<TModuleWorker>(std::move(logProc));
}

void LCAFinalize() {
    std::shared_ptr<TModuleWorker> worker;
    {
        std::lock_guard<std::mutex> lock(gModuleMutex);
        worker.swap(gWorker);
        if (!worker) return;
        ++gFinalizing;
    }
    // Stopping ends every task and answers every request with 2, so the calls in flight
    // return promptly; the lines (ports, sockets) are freed only after the last of them.
    worker->Thread.Stop();
    {
        std::unique_lock<std::mutex> lock(gModuleMutex);
        gModuleCv.wait(lock, [&] { return worker->Calls == 0; });
    }
    worker.reset();
    {
        std::lock_guard<std::mutex> lock(gModuleMutex);
        --gFinalizing;
    }
    gModuleCv.notify_all();
}

bool LCAIsInitialized() {
    std::lock_guard<std::mutex> lock(gModuleMutex);
    return gWorker != nullptr;
}

TLCAHandle LCAOpen(const TLCAParams& params, int32_t& error) {
    error = kNotInitialized;
    TCall w;
    if (!w) return kInvalidLCAHandle;
    if (params.Priority == 0) {
        error = lcaErrBadPriority;
        return kInvalidLCAHandle;
    }
    TLCAParams copy = params;
    TLCAHandle handle = kInvalidLCAHandle;
    error = w->RequestAndWait(lcaReqOpen, handle, &copy);
    return handle;
}

namespace {
int32_t Simple(int32_t kind, TLCAHandle handle, void* data = nullptr) {
    TCall w;
    if (!w) return kNotInitialized;
    return w->RequestAndWait(kind, handle, data);
}
} // namespace

int32_t LCAClose(TLCAHandle handle) {
    return Simple(lcaReqClose, handle);
}
int32_t LCAReleaseLock(TLCAHandle handle) {
    return Simple(lcaReqReleaseLock, handle);
}
int32_t LCAGetLastError(TLCAHandle handle) {
    return Simple(lcaReqLastError, handle);
}
int32_t LCACheckDevice(TLCAHandle handle) {
    return Simple(lcaReqCheckDevice, handle);
}

int32_t LCACancelTask(TLCAHandle handle) {
    return Simple(lcaReqCancel, handle);
}

int32_t LCAGetReconnectCount(TLCAHandle handle, uint32_t& count) {
    count = 0;
    uint32_t value = 0;
    const int32_t result = Simple(lcaReqReconnects, handle, &value);
    if (result == 0) count = value;
    return result;
}

int32_t LCASetPriority(TLCAHandle handle, uint8_t priority) {
    return Simple(lcaReqPriority, handle, &priority);
}

int32_t LCASetPriorityLock(TLCAHandle handle, bool locked) {
    uint8_t value = locked ? 1 : 0;
    return Simple(lcaReqPriorityLock, handle, &value);
}

int32_t LCAWrite(const void* buffer, uint32_t count, uint32_t& done, TEvent* event,
                 uint32_t timeoutMs, TLCAHandle handle) {
    done = 0;
    TCall w;
    if (!w) return kNotInitialized;
    // The worker only reads from the buffer of a write task.
    return w->Transfer(0, const_cast<void*>(buffer), timeoutMs, event, done, count, handle);
}

int32_t LCARead(void* buffer, uint32_t count, uint32_t& done, TEvent* event, uint32_t timeoutMs,
                TLCAHandle handle) {
    done = 0;
    TCall w;
    if (!w) return kNotInitialized;
    return w->Transfer(1, buffer, timeoutMs, event, done, count, handle);
}

// ---------------------------------------------------------------------------------------------

TLCAObject::TLCAObject(const TLCAParams& params) : Params(params) {
    Handle = LCAOpen(Params, OpenError);
}

TLCAObject::~TLCAObject() {
    if (IsValid()) LCAClose(Handle);
}

int32_t TLCAObject::GetLastError() const {
    return IsValid() ? LCAGetLastError(Handle) : OpenError;
}

int32_t TLCAObject::CancelTask() const {
    return IsValid() ? LCACancelTask(Handle) : 3;
}

int32_t TLCAObject::GetReconnectCount(uint32_t& count) const {
    count = 0;
    return IsValid() ? LCAGetReconnectCount(Handle, count) : 3;
}

int32_t TLCAObject::ReleaseLock() {
    return IsValid() ? LCAReleaseLock(Handle) : 3;
}

int32_t TLCAObject::Write(const void* buffer, uint32_t count, uint32_t& done, TEvent* event,
                          uint32_t timeoutMs) {
    done = 0;
    return IsValid() ? LCAWrite(buffer, count, done, event, timeoutMs, Handle) : 3;
}

int32_t TLCAObject::Read(void* buffer, uint32_t count, uint32_t& done, TEvent* event,
                         uint32_t timeoutMs) {
    done = 0;
    return IsValid() ? LCARead(buffer, count, done, event, timeoutMs, Handle) : 3;
}

} // namespace qz

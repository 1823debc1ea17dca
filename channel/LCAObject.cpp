#include "channel/LCAObject.h"

#include "channel/LCAThread.h"

#include <memory>
#include <mutex>

namespace qz {
namespace {

std::mutex gModuleMutex;
std::shared_ptr<TLCAThread> gWorker;

// The worker for one call; a call in flight keeps it alive even if the module is finalised.
std::shared_ptr<TLCAThread> Worker() {
    std::lock_guard<std::mutex> lock(gModuleMutex);
    return gWorker;
}

constexpr int32_t kNotInitialized = 2;

} // namespace

void LCAInitialize(TLCALogProc logProc) {
    std::lock_guard<std::mutex> lock(gModuleMutex);
    if (!gWorker) gWorker = std::make_shared<TLCAThread>(std::move(logProc));
}

void LCAFinalize() {
    std::shared_ptr<TLCAThread> worker;
    {
        std::lock_guard<std::mutex> lock(gModuleMutex);
        worker.swap(gWorker);
    }
    // The last reference (ours, unless a call is still in flight) runs the destructor.
}

bool LCAIsInitialized() {
    return Worker() != nullptr;
}

TLCAHandle LCAOpen(const TLCAParams& params, int32_t& error) {
    error = kNotInitialized;
    auto w = Worker();
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
    auto w = Worker();
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
    auto w = Worker();
    if (!w) return kNotInitialized;
    // The worker only reads from the buffer of a write task.
    return w->Transfer(0, const_cast<void*>(buffer), timeoutMs, event, done, count, handle);
}

int32_t LCARead(void* buffer, uint32_t count, uint32_t& done, TEvent* event, uint32_t timeoutMs,
                TLCAHandle handle) {
    done = 0;
    auto w = Worker();
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

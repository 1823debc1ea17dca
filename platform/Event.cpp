#include "platform/Event.h"

#include <chrono>

namespace qz {

void TEvent::Set() {
    // Notify while holding the lock: a waiter that sees the event set may destroy it as soon
    // as it returns (an event on the waiter's stack), so Set must be done with it by then.
    std::lock_guard<std::mutex> lock(mutex_);
    set_ = true;
    if (manualReset_)
        cv_.notify_all();
    else
        cv_.notify_one();
}

void TEvent::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    set_ = false;
}

bool TEvent::Wait(int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (timeoutMs < 0) {
        cv_.wait(lock, [this] { return set_; });
    } else if (!cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return set_; })) {
        return false;
    }
    if (!manualReset_) set_ = false;
    return true;
}

bool TEvent::IsSet() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return set_;
}

} // namespace qz

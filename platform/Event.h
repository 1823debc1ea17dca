// TEvent: an event object that one thread sets and others wait on.
//
// A manual-reset event stays set until Reset; an auto-reset event lets exactly one waiter
// through per Set and clears itself as that waiter returns.
#pragma once

#include <condition_variable>
#include <mutex>

namespace qz {

class TEvent {
public:
    explicit TEvent(bool manualReset, bool initiallySet = false)
        : manualReset_(manualReset), set_(initiallySet) {}
    TEvent(const TEvent&) = delete;
    TEvent& operator=(const TEvent&) = delete;

    void Set();
    void Reset();
    // Waits until the event is set or timeoutMs has passed (-1 = no limit). True when the
    // event was set; an auto-reset event is cleared by the waiter that gets through.
    bool Wait(int timeoutMs = -1);
    // The state without waiting and without clearing an auto-reset event.
    bool IsSet() const;

private:
    const bool manualReset_;
    bool set_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
};

} // namespace qz

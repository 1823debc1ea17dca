// The hand-over from the exchange threads to the window's thread. A thread queues a call and
// waits until the window's thread has run it; the channel worker's messages are queued without
// waiting. Only this queue, its lock and an eventfd cross the threads (not the toolkit's event
// queue), so the hand-over in both directions is plain to see for the thread checker. The
// window watches WakeFd() and drains the queue when it becomes readable.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace qz {

class TmonCallQueue {
public:
    // The thread that constructs the queue is the one that drains it. Throws when the system
    // gives no eventfd.
    TmonCallQueue();
    ~TmonCallQueue();
    TmonCallQueue(const TmonCallQueue&) = delete;
    TmonCallQueue& operator=(const TmonCallQueue&) = delete;

    // Readable while calls are queued.
    int WakeFd() const { return FWakeFd; }

    // Runs f on the draining thread and returns once it has run there (at once when called on
    // that thread). After Close() nothing runs and the call returns without waiting for ever.
    void Run(const std::function<void()>& f);
    // Queues f for the draining thread without waiting.
    void Post(std::function<void()> f);
    // On the draining thread: runs the queued calls in order and releases their callers; after
    // Close() it only releases them.
    void Drain();

    // From now on nothing queued runs: the waiting threads are released by the next Drain and
    // new calls return at once.
    void Close();
    bool Closed() const { return FClosed.load(); }

private:
    struct TCall;
    bool Enqueue(const std::shared_ptr<TCall>& call);

    const std::thread::id FOwner;
    int FWakeFd = -1;
    std::atomic<bool> FClosed{false};
    std::mutex FMutex;
    std::deque<std::shared_ptr<TCall>> FCalls;
};

} // namespace qz

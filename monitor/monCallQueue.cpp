#include "monitor/monCallQueue.h"

#include <cstdint>
#include <stdexcept>
#include <sys/eventfd.h>
#include <unistd.h>

namespace qz {

struct TmonCallQueue::TCall {
    const std::function<void()>* F = nullptr; // a caller waits for it
    std::function<void()> Posted;             // a call no one waits for
    bool Done = false;                        // under FMutex
    std::condition_variable Cv;
};

TmonCallQueue::TmonCallQueue() : FOwner(std::this_thread::get_id()) {
    FWakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (FWakeFd < 0) throw std::runtime_error("qzmonitor: no eventfd for the exchange threads");
}

TmonCallQueue::~TmonCallQueue() {
    ::close(FWakeFd);
}

bool TmonCallQueue::Enqueue(const std::shared_ptr<TCall>& call) {
    {
        std::lock_guard<std::mutex> lock(FMutex);
        if (FClosed.load()) return false;
        FCalls.push_back(call);
    }
    const uint64_t one = 1;
    ssize_t w = ::write(FWakeFd, &one, sizeof one);
    (void)w; // a full counter still wakes the drainer
    return true;
}

void TmonCallQueue::Run(const std::function<void()>& f) {
    if (FClosed.load()) return;
    if (std::this_thread::get_id() == FOwner) {
        f();
        return;
    }
    auto call = std::make_shared<TCall>();
    call->F = &f;
    if (!Enqueue(call)) return;
    std::unique_lock<std::mutex> lock(FMutex);
    call->Cv.wait(lock, [&call] { return call->Done; });
}

void TmonCallQueue::Post(std::function<void()> f) {
    if (FClosed.load()) return;
    auto call = std::make_shared<TCall>();
    call->Posted = std::move(f);
    Enqueue(call);
}

void TmonCallQueue::Drain() {
    uint64_t count = 0;
    ssize_t r = ::read(FWakeFd, &count, sizeof count);
    (void)r; // nothing to read when the closing loop drains
    for (;;) {
        std::shared_ptr<TCall> call;
        {
            std::lock_guard<std::mutex> lock(FMutex);
            if (FCalls.empty()) break;
            call = FCalls.front();
            FCalls.pop_front();
        }
        if (!FClosed.load()) {
            if (call->F)
                (*call->F)();
            else if (call->Posted)
                call->Posted();
        }
        {
            std::lock_guard<std::mutex> lock(FMutex);
            call->Done = true;
        }
        call->Cv.notify_all();
    }
}

void TmonCallQueue::Close() {
    std::lock_guard<std::mutex> lock(FMutex);
    FClosed = true;
}

} // namespace qz

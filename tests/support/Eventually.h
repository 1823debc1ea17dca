// Waiting on the real clock for something another thread does: the condition is polled until
// it holds or the generous bound has passed, so a test asserts on what happened and a loaded
// machine only makes it slower.
#pragma once

#include <chrono>
#include <thread>

namespace qz::test {

// Polls `done` every few milliseconds for up to `ms` milliseconds; says whether it holds.
template <class F> bool Eventually(F done, int ms = 5000) {
    using Clock = std::chrono::steady_clock;
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < until) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

} // namespace qz::test

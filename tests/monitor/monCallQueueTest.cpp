// The hand-over of calls from the exchange threads to the window's thread: calls run on the
// draining thread, in the order each thread made them, and their callers wait for them; the
// close releases a waiting caller without running its call.
#include "monitor/monCallQueue.h"

#include "tests/support/Eventually.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <atomic>
#include <thread>
#include <vector>

namespace qz {
namespace {

bool WakeReadable(const TmonCallQueue& q, int ms) {
    pollfd p{q.WakeFd(), POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

// Drains as the window does: whenever the wake descriptor is readable.
template <class F> bool DrainUntil(TmonCallQueue& q, F done) {
    return test::Eventually([&] {
        if (WakeReadable(q, 5)) q.Drain();
        return done();
    });
}

TEST(CallQueue, CallsRunOnTheDrainingThreadInOrderWhileTheirCallersWait) {
    TmonCallQueue q;
    const auto owner = std::this_thread::get_id();
    constexpr int kThreads = 4, kCalls = 50;
    // Plain data: only the queue's hand-over orders the accesses to it.
    int handled = 0, posted = 0, wrongThread = 0, outOfOrder = 0;
    int last[kThreads];
    std::vector<int> replies(kThreads, 0), wrongReplies(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        last[t] = -1;
        threads.emplace_back([&, t] {
            for (int i = 0; i < kCalls; ++i) {
                const int asked = t * 1000 + i; // written here, read on the draining thread
                q.Run([&, t, i] {
                    if (std::this_thread::get_id() != owner) ++wrongThread;
                    if (last[t] != i - 1) ++outOfOrder;
                    last[t] = i;
                    replies[t] = asked + 1;
                    ++handled;
                });
                // The call has run when Run returns: its answer is there.
                if (replies[t] != asked + 1) ++wrongReplies[t];
            }
            q.Post([&] { ++posted; });
        });
    }
    EXPECT_TRUE(DrainUntil(q, [&] { return handled == kThreads * kCalls && posted == kThreads; }));
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(wrongThread, 0);
    EXPECT_EQ(outOfOrder, 0);
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(wrongReplies[t], 0) << "thread " << t;
    // A caller may wake the window after its call was already taken: the next drain finds
    // nothing to run and leaves nothing to wake it for.
    q.Drain();
    EXPECT_FALSE(WakeReadable(q, 0));
}

TEST(CallQueue, OnTheDrainingThreadARunIsAtOnceAndAPostWaitsForTheDrain) {
    TmonCallQueue q;
    int ran = 0;
    q.Run([&] { ++ran; });
    EXPECT_EQ(ran, 1);
    EXPECT_FALSE(WakeReadable(q, 0));
    q.Post([&] { ran += 10; }); // the line log's message, reported from inside a handler
    EXPECT_EQ(ran, 1);
    EXPECT_TRUE(WakeReadable(q, 0));
    q.Drain();
    EXPECT_EQ(ran, 11);
}

TEST(CallQueue, CloseReleasesAWaitingCallerWithoutRunningItsCall) {
    TmonCallQueue q;
    std::atomic<int> ran{0};
    std::atomic<bool> returned{false};
    std::thread caller([&] {
        q.Run([&] { ++ran; });
        returned = true;
    });
    ASSERT_TRUE(WakeReadable(q, 10000)) << "the call was not queued";
    EXPECT_FALSE(returned.load()) << "the caller waits for the window";
    q.Close();
    EXPECT_TRUE(q.Closed());
    q.Drain();
    caller.join();
    EXPECT_TRUE(returned.load());
    // Later calls, from any thread, return at once and run nothing.
    std::thread late([&] {
        q.Run([&] { ++ran; });
        q.Post([&] { ++ran; });
    });
    late.join();
    q.Run([&] { ++ran; });
    q.Drain();
    EXPECT_EQ(ran.load(), 0);
}

} // namespace
} // namespace qz

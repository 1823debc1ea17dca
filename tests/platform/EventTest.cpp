#include "platform/Event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace qz {
namespace {

TEST(Event, ManualResetStaysSetUntilReset) {
    TEvent e(true);
    EXPECT_FALSE(e.Wait(0));
    e.Set();
    EXPECT_TRUE(e.Wait(0));
    EXPECT_TRUE(e.Wait(0)) << "a manual-reset event must stay set";
    e.Reset();
    EXPECT_FALSE(e.Wait(0));
}

TEST(Event, AutoResetLetsOneWaiterThrough) {
    TEvent e(false, true);
    EXPECT_TRUE(e.IsSet());
    EXPECT_TRUE(e.Wait(0));
    EXPECT_FALSE(e.IsSet());
    EXPECT_FALSE(e.Wait(0));
}

TEST(Event, WaitTimesOut) {
    TEvent e(true);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(e.Wait(30));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(25));
}

TEST(Event, SetFromAnotherThreadWakesEveryManualWaiter) {
    TEvent e(true);
    std::atomic<int> woke{0};
    std::thread a([&] { woke += e.Wait(5000); });
    std::thread b([&] { woke += e.Wait(5000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    e.Set();
    a.join();
    b.join();
    EXPECT_EQ(woke, 2);
}

TEST(Event, AutoResetWakesOneWaiterPerSet) {
    TEvent e(false);
    std::atomic<int> woke{0};
    std::thread a([&] { woke += e.Wait(300); });
    std::thread b([&] { woke += e.Wait(300); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    e.Set();
    a.join();
    b.join();
    EXPECT_EQ(woke, 1);
}

} // namespace
} // namespace qz

// Clocks that run a whole number of times faster than the real one, so that tests of the
// real threads against the simulated meter see many 3-second records in a few seconds: the
// threads' tick count and pauses, and the meter's own clock. Header-only.
#pragma once

#include "exchange/monExchangeThreads.h"
#include "simulator/MeterResponder.h"

#include <chrono>
#include <cstdint>
#include <thread>

namespace qz::test {

// The threads' clock: `factor` ticks a real millisecond, each pause `factor` times shorter.
inline TmonClock FastTicks(int factor) {
    using Steady = std::chrono::steady_clock;
    const auto t0 = Steady::now();
    TmonClock c;
    c.Ticks = [t0, factor] {
        return uint32_t(
            std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - t0).count() *
            factor);
    };
    c.Sleep = [factor](uint32_t ms) {
        std::this_thread::sleep_for(std::chrono::microseconds(ms * 1000 / factor));
    };
    return c;
}

// The meter's clock: `start` now, then `factor` seconds a real second.
inline TClockFn FastMeterClock(TDateTime start, int factor) {
    using Steady = std::chrono::steady_clock;
    const auto t0 = Steady::now();
    return [t0, start, factor] {
        const std::chrono::duration<double> real = Steady::now() - t0;
        return start + real.count() * factor / 86400.0;
    };
}

} // namespace qz::test

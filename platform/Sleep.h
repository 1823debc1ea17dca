// Sleeps of the channel layer go through a TSleeper so that tests can record the sequence of
// pauses (line pulses, handshakes, settling times) instead of waiting for them.
#pragma once

#include <cstdint>
#include <functional>

namespace qz {

using TSleeper = std::function<void(uint32_t ms)>;

// Really sleeps (restarting after signals until the whole time has passed).
void RealSleep(uint32_t ms);

} // namespace qz

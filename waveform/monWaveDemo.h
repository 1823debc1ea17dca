// Demo waveform blocks: what a meter sends for clean phase voltages and distorted currents, in
// the block layout of the waveform answer (interleaved 16-bit samples, then the gain byte with
// the neutral channels). Used by the screenshots and the benchmark.
#pragma once

#include <cstdint>
#include <vector>

namespace qz {

// A block of `samples` samples for every channel of `mask`, 64 samples a period. Voltages
// peak at `uPeak` and currents at `iPeak` sample units.
std::vector<uint8_t> DemoSignalBlock(bool hasNeutral, uint8_t mask, int samples, int uPeak,
                                     int iPeak);

} // namespace qz

// Generated trends for the pictures, the benchmarks and the demo: a network that drifts over
// the day the way a substation's does, sampled every few seconds.
#pragma once

#include "trends/monTrendSource.h"

#include <cstdint>
#include <vector>

namespace qz {

// `count` samples every `intervalSeconds` from `start`: voltages about 220 V that sag with the
// daytime load, currents that follow it, frequency about 50 Hz, distortion and unbalance of a
// few per cent, with some noise from `seed`. The same arguments give the same samples.
std::vector<TTrendSample> GenerateTrendSamples(TDateTime start, size_t count,
                                               double intervalSeconds, uint32_t seed);

// Settings such as a meter reports: 220/380 V nominal, deviation limits ±5 % (normal) and
// ±10 % (maximum), frequency ±0.2 / ±0.4 Hz, KU 8 / 12 %, K2 2 / 4 %.
TmonSettings DemoTrendSettings();

} // namespace qz

#include "waveform/monWaveDemo.h"

#include <cmath>

namespace qz {

std::vector<uint8_t> DemoSignalBlock(bool hasNeutral, uint8_t mask, int samples, int uPeak,
                                     int iPeak) {
    const double pi = std::acos(-1.0);
    const int bits = hasNeutral ? 8 : 6;
    const int firstVoltage = hasNeutral ? 1 : 0;
    const int firstCurrent = hasNeutral ? 4 : 3;
    std::vector<uint8_t> out;
    for (int i = 0; i < samples; ++i) {
        const double t = 2 * pi * i / 64;
        for (int b = 0; b < bits; ++b) {
            if (!(mask & (1u << b))) continue;
            double v = 0;
            if (b >= firstVoltage && b < firstVoltage + 3) {
                const double phase = t - 2 * pi / 3 * (b - firstVoltage);
                v = uPeak * std::sin(phase);
            } else if (b >= firstCurrent && b < firstCurrent + 3) {
                // Lagging by 30 degrees, with a fifth harmonic and a clipped top.
                const double phase = t - 2 * pi / 3 * (b - firstCurrent) - pi / 6;
                v = iPeak * (std::sin(phase) + 0.2 * std::sin(5 * phase));
                v = std::fmax(-0.95 * iPeak, std::fmin(0.95 * iPeak, v));
            } else if (b == 0) {
                v = uPeak * 0.03 * std::sin(3 * t); // " Un": a little third harmonic
            } else {
                v = iPeak * 0.3 * std::sin(3 * t - pi / 6); // " In"
            }
            const auto s = static_cast<uint16_t>(static_cast<int16_t>(std::lround(v)));
            out.push_back(uint8_t(s & 0xFF));
            out.push_back(uint8_t(s >> 8));
        }
    }
    if (hasNeutral) out.push_back(0); // gain 1 for every current channel
    return out;
}

} // namespace qz

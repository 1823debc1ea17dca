#include "trends/monTrendDemo.h"

#include <cmath>

namespace qz {

namespace {

// A small deterministic generator: the same seed draws the same noise on every machine.
struct TNoise {
    uint32_t State;
    double Next() { // -1 .. 1
        State = State * 1664525u + 1013904223u;
        return double(State >> 8) / double(1u << 23) - 1.0;
    }
};

} // namespace

std::vector<TTrendSample> GenerateTrendSamples(TDateTime start, size_t count,
                                               double intervalSeconds, uint32_t seed) {
    std::vector<TTrendSample> out;
    out.reserve(count);
    TNoise noise{seed ? seed : 1u};
    const double pi = 3.14159265358979323846;
    double slow = 0; // a wandering component, minutes long
    for (size_t i = 0; i < count; ++i) {
        TTrendSample s;
        const double sec = double(i) * intervalSeconds;
        s.Time = start + sec / 86400.0;
        const double dayPhase = std::fmod(s.Time, 1.0);
        // The load peaks in the afternoon; the voltage sags with it.
        const double load = 0.55 + 0.4 * std::sin(2 * pi * (dayPhase - 0.3));
        slow = 0.995 * slow + 0.05 * noise.Next();
        float* v = s.Value;
        v[tqF] =
            float(50.0 + 0.05 * std::sin(2 * pi * sec / 900.0) + 0.01 * noise.Next() + 0.02 * slow);
        const double uBase = 226.0 - 12.0 * load + 1.5 * slow;
        const double iBase = 1.0 + 3.5 * load;
        const double phaseU[3] = {0.0, -1.2, 0.8};
        const double phaseI[3] = {1.0, 0.92, 1.1};
        for (int ph = 0; ph < 3; ++ph) {
            v[tqUA + ph] = float(uBase + phaseU[ph] + 0.4 * noise.Next());
            v[tqIA + ph] = float(iBase * phaseI[ph] * (1 + 0.02 * noise.Next()));
            v[tqKUA + ph] = float(2.0 + 1.5 * load + 0.2 * ph + 0.1 * noise.Next());
            v[tqKIA + ph] = float(6.0 + 4.0 * load + 0.5 * ph + 0.3 * noise.Next());
        }
        v[tqUN] = float(1.5 + 0.6 * load + 0.1 * noise.Next());
        v[tqIN] = float(0.15 * iBase * (1 + 0.1 * noise.Next()));
        v[tqKUN] = float(8.0 + 2.0 * load + 0.2 * noise.Next());
        v[tqKIN] = float(20.0 + 5.0 * load + 0.5 * noise.Next());
        for (int ln = 0; ln < 3; ++ln)
            v[tqUAB + ln] =
                float(std::sqrt(3.0) * (uBase + 0.5 * (phaseU[ln] + phaseU[(ln + 1) % 3])) +
                      0.5 * noise.Next());
        const double cosPhi = 0.93 - 0.05 * load + 0.005 * noise.Next();
        double p = 0, q = 0, sSum = 0;
        for (int ph = 0; ph < 3; ++ph) {
            const double sPh = double(v[tqUA + ph]) * double(v[tqIA + ph]);
            sSum += sPh;
            p += sPh * cosPhi;
            q += sPh * std::sqrt(1 - cosPhi * cosPhi);
        }
        v[tqPSum] = float(p);
        v[tqQSum] = float(q);
        v[tqSSum] = float(sSum);
        v[tqCosSum] = float(cosPhi);
        v[tqK2] = float(0.6 + 0.4 * load + 0.05 * noise.Next());
        out.push_back(s);
    }
    return out;
}

TmonSettings DemoTrendSettings() {
    TmonSettings s;
    s.NominalPhaseVoltage = 220;
    s.NominalLineVoltage = 380;
    s.NominalFrequency = 50;
    s.NominalCurrent = 5;
    const float dev[4] = {10, 5, -10, -5};
    for (int i = 0; i < 4; ++i)
        s.PhaseVoltageLimits[i] = s.LineVoltageLimits[i] = dev[i];
    const float f[4] = {0.4f, 0.2f, -0.2f, -0.4f};
    for (int i = 0; i < 4; ++i)
        s.FrequencyLimits[i] = f[i];
    s.KULimits[0] = 8;
    s.KULimits[1] = 12;
    s.K2Limits[0] = 4;
    s.K2Limits[1] = 2;
    s.HasNeutral = 1;
    return s;
}

} // namespace qz

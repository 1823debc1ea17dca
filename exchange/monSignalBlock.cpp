#include "exchange/monSignalBlock.h"

#include "common/Assert.h"
#include "exchange/monStorage.h"

#include <cmath>
#include <limits>

namespace qz {

namespace {

int ClampToInt(double x) {
    if (!(x == x)) return 0;
    if (x >= double(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
    if (x <= double(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
    return int(x);
}

const TmonSignalChannelDef kChannels[11] = {
    {" Un", 1, 0xFFB071},  {" Uа", 2, 0x00FFFF},   {" Ub", 3, 0x00FF00},   {" Uc", 4, 0x0000FF},
    {" Iа", 5, 0x00CCFF},  {" Ib", 6, 0x008000},   {" Ic", 7, 0x8000FF},   {" In", 8, 0xCC0000},
    {" Uаb", 9, 0x004566}, {" Ubc", 10, 0xA0A0A0}, {" Uca", 11, 0x970097},
};
// Rows of the table used without the neutral channels.
const int kNoNeutralRows[9] = {1, 2, 3, 4, 5, 6, 8, 9, 10};

constexpr double kVoltageFactorA = 1.575;

} // namespace

int msTrunc(double x) {
    return ClampToInt(std::trunc(x));
}

int msRnd(double x) {
    return ClampToInt(std::nearbyint(x));
}

int SampleCountOfCode(int code) {
    return code >= 1 && code <= 5 ? 16 << code : 0;
}

double UCoefOf(double voltage) {
    if (std::fabs(voltage) < 0.0001) voltage = 3.8105099;
    return voltage * 1.224744871391589 * 100 / 32768;
}

double ICoefOf(double current, bool hasNeutral) {
    if (std::fabs(current) < 0.0001) current = 5.0;
    return hasNeutral ? current * 5 / 32768 : current * 2.1213203435596424 / 32768;
}

int ChannelItemCount(bool hasNeutral) {
    return hasNeutral ? 11 : 9;
}

int FirstLineItem(bool hasNeutral) {
    return hasNeutral ? 8 : 6;
}

int SignalChannelCount(bool hasNeutral) {
    return ChannelItemCount(hasNeutral);
}

const TmonSignalChannelDef& SignalChannel(bool hasNeutral, int item) {
    QZ_ASSERT(item >= 0 && item < SignalChannelCount(hasNeutral), "monSignalBlock");
    return kChannels[hasNeutral ? item : kNoNeutralRows[item]];
}

TmonRefillFactors RefillFactorsOf(bool hasNeutral, double voltageFactor, uint8_t gainByte,
                                  uint8_t inputConfig) {
    TmonRefillFactors f;
    const int voltages = hasNeutral ? 4 : 3;
    for (int b = 0; b < voltages; ++b)
        f.Coef[b] = voltageFactor;
    if (hasNeutral) {
        const double twice = inputConfig == 3 || inputConfig == 4 ? 2.0 : 1.0;
        for (int c = 0; c < 4; ++c) {
            const int g = (gainByte >> (2 * c)) & 3;
            f.Coef[4 + c] = twice / double(1 << (2 * g));
        }
    }
    return f;
}

void RefillExperiment(TSigExperiment* exp, bool hasNeutral, const uint8_t* data, int32_t size,
                      uint8_t mask, uint8_t code, const TmonRefillFactors& factors,
                      const bool lineChecked[3]) {
    if (!exp) return;
    for (TSigChannel* ch : exp->Channels)
        ChanelClear(ch);
    const int n = SampleCountOfCode(code);
    if (n == 0 || !data || size <= 0) return;
    const int bits = hasNeutral ? 8 : 6;
    auto channel = [exp](int item) -> TSigChannel* {
        return item < int(exp->Channels.size()) ? exp->Channels[size_t(item)] : nullptr;
    };
    // The gain byte at the end is no sample.
    const int32_t sampleBytes = hasNeutral ? size - 1 : size;
    const int ua = hasNeutral ? 1 : 0;
    const int first = FirstLineItem(hasNeutral);
    const int lines[3][2] = {{ua, ua + 1}, {ua + 1, ua + 2}, {ua + 2, ua}};
    int phase[3] = {0, 0, 0}; // rounded Uа, Ub, Uc of the current sample
    int32_t offset = 0;
    for (int i = 0; i < n; ++i) {
        for (int b = 0; b < bits; ++b) {
            if (!(mask & (1u << b))) continue;
            if (offset + 2 > sampleBytes) return; // a short block: what it held is stored
            const int16_t raw = int16_t(uint16_t(data[offset] | (data[offset + 1] << 8)));
            offset += 2;
            const int v = msRnd(raw * factors.Coef[b]);
            ChanelSett(channel(b), uint32_t(i), v + 32768, 0);
            if (b >= ua && b < ua + 3) phase[b - ua] = v;
        }
        for (int l = 0; l < 3; ++l) {
            if (!lineChecked[l]) continue;
            const int a = phase[lines[l][0] - ua];
            const int c = phase[lines[l][1] - ua];
            // Kept to the 16-bit range as the phases are: an overload reads as the edge.
            ChanelSett(channel(first + l), uint32_t(i), a - c + 32768, 0);
        }
    }
}

TmonSignalExperiment::TmonSignalExperiment(bool hasNeutral) : FHasNeutral(hasNeutral) {
    ExpCreate(&FExp, "", 1);
    QZ_ASSERT(FExp, "monSignalBlock");
    FExp->Reserved359 = 0;
    FExp->BackgroundColour = kSigSystemWindowColour;
    FExp->ChannelMask = hasNeutral ? 255 : 63;
    FExp->SizeCode = 2;
    for (int i = 0; i < SignalChannelCount(hasNeutral); ++i) {
        const TmonSignalChannelDef& c = SignalChannel(hasNeutral, i);
        ExpAddChanel(FExp, 0, 0, c.Name, 1, "QZ", 1, c.Number, c.Colour);
    }
}

TmonSignalExperiment::~TmonSignalExperiment() {
    ExpDestroy(&FExp);
}

void TmonSignalExperiment::Refill(const TmonStorage& storage, uint8_t mask, uint8_t code,
                                  bool modelIsA, const bool lineChecked[3]) {
    const uint8_t* data = storage.SignalData;
    const int32_t size = data ? storage.SignalSize : 0;
    const uint8_t gain = FHasNeutral && size > 0 ? data[size - 1] : 0;
    const TmonRefillFactors f = RefillFactorsOf(FHasNeutral, modelIsA ? kVoltageFactorA : 1.0, gain,
                                                storage.Settings.InputConfig);
    RefillExperiment(FExp, FHasNeutral, data, size, mask, code, f, lineChecked);
}

} // namespace qz

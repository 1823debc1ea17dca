#include "waveform/monSignalControl.h"
#include "exchange/monStorage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace qz;

namespace {

// Little-endian signed samples followed by an optional gain byte.
std::vector<uint8_t> Block(const std::vector<int16_t>& samples, int gain = -1) {
    std::vector<uint8_t> b;
    for (int16_t s : samples) {
        b.push_back(uint8_t(uint16_t(s) & 0xFF));
        b.push_back(uint8_t(uint16_t(s) >> 8));
    }
    if (gain >= 0) b.push_back(uint8_t(gain));
    return b;
}

int Signed(const TSigExperiment* exp, int item, int i) {
    return int(ChanelGet(exp->Channels[size_t(item)], uint32_t(i), nullptr, 0, nullptr)) - 32768;
}

const bool kNoLines[3] = {false, false, false};

// Records what the control asks of the window.
class FakeWindow : public ImsSignalWindow {
public:
    std::vector<std::string> Calls;
    bool Checked[11] = {true, true, true, true, true, true, true, true, true, true, true};
    std::string Busy = "-";
    double Voltage = -1, Current = -1;
    int Quant = -1, Zoom = 0, UFull = 0, IFull = 0;

    void SetFullScales(int u, int i) override {
        UFull = u;
        IFull = i;
        Calls.push_back("SetFullScales");
    }
    void RemovePointCountItem(int index) override {
        Calls.push_back("Remove" + std::to_string(index));
    }
    void SetQuantCount(int q) override {
        Quant = q;
        Calls.push_back("SetQuantCount");
    }
    void SetZoom(int z) override {
        Zoom = z;
        Calls.push_back("SetZoom");
    }
    void ShowWindow() override { Calls.push_back("Show"); }
    void Schet() override { Calls.push_back("Schet"); }
    void FormResize() override { Calls.push_back("FormResize"); }
    void SetScales(double v, double c) override {
        Voltage = v;
        Current = c;
        Calls.push_back("SetScales");
    }
    void FormRis() override { Calls.push_back("FormRis"); }
    bool ItemChecked(int item) const override { return Checked[item]; }
    std::string BusyCaption() const override { return Busy; }
    void SetBusyCaption(const std::string& c) override { Busy = c; }
    double UCoef() const override { return 0; }
    double ICoef() const override { return 0; }
};

} // namespace

TEST(SignalChannels, NineWithoutNeutralSkipUnAndIn) {
    TmonSignalControl n(true);
    EXPECT_EQ(n.Experiment()->ChannelCount(), 11);
    EXPECT_EQ(n.Experiment()->ChannelMask.load(), 255);
    TmonSignalControl w(false);
    const TSigExperiment* f = w.Experiment();
    ASSERT_EQ(f->ChannelCount(), 9);
    EXPECT_EQ(f->ChannelMask.load(), 63);
    const int numbers[9] = {2, 3, 4, 5, 6, 7, 9, 10, 11};
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(f->Channels[size_t(i)]->Number, numbers[i]) << i;
}

TEST(SignalRefill, InterleavingByMaskWithoutNeutral) {
    TmonSignalControl c(false);
    TSigExperiment* e = c.Experiment();
    // Mask: Uа (bit 0), Uc (bit 2), Ib (bit 4); code 1 = 32 samples.
    std::vector<int16_t> s;
    for (int i = 0; i < 32; ++i) {
        s.push_back(int16_t(100 + i));
        s.push_back(int16_t(-200 - i));
        s.push_back(int16_t(i * 3));
    }
    const auto b = Block(s);
    const TmonRefillFactors f = RefillFactorsOf(false, 1.0, 0, 0);
    RefillExperiment(e, false, b.data(), int32_t(b.size()), 0x15, 1, f, kNoLines);
    EXPECT_EQ(ExpGetQuantCount(e), 32u);
    EXPECT_EQ(Signed(e, 0, 0), 100);
    EXPECT_EQ(Signed(e, 2, 0), -200);
    EXPECT_EQ(Signed(e, 4, 0), 0);
    EXPECT_EQ(Signed(e, 0, 31), 131);
    EXPECT_EQ(Signed(e, 2, 31), -231);
    EXPECT_EQ(Signed(e, 4, 31), 93);
    EXPECT_EQ(e->Channels[1]->SampleCount(), 0u) << "Ub was not asked for";
    EXPECT_EQ(e->Channels[3]->SampleCount(), 0u);
}

TEST(SignalRefill, FactorsFromGainByteAndInputConfig) {
    TmonRefillFactors f = RefillFactorsOf(true, 1.575, 0b11100100, 0);
    EXPECT_DOUBLE_EQ(f.Coef[0], 1.575);
    EXPECT_DOUBLE_EQ(f.Coef[3], 1.575);
    EXPECT_DOUBLE_EQ(f.Coef[4], 1.0);      // Iа: g = 0
    EXPECT_DOUBLE_EQ(f.Coef[5], 1.0 / 4);  // Ib: g = 1
    EXPECT_DOUBLE_EQ(f.Coef[6], 1.0 / 16); // Ic: g = 2
    EXPECT_DOUBLE_EQ(f.Coef[7], 1.0 / 64); // In: g = 3
    for (uint8_t config : {3, 4}) {
        f = RefillFactorsOf(true, 1.0, 0b11100100, config);
        EXPECT_DOUBLE_EQ(f.Coef[4], 2.0);
        EXPECT_DOUBLE_EQ(f.Coef[7], 2.0 / 64);
        EXPECT_DOUBLE_EQ(f.Coef[1], 1.0) << "voltages are not doubled";
    }
    f = RefillFactorsOf(true, 1.0, 0xFF, 2);
    EXPECT_DOUBLE_EQ(f.Coef[4], 1.0 / 64);
    f = RefillFactorsOf(false, 1.575, 0xFF, 3);
    EXPECT_DOUBLE_EQ(f.Coef[2], 1.575);
    EXPECT_DOUBLE_EQ(f.Coef[3], 1.0) << "without neutral the currents keep 1";
    EXPECT_DOUBLE_EQ(f.Coef[5], 1.0);
}

TEST(SignalRefill, NeutralBlockUsesTheLastByteAndRounds) {
    TmonSignalControl c(true);
    FakeWindow w;
    TmonStorage st;
    st.Settings.InputConfig = 3;
    st.Settings.VoltageRatio = 2.5f;
    st.Settings.NominalCurrent = 1.0f;
    // Mask: Uа (bit 1) and Ib (bit 5); Ib gain 1 (bits 3-2), input config 3: 2 / 4.
    std::vector<int16_t> s;
    for (int i = 0; i < 32; ++i) {
        s.push_back(int16_t(1001));
        s.push_back(int16_t(-7));
    }
    const auto b = Block(s, 0b00000100);
    st.SignalData = b.data();
    st.SignalSize = int32_t(b.size());
    c.OnSignalData(w, st, 0x22, 1, true);
    const TSigExperiment* e = c.Experiment();
    EXPECT_EQ(Signed(e, 1, 5), 1577) << "rnd(1001 * 1.575) = rnd(1576.575)";
    EXPECT_EQ(Signed(e, 5, 5), -4) << "rnd(-7 * 0.5) = rnd(-3.5) = -4 (half to even)";
    EXPECT_EQ(Signed(e, 5, 31), -4);
    EXPECT_DOUBLE_EQ(w.Voltage, 2.5);
    EXPECT_DOUBLE_EQ(w.Current, 1.0);
    EXPECT_EQ(w.Quant, 32);

    c.OnSignalData(w, st, 0x22, 1, false);
    EXPECT_EQ(Signed(e, 1, 5), 1001) << "other models: voltage factor 1";
}

TEST(SignalRefill, LineVoltagesForTickedItems) {
    TmonSignalControl c(true);
    TSigExperiment* e = c.Experiment();
    // Mask: Uа, Ub, Uc (bits 1..3); code 1.
    std::vector<int16_t> s;
    for (int i = 0; i < 32; ++i) {
        s.push_back(int16_t(30000));
        s.push_back(int16_t(-30000));
        s.push_back(int16_t(5));
    }
    const auto b = Block(s, 0);
    const bool lines[3] = {true, false, true};
    RefillExperiment(e, true, b.data(), int32_t(b.size()), 0x0E, 1,
                     RefillFactorsOf(true, 1.0, 0, 0), lines);
    // Uаb = 60000: 60000 + 32768 = 92768, kept to the 16-bit range.
    EXPECT_EQ(ChanelGet(e->Channels[8], 3, nullptr, 0, nullptr), 65535);
    EXPECT_EQ(e->Channels[9]->SampleCount(), 0u) << "Ubc not ticked";
    EXPECT_EQ(Signed(e, 10, 3), 5 - 30000) << "Uca = Uc - Uа";

    // A phase that is not asked for counts as 0.
    std::vector<int16_t> t;
    for (int i = 0; i < 32; ++i)
        t.push_back(int16_t(-1234)); // Ub only
    const auto b2 = Block(t, 0);
    const bool bc[3] = {false, true, false};
    RefillExperiment(e, true, b2.data(), int32_t(b2.size()), 0x04, 1,
                     RefillFactorsOf(true, 1.0, 0, 0), bc);
    EXPECT_EQ(Signed(e, 9, 0), -1234);
    EXPECT_EQ(e->Channels[8]->SampleCount(), 0u) << "cleared before the refill";
}

TEST(SignalRefill, ALineVoltageBeyondTheRangeStaysAtItsEdgeAndNeverWrapsAround) {
    TmonSignalControl c(true);
    TSigExperiment* e = c.Experiment();
    // With the voltage factor 1.575 a phase of 22222 counts 35000 (already at the edge of the
    // 16-bit range); Uа - Ub = 70000 and Uc - Uа = -70000 are beyond it by more than a whole
    // turn of 65536: an overload must read as the top or the bottom, not as some 4464.
    std::vector<int16_t> s;
    for (int i = 0; i < 32; ++i) {
        s.push_back(int16_t(22222));
        s.push_back(int16_t(-22222));
        s.push_back(int16_t(-22222));
    }
    const auto b = Block(s, 0);
    const bool lines[3] = {true, false, true};
    RefillExperiment(e, true, b.data(), int32_t(b.size()), 0x0E, 1,
                     RefillFactorsOf(true, 1.575, 0, 0), lines);
    EXPECT_EQ(ChanelGet(e->Channels[1], 3, nullptr, 0, nullptr), 65535);
    EXPECT_EQ(ChanelGet(e->Channels[8], 3, nullptr, 0, nullptr), 65535) << "Uаb = 70000";
    EXPECT_EQ(ChanelGet(e->Channels[10], 3, nullptr, 0, nullptr), 0) << "Uca = -70000";
}

TEST(SignalRefill, LineVoltageWithoutNeutralUsesItemsSixToEight) {
    TmonSignalControl c(false);
    TSigExperiment* e = c.Experiment();
    std::vector<int16_t> s;
    for (int i = 0; i < 32; ++i) {
        s.push_back(int16_t(400));
        s.push_back(int16_t(100));
    }
    const auto b = Block(s);
    const bool lines[3] = {true, true, false};
    RefillExperiment(e, false, b.data(), int32_t(b.size()), 0x03, 1,
                     RefillFactorsOf(false, 1.0, 0, 0), lines);
    EXPECT_EQ(Signed(e, 6, 0), 300); // Uаb
    EXPECT_EQ(Signed(e, 7, 0), 100); // Ubc with Uc = 0
    EXPECT_EQ(e->Channels[8]->SampleCount(), 0u);
}

TEST(SignalRefill, BadCodeClearsShortBlockStopsAtItsEnd) {
    TmonSignalControl c(false);
    TSigExperiment* e = c.Experiment();
    std::vector<int16_t> s(32 * 6, 77);
    auto b = Block(s);
    RefillExperiment(e, false, b.data(), int32_t(b.size()), 63, 1, RefillFactorsOf(false, 1, 0, 0),
                     kNoLines);
    ASSERT_EQ(ExpGetQuantCount(e), 32u);
    RefillExperiment(e, false, b.data(), int32_t(b.size()), 63, 6, RefillFactorsOf(false, 1, 0, 0),
                     kNoLines);
    EXPECT_EQ(ExpGetQuantCount(e), 0u) << "code 6: every channel cleared";
    for (const TSigChannel* ch : e->Channels)
        EXPECT_EQ(ch->SampleCount(), 0u);

    // Seven values for a block that should hold 32 * 6: no read past its end.
    std::vector<uint8_t> shortBlock(b.begin(), b.begin() + 15);
    RefillExperiment(e, false, shortBlock.data(), int32_t(shortBlock.size()), 63, 1,
                     RefillFactorsOf(false, 1, 0, 0), kNoLines);
    EXPECT_EQ(e->Channels[0]->SampleCount(), 2u);
    EXPECT_EQ(e->Channels[1]->SampleCount(), 1u);
    EXPECT_EQ(e->Channels[5]->SampleCount(), 1u);
    RefillExperiment(e, false, nullptr, 100, 63, 1, RefillFactorsOf(false, 1, 0, 0), kNoLines);
    EXPECT_EQ(ExpGetQuantCount(e), 0u);
}

TEST(SignalControl, OpenSetsUpTheWindowInOrder) {
    TmonSignalControl n(true);
    FakeWindow w;
    n.Open(w);
    const std::vector<std::string> want = {"SetFullScales", "Remove4", "SetQuantCount", "SetZoom",
                                           "Show",          "Schet",   "FormResize"};
    EXPECT_EQ(w.Calls, want);
    EXPECT_EQ(w.UFull, 111409);
    EXPECT_EQ(w.IFull, 65535);
    EXPECT_EQ(w.Zoom, 4);
    EXPECT_EQ(w.Quant, 0);

    TmonSignalControl o(false);
    FakeWindow v;
    o.Open(v);
    EXPECT_EQ(v.Calls.size(), 6u) << "no item removed without neutral";
}

TEST(SignalControl, BlockWithBadCodeStillRedrawsAndTurnsTheIndicator) {
    TmonSignalControl c(false);
    FakeWindow w;
    TmonStorage st;
    const auto b = Block(std::vector<int16_t>(64, 5));
    st.SignalData = b.data();
    st.SignalSize = int32_t(b.size());
    c.OnSignalData(w, st, 63, 9, false);
    const std::vector<std::string> want = {"SetScales", "SetQuantCount", "Schet", "FormRis"};
    EXPECT_EQ(w.Calls, want);
    EXPECT_EQ(w.Quant, 0);
    EXPECT_EQ(w.Busy, "\\");
    c.OnSignalData(w, st, 63, 1, false);
    EXPECT_EQ(w.Busy, "|");
    w.Busy = "busy";
    c.OnSignalData(w, st, 63, 1, false);
    EXPECT_EQ(w.Busy, "busy");
}

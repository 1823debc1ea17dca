// The main window's side of the waveform display, without widgets: the experiment with its
// channels, the refill of the experiment from each waveform block, and the order in which the
// waveform window is set up and redrawn. The window is reached through ImsSignalWindow so the
// sequence can be checked with a fake window.
#pragma once

#include "sigcalc/sigcalc.h"

#include <cstdint>
#include <string>

namespace qz {

struct TmonStorage;

// One channel of the experiment: its name (UTF-8, with the leading space), number and colour
// (0x00BBGGRR).
struct TmonSignalChannelDef {
    const char* Name;
    int32_t Number;
    uint32_t Colour;
};

// Channels in item order: 11 with the neutral channels, 9 without (no " Un" and " In").
int SignalChannelCount(bool hasNeutral);
const TmonSignalChannelDef& SignalChannel(bool hasNeutral, int item);

// Full scales the main window gives a new window, in sample units.
constexpr int kmonUFullScale = 111409;
constexpr int kmonIFullScale = 65535;

// Per-channel factors of one block, by mask bit.
struct TmonRefillFactors {
    double Coef[8] = {1, 1, 1, 1, 1, 1, 1, 1};
};

// The factors of a block: the voltage factor for the voltage bits; with neutral, the current
// bits 4..7 get 1/4^g from the gain byte (2 bits per channel, " Iа" lowest), doubled for the
// input configurations 3 and 4; without neutral the currents keep 1.
TmonRefillFactors RefillFactorsOf(bool hasNeutral, double voltageFactor, uint8_t gainByte,
                                  uint8_t inputConfig);

// Refills the experiment's channels from a waveform block: every channel cleared, then for
// each sample the requested channels in mask-bit order, and the ticked line voltages
// (`lineChecked[0..2]`: " Uаb", " Ubc", " Uca") from their phases. Reads never go past
// `size` bytes: a short block fills what it holds. A code outside 1..5 only clears.
void RefillExperiment(TSigExperiment* exp, bool hasNeutral, const uint8_t* data, int32_t size,
                      uint8_t mask, uint8_t code, const TmonRefillFactors& factors,
                      const bool lineChecked[3]);

// What the control needs from the waveform window.
class ImsSignalWindow {
public:
    virtual ~ImsSignalWindow() = default;
    virtual void SetFullScales(int uFullScale, int iFullScale) = 0;
    virtual void RemovePointCountItem(int index) = 0;
    virtual void SetQuantCount(int quantCount) = 0;
    virtual void SetZoom(int zoom) = 0;
    virtual void ShowWindow() = 0;
    virtual void Schet() = 0;
    virtual void FormResize() = 0;
    virtual void SetScales(double voltage, double current) = 0;
    virtual void FormRis() = 0;
    // Check state of channel item `item`.
    virtual bool ItemChecked(int item) const = 0;
    virtual std::string BusyCaption() const = 0;
    virtual void SetBusyCaption(const std::string& caption) = 0;
    // Volts and amperes per sample unit, as the window scales them.
    virtual double UCoef() const = 0;
    virtual double ICoef() const = 0;
};

// Owns the experiment while "Сигнал" is on.
class TmonSignalControl {
public:
    // Creates the experiment with its channels (mask 255 or 63, code 2).
    explicit TmonSignalControl(bool hasNeutral);
    ~TmonSignalControl();
    TmonSignalControl(const TmonSignalControl&) = delete;
    TmonSignalControl& operator=(const TmonSignalControl&) = delete;

    TSigExperiment* Experiment() const { return FExp; }
    bool HasNeutral() const { return FHasNeutral; }

    // Sets up a newly created window and shows it.
    void Open(ImsSignalWindow& w);
    // A waveform block is in `storage`: refill, rescale, redraw, advance the busy indicator.
    // `modelIsA` selects the voltage factor of the "(A)" models.
    void OnSignalData(ImsSignalWindow& w, const TmonStorage& storage, uint8_t mask, uint8_t code,
                      bool modelIsA);

private:
    TSigExperiment* FExp = nullptr;
    bool FHasNeutral;
};

} // namespace qz

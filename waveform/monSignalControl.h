// The main window's side of the waveform display, without widgets: the experiment refilled
// from each waveform block (exchange/monSignalBlock.h), and the order in which the waveform
// window is set up and redrawn. The window is reached through ImsSignalWindow so the
// sequence can be checked with a fake window.
#pragma once

#include "exchange/monSignalBlock.h"

#include <cstdint>
#include <string>

namespace qz {

// Full scales the main window gives a new window, in sample units.
constexpr int kmonUFullScale = 111409;
constexpr int kmonIFullScale = 65535;

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

    TSigExperiment* Experiment() const { return FExp.Get(); }
    bool HasNeutral() const { return FExp.HasNeutral(); }

    // Sets up a newly created window and shows it.
    void Open(ImsSignalWindow& w);
    // A waveform block is in `storage`: refill, rescale, redraw, advance the busy indicator.
    // `modelIsA` selects the voltage factor of the "(A)" models.
    void OnSignalData(ImsSignalWindow& w, const TmonStorage& storage, uint8_t mask, uint8_t code,
                      bool modelIsA);

private:
    TmonSignalExperiment FExp;
};

} // namespace qz

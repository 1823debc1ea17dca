// The waveform window as the main window sees it: the window itself (monWaveformView.h)
// plugs in through a factory the main window is given.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

class QWidget;

namespace qz {

struct TmonStorage;
struct TSigExperiment;

class ImonWaveformView {
public:
    virtual ~ImonWaveformView() = default;
    // The signal library's experiment the waveform thread reads its mask and size code from.
    virtual TSigExperiment* Experiment() const = 0;
    // The factors that turn stored samples into amperes and volts (for the CSV file).
    virtual double CurrentFactor() const = 0;
    virtual double VoltageFactor() const = 0;
    // A waveform block is in the storage; its data is valid during the call only.
    virtual void OnSignalData(const TmonStorage& storage, uint8_t channelMask,
                              uint8_t sizeCode) = 0;
};

// Creates the waveform window for the current meter, owned by `owner`; `modelIsA` tells,
// whenever asked, whether the owner's current meter is an "(A)" model.
using TmonWaveformFactory = std::function<std::unique_ptr<ImonWaveformView>(
    QWidget* owner, bool hasNeutral, std::function<bool()> modelIsA)>;

} // namespace qz

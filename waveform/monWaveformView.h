// The waveform display as the main window plugs it in: the experiment and its control, and
// the waveform window, created together when "Сигнал" is switched on and freed together
// (the window first, then the experiment) when it is switched off.
#pragma once

#include "waveform/monMultiSignal.h"
#include "waveform/monSignalControl.h"
#include "waveform/monWaveformViewIntf.h"

#include <QPointer>

#include <functional>
#include <memory>

namespace qz {

class TmonWaveformView : public ImonWaveformView {
public:
    // `modelIsA` tells whether the current meter is an "(A)" model (voltage factor 1.575);
    // `switchOff` unticks "Сигнал" (the window's close button and Esc).
    TmonWaveformView(QWidget* owner, bool hasNeutral, std::function<bool()> modelIsA,
                     std::function<void()> switchOff);
    ~TmonWaveformView() override;

    TSigExperiment* Experiment() const override { return FControl.Experiment(); }
    double CurrentFactor() const override;
    double VoltageFactor() const override;
    void OnSignalData(const TmonStorage& storage, uint8_t channelMask, uint8_t sizeCode) override;

    TWMultiSignal* Window() const { return FWindow; }
    TmonSignalControl& Control() { return FControl; }

private:
    TmonSignalControl FControl; // declared first: the experiment outlives the window
    QPointer<TWMultiSignal> FWindow;
    std::function<bool()> FModelIsA;
};

// The factory the main window is given (a TmonWaveformFactory): the owner is the main window,
// whose "Сигнал" box is unticked when the waveform window is closed; without `modelIsA` the
// meter counts as no "(A)" model.
std::unique_ptr<ImonWaveformView> MakeWaveformView(QWidget* owner, bool hasNeutral,
                                                   std::function<bool()> modelIsA = nullptr);

} // namespace qz

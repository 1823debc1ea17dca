// The waveform window without a display, for those who follow the display's sequence only to
// read the samples (qzcli's CSV, the tests): every channel ticked, line voltages too, and the
// scale factors that turn stored samples into volts and amperes. The factors are read on
// another thread than the one that sets them, hence the lock.
#pragma once

#include "waveform/monSignalControl.h"

#include <mutex>
#include <string>

namespace qz {

class TmonHeadlessSignalWindow : public ImsSignalWindow {
public:
    explicit TmonHeadlessSignalWindow(bool neutral) : Neutral(neutral) {}
    void SetFullScales(int, int) override {}
    void RemovePointCountItem(int) override {}
    void SetQuantCount(int) override {}
    void SetZoom(int) override {}
    void ShowWindow() override {}
    void Schet() override {}
    void FormResize() override {}
    void SetScales(double voltage, double current) override;
    void FormRis() override {}
    bool ItemChecked(int) const override { return true; }
    std::string BusyCaption() const override;
    void SetBusyCaption(const std::string& caption) override;
    double UCoef() const override;
    double ICoef() const override;

private:
    const bool Neutral;
    mutable std::mutex Mutex;
    double U = 0, I = 0;
    std::string Busy = "-";
};

} // namespace qz

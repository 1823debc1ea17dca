#include "waveform/monHeadlessSignalWindow.h"

#include "waveform/monWaveMath.h"

namespace qz {

void TmonHeadlessSignalWindow::SetScales(double voltage, double current) {
    std::lock_guard<std::mutex> lock(Mutex);
    U = UCoefOf(voltage);
    I = ICoefOf(current, Neutral);
}

std::string TmonHeadlessSignalWindow::BusyCaption() const {
    std::lock_guard<std::mutex> lock(Mutex);
    return Busy;
}

void TmonHeadlessSignalWindow::SetBusyCaption(const std::string& caption) {
    std::lock_guard<std::mutex> lock(Mutex);
    Busy = caption;
}

double TmonHeadlessSignalWindow::UCoef() const {
    std::lock_guard<std::mutex> lock(Mutex);
    return U;
}

double TmonHeadlessSignalWindow::ICoef() const {
    std::lock_guard<std::mutex> lock(Mutex);
    return I;
}

} // namespace qz

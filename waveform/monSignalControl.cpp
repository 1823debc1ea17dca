#include "waveform/monSignalControl.h"

#include "exchange/monStorage.h"
#include "waveform/monWaveMath.h"

namespace qz {

TmonSignalControl::TmonSignalControl(bool hasNeutral) : FExp(hasNeutral) {}

void TmonSignalControl::Open(ImsSignalWindow& w) {
    w.SetFullScales(kmonUFullScale, kmonIFullScale);
    if (HasNeutral())
        w.RemovePointCountItem(4); // the models with neutral offer no 512-sample block
    w.SetQuantCount(int(ExpGetQuantCount(Experiment())));
    w.SetZoom(4);
    w.ShowWindow();
    w.Schet();
    w.FormResize();
}

void TmonSignalControl::OnSignalData(ImsSignalWindow& w, const TmonStorage& storage, uint8_t mask,
                                     uint8_t code, bool modelIsA) {
    const int first = FirstLineItem(HasNeutral());
    const bool lines[3] = {w.ItemChecked(first), w.ItemChecked(first + 1),
                           w.ItemChecked(first + 2)};
    FExp.Refill(storage, mask, code, modelIsA, lines);
    w.SetScales(storage.Settings.VoltageRatio, storage.Settings.NominalCurrent);
    w.SetQuantCount(int(ExpGetQuantCount(Experiment())));
    w.Schet();
    w.FormRis();
    w.SetBusyCaption(NextBusyCaption(w.BusyCaption().c_str()));
}

} // namespace qz

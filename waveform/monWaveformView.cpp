#include "waveform/monWaveformView.h"

#include <QCheckBox>

namespace qz {

TmonWaveformView::TmonWaveformView(QWidget* owner, bool hasNeutral, std::function<bool()> modelIsA,
                                   std::function<void()> switchOff)
    : FControl(hasNeutral), FModelIsA(std::move(modelIsA)) {
    FWindow = new TWMultiSignal(owner, FControl.Experiment(), hasNeutral);
    FWindow->OnCloseRequest = std::move(switchOff);
    FControl.Open(*FWindow);
}

TmonWaveformView::~TmonWaveformView() {
    delete FWindow.data();
}

double TmonWaveformView::CurrentFactor() const {
    return FWindow ? FWindow->ICoef() : 0.0;
}

double TmonWaveformView::VoltageFactor() const {
    return FWindow ? FWindow->UCoef() : 0.0;
}

void TmonWaveformView::OnSignalData(const TmonStorage& storage, uint8_t channelMask,
                                    uint8_t sizeCode) {
    if (!FWindow) return;
    FControl.OnSignalData(*FWindow, storage, channelMask, sizeCode, FModelIsA && FModelIsA());
}

std::unique_ptr<ImonWaveformView> MakeWaveformView(QWidget* owner, bool hasNeutral,
                                                   std::function<bool()> modelIsA) {
    QPointer<QWidget> o(owner);
    // Queued: unticking frees the window, which must not happen inside its own key or
    // close handler.
    auto switchOff = [o] {
        if (!o) return;
        QMetaObject::invokeMethod(
            o.data(),
            [o] {
                if (!o) return;
                if (auto* box = o->findChild<QCheckBox*>("ChkViewSinus")) box->setChecked(false);
            },
            Qt::QueuedConnection);
    };
    return std::make_unique<TmonWaveformView>(owner, hasNeutral, modelIsA, switchOff);
}

} // namespace qz

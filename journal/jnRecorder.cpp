#include "journal/jnRecorder.h"

namespace qz {

TjnRecorder::TjnRecorder(TjnWriter& journal, TmonSharedStorage& storage, IExchangeListener* next)
    : FJournal(journal), FStorage(storage), FNext(next) {}

void TjnRecorder::Failed(const std::string& error) {
    if (!FError.empty()) return;
    FError = error;
    if (OnFailure) OnFailure(error);
}

void TjnRecorder::OnAnswer(const TmonAnswer& a) {
    {
        std::lock_guard<std::mutex> lock(FMutex);
        if (FError.empty()) {
            std::string error;
            bool ok = true;
            const TDateTime now = Now();
            switch (a.Kind) {
            case TmonAnswerKind::TimeParams:
                // Kept until it leads to a settings read; only then does it matter.
                FTimeParams.assign(a.Data, a.Data + a.Size);
                FCycleTime = a.MeterTime;
                break;
            case TmonAnswerKind::Settings:
                ok = FJournal.AddAnswer(TjnAnswerKind::TimeParams, FCycleTime, now,
                                        FTimeParams.data(), FTimeParams.size(), error) &&
                     FJournal.AddAnswer(TjnAnswerKind::Settings, FCycleTime, now, a.Data, a.Size,
                                        error);
                break;
            case TmonAnswerKind::ScaleKoeffs:
                ok = FJournal.AddAnswer(TjnAnswerKind::ScaleKoeffs, FCycleTime, now, a.Data, a.Size,
                                        error);
                break;
            case TmonAnswerKind::Record3sec:
                // Written with its decoded values once the exchange has decoded it.
                FRecord.assign(a.Data, a.Data + a.Size);
                FRecordTime = a.MeterTime;
                FHaveRecord = true;
                break;
            case TmonAnswerKind::Signal:
                ok = FJournal.AddWaveform(a.MeterTime, now, a.ChannelMask, a.SizeCode, a.Data,
                                          a.Size, error);
                if (ok) ++FWaveforms;
                break;
            }
            if (!ok) Failed(error);
        }
    }
    if (FNext) FNext->OnAnswer(a);
}

void TjnRecorder::OnData3sec() {
    {
        std::lock_guard<std::mutex> lock(FMutex);
        if (FError.empty() && FHaveRecord) {
            const TmonData3sec decoded = FStorage.Snapshot().Data3sec;
            std::string error;
            if (FJournal.AddRecord(FRecordTime, Now(), FRecord.data(), FRecord.size(), decoded,
                                   error))
                ++FRecords;
            else
                Failed(error);
        }
        FHaveRecord = false;
    }
    if (FNext) FNext->OnData3sec();
}

void TjnRecorder::OnExchangeEnd(int32_t errorCode, int32_t deviceStatus) {
    if (FNext) FNext->OnExchangeEnd(errorCode, deviceStatus);
}

void TjnRecorder::OnSignalData(uint8_t channelMask, uint8_t sizeCode) {
    if (FNext) FNext->OnSignalData(channelMask, sizeCode);
}

void TjnRecorder::OnSignalEnd(int32_t errorCode, int32_t deviceStatus) {
    if (FNext) FNext->OnSignalEnd(errorCode, deviceStatus);
}

int64_t TjnRecorder::Records() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FRecords;
}

int64_t TjnRecorder::Waveforms() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FWaveforms;
}

std::string TjnRecorder::Error() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FError;
}

} // namespace qz

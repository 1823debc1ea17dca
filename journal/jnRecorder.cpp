#include "journal/jnRecorder.h"

namespace qz {

TjnRecorder::TjnRecorder(TjnWriter& journal, TmonSharedStorage& storage, IExchangeListener* next)
    : FJournal(&journal), FStorage(storage), FNext(next) {}

void TjnRecorder::Failed(const std::string& error) {
    if (!FError.empty()) return;
    FError = error;
    if (OnFailure) OnFailure(error);
}

bool TjnRecorder::BeforeItem(TDateTime, std::string&) {
    return true;
}

bool TjnRecorder::WriteAnswer(TjnAnswerKind kind, const std::vector<uint8_t>& data,
                              TDateTime meterTime, TDateTime now, std::string& error) {
    return FJournal->AddAnswer(kind, meterTime, now, data.data(), data.size(), error);
}

bool TjnRecorder::SwitchTo(TjnWriter& next, std::string& error) {
    FJournal = &next;
    const TDateTime now = Now();
    if (FSettings.Have &&
        (!WriteAnswer(TjnAnswerKind::TimeParams, FSettingsTimeParams.Data,
                      FSettingsTimeParams.MeterTime, now, error) ||
         !WriteAnswer(TjnAnswerKind::Settings, FSettings.Data, FSettings.MeterTime, now, error)))
        return false;
    return !FScale.Have ||
           WriteAnswer(TjnAnswerKind::ScaleKoeffs, FScale.Data, FScale.MeterTime, now, error);
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
                FSettingsTimeParams = {true, FTimeParams, FCycleTime};
                FSettings = {true, std::vector<uint8_t>(a.Data, a.Data + a.Size), FCycleTime};
                ok = WriteAnswer(TjnAnswerKind::TimeParams, FTimeParams, FCycleTime, now, error) &&
                     WriteAnswer(TjnAnswerKind::Settings, FSettings.Data, FCycleTime, now, error);
                break;
            case TmonAnswerKind::ScaleKoeffs:
                FScale = {true, std::vector<uint8_t>(a.Data, a.Data + a.Size), FCycleTime};
                ok = WriteAnswer(TjnAnswerKind::ScaleKoeffs, FScale.Data, FCycleTime, now, error);
                break;
            case TmonAnswerKind::Record3sec:
                // Written with its decoded values once the exchange has decoded it.
                FRecord.assign(a.Data, a.Data + a.Size);
                FRecordTime = a.MeterTime;
                FHaveRecord = true;
                break;
            case TmonAnswerKind::Signal:
                ok = FJournal->AddWaveform(a.MeterTime, now, a.ChannelMask, a.SizeCode, a.Data,
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
        // The same record read again (the first poll after a reconnect may get the record
        // already stored) is not stored twice.
        const bool repeated = FHaveLast && FRecordTime == FLastRecordTime;
        if (FError.empty() && FHaveRecord && !repeated) {
            const TmonData3sec decoded = FStorage.Snapshot().Data3sec;
            std::string error;
            if (BeforeItem(FRecordTime, error) &&
                FJournal->AddRecord(FRecordTime, Now(), FRecord.data(), FRecord.size(), decoded,
                                    error)) {
                ++FRecords;
                FHaveLast = true;
                FLastRecordTime = FRecordTime;
            } else {
                Failed(error);
            }
        }
        FHaveRecord = false;
    }
    if (FNext) FNext->OnData3sec();
}

void TjnRecorder::BeginOutage(int32_t code, int32_t status, const std::string& text) {
    std::lock_guard<std::mutex> lock(FMutex);
    FHaveRecord = false; // a record the failed exchange did not finish is not stored later
    if (!FError.empty()) return;
    std::string error;
    if (!FJournal->BeginOutage(Now(), FHaveLast ? FLastRecordTime : 0, code, status, text, error))
        Failed(error);
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

// Keeps everything the exchange threads read in a journal. It stands between the exchange
// threads and their listener: every call is recorded first and then passed on, so whatever
// the listener shows has already been committed.
#pragma once

#include "exchange/monExchangeThreads.h"
#include "journal/jnJournal.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace qz {

class TjnRecorder : public IExchangeListener {
public:
    // `storage` is the one the threads fill (the decoded record is taken from it); `next`
    // may be nullptr. The journal must be open.
    TjnRecorder(TjnWriter& journal, TmonSharedStorage& storage, IExchangeListener* next);

    // Called once, on the exchange thread, when a write fails; the caller normally stops the
    // exchange. Nothing further is written after a failure.
    std::function<void(const std::string&)> OnFailure;
    // The local time of each item; this computer's clock unless a test sets it.
    std::function<TDateTime()> Now = &NowDateTime;

    void OnData3sec() override;
    void OnExchangeEnd(int32_t errorCode, int32_t deviceStatus) override;
    void OnSignalData(uint8_t channelMask, uint8_t sizeCode) override;
    void OnSignalEnd(int32_t errorCode, int32_t deviceStatus) override;
    void OnAnswer(const TmonAnswer& answer) override;

    int64_t Records() const;
    int64_t Waveforms() const;
    // The first write failure ("" while there is none).
    std::string Error() const;

private:
    void Failed(const std::string& error);
    TjnWriter& FJournal;
    TmonSharedStorage& FStorage;
    IExchangeListener* FNext;
    mutable std::mutex FMutex; // the two exchange threads write in turn
    std::vector<uint8_t> FTimeParams, FRecord;
    TDateTime FCycleTime = 0, FRecordTime = 0;
    bool FHaveRecord = false;
    int64_t FRecords = 0, FWaveforms = 0;
    std::string FError;
};

} // namespace qz

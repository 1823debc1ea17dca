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

    // An exchange failed and polling will be tried again: an outage begins now, after the
    // last record stored (the poll loop calls this; a failure during an outage continues it).
    // The next record stored ends it at its local time.
    void BeginOutage(int32_t code, int32_t status, const std::string& text);

    int64_t Records() const;
    int64_t Waveforms() const;
    // The first write failure ("" while there is none).
    std::string Error() const;

protected:
    // For a recording spread over several journals: called under the recorder's lock with
    // the meter time of each record before it is stored (blocks go to the journal of the
    // records about them). Returns false with the
    // text in `error` when the journal cannot go on.
    virtual bool BeforeItem(TDateTime meterTime, std::string& error);
    // Goes on in `next` (open, empty): the time parameters, settings and scale coefficients
    // in force are written to it first, so that its records decode without the journal
    // before. Called from BeforeItem.
    bool SwitchTo(TjnWriter& next, std::string& error);
    TjnWriter& Journal() { return *FJournal; }
    std::mutex& Mutex() const { return FMutex; }

private:
    void Failed(const std::string& error);
    bool WriteAnswer(TjnAnswerKind kind, const std::vector<uint8_t>& data, TDateTime meterTime,
                     TDateTime now, std::string& error);
    TjnWriter* FJournal;
    TmonSharedStorage& FStorage;
    IExchangeListener* FNext;
    mutable std::mutex FMutex; // the two exchange threads write in turn
    std::vector<uint8_t> FTimeParams, FRecord;
    TDateTime FCycleTime = 0, FRecordTime = 0;
    // The answers in force, kept for the next journal of a series.
    struct TInForce {
        bool Have = false;
        std::vector<uint8_t> Data;
        TDateTime MeterTime = 0;
    };
    TInForce FSettingsTimeParams, FSettings, FScale;
    bool FHaveRecord = false;
    bool FHaveLast = false;
    TDateTime FLastRecordTime = 0; // meter time of the last record stored
    int64_t FRecords = 0, FWaveforms = 0;
    std::string FError;
};

} // namespace qz

// Recording from the main window: while "Запись" is on and the meter is polled, everything
// the exchange threads read goes into a journal of its own. The recording sits between the
// exchange threads and the window; the journal is written on the exchange threads, and the
// window only opens and closes it.
#pragma once

#include "exchange/monCsvExport.h" // RecordingFolder
#include "exchange/monExchangeThreads.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qz {

class TccnConnection;
class TjnWriter;
class TjnRecorder;

// What the caption adds while recording: the journal's name (without its folder) and the
// number of records written.
std::string RecordingCaption(const std::string& fileName, int64_t records);

class TmonRecording : public IExchangeListener {
public:
    // `storage` is the one the threads fill; `next` hears every call after the journal.
    TmonRecording(TmonSharedStorage& storage, IExchangeListener* next);
    ~TmonRecording() override;

    // Creates a new journal for the connection in `folder` (made when missing). False with
    // the operator's text; nothing is recorded then.
    bool Start(const std::string& folder, const TccnConnection& connection, std::string& error);
    // Closes the journal; the failure text ("" when the recording went well, or none ran).
    std::string Stop();
    bool Active() const;
    // The journal being written, or the last one written.
    std::string FileName() const;
    int64_t Records() const;

    // Called once per journal, on the exchange thread and outside every lock of the
    // recording, when a write failed: the journal's name and the operator's text. Nothing
    // more is written to that journal. By the time the call is handled the journal may have
    // been stopped, or another one started: the name tells them apart.
    std::function<void(const std::string& fileName, const std::string& text)> OnFailure;
    // The local time of the journal's name and items; this computer's clock unless set.
    std::function<TDateTime()> Now = &NowDateTime;

    void OnData3sec() override;
    void OnExchangeEnd(int32_t errorCode, int32_t deviceStatus) override;
    void OnSignalData(uint8_t channelMask, uint8_t sizeCode) override;
    void OnSignalEnd(int32_t errorCode, int32_t deviceStatus) override;
    void OnAnswer(const TmonAnswer& answer) override;

private:
    // Runs `f` under the lock with the recorder (nullptr while not recording), then tells of
    // a new failure.
    template <class F> void Record(F&& f);

    TmonSharedStorage& FStorage;
    IExchangeListener* FNext;
    mutable std::mutex FMutex; // the window opens and closes, the exchange threads write
    std::unique_ptr<TjnWriter> FWriter;
    std::unique_ptr<TjnRecorder> FRecorder;
    std::string FFileName;
    bool FFailureTold = false;
    // The answers in force for the poll that runs, so that a journal started in the middle
    // of it holds the settings its records are decoded with.
    struct TKept {
        bool Have = false;
        std::vector<uint8_t> Data;
        TDateTime MeterTime = 0;
    };
    TKept FTimeParams, FSettingsTimeParams, FSettings, FScale;
};

} // namespace qz

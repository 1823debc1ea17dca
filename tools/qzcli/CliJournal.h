// qzcli and the recording journal: recording while polling (poll --record FILE), and the
// commands that read a journal (info, export).
#pragma once

#include "exchange/monCsvExport.h"
#include "exchange/monExchangeThreads.h"

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace qz {

class TccnConnection;
class TjnWriter;
class TjnRecorder;
class TjnRotatingRecorder;
enum class TjnRotation;

// True for the commands that read a journal ("info", "export").
bool IsJournalCommand(const std::string& command);
// Their part of `qzcli --help`.
std::string CliJournalHelpText();

// Runs `info FILE...`, `export FILE... ...` or `salvage BROKEN NEW` (the arguments after the
// program name); several journals of one meter are read as one recording. Exit status:
// 0, 1 for a journal that cannot be read or an export that failed, 2 for wrong arguments.
int RunJournalCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                      const TmonCsvOptions& csv = TmonCsvOptions());

// A recording that runs beside a poll: the recorder sits between the exchange threads and
// the printing listener. One journal (Open) or a series of them in a folder (OpenSeries).
class TCliRecording : public IExchangeListener {
public:
    TCliRecording(TmonSharedStorage& storage, IExchangeListener* next);
    ~TCliRecording() override;
    // What the exchange threads are to call (valid before the journal is opened).
    IExchangeListener* Listener();
    // Creates the journal for the connection. False with the operator's text.
    bool Open(const std::string& fileName, const TccnConnection& connection, std::string& error);
    // Starts a series of journals in `folder` (made when missing), a new one at each of the
    // meter's midnights (Mondays for a week). False with the operator's text.
    bool OpenSeries(const std::string& folder, TjnRotation rotation,
                    const TccnConnection& connection, std::string& error);
    // TjnWriter::SetCommitInterval of the journals (set before Open or OpenSeries).
    void SetCommitInterval(double seconds) { FCommitSeconds = seconds; }
    // An exchange failed and polling will be tried again: the journal keeps the outage until
    // the next record.
    void BeginOutage(int32_t code, int32_t status, const std::string& text);
    // The polling thread, whose error text the journal keeps with an outage.
    void SetPollingThread(const TExchangeThread* thread);
    // Called once when a write fails (the poll then stops).
    void OnFailure(std::function<void()> stop);
    // Closes the journal; the failure text ("" when the recording went well).
    std::string Finish();
    // The journal being written (of a series: the current one).
    std::string FileName() const;

    void OnData3sec() override;
    void OnExchangeEnd(int32_t errorCode, int32_t deviceStatus) override;
    void OnSignalData(uint8_t channelMask, uint8_t sizeCode) override;
    void OnSignalEnd(int32_t errorCode, int32_t deviceStatus) override;
    void OnAnswer(const TmonAnswer& answer) override;
    // An outage of the polling begins in the journal before the listener hears of it.
    void OnOutage(int32_t errorCode, int32_t deviceStatus, uint32_t retryMs) override;
    void OnSignalOutage(int32_t errorCode, int32_t deviceStatus, uint32_t retryMs) override;

private:
    TmonSharedStorage& FStorage;
    IExchangeListener* FNext;
    std::unique_ptr<TjnWriter> FWriter;
    std::unique_ptr<TjnRecorder> FRecorder;
    TjnRotatingRecorder* FSeries = nullptr; // FRecorder, when it writes a series
    std::function<void()> FStop;
    double FCommitSeconds = 0;
    const TExchangeThread* FPolling = nullptr;
    std::string FFileName;
};

// Meter times given on the command line: "YYYY-MM-DD HH:MM:SS" or "DD.MM.YYYY HH:MM:SS"
// (seconds and the whole time may be left out).
bool ParseCliTime(const std::string& text, TDateTime& out);
// Makes bounds given to the second take in the whole seconds they name (the record times
// carry milliseconds); the open bounds kjnAnyTimeFrom/To stay as they are.
void WidenToWholeSeconds(TDateTime& from, TDateTime& to);

} // namespace qz

// qzcli and the recording journal: recording while polling (poll --record FILE), and the
// commands that read a journal (info, export).
#pragma once

#include "exchange/monCsvExport.h"
#include "exchange/monExchangeThreads.h"
#include "journal/jnSeries.h"

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

// True for the commands that read a journal ("info", "export").
bool IsJournalCommand(const std::string& command);
// Their part of `qzcli --help`.
std::string CliJournalHelpText();

// Runs `info FILE` or `export FILE ...` (the arguments after the program name). Exit status:
// 0, 1 for a journal that cannot be read or an export that failed, 2 for wrong arguments.
int RunJournalCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                      const TmonCsvOptions& csv = TmonCsvOptions());

// A recording that runs beside a poll: the recorder sits between the exchange threads and
// the printing listener. An outage of the polling begins an outage in the journal before the
// printer hears of it.
class TCliRecording {
public:
    TCliRecording(TmonSharedStorage& storage, IExchangeListener* next);
    ~TCliRecording();
    // What the exchange threads are to call.
    IExchangeListener* Listener();
    // The polling thread, whose error text the journal keeps with an outage.
    void SetPollingThread(const TExchangeThread* thread);
    // Creates the journal for the connection: one file, or the first of a series in a
    // folder, a new one at each of the meter's midnights (week: Mondays). False with the
    // operator's text. Before the threads start.
    bool Open(const std::string& fileName, const TccnConnection& connection, std::string& error);
    bool OpenSeries(const std::string& folder, TjnRotation rotation,
                    const TccnConnection& connection, std::string& error);
    // Called once when a write fails (the poll then stops).
    void OnFailure(std::function<void()> stop);
    // Closes the journal; the failure text ("" when the recording went well).
    std::string Finish();

private:
    class TFront;
    TmonSharedStorage& FStorage;
    IExchangeListener* FNext;
    std::unique_ptr<TjnWriter> FWriter;           // one file
    std::unique_ptr<TjnRotatingRecorder> FSeries; // or a series
    std::unique_ptr<TjnRecorder> FSingle;
    TjnRecorder* FRecorder = nullptr; // whichever records
    std::unique_ptr<TFront> FFront;
    std::string FFileName;
};

// Meter times given on the command line: "YYYY-MM-DD HH:MM:SS" or "DD.MM.YYYY HH:MM:SS"
// (seconds and the whole time may be left out).
bool ParseCliTime(const std::string& text, TDateTime& out);

} // namespace qz

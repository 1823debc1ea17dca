// The command line of qzcli.
#pragma once

#include "channel/LCAObject.h"
#include "channel/LCATrace.h"
#include "channel/LCATraceFormat.h"
#include "journal/jnSeries.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qz {

struct TCliOptions {
    enum class TCommand { None, Help, Version, Connections, Poll };
    TCommand Command = TCommand::None;

    // Both commands.
    std::string SettingsFile; // empty: the monitor's own settings file

    // connections
    bool Text = false; // print the list's text stream form

    // poll: where the meter is. Exactly one of Id, Model (+ Tcp or Com) or Demo.
    int32_t Id = -1;
    std::string Model; // "qz2", "qz2m", ... (also selects the demo's model)
    int32_t Factory = 0;
    std::string TcpHost;
    uint16_t TcpPort = 0;
    std::string ComPort; // "COM3"
    uint32_t Baud = 115200;
    bool Demo = false;
    std::string DemoLog; // the demo simulator's request/answer log

    // poll: what to do with the records.
    int64_t Count = 0; // 0: until stopped
    bool Json = false;
    bool Csv = false;
    std::string CsvDir;     // empty: the documents product folder; made when missing
    char Decimal = 0;       // '.' or ',': the CSV's decimal separator; 0: the user's locale
    bool Signal = false;    // also read waveforms; the CSV then holds the last block
    std::string RecordFile; // a new journal that keeps everything read (empty: none)
    // A series of journals, a new one at the meter's midnight, in RecordDir (empty: the
    // recordings folder of the documents folder).
    bool RecordSeries = false;
    std::string RecordDir;
    TjnRotation Rotate = TjnRotation::Day; // Week: a new journal on Monday 00:00 of the meter
    // Journal items gathered into one commit for at most this long (0: each commits at once).
    uint32_t CommitEverySec = 0;
    // A failed exchange is an outage: the line is opened again after 3 s, doubling each
    // time up to ReconnectMaxSec; polling ends only at a stop or the count.
    bool Reconnect = false;
    uint32_t ReconnectMaxSec = 60;
    // A trace of the line: the file ("-" for stderr; empty: none) and the classes it takes.
    std::string TraceFile;
    uint8_t TraceMask = kTraceAllClasses;
    uint32_t TraceBytes = kLCADefaultDumpLimit; // bytes of a task a dump lists; 0: every byte
    // Megabytes before the trace file is rotated; 0: no limit.
    uint32_t TraceSizeMb = uint32_t(kTraceDefaultFileBytes >> 20);
};

// Parses the arguments after the program name. False with a message in `error` (Russian,
// for the operator) for anything it cannot take.
bool ParseCliArgs(const std::vector<std::string>& args, TCliOptions& out, std::string& error);

std::string CliHelpText();

} // namespace qz

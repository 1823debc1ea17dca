// What every program that records a journal says about the meter and about a failed write:
// the meter row taken from the connection, and the operator's text for a write failure.
#pragma once

#include "journal/jnJournal.h"

#include <string>

namespace qz {

class TccnConnection;

// The summary of a connection's mode: port and speed, modem numbers, or IP address and port.
std::string ConModeSummary(const TccnConnection& connection);

// The meter row of a journal that `program` ("qzcli", "qzmonitor") records over `connection`,
// started now by this computer's clock. The row names the program with its version.
TjnMeter JournalMeterOf(const TccnConnection& connection, const std::string& program);

// What `info` says recorded a journal: "qzmonitor 0.1.0.0". Journals made before the row
// named the program hold only the version, and say so.
std::string RecordingProgramText(const TjnMeter& meter);

// "Ошибка записи журнала FILE: REASON".
std::string JournalWriteErrorText(const std::string& fileName, const std::string& reason);

} // namespace qz

// What qzcli prints: a record as one JSON object or as a table row, and the stored
// connections as rows.
#pragma once

#include "exchange/monRecordJson.h"
#include "exchange/monStorage.h"
#include "journal/jnMeterOf.h" // ConModeSummary

#include <ostream>
#include <string>

namespace qz {

class TccnConnection;
class TccnConnectionList;

// "ДД.ММ.ГГГГ ЧЧ:ММ:СС", as the tables and messages show times.
std::string CliTimeText(TDateTime time);

// Writes a command-line error with the pointer to the help and gives the status of a misuse (2).
int CliUsageError(std::ostream& err, const std::string& text);

// A readable table of the main values: the header line and one row per record. The phase
// voltages and currents are the fundamentals (U1, I1); the powers and cosφ are the totals of
// the whole signal.
std::string RecordTableHeader(bool neutral);
std::string RecordTableRow(const TmonData3sec& data, bool neutral);

// The journal's CSV export, one line per record: the header line ("Время", then one column
// per field element named like "U_A, В", "KI_A, %", "KUn_A(2), %") and a record's line.
// Lines end in CR LF and are UTF-8 (the caller converts to code page 1251). The cells of
// the fourth channel are empty when `neutral` is false.
std::string RecordCsvHeader(bool harmonics);
std::string RecordCsvLine(const TmonData3sec& data, bool harmonics, bool neutral,
                          const std::string& time, char decimalSeparator);

// The stored list, one row per connection, "*" marking the selected one.
std::string ConnectionRows(const TccnConnectionList& list, int32_t selectedId);

} // namespace qz

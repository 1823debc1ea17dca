// What qzcli prints: a record as one JSON object or as a table row, and the stored
// connections as rows.
#pragma once

#include "exchange/monRecordJson.h"
#include "exchange/monStorage.h"
#include "journal/jnMeterOf.h" // ConModeSummary

#include <string>

namespace qz {

class TccnConnection;
class TccnConnectionList;

// "ДД.ММ.ГГГГ ЧЧ:ММ:СС", as the tables and messages show times.
std::string CliTimeText(TDateTime time);

// A readable table of the main values: the header line and one row per record.
std::string RecordTableHeader(bool neutral);
std::string RecordTableRow(const TmonData3sec& data, bool neutral);

// The stored list, one row per connection, "*" marking the selected one.
std::string ConnectionRows(const TccnConnectionList& list, int32_t selectedId);

} // namespace qz

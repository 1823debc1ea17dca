// qzcli report: the power-quality protocol of one meter's journals, as JSON, CSV or PDF; and
// the export of interval rows made the way the protocol makes them.
#pragma once

#include "exchange/monCsvExport.h"
#include "report/rpProtocol.h"

#include <ostream>
#include <string>
#include <vector>

namespace qz {

bool IsReportCommand(const std::string& command);
std::string CliReportHelpText();

// Runs `report FILE... [options]` (the arguments after the program name). `pdf` renders the
// protocol (empty: this build has no PDF). Exit status: 0; 1 for journals that cannot be
// read or a file that cannot be written; 2 for wrong arguments or a bad limits file.
int RunReportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                     const TmonCsvOptions& csv, const TrpPdfWriter& pdf);

// The rows of `export FILE... --csv OUT --interval 10min|1h` into `target`. False with the
// operator's text.
bool ExportIntervalRows(const std::vector<std::string>& journals, const std::string& target,
                        TDateTime from, TDateTime to, int intervalSeconds,
                        const TmonCsvOptions& csv, int64_t& rows, std::string& error);

} // namespace qz

namespace qz {
// The PDF renderer this build of qzcli has (empty without the Qt painting classes).
TrpPdfWriter CliPdfWriter();
} // namespace qz

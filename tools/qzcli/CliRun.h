// The two commands of qzcli, runnable in-process (the program's main and the tests).
#pragma once

#include "tools/qzcli/CliOptions.h"

#include "settings/monIniFile.h"

#include <cstdint>
#include <memory>
#include <ostream>

namespace qz {

class TccnConnection;
class TccnConnectionList;

// The settings file the options name, or the monitor's own.
TmonIniFile OpenSettings(const TCliOptions& options);
// Loads the stored list; an absent list is an empty one, a damaged one is reported in `err`.
bool LoadList(const TmonIniFile& settings, TccnConnectionList& list, std::ostream& err);
// A connection to a meter given on the command line: over TCP when `host` is given, else
// over the options' COM port.
std::unique_ptr<TccnConnection> MakeConnection(int modelIndex, int32_t factory,
                                               const TCliOptions& options, const std::string& host,
                                               uint16_t port);

// Prints the stored connections. Exit status: 0, or 1 when the file cannot be read.
int RunConnections(const TCliOptions& options, std::ostream& out, std::ostream& err);

// Polls the meter until the count is reached, the exchange fails, or `stopFd` (a descriptor
// that becomes readable when the user asks to stop; -1 for none) fires. Exit status: 0 for
// a count reached or a user stop, 1 for an exchange that ended with an error or a CSV file
// that could not be written (polling stops at once then), 2 for a connection that cannot be
// used.
int RunPoll(const TCliOptions& options, std::ostream& out, std::ostream& err, int stopFd);

} // namespace qz

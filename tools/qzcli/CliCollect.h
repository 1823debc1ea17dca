// qzcli collect: the collector's configuration file and the command that runs it.
#pragma once

#include "collector/colPublisher.h"
#include "journal/jnSeries.h"
#include "tools/qzcli/CliOptions.h"

#include <ostream>
#include <string>
#include <vector>

namespace qz {

// The configuration, one setting per line ("key = value"; "#" begins a comment):
//   name = station-7                 the collector's name in its status topic
//   recordings = /var/lib/qzmonitor  the journals, a folder per meter (required)
//   rotate = day | week              a new journal each day (week) of the meter; day
//   reconnect-max = 60               the longest wait between reconnections, s
//   settings = FILE                  the settings file of "meter = --id N"
//   mqtt = mqtt://host:port | mqtts://host:port   the broker (none: recording only)
//   mqtt-prefix, mqtt-ca, mqtt-cert, mqtt-key, mqtt-user, mqtt-password-file
//   meter = --id N                   a stored connection, or inline as for poll:
//   meter = --model qz2m --factory 1234 --tcp 10.0.0.5:5000 | --com COM3 [--baud B]
struct TCollectMeterLine {
    int Line = 0;
    std::string Text;    // the options as written, the meter's key
    TCliOptions Options; // where the meter is
};
struct TCollectConfig {
    std::string Name;
    std::string RecordingsDir;
    TjnRotation Rotation = TjnRotation::Day;
    uint32_t ReconnectMaxSec = 60;
    std::string SettingsFile;
    bool HaveMqtt = false;
    TcolMqttOptions Mqtt;
    std::vector<TCollectMeterLine> Meters;
};

// False with "Строка N: ..." (or the whole file's fault) in `error`; takes any bytes.
bool ParseCollectConfig(const std::string& text, TCollectConfig& config, std::string& error);

// `collect --config FILE [--mqtt URL]`: runs until SIGTERM or SIGINT arrive on `signalFd`
// (a signalfd), reloading the file at SIGHUP. Exit status: 0 after a stop, 2 for a
// configuration or options that cannot be used (nothing starts then).
int RunCollect(const std::vector<std::string>& args, std::ostream& err, int signalFd);
std::string CollectHelpText();

} // namespace qz

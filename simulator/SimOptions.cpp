#include "simulator/SimOptions.h"

#include "protocol/QZ2Models.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace qz {

std::string SimHelpText() {
    return R"(qzsim - simulator of a QZ2 power-quality meter

Usage: qzsim [options]

Serves the meter protocol as one meter of the chosen model, on TCP (one conversation per
connection, several connections at once) or on a pseudo-terminal. Only frames with a valid
check byte, the meter's address and its model's device code are answered; unknown commands
are answered with status 2 (Cmd) or 3 (Cmd1).

The simulated network drifts slowly over minutes. Waveform blocks read, through the monitor's
scaling, as the voltages and currents of the 3-second record of the same moment. A waveform
request with the channel mask 0 or a sample-count code outside 1..5 is answered, by every
model, with status 4 ("no waveforms": the meter rejects the measuring interval) and no data.

Meter:
  --model NAME          qz2, qz2m, qz2c, qz2a, qz2ma or qz2ca (default qz2)
  --address N           device address, 0..65535 (default 1)
  --change-flag 0|1     settings change flag in the time parameters (default 1)
  --change-time "YYYY-MM-DD HH:MM:SS"
                        settings change time (default 2025-06-02 09:30:00)
  --clock-offset SEC    the meter's clock runs this many seconds ahead of this computer's
                        local time (negative: behind)

Where:
  --listen ADDR:PORT    TCP address to listen on (default 127.0.0.1:4001); port 0 picks a
                        free port, which is printed
  --pty LINK            create a pseudo-terminal and make LINK a symbolic link to its device
                        (the link is removed on exit)

Faults (counted per connection):
  --garbage N           send N stray bytes before every answer
  --bad-check K         spoil the check byte of every K-th answer
  --status S            answer every request with status S and no data
  --signal-status S     the same for waveform requests only
  --silent-after K      answer K requests, then nothing more
  --close-after K       close the connection after K answers
  --truncate-first K    the first K answers stop halfway through their data
  --wrong-address       answers carry the meter's address + 1
  --baud B              pace the answer bytes as on a line of B baud (10 bits a byte)

Replay:
  --replay FILE         answer as the meter recorded in the journal FILE did (qzcli poll
                        --record): the clock starts at the first record, the settings,
                        scale coefficients and 3-second records are the recorded ones, a
                        waveform request gets the recorded block nearest in time with the same
                        channel mask and size (status 4 when there is none); the model and the
                        address are the recorded meter's
  --speed N             replay N times faster (default 1)

Other:
  --log FILE            log every request and answer (hex) to FILE
  --help                this text
  --version             the program's version

Stop with Ctrl+C or SIGTERM.
)";
}

namespace {

bool ParseInt(const std::string& s, long lo, long hi, long& out) {
    if (s.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (errno || *end != '\0' || v < lo || v > hi) return false;
    out = v;
    return true;
}

bool ParseDateTime(const std::string& s, TDateTime& out) {
    TDateTimeParts p;
    char tail = 0;
    if (std::sscanf(s.c_str(), "%d-%d-%d %d:%d:%d%c", &p.Year, &p.Month, &p.Day, &p.Hour, &p.Minute,
                    &p.Second, &tail) != 6)
        return false;
    return TryEncodeDateTime(p, out);
}

} // namespace

bool ParseSimArgs(const std::vector<std::string>& args, TSimOptions& out, bool& help,
                  std::string& error, bool* version) {
    help = false;
    if (version) *version = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& v) {
            if (i + 1 >= args.size()) {
                error = a + ": value missing";
                return false;
            }
            v = args[++i];
            return true;
        };
        auto number = [&](long lo, long hi, long& n) {
            std::string v;
            if (!value(v)) return false;
            if (!ParseInt(v, lo, hi, n)) {
                error = a + ": not a number in " + std::to_string(lo) + ".." + std::to_string(hi) +
                        ": " + v;
                return false;
            }
            return true;
        };
        std::string v;
        long n = 0;
        if (a == "--help" || a == "-h") {
            help = true;
        } else if ((a == "--version" || a == "-V") && version) {
            *version = true;
        } else if (a == "--model") {
            if (!value(v)) return false;
            const int m = ModelIndexOfName(v);
            if (m < 0) {
                error = "unknown model: " + v;
                return false;
            }
            out.ModelIndex = m;
        } else if (a == "--address") {
            if (!number(0, 65535, n)) return false;
            out.Address = static_cast<uint16_t>(n);
        } else if (a == "--listen") {
            if (!value(v)) return false;
            const size_t colon = v.rfind(':');
            long port = 0;
            if (colon == std::string::npos || colon == 0 ||
                !ParseInt(v.substr(colon + 1), 0, 65535, port)) {
                error = "--listen wants ADDR:PORT: " + v;
                return false;
            }
            out.ListenHost = v.substr(0, colon);
            out.ListenPort = static_cast<uint16_t>(port);
        } else if (a == "--pty") {
            if (!value(out.PtyLink) || out.PtyLink.empty()) {
                error = "--pty wants a link path";
                return false;
            }
        } else if (a == "--log") {
            if (!value(out.LogFile)) return false;
        } else if (a == "--change-flag") {
            if (!number(0, 1, n)) return false;
            out.ChangeFlag = n != 0;
        } else if (a == "--change-time") {
            if (!value(v)) return false;
            if (!ParseDateTime(v, out.ChangeTime)) {
                error = "--change-time wants \"YYYY-MM-DD HH:MM:SS\": " + v;
                return false;
            }
        } else if (a == "--clock-offset") {
            if (!number(-100L * 365 * 86400, 100L * 365 * 86400, n)) return false;
            const double offset = static_cast<double>(n) / 86400.0;
            out.Clock = [offset] { return NowDateTime() + offset; };
        } else if (a == "--garbage") {
            if (!number(0, 4096, n)) return false;
            out.Faults.GarbageBytes = static_cast<int>(n);
        } else if (a == "--bad-check") {
            if (!number(1, INT_MAX, n)) return false;
            out.Faults.BadCheckEvery = static_cast<int>(n);
        } else if (a == "--status") {
            if (!number(1, 65535, n)) return false;
            out.Faults.ForceStatus = static_cast<int>(n);
        } else if (a == "--signal-status") {
            if (!number(1, 65535, n)) return false;
            out.Faults.ForceSignalStatus = static_cast<int>(n);
        } else if (a == "--silent-after") {
            if (!number(0, INT_MAX, n)) return false;
            out.Faults.SilentAfter = static_cast<int>(n);
        } else if (a == "--close-after") {
            if (!number(0, INT_MAX, n)) return false;
            out.Faults.CloseAfter = static_cast<int>(n);
        } else if (a == "--truncate-first") {
            if (!number(0, INT_MAX, n)) return false;
            out.Faults.TruncateFirst = static_cast<int>(n);
        } else if (a == "--replay") {
            if (!value(out.ReplayFile) || out.ReplayFile.empty()) {
                error = "--replay wants a journal file";
                return false;
            }
        } else if (a == "--speed") {
            if (!value(v)) return false;
            char* end = nullptr;
            const double speed = std::strtod(v.c_str(), &end);
            if (!end || *end != '\0' || !(speed >= 0.01 && speed <= 1000)) {
                error = "--speed wants a number in 0.01..1000: " + v;
                return false;
            }
            out.Speed = speed;
        } else if (a == "--wrong-address") {
            out.Faults.WrongAddress = true;
        } else if (a == "--baud") {
            if (!number(50, 4000000, n)) return false;
            out.Faults.Baud = static_cast<int>(n);
        } else {
            error = "unknown argument: " + a;
            return false;
        }
    }
    return true;
}

} // namespace qz

// Options of the meter simulator and their command line.
#pragma once

#include "common/DateTime.h"
#include "simulator/MeterResponder.h"
#include "simulator/ReplaySource.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qz {

struct TSimOptions {
    int ModelIndex = 0;   // 0..5 of the QZ2 model table
    uint16_t Address = 1; // device address the simulated meter answers to
    std::string ListenHost = "127.0.0.1";
    uint16_t ListenPort = 4001; // 0: any free port
    std::string PtyLink;        // when set: serve a pseudo-terminal linked here instead of TCP
    TFaultOptions Faults;
    std::string LogFile; // when set: every request and answer is logged there
    bool ChangeFlag = true;
    TDateTime ChangeTime = 0; // 0: a fixed time in the past
    TClockFn Clock;           // the meter's clock; empty: this computer's local time
    // Replaying a recording: the journal to answer from and how many times faster than
    // recorded (the program opens the journal and sets Replay, Clock and the model).
    std::string ReplayFile;
    double Speed = 1;
    std::shared_ptr<IMeterReplay> Replay;
};

// The text of `qzsim --help`.
std::string SimHelpText();

// Parses the arguments after the program name. Returns false with a message in `error` for
// a wrong argument; `help` is set for --help, and `*version` for --version (a caller that
// passes no flag does not take --version).
bool ParseSimArgs(const std::vector<std::string>& args, TSimOptions& out, bool& help,
                  std::string& error, bool* version = nullptr);

} // namespace qz

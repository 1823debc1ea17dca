// The "poll" command line: poll comN model factory [/start] selects a meter on a COM port
// (and starts polling) without any dialog.
#pragma once

#include "channel/LCAObject.h"
#include "channel/LCATrace.h"
#include "channel/LCATraceFormat.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qz {

class TccnConnection;

struct TmonPollArguments {
    int ModelIndex = 0;        // 0..5 of the QZ2 model table
    int32_t FactoryNumber = 0; // > 0
    uint8_t ComPort = 0;       // 1..255
    bool Start = false;
};

// The arguments after the program's name. Any rule that fails gives nothing: the command
// line is then ignored silently.
std::optional<TmonPollArguments> ParsePollArguments(const std::vector<std::string>& args);

// A trace of the lines: --trace FILE ("-" for stderr) and --trace-mask M (all classes when
// not given).
struct TmonTraceArguments {
    std::string File;
    uint8_t Mask = kTraceAllClasses;
    uint32_t Bytes = kLCADefaultDumpLimit; // --trace-bytes: bytes a dump lists, 0 every byte
    // --trace-size: megabytes before the file is rotated, 0 no limit.
    uint32_t SizeMb = uint32_t(kTraceDefaultFileBytes >> 20);
};

// Takes --trace FILE, --trace-mask M, --trace-bytes N and --trace-size MB out of args,
// wherever they stand, so that the rest reads as without them. False, with the operator's
// text in error, for an option without its value, a value that is not one, or one of the
// others without a file. No --trace: trace stays empty.
bool TakeTraceArguments(std::vector<std::string>& args, std::optional<TmonTraceArguments>& trace,
                        std::string& error);

// --help and --version are answered before the window system is touched, so that they work
// on a machine without a display (a package check, a terminal over ssh).
enum class TmonInfoRequest { None, Help, Version };

// The first --help (-h) or --version (-V) among the arguments; the value after --screenshots
// or a --trace option is a name, never a request.
TmonInfoRequest FindInfoRequest(const std::vector<std::string>& args);

// Whether the window system can be reached at all: a display named for X or Wayland, or a
// platform chosen for the toolkit (offscreen, say). Null and empty values name nothing.
bool DisplayExpected(const char* display, const char* waylandDisplay, const char* qtPlatform);

// The text of `qzmonitor --help`.
std::string MonitorHelpText();

// A connection (outside any list) to a meter of the model on COMn at 115200 baud through the
// direct RS-232 mode; the protocol address is the factory number kept to 16 bits.
std::unique_ptr<TccnConnection> MakeCommandLineConnection(int modelIndex, int32_t factoryNumber,
                                                          uint8_t comPort);
// A connection to a meter reached over TCP (the demo's simulator).
std::unique_ptr<TccnConnection> MakeTcpConnection(int modelIndex, int32_t factoryNumber,
                                                  const std::string& host, int32_t port);

} // namespace qz

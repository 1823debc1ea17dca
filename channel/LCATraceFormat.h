// The text form of a line trace: how one message of the logical-channel worker becomes one
// or more lines of a trace file, and how an operator names the message classes he wants.
//
// A line reads
//   2026-12-08 01:57:03.123 CONN 1:7 Соединение...
//   2026-12-08 01:57:03.140 DUMP 1:7 TX 0000: 01 03 00 00 00 0A C5 CD
// local time to the millisecond, the class, the channel handle (Id:LineHandle, "-" for the
// module itself), then the text. A dump is cut into lines of 16 bytes, each marked TX (sent
// to the meter), RX (received from it) or ?? (direction not known), with the offset of its
// first byte. Whatever the worker passes, every line is valid UTF-8 without control
// characters, so one message can never break the line structure of the file.
#pragma once

#include "channel/LCAType.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace qz {

constexpr uint8_t kTraceAllClasses =
    lcaLogOpenClose | lcaLogError | lcaLogConnect | lcaLogTask | lcaLogDump;

// Direction of the bytes a dump lists.
enum class TTraceDirection : uint8_t { Unknown, Sent, Received };

// One message as the worker gave it, with the moment it was given.
struct TTraceEntry {
    std::chrono::system_clock::time_point Time;
    uint8_t Class = 0;
    TLCAHandle Handle;
    std::string Text;
    // For dumps: the direction, and how many bytes the task moved (0 = not known). The
    // worker lists at most its dump limit of a task (LCASetDumpLimit), so a longer one gets
    // a line saying so.
    TTraceDirection Direction = TTraceDirection::Unknown;
    uint32_t Moved = 0;
};

// "2026-12-08 01:57:03.123" in local time.
std::string FormatTraceTime(std::chrono::system_clock::time_point t);
// OPEN, ERR, CONN, TASK, DUMP; several bits or unknown ones as the number ("C24").
std::string TraceClassName(uint8_t msgClass);
// "1:7", or "-" for the module handle.
std::string FormatTraceHandle(TLCAHandle h);
// Valid UTF-8 without control characters: a malformed byte becomes U+FFFD, a control
// character (C0, DEL, C1, the Unicode line and paragraph separators) becomes \xNN or \uNNNN.
std::string SanitizeTraceText(const std::string& text);

// The bytes of a dump text ("01 AB FF "): false when the text is not in that form.
bool ParseTraceDump(const std::string& text, std::vector<uint8_t>& bytes);

// Appends the lines of one entry (without line ends) to out.
void FormatTraceEntry(const TTraceEntry& e, std::vector<std::string>& out);
// The line that counts messages lost while the queue was full.
std::string FormatTraceDropped(std::chrono::system_clock::time_point t, uint64_t count);

// The direction and byte count a task message announces for the dump that follows it
// ("Задание выполнено. Отправлено 8 байт"): false for any other message.
bool TraceTaskDone(const std::string& text, TTraceDirection& direction, uint32_t& moved);

// Parses a trace mask as an operator writes it: a number (decimal, or hexadecimal with 0x)
// of the class bits 1..31, or class names joined by commas: open, error, connect, task, dump,
// all (case and blanks around names do not matter). On failure mask is untouched and error
// tells what is wrong.
bool ParseTraceMask(const std::string& text, uint8_t& mask, std::string& error);

// The number after --trace-bytes (bytes of a task a dump lists, 0 every byte) or
// --trace-size (megabytes a trace file may reach before it is rotated, 0 no limit): decimal
// digits only, at most `max`. On failure value is untouched and error names the option.
bool ParseTraceNumber(const std::string& option, const std::string& text, uint32_t max,
                      uint32_t& value, std::string& error);

} // namespace qz

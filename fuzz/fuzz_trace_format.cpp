// The trace writes whatever the worker hands it: any text must come out as clean lines of
// valid UTF-8, and a dump must come out as its own bytes, 16 a line.
#include "channel/LCATraceFormat.h"
#include "common/Cp1251.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool IsClean(const std::string& line) {
    const auto* s = reinterpret_cast<const uint8_t*>(line.data());
    size_t i = 0;
    while (i < line.size()) {
        char32_t cp = 0;
        if (!qz::NextUtf8(s, line.size(), i, cp)) return false;
        if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0) || cp == 0x2028 || cp == 0x2029) return false;
    }
    return !line.empty();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qz;
    if (size < 7) return 0;
    // Header: class, direction, how the text is made, bytes moved (little-endian).
    TTraceEntry e;
    e.Class = data[0];
    e.Direction = TTraceDirection(data[1] % 3);
    const bool asDump = data[2] & 1;
    e.Moved = uint32_t(data[3]) | uint32_t(data[4]) << 8 | uint32_t(data[5]) << 16 |
              uint32_t(data[6]) << 24;
    e.Handle = {int32_t(data[0]) - 1, int32_t(data[1])};
    const uint8_t* body = data + 7;
    const size_t n = size - 7;
    std::vector<uint8_t> bytes(body, body + n);
    if (asDump) {
        // A dump as the worker writes it, of the body's bytes.
        static const char kHex[] = "0123456789ABCDEF";
        for (uint8_t b : bytes) {
            e.Text += kHex[b >> 4];
            e.Text += kHex[b & 15];
            e.Text += ' ';
        }
    } else {
        e.Text.assign(reinterpret_cast<const char*>(body), n);
    }

    std::vector<std::string> lines;
    FormatTraceEntry(e, lines);
    if (lines.empty()) std::abort();
    for (const auto& line : lines)
        if (!IsClean(line)) std::abort();

    std::vector<uint8_t> parsed;
    if (e.Class == lcaLogDump && ParseTraceDump(e.Text, parsed)) {
        if (asDump && parsed != bytes) std::abort();
        // Read the lines back: offset, colon, then at most 16 bytes.
        std::vector<uint8_t> back, part;
        for (const auto& line : lines) {
            const size_t colon = line.rfind(": ");
            if (colon == std::string::npos || line.back() == ')') continue;
            if (!ParseTraceDump(line.substr(colon + 2), part) || part.size() > 16) std::abort();
            back.insert(back.end(), part.begin(), part.end());
        }
        if (back != parsed) std::abort();
    }

    uint8_t mask = 0;
    std::string error;
    if (ParseTraceMask(e.Text, mask, error)) {
        if (mask == 0 || mask > kTraceAllClasses) std::abort();
    } else if (error.empty()) {
        std::abort();
    }
    TTraceDirection d;
    uint32_t moved;
    (void)TraceTaskDone(e.Text, d, moved);
    if (!IsClean(SanitizeTraceText(e.Text) + "x")) std::abort();
    return 0;
}

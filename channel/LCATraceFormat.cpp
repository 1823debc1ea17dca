#include "channel/LCATraceFormat.h"

#include "common/Cp1251.h"

#include <cstdio>
#include <ctime>

namespace qz {
namespace {

const char kHex[] = "0123456789ABCDEF";

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t'))
        --e;
    return s.substr(b, e - b);
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

std::string Prefix(const TTraceEntry& e, const char* className = nullptr) {
    std::string s = FormatTraceTime(e.Time);
    s += ' ';
    s += className ? className : TraceClassName(e.Class);
    s += ' ';
    s += FormatTraceHandle(e.Handle);
    s += ' ';
    return s;
}

const char* Mark(TTraceDirection d) {
    switch (d) {
    case TTraceDirection::Sent:
        return "TX ";
    case TTraceDirection::Received:
        return "RX ";
    default:
        return "?? ";
    }
}

// Reads "<digits> байт" that ends the text at pos.
bool CountAt(const std::string& text, size_t pos, uint32_t& value) {
    static const std::string kTail = " байт";
    uint64_t v = 0;
    size_t i = pos;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - pos < 10)
        v = v * 10 + uint64_t(text[i++] - '0');
    if (i == pos || v > 0xFFFFFFFFu || text.compare(i, std::string::npos, kTail) != 0) return false;
    value = uint32_t(v);
    return true;
}

} // namespace

std::string FormatTraceTime(std::chrono::system_clock::time_point t) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(t.time_since_epoch()).count();
    // Floor division, so that a moment before 1970 still gets 0..999 milliseconds.
    long long secs = ms / 1000, frac = ms % 1000;
    if (frac < 0) {
        frac += 1000;
        secs -= 1;
    }
    const std::time_t tt = std::time_t(secs);
    std::tm tm{};
    char buf[64];
    if (!localtime_r(&tt, &tm)) {
        std::snprintf(buf, sizeof buf, "@%lld.%03lld", secs, frac);
        return buf;
    }
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, int(frac));
    return buf;
}

std::string TraceClassName(uint8_t msgClass) {
    switch (msgClass) {
    case lcaLogOpenClose:
        return "OPEN";
    case lcaLogError:
        return "ERR";
    case lcaLogConnect:
        return "CONN";
    case lcaLogTask:
        return "TASK";
    case lcaLogDump:
        return "DUMP";
    default:
        return "C" + std::to_string(msgClass);
    }
}

std::string FormatTraceHandle(TLCAHandle h) {
    if (h == kModuleLCAHandle) return "-";
    return std::to_string(h.Id) + ":" + std::to_string(h.LineHandle);
}

std::string SanitizeTraceText(const std::string& text) {
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    const size_t n = text.size();
    std::string out;
    out.reserve(n);
    size_t i = 0;
    while (i < n) {
        char32_t cp = 0;
        if (!NextUtf8(s, n, i, cp)) {
            AppendUtf8(out, U'\uFFFD');
        } else if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) {
            out += "\\x";
            out += kHex[(cp >> 4) & 15];
            out += kHex[cp & 15];
        } else if (cp == 0x2028 || cp == 0x2029) {
            out += cp == 0x2028 ? "\\u2028" : "\\u2029";
        } else {
            AppendUtf8(out, cp);
        }
    }
    return out;
}

bool ParseTraceDump(const std::string& text, std::vector<uint8_t>& bytes) {
    bytes.clear();
    size_t i = 0;
    while (i < text.size()) {
        if (i + 2 > text.size()) return false;
        const int hi = HexValue(text[i]), lo = HexValue(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes.push_back(uint8_t(hi << 4 | lo));
        i += 2;
        if (i < text.size()) {
            if (text[i] != ' ') return false;
            ++i;
        }
    }
    return !bytes.empty();
}

void FormatTraceEntry(const TTraceEntry& e, std::vector<std::string>& out) {
    std::vector<uint8_t> bytes;
    if (e.Class != lcaLogDump || !ParseTraceDump(e.Text, bytes)) {
        out.push_back(Prefix(e) + (e.Class == lcaLogDump ? Mark(e.Direction) : "") +
                      SanitizeTraceText(e.Text));
        return;
    }
    const std::string head = Prefix(e) + Mark(e.Direction);
    for (size_t at = 0; at < bytes.size(); at += 16) {
        std::string line = head;
        char offset[8];
        std::snprintf(offset, sizeof offset, "%04X:", unsigned(at & 0xFFFF));
        line += offset;
        for (size_t k = at; k < bytes.size() && k < at + 16; ++k) {
            line += ' ';
            line += kHex[bytes[k] >> 4];
            line += kHex[bytes[k] & 15];
        }
        out.push_back(std::move(line));
    }
    if (e.Moved > bytes.size())
        out.push_back(head + "(показаны первые " + std::to_string(bytes.size()) + " из " +
                      std::to_string(e.Moved) + " байт; все байты — --trace-bytes 0)");
}

std::string FormatTraceDropped(std::chrono::system_clock::time_point t, uint64_t count) {
    return FormatTraceTime(t) + " TRACE - пропущено сообщений: " + std::to_string(count) +
           " (очередь записи была полна)";
}

bool TraceTaskDone(const std::string& text, TTraceDirection& direction, uint32_t& moved) {
    static const std::string kSent = "Задание выполнено. Отправлено ";
    static const std::string kReceived = "Задание выполнено. Принято ";
    if (text.compare(0, kSent.size(), kSent) == 0 && CountAt(text, kSent.size(), moved)) {
        direction = TTraceDirection::Sent;
        return true;
    }
    if (text.compare(0, kReceived.size(), kReceived) == 0 &&
        CountAt(text, kReceived.size(), moved)) {
        direction = TTraceDirection::Received;
        return true;
    }
    return false;
}

bool ParseTraceMask(const std::string& text, uint8_t& mask, std::string& error) {
    const std::string t = Trim(text);
    if (t.empty()) {
        error = "Не задана маска трассировки";
        return false;
    }
    if (t[0] >= '0' && t[0] <= '9') {
        const bool hex = t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X');
        unsigned long v = 0;
        for (size_t i = hex ? 2 : 0; i < t.size(); ++i) {
            const int d = hex ? HexValue(t[i]) : (t[i] >= '0' && t[i] <= '9' ? t[i] - '0' : -1);
            if (d < 0 || v > 0xFF) {
                error = "Неверная маска трассировки: " + text;
                return false;
            }
            v = v * (hex ? 16 : 10) + unsigned(d);
        }
        if (v == 0 || v > kTraceAllClasses) {
            error = "Маска трассировки вне диапазона 1..31: " + text;
            return false;
        }
        mask = uint8_t(v);
        return true;
    }
    static const struct {
        const char* Name;
        uint8_t Bits;
    } kNames[] = {{"open", lcaLogOpenClose}, {"error", lcaLogError}, {"connect", lcaLogConnect},
                  {"task", lcaLogTask},      {"dump", lcaLogDump},   {"all", kTraceAllClasses}};
    uint8_t bits = 0;
    size_t start = 0;
    while (true) {
        const size_t comma = t.find(',', start);
        const std::string name = Lower(
            Trim(t.substr(start, comma == std::string::npos ? std::string::npos : comma - start)));
        bool known = false;
        for (const auto& k : kNames)
            if (name == k.Name) {
                bits |= k.Bits;
                known = true;
            }
        if (!known) {
            error = "Неизвестный класс сообщений трассировки: \"" + SanitizeTraceText(name) +
                    "\" (допустимы open, error, connect, task, dump, all)";
            return false;
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    mask = bits;
    return true;
}

bool ParseTraceNumber(const std::string& option, const std::string& text, uint32_t max,
                      uint32_t& value, std::string& error) {
    uint64_t v = 0;
    bool ok = !text.empty() && text.size() <= 10;
    for (char c : text) {
        if (c < '0' || c > '9') {
            ok = false;
            break;
        }
        v = v * 10 + uint64_t(c - '0');
    }
    if (!ok || v > max) {
        error = "Неверное значение " + option + ": \"" + SanitizeTraceText(text) +
                "\" (целое число от 0 до " + std::to_string(max) + ")";
        return false;
    }
    value = uint32_t(v);
    return true;
}

} // namespace qz

#include "tools/qzcli/CliFormat.h"

#include "connection/CcnConnectionList.h"
#include "exchange/monNumberText.h"
#include "exchange/monRecordFields.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace qz {
namespace {

std::string Fixed(double v, int width, int decimals) {
    char buf[64];
    if (!std::isfinite(v))
        std::snprintf(buf, sizeof buf, "%*s", width, "-");
    else
        std::snprintf(buf, sizeof buf, "%*.*f", width, decimals, v);
    return buf;
}

std::string Pad(const std::string& s, size_t width) {
    // Width in characters, not bytes: the names are Cyrillic.
    size_t chars = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) ++chars;
    return chars >= width ? s + " " : s + std::string(width - chars, ' ');
}

std::string Join(const std::vector<std::string>& parts) {
    std::string out;
    for (const auto& p : parts)
        out += (out.empty() ? "" : ", ") + p;
    return out;
}

// Column names of the CSV export: the field's name, then "_" and the phase, line, sequence
// component or total of a grouped field, or the harmonic number in brackets, then the unit.
std::string CsvLabel(const char* name, int n, int i) {
    static const char* const kPhases[] = {"A", "B", "C", "N"};
    static const char* const kPowers[] = {"A", "B", "C", "SUM", "N"};
    static const char* const kLines[] = {"AB", "BC", "CA"};
    static const char* const kSeq[] = {"0", "1", "2"};
    std::string s = name;
    if (n == 39)
        s += "(" + std::to_string(i + 2) + ")";
    else if (n == 4)
        s += std::string("_") + kPhases[i];
    else if (n == 5)
        s += std::string("_") + kPowers[i];
    else if (n == 3)
        s += std::string("_") + (std::strstr(name, "Seq") ? kSeq[i] : kLines[i]);
    const char* unit = RecordFieldText(name, i).Unit;
    if (*unit) s += std::string(", ") + unit;
    return s;
}

// The cells of the fourth channel, empty for a meter without it (as in the snapshot CSV).
bool IsNeutralCell(const char* name, int n, int i) {
    if (n == 4) return i == 3;
    if (n == 5) return i == 4;
    const size_t len = std::strlen(name);
    return len >= 2 && std::strcmp(name + len - 2, "_N") == 0;
}

} // namespace

std::string RecordCsvHeader(bool harmonics) {
    std::string line = "Время;";
    ForEachRecordField(TmonData3sec(), harmonics, [&](const char* name, const double*, int n) {
        if (std::strcmp(name, "Time") == 0) return;
        for (int i = 0; i < n; ++i)
            line += CsvLabel(name, n, i) + ";";
    });
    return line + "\r\n";
}

std::string RecordCsvLine(const TmonData3sec& d, bool harmonics, bool neutral,
                          const std::string& time, char sep) {
    std::string line = time + ';';
    ForEachRecordField(d, harmonics, [&](const char* name, const double* v, int n) {
        if (std::strcmp(name, "Time") == 0) return;
        for (int i = 0; i < n; ++i) {
            if (neutral || !IsNeutralCell(name, n, i))
                line += NumberText(v[i], RecordFieldText(name, i).Decimals, sep);
            line += ';';
        }
    });
    return line + "\r\n";
}

std::string RecordTableHeader(bool neutral) {
    // The fundamentals U1 and I1, which the meter measures per phase; the journal and the
    // trends show the true RMS U and I instead, so the names must not be taken for those.
    std::string h = "Время                  F,Гц    U1A,В    U1B,В    U1C,В";
    if (neutral) h += "    U1N,В";
    h += "   I1A,А   I1B,А   I1C,А";
    if (neutral) h += "   I1N,А";
    h += "      P,Вт     Q,вар      S,ВА  cosφ  KUA,%";
    return h;
}

std::string CliTimeText(TDateTime time) {
    const TDateTimeParts t = DecodeDateTime(time);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d %02d:%02d:%02d", t.Day, t.Month, t.Year, t.Hour,
                  t.Minute, t.Second);
    return buf;
}

int CliUsageError(std::ostream& err, const std::string& text) {
    err << text << "\nСм. qzcli --help\n";
    return 2;
}

std::string RecordTableRow(const TmonData3sec& d, bool neutral) {
    std::string r = CliTimeText(d.Time);
    r += Fixed(d.F, 9, 3);
    for (int ph = 0; ph < (neutral ? 4 : 3); ++ph)
        r += Fixed(d.U1[ph], 9, 2);
    for (int ph = 0; ph < (neutral ? 4 : 3); ++ph)
        r += Fixed(d.I1[ph], 8, 3);
    r += Fixed(d.P[pwSum], 10, 1) + Fixed(d.Q[pwSum], 10, 1) + Fixed(d.S[pwSum], 10, 1);
    r += Fixed(d.CosPhi[pwSum], 6, 3) + Fixed(d.KU[phA], 7, 2);
    return r;
}

std::string ConnectionRows(const TccnConnectionList& list, int32_t selectedId) {
    std::string out = Pad("", 2) + Pad("ID", 5) + Pad("Измеритель", 16) + Pad("Зав.№", 10) +
                      Pad("Протокол", 28) + "Подключение\n";
    for (size_t i = 0; i < list.Count(); ++i) {
        const TccnConnection& c = *list.GetItem(i);
        std::string device, factory, protocol, mode;
        if (const auto* d = c.CustomDevice()) {
            device = DeviceTypeNames[d->DeviceType()];
            factory = std::to_string(d->FactoryNum());
        }
        if (const auto* p = c.CustomDeviceProtocol()) {
            protocol = DeviceProtocolTypeNames[p->ProtocolType()];
            const std::string params = Join(p->GetParamsText());
            if (!params.empty()) protocol += " (" + params + ")";
        }
        if (const auto* m = c.CustomConMode()) {
            mode = ConModeTypeNames[m->ConModeType()];
            const std::string summary = ConModeSummary(c);
            if (!summary.empty()) mode += " (" + summary + ")";
        }
        out += Pad(c.ConID == selectedId ? "*" : "", 2) + Pad(std::to_string(c.ConID), 5) +
               Pad(device, 16) + Pad(factory, 10) + Pad(protocol, 28) + mode + "\n";
    }
    return out;
}

} // namespace qz

#include "tools/qzcli/CliFormat.h"

#include "connection/CcnConnectionList.h"

#include <cmath>
#include <cstdio>

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

} // namespace

std::string RecordTableHeader(bool neutral) {
    std::string h = "Время                  F,Гц     UA,В     UB,В     UC,В";
    if (neutral) h += "     UN,В";
    h += "    IA,А    IB,А    IC,А";
    if (neutral) h += "    IN,А";
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

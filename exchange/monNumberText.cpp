#include "exchange/monNumberText.h"

#include "exchange/monCsvExport.h" // FormatGeneral15
#include "exchange/monStorage.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace qz {
namespace {

struct TNamed {
    const char* Name;
    TmonQuantityText Text;
};

// Every field of the record and the nominal values of the settings. The decimals of the
// computed quantities follow their resolution: the meter's hundredths for frequency, angles
// and coefficients; a thousandth of a percent for deviations and harmonics; milliwatts for
// powers; four places for power factors and harmonic currents.
const TNamed kFields[] = {
    {"Time", {kmonGeneralDigits, ""}},
    {"F", {2, "Гц"}},
    {"dF", {2, "Гц"}},
    {"U1", {kmonFloatDigits, "В"}},
    {"I1", {kmonFloatDigits, "А"}},
    {"PhiUI", {2, "°"}},
    {"U", {kmonFloatDigits, "В"}},
    {"I", {kmonFloatDigits, "А"}},
    {"dU1", {3, "%"}},
    {"U1Line", {kmonFloatDigits, "В"}},
    {"USeq", {kmonFloatDigits, "В"}},
    {"ISeq", {kmonFloatDigits, "А"}},
    {"PhiUISeq", {2, "°"}},
    {"ULine", {kmonFloatDigits, "В"}},
    {"dU1Line", {3, "%"}},
    {"K0", {2, "%"}},
    {"K2", {2, "%"}},
    {"P", {kmonFloatDigits, "Вт"}},
    {"Q", {3, "вар"}},
    {"S", {3, "ВА"}},
    {"CosPhi", {4, ""}},
    {"P1", {kmonFloatDigits, "Вт"}},
    {"Q1", {3, "вар"}},
    {"S1", {3, "ВА"}},
    {"CosPhi1", {4, ""}},
    {"KU", {2, "%"}},
    {"KI_A", {2, "%"}},
    {"KI_B", {2, "%"}},
    {"KI_C", {2, "%"}},
    {"KI_N", {2, "%"}},
    {"KU_AB", {2, "%"}},
    {"KU_BC", {2, "%"}},
    {"KU_CA", {2, "%"}},
    {"NominalPhaseVoltage", {kmonFloatDigits, "В"}},
    {"NominalLineVoltage", {kmonFloatDigits, "В"}},
    {"NominalCurrent", {kmonFloatDigits, "А"}},
};

// The harmonic tables, by the start of their names (KUn_A, ..., Pn_N).
const TNamed kHarmonics[] = {
    {"KUn_", {3, "%"}},   {"KIn_", {3, "%"}},   {"Un_", {3, "В"}},     {"In_", {4, "А"}},
    {"PhiUn_", {2, "°"}}, {"PhiIn_", {2, "°"}}, {"PhiUIn_", {2, "°"}}, {"Pn_", {3, "Вт"}},
};

std::string WithSeparator(std::string s, char sep) {
    for (char& c : s)
        if (c == '.') c = sep;
    return s;
}

} // namespace

TmonQuantityText RecordFieldText(const char* name, int index) {
    for (const auto& f : kFields) {
        if (std::strcmp(f.Name, name) != 0) continue;
        // The totals of the powers are sums the decoding makes of the phases' floats.
        const bool total = index == pwSum && (!std::strcmp(name, "P") || !std::strcmp(name, "P1"));
        return total ? TmonQuantityText{3, f.Text.Unit} : f.Text;
    }
    for (const auto& h : kHarmonics)
        if (std::strncmp(h.Name, name, std::strlen(h.Name)) == 0) return h.Text;
    return {};
}

std::string FloatText(float v, char sep) {
    if (std::isnan(v)) return "NAN";
    if (std::isinf(v)) return v > 0 ? "INF" : "-INF";
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v); // shortest, round trip
    std::string s(buf, res.ptr);
    for (char& c : s)
        if (c == 'e') c = 'E';
    return WithSeparator(s, sep);
}

std::string FixedText(double v, int decimals, char sep) {
    if (!std::isfinite(v) || std::fabs(v) >= 1e15) return FormatGeneral15(v, sep);
    if (decimals < 0) decimals = 0;
    if (decimals > 9) decimals = 9;
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    std::string s(buf, res.ptr);
    if (s.find('.') != std::string::npos) {
        while (s.back() == '0')
            s.pop_back();
        if (s.back() == '.') s.pop_back();
    }
    if (s == "-0") s = "0";
    return WithSeparator(s, sep);
}

std::string NumberText(double v, int decimals, char sep) {
    if (decimals == kmonFloatDigits) {
        // A value that is not a float widened (a sum, an out-of-range number) keeps its
        // digits rather than being rounded to the nearest float.
        const float f = static_cast<float>(v);
        if (!std::isfinite(v) || double(f) == v) return FloatText(f, sep);
    }
    if (decimals >= 0) return FixedText(v, decimals, sep);
    return FormatGeneral15(v, sep);
}

} // namespace qz

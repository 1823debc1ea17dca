#include "monitor/monFormat.h"

#include <cmath>

namespace qz {

std::string CaptionWithDataTime(const std::string& baseCaption, TDateTime time,
                                const TmonFormatContext& ctx) {
    if (std::fabs(time) <= 1e-12) return baseCaption;
    std::string when = ctx.FormatDateTime ? ctx.FormatDateTime(time) : std::string();
    return baseCaption + "    (Время данных: " + when + ")";
}

std::string NominalVoltagesText(float phaseNominal, float lineNominal, char decimalSeparator) {
    double kilo = double(phaseNominal) / 1000.0;
    std::string first = std::trunc(kilo) == 0 ? FormatFixed(phaseNominal, 2, decimalSeparator)
                                              : FormatFixed(kilo, 2, decimalSeparator);
    return first + "/" + FormatVoltage(lineNominal, decimalSeparator);
}

namespace {

TmonLabel Text(std::string s, TmonColor c = mclBlack) {
    TmonLabel l;
    l.Text = std::move(s);
    l.Color = c;
    l.Set = true;
    return l;
}

bool IsKilo(double v) {
    return std::isfinite(v) && std::trunc(v / 1000.0) != 0;
}

} // namespace

TmonPowersView ShowPowers(const TmonData3sec& d, bool wholeSignal, bool hasNeutral,
                          char decimalSeparator) {
    static const char* const kLetters[3] = {"P", "Q", "S"};
    static const char* const kUnits[3] = {"Вт", "вар", "В*А"};
    const double* groups[3] = {wholeSignal ? d.P : d.P1, wholeSignal ? d.Q : d.Q1,
                               wholeSignal ? d.S : d.S1};
    const double* cosPhi = wholeSignal ? d.CosPhi : d.CosPhi1;
    const int used = hasNeutral ? 5 : 4; // pwN is the last index
    TmonPowersView v;
    for (int g = 0; g < 3; ++g) {
        bool kilo = false;
        for (int i = 0; i < used; ++i)
            kilo = kilo || IsKilo(groups[g][i]);
        v.Header[g] = std::string(kLetters[g]) + (kilo ? ", к" : ", ") + kUnits[g];
        for (int i = 0; i < used; ++i)
            v.Value[g][i] =
                Text(FormatFixed(kilo ? groups[g][i] / 1000.0 : groups[g][i], 3, decimalSeparator));
    }
    for (int i = 0; i < used; ++i)
        v.Cos[i] = Text(FormatFixed(cosPhi[i], 3, decimalSeparator));
    return v;
}

TmonMeasurementsView ShowMeasurements(const TmonStorage& st, const TmonSelections& sel,
                                      const std::string& baseCaption,
                                      const TmonFormatContext& ctx) {
    const TmonSettings& s = st.Settings;
    const TmonData3sec& d = st.Data3sec;
    const char sep = ctx.DecimalSeparator;
    const int phases = s.HasNeutral ? 4 : 3;
    auto pct = [sep](double x) { return FormatFixed(x, 2, sep) + " %"; };

    TmonMeasurementsView v;
    v.Caption = CaptionWithDataTime(baseCaption, d.Time, ctx);
    v.LUnom = FormatVoltage(s.NominalPhaseVoltage, sep);
    v.LUnomMf = FormatVoltage(s.NominalLineVoltage, sep);
    v.Label48 = NominalVoltagesText(s.NominalPhaseVoltage, s.NominalLineVoltage, sep);
    v.LInom = FormatCurrent(s.NominalCurrent, sep);
    v.Freq = Text(FormatFixed(d.F, 2, sep) + " Гц", FrequencyColor(s, float(d.F)));
    v.DeltaF = Text(FormatFixed(d.dF, 2, sep) + " Гц");

    for (int x = 0; x < phases; ++x) {
        switch (sel.VoltageItem) {
        case 1:
            v.U[x] = Text(FormatVoltage(float(d.U[x]), sep), PhaseVoltageColor(s, float(d.U[x])));
            break;
        case 2:
            v.U[x] = Text(pct(d.dU1[x]), PhaseVoltageColor(s, float(d.U1[x])));
            break;
        default:
            v.U[x] = Text(FormatVoltage(float(d.U1[x]), sep), PhaseVoltageColor(s, float(d.U1[x])));
        }
        v.I[x] = Text(FormatCurrent(float(sel.CurrentItem == 1 ? d.I[x] : d.I1[x]), sep));
        v.PhiUI[x] = Text(FormatFixed(d.PhiUI[x], 2, sep) + " °");
    }
    for (int l = 0; l < 3; ++l) {
        switch (sel.VoltageItem) {
        case 1:
            v.ULine[l] =
                Text(FormatVoltage(float(d.ULine[l]), sep), LineVoltageColor(s, float(d.ULine[l])));
            break;
        case 2:
            v.ULine[l] = Text(pct(d.dU1Line[l]), LineVoltageColor(s, float(d.U1Line[l])));
            break;
        default:
            v.ULine[l] = Text(FormatVoltage(float(d.U1Line[l]), sep),
                              LineVoltageColor(s, float(d.U1Line[l])));
        }
        v.USeq[l] = Text(FormatVoltage(float(d.USeq[l]), sep));
        v.ISeq[l] = Text(FormatCurrent(float(d.ISeq[l]), sep));
        v.PhiUISeq[l] = Text(FormatFixed(d.PhiUISeq[l], 2, sep) + "°");
    }
    v.K0 = Text(pct(d.K0), UnbalanceColor(float(d.K0), s.K0Limits));
    v.K2 = Text(pct(d.K2), UnbalanceColor(float(d.K2), s.K2Limits));
    v.Powers = ShowPowers(d, sel.WholeSignal, s.HasNeutral != 0, sep);
    for (int x = 0; x < phases; ++x) {
        v.KU[x] = Text(pct(d.KU[x]), DistortionColor(s, float(d.KU[x])));
        v.KI[x] = Text(pct(d.KI(x)));
    }
    for (int l = 0; l < 3; ++l)
        v.KULine[l] = Text(pct(d.KULine(l)), DistortionColor(s, float(d.KULine(l))));
    return v;
}

TmonGridItem GridItemOfIndex(int index, bool hasNeutral) {
    if (index >= giKUPhase && index <= giPhaseC) return TmonGridItem(index);
    if (index == 6) return hasNeutral ? giPhaseN : giPower;
    if (index == 7 && hasNeutral) return giPower;
    return giKUPhase;
}

TmonGridView FillHarmonicsGrid(const TmonStorage& st, int index, char decimalSeparator) {
    const TmonData3sec& d = st.Data3sec;
    const bool neutral = st.Settings.HasNeutral != 0;
    const TmonGridItem item = GridItemOfIndex(index, neutral);

    struct TColumn {
        const char* Header;
        const double* Values;
        bool Marked; // coloured against the harmonic limits
    };
    TColumn cols[4] = {};
    int count = 3;
    switch (item) {
    case giKUPhase:
        cols[0] = {"KUa, %", d.KUn_A, true};
        cols[1] = {"KUв, %", d.KUn_B, true};
        cols[2] = {"KUc, %", d.KUn_C, true};
        cols[3] = {"KUn, %", d.KUn_N, true};
        count = neutral ? 4 : 3;
        break;
    case giKULine:
        cols[0] = {"KU aв, %", d.KUn_AB, true};
        cols[1] = {"KUвc, %", d.KUn_BC, true};
        cols[2] = {"KUca, %", d.KUn_CA, true};
        break;
    case giKI:
        cols[0] = {"KIa, %", d.KIn_A, false};
        cols[1] = {"KIв, %", d.KIn_B, false};
        cols[2] = {"KIc, %", d.KIn_C, false};
        cols[3] = {"KIn, %", d.KIn_N, false};
        count = neutral ? 4 : 3;
        break;
    case giPhaseA:
        cols[0] = {"KUa, %", d.KUn_A, true};
        cols[1] = {"KIa, %", d.KIn_A, false};
        cols[2] = {"     UIa, °", d.PhiUIn_A, false};
        break;
    case giPhaseB:
        cols[0] = {"KUв, %", d.KUn_B, true};
        cols[1] = {"KIв, %", d.KIn_B, false};
        cols[2] = {"     UIв, °", d.PhiUIn_B, false};
        break;
    case giPhaseC:
        cols[0] = {"KUc, %", d.KUn_C, true};
        cols[1] = {"KIc, %", d.KIn_C, false};
        cols[2] = {"     UIc, °", d.PhiUIn_C, false};
        break;
    case giPhaseN:
        cols[0] = {"KUn, %", d.KUn_N, true};
        cols[1] = {"KIn, %", d.KIn_N, false};
        cols[2] = {"     UIn, °", d.PhiUIn_N, false};
        break;
    case giPower:
        cols[0] = {"Pa, Вт", d.Pn_A, false};
        cols[1] = {"Pв, Вт", d.Pn_B, false};
        cols[2] = {"Pc, Вт", d.Pn_C, false};
        break;
    }

    TmonGridView g;
    g.ColumnCount = count + 1;
    g.AngleIcon = item >= giPhaseA && item <= giPhaseN;
    for (int r = 0; r < kmonGridRows; ++r)
        g.Cell[r][0] = std::to_string(r + 2);
    for (int c = 0; c < count; ++c) {
        double divisor = 1.0;
        g.Header[c + 1] = cols[c].Header;
        if (item == giPower) {
            // Each power column switches to kilowatts on its own.
            bool kilo = false;
            for (int r = 0; r < kmonGridRows; ++r)
                kilo = kilo || IsKilo(cols[c].Values[r]);
            if (kilo) {
                static const char* const kKilo[3] = {"Pa, кВт", "Pв, кВт", "Pc, кВт"};
                g.Header[c + 1] = kKilo[c];
                divisor = 1000.0;
            }
        }
        for (int r = 0; r < kmonGridRows; ++r) {
            double x = cols[c].Values[r];
            g.Cell[r][c + 1] = FormatFixed(x / divisor, 2, decimalSeparator);
            if (cols[c].Marked) g.Marker[r][c + 1] = HarmonicColor(st.Settings, r + 2, float(x));
        }
    }
    return g;
}

TmonSpectrumScale ComputeSpectrumScale(int imageHeight, int level, int scrollPos) {
    // The stored values are singles; the expressions between them are evaluated wider, as the
    // scale always was (1 / 0.1f truncates to 9, not 10).
    TmonSpectrumScale sc;
    if (level < 1) level = 1;
    sc.PixelsPerUnit = float(double(imageHeight) / double(level));
    float lg = float(std::log10(double(level)));
    sc.Step = float(std::pow(10.0, std::trunc(double(lg) - 1.0)));
    double lines = std::trunc(double(level) / double(sc.Step));
    if (lines > 15) sc.Step = float(std::pow(10.0, std::trunc(double(lg))));
    sc.Lines = int16_t(std::trunc(double(level) / double(sc.Step)));
    sc.Spacing = int16_t(std::nearbyint(double(sc.Step) * double(sc.PixelsPerUnit)));
    sc.Offset = 300 - scrollPos;
    sc.Base = float(std::trunc(double(sc.Offset) / double(sc.PixelsPerUnit) / double(sc.Step)) *
                        double(sc.Step) +
                    double(sc.Step));
    sc.BaseHeight =
        int16_t(std::trunc(double(sc.Base) * double(sc.PixelsPerUnit) - double(sc.Offset)));
    return sc;
}

int SpectrumBarStep(int imageWidth) {
    return int(std::trunc(imageWidth / 39.5));
}

int SpectrumBarX(int barStep, int n) {
    return barStep / 2 + (n - 1) * barStep;
}

int SpectrumBarHeight(const TmonSpectrumScale& sc, double value) {
    double h = std::trunc(double(sc.PixelsPerUnit) * value);
    if (!std::isfinite(h)) return 0;
    if (h > 1e6) h = 1e6;
    if (h < -1e6) h = -1e6;
    return int(h) - sc.Offset;
}

std::string SpectrumGridLabel(const TmonSpectrumScale& sc, int j, char decimalSeparator) {
    double stepPart = double(j) * double(sc.Step);
    double value = stepPart + double(sc.Base);
    return FormatFixed(value, stepPart >= 1 ? 0 : 1, decimalSeparator);
}

int HarmonicAtX(int64_t x, int barStep) {
    if (barStep <= 0) return 0;
    int64_t n = (x - barStep / 2 + 2) / barStep + 1; // division truncates toward zero
    return (n > 1 && n <= 40) ? int(n) : 0;
}

} // namespace qz

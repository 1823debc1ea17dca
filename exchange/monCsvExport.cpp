#include "exchange/monCsvExport.h"

#include "common/Cp1251.h"
#include "connection/CcnConnectionClasses.h"
#include "connection/CcnConnectionList.h"
#include "settings/AtomicFile.h"
#include "settings/cmnKnownFoldersFunc.h"
#include "sigcalc/sigcalc.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <exception>

namespace qz {

const char* const kmonApplicationTitle = "Монитор Каврен-QZ2";

std::string RecordingFolder(const std::string& documentsFolder) {
    const std::string product = MakeProductFolder(documentsFolder, kmonApplicationTitle);
    return product.empty() ? std::string() : product + "Записи/";
}

std::string FormatGeneral15(double v, char sep) {
    if (std::isnan(v)) return "NAN";
    if (std::isinf(v)) return v > 0 ? "INF" : "-INF";
    if (v == 0) return "0";
    // 15 significant digits, rounded once, in a form that no locale changes.
    char buf[40];
    auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 14);
    std::string sci(buf, res.ptr);
    const bool neg = sci[0] == '-';
    const size_t epos = sci.find('e');
    std::string digits;
    for (size_t i = neg ? 1 : 0; i < epos; ++i)
        if (sci[i] != '.') digits += sci[i];
    const int exp = std::atoi(sci.c_str() + epos + 1);
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    std::string out = neg ? "-" : "";
    if (exp >= -4 && exp <= 14) {
        if (exp < 0) {
            out += '0';
            out += sep;
            out.append(size_t(-exp - 1), '0');
            out += digits;
        } else {
            const size_t intDigits = size_t(exp) + 1;
            if (digits.size() <= intDigits) {
                out += digits;
                out.append(intDigits - digits.size(), '0');
            } else {
                out += digits.substr(0, intDigits);
                out += sep;
                out += digits.substr(intDigits);
            }
        }
    } else {
        out += digits[0];
        if (digits.size() > 1) {
            out += sep;
            out += digits.substr(1);
        }
        out += 'E';
        out += std::to_string(exp);
    }
    return out;
}

std::string FormatCsvDateTime(TDateTime dt) {
    const TDateTimeParts p = DecodeDateTime(dt);
    char buf[64];
    if (p.Hour == 0 && p.Minute == 0 && p.Second == 0 && p.MSec == 0)
        std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", p.Day, p.Month, p.Year);
    else
        std::snprintf(buf, sizeof buf, "%02d.%02d.%04d %d:%02d:%02d", p.Day, p.Month, p.Year,
                      p.Hour, p.Minute, p.Second);
    return buf;
}

std::string MeasurementsCsvFileName(int32_t factoryNumber, TDateTime now) {
    const TDateTimeParts p = DecodeDateTime(now);
    char buf[80];
    std::snprintf(buf, sizeof buf, "3sec_%d_%02d%02d%02d_%02d%02d%02d%03d.csv", factoryNumber,
                  ((p.Year % 100) + 100) % 100, p.Month, p.Day, p.Hour, p.Minute, p.Second, p.MSec);
    return buf;
}

TmonCsvDevice CsvDeviceOf(const TccnConnection& connection) {
    TmonCsvDevice d;
    if (const TccnCustomDevice* dev = connection.CustomDevice()) {
        const int t = dev->DeviceType();
        if (t >= 0 && t < DeviceTypeCount) d.DeviceName = DeviceTypeNames[t];
        d.FactoryNumber = dev->FactoryNum();
    }
    return d;
}

namespace {

// One line at a time: every cell is followed by ";", every line by CR LF. Texts are UTF-8
// here and become code page 1251 when the file is written.
class TCsvLines {
public:
    explicit TCsvLines(char sep) : FSep(sep) {}
    TCsvLines& Text(const std::string& s) {
        FOut += s;
        FOut += ';';
        return *this;
    }
    TCsvLines& Num(double v) { return Text(FormatGeneral15(v, FSep)); }
    TCsvLines& Empty(int count = 1) {
        FOut.append(size_t(count), ';');
        return *this;
    }
    // The cells of the fourth channel, or as many empty cells when the meter has none.
    TCsvLines& NCells(bool hasNeutral, std::initializer_list<double> values) {
        for (double v : values)
            hasNeutral ? Num(v) : Empty();
        return *this;
    }
    void End() { FOut += "\r\n"; }
    void EmptyLines(int count) {
        for (int i = 0; i < count; ++i)
            End();
    }
    std::string& Out() { return FOut; }

private:
    char FSep;
    std::string FOut;
};

void WriteWaveform(TCsvLines& csv, const TSigExperiment& exp, double currentFactor,
                   double voltageFactor) {
    // Columns in the order of the headers: A, B, C, N voltage and current, then the lines.
    static const int kKeys[11] = {2, 5, 3, 6, 4, 7, 1, 8, 9, 10, 11};
    const TSigChannel* channels[11];
    double factors[11];
    for (int c = 0; c < 11; ++c) {
        channels[c] = exp.FindChannel(kKeys[c]);
        const bool current = kKeys[c] >= 5 && kKeys[c] <= 8;
        factors[c] = current ? currentFactor : voltageFactor;
    }
    for (uint32_t i = 0; i < exp.QuantCount; ++i) {
        csv.Text(std::to_string(uint64_t(i) + 1));
        for (int c = 0; c < 11; ++c) {
            const TSigChannel* ch = channels[c];
            if (!ch || i >= ch->SampleCount())
                csv.Empty();
            else
                csv.Num((32768.0 - ch->Samples[i]) * 2 * factors[c]);
        }
        csv.End();
    }
}

} // namespace

std::string FormatMeasurementsCsv(const TmonCsvDevice& device, const TmonStorage& storage,
                                  double currentFactor, double voltageFactor,
                                  const TSigExperiment* experiment, const TmonCsvOptions& options) {
    const TmonSettings& s = storage.Settings;
    const TmonData3sec& d = storage.Data3sec;
    const bool hasN = s.HasNeutral != 0;
    TCsvLines csv(options.DecimalSeparator);

    csv.Text("Тип прибора").Text(device.DeviceName).End();
    csv.Text("Номер прибора").Text(std::to_string(device.FactoryNumber)).End();
    csv.EmptyLines(1);
    csv.Text(options.FormatDateTime ? options.FormatDateTime(d.Time) : FormatCsvDateTime(d.Time))
        .End();
    csv.EmptyLines(1);
    csv.Empty().Text("U ном ф").Text("U ном мф").Text("I ном").End();
    csv.Empty().Num(s.NominalPhaseVoltage).Num(s.NominalLineVoltage).Num(s.NominalCurrent).End();
    csv.EmptyLines(2);
    csv.Text("Усреднение 3 сек").End();
    csv.EmptyLines(1);
    csv.Empty().Text("F").Text("откл. F").Text("K0").Text("K2").End();
    csv.Empty().Num(d.F).Num(d.dF).Num(d.K0).Num(d.K2).End();
    csv.EmptyLines(1);

    csv.Empty();
    for (const char* h :
         {"Uа",  "Iа",  "fi UIa", "Uв", "Iв", "fi UIв", "Uс", "Iс", "fi UIс", "Uн", "Iн", "fi UIн",
          "Uав", "Uвс", "Uса",    "U0", "I0", "fi UI0", "U1", "I1", "fi UI1", "U2", "I2", "fi UI2"})
        csv.Text(h);
    csv.End();

    csv.Text("U д, I д");
    for (int ph = phA; ph <= phC; ++ph)
        csv.Num(d.U[ph]).Num(d.I[ph]).Empty();
    csv.NCells(hasN, {d.U[phN], d.I[phN]}).Empty();
    for (int ln = lnAB; ln <= lnCA; ++ln)
        csv.Num(d.ULine[ln]);
    csv.End();

    csv.Text("U (1), I (1)");
    for (int ph = phA; ph <= phC; ++ph)
        csv.Num(d.U1[ph]).Num(d.I1[ph]).Num(d.PhiUI[ph]);
    csv.NCells(hasN, {d.U1[phN], d.I1[phN], d.PhiUI[phN]});
    for (int ln = lnAB; ln <= lnCA; ++ln)
        csv.Num(d.U1Line[ln]);
    for (int k = sq0; k <= sq2; ++k)
        csv.Num(d.USeq[k]).Num(d.ISeq[k]).Num(d.PhiUISeq[k]);
    csv.End();

    csv.Text("откл. U (1)");
    for (int ph = phA; ph <= phC; ++ph)
        csv.Num(d.dU1[ph]).Empty(2);
    csv.NCells(hasN, {d.dU1[phN]}).Empty(2);
    for (int ln = lnAB; ln <= lnCA; ++ln)
        csv.Num(d.dU1Line[ln]);
    csv.End();

    csv.Text("K");
    for (int ph = phA; ph <= phC; ++ph)
        csv.Num(d.KU[ph]).Num(d.KI(ph)).Empty();
    csv.NCells(hasN, {d.KU[phN], d.KI_N}).Empty();
    for (int ln = lnAB; ln <= lnCA; ++ln)
        csv.Num(d.KULine(ln));
    csv.End();

    for (int n = 2; n <= 40; ++n) {
        const int e = n - 2;
        csv.Text("K(" + std::to_string(n) + "), fi(" + std::to_string(n) + ")");
        for (int ph = phA; ph <= phC; ++ph)
            csv.Num(d.KUn(ph)[e]).Num(d.KIn(ph)[e]).Num(d.PhiUIn(ph)[e]);
        csv.NCells(hasN, {d.KUn_N[e], d.KIn_N[e], d.PhiUIn_N[e]});
        for (int ln = lnAB; ln <= lnCA; ++ln)
            csv.Num(d.KUnLine(ln)[e]);
        csv.End();
    }
    csv.EmptyLines(1);

    csv.Empty();
    for (const char* h :
         {"P",  "Q",        "S",  "cos fi", "Pа", "Qа",       "Sа", "cos fi а", "Pв", "Qв",
          "Sв", "cos fi в", "Pс", "Qс",     "Sс", "cos fi с", "Pн", "Qн",       "Sн", "cos fi н"})
        csv.Text(h);
    csv.End();
    auto powers = [&](const char* title, const double* p, const double* q, const double* sp,
                      const double* cf) {
        csv.Text(title);
        for (int k : {pwSum, pwA, pwB, pwC})
            csv.Num(p[k]).Num(q[k]).Num(sp[k]).Num(cf[k]);
        csv.NCells(hasN, {p[pwN], q[pwN], sp[pwN], cf[pwN]});
        csv.End();
    };
    powers("Весь сигнал", d.P, d.Q, d.S, d.CosPhi);
    powers("1 гармоника", d.P1, d.Q1, d.S1, d.CosPhi1);
    csv.EmptyLines(2);
    csv.Text("Значения 20 мсек").End();
    csv.EmptyLines(1);
    csv.Empty();
    for (const char* h : {"Uа", "Iа", "Uв", "Iв", "Uс", "Iс", "Uн", "Iн", "Uав", "Uвс", "Uса"})
        csv.Text(h);
    csv.End();
    if (experiment) WriteWaveform(csv, *experiment, currentFactor, voltageFactor);

    return Utf8ToCp1251(csv.Out());
}

bool WriteMeasurementsCsv(const TmonCsvDevice& device, const TmonStorage& storage,
                          double currentFactor, double voltageFactor,
                          const TSigExperiment* experiment, const std::string& fileName,
                          const TmonCsvOptions& options, std::string* error) {
    try {
        const std::string content = FormatMeasurementsCsv(device, storage, currentFactor,
                                                          voltageFactor, experiment, options);
        return WriteFileAtomically(fileName, content, error);
    } catch (const std::exception& e) {
        // Running out of memory for a huge waveform block must not take the window down.
        if (error) *error = e.what();
        return false;
    }
}

bool SaveMeasurementsToFile(const TmonCsvDevice& device, const TmonStorage& storage,
                            double currentFactor, double voltageFactor,
                            const TSigExperiment* experiment, const TmonCsvOptions& options,
                            std::string* fileName, std::string* error) {
    try {
        const std::string documents =
            options.DocumentsFolder.empty() ? GetDocumentsPath() : options.DocumentsFolder;
        const std::string folder = MakeProductFolder(documents, kmonApplicationTitle);
        const TDateTime now = options.Now ? options.Now() : NowDateTime();
        const std::string name = folder + MeasurementsCsvFileName(device.FactoryNumber, now);
        if (fileName) *fileName = name;
        if (folder.empty()) {
            if (error) *error = "Не найдена папка документов";
            return false;
        }
        if (!ForceDirectories(folder, error)) return false;
        return WriteMeasurementsCsv(device, storage, currentFactor, voltageFactor, experiment, name,
                                    options, error);
    } catch (const std::exception& e) {
        if (error) *error = e.what();
        return false;
    }
}

} // namespace qz

#include "report/rpOutput.h"

#include "common/Cp1251.h"
#include "common/JsonText.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace qz {
namespace {

// JSON numbers do not follow the locale: to_chars never writes a comma.
std::string JsonNumber(double v) {
    if (!std::isfinite(v)) return "null";
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 12);
    return std::string(buf, r.ptr);
}

std::string JsonVerdict(int v) {
    return v < 0 ? "null" : v ? "true" : "false";
}

std::string Cell(double v, char separator) {
    return std::isfinite(v) ? FormatGeneral15(v, separator) : std::string();
}

std::string DateTimeText(TDateTime t, const TmonCsvOptions& o) {
    return o.FormatDateTime ? o.FormatDateTime(t) : FormatCsvDateTime(t);
}

// A time to the millisecond and beyond: the shortest form that reads back to the same double.
std::string JsonTime(double t) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, t);
    return std::string(buf, r.ptr);
}

} // namespace

const char* RpVerdictText(int verdict) {
    return verdict < 0 ? "не оценивается" : verdict ? "соответствует" : "не соответствует";
}

std::string RpNumber(double v, int decimals, char separator) {
    if (!std::isfinite(v)) return "—";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    std::string s = buf;
    for (char& c : s)
        if (c == '.' || c == ',') c = separator;
    if (s == "-0" || s.rfind("-0", 0) == 0) {
        // A value that rounds to zero is shown without a sign.
        bool zero = true;
        for (char c : s.substr(1))
            if (c != '0' && c != separator) zero = false;
        if (zero) s.erase(0, 1);
    }
    return s;
}

std::string RpJson(const TrpAssessment& a, const TrpSource& source) {
    std::string s = "{\"Meter\": {\"Model\": " + JsonStringText(source.Meter.Model) +
                    ", \"FactoryNumber\": " + std::to_string(source.Meter.FactoryNumber) + "}";
    s += ", \"From\": " + (a.Records ? JsonTime(a.First) : "null");
    s += ", \"To\": " + (a.Records ? JsonTime(a.Last) : "null");
    s += ", \"Records\": " + std::to_string(a.Records);
    s += ", \"ExpectedRecords\": " + std::to_string(a.ExpectedRecords);
    s += ", \"Intervals\": " + std::to_string(a.Intervals);
    s += ", \"ValidIntervals\": " + std::to_string(a.ValidIntervals);
    s += ", \"Quantities\": [";
    for (int q = 0; q < krpAssessedCount; ++q) {
        const TrpStats& st = a.Stats[size_t(q)];
        const TrpQuantityInfo& info = RpQuantityInfo(q);
        s += q ? ", {" : "{";
        s += "\"Key\": " + JsonStringText(info.Key) + ", \"Unit\": " + JsonStringText(info.Unit);
        s += ", \"N\": " + std::to_string(st.N);
        s += ", \"Min\": " + JsonNumber(st.Min) + ", \"Max\": " + JsonNumber(st.Max);
        s +=
            ", \"Upper95\": " + JsonNumber(st.Upper95) + ", \"Lower95\": " + JsonNumber(st.Lower95);
        s += ", \"NormalLow\": " + JsonNumber(st.Limits.Normal.Low);
        s += ", \"NormalHigh\": " + JsonNumber(st.Limits.Normal.High);
        s += ", \"MaxLow\": " + JsonNumber(st.Limits.Max.Low);
        s += ", \"MaxHigh\": " + JsonNumber(st.Limits.Max.High);
        s += ", \"T1\": " + JsonNumber(st.T1) + ", \"T2\": " + JsonNumber(st.T2);
        s += ", \"Verdict\": " + JsonVerdict(st.Verdict) + "}";
    }
    s += "], \"Shown\": [";
    for (int k = 0; k < krpShownCount; ++k) {
        const TrpShownStats& st = a.Shown[size_t(k)];
        const TrpQuantityInfo& info = RpShownInfo(k);
        s += k ? ", {" : "{";
        s += "\"Key\": " + JsonStringText(info.Key) + ", \"Unit\": " + JsonStringText(info.Unit);
        s += ", \"N\": " + std::to_string(st.N) + ", \"Min\": " + JsonNumber(st.Min) +
             ", \"Mean\": " + JsonNumber(st.Mean) + ", \"Max\": " + JsonNumber(st.Max) + "}";
    }
    s += "], \"Outages\": [";
    for (size_t i = 0; i < a.Outages.size(); ++i) {
        const TrpOutage& o = a.Outages[i];
        s += (i ? ", {\"After\": " : "{\"After\": ") + JsonTime(o.After) +
             ", \"Before\": " + JsonTime(o.Before) + ", \"Missing\": " + std::to_string(o.Missing) +
             "}";
    }
    s += "], \"PollOutages\": [";
    for (size_t i = 0; i < source.PollOutages.size(); ++i) {
        const TrpPollOutage& o = source.PollOutages[i];
        s += (i ? ", {\"Began\": " : "{\"Began\": ") + JsonTime(o.Began) +
             ", \"Ended\": " + (o.Ended ? JsonTime(o.Ended) : "null") +
             ", \"Text\": " + JsonStringText(o.Text) + "}";
    }
    s += "], \"Verdict\": " + JsonVerdict(a.Verdict) + "}";
    return s;
}

std::string RpIntervalsCsv(const TrpAssessment& a, const TmonCsvOptions& o) {
    const char sep = o.DecimalSeparator;
    std::string s = "Начало интервала;Записей;Достоверный;";
    for (int q = 0; q < krpAssessedCount; ++q)
        s += RpQuantityInfo(q).Key + ", " + RpQuantityInfo(q).Unit + ";";
    for (int k = 0; k < krpShownCount; ++k)
        s += RpShownInfo(k).Key + ", " + RpShownInfo(k).Unit + ";";
    s += "\r\n";
    for (const TrpInterval& i : a.IntervalList) {
        s += DateTimeText(i.Start, o) + ";" + std::to_string(i.Records) + ";" +
             (i.Valid ? "1;" : "0;");
        for (double v : i.Values)
            s += Cell(v, sep) + ";";
        for (double v : i.Shown)
            s += Cell(v, sep) + ";";
        s += "\r\n";
    }
    return Utf8ToCp1251(s);
}

std::string RpCsv(const TrpAssessment& a, const TmonCsvOptions& o) {
    const char sep = o.DecimalSeparator;
    std::string s = "Величина;Единица;N;Мин;Макс;Нижнее 5 %;Верхнее 95 %;Норма нижняя;"
                    "Норма верхняя;Предел нижний;Предел верхний;T1, %;T2, %;Заключение\r\n";
    for (int q = 0; q < krpAssessedCount; ++q) {
        const TrpStats& st = a.Stats[size_t(q)];
        s += RpQuantityInfo(q).Key + ";" + RpQuantityInfo(q).Unit + ";" + std::to_string(st.N) +
             ";" + Cell(st.Min, sep) + ";" + Cell(st.Max, sep) + ";" + Cell(st.Lower95, sep) + ";" +
             Cell(st.Upper95, sep) + ";" + Cell(st.Limits.Normal.Low, sep) + ";" +
             Cell(st.Limits.Normal.High, sep) + ";" + Cell(st.Limits.Max.Low, sep) + ";" +
             Cell(st.Limits.Max.High, sep) + ";" + Cell(st.T1, sep) + ";" + Cell(st.T2, sep) + ";" +
             RpVerdictText(st.Verdict) + "\r\n";
    }
    s += "\r\nВеличина;Единица;N;Мин;Среднее;Макс\r\n";
    for (int k = 0; k < krpShownCount; ++k) {
        const TrpShownStats& st = a.Shown[size_t(k)];
        s += RpShownInfo(k).Key + ";" + RpShownInfo(k).Unit + ";" + std::to_string(st.N) + ";" +
             Cell(st.Min, sep) + ";" + Cell(st.Mean, sep) + ";" + Cell(st.Max, sep) + "\r\n";
    }
    s += "\r\nОбщее заключение;" + std::string(RpVerdictText(a.Verdict)) + "\r\n\r\n";
    return Utf8ToCp1251(s) + RpIntervalsCsv(a, o);
}

} // namespace qz

#include "report/rpProtocol.h"

namespace qz {

std::string RpDurationText(double days) {
    int64_t s = std::llround(days * 86400.0);
    if (s < 0) s = 0;
    const int64_t d = s / 86400, h = s % 86400 / 3600, m = s % 3600 / 60, sec = s % 60;
    std::string out;
    if (d) out += std::to_string(d) + " сут ";
    out += std::to_string(h) + " ч " + std::to_string(m) + " мин";
    if (sec && !d) out += " " + std::to_string(sec) + " с";
    return out;
}

std::string RpTimeText(TDateTime t) {
    const TDateTimeParts p = DecodeDateTime(t);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d %02d:%02d:%02d", p.Day, p.Month, p.Year, p.Hour,
                  p.Minute, p.Second);
    return buf;
}

} // namespace qz

#include "tools/qzcli/CliReport.h"

#include "common/ProgramVersion.h"
#include "journal/jnOutFile.h"
#include "report/rpJournals.h"
#include "report/rpLimitsFile.h"
#include "report/rpOutput.h"
#include "tools/qzcli/CliFormat.h"
#include "tools/qzcli/CliJournal.h"

#include <cstdio>

namespace qz {
namespace {

bool WriteFile(const std::string& target, const std::string& content, std::string& error) {
    TjnOutFile file;
    if (!file.Open(target, error)) return false;
    file.Write(content);
    return file.Commit(error);
}

// The main quantities for a reader of the terminal.
void PrintSummary(const TrpAssessment& a, const TrpSource& source, std::ostream& out) {
    out << "Измеритель: " << source.Meter.Model << ", заводской номер "
        << source.Meter.FactoryNumber << '\n';
    if (a.Records == 0) {
        out << "Записей за период нет\n";
        return;
    }
    out << "Период: " << RpTimeText(a.First) << " — " << RpTimeText(a.Last) << " ("
        << RpDurationText(a.Last - a.First) << ")\n";
    out << "Записи: " << a.Records << " из " << a.ExpectedRecords
        << ", интервалы 10 мин: " << a.ValidIntervals << " достоверных из " << a.Intervals
        << ", перерывов " << a.Outages.size() << '\n';
    char line[256];
    for (int q = 0; q < krpAssessedCount; ++q) {
        const TrpStats& st = a.Stats[size_t(q)];
        if (q >= krpMainCount && st.Verdict != 0) continue; // harmonics: only those that fail
        const TrpQuantityInfo& info = RpQuantityInfo(q);
        // The unit padded by letters, not bytes: "Гц" is two letters in four bytes.
        std::string unit = info.Unit;
        size_t letters = 0;
        for (unsigned char c : unit)
            letters += (c & 0xC0) != 0x80;
        if (letters < 3) unit.append(3 - letters, ' ');
        std::snprintf(line, sizeof line, "%-7s %s N %-6lld 95%% %-8s макс %-8s T1 %-6s T2 %-6s ",
                      info.Key.c_str(), unit.c_str(), static_cast<long long>(st.N),
                      RpNumber(st.Upper95, 3).c_str(), RpNumber(st.Max, 3).c_str(),
                      RpNumber(st.T1, 2).c_str(), RpNumber(st.T2, 2).c_str());
        out << line << RpVerdictText(st.Verdict) << '\n';
    }
    out << "Заключение: " << RpVerdictText(a.Verdict) << '\n';
}

} // namespace

bool IsReportCommand(const std::string& command) {
    return command == "report";
}

std::string CliReportHelpText() {
    return "\n"
           "  qzcli report FILE... [--from T] [--to T] [--limits FILE] [--pdf OUT]\n"
           "               [--csv OUT] [--json]\n"
           "      протокол качества электроэнергии по журналам одного измерителя:\n"
           "      10-минутные значения (среднеквадратичные, достоверны при 180 из 200\n"
           "      записей), N, мин, макс, 95 %, T1 и T2 против норм измерителя или файла\n"
           "      --limits; --json: объект на стандартный вывод, --csv: таблица и\n"
           "      10-минутные значения, --pdf: протокол; без них — сводка на экран\n";
}

int RunReportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                     const TmonCsvOptions& csv, const TrpPdfWriter& pdf) {
    std::vector<std::string> files;
    std::string limitsFile, pdfOut, csvOut;
    bool json = false;
    TrpReadOptions options;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.rfind("--", 0) != 0) {
            files.push_back(a);
            continue;
        }
        if (a == "--json") {
            json = true;
            continue;
        }
        if (i + 1 >= args.size()) return CliUsageError(err, "Не задано значение для " + a);
        const std::string& v = args[++i];
        if (a == "--from" || a == "--to") {
            if (!ParseCliTime(v, a == "--from" ? options.From : options.To))
                return CliUsageError(err, "Неверное время: " + v);
        } else if (a == "--limits") {
            limitsFile = v;
        } else if (a == "--pdf") {
            pdfOut = v;
        } else if (a == "--csv") {
            csvOut = v;
        } else {
            return CliUsageError(err, "Неизвестный параметр: " + a);
        }
    }
    if (files.empty()) return CliUsageError(err, "Не задан файл журнала");
    if (options.From > options.To) return CliUsageError(err, "Время --from позже времени --to");
    if (!pdfOut.empty() && !pdf) {
        err << "Эта сборка qzcli не умеет писать PDF\n";
        return 1;
    }
    WidenToWholeSeconds(options.From, options.To);

    std::string error;
    TmonSettings limits;
    if (!limitsFile.empty()) {
        if (!LoadLimitsFile(limitsFile, limits, error)) {
            err << error << '\n';
            return 2;
        }
        options.Limits = &limits;
    }
    TrpAssessment a;
    TrpSource source;
    if (!AssessJournals(files, options, a, source, error)) {
        err << error << '\n';
        return 1;
    }
    if (json) out << RpJson(a, source) << '\n';
    if (!csvOut.empty()) {
        if (!WriteFile(csvOut, RpCsv(a, csv), error)) {
            err << error << '\n';
            return 1;
        }
        err << "Таблица: " << csvOut << '\n';
    }
    if (!pdfOut.empty()) {
        TrpProtocolInfo info;
        info.LimitsSource = limitsFile.empty() ? "уставки измерителя" : "файл " + limitsFile;
        std::string version = ProgramVersionText("qzcli");
        if (!version.empty() && version.back() == '\n') version.pop_back();
        info.ProgramVersion = version;
        info.Created = NowDateTime();
        if (!pdf(a, source, info, pdfOut, error)) {
            err << error << '\n';
            return 1;
        }
        err << "Протокол: " << pdfOut << '\n';
    }
    if (!json && csvOut.empty() && pdfOut.empty()) PrintSummary(a, source, out);
    return 0;
}

bool ExportIntervalRows(const std::vector<std::string>& journals, const std::string& target,
                        TDateTime from, TDateTime to, int intervalSeconds,
                        const TmonCsvOptions& csv, int64_t& rows, std::string& error) {
    TrpReadOptions options;
    options.From = from;
    options.To = to;
    options.IntervalSeconds = intervalSeconds;
    TrpAssessment a;
    TrpSource source;
    if (!AssessJournals(journals, options, a, source, error)) return false;
    rows = int64_t(a.IntervalList.size());
    return WriteFile(target, RpIntervalsCsv(a, csv), error);
}

} // namespace qz

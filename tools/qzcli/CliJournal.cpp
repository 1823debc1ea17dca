#include "tools/qzcli/CliJournal.h"

#include "common/Cp1251.h"
#include "connection/CcnConnectionList.h"
#include "exchange/monRecordFields.h"
#include "journal/jnComtrade.h"
#include "journal/jnJournal.h"
#include "journal/jnMeterOf.h"
#include "journal/jnOutFile.h"
#include "journal/jnRecorder.h"
#include "journal/jnSalvage.h"
#include "journal/jnSeries.h"
#include "protocol/QZ2Commands.h"
#include "protocol/QZ2Models.h"
#include "tools/qzcli/CliFormat.h"
#include "tools/qzcli/CliReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace qz {
namespace {

std::string TimeText(TDateTime t) {
    return CliTimeText(t);
}

int OpenJournals(const std::vector<std::string>& files, TjnSeries& series, std::ostream& err) {
    std::string error;
    if (!series.Open(files, error)) {
        err << error << '\n';
        return 1;
    }
    return 0;
}

std::string DurationText(double seconds) {
    const int64_t s = std::llround(std::max(0.0, seconds));
    char buf[64];
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, "%lld ч %02lld мин %02lld с", (long long)(s / 3600),
                      (long long)(s / 60 % 60), (long long)(s % 60));
    else if (s >= 60)
        std::snprintf(buf, sizeof buf, "%lld мин %02lld с", (long long)(s / 60),
                      (long long)(s % 60));
    else
        std::snprintf(buf, sizeof buf, "%lld с", (long long)s);
    return buf;
}

// Records present against the records a 3-second interval gives between the first and the
// last one, in percent with one decimal (a decimal comma, as the operator writes it).
std::string CoverageText(int64_t present, TDateTime first, TDateTime last) {
    const int64_t expected = std::llround((last - first) * 86400.0 / 3.0) + 1;
    const double percent = expected > 0 ? 100.0 * double(present) / double(expected) : 100.0;
    char buf[96];
    std::snprintf(buf, sizeof buf, "%.1f %% (%lld из %lld записей)", percent, (long long)present,
                  (long long)expected);
    std::string s = buf;
    const size_t dot = s.find('.');
    if (dot != std::string::npos) s[dot] = ',';
    return s;
}

// The outages of the recording: their number, their total time and the longest one.
bool PrintOutages(TjnSeries& series, std::ostream& out, std::string& error) {
    int64_t count = 0, open = 0;
    double total = 0, longest = -1;
    TjnOutageView worst;
    if (!series.ForEachOutage(
            [&](size_t, const TjnOutageView& o) {
                ++count;
                if (!o.HasEnd()) {
                    ++open;
                    return true;
                }
                const double seconds = (o.Ended - o.Began) * 86400.0;
                total += seconds;
                if (seconds > longest) {
                    longest = seconds;
                    worst = o;
                }
                return true;
            },
            error))
        return false;
    if (count == 0) {
        out << "Перерывы опроса: нет\n";
        return true;
    }
    out << "Перерывы опроса: " << count << ", всего " << DurationText(total);
    if (open) out << " (конец не записан у " << open << ")";
    out << '\n';
    if (longest >= 0)
        out << "  самый долгий: с " << TimeText(worst.Began) << ", " << DurationText(longest)
            << ": " << worst.Text << '\n';
    return true;
}

// Settings answers that differ from the one before: (meter time, a note on what changed).
std::string SettingsChangeNote(const TmonSettings& a, const TmonSettings& b) {
    std::string s;
    auto diff = [&s](const char* what, double x, double y) {
        if (std::fabs(x - y) > 1e-9) {
            char buf[96];
            std::snprintf(buf, sizeof buf, "%s%s %g -> %g", s.empty() ? "" : ", ", what, x, y);
            s += buf;
        }
    };
    diff("Uном ф", a.NominalPhaseVoltage, b.NominalPhaseVoltage);
    diff("Uном мф", a.NominalLineVoltage, b.NominalLineVoltage);
    diff("Iном", a.NominalCurrent, b.NominalCurrent);
    diff("коэффициент трансформации", a.VoltageRatio, b.VoltageRatio);
    diff("схема", a.InputConfig, b.InputConfig);
    return s.empty() ? "изменены уставки" : s;
}

int RunInfo(const std::vector<std::string>& files, std::ostream& out, std::ostream& err) {
    TjnSeries j;
    if (OpenJournals(files, j, err)) return 1;
    const TjnMeter& m = j.Meter();
    std::string error;
    int64_t records = 0, waveforms = 0;
    if (!j.Counts(records, waveforms, error)) {
        err << error << '\n';
        return 1;
    }
    for (size_t i = 0; i < j.Size(); ++i) {
        out << "Журнал: " << j.FileName(i) << '\n';
        const std::string warning = UnfinishedText(j.Journal(i));
        if (!warning.empty()) {
            out << warning << '\n';
            err << j.FileName(i) << ": " << warning << '\n';
        }
    }
    out << "Измеритель: " << m.Model << ", заводской номер " << m.FactoryNumber << ", адрес "
        << m.Address << '\n';
    out << "Подключение: " << m.Connection << '\n';
    out << "Программа: " << RecordingProgramText(m) << '\n';
    out << "Начало записи: " << TimeText(m.Started) << '\n';
    TDateTime first = 0, last = 0;
    if (j.RecordSpan(first, last, error))
        out << "Записи 3 с: " << records << ", с " << TimeText(first) << " по " << TimeText(last)
            << '\n'
            << "Покрытие: " << CoverageText(records, first, last) << '\n';
    else if (!error.empty()) {
        err << error << '\n';
        return 1;
    } else
        out << "Записи 3 с: 0\n";
    out << "Блоки форм сигналов: " << waveforms << '\n';
    if (!PrintOutages(j, out, error)) {
        err << error << '\n';
        return 1;
    }

    // Gaps: a step of more than one 3-second interval between neighbours.
    constexpr int kMaxShown = 20;
    int64_t gaps = 0, missing = 0;
    TDateTime previous = 0;
    bool havePrevious = false;
    std::string shown;
    const bool walked = j.ForEachRecordTime(
        [&](size_t, int64_t, TDateTime t) {
            if (havePrevious) {
                const double seconds = (t - previous) * 86400.0;
                const int64_t lost = std::llround(seconds / 3.0) - 1;
                if (lost > 0) {
                    ++gaps;
                    missing += lost;
                    if (gaps <= kMaxShown)
                        shown += "  после " + TimeText(previous) + " до " + TimeText(t) + ": нет " +
                                 std::to_string(lost) + " записей\n";
                }
            }
            previous = t;
            havePrevious = true;
            return true;
        },
        error);
    if (!walked) {
        err << error << '\n';
        return 1;
    }
    if (gaps == 0)
        out << "Пропуски: нет\n";
    else {
        out << "Пропуски: " << gaps << " (нет " << missing << " записей)\n" << shown;
        if (gaps > kMaxShown) out << "  и ещё " << (gaps - kMaxShown) << '\n';
    }

    // Setting changes: every settings answer that differs from the one before it.
    std::vector<uint8_t> before;
    TmonSettings beforeSettings;
    int changes = 0;
    std::string changeLines;
    if (!j.ForEachAnswer(
            [&](size_t, const TjnAnswerView& a) {
                if (a.Kind != TjnAnswerKind::Settings) return true;
                std::vector<uint8_t> now(a.Data, a.Data + a.Size);
                TmonSettings s;
                DecodeSettings(a.Data, a.Size, s);
                if (!before.empty() && now != before) {
                    ++changes;
                    changeLines += "  " + TimeText(a.MeterTime) + ": " +
                                   SettingsChangeNote(beforeSettings, s) + "\n";
                }
                before.swap(now);
                beforeSettings = s;
                return true;
            },
            error)) {
        err << error << '\n';
        return 1;
    }
    out << "Изменения настроек: " << (changes ? std::to_string(changes) : "нет") << '\n'
        << changeLines;
    return 0;
}

int ExportCsv(TjnSeries& j, const std::string& target, TDateTime from, TDateTime to, bool harmonics,
              const TmonCsvOptions& options, std::ostream& err, int64_t& lines) {
    const bool neutral = ModelHasNeutral(j.Meter().ModelIndex);
    std::string error;
    TjnOutFile file;
    if (!file.Open(target, error)) {
        err << error << '\n';
        return 1;
    }
    file.Write(Utf8ToCp1251(RecordCsvHeader(harmonics)));

    TmonData3sec d;
    bool ok = true;
    lines = 0;
    const bool walked = j.ForEachRecord(
        from, to,
        [&](size_t journal, const TjnRecordView& r) {
            if (!j.Decoder(journal).Decode(r, d, error)) return ok = false;
            const std::string time =
                options.FormatDateTime ? options.FormatDateTime(d.Time) : FormatCsvDateTime(d.Time);
            const std::string line =
                RecordCsvLine(d, harmonics, neutral, time, options.DecimalSeparator);
            // Digits, separators and the date: the same bytes in code page 1251.
            file.Write(line);
            ++lines;
            return true;
        },
        error);
    if (!walked || !ok || !file.Commit(error)) {
        err << error << '\n';
        return 1;
    }
    return 0;
}

} // namespace

bool ParseCliTime(const std::string& text, TDateTime& out) {
    TDateTimeParts p;
    char tail = 0;
    int n = std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d%c", &p.Year, &p.Month, &p.Day, &p.Hour,
                        &p.Minute, &p.Second, &tail);
    if (n < 3 || n == 7) {
        p = TDateTimeParts();
        n = std::sscanf(text.c_str(), "%d.%d.%d %d:%d:%d%c", &p.Day, &p.Month, &p.Year, &p.Hour,
                        &p.Minute, &p.Second, &tail);
        if (n < 3 || n == 7) return false;
    }
    return TryEncodeDateTime(p, out);
}

void WidenToWholeSeconds(TDateTime& from, TDateTime& to) {
    // Times are written to the second, as the CSV shows them, while the meter's record times
    // carry milliseconds: a bound takes in the whole second it names.
    constexpr TDateTime kHalfMs = 0.0005 / 86400.0, kSecond = 1.0 / 86400.0;
    if (from != kjnAnyTimeFrom) from -= kHalfMs;
    if (to != kjnAnyTimeTo) to += kSecond - kHalfMs;
}

bool IsJournalCommand(const std::string& command) {
    return command == "info" || command == "export" || command == "salvage";
}

std::string CliJournalHelpText() {
    return "\n"
           "  qzcli poll ... --record FILE\n"
           "      вести журнал записи: каждая 3-секундная запись, каждый блок формы сигнала\n"
           "      и каждый ответ с настройками сохраняются в новом файле FILE (SQLite)\n"
           "\n"
           "  qzcli poll ... --record-dir [DIR] [--rotate day|week]\n"
           "      вести журналы в папке DIR (без DIR — в папке записей окна, Документы/VQ/\n"
           "      Монитор Каврен-QZ2/Записи; создаётся при необходимости): новый журнал\n"
           "      начинается в полночь по часам измерителя (week: в понедельник 00:00),\n"
           "      имя файла <модель>_<заводской номер>_<ГГГГ-ММ-ДД_ЧЧ-ММ-СС>.db;\n"
           "      ни одна запись при переходе не теряется и не повторяется\n"
           "\n"
           "  qzcli info FILE...\n"
           "      измеритель, время начала и конца, число записей и блоков, покрытие,\n"
           "      перерывы опроса, пропуски, изменения настроек; предупреждает о журнале,\n"
           "      запись которого не завершена; несколько журналов одного измерителя\n"
           "      читаются как одна запись по порядку времени\n"
           "\n"
           "  qzcli export FILE... (--csv OUT [--harmonics | --interval 10min|1h]\n"
           "                        [--decimal , | .] |\n"
           "                        --comtrade DIR [--samples N]) [--from T] [--to T]\n"
           "      --csv: одна строка на запись, величины как у poll --json (--harmonics:\n"
           "      и таблицы гармоник), числа и даты по региональным настройкам, как у\n"
           "      poll --csv; --interval: строка на интервал, как их строит протокол\n"
           "      (среднеквадратичные значения, признак достоверности); --comtrade: каждый\n"
           "      блок формы сигнала парой .cfg/.dat (IEEE C37.111-1999, ASCII), N отсчётов\n"
           "      на период (по умолчанию 64);\n"
           "      T — время измерителя \"ГГГГ-ММ-ДД ЧЧ:ММ:СС\" или \"ДД.ММ.ГГГГ ЧЧ:ММ:СС\"\n"
           "      (границы включают всю названную секунду).\n"
           "\n"
           "  qzcli salvage BROKEN NEW\n"
           "      перенести всё, что уцелело в повреждённом или обрезанном журнале BROKEN\n"
           "      (и в файле BROKEN-wal рядом с ним), в новый журнал NEW и сообщить,\n"
           "      что сохранено и что потеряно\n";
}

int RunSalvage(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 3 || args[1].rfind("--", 0) == 0 || args[2].rfind("--", 0) == 0)
        return CliUsageError(err,
                             "Укажите повреждённый журнал и имя нового: qzcli salvage BROKEN NEW");
    TjnSalvageReport report;
    std::string error;
    if (!SalvageJournal(args[1], args[2], report, error)) {
        err << error << '\n';
        return 1;
    }
    out << SalvageReportText(report, args[2]);
    return 0;
}

int RunJournalCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                      const TmonCsvOptions& csv) {
    if (args.size() < 2 || args[1].rfind("--", 0) == 0)
        return CliUsageError(err, "Не задан файл журнала");
    if (args[0] == "salvage") return RunSalvage(args, out, err);
    // The journals, then the options.
    std::vector<std::string> files;
    size_t i = 1;
    for (; i < args.size() && args[i].rfind("--", 0) != 0; ++i)
        files.push_back(args[i]);
    if (args[0] == "info") {
        if (i < args.size()) return CliUsageError(err, "Неизвестный параметр: " + args[i]);
        return RunInfo(files, out, err);
    }
    std::string csvOut, folder;
    TDateTime from = kjnAnyTimeFrom, to = kjnAnyTimeTo;
    bool harmonics = false;
    char decimal = 0;
    int intervalSeconds = 0; // 0: a row per record
    TjnComtradeOptions comtrade;
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--harmonics") {
            harmonics = true;
            continue;
        }
        if (i + 1 >= args.size()) return CliUsageError(err, "Не задано значение для " + a);
        const std::string& v = args[++i];
        if (a == "--csv") {
            csvOut = v;
        } else if (a == "--decimal") {
            if (v != "," && v != ".")
                return CliUsageError(err,
                                     "Неверный десятичный разделитель (ожидается , или .): " + v);
            decimal = v[0];
        } else if (a == "--interval") {
            if (v != "10min" && v != "1h")
                return CliUsageError(err, "Неверный интервал (ожидается 10min или 1h): " + v);
            intervalSeconds = v == "1h" ? 3600 : 600;
        } else if (a == "--comtrade") {
            folder = v;
        } else if (a == "--from" || a == "--to") {
            if (!ParseCliTime(v, a == "--from" ? from : to))
                return CliUsageError(err, "Неверное время: " + v);
        } else if (a == "--samples") {
            char* end = nullptr;
            const long n = std::strtol(v.c_str(), &end, 10);
            if (!end || *end || n < 1 || n > 100000)
                return CliUsageError(err, "Неверное число отсчётов на период: " + v);
            comtrade.SamplesPerPeriod = int(n);
        } else {
            return CliUsageError(err, "Неизвестный параметр: " + a);
        }
    }
    if (csvOut.empty() == folder.empty())
        return CliUsageError(err, "Укажите либо --csv, либо --comtrade");
    if (intervalSeconds && csvOut.empty())
        return CliUsageError(err, "--interval действует только с --csv");
    if (intervalSeconds && harmonics)
        return CliUsageError(err, "--harmonics не сочетается с --interval: строки интервалов уже "
                                  "содержат гармоники KU(n)");
    if (from > to) return CliUsageError(err, "Время --from позже времени --to");
    WidenToWholeSeconds(from, to);
    TjnSeries j;
    if (OpenJournals(files, j, err)) return 1;
    for (size_t k = 0; k < j.Size(); ++k) {
        const std::string warning = UnfinishedText(j.Journal(k));
        if (!warning.empty()) err << j.FileName(k) << ": " << warning << '\n';
    }
    if (!csvOut.empty()) {
        int64_t lines = 0;
        TmonCsvOptions options = csv;
        if (decimal) options.DecimalSeparator = decimal;
        if (intervalSeconds) {
            std::string error;
            if (!ExportIntervalRows(files, csvOut, from, to, intervalSeconds, options, lines,
                                    error)) {
                err << error << '\n';
                return 1;
            }
            err << "Интервалов: " << lines << ", файл " << csvOut << '\n';
            return 0;
        }
        const int rc = ExportCsv(j, csvOut, from, to, harmonics, options, err, lines);
        if (rc == 0) err << "Записей: " << lines << ", файл " << csvOut << '\n';
        return rc;
    }
    int64_t written = 0;
    std::string error;
    if (!ExportComtrade(j, folder, from, to, comtrade, written, error)) {
        err << error << '\n';
        return 1;
    }
    err << "Блоков: " << written << ", папка " << folder << '\n';
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Recording while polling

TCliRecording::TCliRecording(TmonSharedStorage& storage, IExchangeListener* next)
    : FStorage(storage), FNext(next) {}

TCliRecording::~TCliRecording() = default;

IExchangeListener* TCliRecording::Listener() {
    return this;
}

bool TCliRecording::Open(const std::string& fileName, const TccnConnection& c, std::string& error) {
    FFileName = fileName;
    auto writer = std::make_unique<TjnWriter>();
    writer->SetCommitInterval(FCommitSeconds);
    if (!writer->Create(fileName, JournalMeterOf(c, "qzcli"), error)) return false;
    FRecorder = std::make_unique<TjnRecorder>(*writer, FStorage, FNext);
    FWriter = std::move(writer);
    OnFailure(FStop);
    return true;
}

bool TCliRecording::OpenSeries(const std::string& folder, TjnRotation rotation,
                               const TccnConnection& c, std::string& error) {
    auto series = std::make_unique<TjnRotatingRecorder>(FStorage, FNext);
    series->SetCommitInterval(FCommitSeconds);
    if (!series->Start(folder, JournalMeterOf(c, "qzcli"), rotation, error)) return false;
    FSeries = series.get();
    FRecorder = std::move(series);
    FFileName = FSeries->FileName();
    OnFailure(FStop);
    return true;
}

void TCliRecording::BeginOutage(int32_t code, int32_t status, const std::string& text) {
    if (FRecorder) FRecorder->BeginOutage(code, status, text);
}

void TCliRecording::SetPollingThread(const TExchangeThread* thread) {
    FPolling = thread;
}

// The recorder has no part in passing the outage calls on: the journal's outage begins here,
// and the listener hears of it after.
void TCliRecording::OnOutage(int32_t code, int32_t status, uint32_t retryMs) {
    BeginOutage(code, status, FPolling ? FPolling->EndText(code, status) : std::string());
    if (FNext) FNext->OnOutage(code, status, retryMs);
}

// A waveform block that failed is no gap in the 3-second records.
void TCliRecording::OnSignalOutage(int32_t code, int32_t status, uint32_t retryMs) {
    if (FNext) FNext->OnSignalOutage(code, status, retryMs);
}

void TCliRecording::OnFailure(std::function<void()> stop) {
    FStop = stop;
    if (FRecorder)
        FRecorder->OnFailure = [stop](const std::string&) {
            if (stop) stop();
        };
}

std::string TCliRecording::FileName() const {
    return FSeries ? FSeries->FileName() : FFileName;
}

std::string TCliRecording::Finish() {
    if (!FRecorder) return {};
    std::string error = FRecorder->Error();
    std::string closeError;
    const bool closed = FSeries ? FSeries->Close(closeError) : FWriter->Close(closeError);
    if (!closed && error.empty()) error = closeError;
    return error.empty() ? std::string() : JournalWriteErrorText(FileName(), error);
}

// Until a journal is open the calls go straight to the listener.
void TCliRecording::OnData3sec() {
    if (FRecorder)
        FRecorder->OnData3sec();
    else if (FNext)
        FNext->OnData3sec();
}

void TCliRecording::OnExchangeEnd(int32_t errorCode, int32_t deviceStatus) {
    if (FRecorder)
        FRecorder->OnExchangeEnd(errorCode, deviceStatus);
    else if (FNext)
        FNext->OnExchangeEnd(errorCode, deviceStatus);
}

void TCliRecording::OnSignalData(uint8_t channelMask, uint8_t sizeCode) {
    if (FRecorder)
        FRecorder->OnSignalData(channelMask, sizeCode);
    else if (FNext)
        FNext->OnSignalData(channelMask, sizeCode);
}

void TCliRecording::OnSignalEnd(int32_t errorCode, int32_t deviceStatus) {
    if (FRecorder)
        FRecorder->OnSignalEnd(errorCode, deviceStatus);
    else if (FNext)
        FNext->OnSignalEnd(errorCode, deviceStatus);
}

void TCliRecording::OnAnswer(const TmonAnswer& answer) {
    if (FRecorder)
        FRecorder->OnAnswer(answer);
    else if (FNext)
        FNext->OnAnswer(answer);
}

} // namespace qz

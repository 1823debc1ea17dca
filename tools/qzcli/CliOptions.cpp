#include "tools/qzcli/CliOptions.h"

#include "protocol/QZ2Models.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace qz {
namespace {

bool ParseInt(const std::string& s, long long min, long long max, long long& out) {
    if (s.empty() || s.size() > 20) return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(s.c_str(), &end, 10);
    if (errno != 0 || !end || *end != '\0' || v < min || v > max) return false;
    out = v;
    return true;
}

bool ParseHostPort(const std::string& s, std::string& host, uint16_t& port) {
    const auto colon = s.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    long long p = 0;
    if (!ParseInt(s.substr(colon + 1), 1, 65535, p)) return false;
    host = s.substr(0, colon);
    port = uint16_t(p);
    return true;
}

bool IsComName(const std::string& s) {
    if (s.size() < 4 || s.size() > 6) return false;
    for (int i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(s[size_t(i)])) != "COM"[i]) return false;
    long long n = 0;
    return ParseInt(s.substr(3), 1, 255, n) && s[3] != '0';
}

} // namespace

std::string CliHelpText() {
    std::string models;
    for (int i = 0; i < kQZ2ModelCount; ++i)
        models += std::string(i ? ", " : "") + QZ2Model(i).CmdLineName;
    return "qzcli — опрос измерителей без окна.\n"
           "\n"
           "  qzcli connections [--settings FILE] [--text]\n"
           "      список подключений из файла настроек монитора (--text: текстовая форма)\n"
           "\n"
           "  qzcli poll (--id N [--settings FILE] | --model NAME --factory N\n"
           "              (--tcp ADDR:PORT | --com COMn [--baud B]) | --demo [--model NAME])\n"
           "             [--count K] [--json] [--csv [DIR]] [--decimal , | .] [--signal]\n"
           "             [--demo-log FILE]\n"
           "             [--trace FILE [--trace-mask M] [--trace-bytes N] [--trace-size MB]]\n"
           "             [--record FILE | --record-dir [DIR] [--rotate day|week]]\n"
           "             [--commit-every SEC]\n"
           "             [--reconnect [--reconnect-max SEC]]\n"
           "      опрос 3-секундных данных; --count K: остановиться после K записей;\n"
           "      --baud B: любая скорость линии больше 0 (по умолчанию 115200);\n"
           "      --json: одна запись JSON на строку; --csv: каждая запись в файл CSV\n"
           "      (в DIR, папка создаётся при необходимости, или в папку документов);\n"
           "      числа и даты в файле CSV — по региональным настройкам пользователя\n"
           "      (LC_NUMERIC, LC_TIME, LANG); --decimal задаёт десятичный разделитель;\n"
           "      --signal: читать и формы сигналов, последний блок попадает в файл CSV;\n"
           "      --demo: встроенный имитатор измерителя на 127.0.0.1 (--model и --factory\n"
           "      задают его модель и заводской номер, он же адрес);\n"
           "      --record FILE: журнал записи всего прочитанного; --record-dir DIR: серия\n"
           "      журналов в DIR (без DIR — папка записей монитора), новый журнал в полночь\n"
           "      измерителя (--rotate week — в понедельник 00:00);\n"
           "      --commit-every SEC: записи журнала собираются и фиксируются на диске\n"
           "      не реже раза в SEC секунд (1..600), а также в начале перерыва опроса и\n"
           "      при остановке; диск изнашивается в несколько раз меньше, но при\n"
           "      отключении питания теряется до SEC секунд записи; по умолчанию каждая\n"
           "      запись фиксируется сразу;\n"
           "      --reconnect: ошибка обмена не прекращает опрос: она выводится в stderr со\n"
           "      временем, линия открывается заново (модем снова набирает номер) через 3 с,\n"
           "      при каждой следующей ошибке вдвое дольше, но не дольше --reconnect-max\n"
           "      секунд (по умолчанию 60); после удачной записи снова 3 с; настройки и\n"
           "      коэффициенты после каждого перерыва читаются заново; с --signal так же\n"
           "      и чтение форм сигналов; опрос заканчивается только по Ctrl-C, SIGTERM\n"
           "      или --count (код 0);\n"
           "      --trace FILE: трассировка линии в FILE (дописывается; - это stderr):\n"
           "      открытие и закрытие, ошибки, соединение, задания, байты в шестнадцатеричном\n"
           "      виде; --trace-mask M: классы сообщений — число (1 открытие/закрытие,\n"
           "      2 ошибки, 4 соединение, 8 задания, 16 байты) или имена через запятую\n"
           "      open,error,connect,task,dump,all (по умолчанию all). Файл, который нельзя\n"
           "      открыть, — ошибка до начала опроса (код 2). --trace-bytes N: сколько байт\n"
           "      задания показывать (по умолчанию 128, 0 — все); --trace-size MB: файл,\n"
           "      достигший MB мегабайт (по умолчанию 100, 0 — без предела), переименовывается\n"
           "      в FILE.1 (прежний FILE.1 удаляется) и начинается заново, о чём пишется в\n"
           "      обеих частях.\n"
           "      Без --json ход соединения (\"Соединение...\", \"Соединение установлено.\" или\n"
           "      ошибка) выводится в stderr с числом секунд от начала соединения; --json\n"
           "      добавляет к каждой записи объект Link: запросы, ответы, повторы, ошибки\n"
           "      контрольной суммы, тайм-ауты, байты туда и обратно, последнее время ответа.\n"
           "      Модели: " +
           models +
           ".\n"
           "      Ctrl-C останавливает опрос.\n"
           "\n"
           "  Код завершения poll: 0 — опрос закончен (--count или Ctrl-C); 1 — обмен с\n"
           "  измерителем прервался ошибкой или файл CSV не удалось записать (опрос\n"
           "  останавливается сразу, причина выводится в stderr), или в файл трассировки\n"
           "  не удалось записать (сообщается в конце); 2 — неверные параметры,\n"
           "  подключение, которое нельзя использовать, или файл трассировки не открылся.\n"
           "\n"
           "  qzcli --version\n"
           "      версия программы\n";
}

bool ParseCliArgs(const std::vector<std::string>& args, TCliOptions& out, std::string& error) {
    out = TCliOptions();
    if (args.empty()) {
        error = "Не задана команда (connections или poll). См. qzcli --help";
        return false;
    }
    const std::string& cmd = args[0];
    if (cmd == "--help" || cmd == "-h" || cmd == "help") {
        out.Command = TCliOptions::TCommand::Help;
        return true;
    }
    if (cmd == "--version" || cmd == "-V") {
        out.Command = TCliOptions::TCommand::Version;
        return true;
    }
    if (cmd == "connections")
        out.Command = TCliOptions::TCommand::Connections;
    else if (cmd == "poll")
        out.Command = TCliOptions::TCommand::Poll;
    else {
        error = "Неизвестная команда: " + cmd;
        return false;
    }
    const bool poll = out.Command == TCliOptions::TCommand::Poll;
    bool haveFactory = false;
    bool haveTraceMask = false;
    bool haveRotate = false, haveReconnectMax = false, haveBaud = false, haveCommit = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& v) {
            if (i + 1 >= args.size()) {
                error = "Не задано значение для " + a;
                return false;
            }
            v = args[++i];
            return true;
        };
        std::string v;
        long long n = 0;
        if (a == "--help" || a == "-h") {
            out.Command = TCliOptions::TCommand::Help;
            return true;
        } else if (a == "--settings") {
            if (!value(out.SettingsFile)) return false;
        } else if (a == "--text" && !poll) {
            out.Text = true;
        } else if (!poll) {
            error = "Неизвестный параметр: " + a;
            return false;
        } else if (a == "--id") {
            if (!value(v)) return false;
            if (!ParseInt(v, 0, INT32_MAX, n)) {
                error = "Неверный идентификатор подключения: " + v;
                return false;
            }
            out.Id = int32_t(n);
        } else if (a == "--model") {
            if (!value(out.Model)) return false;
            if (ModelIndexOfName(out.Model) < 0) {
                error = "Неизвестная модель: " + out.Model;
                return false;
            }
        } else if (a == "--factory") {
            if (!value(v)) return false;
            if (!ParseInt(v, 1, INT32_MAX, n)) {
                error = "Неверный заводской номер: " + v;
                return false;
            }
            out.Factory = int32_t(n);
            haveFactory = true;
        } else if (a == "--tcp") {
            if (!value(v)) return false;
            if (!ParseHostPort(v, out.TcpHost, out.TcpPort)) {
                error = "Неверный адрес TCP (ожидается АДРЕС:ПОРТ): " + v;
                return false;
            }
        } else if (a == "--com") {
            if (!value(v)) return false;
            if (!IsComName(v)) {
                error = "Неверное имя порта (ожидается COM1..COM255): " + v;
                return false;
            }
            out.ComPort = "COM" + v.substr(3);
        } else if (a == "--baud") {
            if (!value(v)) return false;
            // Any positive speed a stored connection may hold; the port says what it takes.
            if (!ParseInt(v, 1, UINT32_MAX, n)) {
                error = "Неверная скорость: " + v;
                return false;
            }
            out.Baud = uint32_t(n);
            haveBaud = true;
        } else if (a == "--signal") {
            out.Signal = true;
        } else if (a == "--demo") {
            out.Demo = true;
        } else if (a == "--demo-log") {
            if (!value(out.DemoLog)) return false;
        } else if (a == "--count") {
            if (!value(v)) return false;
            if (!ParseInt(v, 1, INT32_MAX, n)) {
                error = "Неверное число записей: " + v;
                return false;
            }
            out.Count = n;
        } else if (a == "--decimal") {
            if (!value(v)) return false;
            if (v != "," && v != ".") {
                error = "Неверный десятичный разделитель (ожидается , или .): " + v;
                return false;
            }
            out.Decimal = v[0];
        } else if (a == "--record") {
            if (!value(out.RecordFile)) return false;
        } else if (a == "--record-dir") {
            // Without a folder: the recordings folder the window's "Запись" uses.
            out.RecordSeries = true;
            if (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) {
                out.RecordDir = args[++i];
                if (out.RecordDir.empty()) {
                    error = "Не задана папка журналов";
                    return false;
                }
            }
        } else if (a == "--rotate") {
            if (!value(v)) return false;
            if (!ParseRotation(v, out.Rotate)) {
                error = "Неверный период журнала (ожидается day или week): " + v;
                return false;
            }
            haveRotate = true;
        } else if (a == "--commit-every") {
            if (!value(v)) return false;
            if (!ParseInt(v, 1, 600, n)) {
                error = "Неверный период фиксации журнала (ожидается 1..600 с): " + v;
                return false;
            }
            out.CommitEverySec = uint32_t(n);
            haveCommit = true;
        } else if (a == "--reconnect") {
            out.Reconnect = true;
        } else if (a == "--reconnect-max") {
            if (!value(v)) return false;
            if (!ParseInt(v, 3, 86400, n)) {
                error = "Неверная наибольшая пауза перед повтором (ожидается 3..86400 с): " + v;
                return false;
            }
            out.ReconnectMaxSec = uint32_t(n);
            haveReconnectMax = true;
        } else if (a == "--trace") {
            if (!value(out.TraceFile)) return false;
            if (out.TraceFile.empty()) {
                error = "Не задан файл трассировки";
                return false;
            }
        } else if (a == "--trace-mask") {
            if (!value(v)) return false;
            if (!ParseTraceMask(v, out.TraceMask, error)) return false;
            haveTraceMask = true;
        } else if (a == "--trace-bytes" || a == "--trace-size") {
            if (!value(v)) return false;
            if (!ParseTraceNumber(a, v, a == "--trace-bytes" ? 0xFFFFFFFFu : 1024 * 1024,
                                  a == "--trace-bytes" ? out.TraceBytes : out.TraceSizeMb, error))
                return false;
            haveTraceMask = true; // as the mask: only with a trace file
        } else if (a == "--json") {
            out.Json = true;
        } else if (a == "--csv") {
            out.Csv = true;
            if (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) out.CsvDir = args[++i];
        } else {
            error = "Неизвестный параметр: " + a;
            return false;
        }
    }
    if (!poll) return true;
    if (haveTraceMask && out.TraceFile.empty()) {
        error = "--trace-mask, --trace-bytes и --trace-size задаются вместе с --trace FILE";
        return false;
    }
    if (haveReconnectMax && !out.Reconnect) {
        error = "--reconnect-max задаётся вместе с --reconnect";
        return false;
    }
    if (!out.RecordFile.empty() && out.RecordSeries) {
        error = "Укажите либо --record FILE, либо --record-dir DIR";
        return false;
    }
    if (haveCommit && out.RecordFile.empty() && !out.RecordSeries) {
        error = "--commit-every задаётся вместе с --record FILE или --record-dir DIR";
        return false;
    }
    if (haveRotate && !out.RecordSeries) {
        error = "--rotate задаётся вместе с --record-dir DIR";
        return false;
    }
    // The built-in meter sits on loopback TCP and has no stored connection: a line speed or
    // a settings file would be silently ignored.
    if (out.Demo && haveBaud) {
        error = "--demo не поддерживает --baud: имитатор подключается по TCP, а не по COM-порту";
        return false;
    }
    if (out.Demo && !out.SettingsFile.empty()) {
        error = "--demo не поддерживает --settings: имитатор не берётся из списка подключений";
        return false;
    }

    const int sources = (out.Id >= 0 ? 1 : 0) + (out.Demo ? 1 : 0) +
                        ((!out.TcpHost.empty() || !out.ComPort.empty()) ? 1 : 0);
    if (sources != 1) {
        error = "Укажите ровно одно: --id N, --tcp/--com с --model и --factory, или --demo";
        return false;
    }
    if (!out.TcpHost.empty() && !out.ComPort.empty()) {
        error = "Укажите либо --tcp, либо --com";
        return false;
    }
    if ((!out.TcpHost.empty() || !out.ComPort.empty()) && (out.Model.empty() || !haveFactory)) {
        error = "Для --tcp и --com нужны --model и --factory";
        return false;
    }
    return true;
}

} // namespace qz

#include "tools/qzcli/CliCollect.h"

#include "channel/LCAObject.h"
#include "collector/colCollector.h"
#include "common/SystemErrorText.h"
#include "connection/CcnConnectionList.h"
#include "protocol/QZ2Models.h"
#include "tools/qzcli/CliRun.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <map>
#include <poll.h>
#include <set>
#include <sstream>
#include <sys/signalfd.h>
#include <unistd.h>

namespace qz {
namespace {

std::string Trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return std::string();
    return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

// Words separated by blanks; "..." keeps blanks inside a word. False for an open quote.
bool SplitWords(const std::string& s, std::vector<std::string>& words) {
    std::string w;
    bool in = false, quoted = false;
    for (char c : s) {
        if (c == '"') {
            quoted = !quoted;
            in = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (in) words.push_back(w);
            w.clear();
            in = false;
        } else {
            w += c;
            in = true;
        }
    }
    if (in) words.push_back(w);
    return !quoted;
}

// The options a meter line may give: where the meter is, nothing about what to do.
const std::set<std::string> kMeterOptions = {"--id",  "--model", "--factory",
                                             "--tcp", "--com",   "--baud"};

bool ParseMeter(const std::string& value, TCollectMeterLine& m, std::string& error) {
    std::vector<std::string> args{"poll"};
    if (!SplitWords(value, args)) {
        error = "не закрыта кавычка";
        return false;
    }
    for (size_t i = 1; i < args.size(); ++i)
        if (args[i].rfind("--", 0) == 0 && !kMeterOptions.count(args[i])) {
            error = "параметр " + args[i] +
                    " здесь не задаётся (допустимы --id, --model, --factory, --tcp, --com, --baud)";
            return false;
        }
    if (args.size() == 1) {
        error = "не задано, где измеритель (--id N или --model, --factory и --tcp/--com)";
        return false;
    }
    // Poll's own checks: exactly one place, the model and factory number with a line.
    if (!ParseCliArgs(args, m.Options, error)) return false;
    for (size_t i = 1; i < args.size(); ++i)
        m.Text += (i > 1 ? " " : "") + args[i];
    return true;
}

bool ParseLine(const std::string& key, const std::string& value, TCollectConfig& c,
               std::string& error) {
    auto path = [&](std::string& to) {
        if (value.empty()) {
            error = "не задан файл";
            return false;
        }
        to = value;
        return true;
    };
    if (key == "name") {
        if (value.empty() || value.find_first_of("/#+ ") != std::string::npos) {
            error = "имя сборщика не может быть пустым и содержать /, #, + или пробел";
            return false;
        }
        c.Name = value;
    } else if (key == "recordings") {
        return path(c.RecordingsDir);
    } else if (key == "rotate") {
        if (!ParseRotation(value, c.Rotation)) {
            error = "rotate — day или week";
            return false;
        }
    } else if (key == "reconnect-max") {
        char* end = nullptr;
        errno = 0;
        const long v = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || errno || *end || v < 3 || v > 86400) {
            error = "reconnect-max — целое число секунд от 3 до 86400";
            return false;
        }
        c.ReconnectMaxSec = uint32_t(v);
    } else if (key == "settings") {
        return path(c.SettingsFile);
    } else if (key == "mqtt") {
        c.HaveMqtt = true;
        return ParseMqttUrl(value, c.Mqtt, error);
    } else if (key == "mqtt-prefix") {
        if (value.empty() || value.find_first_of("#+") != std::string::npos ||
            value.front() == '/' || value.back() == '/') {
            error = "префикс тем не может быть пустым, содержать # или + и начинаться или "
                    "кончаться /";
            return false;
        }
        c.Mqtt.Prefix = value;
    } else if (key == "mqtt-ca") {
        return path(c.Mqtt.CaFile);
    } else if (key == "mqtt-cert") {
        return path(c.Mqtt.CertFile);
    } else if (key == "mqtt-key") {
        return path(c.Mqtt.KeyFile);
    } else if (key == "mqtt-user") {
        if (value.empty()) {
            error = "не задано имя пользователя";
            return false;
        }
        c.Mqtt.User = value;
    } else if (key == "mqtt-password-file") {
        return path(c.Mqtt.PasswordFile);
    } else {
        error = "неизвестный параметр " + key;
        return false;
    }
    return true;
}

std::string ReadFile(const std::string& name, std::string& error) {
    std::ifstream f(name, std::ios::binary);
    if (!f) {
        error = "Не удалось прочитать конфигурацию " + name + ": " + SystemErrorText(errno);
        return std::string();
    }
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

// The meters of the configuration as connections; false with the text naming the line.
bool BuildSpecs(const TCollectConfig& c, std::vector<TcolMeterSpec>& specs, std::string& error) {
    TccnConnectionList list;
    bool listLoaded = false;
    std::map<std::string, int> seen; // meter folder -> line
    for (const auto& m : c.Meters) {
        const std::string line = "Строка " + std::to_string(m.Line) + ": ";
        std::shared_ptr<TccnConnection> connection;
        if (m.Options.Id >= 0) {
            TCliOptions o;
            o.SettingsFile = c.SettingsFile;
            const TmonIniFile settings = OpenSettings(o);
            if (!listLoaded) {
                std::ostringstream err;
                if (!LoadList(settings, list, err)) {
                    error = line + Trim(err.str());
                    return false;
                }
                listLoaded = true;
            }
            const TccnConnection* found = list.FindByID(m.Options.Id);
            if (!found) {
                error = line + "подключение с идентификатором " + std::to_string(m.Options.Id) +
                        " не найдено в " + settings.FileName();
                return false;
            }
            connection = std::make_shared<TccnConnection>();
            connection->Assign(*found);
        } else {
            connection = MakeConnection(ModelIndexOfName(m.Options.Model), m.Options.Factory,
                                        m.Options, m.Options.TcpHost, m.Options.TcpPort);
        }
        const TcolMeterId id = MeterIdOf(*connection);
        const auto [at, fresh] = seen.emplace(MeterFolderName(id), m.Line);
        if (!fresh) {
            error = line + "измеритель " + MeterName(id) + " уже задан в строке " +
                    std::to_string(at->second);
            return false;
        }
        specs.push_back({m.Text, connection});
    }
    return true;
}

// The configuration file read, checked and turned into meters: all of it or nothing.
bool LoadConfig(const std::string& file, TCollectConfig& config, std::vector<TcolMeterSpec>& specs,
                std::string& error) {
    error.clear();
    const std::string text = ReadFile(file, error);
    if (!error.empty()) return false;
    if (!ParseCollectConfig(text, config, error) || !BuildSpecs(config, specs, error)) {
        error = "Ошибка в конфигурации " + file + ": " + error;
        return false;
    }
    return true;
}

} // namespace

bool ParseCollectConfig(const std::string& text, TCollectConfig& out, std::string& error) {
    TCollectConfig c;
    std::set<std::string> given;
    std::istringstream in(text);
    std::string raw;
    int n = 0;
    while (std::getline(in, raw)) {
        ++n;
        const auto hash = raw.find('#');
        // A "#" inside a quoted meter option stays; elsewhere it begins a comment.
        const bool quotedHash = hash != std::string::npos &&
                                std::count(raw.begin(), raw.begin() + long(hash), '"') % 2 == 1;
        const std::string line = Trim(quotedHash ? raw : raw.substr(0, hash));
        if (line.empty()) continue;
        const std::string where = "Строка " + std::to_string(n) + ": ";
        const auto eq = line.find('=');
        if (eq == std::string::npos) {
            error = where + "ожидается «параметр = значение»";
            return false;
        }
        const std::string key = Trim(line.substr(0, eq)), value = Trim(line.substr(eq + 1));
        std::string why;
        if (key == "meter") {
            TCollectMeterLine m;
            m.Line = n;
            if (!ParseMeter(value, m, why)) {
                error = where + why;
                return false;
            }
            c.Meters.push_back(std::move(m));
            continue;
        }
        if (!given.insert(key).second) {
            error = where + "параметр " + key + " задан второй раз";
            return false;
        }
        if (!ParseLine(key, value, c, why)) {
            error = where + why;
            return false;
        }
    }
    if (c.RecordingsDir.empty()) {
        error = "не задана папка записей (recordings = ПАПКА)";
        return false;
    }
    if (c.Meters.empty()) {
        error = "не задан ни один измеритель (meter = ...)";
        return false;
    }
    if (c.Mqtt.CertFile.empty() != c.Mqtt.KeyFile.empty()) {
        error = "сертификат клиента (mqtt-cert) и его ключ (mqtt-key) задаются вместе";
        return false;
    }
    if (!c.Mqtt.PasswordFile.empty() && c.Mqtt.User.empty()) {
        error = "mqtt-password-file задаётся вместе с mqtt-user";
        return false;
    }
    c.Mqtt.Name = c.Name;
    out = std::move(c);
    return true;
}

std::string CollectHelpText() {
    return "\n"
           "  qzcli collect --config FILE [--mqtt mqtt://УЗЕЛ:ПОРТ | mqtts://УЗЕЛ:ПОРТ]\n"
           "      опрос нескольких измерителей с записью журналов (папка на измеритель,\n"
           "      повтор после ошибок) и отправкой записей брокеру MQTT; --mqtt заменяет\n"
           "      адрес брокера из конфигурации; SIGHUP перечитывает конфигурацию,\n"
           "      SIGTERM и Ctrl-C останавливают (код 0); ошибка в конфигурации — код 2.\n"
           "      Формат конфигурации и темы MQTT: man qzcli.\n";
}

int RunCollect(const std::vector<std::string>& args, std::ostream& err, int signalFd) {
    std::string file, mqttUrl;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if ((a == "--config" || a == "--mqtt") && i + 1 < args.size()) {
            (a == "--config" ? file : mqttUrl) = args[++i];
        } else {
            err << "Неверный параметр collect: " << a << "\nСм. qzcli --help\n";
            return 2;
        }
    }
    if (file.empty()) {
        err << "Не задан файл конфигурации: qzcli collect --config FILE\n";
        return 2;
    }
    TCollectConfig config;
    std::vector<TcolMeterSpec> specs;
    std::string error;
    if (!LoadConfig(file, config, specs, error)) {
        err << error << '\n';
        return 2;
    }
    if (!mqttUrl.empty()) {
        if (!ParseMqttUrl(mqttUrl, config.Mqtt, error)) {
            err << error << '\n';
            return 2;
        }
        config.HaveMqtt = true;
    }
    TcolLog log(err);
    // The logical-channel worker all meters share, for the whole run.
    LCAInitialize();
    struct TWorker {
        ~TWorker() { LCAFinalize(); }
    } worker;
    std::unique_ptr<TcolPublisher> publisher;
    if (config.HaveMqtt) {
        publisher = std::make_unique<TcolPublisher>(config.Mqtt, log);
        if (!publisher->Start(error)) {
            err << error << '\n';
            return 2;
        }
    } else {
        log.Write("", "Брокер MQTT не задан: только запись журналов");
    }
    TcolMeterOptions meterOptions;
    meterOptions.RecordingsDir = config.RecordingsDir;
    meterOptions.Rotation = config.Rotation;
    meterOptions.ReconnectMaxMs = config.ReconnectMaxSec * 1000;
    TcolCollector collector(meterOptions, log, publisher.get());
    collector.Apply(std::move(specs));
    for (;;) {
        pollfd fd{signalFd, POLLIN, 0};
        const int n = poll(&fd, 1, -1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        signalfd_siginfo info;
        if (read(signalFd, &info, sizeof info) != ssize_t(sizeof info)) continue;
        if (info.ssi_signo != SIGHUP) break;
        // A reload takes the meters only; the rest is read at the start.
        TCollectConfig next;
        std::vector<TcolMeterSpec> nextSpecs;
        if (!LoadConfig(file, next, nextSpecs, error)) {
            log.Write("", error + "; конфигурация не перечитана, опрос продолжается");
            continue;
        }
        log.Write("", "Конфигурация перечитана");
        collector.Apply(std::move(nextSpecs));
    }
    log.Write("", "Остановка");
    collector.StopAll();
    if (publisher) publisher->Stop();
    return 0;
}

} // namespace qz

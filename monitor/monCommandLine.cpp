#include "monitor/monCommandLine.h"

#include "connection/CcnConnectionClasses.h"
#include "connection/CcnConnectionList.h"
#include "protocol/QZ2Models.h"

#include <cctype>
#include <climits>
#include <cstdio>

namespace qz {

namespace {

std::string Lower(std::string s) {
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A whole decimal integer with an optional sign; nothing else around it.
bool ParseInt32(const std::string& s, int32_t& out) {
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (i == s.size()) return false;
    int64_t v = 0;
    for (; i < s.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
        v = v * 10 + (s[i] - '0');
        if (v > int64_t(INT32_MAX) + 1) return false;
    }
    v = negative ? -v : v;
    if (v > INT32_MAX || v < INT32_MIN) return false;
    out = int32_t(v);
    return true;
}

std::unique_ptr<TccnConnection> MakeConnection(int modelIndex, int32_t factoryNumber,
                                               std::unique_ptr<TccnCustomConMode> mode) {
    auto device = CreateDevice(TDeviceType(QZ2Model(modelIndex).DeviceType));
    device->SetFactoryNum(factoryNumber);
    auto protocol = std::make_unique<TccnKavrenProtocol>();
    protocol->SetDeviceAddress(uint16_t(uint32_t(factoryNumber) & 0xFFFFu));
    auto c = std::make_unique<TccnConnection>();
    c->SetCustomDevice(std::move(device));
    c->SetCustomDeviceProtocol(std::move(protocol));
    c->SetCustomConMode(std::move(mode));
    return c;
}

} // namespace

bool DisplayExpected(const char* display, const char* waylandDisplay, const char* qtPlatform) {
    const auto named = [](const char* v) { return v && *v; };
    return named(display) || named(waylandDisplay) || named(qtPlatform);
}

TmonInfoRequest FindInfoRequest(const std::vector<std::string>& args) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--screenshots" || a == "--trace" || a == "--trace-mask" || a == "--trace-bytes" ||
            a == "--trace-size")
            ++i;
        else if (a == "--help" || a == "-h")
            return TmonInfoRequest::Help;
        else if (a == "--version" || a == "-V")
            return TmonInfoRequest::Version;
    }
    return TmonInfoRequest::None;
}

bool TakeTraceArguments(std::vector<std::string>& args, std::optional<TmonTraceArguments>& trace,
                        std::string& error) {
    trace.reset();
    TmonTraceArguments found;
    bool file = false, mask = false;
    std::vector<std::string> rest;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a != "--trace" && a != "--trace-mask" && a != "--trace-bytes" && a != "--trace-size") {
            rest.push_back(a);
            continue;
        }
        if (i + 1 >= args.size()) {
            error = "Не задано значение для " + a;
            return false;
        }
        const std::string& v = args[++i];
        if (a == "--trace") {
            if (v.empty()) {
                error = "Не задан файл трассировки";
                return false;
            }
            found.File = v;
            file = true;
        } else if (a == "--trace-mask") {
            if (!ParseTraceMask(v, found.Mask, error)) return false;
            mask = true;
        } else {
            const bool bytes = a == "--trace-bytes";
            if (!ParseTraceNumber(a, v, bytes ? 0xFFFFFFFFu : 1024 * 1024,
                                  bytes ? found.Bytes : found.SizeMb, error))
                return false;
            mask = true;
        }
    }
    if (mask && !file) {
        error = "--trace-mask, --trace-bytes и --trace-size задаются вместе с --trace ФАЙЛ";
        return false;
    }
    if (file) trace = found;
    args.swap(rest);
    return true;
}

std::string MonitorHelpText() {
    std::string models;
    for (int i = 0; i < kQZ2ModelCount; ++i) {
        models += i ? ", " : "";
        models += QZ2Model(i).CmdLineName;
        if (i == ModelIndexOfName("qz2m")) models += " (qz2+)"; // ParsePollArguments takes both
    }
    return "qzmonitor — монитор трёхфазных измерителей показателей качества электроэнергии.\n"
           "\n"
           "  qzmonitor\n"
           "      окно с подключением, выбранным в прошлый раз\n"
           "  qzmonitor poll COMn МОДЕЛЬ ЗАВОДСКОЙ_НОМЕР [/start]\n"
           "      измеритель на COM-порту (115200 бит/с); /start: сразу начать опрос.\n"
           "      Модели: " +
           models +
           "\n"
           "  qzmonitor --demo [--screenshots ПАПКА]\n"
           "      встроенный имитатор измерителя на 127.0.0.1, опрос начинается сразу;\n"
           "      --screenshots: снимки окна после двух записей в ПАПКУ, затем выход\n"
           "  qzmonitor ... --trace ФАЙЛ [--trace-mask M] [--trace-bytes N] [--trace-size MB]\n"
           "      трассировка линии в ФАЙЛ (дописывается; - это stderr): открытие и закрытие,\n"
           "      ошибки, соединение, задания, байты в шестнадцатеричном виде; M — число\n"
           "      (1 открытие/закрытие, 2 ошибки, 4 соединение, 8 задания, 16 байты) или\n"
           "      имена через запятую open,error,connect,task,dump,all (по умолчанию all).\n"
           "      Файл, который нельзя открыть, — ошибка при запуске (код 2).\n"
           "      N — сколько байт задания показывать (по умолчанию 128, 0 — все); файл,\n"
           "      достигший MB мегабайт (по умолчанию 100, 0 — без предела), переименовывается\n"
           "      в ФАЙЛ.1 (прежний ФАЙЛ.1 удаляется) и начинается заново\n"
           "  qzmonitor --help | --version\n"
           "      эта справка | версия программы\n"
           "\n"
           "Порт COMn — это /dev/ttyS(n-1) (COM33.. /dev/ttyUSB*, COM65.. /dev/ttyACM*),\n"
           "если ссылка ~/.local/share/VQ/ports/comN не указывает другое устройство.\n"
           "Для доступа к последовательным портам пользователь должен входить в группу dialout.\n";
}

std::optional<TmonPollArguments> ParsePollArguments(const std::vector<std::string>& args) {
    auto arg = [&args](size_t i) { return i < args.size() ? args[i] : std::string(); };
    if (Lower(arg(0)) != "poll") return std::nullopt;
    const std::string port = arg(1), model = arg(2), factory = arg(3);
    if (port.empty() || model.empty() || factory.empty()) return std::nullopt;
    if (port.size() < 4 || Lower(port.substr(0, 3)) != "com") return std::nullopt;
    int32_t n = 0;
    if (!ParseInt32(port.substr(3), n) || n < 1 || n > 255) return std::nullopt;
    std::string name = Lower(model);
    if (name == "qz2+") name = "qz2m";
    int index = ModelIndexOfName(name);
    if (index < 0) return std::nullopt;
    int32_t number = 0;
    if (!ParseInt32(factory, number) || number <= 0) return std::nullopt;
    TmonPollArguments a;
    a.ModelIndex = index;
    a.FactoryNumber = number;
    a.ComPort = uint8_t(n);
    a.Start = Lower(arg(4)).find("/start") != std::string::npos;
    return a;
}

std::unique_ptr<TccnConnection> MakeCommandLineConnection(int modelIndex, int32_t factoryNumber,
                                                          uint8_t comPort) {
    auto mode = std::make_unique<TccnDirect232ConMode>();
    char name[16];
    std::snprintf(name, sizeof name, "COM%d", int(comPort));
    mode->ComPortInterface().SetPortName(name);
    mode->ComPortInterface().SetBaudrate(115200);
    return MakeConnection(modelIndex, factoryNumber, std::move(mode));
}

std::unique_ptr<TccnConnection> MakeTcpConnection(int modelIndex, int32_t factoryNumber,
                                                  const std::string& host, int32_t port) {
    auto mode = std::make_unique<TccnDirectTCPIPConMode>();
    mode->TCPIPInterface().SetIpAddress(host);
    mode->TCPIPInterface().SetIpPort(port);
    return MakeConnection(modelIndex, factoryNumber, std::move(mode));
}

} // namespace qz

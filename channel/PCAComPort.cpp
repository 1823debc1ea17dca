#include "channel/PCAComPort.h"

#include "platform/ComPorts.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace qz {

namespace {
TSerialDeviceFactory& FactoryRef() {
    static TSerialDeviceFactory factory = [] { return std::make_unique<TTermiosSerialDevice>(); };
    return factory;
}

// The reply as the modem's text: its bytes up to the first NUL.
bool ReplyContains(const uint8_t* buf, uint32_t n, const char* what) {
    const uint8_t* end = std::find(buf, buf + n, 0);
    size_t len = std::strlen(what);
    return std::search(buf, end, what, what + len) != end;
}

constexpr uint32_t kReplySize = 255;

const char kOpto[] = "Оптическая приставка: ";
} // namespace

void SetDefaultSerialDeviceFactory(TSerialDeviceFactory factory) {
    if (factory)
        FactoryRef() = std::move(factory);
    else
        FactoryRef() = [] { return std::make_unique<TTermiosSerialDevice>(); };
}

TSerialDeviceFactory DefaultSerialDeviceFactory() {
    return FactoryRef();
}

namespace {
TComPortTimings& TimingsRef() {
    static TComPortTimings timings;
    return timings;
}
} // namespace

void SetDefaultComPortTimings(const TComPortTimings& timings) {
    TimingsRef() = timings;
}

TComPortTimings DefaultComPortTimings() {
    return TimingsRef();
}

TPCAComPort::TPCAComPort(const TPCAParams& params, TSerialDeviceFactory factory, TSleeper sleeper)
    : TPCACustom(std::move(sleeper)) {
    params_.SetKind(TPCAParams::KindComPort);
    if (params.Kind() != TPCAParams::KindComPort) {
        lastError_ = pcaBadKind;
        return;
    }
    std::memcpy(params_.Bytes.data() + 1, params.Bytes.data() + 1, TPCAParams::Size - 1);
    lastError_ = pcaOk;

    devicePath_ =
        ResolveComPort(params_.StringBytes(TPCAParams::OffPortName, TPCAParams::MaxPortName));
    device_ = (factory ? factory : DefaultSerialDeviceFactory())();
    if (devicePath_.empty() || !device_) {
        lastError_ = pcaPortNotFound;
        return;
    }
    int err = device_->Open(devicePath_);
    if (err != 0) {
        lastError_ =
            (err == EACCES || err == EPERM || err == EBUSY) ? pcaPortBusy : pcaPortNotFound;
        return;
    }
    handle_ = device_->Fd();
    if (!WritePortSettings(params_.Baudrate())) {
        lastError_ = pcaPortSettingsFailed;
        ClosePort();
        return;
    }
    if (IsModemMode()) {
        SetRTS(true);
        SetDTR(true);
        if (!device_->GetModemLines().CTS) {
            lastError_ = pcaNoModem;
            ClosePort();
        }
    }
    Sleep(SettleMs);
}

TPCAComPort::~TPCAComPort() {
    EndConnectHelper(); // a dialogue under way ends (and hangs up) while the port is ours
    if (device_ && device_->IsOpen()) Disconnect();
    ClosePort();
    lastError_ = pcaOk;
}

void TPCAComPort::ClosePort() {
    CancelOwnTransfers();
    if (device_) device_->Close();
    handle_ = -1;
}

bool TPCAComPort::IsModemMode() const {
    return params_.Mode() == ModePhone || params_.Mode() == ModeRadio;
}

bool TPCAComPort::Carrier() {
    return device_ && device_->GetModemLines().DCD;
}

bool TPCAComPort::WritePortSettings(uint32_t baud) {
    // The optical attachment is powered from DTR and RTS: its settings keep both raised;
    // every other mode drives the lines by hand and starts with both down.
    bool linesOn = params_.Mode() == ModeOpto;
    if (!device_ || !device_->Configure(baud, linesOn)) return false;
    dtr_ = rts_ = linesOn;
    return true;
}

void TPCAComPort::SetDTR(bool on) {
    if (device_) device_->SetDTR(on);
    dtr_ = on;
}

void TPCAComPort::SetRTS(bool on) {
    if (device_) device_->SetRTS(on);
    rts_ = on;
}

uint32_t TPCAComPort::ReadIntervalMs() const {
    uint8_t m = params_.Mode();
    return timings_.ReadIntervalMs[m < 4 ? m : 0];
}

uint32_t TPCAComPort::WriteDeadlineMs(uint32_t count) const {
    uint64_t ms = uint64_t(count) * WriteMsPerByte + WriteConstantMs;
    return uint32_t(std::min<uint64_t>(ms, 0x7FFFFFFF));
}

uint8_t TPCAComPort::OptoBaudCode(uint32_t baud) {
    switch (baud) {
    case 2400:
        return 0x1A;
    case 9600:
        return 0x16;
    case 19200:
        return 0x13;
    case 57600:
        return 0x11;
    case 115200:
        return 0x10;
    default:
        return 0x16;
    }
}

void TPCAComPort::PulseLines() {
    if (params_.Mode() == ModeDirect || params_.Mode() == ModeOpto) {
        if (params_.PowerLines() == 0) return;
    } else {
        return; // in the modem modes these bytes are the initialisation string
    }
    SetRTS(true);
    Sleep(5);
    SetDTR(true);
    Sleep(25);
    SetRTS(false);
    Sleep(5);
    SetDTR(false);
    Sleep(25);
    SetRTS(true);
    Sleep(5);
    SetDTR(true);
    Sleep(10);
}

void TPCAComPort::RaiseModemLines() {
    if (dtr_ && rts_) return;
    SetRTS(true);
    SetDTR(true);
    Sleep(SettleMs);
}

std::string TPCAComPort::PrintableBytes(const uint8_t* data, size_t n) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    bool gap = false;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t b = data[i];
        if (b == '\r' || b == '\n') {
            gap = true;
            continue;
        }
        if (gap && !out.empty()) out += ' ';
        gap = false;
        if (b >= 0x20 && b < 0x7F) {
            out += char(b);
        } else {
            out += '<';
            out += kHex[b >> 4];
            out += kHex[b & 15];
            out += '>';
        }
    }
    if (out.empty() && n > 0) { // only line ends: show them as they are
        for (size_t i = 0; i < n; ++i)
            out += data[i] == '\r' ? "<0D>" : "<0A>";
    }
    return out;
}

std::string TPCAComPort::ModemName() const {
    return params_.Mode() == ModeRadio ? "Радиомодем" : "Модем";
}

uint32_t TPCAComPort::Command(const std::string& cmd, uint32_t timeoutMs, uint8_t* buf,
                              uint32_t size, const char* waitText) {
    const std::string name = ModemName();
    std::memset(buf, 0, size);
    Progress(name + ": > " +
             PrintableBytes(reinterpret_cast<const uint8_t*>(cmd.data()), cmd.size()));
    uint32_t written = 0;
    if (BaseWrite(cmd.data(), uint32_t(cmd.size()), nullptr, written) != 0) {
        Progress(name + ": команда не передана.");
        return 0;
    }
    if (waitText) Progress(name + ": " + waitText);
    uint32_t n = 0;
    if (BaseRead(buf, size, timeoutMs, nullptr, n) != 0) n = 0;
    Progress(n > 0 ? name + ": < " + PrintableBytes(buf, n) : name + ": ответа нет.");
    return n;
}

int TPCAComPort::Connect() {
    if (!device_ || !device_->IsOpen()) {
        // Only a channel whose port is open can be connected.
        lastError_ = pcaPortNotFound;
        return -1;
    }
    switch (params_.Mode()) {
    case ModeDirect:
        PulseLines();
        lastError_ = pcaOk;
        return 0;
    case ModePhone:
        return ConnectPhone();
    case ModeRadio:
        return ConnectRadio();
    case ModeOpto:
        return ConnectOpto();
    default:
        return TPCACustom::Connect();
    }
}

int TPCAComPort::BeginModemDialogue() {
    lastError_ = pcaNotImplemented;
    RaiseModemLines();
    const TModemLines lines = device_->GetModemLines();
    if (!lines.CTS) {
        Progress(ModemName() + ": нет сигнала готовности (CTS).");
        lastError_ = pcaNoModem;
        return -1;
    }
    if (lines.DCD) { // the call is still up
        Progress(ModemName() + ": связь сохранилась, несущая есть.");
        lastError_ = pcaOk;
        return 0;
    }
    Progress(ModemName() + ": инициализация.");
    return kGoOn;
}

int TPCAComPort::EndModemCall() {
    if (Carrier()) {
        Progress(ModemName() + ": несущая есть.");
        lastError_ = pcaOk;
        return 0;
    }
    Progress(ModemName() + ": несущей нет.");
    if (params_.Mode() == ModePhone)
        HangUpPhone();
    else
        HangUpRadio();
    lastError_ = pcaNoModemConnection;
    return -1;
}

int TPCAComPort::ConnectPhone() {
    if (const int done = BeginModemDialogue(); done != kGoOn) return done;
    uint8_t buf[kReplySize];
    // Numeric result codes, no echo, result codes on, DCD follows the carrier, hang up when
    // DTR drops.
    uint32_t n = Command("ATV0E0Q0&C1&D2\r", timings_.ModemReplyMs, buf, kReplySize);
    bool accepted = (buf[0] == 'O' && n > 2) || (buf[0] == 'A' && n > 5) ||
                    (buf[0] == '\r' && n > 3) || (buf[0] == '0' && n > 1) ||
                    ReplyContains(buf, n, "OK");
    if (!accepted) {
        lastError_ = pcaModemInitFailed;
        return -1;
    }
    std::string init = params_.StringBytes(TPCAParams::OffInitString, TPCAParams::MaxInitString);
    if (!init.empty()) {
        n = Command(init + "\r", timings_.ModemReplyMs, buf, kReplySize);
        accepted = (buf[0] == 'A' && n >= 5) || (buf[0] == '\r' && n > 3) ||
                   (buf[0] == '0' && n >= 1) || ReplyContains(buf, n, "OK");
        if (!accepted) {
            lastError_ = pcaModemInitFailed;
            return -1;
        }
    }
    std::string dial;
    if (params_.DialNumber() == 1) {
        const std::string number =
            params_.StringBytes(TPCAParams::OffPhoneNumber, TPCAParams::MaxPhoneNumber);
        dial = std::string(params_.ToneDial() == 1 ? "ATdt" : "ATdp") + number + "\r";
        Progress("Модем: набор номера " +
                 PrintableBytes(reinterpret_cast<const uint8_t*>(number.data()), number.size()) +
                 ".");
    } else {
        dial = "ATd\r";
        Progress("Модем: подключение к линии без набора номера.");
    }
    // The result code ends the read.
    Command(dial, timings_.DialReplyMs, buf, kReplySize, "ожидание несущей.");
    return EndModemCall();
}

int TPCAComPort::ConnectRadio() {
    if (const int done = BeginModemDialogue(); done != kGoOn) return done;
    uint8_t buf[kReplySize];
    std::string init = params_.StringBytes(TPCAParams::OffInitString, TPCAParams::MaxInitString);
    if (!init.empty()) {
        uint32_t n = Command(init + "\r", timings_.RadioInitReplyMs, buf, kReplySize);
        if (!ReplyContains(buf, n, "cmd:")) { // the modem's command prompt
            lastError_ = pcaModemInitFailed;
            return -1;
        }
    }
    const std::string number =
        params_.StringBytes(TPCAParams::OffCallNumber, TPCAParams::MaxCallNumber);
    Progress("Радиомодем: вызов абонента " +
             PrintableBytes(reinterpret_cast<const uint8_t*>(number.data()), number.size()) + ".");
    Command("c " + number + "\r", timings_.DialReplyMs, buf, kReplySize, "ожидание несущей.");
    return EndModemCall();
}

int TPCAComPort::ConnectOpto() {
    lastError_ = pcaNotImplemented;
    if (params_.PowerLines() != 0) Progress(std::string(kOpto) + "питание от линий DTR и RTS.");
    PulseLines();
    // The attachment listens at 9600 bit/s for the code of the line speed.
    Progress(std::string(kOpto) + "подготовка к приёму кода скорости (9600 бит/с).");
    WritePortSettings(OptoHandshakeBaud);
    SetRTS(false);
    Sleep(OptoStepMs);
    lastError_ = pcaNoOptoAttachment;
    uint8_t code = OptoBaudCode(params_.Baudrate());
    Progress(std::string(kOpto) + "> " + PrintableBytes(&code, 1) + " (код скорости " +
             std::to_string(params_.Baudrate()) + " бит/с).");
    uint32_t written = 0;
    int r = BaseWrite(&code, 1, nullptr, written);
    if (r != 0 || written != 1) {
        Progress(std::string(kOpto) + "код скорости не передан.");
        // Without its code byte the attachment stays at the wrong speed: report it now
        // rather than as time-outs of every later read.
        lastError_ = pcaNoOptoAttachment;
        return -1;
    }
    lastError_ = pcaNoOptoAttachment;
    Sleep(OptoStepMs);
    SetRTS(true);
    Sleep(OptoStepMs);
    WritePortSettings(params_.Baudrate());
    Progress(std::string(kOpto) + "скорость линии " + std::to_string(params_.Baudrate()) +
             " бит/с.");
    lastError_ = pcaOk;
    return 0;
}

int TPCAComPort::HangUpPhone() {
    lastError_ = pcaOk;
    uint8_t buf[kReplySize];
    Progress("Модем: разъединение.");
    Command("+++", timings_.HangUpReplyMs, buf, kReplySize);
    SetDTR(false);
    SetRTS(false);
    lastError_ = pcaOk;
    return 0;
}

int TPCAComPort::HangUpRadio() {
    lastError_ = pcaOk;
    uint8_t buf[kReplySize];
    Progress("Радиомодем: разъединение.");
    Command(std::string(3, '\x03'), timings_.HangUpReplyMs, buf, kReplySize);
    Command("D\r", timings_.HangUpReplyMs, buf, kReplySize);
    SetDTR(false);
    SetRTS(false);
    lastError_ = pcaOk;
    return 0;
}

int TPCAComPort::Disconnect() {
    uint8_t mode = params_.Mode();
    if (mode > ModeOpto) return TPCACustom::Disconnect();
    if (!device_ || !device_->IsOpen()) {
        lastError_ = pcaOk;
        return 0;
    }
    switch (mode) {
    case ModePhone:
        return HangUpPhone();
    case ModeRadio:
        return HangUpRadio();
    default:
        SetDTR(false);
        SetRTS(false);
        Sleep(SettleMs);
        lastError_ = pcaOk;
        return 0;
    }
}

bool TPCAComPort::IsSameChannel(const TPCAParams& params) const {
    return params.Kind() == TPCAParams::KindComPort &&
           params.RawString(TPCAParams::OffPortName, TPCAParams::MaxPortName) ==
               params_.RawString(TPCAParams::OffPortName, TPCAParams::MaxPortName);
}

bool TPCAComPort::NeedReconnect(const TPCAParams& params) const {
    if (!IsSameChannel(params)) return false;
    if (params.Baudrate() != params_.Baudrate() || params.Mode() != params_.Mode()) return true;
    if (params_.Mode() == ModePhone) {
        if (params.DialNumber() != params_.DialNumber()) return true;
        if (params.DialNumber() == 1 &&
            params.RawString(TPCAParams::OffPhoneNumber, TPCAParams::MaxPhoneNumber) !=
                params_.RawString(TPCAParams::OffPhoneNumber, TPCAParams::MaxPhoneNumber))
            return true;
    } else if (params_.Mode() == ModeRadio) {
        if (params.RawString(TPCAParams::OffCallNumber, TPCAParams::MaxCallNumber) !=
            params_.RawString(TPCAParams::OffCallNumber, TPCAParams::MaxCallNumber))
            return true;
    }
    return false;
}

int TPCAComPort::GetParams(TPCAParams& params) {
    params = params_;
    lastError_ = pcaOk;
    return 0;
}

int TPCAComPort::SetParams(const TPCAParams& params) {
    if (params.Kind() != TPCAParams::KindComPort) {
        lastError_ = pcaBadKind;
        return -1;
    }
    if (!IsSameChannel(params)) {
        lastError_ = pcaBadPortName;
        return -1;
    }
    const uint8_t oldMode = params_.Mode(), newMode = params.Mode();
    if (params.Baudrate() != params_.Baudrate()) {
        // With the flag bits of the current mode. A speed the port refuses is reported now,
        // not left to show up as a line at the wrong speed.
        if (!WritePortSettings(params.Baudrate())) {
            lastError_ = pcaPortSettingsFailed;
            return -1;
        }
        params_.SetBaudrate(params.Baudrate());
        if (newMode == ModeOpto) {
            SetDTR(false);
            SetRTS(false);
        }
    }
    if (newMode != oldMode) {
        SetDTR(false);
        SetRTS(false);
        if (newMode == ModeDirect) {
            SetRTS(params.PowerLines() != 0);
            SetDTR(params.PowerLines() != 0);
        }
    } else if (newMode == ModeDirect) {
        SetRTS(params.PowerLines() != 0);
        SetDTR(params.PowerLines() != 0);
    } else if (newMode == ModePhone) {
        // A new number drops the call, so that the next Connect dials it.
        if (params.DialNumber() == 1 &&
            params.RawString(TPCAParams::OffPhoneNumber, TPCAParams::MaxPhoneNumber) !=
                params_.RawString(TPCAParams::OffPhoneNumber, TPCAParams::MaxPhoneNumber)) {
            SetDTR(false);
            SetRTS(false);
        }
    } else if (newMode == ModeRadio) {
        if (params.RawString(TPCAParams::OffCallNumber, TPCAParams::MaxCallNumber) !=
            params_.RawString(TPCAParams::OffCallNumber, TPCAParams::MaxCallNumber)) {
            SetDTR(false);
            SetRTS(false);
        }
    }
    std::memcpy(params_.Bytes.data() + 1, params.Bytes.data() + 1, TPCAParams::Size - 1);
    lastError_ = pcaOk;
    return 0;
}

int TPCAComPort::Write(const void* buffer, uint32_t count, TOverlapped* block, uint32_t& written) {
    written = 0;
    // Every write discards unread input first: a reply is read after the request it answers.
    if (device_) device_->Purge(true, true);
    if (IsModemMode() && !Carrier()) {
        lastError_ = pcaConnectionLost;
        return -1;
    }
    return BaseWrite(buffer, count, block, written);
}

int TPCAComPort::Read(void* buffer, uint32_t count, uint32_t timeoutMs, TOverlapped* block,
                      uint32_t& readCount) {
    readCount = 0;
    if (IsModemMode() && !Carrier()) {
        lastError_ = pcaConnectionLost;
        return -1;
    }
    return BaseRead(buffer, count, timeoutMs, block, readCount);
}

int TPCAComPort::CheckDevice() {
    return device_ && device_->GetModemLines().DSR ? pcaOk : pcaNoDevice;
}

void TPCAComPort::CancelIO() {
    CancelOwnTransfers();
    if (device_) device_->Purge(true, true);
}

} // namespace qz

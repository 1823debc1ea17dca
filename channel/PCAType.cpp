#include "channel/PCAType.h"

#include "channel/PCAComPort.h"
#include "channel/PCAEthernetTCP.h"
#include "common/Cp1251.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstring>
#include <initializer_list>

namespace qz {

bool TPCAParams::Parse(const uint8_t* data, size_t size) {
    if (!data || size < Size) return false;
    std::memcpy(Bytes.data(), data, Size);
    return true;
}

std::string TPCAParams::StringBytes(size_t offset, size_t maxChars) const {
    size_t len = std::min<size_t>(Bytes[offset], maxChars);
    return std::string(reinterpret_cast<const char*>(Bytes.data()) + offset + 1, len);
}

std::string TPCAParams::RawString(size_t offset, size_t maxChars) const {
    std::string s = StringBytes(offset, maxChars);
    s.insert(s.begin(), char(uint8_t(s.size())));
    return s;
}

std::string TPCAParams::GetString(size_t offset, size_t maxChars) const {
    return Cp1251ToUtf8(StringBytes(offset, maxChars));
}

void TPCAParams::SetString(size_t offset, size_t maxChars, const std::string& utf8) {
    std::string cp = Utf8ToCp1251(utf8);
    if (cp.size() > maxChars) cp.resize(maxChars);
    std::fill(Bytes.begin() + offset, Bytes.begin() + offset + 1 + maxChars, 0);
    Bytes[offset] = uint8_t(cp.size());
    std::memcpy(Bytes.data() + offset + 1, cp.data(), cp.size());
}

uint32_t TPCAParams::GetU32(size_t offset) const {
    return uint32_t(Bytes[offset]) | uint32_t(Bytes[offset + 1]) << 8 |
           uint32_t(Bytes[offset + 2]) << 16 | uint32_t(Bytes[offset + 3]) << 24;
}

void TPCAParams::SetU32(size_t offset, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        Bytes[offset + i] = uint8_t(v >> (8 * i));
}

std::string PCAErrorText(int code) {
    switch (code) {
    case 0:
        return "";
    case 1:
        return "Действие не реализовано.";
    case 2:
        return "Не было начальной инициализации модуля.";
    case 3:
        return "Неверный Handle.";
    case 4:
        return "Неверный тип PCA.";
    case 5:
        return "Превышено время ожидания.";
    case 10:
        return "Порт занят другим приложением.";
    case 11:
        return "Com-порт не найден.";
    case 12:
        return "Ошибка записи в порт";
    case 13:
        return "Ошибка чтения из порта";
    case 14:
        return "Модем не найден.";
    case 15:
        return "Неверное имя порта.";
    case 16:
        return "Не удалось установить соединение с модемом.";
    case 17:
        return "Инициализация модема не прошла.";
    case 18:
        return "Ошибка при создании сокета.";
    case 19:
        return "Удаленный сервер не найден.";
    case 20:
        return "Неверные IP и порт.";
    case 21:
        return "Неверные адрес.";
    case 22:
        return "Соединение потеряно.";
    case 23:
        return "Инициализация порта выполнена с ошибкой.";
    case 24:
        return "Подключенное устройство неопределяется.";
    case 25:
        return "Нет соединения с оптической приставкой.";
    default:
        return "Неизвестный код ошибки.";
    }
}

namespace {
TSleeper& DefaultSleeperRef() {
    static TSleeper sleeper = RealSleep;
    return sleeper;
}
} // namespace

void SetDefaultPCASleeper(TSleeper sleeper) {
    DefaultSleeperRef() = sleeper ? std::move(sleeper) : TSleeper(RealSleep);
}

TSleeper DefaultPCASleeper() {
    return DefaultSleeperRef();
}

TPCACustom::TPCACustom(TSleeper sleeper)
    : sleeper_(sleeper ? std::move(sleeper) : DefaultPCASleeper()) {}

TPCACustom::~TPCACustom() {
    EndConnectHelper();
    for (int fd : {connectDoneFd_, abortFd_})
        if (fd >= 0) close(fd);
}

namespace {
void SignalFd(int fd) {
    const uint64_t one = 1;
    ssize_t n;
    do {
        n = write(fd, &one, sizeof one);
    } while (n < 0 && errno == EINTR);
}
bool DrainFd(int fd) {
    uint64_t v = 0;
    ssize_t n;
    do {
        n = read(fd, &v, sizeof v);
    } while (n < 0 && errno == EINTR);
    return n == sizeof v;
}
} // namespace

int TPCACustom::BeginConnect(TConnectWait& wait) {
    wait = {};
    if (connectDoneFd_ < 0) connectDoneFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (abortFd_ < 0) abortFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (connectDoneFd_ < 0 || abortFd_ < 0) return Connect() == 0 ? ConnectDone : ConnectFailed;
    EndConnectHelper();
    connectThread_ = std::thread([this] {
        connectResult_ = Connect();
        SignalFd(connectDoneFd_);
    });
    wait.Fd = connectDoneFd_;
    wait.Events = EPOLLIN;
    return ConnectPending;
}

int TPCACustom::ContinueConnect(bool, TConnectWait& wait) {
    wait = {};
    if (!connectThread_.joinable()) return ConnectFailed;
    if (!DrainFd(connectDoneFd_)) { // not yet: a spurious wake-up
        wait.Fd = connectDoneFd_;
        wait.Events = EPOLLIN;
        return ConnectPending;
    }
    connectThread_.join();
    return connectResult_ == 0 ? ConnectDone : ConnectFailed;
}

void TPCACustom::AbortConnect() {
    if (!connectThread_.joinable()) return;
    abort_ = true;
    SignalFd(abortFd_);
    connectThread_.join();
    DrainFd(connectDoneFd_);
    DrainFd(abortFd_);
    abort_ = false;
}

void TPCACustom::EndConnectHelper() {
    TPCACustom::AbortConnect();
}

int TPCACustom::Connect() {
    lastError_ = pcaNotImplemented;
    return -1;
}

bool TPCACustom::IsSameChannel(const TPCAParams&) const {
    return false;
}

bool TPCACustom::NeedReconnect(const TPCAParams&) const {
    return true;
}

int TPCACustom::Disconnect() {
    lastError_ = pcaNotImplemented;
    return -1;
}

int TPCACustom::GetParams(TPCAParams&) {
    lastError_ = pcaNotImplemented;
    return -1;
}

int TPCACustom::SetParams(const TPCAParams&) {
    lastError_ = pcaNotImplemented;
    return -1;
}

int TPCACustom::Write(const void* buffer, uint32_t count, TOverlapped* block, uint32_t& written) {
    return BaseWrite(buffer, count, block, written);
}

int TPCACustom::Read(void* buffer, uint32_t count, uint32_t timeoutMs, TOverlapped* block,
                     uint32_t& readCount) {
    return BaseRead(buffer, count, timeoutMs, block, readCount);
}

int TPCACustom::CheckDevice() {
    return pcaNoDevice;
}

int TPCACustom::ConnectEx(int event, int32_t* errorRef) {
    if (event == 0 || event == -1) {
        int r = Connect();
        if (errorRef) *errorRef = lastError_;
        return r;
    }
    connectEvent_ = event;
    connectErrorRef_ = errorRef;
    if (errorRef) *errorRef = pcaNotImplemented;
    return -1;
}

TOverlapped* TPCACustom::OwnBlock(std::unique_ptr<TOverlapped>& block) {
    if (!block) block = std::make_unique<TOverlapped>();
    return block->Valid() ? block.get() : nullptr;
}

int TPCACustom::BaseRead(void* buffer, uint32_t count, uint32_t timeoutMs, TOverlapped* block,
                         uint32_t& readCount) {
    readCount = 0;
    lastError_ = pcaOk;
    TOverlapped* b = block ? block : OwnBlock(readBlock_);
    if (!b || !b->StartRead(handle_, buffer, count, ReadIntervalMs())) {
        lastError_ = pcaConnectionLost;
        return -1;
    }
    if (block) return 0; // the caller drives the transfer and collects its count
    if (!b->Wait(timeoutMs == Infinite ? -1 : int(std::min<uint32_t>(timeoutMs, INT32_MAX)),
                 abortFd_)) {
        readCount = 0;
        CancelIO();
        b->Cancel(); // whatever the kind's CancelIO did, this transfer is over
        b->ResetEvent();
        lastError_ = pcaReadError;
        return -1;
    }
    b->ResetEvent();
    uint32_t n = 0;
    if (!b->GetResult(n)) {
        readCount = 0;
        lastError_ = pcaReadError;
        return -1;
    }
    if (n == 0) { // the peer closed the connection
        lastError_ = pcaServerNotFound;
        return -1;
    }
    readCount = n;
    return 0;
}

int TPCACustom::BaseWrite(const void* buffer, uint32_t count, TOverlapped* block,
                          uint32_t& written) {
    written = 0;
    lastError_ = pcaOk;
    TOverlapped* b = block ? block : OwnBlock(writeBlock_);
    if (!b || !b->StartWrite(handle_, buffer, count, WriteDeadlineMs(count))) {
        lastError_ = pcaConnectionLost;
        return -1;
    }
    if (block) return 0;
    if (!b->Wait(SyncWriteWaitMs, abortFd_)) {
        written = 0;
        lastError_ = pcaWriteError;
        CancelIO();
        b->Cancel();
        b->ResetEvent();
        return -1;
    }
    b->ResetEvent();
    uint32_t n = 0;
    if (!b->GetResult(n)) {
        written = 0;
        lastError_ = pcaWriteError;
        return -1;
    }
    written = n;
    return 0;
}

void TPCACustom::CancelOwnTransfers() {
    for (auto* b : {readBlock_.get(), writeBlock_.get()})
        if (b) b->Cancel();
}

bool TPCACustom::RealPauses() const {
    const auto* f = sleeper_.target<void (*)(uint32_t)>();
    return f && *f == &RealSleep;
}

void TPCACustom::Sleep(uint32_t ms) const {
    if (!sleeper_) return;
    if (!RealPauses() || abortFd_ < 0) {
        sleeper_(ms);
        return;
    }
    if (abort_) return;
    pollfd p{abortFd_, POLLIN, 0};
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              end - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) return;
        const int r = poll(&p, 1, int(left));
        if (r > 0 || (r < 0 && errno != EINTR)) return;
    }
}

std::unique_ptr<TPCACustom> CreatePCA(const TPCAParams& params) {
    switch (params.Kind()) {
    case TPCAParams::KindComPort:
        return std::make_unique<TPCAComPort>(params);
    case TPCAParams::KindTCP:
        return std::make_unique<TPCAEthernetTCP>(params);
    default:
        return nullptr;
    }
}

} // namespace qz

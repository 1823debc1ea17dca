#include "protocol/CustomProtocol.h"

#include "channel/LCAType.h"

#include <chrono>
#include <cstring>
#include <mutex>

namespace qz {

namespace {
std::mutex gPumpMutex;
std::function<void()> gPump;
} // namespace

void SetProtocolMessagePump(std::function<void()> pump) {
    std::lock_guard<std::mutex> lock(gPumpMutex);
    gPump = std::move(pump);
}

std::string ProtocolErrorText(int32_t code) {
    switch (code) {
    case prtErrNoAnswer:
        return "Нет ответа от устройства.";
    case prtErrCRC:
        return "CRC не совпало.";
    case prtErrNoChannel:
        return "Канал доступа к устройству не создан.";
    case prtErrBadData:
        return "Получены некорректные данные.";
    case prtErrInterrupted:
        return "Выполнение прервано пользователем.";
    case prtErrNoRequest:
        return "Неверный адрес памяти.";
    default:
        return LCAErrorText(code);
    }
}

TCustomProtocol::TCustomProtocol(const TLCAParams& lineParams, bool processMessages,
                                 uint16_t attemptCount)
    : FAttemptCount(attemptCount), FProcessMessages(processMessages) {
    OpenChannel(lineParams);
}

TCustomProtocol::~TCustomProtocol() {
    FChannel.reset();
    if (OwnsCommand) delete FCommand;
}

void TCustomProtocol::OpenChannel(const TLCAParams& lineParams) {
    auto channel = std::make_unique<TLCAObject>(lineParams);
    FMaxAttemptCountOnConnect = lineParams.MaxAttemptCountOnConnect;
    if (!channel->IsValid()) {
        LastError = channel->GetLastError();
        FMaxAttemptCountOnConnect = 0;
        return;
    }
    FChannel = std::move(channel);
}

void TCustomProtocol::SetCommand(TCommand* command) {
    if (command == FCommand) return;
    if (OwnsCommand) delete FCommand;
    FCommand = command;
}

int32_t TCustomProtocol::GetLastError() const {
    if (FChannel) {
        const int32_t code = FChannel->GetLastError();
        if (code != 0) return code;
    }
    return LastError;
}

std::string TCustomProtocol::GetErrorText() const {
    return ProtocolErrorText(GetLastError());
}

void TCustomProtocol::ServiceMessages() const {
    if (!FProcessMessages) return;
    std::function<void()> pump;
    {
        std::lock_guard<std::mutex> lock(gPumpMutex);
        pump = gPump;
    }
    if (pump) pump();
}

TLinkStatistics TCustomProtocol::LinkStatistics() const {
    TLinkStatistics s;
    {
        std::lock_guard<std::mutex> lock(FStatsMutex);
        s = FStats;
    }
    // The worker keeps the line's count; asked outside our lock, since it is a worker request.
    uint32_t reconnections = 0;
    if (FChannel && FChannel->GetReconnectCount(reconnections) == 0)
        s.Reconnections = reconnections;
    return s;
}

bool TCustomProtocol::CheckAnswerHeader(const uint8_t* buffer, size_t count, size_t& remaining) {
    remaining = 0;
    return FCommand && FCommand->CheckAnswerHeader(buffer, count);
}

bool TCustomProtocol::Execute() {
    try {
        return RunAttempts();
    } catch (...) {
        // An allocation failure leaves Execute, but the line must not stay held for us.
        if (FChannel) FChannel->ReleaseLock();
        throw;
    }
}

bool TCustomProtocol::RunAttempts() {
    LastError = 0;
    bool result = false;
    for (uint16_t i = 0; FChannel && i < FAttemptCount.load(); ++i) {
        if (i > 0) {
            std::lock_guard<std::mutex> lock(FStatsMutex);
            ++FStats.Repeats;
        }
        if (SendRequest()) {
            ServiceMessages();
            if (!ReceiveAnswer()) {
                if (FChannel) FChannel->ReleaseLock();
            } else {
                ServiceMessages();
                // An answer that arrived is never asked for again, whatever its checks say.
                if (!CheckAnswerCRC()) {
                    LastError = prtErrCRC;
                    std::lock_guard<std::mutex> lock(FStatsMutex);
                    ++FStats.CheckErrors;
                } else if (!FCommand->CheckAnswer()) {
                    LastError = prtErrBadData;
                } else {
                    LastError = 0;
                    result = true;
                }
                if (FChannel) FChannel->ReleaseLock();
                break;
            }
        }
        ServiceMessages();
    }
    if (!FChannel) LastError = prtErrNoChannel;
    return result;
}

bool TCustomProtocol::SendRequest() {
    size_t size = 0;
    TBufferPtr request = FCommand ? FCommand->BuildRequest(size) : nullptr;
    if (!request) {
        LastError = prtErrNoRequest;
        return false;
    }
    uint32_t done = 0;
    FRequestStart = std::chrono::steady_clock::now();
    const int32_t rc =
        FChannel->Write(request.get(), static_cast<uint32_t>(size), done, nullptr, 500);
    std::lock_guard<std::mutex> lock(FStatsMutex);
    FStats.BytesSent += done;
    if (rc == 0) ++FStats.Requests;
    if (rc == prtErrNoAnswer) ++FStats.Timeouts;
    return rc == 0;
}

bool TCustomProtocol::ReceiveAnswer() {
    if (!FCommand) return false;
    TBufferPtr buffer = AllocBuffer(HeaderSize);
    size_t have = 0;
    size_t want = HeaderSize;
    for (;;) {
        uint32_t got = 0;
        const int32_t rc =
            FChannel ? FChannel->Read(buffer.get() + have, static_cast<uint32_t>(want), got,
                                      nullptr, static_cast<uint32_t>(FCommand->Timeout))
                     : prtErrNoChannel;
        if (rc != 0) {
            if (rc == prtErrNoAnswer) {
                std::lock_guard<std::mutex> lock(FStatsMutex);
                ++FStats.Timeouts;
            }
            return false;
        }
        if (got > want) got = static_cast<uint32_t>(want); // never trust a count past the ask
        have += got;
        {
            std::lock_guard<std::mutex> lock(FStatsMutex);
            FStats.BytesReceived += got;
        }
        if (got < want) {
            want -= got;
            continue;
        }
        size_t remaining = 0;
        const bool match = CheckAnswerHeader(buffer.get(), have, remaining);
        if (match && remaining == 0) {
            FCommand->SetAnswer(buffer.get(), have);
            const auto took = std::chrono::steady_clock::now() - FRequestStart;
            std::lock_guard<std::mutex> lock(FStatsMutex);
            ++FStats.Answers;
            FStats.LastRoundTripMs =
                std::chrono::duration_cast<std::chrono::milliseconds>(took).count();
            return true;
        }
        if (match && have + remaining <= kMaxFrameSize) {
            TBufferPtr grown = AllocBuffer(have + remaining);
            std::memcpy(grown.get(), buffer.get(), have);
            buffer = std::move(grown);
            want = remaining;
            continue;
        }
        // No header here (or one announcing more than a frame can hold): slide by one byte.
        std::memmove(buffer.get(), buffer.get() + 1, have - 1);
        have -= 1;
        want = 1;
    }
}

} // namespace qz
